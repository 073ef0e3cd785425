#include "gsm/gsmtiming.h"

#include <QtGlobal>

namespace {
int shorten(int ms, int divisor)
{
    return qMax(1, ms / divisor);
}
} // namespace

GsmTiming GsmTiming::scaled(int divisor) const
{
    const int d = qMax(1, divisor);
    GsmTiming t;
    t.usbWaitMs = shorten(usbWaitMs, d);
    t.nodeWaitMs = shorten(nodeWaitMs, d);
    t.settleMs = shorten(settleMs, d);
    t.cyclePauseMs = shorten(cyclePauseMs, d);
    t.regIntervalMs = shorten(regIntervalMs, d);
    t.offlineLimitMs = shorten(offlineLimitMs, d);
    t.netTimeIntervalMs = shorten(netTimeIntervalMs, d);
    t.cellTimeRetryMs = shorten(cellTimeRetryMs, d);
    t.netTimeRetryMs = shorten(netTimeRetryMs, d);
    t.gpsIntervalMs = shorten(gpsIntervalMs, d);
    t.smsIdleMs = shorten(smsIdleMs, d);
    t.smsRetryMs = shorten(smsRetryMs, d);
    t.gprsIdleMs = shorten(gprsIdleMs, d);
    t.gprsRetryMs = shorten(gprsRetryMs, d);
    t.activationRetryMs = shorten(activationRetryMs, d);
    t.watchdogMs = shorten(watchdogMs, d);
    t.backoffCapMs = shorten(backoffCapMs, d);
    return t;
}
