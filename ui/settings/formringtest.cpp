#include "ui/settings/formringtest.h"

#include "ui/plainpage.h"

FormRingTest::FormRingTest(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Ring Test"));
}

FormRingTest::~FormRingTest() = default;
