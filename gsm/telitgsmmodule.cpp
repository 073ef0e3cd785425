#include "gsm/telitgsmmodule.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "gsm/attext.h"
#include "gsm/gps.h"
#include "gsm/gsmhttp.h"
#include "gsm/modemanswer.h"
#include "gsm/socketaddress.h"

#include <QStringList>

namespace {

constexpr int kStepMs = 10;
constexpr int kClockModeMs = 2000;
constexpr int kApnMs = 1000;
constexpr int kSocketConfigMs = 2000;
constexpr int kLocEnableMs = 2000;
constexpr int kActivateMs = 10000;
constexpr int kContextQueryMs = 2000;
constexpr int kDeactivateMs = 42000;
constexpr int kConnectMs = 5000;
constexpr int kCloseSocketMs = 42000;
constexpr int kSendPromptTries = 1000;
constexpr int kSendDoneMs = 5000;
constexpr int kReadAnswerMs = 5000;
constexpr int kReadFieldMs = 500;
constexpr int kReadDataMs = 2000;
constexpr int kReadOkMs = 4000;
constexpr int kFirstRingMs = 2000;
constexpr int kNextRingMs = 500;
constexpr int kEscapePauseMs = 10;
constexpr int kEscapeOkMs = 10000;
constexpr int kGpsSwitchMs = 2000;
constexpr int kGpsAnswerMs = 3000;
constexpr int kLocAnswerMs = 50000;
constexpr int kLocOkMs = 2000;
constexpr int kClockAnswerMs = 2000;
constexpr int kClockRestMs = 2000;
constexpr int kClockTextBytes = 19;
constexpr int kMinCoordinateChars = 7;

// One NMEA coordinate with its hemisphere letter ("4542.82691N"), signed.
bool coordinate(const QString &text, QChar positive, double *value)
{
    if (text.size() < kMinCoordinateChars)
        return false;
    bool ok = false;
    const double magnitude = text.left(text.size() - 1).toDouble(&ok);
    // Beyond 180 degrees the figure is garbled (and too big for the conversion).
    if (!ok || !(magnitude >= -18000.0 && magnitude <= 18000.0))
        return false;
    *value = text.at(text.size() - 1).toUpper() == positive ? magnitude : -magnitude;
    return true;
}

} // namespace

TelitGsmModule::TelitGsmModule() = default;
TelitGsmModule::~TelitGsmModule() = default;

bool TelitGsmModule::_init()
{
    // Taken in steps so that an exit request does not wait out the ten seconds.
    const qint64 start = tickMs();
    while (tickMs() - start < kStartupMs) {
        if (exitRequested)
            fail(259, "GSM exit!");
        pause(kStepMs);
    }
    // From here on the modem clock reads UTC.
    sendCommand("AT#CCLKMODE=1");
    return waitOKLine(kClockModeMs, true);
}

void TelitGsmModule::setAPN(QByteArray apn, QByteArray user, QByteArray password)
{
    if (!AtText::quotable("APN", apn))
        fail(769, "GSM response ERROR!");
    sendCommand("AT+CGDCONT=1,\"IP\",\"" + apn + '"');
    waitOKLine(kApnMs, true);
    apnUser = user;
    apnPassword = password;
    setFlags(0x004);
}

bool TelitGsmModule::activeNet()
{
    sendCommand("AT#SCFG=1,1,1500,5,50,1");
    waitOKLine(kSocketConfigMs, true);
    sendCommand("AT#GTPEN=1");
    if (waitOKLine(kLocEnableMs, false))
        setFlags(0x002);
    return _activeNet(QStringLiteral("AT#SGACT=1,1"), kActivateMs);
}

void TelitGsmModule::deactiveNet()
{
    sendCommand("AT#SGACT?");
    const QList<QByteArray> fields = waitResponseLine("#SGACT:", kContextQueryMs, false).split(',');
    bool ok = false;
    if (fields.size() >= 2 && fields.at(1).toInt(&ok) == 1 && ok)
        _deactiveNet(QStringLiteral("AT#SGACT=1,0"), kDeactivateMs);
    else
        _deactiveNet(QString(), 0);
}

bool TelitGsmModule::_openSocket(QByteArray address, bool onlineMode)
{
    SocketAddress target;
    if (!SocketAddress::parse(address, &target))
        return false;
    const QByteArray command = "AT#SD=1,0," + target.port + ",\"" + target.host + '"';
    if (!onlineMode) {
        sendCommand(command + ",0,0,1");
        return waitOKLine(kConnectMs, false);
    }
    sendCommand(command);
    if (waitResponseLine("CONNECT", kConnectMs, false).isNull()) {
        _exitOnlineMode();
        return false;
    }
    ServiceFactory::debug(QStringLiteral("Enter online mode..."));
    inOnlineMode = true;
    return true;
}

void TelitGsmModule::_exitOnlineMode()
{
    // The escape sequence counts only with a pause before it and without CR.
    pause(kEscapePauseMs);
    sendBytes("+++");
    waitOKLine(kEscapeOkMs, false);
    inOnlineMode = false;
    ServiceFactory::debug(QStringLiteral("Exit online mode!!!"));
}

bool TelitGsmModule::closeSocket()
{
    return _closeSocket(QStringLiteral("AT#SH=1"), kCloseSocketMs);
}

bool TelitGsmModule::sendTcpData(QByteArray data)
{
    if (inOnlineMode) {
        if (!data.isEmpty())
            sendBytes(data);
        return true;
    }
    return sendAfterPrompt("AT#SSENDEXT=1," + QByteArray::number(data.size()), data, kSendPromptTries, "OK",
                           kSendDoneMs);
}

int TelitGsmModule::readTcpData(QByteArray &out)
{
    sendCommand("AT#SRECV=1,1500");
    if (!waitUntil("#SRECV:", kReadAnswerMs, false))
        return 0;
    waitUntil(",", kReadFieldMs, true);
    const int count = ModemAnswer::byteCount(readLine(kReadFieldMs, kPrintableOnly), false, kReadChunkBytes);
    if (count == 0)
        return 0;
    out.clear();
    readBytes(count, out, kReadDataMs);
    waitOKLine(kReadOkMs, true);
    return count;
}

// One chunk of the answer: raw bytes in online mode, a socket read otherwise.
QByteArray TelitGsmModule::receiveChunk()
{
    if (inOnlineMode)
        return readBytes();
    QByteArray chunk;
    readTcpData(chunk);
    return chunk;
}

bool TelitGsmModule::receiveHttpResponse(GsmHttpResponse &response, int timeoutMs)
{
    response.reset();
    const bool online = inOnlineMode;
    qint64 budgetMs = timeoutMs;
    if (!online) {
        waitResponseLine("SRING:", timeoutMs, false);
        budgetMs = qint64(timeoutMs) - kFirstRingMs;
    }
    bool finished = false;
    // Each pass costs at least its nominal step, and never less than the time
    // it really took: a socket read alone may wait 5 s for a silent modem.
    while (budgetMs > 0) {
        // A socket read's wait ends on an exit request as on a time-out; left
        // to the budget, shutdown would wait out up to 13 s of empty reads.
        if (exitRequested)
            fail(259, "GSM exit!");
        const qint64 start = tickMs();
        QByteArray chunk = receiveChunk();
        if (chunk.isEmpty()) {
            budgetMs -= (tickMs() - start) + kStepMs;
            if (budgetMs < 0)
                break;
            pause(kStepMs);
            continue;
        }
        try {
            response.push(chunk);
        } catch (const VexException &) {
            break;
        }
        if (response.isFinished()) {
            finished = true;
            break;
        }
        qint64 nominalMs = 0;
        if (!online) {
            waitResponseLine("SRING:", kNextRingMs, false);
            nominalMs = kNextRingMs;
        }
        budgetMs -= qMax(nominalMs, tickMs() - start);
    }
    if (online)
        _exitOnlineMode();
    return finished;
}

void TelitGsmModule::configGps()
{
    closeGps();
    sendCommand("AT$GPSP=1");
    waitOKLine(kGpsSwitchMs, true);
    setFlags(0x100);
}

bool TelitGsmModule::closeGps()
{
    return switchGpsOff("AT$GPSP=0", kGpsSwitchMs);
}

bool TelitGsmModule::_readGPS(int *lon, int *lat, qint64 *utcMs, TimeCallback *)
{
    // This family gives no GPS time.
    if (utcMs)
        *utcMs = 0;
    sendCommand("AT$GPSACP");
    const QByteArray answer = waitResponseLine("$GPSACP:", kGpsAnswerMs, false);
    if (answer.isEmpty() || !parseGPS(QString::fromLatin1(answer), lon, lat)) {
        *lon = 0;
        *lat = 0;
        return false;
    }
    return true;
}

bool TelitGsmModule::parseGPS(QString answer, int *lon, int *lat)
{
    *lon = 0;
    *lat = 0;
    const QStringList fields = answer.split(QLatin1Char(','));
    if (fields.size() < 6)
        return false;
    const QString fix = fields.at(5).trimmed();
    if (fix != QLatin1String("2") && fix != QLatin1String("3"))
        return false;
    double north = 0;
    double east = 0;
    if (!coordinate(fields.at(1).trimmed(), QLatin1Char('N'), &north)
        || !coordinate(fields.at(2).trimmed(), QLatin1Char('E'), &east))
        return false;
    *lon = GpsModule::formatToInt(east);
    *lat = GpsModule::formatToInt(north);
    return true;
}

bool TelitGsmModule::_getGsmLocGps(int *lon, int *lat)
{
    // The service exists only once activeNet enabled it.
    if (!(flags() & 0x002))
        return false;
    sendCommand("AT#GTP");
    const QByteArray answer = waitResponseLine("#GTP:", kLocAnswerMs, false);
    if (answer.isEmpty())
        return false;
    if (!waitOKLine(kLocOkMs, false))
        return false;
    return parseGsmLocation(answer, lon, lat);
}

bool TelitGsmModule::parseGsmLocation(QByteArray answer, int *lon, int *lat)
{
    *lon = 0;
    *lat = 0;
    const QList<QByteArray> fields = answer.split(',');
    if (fields.size() < 4 || fields.at(0).trimmed().isEmpty() || fields.at(1).trimmed().isEmpty())
        return false;
    return ModemAnswer::position(fields.at(1), fields.at(0), lon, lat);
}

qint64 TelitGsmModule::_getNetUtcTime(TimeCallback *cb)
{
    sendCommand("AT+CCLK?");
    const QByteArray answer = waitResponseLine("+CCLK:", kClockAnswerMs, false);
    if (answer.isEmpty())
        return 0;
    // "yy/MM/dd,hh:mm:ss+zz" in UTC (the clock mode of _init); the zone is not used.
    const QByteArray text = "20" + answer.trimmed().replace('"', QByteArray()).replace(',', ' ');
    ServiceFactory::debug(QStringLiteral("cclk:") + QString::fromLatin1(text.left(kClockTextBytes)));
    if (text.size() < kClockTextBytes) {
        waitOKLine(kClockRestMs, false);
        return 0;
    }
    const qint64 parsed = UTC::parseUTC(QString::fromLatin1(text.left(kClockTextBytes)), QStringLiteral("yyyy/MM/dd HH:mm:ss")).value();
    const qint64 utcMs = parsed != 0 ? parsed + 500 : 0;
    return finishNetTime(utcMs, cb);
}
