#include "ui/marking/formnomination.h"

#include "ui/plainpage.h"

FormNomination::FormNomination(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Nomination"));
}

FormNomination::~FormNomination() = default;
