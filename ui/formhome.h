#pragma once

#include "ui/subwindow.h"

// The home screen: the loft at a glance and the way into races, training and nominations. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormHome : public SubWindow
{
    Q_OBJECT
public:
    explicit FormHome(QWidget *parent);
    ~FormHome() override;
};
