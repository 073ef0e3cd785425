#pragma once

#include <QPointer>

class SubWindow;

// Marks a screen busy for the length of a print, a club call or a modem
// call. While a screen on the stack is busy the main window refuses Home,
// Back and Escape and Return does not close the message box, so the call's
// answer never reaches a screen that has gone. Ends on every path: at
// release() or when the hold is destroyed. For an answer that arrives
// later, keep the hold in a std::unique_ptr member and reset it on the
// answer, the error and the bound. GUI thread only.
class BusyHold
{
public:
    explicit BusyHold(SubWindow *busyScreen);
    ~BusyHold();
    BusyHold(const BusyHold &) = delete;
    BusyHold &operator=(const BusyHold &) = delete;
    BusyHold(BusyHold &&other) noexcept;
    BusyHold &operator=(BusyHold &&other) noexcept;

    // Ends the hold early; a second call does nothing.
    void release();
    bool isHeld() const;

private:
    QPointer<SubWindow> screen;
};
