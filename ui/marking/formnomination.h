#pragma once

#include "ui/subwindow.h"

// The nomination order of the pigeons of a race. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormNomination : public SubWindow
{
    Q_OBJECT
public:
    explicit FormNomination(QWidget *parent);
    ~FormNomination() override;
};
