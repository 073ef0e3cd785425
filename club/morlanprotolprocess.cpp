#include "club/morlanprotolprocess.h"

#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "device/lfmodule.h"
#include "device/rfconnector.h"
#include "device/SDKHelp.h"
#include "device/serialcommport.h"
#include "device/serialio.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSerialPort>

#include <algorithm>

namespace {

constexpr int kPassMs = 10;
// Longer than the slowest exchange in flight (a late refusal at both printers
// takes about 11 s), so the thread always leaves before its members die.
constexpr int kStopWaitMs = 30000;
// A mode switch normally completes within one pass; a print may be in
// progress, retried at the second printer address. Past this the caller
// (often the GUI thread) goes on and the switch happens later.
constexpr int kSwitchWaitMs = 15000;
constexpr int kSyncTimeoutMs = 10000;
constexpr int kWatchdogPeriodMs = 5000;
const char kWatchdogTag[] = "comm:60000";
// Pending bytes are written before a close; Qt drops them otherwise.
constexpr int kCloseFlushMs = 1000;

constexpr int kConnectorBaud = 115200;
constexpr int kClubBaud = 9600;
constexpr int kConnectorPollMs = 50;
// The PC slave looks at the line every millisecond; an idle line costs one
// sleep a pass, a request is read as it arrives.
constexpr int kCommPollMs = 1;
// A PC line whose cable was pulled is opened again this often until it is back.
constexpr int kCommReopenMs = 100;
constexpr int kConnectRetryMs = 1000;
// A port that does not open is tried again after this pause, as the module
// link does: each try makes and removes a lock file.
constexpr int kOpenRetryMs = 1000;
// Without a configured connector the link only looks again at the setting.
constexpr int kChannelModeRecheckMs = 1000;
constexpr int kReadersChanged = 0x1;
// Idle mode has nothing to serve: it sleeps until another mode is requested,
// waking only to feed the watchdog; this bounds each sleep.
constexpr int kIdleRecheckMs = 60000;

} // namespace

MorlanProtocolProcess::MorlanProtocolProcess(const QString &port, QObject *parent)
    : QThread(parent)
    , portName(port)
    , syncTimeoutMs(kSyncTimeoutMs)
    , switchWaitMs(kSwitchWaitMs)
{
}

MorlanProtocolProcess::~MorlanProtocolProcess()
{
    // The owner stops the thread first; this only makes sure no member dies
    // under a running thread.
    requestExit();
    if (!QThread::wait(kStopWaitMs))
        ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess: stop timeout!"));
}

void MorlanProtocolProcess::switchWorkMode(int mode, bool wait)
{
    if (currentMode == Exit || exitRequested)
        return;
    requestedMode = mode;
    wakeUp.ring();
    if (!wait)
        return;
    for (int waited = 0; currentMode != mode && currentMode != Exit; waited += kPassMs) {
        if (waited >= switchWaitMs) {
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess::switchWorkMode timeout!"));
            return;
        }
        HardwareControl::wait(kPassMs);
    }
}

int MorlanProtocolProcess::getWorkMode() const
{
    return requestedMode;
}

void MorlanProtocolProcess::requestExit()
{
    if (currentMode == Exit)
        return;
    exitRequested = true;
    requestedMode = Exit;
    wakeUp.ring();
}

bool MorlanProtocolProcess::isConnectorReady()
{
    QMutexLocker lock(&stateMutex);
    return connectorReady;
}

bool MorlanProtocolProcess::isValid() const
{
    return portOpen && isRunning();
}

QString MorlanProtocolProcess::getAuthKey()
{
    QMutexLocker lock(&stateMutex);
    return authed ? QString::fromLatin1(authKey.toHex().toUpper()) : QString();
}

QString MorlanProtocolProcess::getRouterId()
{
    QMutexLocker lock(&stateMutex);
    return QString::fromLatin1(routerParams.mid(4, 4).toHex().toUpper());
}

void MorlanProtocolProcess::startReadTag()
{
    queueCommand(MorlanCmdItem{{}, ReadTag, {}}, false);
}

void MorlanProtocolProcess::startSetRandom(QSharedPointer<SemaphoreEx> sem)
{
    queueCommand(MorlanCmdItem{sem, SetRandom, {}}, false);
}

void MorlanProtocolProcess::askReadTag(const QSharedPointer<ClubReadTicket> &ticket)
{
    queueCommand(MorlanCmdItem{{}, ReadTag, {}, ticket}, false);
}

void MorlanProtocolProcess::askSetRandom(const QSharedPointer<ClubReadTicket> &ticket)
{
    queueCommand(MorlanCmdItem{{}, SetRandom, {}, ticket}, false);
}

void MorlanProtocolProcess::startPrint(const QString &text, QSharedPointer<SemaphoreEx> sem)
{
    queueCommand(MorlanCmdItem{sem, Print, text.toUtf8()}, false);
}

void MorlanProtocolProcess::startSetTime(qint64 utcMs, QSharedPointer<SemaphoreEx> sem)
{
    queueCommand(MorlanCmdItem{sem, SetTime, toByteArray(utcMs)}, true);
}

void MorlanProtocolProcess::startGetTime(QSharedPointer<SemaphoreEx> sem)
{
    queueCommand(MorlanCmdItem{sem, GetTime, {}}, true);
}

void MorlanProtocolProcess::startGetTimeStatus(QSharedPointer<SemaphoreEx> sem)
{
    queueCommand(MorlanCmdItem{sem, GetTimeStatus, {}}, true);
}

void MorlanProtocolProcess::queueCommand(const MorlanCmdItem &item, bool front)
{
    if (front)
        cmdQueue.pushFront(item);
    else
        cmdQueue.pushBack(item);
    wakeUp.ring(); // an idle club mode takes it at its next tick
}

void MorlanProtocolProcess::setKeepAlive(bool on)
{
    routerWatch = on;
    wakeUp.ring();
}

QVariant MorlanProtocolProcess::callSync(int type, const QByteArray &data, bool front)
{
    auto sem = QSharedPointer<SemaphoreEx>::create();
    queueCommand(MorlanCmdItem{sem, type, data}, front);
    cmdQueue.await(sem, syncTimeoutMs);
    if (sem->getErrorCode() != 0)
        throw VexException(sem->getErrorCode(), sem->getMsg(), sem->getDetail());
    return sem->getResult();
}

void MorlanProtocolProcess::printSync(const QString &text)
{
    callSync(Print, text.toUtf8(), false);
}

void MorlanProtocolProcess::setTimeSync(qint64 utcMs)
{
    callSync(SetTime, toByteArray(utcMs), true);
}

qint64 MorlanProtocolProcess::getTimeSync()
{
    return callSync(GetTime, {}, true).toLongLong();
}

int MorlanProtocolProcess::getTimeStatusSync()
{
    return callSync(GetTimeStatus, {}, true).toInt();
}

void MorlanProtocolProcess::onShowTip(QString tip)
{
    emit showTip(tip);
}

void MorlanProtocolProcess::run()
{
    QSerialPort port;
    port.setPortName(Platform::path(portName));
    bool openFailureLogged = false;
    int lastMode = -1;
    while (true) {
        feedWatchdog();
        HardwareControl::wait(kPassMs);
        const int mode = requestedMode;
        if (mode == Exit)
            break;
        if (mode != lastMode)
            openFailureLogged = false;
        lastMode = mode;
        try {
            runPass(&port, mode, &openFailureLogged);
        } catch (const VexException &) {
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess::run VexException!"));
        } catch (...) {
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess::run UnknowException!"));
        }
    }
    closePort(&port);
    currentMode = Exit;
    Storage::destroy();
}

void MorlanProtocolProcess::runPass(QSerialPort *port, int mode, bool *openFailureLogged)
{
    // The port is set up before the mode is published, so a caller waiting
    // for idle finds the line closed when its wait returns.
    const bool ready = setupPort(port, mode);
    currentMode = mode;
    if (!ready) {
        if (!*openFailureLogged) {
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess: open %1 failed: %2")
                                      .arg(port->portName(), port->errorString()));
            *openFailureLogged = true;
        }
        stayInMode(mode, kOpenRetryMs);
        return;
    }
    *openFailureLogged = false;
    switch (mode) {
    case CommSlave:
        runCommMode(port);
        break;
    case ClubMaster:
        runInClubMode(port);
        break;
    case Normal:
        runNormalMode(port);
        break;
    default:
        // Idle: nothing to serve until another mode is requested.
        stayInMode(mode, kIdleRecheckMs);
        break;
    }
}

bool MorlanProtocolProcess::setupPort(QSerialPort *port, int mode)
{
    closePort(port);
    int baud = 0;
    if (mode == Normal)
        baud = kConnectorBaud;
    else if (mode == ClubMaster || mode == CommSlave)
        baud = kClubBaud;
    else
        return true;
    port->setBaudRate(baud);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite))
        return false;
    portOpen = true;
    return true;
}

void MorlanProtocolProcess::closePort(QSerialPort *port)
{
    if (!port->isOpen())
        return;
    portOpen = false;
    if (port->bytesToWrite() > 0)
        port->waitForBytesWritten(kCloseFlushMs);
    port->close();
}

void MorlanProtocolProcess::feedWatchdog()
{
    const qint64 now = UTC::now().value();
    const qint64 since = now - lastWatchdogFeed;
    // A clock stepped backwards counts as due too.
    if (since > kWatchdogPeriodMs || since < -kWatchdogPeriodMs) {
        lastWatchdogFeed = now;
        HardwareControl::flushWatchdog(QString::fromLatin1(kWatchdogTag));
    }
}

bool MorlanProtocolProcess::stayInMode(int mode, int ms)
{
    // A mode request rings the sleep; otherwise it lasts until the end or
    // the next watchdog feed, whichever comes first.
    const QDeadlineTimer end(ms);
    while (requestedMode == mode) {
        feedWatchdog();
        if (end.hasExpired())
            return true;
        wakeUp.sleepFor(std::clamp<qint64>(qMin(end.remainingTime(), msUntilWatchdogFeed()), 1, ms));
    }
    return false;
}

qint64 MorlanProtocolProcess::msUntilWatchdogFeed() const
{
    return lastWatchdogFeed + kWatchdogPeriodMs + 1 - UTC::now().value();
}

int MorlanProtocolProcess::readParam(const QString &key, int defaultValue)
{
    if (paramReader)
        return paramReader(key, defaultValue);
    return ServiceFactory::getParamInt32(key, defaultValue);
}

void MorlanProtocolProcess::runNormalMode(QSerialPort *port)
{
    // A line that hung up (the connector unplugged) is given back to run(),
    // which opens the port afresh; polling the dead line would never recover.
    while (requestedMode == Normal && !SerialIo::lineLost(port)) {
        const int channelMode = readParam(QStringLiteral("channelMode"), 0);
        if (channelMode == 1 || channelMode == 2) {
            runConnector(port, channelMode == 1 ? 0 : 1);
            continue;
        }
        // No connector is configured: keep the line as it is (a reopen or a
        // parameter read every pass would cost for nothing) and look at the
        // setting again now and then.
        stayInMode(Normal, kChannelModeRecheckMs);
    }
}

void MorlanProtocolProcess::publishConnector(RFConnector *rfConnector, bool ready)
{
    QMutexLocker lock(&stateMutex);
    connector = rfConnector;
    connectorReady = ready;
}

void MorlanProtocolProcess::runConnector(QSerialPort *port, quint8 address)
{
    RFConnector rfConnector(port);
    rfConnector.address = address;
    publishConnector(&rfConnector, false);
    // Withdraw the published pointer before the connector dies, whichever
    // way this function is left.
    struct Unpublish {
        MorlanProtocolProcess *process;
        ~Unpublish() { process->publishConnector(nullptr, false); }
    } unpublish{this};

    while (requestedMode == Normal && !SerialIo::lineLost(port)) {
        feedWatchdog();
        HardwareControl::wait(kPassMs);
        try {
            rfConnector.connect();
        } catch (const VexException &) {
            stayInMode(Normal, kConnectRetryMs);
            continue;
        }
        publishConnector(&rfConnector, true);
        try {
            pollConnector(&rfConnector);
        } catch (const VexException &) {
            // Connect afresh: the records not yet removed come again.
        }
        QMutexLocker lock(&stateMutex);
        rfConnector.disconnect();
        connectorReady = false;
    }
}

void MorlanProtocolProcess::pollConnector(RFConnector *rfConnector)
{
    while (requestedMode == Normal) {
        feedWatchdog();
        HardwareControl::wait(kConnectorPollMs);
        PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo;
        if (!bo)
            continue; // nobody to hand readings to: they stay in the reader
        QList<LFCHANNEL_INFO> channels;
        QList<LFTAG_INFO> tags;
        const int flags = rfConnector->syncStatus(channels, tags);
        if (flags & kReadersChanged)
            bo->cacheChannels(channels);
        if (tags.isEmpty())
            continue;
        for (LFTAG_INFO &tag : tags)
            bo->notifyTagScaned(&tag);
        rfConnector->removeRecords();
    }
}

QByteArray MorlanProtocolProcess::toByteArray(qint64 value)
{
    QByteArray bytes(8, '\0');
    SDKHelp::toBytes(static_cast<long long>(value), reinterpret_cast<unsigned char *>(bytes.data()));
    return bytes;
}

void MorlanProtocolProcess::publishSlaver(MorlanSlaverHandler *handler)
{
    QMutexLocker lock(&stateMutex);
    slaverHandler = handler;
}

void MorlanProtocolProcess::runCommMode(QSerialPort *port)
{
    // One handler per stay: the session key, working copies and lists of the
    // PC service start empty each time comm mode is entered.
    SerialCommPort commPort(port);
    MorlanSlaverHandler handler(&commPort);
    handler.setCallback(this);
    publishSlaver(&handler);
    struct Unpublish {
        MorlanProtocolProcess *process;
        ~Unpublish() { process->publishSlaver(nullptr); }
    } unpublish{this};

    while (requestedMode == CommSlave) {
        feedWatchdog();
        HardwareControl::wait(kCommPollMs);
        if (SerialIo::lineLost(port)) {
            // The PC's cable was pulled: the old line never comes back, a new
            // open reaches the one plugged in. The session stays; the PC
            // carries on where it was.
            reopenCommLine(port);
            continue;
        }
        // A failed request gets no answer; the PC asks again.
        try {
            handler.parseRequest();
        } catch (const VexException &) {
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess::runCommMode VexException!"));
        } catch (...) {
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess::runCommMode UnknowException!"));
        }
    }
}

void MorlanProtocolProcess::reopenCommLine(QSerialPort *port)
{
    ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess: PC line lost, reopening"));
    closePort(port);
    port->clearError();
    while (requestedMode == CommSlave && !setupPort(port, CommSlave)) {
        port->clearError();
        stayInMode(CommSlave, kCommReopenMs);
    }
}
