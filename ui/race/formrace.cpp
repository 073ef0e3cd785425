#include "ui/race/formrace.h"

#include "ui/mainwindow.h"
#include "ui/plainpage.h"

FormRace::FormRace(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Races"));
}

FormRace::~FormRace() = default;

void FormRace::doRaceActions()
{
    MainWindow::instance()->pushSubForm(this);
}

void FormRace::showRaceList()
{
    MainWindow::instance()->pushSubForm(this);
}
