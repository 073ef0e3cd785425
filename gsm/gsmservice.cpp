#include "gsm/gsmservice.h"

#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "gsm/attext.h"
#include "gsm/ec25gsmmodule.h"
#include "gsm/gsmclock.h"
#include "gsm/gsmhttp.h"
#include "gsm/gsmmodule.h"
#include "gsm/telitgsmmodule.h"
#include "gsm/ubloxgsmmodule.h"
#include "storage/storage.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMutexLocker>

#include <algorithm>

namespace {

// The one step of every pause; never scaled.
constexpr int kStepMs = 10;
// The destructor's wait for a thread that should already have stopped.
constexpr unsigned long kDestroyWaitMs = 20000;
constexpr int kMaxTurnErrors = 3;
// Starts that may fail in a row before the pause between them grows.
constexpr int kFailedStartsBeforeBackoff = 3;
constexpr int kMaxBackoffDoublings = 16;
// After a failed start the pause looks this often whether the APN or the
// operator was corrected.
constexpr int kSettingsLookMs = 250;

constexpr quint32 kLocTimeReady = 0x001;
constexpr quint32 kApnSet = 0x004;
constexpr quint32 kDataActive = 0x008;
constexpr quint32 kInitialised = 0x010;
constexpr quint32 kRegistered = 0x020 | 0x040;
constexpr quint32 kGpsOn = 0x100;
constexpr quint32 kNetTimeTaken = 0x800;

// readGsmLoc: a position served from the driver's cache, not fresh.
constexpr int kCachedLocation = 8;

constexpr unsigned int kTypeEc25 = 0x0800;
constexpr unsigned int kTypeTelit = 0x1000;

bool registered(quint32 flags)
{
    return (flags & kRegistered) == kRegistered;
}

bool isExit(const VexException &e)
{
    return e.getErrorMessage() == QLatin1String("GSM exit!");
}

} // namespace

GSMService::GSMService(GSMServiceCallback *cb, QObject *parent)
    : QThread(parent)
    , callback(cb)
    , modemClock(GsmClock::system())
    , smsTurn(timing.smsIdleMs, timing.smsRetryMs)
    , gprsTurn(timing.gprsIdleMs, timing.gprsRetryMs)
{
    cregCountdown = unsigned(timing.regIntervalMs);
    lastPauseMs = timing.cyclePauseMs;
}

GSMService::~GSMService()
{
    // The owner stops the thread first (stop()) and keeps an object whose
    // thread did not end; this is only the last line of defence.
    if (!stop(int(kDestroyWaitMs)))
        ServiceFactory::debug(QStringLiteral("GSMService still running at destruction!"));
}

void GSMService::setTiming(const GsmTiming &value)
{
    timing = value;
    cregCountdown = unsigned(timing.regIntervalMs);
    lastPauseMs = timing.cyclePauseMs;
    smsTurn.setDelays(timing.smsIdleMs, timing.smsRetryMs);
    gprsTurn.setDelays(timing.gprsIdleMs, timing.gprsRetryMs);
}

void GSMService::setModemClock(GsmClock *clock)
{
    modemClock = clock ? clock : GsmClock::system();
}

void GSMService::requestExit()
{
    // The flag first: a driver published after this look sees it there.
    exitRequested = true;
    wakeUp.ring();
    QMutexLocker lock(&mutex);
    if (driver)
        driver->requestExit();
}

bool GSMService::stop(int boundMs)
{
    requestExit();
    return wait(QDeadlineTimer(boundMs));
}

bool GSMService::isFailed() const
{
    return failed;
}

GsmModule *GSMService::getGsmModule() const
{
    return driver;
}

GsmState GSMService::getGSMState() const
{
    // The pointer stays valid while the lock is held; the driver copies its
    // record under a lock of its own.
    QMutexLocker lock(&mutex);
    return driver ? driver->getState() : GsmState();
}

LocationInfo GSMService::getCurrentGPS() const
{
    QMutexLocker lock(&mutex);
    return location;
}

void GSMService::setGprsInterval(unsigned int ms)
{
    gprsTurn.setInterval(tick(), ms);
    wakeUp.ring(); // a sleeping step loop looks at the new due time
}

void GSMService::setSmsInterval(unsigned int ms)
{
    smsTurn.setInterval(tick(), ms);
}

bool GSMService::isGprsTickReady() const
{
    return gprsTurn.isReady(tick());
}

bool GSMService::isSmsTickReady() const
{
    return smsTurn.isReady(tick());
}

void GSMService::requestLocation()
{
    netTimeDue = 0;
    gpsDue = 0;
    wakeUp.ring();
}

void GSMService::checkHardware()
{
    if (driver && !(flags() & kInitialised))
        driver->init();
}

QByteArray GSMService::postHttp(const QByteArray &body)
{
    GsmHttpRequest request;
    request.charset = "UTF-8";
    request.contentType = "application/json-rpc";
    if (callback) {
        request.host = callback->getHostIP().toLatin1();
        request.path = callback->getSmdPath().toLatin1();
    }
    request.body = body;
    GsmHttpResponse response;
    if (!driver || !driver->requestHttp(request, response))
        throw VexException(4097, QStringLiteral("requestHTTP error!"), QString());
    return response.getBody();
}

void GSMService::onTime(qint64 utcMs, int source)
{
    if (callback)
        callback->onTime(this, utcMs, source);
}

QString GSMService::portFor(unsigned int gsmType)
{
    switch (gsmType) {
    case kTypeEc25:
        return QStringLiteral("/dev/ttyUSB2");
    case kTypeTelit:
        return QStringLiteral("/dev/ttyUSB4");
    default:
        return QStringLiteral("/dev/ttyUSB1");
    }
}

std::unique_ptr<GsmModule> GSMService::makeDriver(unsigned int gsmType)
{
    switch (gsmType) {
    case kTypeEc25:
        return std::make_unique<Ec25GsmModule>();
    case kTypeTelit:
        return std::make_unique<TelitGsmModule>();
    default:
        return std::make_unique<UbloxGsmModule>();
    }
}

qint64 GSMService::tick()
{
    return ServiceFactory::getTickCount();
}

quint32 GSMService::flags() const
{
    return driver ? driver->getState().flags : 0;
}

// --- the loop -------------------------------------------------------------

void GSMService::run()
{
    // No exception may leave a thread's run.
    try {
        while (!exitRequested) {
            try {
                startGSM();
                doEvents();
            } catch (const VexException &) {
                ServiceFactory::debug(QStringLiteral("GSMService::run VexException!"));
            } catch (...) {
                ServiceFactory::debug(QStringLiteral("GSMService::run UnknowException!"));
            }
            stopGSM();
            waitBeforeStart(pauseAfterCycle());
        }
        Storage::destroy();
        stopGSM();
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("GSMService::run UnknowException!"));
    }
    ServiceFactory::debug(QStringLiteral("GSMService Exit!"));
}

bool GSMService::waitSteps(int totalMs)
{
    const QDeadlineTimer end(totalMs);
    while (!exitRequested && !end.hasExpired())
        wakeUp.sleepFor(end.remainingTime());
    return !exitRequested;
}

int GSMService::pauseAfterCycle()
{
    // An APN or operator the modem refuses fails every start within seconds:
    // without a growing pause the modem would be powered up and down for ever.
    failedStarts = dataReached ? 0 : failedStarts + 1;
    int pauseMs = timing.cyclePauseMs;
    if (failedStarts >= kFailedStartsBeforeBackoff) {
        const int doublings = qMin(failedStarts - kFailedStartsBeforeBackoff + 1, kMaxBackoffDoublings);
        pauseMs = int(qMin<qint64>(qint64(timing.cyclePauseMs) << doublings, timing.backoffCapMs));
    }
    failed = failedStarts >= kFailedStartsBeforeBackoff;
    if (pauseMs != lastPauseMs) {
        lastPauseMs = pauseMs;
        ServiceFactory::debug(QStringLiteral("GSMService: %1 failed starts in a row, next start in %2 ms")
                                  .arg(failedStarts)
                                  .arg(pauseMs));
    }
    return pauseMs;
}

bool GSMService::settingsChanged() const
{
    if (!callback || failedStarts == 0)
        return false;
    return callback->getApn() != triedApn || callback->getNet() != triedNet;
}

void GSMService::waitBeforeStart(int pauseMs)
{
    const QDeadlineTimer end(pauseMs);
    while (!end.hasExpired()) {
        if (exitRequested)
            return;
        // A corrected APN or operator is tried at once, with a clean slate.
        if (settingsChanged()) {
            ServiceFactory::debug(QStringLiteral("GSMService: APN or operator changed, starting now"));
            failedStarts = 0;
            failed = false;
            return;
        }
        // Only a failed start has settings to watch; otherwise the pause
        // sleeps through, ended early by the exit request alone.
        wakeUp.sleepFor(failedStarts == 0 ? end.remainingTime() : qMin<qint64>(kSettingsLookMs, end.remainingTime()));
    }
}

void GSMService::startGSM()
{
    dataReached = false;
    // The settings this start tries; a change of them ends a back-off.
    triedApn = callback ? callback->getApn() : QString();
    triedNet = callback ? callback->getNet() : QString();
    lastFlags = 0xFF;
    smsTurn.resetErrors();
    gprsTurn.resetErrors();
    offlineMs = 0;

    // The last cell position, read before the lock is taken; an unreadable
    // parameter reads as its default.
    qint64 locTick = 0;
    int lon = 0;
    int lat = 0;
    try {
        locTick = ServiceFactory::getParamInt64(QStringLiteral("gsmLocTick"), 0);
        lon = ServiceFactory::getParamInt32(QStringLiteral("gsmLon"), 0);
        lat = int(ServiceFactory::getParamInt64(QStringLiteral("gsmLan"), 0));
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("GSMService::startGSM VexException!"));
        locTick = 0;
        lon = 0;
        lat = 0;
    }
    {
        QMutexLocker lock(&mutex);
        location.init();
        location.validTime = locTick;
        location.validLo = lon;
        location.validLa = lat;
    }

    if (HardwareControl::OSTYPE == 1) {
        HardwareControl::usbInsMod();
        if (!waitSteps(timing.usbWaitMs))
            return;
    }
    ServiceFactory::debug(QStringLiteral("Gsm power on..."));
    HardwareControl::GsmOn();
}

void GSMService::stopGSM()
{
    ServiceFactory::debug(QStringLiteral("Gsm shutdown ..."));
    if (HardwareControl::OSTYPE == 1)
        HardwareControl::usbRemove();
    HardwareControl::GsmOff();
}

bool GSMService::waitForNode(const QString &port)
{
    const QString node = Platform::path(port);
    for (int waited = 0; waited < timing.nodeWaitMs; waited += kStepMs) {
        if (exitRequested)
            return false;
        if (QFileInfo::exists(node))
            return true;
        HardwareControl::wait(kStepMs);
    }
    if (exitRequested)
        return false;
    if (!QFileInfo::exists(node))
        throw GsmException(268, QStringLiteral("GSM not exists!"), QString());
    return true;
}

void GSMService::doEvents()
{
    flushWatchdog();
    const unsigned int type = HardwareControl::gsmType();
    const QString port = portFor(type);
    if (!waitForNode(port))
        return;

    std::unique_ptr<GsmModule> fresh = makeDriver(type);
    fresh->setClock(modemClock);
    fresh->open(port);
    pendingPauseMs = unsigned(timing.settleMs);
    ServiceFactory::debug(QStringLiteral("Gsm open port \"") + port + QStringLiteral("\" OK!"));
    {
        QMutexLocker lock(&mutex);
        driver = fresh.release();
        if (exitRequested)
            driver->requestExit();
    }

    try {
        runSteps();
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("GSMService::doEvents VexException!"));
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("GSMService::doEvents UnknowException!"));
    }
    closeDriver();
}

void GSMService::runSteps()
{
    qint64 lastStep = tick();
    while (smsTurn.errors() <= kMaxTurnErrors && gprsTurn.errors() <= kMaxTurnErrors) {
        // At least one 10 ms step every time, the settle time at the start;
        // past that a modem with nothing due sleeps until its next turn, or
        // until another thread rings it (an upload queued, a position asked
        // for, the exit).
        const qint64 earliest = tick() + qMax<qint64>(kStepMs, pendingPauseMs);
        qint64 stepDue = earliest;
        for (;;) {
            const qint64 now = tick();
            stepDue = qMax(earliest, nextStepDue(lastStep));
            const qint64 due = stepDue;
            if (now >= due)
                break;
            const qint64 untilWatchdog = lastWatchdog + timing.watchdogMs + 1 - now;
            wakeUp.sleepFor(std::clamp<qint64>(qMin(due - now, untilWatchdog), 1, due - now));
            flushWatchdog();
            if (exitRequested)
                return;
        }
        pendingPauseMs = 0;
        const qint64 now = tick();
        // What the step slept past its 10 ms (or settle) because the modem
        // was registered and nothing was due must not count as time without
        // registration.
        idleMs = unsigned(qBound<qint64>(0, stepDue - earliest, Q_INT64_C(0xFFFFFFF)));
        doEvent(unsigned(qBound<qint64>(0, now - lastStep, Q_INT64_C(0xFFFFFFF))));
        lastStep = now;
    }
    ServiceFactory::debug(QString::asprintf("gsmErrorCount,gprsErrorCount:%d,%d", smsTurn.errors(),
                                            gprsTurn.errors()));
}

qint64 GSMService::nextStepDue(qint64 lastStep) const
{
    const quint32 state = flags();
    // Until the modem is set up and registered every step has work: the
    // set-up, the registration check, the APN.
    if (!(state & kInitialised) || !registered(state) || !(state & kApnSet))
        return lastStep;
    // Otherwise the earliest of the jobs' due times, as each step tests them.
    qint64 due = lastStep + qint64(cregCountdown);
    if (state & kDataActive)
        due = qMin(due, qint64(netTimeDue) + 1);
    due = qMin(due, qint64(gpsDue) + 1);
    if (callback)
        due = qMin(due, smsTurn.dueMs());
    return qMin(due, gprsTurn.dueMs());
}

void GSMService::closeDriver()
{
    ServiceFactory::debug(QStringLiteral("GSM close port..."));
    GsmModule *old = nullptr;
    {
        QMutexLocker lock(&mutex);
        old = driver;
        driver = nullptr;
    }
    if (old)
        old->close();
    delete old;
    ServiceFactory::debug(QStringLiteral("GSM close port!"));
}

void GSMService::doEvent(unsigned int elapsedMs)
{
    checkHardware();
    checkGSM(elapsedMs);
    syncNetTime();
    syncGps();
    doSMSEvent();
    doGprsEvent();
}

void GSMService::flushWatchdog()
{
    const qint64 now = tick();
    if (now - lastWatchdog > timing.watchdogMs || lastWatchdog - now > timing.watchdogMs) {
        lastWatchdog = now;
        HardwareControl::flushWatchdog(QStringLiteral("gsm:60000"));
    }
}

// --- the steps ------------------------------------------------------------

void GSMService::checkGSM(unsigned int elapsedMs)
{
    if (registered(flags()) && cregCountdown > elapsedMs) {
        cregCountdown -= elapsedMs;
        offlineMs = 0;
        return;
    }
    cregCountdown = unsigned(timing.regIntervalMs);
    driver->checkNetReg();
    const GsmState state = driver->getState();
    if (int(state.flags) != lastFlags) {
        lastFlags = int(state.flags);
        ServiceFactory::debug(QString::asprintf("gsm state:%X,CSQ:%d", state.flags, state.csq));
    }
    if (registered(state.flags)) {
        offlineMs = 0;
        return;
    }
    offlineMs += elapsedMs - qMin(idleMs, elapsedMs);
    if (offlineMs > unsigned(timing.offlineLimitMs))
        throw GsmException(769, QStringLiteral("GSM offline!"), QString());
}

void GSMService::syncNetTime()
{
    const quint32 before = flags();
    if (!(before & kDataActive) || tick() <= netTimeDue)
        return;
    if (driver->getNetUtcTime(this)) {
        netTimeDue = tick() + timing.netTimeIntervalMs;
        return;
    }
    if ((before & kLocTimeReady) && !(before & kNetTimeTaken)) {
        const bool taken = driver->getGsmLocTime(this) != 0;
        netTimeDue = tick() + (taken ? timing.netTimeIntervalMs : timing.cellTimeRetryMs);
        return;
    }
    netTimeDue = tick() + timing.netTimeRetryMs;
}

void GSMService::syncGps()
{
    if (!(flags() & kGpsOn)) {
        // A failed set-up waits for the next position time: each try may
        // wait on the modem for seconds.
        if (tick() <= gpsDue)
            return;
        try {
            driver->configGps();
        } catch (const VexException &e) {
            if (exitRequested || isExit(e))
                throw;
            ServiceFactory::debug(QStringLiteral("GSMService::syncGps VexException!"));
        }
        if (!(flags() & kGpsOn)) {
            gpsDue = tick() + timing.gpsIntervalMs;
            return;
        }
    }
    if (tick() <= gpsDue)
        return;
    int lon = 0;
    int lat = 0;
    const int fix = driver->readGPS(&lon, &lat, nullptr, this);
    gpsDue = tick() + timing.gpsIntervalMs;
    if (fix > 0) {
        QMutexLocker lock(&mutex);
        location.lo = lon;
        location.la = lat;
        location.time = Platform::systemClockMs();
        return;
    }
    takeGsmLocation();
}

// Without a GPS fix, the cell position stands in while no valid fix is left.
void GSMService::takeGsmLocation()
{
    if (getCurrentGPS().isValid())
        return;
    int lon = 0;
    int lat = 0;
    const int result = driver->readGsmLoc(&lon, &lat);
    if (result == 0)
        return;
    // Fix times are on the system clock, on which LocationInfo measures ages.
    const qint64 now = Platform::systemClockMs();
    {
        QMutexLocker lock(&mutex);
        location.validLo = lon;
        location.validLa = lat;
        location.validTime = now;
    }
    if (result & kCachedLocation)
        return;
    try {
        ServiceFactory::setParamInt64(QStringLiteral("gsmLocTick"), now);
        ServiceFactory::setParamInt32(QStringLiteral("gsmLon"), lon);
        ServiceFactory::setParamInt64(QStringLiteral("gsmLan"), lat);
    } catch (const VexException &) {
        // The position is kept in memory; the modem is not at fault.
        ServiceFactory::debug(QStringLiteral("GSMService::syncGps VexException!"));
    }
}

void GSMService::doSMSEvent()
{
    if (!registered(flags()) || !callback || !isSmsTickReady())
        return;
    const int result = callback->doSmsEvent(this);
    if (smsTurn.take(result, tick()))
        ServiceFactory::debug(QString::asprintf("SMS error count:%d", smsTurn.errors()));
}

void GSMService::doGprsEvent()
{
    const quint32 before = flags();
    if (!registered(before))
        return;
    if (!(before & kApnSet))
        configureApn();
    if (!(before & kDataActive)) {
        // A refused activation is tried again after its delay, not at every step.
        if (!isGprsTickReady())
            return;
        if (!driver->activeNet()) {
            ServiceFactory::debug(QStringLiteral("GSM::openGPRS failed!"));
            setGprsInterval(unsigned(timing.activationRetryMs));
            return;
        }
        ServiceFactory::debug(QStringLiteral("GSM::openGPRS OK!"));
    }
    if (!dataReached) {
        dataReached = true;
        failedStarts = 0;
        failed = false;
    }
    if (!callback || !isGprsTickReady())
        return;
    const int result = callback->doGprsEvent(this);
    if (gprsTurn.take(result, tick()))
        ServiceFactory::debug(QString::asprintf("Gprs exception count:%d", gprsTurn.errors()));
}

void GSMService::configureApn()
{
    const QString apn = callback ? callback->getApn() : QString();
    const QString net = callback ? callback->getNet() : QString();
    // Stored values reach the modem only once checked: a refused one fails
    // this start like a refusal by the modem would.
    if (!AtText::apnSetting(apn) || !AtText::operatorCode(net))
        throw GsmException(769, QStringLiteral("GSM response ERROR!"), QString());
    if (apn.isEmpty()) {
        driver->setAPN(QByteArray(), QByteArray(), QByteArray());
    } else {
        const QStringList parts = apn.split(QLatin1Char(','));
        if (parts.size() >= 3)
            driver->setAPN(parts.at(0).toLatin1(), parts.at(1).toLatin1(), parts.at(2).toLatin1());
        else
            driver->setAPN(apn.toLatin1(), QByteArray(), QByteArray());
    }
    ServiceFactory::debug(QStringLiteral("APN:") + apn);
    if (!net.isEmpty())
        driver->selectNet(net.toLatin1());
}
