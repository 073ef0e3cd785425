#include "ui/settings/formsmstest.h"

#include "ui/plainpage.h"

FormSmsTest::FormSmsTest(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("SMS Test"));
}

FormSmsTest::~FormSmsTest() = default;
