#include "ui/busyhold.h"

#include "ui/subwindow.h"

#include <utility>

BusyHold::BusyHold(SubWindow *busyScreen)
    : screen(busyScreen)
{
    if (busyScreen)
        ++busyScreen->busyHolds;
}

BusyHold::~BusyHold()
{
    release();
}

BusyHold::BusyHold(BusyHold &&other) noexcept
    : screen(std::exchange(other.screen, nullptr))
{
}

BusyHold &BusyHold::operator=(BusyHold &&other) noexcept
{
    if (this != &other) {
        release();
        screen = std::exchange(other.screen, nullptr);
    }
    return *this;
}

void BusyHold::release()
{
    // A screen that went first took its count with it.
    if (screen)
        --screen->busyHolds;
    screen = nullptr;
}

bool BusyHold::isHeld() const
{
    return !screen.isNull();
}
