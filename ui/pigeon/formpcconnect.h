#pragma once

#include "ui/subwindow.h"

// The PC link, from which an unset clock is set up. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormPcConnect : public SubWindow
{
    Q_OBJECT
public:
    explicit FormPcConnect(QWidget *parent);
    ~FormPcConnect() override;
};
