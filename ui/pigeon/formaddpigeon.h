#pragma once

#include "ui/subwindow.h"

// The form that adds or edits a pigeon. A screen of the stack, built once by the
// main window, shown as a plain page with its title.
class FormAddPigeon : public SubWindow
{
    Q_OBJECT
public:
    explicit FormAddPigeon(QWidget *parent);
    ~FormAddPigeon() override;
};
