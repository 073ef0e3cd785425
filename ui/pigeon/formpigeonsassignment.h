#pragma once

#include "ui/subwindow.h"

// Ring assignment by the club reader. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormPigeonsAssignment : public SubWindow
{
    Q_OBJECT
public:
    explicit FormPigeonsAssignment(QWidget *parent);
    ~FormPigeonsAssignment() override;
};
