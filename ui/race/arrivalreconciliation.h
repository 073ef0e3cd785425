#pragma once

#include <QtGlobal>

// The loft arrival time of a race put on the club system's time line. The
// clock and the club system agreed at basketing (the sync pair); at arrival
// the club system's time is read again, and when the clock kept time with it
// since basketing, the loft arrival time is the basketing loft time plus the
// club time that passed: within 1999 ms with the random term added, within
// the tolerance (4 s plus 1 s for every six hours of club time, at most 28 s)
// with a fixed 1900 ms. Beyond the tolerance the clock's own club time stands.
// Plain values only, so that any thread and the tests can call it.
struct ArrivalSync
{
    qint64 clockNow = 0;       // the clock's own club time now
    qint64 clubNow = 0;        // the club system's time read now
    qint64 markDeviceTime = 0; // the basketing pair: loft time ...
    qint64 markReaderTime = 0; // ... and club time at that moment
};

// The random term's range: 0 to kArrivalRandomSpanMs - 1.
constexpr int kArrivalRandomSpanMs = 200;

// The loft arrival time (raceStopDeviceTime) for the given times; randomMs is
// the random term of the close band. Sums that do not fit in 64 bits leave
// the clock's own club time standing.
qint64 reconcileArrival(const ArrivalSync &sync, int randomMs);
