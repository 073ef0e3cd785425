#pragma once

#include "ui/subwindow.h"

// The detail of one race: arrivals, stop, print, upload and delete. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormRaceDetail : public SubWindow
{
    Q_OBJECT
public:
    explicit FormRaceDetail(QWidget *parent);
    ~FormRaceDetail() override;
};
