#include "gsmtestclock.h"

#include <QThread>

void VirtualClock::wait(int ms)
{
    nowMs += qMax(0, ms);
    if (onAdvance)
        onAdvance(nowMs);
}

ScaledClock::ScaledClock(int f)
    : factor(qMax(1, f))
{
    timer.start();
}

void ScaledClock::wait(int ms)
{
    if (ms > 0)
        QThread::usleep(qMax<qint64>(1, qint64(ms) * 1000 / factor));
}

qint64 ScaledClock::tickMs()
{
    return baseMs + timer.elapsed() * factor;
}

void ScaledClock::setFactor(int f)
{
    baseMs = tickMs();
    timer.restart();
    factor = qMax(1, f);
}
