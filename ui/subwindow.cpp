#include "ui/subwindow.h"

#include "core/servicefactory.h"
#include "ui/waitcursor.h"

#include <QCoreApplication>

namespace {
constexpr int kScreenTop = 40;
constexpr int kScreenWidth = 480;
constexpr int kScreenHeight = 700;
}

SubWindow::SubWindow(QWidget *parent)
    : QWidget(parent)
{
    hide();
    setGeometry(0, kScreenTop, kScreenWidth, kScreenHeight);
}

SubWindow::~SubWindow()
{
    if (busyHolds > 0)
        ServiceFactory::debug(QStringLiteral("SubWindow: %1 destroyed while busy").arg(objectName()));
}

bool SubWindow::isActive() const
{
    return activeState;
}

bool SubWindow::isBusy() const
{
    return busyHolds > 0;
}

void SubWindow::active()
{
    WaitCursor wait;
    // Let the screen underneath finish painting before a possibly long
    // onActive, but keep taps out: a bounced tap must not open another
    // screen in the middle of this push. It is delivered afterwards.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!activeState) {
        onActive();
        activeState = true;
    }
}

void SubWindow::deactive(_DeactiveMode mode)
{
    if (activeState) {
        onDeactive(mode);
        activeState = false;
    }
    if (mode == DeactiveHide)
        hide();
    else if (mode == DeactiveDisable)
        setEnabled(false);
}

void SubWindow::setFocus(bool focus)
{
    if (focus) {
        show();
        setEnabled(true);
        raise();
        QWidget::setFocus(Qt::OtherFocusReason);
    } else {
        setEnabled(false);
    }
    onFocus(focus);
}

bool SubWindow::canClose() { return true; }
void SubWindow::onTimeTick(int) {}
bool SubWindow::hasSubWidget() { return false; }
void SubWindow::deactiveSub() {}
bool SubWindow::doKeyPress(QKeyEvent *) { return false; }
void SubWindow::onFocus(bool) {}
void SubWindow::onActive() {}
void SubWindow::onDeactive(_DeactiveMode) {}
