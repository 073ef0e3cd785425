#pragma once

#include "ui/subwindow.h"

// The detail of a race opened from the home screen. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormHomeRaceDetail : public SubWindow
{
    Q_OBJECT
public:
    explicit FormHomeRaceDetail(QWidget *parent);
    ~FormHomeRaceDetail() override;
};
