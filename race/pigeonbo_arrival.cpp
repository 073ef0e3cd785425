#include "race/pigeonbo.h"

#include "core/locationinfo.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/VexPlayer.h"
#include "race/arrivaljournal.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QMutexLocker>
#include <QTimer>

#include <limits>

// Arrival processing: a ring reading, queued into the service thread, becomes
// a pigeon's stored, logged and announced arrival. Readings are handled one
// after another in the order they came; one whose storing fails is tried
// again with its original time while later readings wait behind it, so the
// arrival order stays the order of the readings.

namespace {

// A reading the club connector held in its memory counts for one day.
constexpr qint64 kStoredReadingMaxAgeMs = 86400000;
constexpr int kRaceRunning = 3;
// Bits of the loft's notifyMode: SMS for training and for race arrivals.
constexpr int kNotifyTraining = 0x01;
constexpr int kNotifyRace = 0x02;
// This voice mode speaks the last two characters of the association number.
constexpr int kVoiceModeSpoken = 356;
constexpr int kSpokenCharacters = 2;
constexpr int kRingDigits = 8;
constexpr int kCodeValid = 0;
const char kNoUid[] = "00000000";

// Readers report a missing uid as empty or as eight zeros.
bool hasUid(const QString &uid)
{
    return !uid.isEmpty() && uid != QLatin1String(kNoUid);
}

// A stored reading is fresh when it is not in the future and at most one day
// old (exactly one day still counts). The time came off a serial line, so no
// difference is formed that could overflow.
bool isFreshStored(qint64 timeMs, qint64 nowMs)
{
    if (timeMs > nowMs)
        return false;
    if (nowMs < std::numeric_limits<qint64>::min() + kStoredReadingMaxAgeMs)
        return true; // every time up to now lies within the day
    return timeMs >= nowMs - kStoredReadingMaxAgeMs;
}

// The reading's time on the club reader's clock: plus the reader-to-device
// difference noted at basketing. False when it does not fit 64 bits.
bool toReaderTime(qint64 timeMs, const RaceInfo &race, qint64 *corrected)
{
    qint64 residual = 0;
    if (__builtin_sub_overflow(race.markReaderTime, race.markDeviceTime, &residual))
        return false;
    return !__builtin_add_overflow(timeMs, residual, corrected);
}

// A reading given up on leaves its ring and time in the log, so the
// arrival can still be found by hand.
void logDropped(const LFTAG_INFO &tag)
{
    ServiceFactory::debug(QStringLiteral("PigeonBo::onTagScaned dropped ring ") + tag.eRing + QStringLiteral(" time ")
                          + QString::number(tag.time));
}

} // namespace

void PigeonBo::setPositionSource(const PositionSource &source)
{
    QMutexLocker lock(&mutex);
    positionSource = source;
}

void PigeonBo::setArrivalRetry(const ArrivalRetry &retry)
{
    arrivalRetry = retry;
}

int PigeonBo::heldArrivals() const
{
    return held;
}

void PigeonBo::onTagScaned(LFTAG_INFO tag)
{
    // Still queued when the engine stopped: nothing may be stored any more.
    if (isFinished())
        return;
    // An exception leaving a queued slot would end the process.
    try {
        if (!acceptReading(tag))
            return;
        pendingReadings.append(PendingReading{tag, -1});
        // While storing fails, a new reading is kept at once with its time:
        // it waits behind the held ones, across a restart too.
        if (retryTimer && retryTimer->isActive())
            holdInJournal();
        drainReadings();
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTagScaned VexException!"));
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTagScaned UnknowException!"));
    }
}

// An empty ring would even match every pigeon without a ring.
bool PigeonBo::isRingNumber(const QString &ring)
{
    if (ring.size() != kRingDigits)
        return false;
    for (const QChar c : ring) {
        const bool hex = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
        if (!hex)
            return false;
    }
    return true;
}

bool PigeonBo::acceptReading(const LFTAG_INFO &tag)
{
    if (!isRingNumber(tag.eRing))
        return false;
    if (tag.stored != 0) {
        // Judged against the club time, the clock the reading was taken on:
        // while the club time is held as an offset, the device time would
        // put the newest readings in the future.
        return isFreshStored(tag.time, UTC::clubTime().value());
    }
    // A ring on the landing board is read again and again; only the first of
    // a run of readings goes on. Stored readings neither check nor set it.
    return takeLiveRing(tag.eRing);
}

bool PigeonBo::takeLiveRing(const QString &eRing)
{
    {
        // The ring was checked to be eight digits, so a null (no ring held)
        // never equals it.
        QMutexLocker lock(&mutex);
        if (lastEring == eRing)
            return false;
    }
    cacheLastEring(eRing);
    return true;
}

void PigeonBo::drainReadings()
{
    // A receiver of pigeonBack in this thread may hand in a reading; it waits
    // in the queue for the loop below.
    if (draining || (retryTimer && retryTimer->isActive()))
        return;
    draining = true;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{draining};
    while (!pendingReadings.isEmpty() && !isFinished()) {
        // Copied: a reading handed in meanwhile may move the queue's storage.
        const LFTAG_INFO tag = pendingReadings.first().tag;
        if (!tryArrival(tag)) {
            // Nothing is dropped: this reading and every one behind it are
            // kept with their times and tried again until they are stored.
            holdInJournal();
            if (!retryTimer) {
                retryTimer = new QTimer(this);
                retryTimer->setSingleShot(true);
                connect(retryTimer, &QTimer::timeout, this, &PigeonBo::onArrivalRetry);
            }
            retryTimer->start(arrivalRetry.delayMs);
            break;
        }
        finishReading(pendingReadings.takeFirst());
    }
    publishHeld();
}

void PigeonBo::holdInJournal()
{
    if (!journal)
        return;
    for (PendingReading &pending : pendingReadings) {
        if (pending.slot < 0)
            pending.slot = journal->append(pending.tag);
    }
    publishHeld();
}

void PigeonBo::finishReading(const PendingReading &pending)
{
    if (journal && pending.slot >= 0)
        journal->markDone(pending.slot);
}

void PigeonBo::publishHeld()
{
    const bool holding = retryTimer && retryTimer->isActive();
    held = holding ? int(pendingReadings.size()) : 0;
}

void PigeonBo::replayJournal()
{
    if (journal)
        return; // started twice: the journal's readings are queued already
    journal = std::make_unique<ArrivalJournal>();
    QList<QPair<int, LFTAG_INFO>> kept;
    if (!journal->open(&kept))
        journal.reset();
    for (const auto &entry : std::as_const(kept)) {
        ServiceFactory::debug(QStringLiteral("PigeonBo: held reading replayed, ring ") + entry.second.eRing
                              + QStringLiteral(" time ") + QString::number(entry.second.time));
        pendingReadings.append(PendingReading{entry.second, entry.first});
    }
    if (!kept.isEmpty())
        drainReadings();
}

void PigeonBo::onArrivalRetry()
{
    try {
        drainReadings();
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onArrivalRetry UnknowException!"));
    }
}

bool PigeonBo::tryArrival(const LFTAG_INFO &tag)
{
    try {
        processReading(tag);
        return true;
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTagScaned VexException!"));
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTagScaned UnknowException!"));
    }
    return false;
}

void PigeonBo::processReading(LFTAG_INFO tag)
{
    Storage *storage = Storage::instance();
    const QSharedPointer<PigeonRecord> found = storage->findRecordByEring(tag.eRing);
    if (!found)
        return; // no pigeon wears this ring
    PigeonRecord record = *found;

    // Basketed: the race must be running, and the time moves to the club
    // reader's clock. A training record (not basketed) has no race to check,
    // whatever its race code.
    if (record.markTime != 0) {
        const QSharedPointer<RaceInfo> race = storage->findRaceById(record.raceCode);
        if (!race || race->valid != kRaceRunning)
            return;
        qint64 corrected = 0;
        if (!toReaderTime(tag.time, *race, &corrected)) {
            ServiceFactory::debug(QStringLiteral("PigeonBo::onTagScaned time out of range: ") + tag.eRing);
            return;
        }
        tag.time = corrected;
        // A replayed reading from before basketing is no arrival.
        if (tag.stored != 0 && tag.time < record.markTime)
            return;
    }

    if (record.backTimeUid != 0)
        return; // ring and uid both taken
    if (record.backTimeEring != 0) {
        // Ring time taken: only a reading with a uid adds anything. Order,
        // SMS flag and position stay as the first arrival set them.
        if (!hasUid(tag.uid))
            return;
        record.uidBack = tag.uid;
        record.backTimeUid = tag.time;
        doRecordSave(&record);
        return;
    }
    fillFirstArrival(tag, &record);
    doRecordSave(&record);
}

void PigeonBo::fillFirstArrival(const LFTAG_INFO &tag, PigeonRecord *record)
{
    record->randNumberBack = tag.randNum;
    record->backTimeEring = tag.time;
    if (hasUid(tag.uid)) {
        record->uidBack = tag.uid;
        record->backTimeUid = record->backTimeEring;
    }

    // Counted before this record is stored: only earlier arrivals. Training
    // arrivals count together, whatever race code their records carry.
    const bool race = record->markTime != 0;
    const QString where = race ? QStringLiteral("markTime<>0 AND backTimeEring<>0 AND RaceCode=")
            + Storage::quoted(record->raceCode)
                               : QStringLiteral("markTime=0 AND backTimeEring<>0");
    record->backOrder = Storage::instance()->queryRecordsCount(where) + 1;

    const int notifyMode = copyLocked(loft.notifyMode);
    record->needSms = (notifyMode & (race ? kNotifyRace : kNotifyTraining)) != 0;

    LocationInfo position;
    getGpsInfo(&position);
    record->gpsOnLine = position.isOnline();
    record->gpsValid = position.isValid();
    // The current fix while online, else the last valid one, else 0.
    record->backHomeLat = position.getLa();
    record->backHomeLon = position.getLo();
}

bool PigeonBo::doRecordSave(const PigeonRecord *record)
{
    // Stored and logged together; a failure throws before anything is
    // announced, so a retry cannot announce an arrival twice.
    if (!Storage::instance()->saveArrival(record)) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::doRecordSave record changed, dropped ring ") + record->eringNum
                              + QStringLiteral(" time ") + QString::number(record->backTimeEring));
        return false;
    }
    // Committed: whatever happens now must not lead to a second try.
    try {
        announce(*record);
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::doRecordSave UnknowException!"));
    }
    return true;
}

void PigeonBo::announce(const PigeonRecord &record)
{
    emit pigeonBack(record);
    if (getVoiceMode() == kVoiceModeSpoken)
        VexPlayer::readWords(record.assocNum.right(kSpokenCharacters));
    else
        VexPlayer::playPigeonBack(kCodeValid);
}

void PigeonBo::dropPendingReadings()
{
    if (retryTimer)
        retryTimer->stop();
    // Those kept in the journal come back at the next start.
    for (const PendingReading &pending : std::as_const(pendingReadings)) {
        if (pending.slot < 0)
            logDropped(pending.tag);
    }
    pendingReadings.clear();
    held = 0;
    journal.reset();
}
