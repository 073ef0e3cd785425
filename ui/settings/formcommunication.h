#pragma once

#include "ui/subwindow.h"

// The communication settings. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormCommunication : public SubWindow
{
    Q_OBJECT
public:
    explicit FormCommunication(QWidget *parent);
    ~FormCommunication() override;
};
