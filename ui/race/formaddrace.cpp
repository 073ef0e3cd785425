#include "ui/race/formaddrace.h"

#include "ui/plainpage.h"

FormAddRace::FormAddRace(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("New Race"));
}

FormAddRace::~FormAddRace() = default;
