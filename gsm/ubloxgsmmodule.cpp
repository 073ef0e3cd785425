#include "gsm/ubloxgsmmodule.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "gsm/attext.h"
#include "gsm/gsmhttp.h"
#include "gsm/gsmservicecallback.h"

namespace {

constexpr int kProfileMs = 5000;
constexpr int kApnMs = 500;
constexpr int kActivateMs = 20000;
constexpr int kDeactivateMs = 5000;
constexpr int kSocketCreateMs = 4000;
constexpr int kSocketOkMs = 500;
constexpr int kConnectMs = 20000;
constexpr int kCloseSocketMs = 2000;
constexpr int kWritePromptTries = 4000;
constexpr int kWriteDoneMs = 10000;
constexpr int kReadAnswerMs = 5000;
constexpr int kReadFieldMs = 500;
constexpr int kReadDataMs = 2000;
constexpr int kReadOkMs = 4000;
constexpr int kReadChunkBytes = 1024;
constexpr int kHttpPasses = 10;
constexpr int kNextDataMs = 1000;
constexpr int kGpsCommandMs = 3000;
constexpr int kGpsSwitchMs = 5000;
constexpr int kAidingMs = 15000;
constexpr int kRmcAnswerMs = 500;
constexpr int kLocOkMs = 5000;
constexpr int kLocAnswerMs = 30000;
constexpr int kClockAnswerMs = 10000;
constexpr int kSmsAnswerMs = 15000;
constexpr int kMaxSocketId = 127;
constexpr int kClockTextBytes = 22;
constexpr qint64 kQuarterHourMs = 900000;
constexpr qint64 k2015Ms = Q_INT64_C(1420070400000); // 2015-01-01 00:00:00 UTC

QByteArray command(const char *format, int a)
{
    return QString::asprintf(format, a).toLatin1();
}

// The leading decimal number of an answer; -1 when it has none.
int leadingNumber(const QByteArray &text)
{
    int n = 0;
    int digits = 0;
    while (digits < text.size() && digits < 4 && text.at(digits) >= '0' && text.at(digits) <= '9')
        n = n * 10 + (text.at(digits++) - '0');
    return digits == 0 ? -1 : n;
}

} // namespace

const char *const UbloxGsmModule::kDefaultTestHost = "modemtest.brellium.example";

UbloxGsmModule::UbloxGsmModule() = default;
UbloxGsmModule::~UbloxGsmModule() = default;

bool UbloxGsmModule::_init()
{
    const bool ok = configUGPRF();
    setFlags(0x001 | 0x002);
    return ok;
}

bool UbloxGsmModule::configUGPRF()
{
    sendCommand("AT+UGPRF=0");
    const bool ok = waitOKLine(kProfileMs, false);
    if (!ok)
        clearFlags(0x100);
    return ok;
}

void UbloxGsmModule::setAPN(QByteArray apn, QByteArray user, QByteArray password)
{
    requireQuotableApn(apn, user, password);
    sendCommand("AT+UPSD=0,1,\"" + apn + '"');
    waitOKLine(kApnMs, true);
    if (!user.isEmpty()) {
        sendCommand("AT+UPSD=0,2,\"" + user + '"');
        waitOKLine(kApnMs, true);
        sendCommand("AT+UPSD=0,3,\"" + password + '"');
        waitOKLine(kApnMs, true);
    }
    setFlags(0x004);
}

bool UbloxGsmModule::activeNet()
{
    return _activeNet(QStringLiteral("AT+UPSDA=0,3"), kActivateMs);
}

void UbloxGsmModule::deactiveNet()
{
    _deactiveNet(QStringLiteral("AT+UPSDA=0,4"), kDeactivateMs);
}

bool UbloxGsmModule::_openSocket(QByteArray address, bool)
{
    socketId = -1;
    QByteArray host = kDefaultTestHost;
    QByteArray portText = QByteArray::number(kDefaultTestPort);
    if (!address.isEmpty()) {
        const QList<QByteArray> parts = address.split(':');
        host = parts.at(0).trimmed();
        portText = parts.size() > 1 ? parts.at(1) : QByteArray("80");
    }
    if (!AtText::quotable("host", host) || !AtText::validPort("port", portText))
        return false;

    sendCommand("AT+USOCR=6");
    const QByteArray answer = waitResponseLine("+USOCR:", kSocketCreateMs, true);
    // The whole number: socket 10 and above exist, and the id is a signed byte.
    const int id = leadingNumber(answer);
    if (id < 0 || id > kMaxSocketId) {
        ServiceFactory::debug(QStringLiteral("Bad socket id:") + QString::fromLatin1(answer));
        waitOKLine(kSocketOkMs, false);
        return false;
    }
    socketId = qint8(id);
    if (!waitOKLine(kSocketOkMs, false))
        return false;
    sendCommand(command("AT+USOCO=%d,", socketId) + '"' + host + "\"," + portText);
    return waitOKLine(kConnectMs, false);
}

bool UbloxGsmModule::closeSocket()
{
    if (socketId < 0)
        return false;
    return _closeSocket(QString::asprintf("AT+USOCL=%d", socketId), kCloseSocketMs);
}

bool UbloxGsmModule::sendTcpData(QByteArray data)
{
    sendCommand(QString::asprintf("AT+USOWR=%d,%d", socketId, int(data.size())).toLatin1());
    waitChar('@', kWritePromptTries);
    if (!data.isEmpty())
        sendBytes(data);
    waitOKLine(kWriteDoneMs, true);
    return true;
}

int UbloxGsmModule::readTcpData(QByteArray &out)
{
    sendCommand(command("AT+USORD=%d,1024", socketId));
    if (!waitUntil("+USORD:", kReadAnswerMs, false))
        return 0;
    waitUntil(",", kReadFieldMs, true);
    QByteArray countText;
    readUntil(",", kReadFieldMs, countText, true);
    const int count = countText.trimmed().toInt();
    if (count == 0)
        return 0;
    // More than was asked for, or data without its quotes, is a garbled answer.
    if (count < 0 || count > kReadChunkBytes)
        fail(769, "GSM response err!");
    QByteArray quoted;
    readBytes(count + 2, quoted, kReadDataMs);
    if (!quoted.startsWith('"') || !quoted.endsWith('"'))
        fail(769, "GSM response err!");
    out = quoted.mid(1, count);
    waitOKLine(kReadOkMs, true);
    return count;
}

bool UbloxGsmModule::receiveHttpResponse(GsmHttpResponse &response, int timeoutMs)
{
    response.reset();
    const QList<QByteArray> fields = waitResponseLine("+UUSORD:", timeoutMs, false).split(',');
    if (fields.size() < 2 || fields.at(1).toInt() <= 0)
        return false;
    for (int pass = 0; pass < kHttpPasses; ++pass) {
        QByteArray chunk;
        if (readTcpData(chunk) <= 0)
            return false;
        try {
            response.push(chunk);
        } catch (const VexException &) {
            return false;
        }
        if (response.isFinished())
            return true;
        waitResponseLine("+UUSORD:", kNextDataMs, false);
    }
    return false;
}

void UbloxGsmModule::configGps()
{
    _configAGps();
}

bool UbloxGsmModule::closeGps()
{
    return switchGpsOff("AT+UGPS=0", kGpsSwitchMs);
}

void UbloxGsmModule::_configAGps()
{
    closeGps();
    sendCommand("AT+UGIND=1");
    if (!waitOKLine(kGpsCommandMs, false))
        return;
    sendCommand("AT+UGPS=1,3");
    if (waitOKLine(kGpsSwitchMs, false))
        setFlags(0x100 | 0x200);
    waitResponseLine("+UUGIND:2", kAidingMs, false);
}

bool UbloxGsmModule::_configGps()
{
    closeGps();
    sendCommand("AT+UGRMC=1");
    if (!waitOKLine(kGpsCommandMs, false))
        return false;
    sendCommand("AT+UGIND=0");
    if (!waitOKLine(kGpsCommandMs, false))
        return false;
    sendCommand("AT+UGPS=1,0");
    if (!waitOKLine(kGpsSwitchMs, false))
        return false;
    setFlags(0x100);
    return true;
}

QString UbloxGsmModule::_readGRMC()
{
    return readRmcSentence("AT+UGRMC?", "+UGRMC:", "1,", kRmcAnswerMs);
}

bool UbloxGsmModule::_readGPS(int *lon, int *lat, qint64 *utcMs, TimeCallback *cb)
{
    return takeRmcFix(_readGRMC(), lon, lat, utcMs, cb);
}

bool UbloxGsmModule::queryLocation(CellLocation *where)
{
    sendCommand("AT+ULOC=2,2,0,30,8000");
    // Indoors the service is often refused: that is no reason to restart the modem.
    if (!waitOKLine(kLocOkMs, false))
        return false;
    const QList<QByteArray> fields = waitResponseLine("+UULOC:", kLocAnswerMs, false).split(',');
    if (fields.size() < 6)
        return false;
    const QString text = QString::fromLatin1(fields.at(0) + ' ' + fields.at(1));
    const qint64 fieldsMs = UTC::parseUTC(text, QStringLiteral("dd/MM/yyyy HH:mm:ss.zzz")).value();
    const qint64 adjustMs = (qint64(ServiceFactory::GPS_UTC_ADJUST.load()) - 1) * 1000;
    const qint64 utcMs = fieldsMs + adjustMs + 500;
    // An unreadable time (0) falls below the limit as well.
    if (utcMs <= k2015Ms)
        return false;
    // Single precision, as the module's own figures are: double gives other values.
    const float latitude = fields.at(2).toFloat() * 3600000.0f;
    const float longitude = fields.at(3).toFloat() * 3600000.0f;
    where->utcMs = utcMs;
    where->lat = static_cast<int>(latitude);
    where->lon = static_cast<int>(longitude);
    return true;
}

bool UbloxGsmModule::_getGsmLocGps(int *lon, int *lat)
{
    *lon = 0;
    *lat = 0;
    CellLocation where;
    if (!queryLocation(&where))
        return false;
    *lon = where.lon;
    *lat = where.lat;
    return true;
}

qint64 UbloxGsmModule::getGsmLocTime(TimeCallback *cb)
{
    CellLocation where;
    if (!queryLocation(&where))
        return 0;
    if (cb)
        cb->onTime(where.utcMs, 3);
    return where.utcMs;
}

qint64 UbloxGsmModule::_getNetUtcTime(TimeCallback *cb)
{
    sendCommand("AT+CCLK?");
    const QByteArray answer = waitResponseLine("+CCLK:", kClockAnswerMs, false);
    if (answer.isEmpty())
        return 0;
    ServiceFactory::debug(QStringLiteral("cclk:") + QString::fromLatin1(answer));
    // The module gives local time and its zone in quarter hours: yy/MM/dd,hh:mm:ss+zz.
    const QByteArray text = "20" + answer.trimmed().replace('"', QByteArray()).replace(',', ' ');
    qint64 utcMs = 0;
    if (text.size() == kClockTextBytes && (text.contains('+') || text.contains('-'))) {
        const qint64 fieldsMs = UTC::parseUTC(QString::fromLatin1(text.left(19)), QStringLiteral("yyyy/MM/dd HH:mm:ss")).value();
        bool zoneOk = false;
        const int quarters = text.right(3).toInt(&zoneOk);
        if (fieldsMs != 0 && zoneOk)
            utcMs = fieldsMs + 500 - quarters * kQuarterHourMs;
    }
    return finishNetTime(utcMs, cb);
}

bool UbloxGsmModule::sendTXTSms(QByteArray number, QByteArray text)
{
    if (!sendTextSmsBody(number, text))
        return false;
    // The "+CMGS:" line comes before the OK and is passed over.
    return waitOKLine(kSmsAnswerMs, false);
}
