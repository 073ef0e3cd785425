#include "race/pigeonbo.h"

#include "core/locationinfo.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "gsm/gsmservice.h"
#include "race/arrivaljournal.h"
#include "storage/storage.h"

#include <QMutexLocker>
#include <QTimer>

namespace {
constexpr int kTickMs = 50;
// Nothing needs the engine more often than its mains sample, about once a
// second; the timer sleeps at most this many ticks (verifyTimeout's hour-long
// limits lose nothing by it).
constexpr int kMaxSleepTicks = 40;
// Mains must be gone this long before the engine asks for the power-off.
constexpr int kPowerCountdownMs = 5000;
// Mains is sampled only below this, so a short gap costs no file read.
constexpr int kPowerSampleBelowMs = 4000;
constexpr int kLastEringHoldMs = 5000;
static_assert(kMaxSleepTicks * kTickMs < kLastEringHoldMs, "the tick timer must wake before a ring hold ends");
constexpr qint64 kWatchdogMs = 5000;
const char kNoSystemId[] = "00000000";
const char kDefaultLang[] = "EN";
}

PigeonBo::PigeonBo(QObject *parent)
    : QObject(parent)
{
}

PigeonBo::~PigeonBo() = default; // out of line: the journal's type is known here

void PigeonBo::start()
{
    // The power watch must run whatever the database says: a failure while
    // loading the caches is logged and the defaults are kept.
    try {
        reflushCache();
        loadTimeMode();
        if (!hasActiveRace())
            unlockClubTime();
    } catch (const VexException &e) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::start VexException!"));
        ServiceFactory::postNotice(e.getErrorDesc().isEmpty() ? e.getErrorMessage() : e.getErrorDesc());
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::start UnknowException!"));
        ServiceFactory::postNotice(QStringLiteral("Unknown exception!"));
    }
    // Default connection: readings emitted by other threads arrive queued.
    connect(this, &PigeonBo::tagScaned, this, &PigeonBo::onTagScaned, Qt::UniqueConnection);
    if (!tickTimer) {
        tickTimer = new QTimer(this);
        connect(tickTimer, &QTimer::timeout, this, &PigeonBo::onTickTimer);
    }
    sinceTick.start();
    tickTimer->setInterval(kTickMs);
    tickTimer->start();
    running = true;
    // Readings held by an earlier run come before any new one.
    replayJournal();
}

void PigeonBo::requestExit()
{
    exitRequested = true;
    // A sleeping tick timer would see the flag only at its next tick.
    QMetaObject::invokeMethod(this, &PigeonBo::onTickTimer, Qt::QueuedConnection);
}

bool PigeonBo::isFinished() const
{
    return !running;
}

bool PigeonBo::hasActiveRace()
{
    return !Storage::instance()->queryActiveRaces().isEmpty();
}

void PigeonBo::onTickTime()
{
    // An exception out of a timer slot would end the process.
    try {
        tick(1);
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTickTime VexException!"));
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTickTime UnknowException!"));
    }
}

void PigeonBo::onTickTimer()
{
    if (!tickTimer)
        return; // stopped: a late exit call finds nothing to do
    const int ticks = int((sinceTick.restart() + kTickMs / 2) / kTickMs);
    try {
        tick(ticks);
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTickTime VexException!"));
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTickTime UnknowException!"));
    }
    scheduleTick();
}

// The counts run in whole 50 ms ticks; a sleeping timer makes up the ticks
// it slept through, and wakes for the tick at which something is due: the
// mains sample, the end of the ring hold, the watchdog report.
void PigeonBo::tick(int ticks)
{
    flushWatchdog();
    verifyTimeout();
    if (exitRequested) {
        destroy();
        return;
    }
    if (powerCountdown <= 0)
        return; // the power-off is under way
    powerCountdown -= ticks * kTickMs;
    if (powerCountdown <= 0) {
        onPowerLost();
        return;
    }
    if (powerCountdown < kPowerSampleBelowMs && HardwareControl::IsPowerAcSupply())
        powerCountdown = kPowerCountdownMs;

    QMutexLocker lock(&mutex);
    if (lastEringCountdown <= ticks * kTickMs) {
        lastEringCountdown = 0;
        if (!lastEring.isNull())
            lastEring = QString();
    } else {
        lastEringCountdown -= ticks * kTickMs;
    }
}

void PigeonBo::scheduleTick()
{
    if (!tickTimer)
        return;
    int ticks = kMaxSleepTicks;
    // The mains sample is taken at the first tick below its threshold.
    if (powerCountdown >= kPowerSampleBelowMs)
        ticks = qMin(ticks, (powerCountdown - kPowerSampleBelowMs) / kTickMs + 1);
    else
        ticks = 1;
    {
        QMutexLocker lock(&mutex);
        if (lastEringCountdown > 0)
            ticks = qMin(ticks, (lastEringCountdown + kTickMs - 1) / kTickMs);
    }
    const qint64 untilWatchdog = lastWatchdog + kWatchdogMs + 1 - UTC::now().value();
    ticks = qBound(1, qMin<qint64>(ticks, (untilWatchdog + kTickMs - 1) / kTickMs), kMaxSleepTicks);
    if (tickTimer->interval() != ticks * kTickMs)
        tickTimer->setInterval(ticks * kTickMs);
}

void PigeonBo::onPowerLost()
{
    // The exit is requested even when the log entry cannot be written: the
    // battery will not wait for the database.
    try {
        Storage::instance()->logPowerOff(QStringLiteral("Power Lost"));
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTickTime VexException!"));
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("PigeonBo::onTickTime UnknowException!"));
    }
    ServiceFactory::requestExit();
}

void PigeonBo::flushWatchdog()
{
    const qint64 now = UTC::now().value();
    if (now - lastWatchdog > kWatchdogMs || lastWatchdog - now > kWatchdogMs) {
        lastWatchdog = now;
        HardwareControl::flushWatchdog(QStringLiteral("pigeon:60000"));
    }
}

void PigeonBo::destroy()
{
    if (tickTimer) {
        tickTimer->stop();
        disconnect(this, &PigeonBo::tagScaned, this, &PigeonBo::onTagScaned);
        disconnect(tickTimer, &QTimer::timeout, this, &PigeonBo::onTickTime);
        tickTimer = nullptr; // stays a child of the engine and dies with it
    }
    dropPendingReadings();
    running = false;
    ServiceFactory::debug(QStringLiteral("PigeonService Exit!"));
}

void PigeonBo::reflushCache()
{
    // Read and published under one lock with the saves: a reload that read
    // the row before a save wrote it must not publish after that save.
    QMutexLocker saving(&cacheSaveMutex);
    LoftInfo fresh;
    Storage *storage = Storage::instance();
    storage->readLoftInfo(&fresh);
    UTC::setTimeZone(fresh.timeZone);
    const QList<QString> phones = storage->queryPhoneCode();
    ServiceFactory::setLang(fresh.language.isEmpty() ? QString::fromLatin1(kDefaultLang) : fresh.language);
    const QString net = storage->getParam(QStringLiteral("gsmNet"));

    QMutexLocker lock(&mutex);
    notifyPhones = phones;
    loft = fresh;
    gsmNet = net;
    lastEring = QString();
    lastEringCountdown = 0;
}

LoftInfo PigeonBo::getLoftInfo()
{
    return copyLocked(loft);
}

void PigeonBo::saveLoftInfo(const LoftInfo *info)
{
    QMutexLocker saving(&cacheSaveMutex);
    Storage::instance()->saveLoftInfo(info);
    {
        QMutexLocker lock(&mutex);
        loft = *info; // loft number and password too, though the row keeps its own
    }
    UTC::setTimeZone(info->timeZone);
}

int PigeonBo::getVoiceMode()
{
    return copyLocked(loft.voiceMode);
}

QString PigeonBo::getLoftNum()
{
    return copyLocked(loft.loftNum);
}

QString PigeonBo::getPassword()
{
    return copyLocked(loft.password);
}

int PigeonBo::getTimeZone()
{
    return copyLocked(loft.timeZone);
}

QString PigeonBo::getHostIP()
{
    return copyLocked(loft.hostIp);
}

QString PigeonBo::getSmdPath()
{
    return copyLocked(loft.hostPath);
}

QString PigeonBo::getApn()
{
    return copyLocked(loft.apn);
}

QString PigeonBo::getNet()
{
    return copyLocked(gsmNet);
}

QList<QString> PigeonBo::getNotifyPhones()
{
    return copyLocked(notifyPhones);
}

void PigeonBo::saveNotifyPhones(const QList<QString> &phones)
{
    QMutexLocker saving(&cacheSaveMutex);
    Storage::instance()->savePhoneCodes(phones);
    QMutexLocker lock(&mutex);
    notifyPhones = phones;
}

QString PigeonBo::getSystemId()
{
    {
        QMutexLocker lock(&mutex);
        if (!systemId.isEmpty())
            return systemId;
    }
    // Asked without the engine's lock: the reader's getter has a lock of its own.
    QString id;
    if (RFIDService *rfid = ServiceFactory::getInstance()->rfidService)
        id = rfid->getModuleId();
    if (id.isEmpty())
        return QString::fromLatin1(kNoSystemId); // not kept: ask again next time
    QMutexLocker lock(&mutex);
    systemId = id;
    return id;
}

void PigeonBo::cacheChannels(const QList<LFCHANNEL_INFO> &list)
{
    {
        QMutexLocker lock(&mutex);
        channels = list;
    }
    emit channelsChanged();
}

QList<LFCHANNEL_INFO> PigeonBo::getChannels()
{
    return copyLocked(channels);
}

void PigeonBo::cacheLastEring(const QString &eRing)
{
    QMutexLocker lock(&mutex);
    lastEring = eRing;
    // A sleeping tick timer's next call counts every tick since the last one:
    // the hold starts now, not at that tick. (The timer's sleep is shorter
    // than the hold, so it wakes in time to end it.)
    const qint64 sinceLastTickMs = tickTimer && sinceTick.isValid() ? sinceTick.elapsed() : 0;
    lastEringCountdown = kLastEringHoldMs + int(sinceLastTickMs / kTickMs) * kTickMs;
}

QString PigeonBo::getLastEring()
{
    return copyLocked(lastEring);
}

void PigeonBo::getGpsInfo(LocationInfo *info)
{
    PositionSource source;
    {
        QMutexLocker lock(&mutex);
        source = positionSource;
    }
    if (source) {
        *info = source();
        return;
    }
    if (GSMService *gsm = ServiceFactory::getInstance()->gsmService)
        *info = gsm->getCurrentGPS();
    else
        *info = LocationInfo();
}

void PigeonBo::notifyTagScaned(LFTAG_INFO *tag)
{
    const LFTAG_INFO copy = *tag;
    emit tagScaned(copy);
}

