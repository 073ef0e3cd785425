#include "ui/pigeon/formlistassignment.h"

#include "ui/plainpage.h"

FormListAssignment::FormListAssignment(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Assigned Rings"));
}

FormListAssignment::~FormListAssignment() = default;
