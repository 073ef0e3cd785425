#include "ui/settings/formtest.h"

#include "ui/plainpage.h"

FormTest::FormTest(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("System Test"));
}

FormTest::~FormTest() = default;
