#pragma once

#include "ui/subwindow.h"

// The SMS test. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormSmsTest : public SubWindow
{
    Q_OBJECT
public:
    explicit FormSmsTest(QWidget *parent);
    ~FormSmsTest() override;
};
