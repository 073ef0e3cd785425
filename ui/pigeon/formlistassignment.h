#pragma once

#include "ui/subwindow.h"

// The list of assigned rings and its print. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormListAssignment : public SubWindow
{
    Q_OBJECT
public:
    explicit FormListAssignment(QWidget *parent);
    ~FormListAssignment() override;
};
