#pragma once

#include "ui/subwindow.h"

// The club-system hub. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormMorlanConnect : public SubWindow
{
    Q_OBJECT
public:
    explicit FormMorlanConnect(QWidget *parent);
    ~FormMorlanConnect() override;
};
