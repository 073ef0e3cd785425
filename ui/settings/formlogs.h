#pragma once

#include "ui/subwindow.h"

// The event log. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormLogs : public SubWindow
{
    Q_OBJECT
public:
    explicit FormLogs(QWidget *parent);
    ~FormLogs() override;
};
