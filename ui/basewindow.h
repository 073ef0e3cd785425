#pragma once

#include "ui/subwindow.h"

#include <QList>
#include <QMainWindow>

class QKeyEvent;

// The screen stack, base of the main window: the top screen is shown,
// enabled and focused; the screens under it stay visible but disabled; an
// empty stack leaves the main menu showing. The message box takes priority
// over every screen. The stack does not own its screens. GUI thread only.
class BaseWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit BaseWindow(QWidget *parent = nullptr);
    ~BaseWindow() override;

    void pushSubForm(SubWindow *w);
    SubWindow *popSubForm(SubWindow::_DeactiveMode mode);
    void resetSubForms();
    SubWindow *topSubForm() const;
    int subFormCount() const;
    // True while a screen on the stack holds a busy hold: user navigation
    // must not pull it from under its running call.
    bool isStackBusy() const;

    virtual bool doKeyPress(QKeyEvent *e) = 0;

private:
    QList<SubWindow *> subForms;
};
