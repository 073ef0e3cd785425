#pragma once

#include "gsm/gsmclock.h"

#include <QElapsedTimer>

#include <functional>

// A clock for the modem code that costs no real time: wait() moves virtual
// time on and lets the test act at that moment (release scripted answers,
// request exit). Single-threaded.
class VirtualClock : public GsmClock
{
public:
    void wait(int ms) override;
    qint64 tickMs() override { return nowMs; }

    qint64 now() const { return nowMs; }
    // Time passing outside the code's own waits (reading a byte flood takes time).
    void advance(int ms) { nowMs += ms; }
    // Called after every step with the new virtual time.
    std::function<void(qint64)> onAdvance;

private:
    qint64 nowMs = 0;
};

// Real time run faster: wait(ms) sleeps ms / factor, and the tick counts
// real elapsed time times factor. For peer tests whose waits run out.
class ScaledClock : public GsmClock
{
public:
    explicit ScaledClock(int factor);
    void wait(int ms) override;
    qint64 tickMs() override;
    void setFactor(int factor);

private:
    QElapsedTimer timer;
    qint64 baseMs = 0;
    int factor = 1;
};
