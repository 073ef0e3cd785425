#pragma once

#include "ui/subwindow.h"

// The choice of the race to basket for. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormMarkingSelectRace : public SubWindow
{
    Q_OBJECT
public:
    explicit FormMarkingSelectRace(QWidget *parent);
    ~FormMarkingSelectRace() override;
};
