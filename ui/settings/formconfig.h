#pragma once

#include "ui/subwindow.h"

// The feature flags of the clock. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormConfig : public SubWindow
{
    Q_OBJECT
public:
    explicit FormConfig(QWidget *parent);
    ~FormConfig() override;
};
