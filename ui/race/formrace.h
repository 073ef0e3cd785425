#pragma once

#include "ui/subwindow.h"

// The race list. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormRace : public SubWindow
{
    Q_OBJECT
public:
    explicit FormRace(QWidget *parent);
    ~FormRace() override;

    // Opens the list with its Add button (the club hub's race manager).
    void doRaceActions();
    // Opens the list without Add.
    void showRaceList();
};
