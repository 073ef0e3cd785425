#include "ui/pigeon/formpigeonsassignment.h"

#include "ui/plainpage.h"

FormPigeonsAssignment::FormPigeonsAssignment(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Club Ring Assignment"));
}

FormPigeonsAssignment::~FormPigeonsAssignment() = default;
