#pragma once

#include "ui/subwindow.h"

class QLabel;

// The display test: full-screen colour fields and gradients, a new one at
// each press anywhere on the screen, in a ring of five starting with solid
// red. Left with Back or Home only. Sets its widgets up itself. GUI thread
// only.
class FormLcdTest : public SubWindow
{
    Q_OBJECT
public:
    explicit FormLcdTest(QWidget *parent);
    ~FormLcdTest() override;

    void onActive() override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void onClick();

    int step() const;

private:
    void applyStep();

    QWidget *frameWidget = nullptr;
    QLabel *label = nullptr;
    QLabel *label_2 = nullptr;
    int colourStep = 0;
};
