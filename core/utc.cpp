#include "core/utc.h"

#include "core/platform.h"

#include <atomic>

namespace {
std::atomic<qint64> timeBase{0};
std::atomic<int> zoneSec{0};
}

void UTC::init()
{
    timeBase = 0;
}

qint64 UTC::now()
{
    return Platform::systemClockMs() + timeBase.load();
}

void UTC::setTimeZone(int seconds)
{
    zoneSec = seconds;
}
