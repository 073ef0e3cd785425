#pragma once

#include <QWidget>

class QKeyEvent;

// The base of every screen: a 480 x 700 page under the status bar, shown and
// hidden only through the screen stack of BaseWindow, which calls the hooks
// below in a fixed order. GUI thread only.
class SubWindow : public QWidget
{
    Q_OBJECT
public:
    enum _DeactiveMode { DeactiveDisable = 0, DeactiveHide = 1 };

    explicit SubWindow(QWidget *parent);
    ~SubWindow() override;

    // True from the opening by pushSubForm until the closing; also while
    // another screen covers this one.
    bool isActive() const;
    // True while a BusyHold on this screen exists.
    bool isBusy() const;

    // The stack's mechanics; screens do not override these three.
    virtual void active();
    virtual void deactive(_DeactiveMode mode);
    virtual void setFocus(bool focus);
    using QWidget::setFocus;

    virtual bool canClose();
    virtual void onTimeTick(int ms);
    virtual bool hasSubWidget();
    virtual void deactiveSub();
    virtual bool doKeyPress(QKeyEvent *e);
    virtual void onFocus(bool focus);
    virtual void onActive();
    virtual void onDeactive(_DeactiveMode mode);

private:
    friend class BusyHold;
    bool activeState = false;
    int busyHolds = 0;
};
