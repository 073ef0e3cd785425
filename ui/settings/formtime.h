#pragma once

#include "ui/subwindow.h"

// Time and time zone. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormTime : public SubWindow
{
    Q_OBJECT
public:
    explicit FormTime(QWidget *parent);
    ~FormTime() override;
};
