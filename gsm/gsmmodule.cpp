#include "gsm/gsmmodule.h"

#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/serialcommport.h"
#include "gsm/attext.h"
#include "gsm/gsmclock.h"
#include "gsm/gsmhttp.h"
#include "gsm/gsmservicecallback.h"
#include "gsm/nmearmc.h"
#include "gsm/smspdu.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QSerialPort>

namespace {

constexpr qint32 kBaudRate = 115200;
constexpr int kPollMs = 10;
constexpr int kCharPollMs = 1;
constexpr int kCommandGapMs = 10;
constexpr int kCancelPauseMs = 500;
constexpr int kMaxWaitLines = 10;
constexpr int kAnswerMs = 4000;
constexpr int kOperatorMs = 30000;
constexpr int kSmsPromptTries = 2000;
constexpr int kSmsAnswerMs = 15000;
constexpr int kHttpAnswerMs = 15000;
constexpr int kCloseDrainMs = 500;
constexpr int kMaxDrainBytes = 64 * 1024;
constexpr qint64 kLocCacheMs = 86400000;
constexpr char kCtrlZ = 0x1A;

bool isMarkedError(const QByteArray &line)
{
    return line == "ERROR" || line.startsWith("+CMEERROR:");
}

} // namespace

GsmModule::GsmModule()
    : clock(GsmClock::system())
{
}

GsmModule::~GsmModule()
{
    if (port)
        clear();
    dropPort();
}

void GsmModule::fail(int code, const char *message)
{
    throw GsmException(code, QString::fromLatin1(message), QString());
}

void GsmModule::attachPort(std::unique_ptr<CommPort> p)
{
    dropPort();
    port = std::move(p);
}

void GsmModule::setClock(GsmClock *c)
{
    clock = c ? c : GsmClock::system();
}

void GsmModule::pause(int ms)
{
    clock->wait(ms);
}

qint64 GsmModule::tickMs() const
{
    return clock->tickMs();
}

// --- port ---------------------------------------------------------------

void GsmModule::open(const QString &device)
{
    dropPort();
    serial = std::make_unique<QSerialPort>();
    serial->setPortName(Platform::path(device));
    serial->setBaudRate(kBaudRate);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::HardwareControl);
    port = std::make_unique<SerialCommPort>(serial.get());
    if (!port->open()) {
        ServiceFactory::debug(QStringLiteral("GsmModule::open ") + device + QStringLiteral(": ") + serial->errorString());
        dropPort();
        fail(257, "GSM open port error!");
    }
}

void GsmModule::close()
{
    dropPort();
}

void GsmModule::dropPort()
{
    if (serial && serial->isOpen() && serial->bytesToWrite() > 0)
        serial->waitForBytesWritten(kCloseDrainMs); // Qt drops what is still queued
    if (port)
        port->close();
    port.reset();
    serial.reset();
}

bool GsmModule::isOpen() const
{
    return port && port->isOpen();
}

// A vanished USB node shows as QSerialPort's resource error (EIO), a hung-up
// line as its read error (end of file); either way no answer can come, so a
// wait on such a port ends at once, as if its time ran out.
bool GsmModule::portFailed() const
{
    if (!port || !port->isOpen())
        return true;
    if (!serial)
        return false;
    const QSerialPort::SerialPortError error = serial->error();
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
}

void GsmModule::clear()
{
    if (port && port->isOpen())
        port->clear();
}

void GsmModule::requestExit()
{
    exitRequested = true;
}

void GsmModule::sendBytes(const QByteArray &bytes)
{
    if (!port || !port->sendBytes(bytes))
        ServiceFactory::debug(QStringLiteral("GsmModule::sendBytes failed!"));
}

void GsmModule::sendCommand(const QByteArray &command)
{
    // Whatever is pending belongs to an earlier command: discard it so that a
    // late answer can never satisfy this command's wait.
    pause(kCommandGapMs);
    clear();
    sendBytes(command + '\r');
}

QByteArray GsmModule::readBytes()
{
    QByteArray out;
    if (port && port->isOpen())
        port->receiveBytes(&out, kMaxDrainBytes);
    return out;
}

void GsmModule::readBytes(int count, QByteArray &out, int timeoutMs)
{
    const qint64 start = clock->tickMs();
    int elapsed = 0;
    int got = 0;
    while (got < count) {
        if (exitRequested)
            fail(259, "GSM exit!");
        // Only idle time counts toward the time-out; a slow trickle ends at
        // twice the time-out on the monotonic clock.
        if (elapsed > timeoutMs || clock->tickMs() - start > 2LL * timeoutMs || portFailed())
            fail(259, "GSM read byte timeout!");
        const int n = port->receiveBytes(&out, qMin(count - got, kMaxCollectBytes));
        if (n > 0) {
            got += n;
        } else {
            pause(kPollMs);
            elapsed += kPollMs;
        }
    }
}

// --- line reading and waits ---------------------------------------------

GsmModule::Read GsmModule::nextLine(int timeoutMs, int mode, QByteArray &line)
{
    line.clear();
    if (timeoutMs <= 0)
        return Read::TimedOut;
    const qint64 start = clock->tickMs();
    int elapsed = 0;
    while (!exitRequested) {
        if (portFailed())
            return Read::TimedOut;
        unsigned char c = 0;
        if (!port->receiveByte(&c)) {
            pause(kPollMs);
            elapsed += kPollMs;
        } else if (c == '\n') {
            if (!line.isEmpty())
                return Read::Done;
        } else if (c != '\r' && !((mode & kPrintableOnly) && (c <= 0x20 || c >= 0x7F))) {
            if ((mode & kUpperCase) && c >= 'a' && c <= 'z')
                c = uchar(c - 0x20);
            // A babbling modem must not grow the line for ever.
            if (line.size() < kMaxCollectBytes)
                line.append(char(c));
        }
        if (elapsed >= timeoutMs || clock->tickMs() - start >= 2LL * timeoutMs)
            return Read::TimedOut;
    }
    return Read::Exit;
}

GsmModule::Read GsmModule::nextLineForWait(int timeoutMs, QByteArray &line)
{
    const Read r = nextLine(timeoutMs, kUpperCase | kPrintableOnly, line);
    if (r == Read::Exit)
        fail(259, "GSM exit!");
    return r;
}

QByteArray GsmModule::readLine(int timeoutMs, int mode)
{
    QByteArray line;
    switch (nextLine(timeoutMs, mode, line)) {
    case Read::Done:
        return line;
    case Read::Exit:
        fail(259, "GSM exit!");
    case Read::TimedOut:
        break;
    }
    fail(259, "GSM response timeout!");
}

bool GsmModule::waitOKLine(int timeoutMs, bool throwOnError)
{
    QByteArray line;
    for (int i = 0; i < kMaxWaitLines; ++i) {
        if (nextLineForWait(timeoutMs, line) == Read::TimedOut) {
            if (throwOnError)
                fail(259, "GSM response timeout!");
            return false;
        }
        if (line == "OK")
            return true;
        if (isMarkedError(line)) {
            if (throwOnError)
                fail(769, "GSM response ERROR!");
            return false;
        }
    }
    if (throwOnError)
        fail(259, "gsm no OK response!");
    return false;
}

QByteArray GsmModule::waitResponseLine(const QByteArray &prefix, int timeoutMs, bool throwOnError)
{
    const QByteArray wanted = prefix.toUpper();
    QByteArray line;
    for (int i = 0; i < kMaxWaitLines; ++i) {
        if (nextLineForWait(timeoutMs, line) == Read::TimedOut) {
            if (throwOnError)
                fail(259, "GSM response timeout!");
            return QByteArray();
        }
        if (isMarkedError(line)) {
            if (throwOnError)
                fail(769, "GSM response ERROR!");
            return QByteArray();
        }
        if (line == "OK") {
            if (throwOnError)
                fail(769, "GSM no OK response!");
            return QByteArray();
        }
        if (line.startsWith(wanted))
            return line.mid(wanted.size());
    }
    if (throwOnError)
        fail(769, "GSM response err!");
    return QByteArray();
}

bool GsmModule::readUntil(QByteArray marker, int timeoutMs, QByteArray &before, bool throwOnTimeout)
{
    if (marker.isEmpty())
        return true;
    marker = marker.toUpper();
    QByteArray collected;
    const qint64 start = clock->tickMs();
    int elapsed = 0;
    while (elapsed < timeoutMs && !exitRequested && clock->tickMs() - start < 2LL * timeoutMs && !portFailed()) {
        pause(kPollMs);
        unsigned char c = 0;
        if (!port->receiveByte(&c)) {
            elapsed += kPollMs;
            continue;
        }
        collected.append(char(c >= 'a' && c <= 'z' ? c - 0x20 : c));
        // Keep only the tail: the marker is still found, the buffer stays small.
        if (collected.size() > kMaxCollectBytes)
            collected.remove(0, collected.size() - kMaxCollectBytes);
        if (collected.endsWith(marker)) {
            before = collected.left(collected.size() - marker.size());
            return true;
        }
    }
    if (throwOnTimeout)
        fail(769, "GSM receive timeout!");
    return false;
}

bool GsmModule::waitUntil(const QByteArray &marker, int timeoutMs, bool throwOnTimeout)
{
    QByteArray discarded;
    return readUntil(marker, timeoutMs, discarded, throwOnTimeout);
}

void GsmModule::waitChar(char c, int tries)
{
    for (int i = 0; i < tries && !portFailed(); ++i) {
        // A prompt may be waited for seconds; shutdown does not wait with it.
        if (exitRequested)
            fail(259, "GSM exit!");
        pause(kCharPollMs);
        unsigned char b = 0;
        if (port->receiveByte(&b) && char(b) == c)
            return;
    }
    fail(259, "GSM receive timeout!");
}

// A prompt that does not come leaves the modem collecting text: Ctrl-Z ends
// that before the operation gives up.
bool GsmModule::waitCharOrCancel(char c, int tries)
{
    try {
        waitChar(c, tries);
        return true;
    } catch (const VexException &) {
        sendCommand(QByteArray(1, kCtrlZ));
        pause(kCancelPauseMs);
        return false;
    }
}

// --- state record -------------------------------------------------------

GsmState GsmModule::getState() const
{
    QMutexLocker lock(&stateMutex);
    return state;
}

quint32 GsmModule::flags() const
{
    QMutexLocker lock(&stateMutex);
    return state.flags;
}

void GsmModule::setFlags(quint32 bits)
{
    QMutexLocker lock(&stateMutex);
    state.flags |= bits;
}

void GsmModule::clearFlags(quint32 bits)
{
    QMutexLocker lock(&stateMutex);
    state.flags &= ~bits;
}

void GsmModule::setCsq(int csq)
{
    QMutexLocker lock(&stateMutex);
    state.csq = csq;
}

void GsmModule::setCell(const QByteArray &lac, const QByteArray &cellId)
{
    QMutexLocker lock(&stateMutex);
    state.lac = lac;
    state.cellId = cellId;
}

// --- common operations --------------------------------------------------

void GsmModule::init()
{
    {
        QMutexLocker lock(&stateMutex);
        state.flags = 0;
        state.csq = 0;
    }
    echoOff();
    ServiceFactory::debug(QStringLiteral("Gsm echo off!"));
    _init();
    setFlags(0x010);
}

bool GsmModule::testAT()
{
    sendCommand("AT");
    return waitOKLine(kAnswerMs, true);
}

bool GsmModule::echoOff()
{
    sendCommand("ATE0");
    return waitOKLine(kAnswerMs, true);
}

bool GsmModule::echoOn()
{
    sendCommand("ATE1");
    return waitOKLine(kAnswerMs, true);
}

bool GsmModule::setSmsMode(int mode)
{
    sendCommand(mode == 0 ? "AT+CMGF=0" : "AT+CMGF=1");
    return waitOKLine(kAnswerMs, true);
}

int GsmModule::getCsq()
{
    sendCommand("AT+CSQ");
    const QByteArray answer = waitResponseLine("+CSQ:", kAnswerMs, true);
    waitOKLine(kAnswerMs, true);
    return answer.split(',').value(0).toInt();
}

void GsmModule::checkNetReg()
{
    sendCommand("AT+CREG?");
    const QByteArray answer = waitResponseLine("+CREG:", kAnswerMs, true);
    waitOKLine(kAnswerMs, true);
    const QList<QByteArray> fields = answer.split(',');
    if (fields.size() < 2) {
        const QString text = QString::fromLatin1(answer);
        throw GsmException(770, QStringLiteral("GPRS response error:") + text,
                           QCoreApplication::translate("ExceptionResource", "GPRS response error:") + text);
    }
    // The status is the second field (the first is the report mode).
    const int status = fields.at(1).toInt();
    if (status == 1 || status == 5) {
        setFlags(0x020 | 0x040);
        setCsq(getCsq());
    } else if (status == 2) {
        setCsq(0);
        clearFlags(0x040 | 0x008 | 0x400);
        setFlags(0x020);
        locCacheUntil = 0;
    } else {
        locCacheUntil = 0;
        setCsq(0);
        clearFlags(0x020 | 0x040 | 0x008 | 0x400);
    }
    // fromHex skips the quotes around the codes.
    if (fields.size() >= 4)
        setCell(QByteArray::fromHex(fields.at(2)), QByteArray::fromHex(fields.at(3)));
    else
        setCell(QByteArray(), QByteArray());
}

bool GsmModule::selectNet(QByteArray operatorCode)
{
    if (operatorCode.isEmpty()) {
        sendCommand("AT+COPS=0");
    } else {
        if (!AtText::quotable("operator code", operatorCode))
            fail(769, "GSM response ERROR!");
        sendCommand("AT+COPS=4,2,\"" + operatorCode + '"');
    }
    return waitOKLine(kOperatorMs, true);
}

bool GsmModule::sendPDUSms(QByteArray number, QString text)
{
    if (!SmsPdu::accepts(number, text))
        return false;
    setSmsMode(0);
    sendCommand(QString::asprintf("AT+CMGS=%d", SmsPdu::tpduLength(number, text)).toLatin1());
    waitChar('>', kSmsPromptTries);
    sendCommand(SmsPdu::build(number, text) + kCtrlZ);
    return waitOKLine(kSmsAnswerMs, false);
}

bool GsmModule::sendTextSmsBody(const QByteArray &number, const QByteArray &text)
{
    if (!AtText::quotable("SMS number", number))
        return false;
    const QByteArray clean = AtText::withoutControls(text);
    setSmsMode(1);
    sendCommand("AT+CMGS=\"" + number + '"');
    if (!waitCharOrCancel('>', kSmsPromptTries))
        return false;
    sendCommand(clean + kCtrlZ);
    return true;
}

bool GsmModule::sendTXTSms(QByteArray number, QByteArray text)
{
    if (!sendTextSmsBody(number, text))
        return false;
    if (waitResponseLine("+CMGS:", kSmsAnswerMs, false).isEmpty())
        return false;
    return waitOKLine(kSmsAnswerMs, false);
}

bool GsmModule::_activeNet(QString command, int timeoutMs)
{
    sendCommand(command.toLatin1());
    if (!waitOKLine(timeoutMs, false)) {
        clearFlags(0x008 | 0x400);
        return false;
    }
    ServiceFactory::debug(QStringLiteral("_activeNet OK!"));
    setFlags(0x008);
    return true;
}

void GsmModule::_deactiveNet(QString command, int timeoutMs)
{
    if (!command.isEmpty()) {
        sendCommand(command.toLatin1());
        waitOKLine(timeoutMs, false);
    }
    clearFlags(0x008 | 0x400);
    socketId = -1;
}

bool GsmModule::_closeSocket(QString command, int timeoutMs)
{
    sendCommand(command.toLatin1());
    return waitOKLine(timeoutMs, false);
}

bool GsmModule::openSocket(QByteArray address)
{
    const bool ok = _openSocket(address, false);
    if (ok)
        setFlags(0x400);
    else
        clearFlags(0x400);
    return ok;
}

bool GsmModule::getNetUtcTime(TimeCallback *cb)
{
    if (_getNetUtcTime(cb) == 0)
        return false;
    setFlags(0x800);
    return true;
}

qint64 GsmModule::getGsmLocTime(TimeCallback *)
{
    return 0;
}

int GsmModule::readGPS(int *lon, int *lat, qint64 *utcMs, TimeCallback *cb)
{
    if (utcMs)
        *utcMs = 0;
    *lon = 0;
    *lat = 0;
    if (!_readGPS(lon, lat, utcMs, cb)) {
        locCacheUntil = 0;
        return 0;
    }
    return (flags() & 0x208) == 0x208 ? 2 : 1;
}

int GsmModule::readGsmLoc(int *lon, int *lat)
{
    *lon = 0;
    *lat = 0;
    const qint64 now = UTC::now().value();
    if (now < locCacheUntil) {
        *lon = locLon;
        *lat = locLat;
        return 4 + 8;
    }
    if ((flags() & 0x00A) == 0x00A && _getGsmLocGps(lon, lat)) {
        locLon = *lon;
        locLat = *lat;
        locCacheUntil = now + kLocCacheMs;
        return 4;
    }
    locCacheUntil = 0;
    return 0;
}

bool GsmModule::requestHttp(const GsmHttpRequest &request, GsmHttpResponse &response)
{
    if (!AtText::httpToken("HTTP host", request.host) || !AtText::httpToken("HTTP path", request.path))
        return false;
    if (!sendTcpData(request.createHttpPacket())) {
        ServiceFactory::debug(QStringLiteral("sendTcpData failed!"));
        return false;
    }
    if (!receiveHttpResponse(response, kHttpAnswerMs)) {
        ServiceFactory::debug(QStringLiteral("receiveHttpResponse failed!"));
        return false;
    }
    return true;
}

int GsmModule::gsmLocToInt(double degrees)
{
    return static_cast<int>(degrees * 3600 * 1000);
}

bool GsmModule::parseGRMC(const QString &sentence, int *lon, int *lat, qint64 *utcMs)
{
    if (utcMs)
        *utcMs = 0;
    NmeaRmc rmc;
    if (!NmeaRmc::parse(sentence, &rmc) || !rmc.fixValid)
        return false;
    *lon = rmc.lon;
    *lat = rmc.lat;
    // Like the modem's other clock readings, the fix time gets half a second.
    if (utcMs && rmc.timeMs != 0)
        *utcMs = rmc.timeMs + 500;
    return true;
}
