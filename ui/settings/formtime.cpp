#include "ui/settings/formtime.h"

#include "ui/plainpage.h"

FormTime::FormTime(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Time"));
}

FormTime::~FormTime() = default;
