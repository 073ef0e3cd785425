#pragma once

#include "ui/subwindow.h"

// The system information. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormSystem : public SubWindow
{
    Q_OBJECT
public:
    explicit FormSystem(QWidget *parent);
    ~FormSystem() override;
};
