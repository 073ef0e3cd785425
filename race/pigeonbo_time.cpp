#include "race/pigeonbo.h"

#include "core/utc.h"

// Time verification and the club-time lock. Only the reading of the lock is
// in place; loading the mode, the hourly checks and network time follow with
// the modem service.

namespace {
constexpr quint8 kClubTimeLocked = 0x02;
}

qint64 PigeonBo::getLoftTime()
{
    return (timeMode.load() & kClubTimeLocked) ? UTC::clubTime().value() : UTC::now().value();
}

void PigeonBo::loadTimeMode() {}

void PigeonBo::unlockClubTime() {}

void PigeonBo::verifyTimeout() {}

void PigeonBo::onTime(GSMService *, qint64, int) {}
