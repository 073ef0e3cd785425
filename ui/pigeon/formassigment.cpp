#include "ui/pigeon/formassigment.h"

#include "ui/plainpage.h"

FormAssigment::FormAssigment(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Ring Assignment"));
}

FormAssigment::~FormAssigment() = default;
