#include "gsm/gsmturn.h"

GsmTurn::GsmTurn(int idle, int retry)
    : idleMs(idle)
    , retryMs(retry)
{
}

void GsmTurn::setDelays(int idle, int retry)
{
    idleMs = idle;
    retryMs = retry;
}

bool GsmTurn::isReady(qint64 nowMs) const
{
    return nowMs >= due;
}

void GsmTurn::setInterval(qint64 nowMs, unsigned int ms)
{
    due = nowMs + qint64(ms);
}

bool GsmTurn::take(int result, qint64 nowMs)
{
    switch (result) {
    case 0:
        setInterval(nowMs, 0);
        errorCount = 0;
        return false;
    case 1:
        setInterval(nowMs, unsigned(idleMs));
        return false;
    case 2:
        setInterval(nowMs, unsigned(retryMs));
        return false;
    default:
        setInterval(nowMs, unsigned(retryMs));
        ++errorCount;
        return true;
    }
}
