#pragma once

#include "ui/subwindow.h"

// The start of a training flight. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormTrainStart : public SubWindow
{
    Q_OBJECT
public:
    explicit FormTrainStart(QWidget *parent);
    ~FormTrainStart() override;
};
