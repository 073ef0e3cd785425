#include "race/pigeonbo.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/rfidservice.h"
#include "storage/storage.h"

#include <QMutexLocker>

// Time verification and the club-time lock. Every change of the mode is made
// under timeSaveMutex, then the engine's mutex, and its parameters are
// written before timeSaveMutex is released: two threads changing the mode
// therefore also store it in the order of their changes.

namespace {

constexpr quint8 kNetVerified = 0x01;
constexpr quint8 kClubTimeLocked = 0x02;
constexpr quint8 kClubOffset = 0x04;
// A network verification counts for less than an hour; the reader module's
// clock is asked at most once an hour.
constexpr qint64 kVerifyLifeMs = 3600000;
constexpr qint64 kModuleTimeIntervalMs = 3600000;
// Corrections up to this are applied but not worth a log entry.
constexpr qint64 kLoggedCorrectionMs = 2999;
// The ring-reader module that keeps a clock of its own.
constexpr unsigned short kClockModuleType = 0x4B31;
constexpr int kSourceNetwork = 1;
constexpr int kSourceCellLocation = 3;

const QString kParamMode = QStringLiteral("time_mode");
const QString kParamDiff = QStringLiteral("club_time_diff");
const QString kParamVerify = QStringLiteral("gsm_verify_time");

void saveMode(quint8 mode, qint64 diff)
{
    ServiceFactory::setParamInt64(kParamDiff, diff);
    ServiceFactory::setParamInt64(kParamMode, mode);
}

} // namespace

qint64 PigeonBo::getLoftTime()
{
    return (timeMode.load() & kClubTimeLocked) ? UTC::clubTime().value() : UTC::now().value();
}

quint8 PigeonBo::getTimeMode() const
{
    return timeMode.load();
}

void PigeonBo::loadTimeMode()
{
    QMutexLocker saveLock(&timeSaveMutex);
    quint8 mode = quint8(ServiceFactory::getParamInt64(kParamMode, 0) & 0xFF);
    qint64 diff = (mode & kClubOffset) ? ServiceFactory::getParamInt64(kParamDiff, 0) : 0;
    const qint64 verified = ServiceFactory::getParamInt64(kParamVerify, 0);
    const qint64 age = UTC::now().value() - verified;
    if (age >= 1 && age < kVerifyLifeMs)
        mode |= kNetVerified;
    else
        mode &= quint8(~kNetVerified);
    // An offset without the lock is left over from an interrupted change:
    // nothing would ever clear it.
    const bool stale = (mode & kClubOffset) && !(mode & kClubTimeLocked);
    if (stale) {
        mode &= quint8(~kClubOffset);
        diff = 0;
    }
    {
        QMutexLocker lock(&mutex);
        timeMode = mode;
        gsmVerifyTime = verified;
        UTC::_clubTimeDiff = diff;
    }
    if (stale)
        saveMode(mode, 0);
}

void PigeonBo::verifyTimeout()
{
    // Runs in every tick and holds the engine's mutex throughout: nothing
    // called here may take it again, and the module type is a published
    // copy that never waits.
    QMutexLocker lock(&mutex);
    quint8 mode = timeMode;
    if (mode & kNetVerified) {
        if (UTC::now().value() - gsmVerifyTime > kVerifyLifeMs) {
            mode &= quint8(~kNetVerified);
            timeMode = mode;
        }
        if (mode & kNetVerified)
            return;
    }
    RFIDService *rfid = ServiceFactory::getInstance()->rfidService;
    if (!rfid || rfid->getRfDevType() != kClockModuleType)
        return;
    const qint64 loftTime = getLoftTime();
    if (loftTime - lastRfTimeVerify > kModuleTimeIntervalMs) {
        rfid->requestVerifyRfTime();
        lastRfTimeVerify = loftTime;
    }
}

qint64 PigeonBo::lockClubTime(qint64 clubMs)
{
    QMutexLocker saveLock(&timeSaveMutex);
    qint64 before = 0;
    qint64 offset = 0;
    quint8 mode = 0;
    {
        QMutexLocker lock(&mutex);
        before = UTC::now().value();
        mode = timeMode;
        if (mode & kNetVerified) {
            // The verified clock stays; the club time runs as an offset.
            offset = clubMs - before;
            mode |= kClubOffset | kClubTimeLocked;
        } else {
            UTC::setTime(clubMs, true);
            mode = quint8((mode & ~kClubOffset) | kClubTimeLocked);
        }
        UTC::_clubTimeDiff = offset;
        timeMode = mode;
    }
    saveMode(mode, offset);
    return before;
}

void PigeonBo::unlockClubTime()
{
    QMutexLocker saveLock(&timeSaveMutex);
    quint8 mode = 0;
    {
        QMutexLocker lock(&mutex);
        mode = timeMode;
        if (!(mode & kClubTimeLocked))
            return;
        mode &= quint8(~(kClubTimeLocked | kClubOffset));
        timeMode = mode;
        UTC::_clubTimeDiff = 0;
    }
    saveMode(mode, 0);
}

void PigeonBo::verifyClubTime(qint64 clubMs, const QString &id)
{
    const qint64 before = lockClubTime(clubMs);
    Storage::instance()->logTimeVerify(before, clubMs, QStringLiteral("mark:") + id);
}

void PigeonBo::verifyTimeManual(qint64 ms)
{
    qint64 before = 0;
    {
        QMutexLocker lock(&mutex);
        if (timeMode != 0)
            return;
        before = UTC::now().value();
        UTC::setTime(ms, true);
    }
    Storage::instance()->logTimeVerify(before, ms, QStringLiteral("MANUAL"));
}

void PigeonBo::verifyTime(qint64 ms, bool log)
{
    QMutexLocker saveLock(&timeSaveMutex);
    qint64 before = 0;
    qint64 diff = 0;
    quint8 mode = 0;
    bool offsetTaken = false;
    {
        QMutexLocker lock(&mutex);
        before = UTC::now().value();
        // The move the clock really made: setTime ignores small changes.
        const qint64 baseBefore = UTC::_timeBase.load();
        UTC::setTime(ms, true);
        const qint64 moved = UTC::_timeBase.load() - baseBefore;
        mode = timeMode;
        if ((mode & kClubTimeLocked) && !(mode & kClubOffset) && moved != 0) {
            // The club time was locked by setting the clock, which has just
            // moved: the offset takes the move back, so the club time goes on.
            diff = UTC::_clubTimeDiff.load() - moved;
            UTC::_clubTimeDiff = diff;
            mode |= kClubOffset;
            offsetTaken = true;
        }
        mode |= kNetVerified;
        timeMode = mode;
        gsmVerifyTime = ms;
    }
    const qint64 correction = before - ms;
    if (log && (correction > kLoggedCorrectionMs || correction < -kLoggedCorrectionMs))
        Storage::instance()->logTimeVerify(before, ms, QStringLiteral("GSM"));
    if (offsetTaken)
        saveMode(mode, diff);
    ServiceFactory::setParamInt64(kParamVerify, ms);
}

void PigeonBo::onTime(GSMService *, qint64 utcMs, int source)
{
    // GPS time never sets the clock.
    if (source != kSourceNetwork && source != kSourceCellLocation)
        return;
    // The modem thread must not lose its cycle over the event log: the clock
    // has moved in memory either way.
    try {
        verifyTime(utcMs, true);
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTime VexException!"));
    }
}
