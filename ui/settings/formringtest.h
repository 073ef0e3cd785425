#pragma once

#include "ui/subwindow.h"

// The ring-reading test. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormRingTest : public SubWindow
{
    Q_OBJECT
public:
    explicit FormRingTest(QWidget *parent);
    ~FormRingTest() override;
};
