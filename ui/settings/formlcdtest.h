#pragma once

#include "ui/subwindow.h"

// The display test. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormLcdTest : public SubWindow
{
    Q_OBJECT
public:
    explicit FormLcdTest(QWidget *parent);
    ~FormLcdTest() override;
};
