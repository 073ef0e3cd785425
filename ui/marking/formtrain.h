#pragma once

#include "ui/subwindow.h"

// The training arrivals. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormTrain : public SubWindow
{
    Q_OBJECT
public:
    explicit FormTrain(QWidget *parent);
    ~FormTrain() override;
};
