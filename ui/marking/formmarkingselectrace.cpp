#include "ui/marking/formmarkingselectrace.h"

#include "ui/plainpage.h"

FormMarkingSelectRace::FormMarkingSelectRace(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Select Race"));
}

FormMarkingSelectRace::~FormMarkingSelectRace() = default;
