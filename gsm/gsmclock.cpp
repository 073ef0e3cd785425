#include "gsm/gsmclock.h"

#include "core/servicefactory.h"
#include "device/hardware_control.h"

GsmClock::~GsmClock() = default;

void GsmClock::wait(int ms)
{
    HardwareControl::wait(ms);
}

qint64 GsmClock::tickMs()
{
    return ServiceFactory::getTickCount();
}

GsmClock *GsmClock::system()
{
    static GsmClock clock;
    return &clock;
}
