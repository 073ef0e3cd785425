#include "ui/marking/formmarking.h"

#include "ui/plainpage.h"

FormMarking::FormMarking(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Basketing"));
}

FormMarking::~FormMarking() = default;
