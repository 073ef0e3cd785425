#include "ui/pigeon/formpigeonlist.h"

#include "ui/mainwindow.h"
#include "ui/plainpage.h"

namespace {
constexpr int kUserMode = 1;
}

FormPigeonList::FormPigeonList(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Pigeon Manager"));
}

FormPigeonList::~FormPigeonList() = default;

void FormPigeonList::doUserActions()
{
    mode = kUserMode;
    raceCode.clear();
    MainWindow::instance()->pushSubForm(this);
}

void FormPigeonList::showMarking(const QString &code)
{
    // The race modes and their buttons come with the list itself.
    raceCode = code;
    MainWindow::instance()->pushSubForm(this);
}
