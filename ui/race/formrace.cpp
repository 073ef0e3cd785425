#include "ui/race/formrace.h"

#include "ui/plainpage.h"

FormRace::FormRace(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Races"));
}

FormRace::~FormRace() = default;
