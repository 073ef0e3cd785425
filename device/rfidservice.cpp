#include "device/rfidservice.h"

#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSerialPort>

namespace {
constexpr int kPollMs = 100;
constexpr int kStopWaitMs = 5000;     // destructor: a poll and a disconnect take far less
constexpr qint64 kWatchdogMs = 5000;
constexpr int kChannelListBit = 0x200;
// Counts past these are no list a module keeps: a garbled answer, not days
// of reading.
constexpr quint32 kMaxChannels = 255;
constexpr quint32 kMaxTags = 65535;
// A module clock before 2020-01-01 00:00 UTC has lost its time.
constexpr qint64 kEarliestModuleTimeMs = 1577836800000LL;
const char kNoRace[] = "00000000";

[[noreturn]] void formatError()
{
    throw VexException(263, QStringLiteral("Response format error!"), QString());
}
} // namespace

RFIDService::RFIDService(const QString &port, int mode, QObject *parent)
    : QThread(parent)
    , portName(port)
    , raceMode(mode)
{
}

RFIDService::~RFIDService()
{
    requestExit();
    wait(kStopWaitMs);
}

void RFIDService::setTiming(const Timing &value)
{
    timing = value;
}

void RFIDService::requestExit()
{
    exitRequested = true;
    exitWake.ring();
}

void RFIDService::setRaceMode(int mode)
{
    raceMode = mode;
}

int RFIDService::getRaceMode() const
{
    return raceMode;
}

void RFIDService::requestVerifyDevTime()
{
    writeModuleTime = true;
}

void RFIDService::requestVerifyRfTime()
{
    readModuleTime = true;
}

void RFIDService::setPendingModuleMode(quint8 mode)
{
    pendingModuleMode = mode;
}

unsigned short RFIDService::getRfDevType() const
{
    QMutexLocker lock(&mutex);
    return devType;
}

QString RFIDService::getModuleId() const
{
    QMutexLocker lock(&mutex);
    return moduleId;
}

bool RFIDService::isValid() const
{
    if (!isRunning())
        return false;
    QMutexLocker lock(&mutex);
    return connected;
}

void RFIDService::repairModule() {}

PigeonBo *RFIDService::engine()
{
    return ServiceFactory::getInstance()->pigeonBo;
}

void RFIDService::run()
{
    // The port and the module belong to this thread alone.
    QSerialPort serial;
    serial.setPortName(Platform::path(portName));
    LFInnerModule module(&serial);
    try {
        HardwareControl::RfOn();
        sleepUnlessExit(timing.powerOnDelayMs);
        while (!exitRequested) {
            try {
                doLoop(module);
            } catch (const VexException &) {
                ServiceFactory::debug(QStringLiteral("RFIDService::run VexException!"));
            } catch (...) {
                ServiceFactory::debug(QStringLiteral("RFIDService::run UnknowException!"));
            }
            if (exitRequested)
                break;
            if (module.isConnected()) {
                module.disconnect();
                publish(module);
            }
            sleepUnlessExit(timing.reconnectDelayMs);
        }
        Storage::destroy();
        ServiceFactory::debug(QStringLiteral("RFIDService Exit!"));
        if (module.isConnected()) {
            module.disconnect();
            publish(module);
        }
        serial.close();
        HardwareControl::RfOff();
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("RFIDService::run UnknowException!"));
    }
}

void RFIDService::doLoop(LFInnerModule &module)
{
    module.connect();
    publish(module);
    const int mode = raceMode;
    module.startRace(QString::fromLatin1(kNoRace), static_cast<unsigned int>(mode));
    ServiceFactory::debug(QStringLiteral("startRace:") + QLatin1String(kNoRace) + QStringLiteral(",raceMode=")
                          + QString::number(mode));
    while (!exitRequested) {
        doTick(module);
        HardwareControl::wait(kPollMs);
        flushWatchdog();
    }
    ServiceFactory::debug(QStringLiteral("RFIDService Exit doLoop!"));
}

void RFIDService::doTick(LFInnerModule &module)
{
    serveModuleMode(module);
    hostInfo.time = UTC::now().value();
    hostInfo.flags = raceMode;
    serveTimeFlags(module);

    RFMODULE_INFO answer;
    module.exchangeInfo(&hostInfo, &answer);
    if ((hostInfo.flags & kChannelListBit) && answer.channelVer != hostInfo.channelVer)
        readChannels(module, answer);
    if (hostInfo.flags != 0 && answer.tagVer != hostInfo.tagVer)
        readTags(module, answer);
}

void RFIDService::serveModuleMode(LFInnerModule &module)
{
    quint8 mode = pendingModuleMode.load();
    if (mode == 0)
        return;
    // A failure leaves the request set for the next connection.
    if (mode == 1 || mode == 2)
        module.syncMode(mode);
    // A request written meanwhile is kept for the next poll.
    pendingModuleMode.compare_exchange_strong(mode, 0);
}

void RFIDService::serveTimeFlags(LFInnerModule &module)
{
    // Each flag is taken before its command goes out, so a request made while
    // the command is on the line stays for the next poll; a failed command
    // puts its flag back.
    if (writeModuleTime.exchange(false)) {
        ServiceFactory::debug(QStringLiteral("setTime to RF:") + QString::number(hostInfo.time));
        try {
            module.setTime(hostInfo.time);
        } catch (...) {
            writeModuleTime = true;
            throw;
        }
    }
    if (readModuleTime.exchange(false)) {
        qint64 moduleTime = 0;
        try {
            moduleTime = module.getTime();
        } catch (...) {
            readModuleTime = true;
            throw;
        }
        ServiceFactory::debug(QStringLiteral("getTime from RF:") + QString::number(moduleTime));
        if (moduleTime < kEarliestModuleTimeMs)
            ServiceFactory::debug(QStringLiteral("RFIDService: module time refused:") + QString::number(moduleTime));
        else
            UTC::setTime(moduleTime, false);
    }
}

void RFIDService::readChannels(LFInnerModule &module, const RFMODULE_INFO &answer)
{
    if (answer.channelCount > kMaxChannels)
        formatError();
    QList<LFCHANNEL_INFO> channels;
    for (quint32 i = 0; i < answer.channelCount; ++i) {
        if (exitRequested)
            return; // the version stays: the list was not read whole
        LFCHANNEL_INFO channel;
        module.getChannel(i, &channel);
        channels.append(channel);
    }
    hostInfo.channelVer = answer.channelVer;
    if (PigeonBo *bo = engine())
        bo->cacheChannels(channels);
}

void RFIDService::readTags(LFInnerModule &module, const RFMODULE_INFO &answer)
{
    if (answer.tagCount > kMaxTags)
        formatError();
    for (quint32 i = 0; i < answer.tagCount; ++i) {
        if (exitRequested)
            return;
        LFTAG_INFO tag;
        module.getTag(i, &tag);
        // Handed on at once: a failure later in the list must not hold back
        // the readings already fetched.
        if (PigeonBo *bo = engine())
            bo->notifyTagScaned(&tag);
    }
    hostInfo.tagVer = answer.tagVer;
}

void RFIDService::flushWatchdog()
{
    const qint64 now = UTC::now().value();
    if (now - lastWatchdog > kWatchdogMs || lastWatchdog - now > kWatchdogMs) {
        lastWatchdog = now;
        HardwareControl::flushWatchdog(QStringLiteral("rfid:60000"));
    }
}

void RFIDService::publish(const LFInnerModule &module)
{
    QMutexLocker lock(&mutex);
    moduleId = module.getModuleId();
    devType = module.getRfDevType();
    connected = module.isConnected();
}

void RFIDService::sleepUnlessExit(int ms)
{
    // The exit request rings the sleep: no slices to wake for meanwhile.
    const QDeadlineTimer end(ms);
    while (!exitRequested && !end.hasExpired())
        exitWake.sleepFor(end.remainingTime());
}
