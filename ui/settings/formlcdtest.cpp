#include "ui/settings/formlcdtest.h"

#include "ui/plainpage.h"

FormLcdTest::FormLcdTest(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Screen Test"));
}

FormLcdTest::~FormLcdTest() = default;
