#pragma once

#include <QtGlobal>

#include <atomic>

// The schedule of one of the modem thread's turns into the race engine (SMS
// or uploads): when the turn is next due after a result, and how many error
// results came without a success in between. Results: 0 something was sent
// (due again at once), 1 nothing to send, 2 a send failed, anything else an
// error that counts. Due times are on the monotonic tick. The due time may be
// set from any thread; the rest is the modem thread's.
class GsmTurn
{
public:
    GsmTurn(int idleMs, int retryMs);

    void setDelays(int idleMs, int retryMs);
    bool isReady(qint64 nowMs) const;
    void setInterval(qint64 nowMs, unsigned int ms);
    // Schedules the next turn after result; true when it counted as an error.
    bool take(int result, qint64 nowMs);
    int errors() const { return errorCount; }
    void resetErrors() { errorCount = 0; }
    qint64 dueMs() const { return due; }

private:
    int idleMs;
    int retryMs;
    std::atomic<qint64> due{0};
    int errorCount = 0;
};
