#pragma once

#include <QMutex>
#include <QWaitCondition>

// What a service thread sleeps on while it has nothing to do: other threads
// ring it when they hand it work (a queued command, a mode request, an exit
// request) and the sleep ends at once. A ring that comes while the thread is
// still busy is kept for its next sleep, so work queued just as the thread
// goes to sleep is never left waiting out the bound. One sleeper, any number
// of ringers; every sleep has a bound.
class WakeUp
{
public:
    // Any thread: ends the sleep in progress, or else the next one.
    void ring();
    // The owner thread: sleeps until rung or until ms have passed; true when
    // rung. A ring kept from before ends the sleep at once; ms <= 0 only
    // takes such a ring.
    bool sleepFor(qint64 ms);

private:
    QMutex mutex;
    QWaitCondition condition;
    bool rung = false; // guarded by mutex
};
