#pragma once

#include "ui/subwindow.h"

// The service and test menu. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormTest : public SubWindow
{
    Q_OBJECT
public:
    explicit FormTest(QWidget *parent);
    ~FormTest() override;
};
