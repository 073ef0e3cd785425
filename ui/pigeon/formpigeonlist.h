#pragma once

#include "ui/subwindow.h"

#include <QString>

// The pigeon list. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormPigeonList : public SubWindow
{
    Q_OBJECT
public:
    explicit FormPigeonList(QWidget *parent);
    ~FormPigeonList() override;

    // Opens the list in user mode with no race filter.
    void doUserActions();
    // Opens the list of the pigeons basketed for the race.
    void showMarking(const QString &raceCode);

private:
    int mode = 0;
    QString raceCode;
};
