#pragma once

#include "ui/subwindow.h"

// The new-race form. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormAddRace : public SubWindow
{
    Q_OBJECT
public:
    explicit FormAddRace(QWidget *parent);
    ~FormAddRace() override;
};
