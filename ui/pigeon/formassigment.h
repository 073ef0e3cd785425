#pragma once

#include "ui/subwindow.h"

// Ring assignment by the loft antenna. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormAssigment : public SubWindow
{
    Q_OBJECT
public:
    explicit FormAssigment(QWidget *parent);
    ~FormAssigment() override;
};
