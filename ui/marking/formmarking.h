#pragma once

#include "ui/subwindow.h"

// Basketing: reading and marking the pigeons of a race at the club. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormMarking : public SubWindow
{
    Q_OBJECT
public:
    explicit FormMarking(QWidget *parent);
    ~FormMarking() override;
};
