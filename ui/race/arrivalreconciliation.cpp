#include "ui/race/arrivalreconciliation.h"

namespace {
constexpr qint64 kCloseBandMs = 1999;
constexpr qint64 kToleranceBaseMs = 4000;
constexpr qint64 kToleranceMaxMs = 28000;
// One more millisecond of tolerance for every 21.6 s of club time: a second
// per six hours.
constexpr qint64 kClubMsPerToleranceMs = 21600;
constexpr qint64 kToleranceAddMs = 1900;
}

qint64 reconcileArrival(const ArrivalSync &sync, int randomMs)
{
    // Stored times come from anywhere (a PC may have written them): every
    // step is checked, and a step that cannot be computed counts as a clock
    // that did not keep time with the club system.
    qint64 clubElapsed = 0;
    qint64 clockElapsed = 0;
    qint64 drift = 0;
    if (__builtin_sub_overflow(sync.clubNow, sync.markReaderTime, &clubElapsed)
        || __builtin_sub_overflow(sync.clockNow, sync.markDeviceTime, &clockElapsed)
        || __builtin_sub_overflow(clockElapsed, clubElapsed, &drift))
        return sync.clockNow;

    qint64 added = 0;
    if (drift >= -kCloseBandMs && drift <= kCloseBandMs) {
        added = randomMs;
    } else {
        // Division truncates toward zero: a club clock behind its basketing
        // time lowers the tolerance, below zero beyond one day.
        const qint64 tolerance = qMin(clubElapsed / kClubMsPerToleranceMs + kToleranceBaseMs, kToleranceMaxMs);
        // |drift| > tolerance, written so that no value of drift overflows.
        if (drift > tolerance || drift < -tolerance)
            return sync.clockNow;
        added = kToleranceAddMs;
    }
    qint64 result = 0;
    if (__builtin_add_overflow(sync.markDeviceTime, clubElapsed, &result)
        || __builtin_add_overflow(result, added, &result))
        return sync.clockNow;
    return result;
}
