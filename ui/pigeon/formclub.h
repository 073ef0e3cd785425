#pragma once

#include "ui/subwindow.h"

#include <memory>

// A notice that no club system is connected. Nothing in the clock builds it:
// the club-system hub shows its own text. Sets its widgets up itself.
class FormClub : public SubWindow
{
    Q_OBJECT
public:
    explicit FormClub(QWidget *parent);
    ~FormClub() override;

private:
    struct Widgets;
    std::unique_ptr<Widgets> ui;
};
