#pragma once

#include <QtGlobal>

// The pauses and elapsed-time counts of the modem and GPS code. In the program
// it is the board's sleep and the monotonic tick; a test gives a virtual or
// scaled clock so that a 30 s modem time-out costs no real time. Used only by
// the thread that owns the modem.
class GsmClock
{
public:
    virtual ~GsmClock();

    virtual void wait(int ms);
    virtual qint64 tickMs();

    // The program's clock: HardwareControl::wait and the monotonic tick.
    static GsmClock *system();
};
