#include "core/wakeup.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

void WakeUp::ring()
{
    QMutexLocker lock(&mutex);
    rung = true;
    condition.wakeAll();
}

bool WakeUp::sleepFor(qint64 ms)
{
    QMutexLocker lock(&mutex);
    if (ms > 0) {
        // Spurious wake-ups go back to sleep until the same deadline.
        const QDeadlineTimer deadline(ms);
        while (!rung && !deadline.hasExpired())
            condition.wait(&mutex, deadline);
    }
    const bool wasRung = rung;
    rung = false;
    return wasRung;
}
