#pragma once

#include "ui/subwindow.h"

// The loft and member data. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormMember : public SubWindow
{
    Q_OBJECT
public:
    explicit FormMember(QWidget *parent);
    ~FormMember() override;
};
