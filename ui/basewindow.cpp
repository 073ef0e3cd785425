#include "ui/basewindow.h"

#include "ui/formmessage.h"

BaseWindow::BaseWindow(QWidget *parent)
    : QMainWindow(parent)
{
}

BaseWindow::~BaseWindow() = default;

void BaseWindow::pushSubForm(SubWindow *w)
{
    // A screen stands on the stack at most once: a second push (a bounced
    // tap, a screen opening itself) would need two closings to get rid of it.
    if (!w || subForms.contains(w))
        return;
    SubWindow *below = topSubForm();
    if (below)
        below->setFocus(false);
    subForms.append(w);
    try {
        w->active();
    } catch (...) {
        // The screen never opened: take it off again and give the focus back
        // to the screen it was to cover, then let the caller report it.
        subForms.removeAll(w);
        if (below)
            below->setFocus(true);
        throw;
    }
    w->setFocus(true);
}

SubWindow *BaseWindow::popSubForm(SubWindow::_DeactiveMode mode)
{
    FormMessage *box = FormMessage::instance();
    // A progress box means the screen under it is inside a long action; its
    // lock stays set after Return hid it, until the next box.
    if (box->isLocked())
        return nullptr;
    if (box->isActived()) {
        box->deactive();
        return nullptr;
    }
    if (subForms.isEmpty()) {
        show();
        return nullptr;
    }
    SubWindow *top = subForms.last();
    if (top->hasSubWidget()) {
        top->deactiveSub();
        return nullptr;
    }
    if (!top->canClose())
        return nullptr;
    top->setFocus(false);
    top->deactive(mode);
    subForms.removeLast();
    if (subForms.isEmpty())
        return nullptr;
    subForms.last()->setFocus(true);
    return top;
}

void BaseWindow::resetSubForms()
{
    if (subForms.isEmpty())
        return;
    subForms.last()->setFocus(false);
    while (!subForms.isEmpty()) {
        SubWindow *top = subForms.takeLast();
        top->deactive(SubWindow::DeactiveHide);
    }
}

SubWindow *BaseWindow::topSubForm() const
{
    return subForms.isEmpty() ? nullptr : subForms.last();
}

int BaseWindow::subFormCount() const
{
    return subForms.size();
}

bool BaseWindow::isStackBusy() const
{
    for (const SubWindow *w : subForms) {
        if (w->isBusy())
            return true;
    }
    return false;
}
