#include "gsm/ec25gsmmodule.h"

#include "core/utc.h"
#include "core/vexexception.h"
#include "gsm/gsmhttp.h"
#include "gsm/modemanswer.h"
#include "gsm/socketaddress.h"

namespace {

constexpr int kApnMs = 1000;
constexpr int kActivateMs = 10000;
constexpr int kDeactivateMs = 42000;
constexpr int kTokenMs = 5000;
constexpr int kLocTimeoutSetMs = 2000;
constexpr int kOpenOkMs = 15000;
constexpr int kOpenResultMs = 15000;
constexpr int kSendPromptTries = 1000;
constexpr int kSendDoneMs = 5000;
constexpr int kPassPauseMs = 200;
constexpr int kReadDataMs = 2000;
constexpr int kReadOkMs = 5000;
constexpr int kGpsConfigMs = 3000;
constexpr int kGpsOnMs = 10000;
constexpr int kGpsOffMs = 2000;
constexpr int kRmcAnswerMs = 2000;
constexpr int kLocAnswerMs = 10000;
constexpr int kLocOkMs = 2000;
constexpr int kClockAnswerMs = 1000;
constexpr int kDateBytes = 10;
constexpr int kTimeBytes = 8;

} // namespace

Ec25GsmModule::Ec25GsmModule() = default;
Ec25GsmModule::~Ec25GsmModule() = default;

bool Ec25GsmModule::_init()
{
    return true;
}

void Ec25GsmModule::setAPN(QByteArray apn, QByteArray user, QByteArray password)
{
    requireQuotableApn(apn, user, password);
    sendCommand("AT+QICSGP=1,1,\"" + apn + "\",\"" + user + "\",\"" + password + "\",0");
    waitOKLine(kApnMs, true);
    setFlags(0x004);
}

bool Ec25GsmModule::activeNet()
{
    if (!_activeNet(QStringLiteral("AT+QIACT=1"), kActivateMs))
        return false;
    // Without the token the cell position is never asked for (flag 0x002).
    sendCommand(QByteArray("AT+QLBSCFG=\"token\",\"") + kLocationToken + '"');
    if (waitOKLine(kTokenMs, false)) {
        setFlags(0x002);
        sendCommand("AT+QLBSCFG=\"timeout\",10");
        waitOKLine(kLocTimeoutSetMs, false);
    }
    return true;
}

void Ec25GsmModule::deactiveNet()
{
    _deactiveNet(QStringLiteral("AT+QIDEACT=1"), kDeactivateMs);
}

bool Ec25GsmModule::closeSocket()
{
    // The command ends the whole data context, not only the socket: the state
    // must say so, or the next upload would open a socket without a context.
    const bool ok = _closeSocket(QStringLiteral("AT+QIDEACT=1"), kDeactivateMs);
    clearFlags(0x008 | 0x400);
    socketId = -1;
    return ok;
}

bool Ec25GsmModule::_openSocket(QByteArray address, bool)
{
    SocketAddress target;
    if (!SocketAddress::parse(address, &target))
        return false;
    sendCommand("AT+QIOPEN=1,0,\"TCP\",\"" + target.host + "\"," + target.port + ",0");
    waitOKLine(kOpenOkMs, false);
    const QList<QByteArray> fields = waitResponseLine("+QIOPEN:", kOpenResultMs, false).split(',');
    if (fields.size() != 2)
        return false;
    bool ok = false;
    const int error = fields.at(1).toInt(&ok);
    return ok && error == 0;
}

bool Ec25GsmModule::sendTcpData(QByteArray data)
{
    return sendAfterPrompt(QString::asprintf("AT+QISEND=0,%d", int(data.size())).toLatin1(), data, kSendPromptTries,
                           "SEND OK", kSendDoneMs);
}

int Ec25GsmModule::readTcpData(QByteArray &)
{
    return 0;
}

bool Ec25GsmModule::receiveHttpResponse(GsmHttpResponse &response, int timeoutMs)
{
    response.reset();
    for (int pass = 0; pass < kReceivePasses; ++pass) {
        pause(kPassPauseMs);
        sendCommand("AT+QIRD=0,1500");
        const QByteArray answer = waitResponseLine("+QIRD:", timeoutMs, false);
        // A modem that does not answer at all will not answer the next pass
        // either: a hundred passes of the whole time-out would hold the modem
        // thread for many minutes.
        if (answer.isEmpty())
            return false;
        // The count is a decimal number, truncated.
        const int count = ModemAnswer::byteCount(answer, true, kReadChunkBytes);
        if (count < 1)
            continue;
        QByteArray chunk;
        readBytes(count, chunk, kReadDataMs);
        try {
            waitOKLine(kReadOkMs, true);
            if (!chunk.isEmpty())
                response.push(chunk);
        } catch (const VexException &) {
            return false;
        }
        if (response.isFinished())
            return true;
    }
    return false;
}

void Ec25GsmModule::configGps()
{
    sendCommand("AT+QGPSCFG=\"nmeasrc\",1");
    waitOKLine(kGpsConfigMs, true);
    sendCommand("AT+QGPS=1");
    waitOKLine(kGpsOnMs, true);
    setFlags(0x100);
}

bool Ec25GsmModule::closeGps()
{
    return switchGpsOff("AT+QGPS=0", kGpsOffMs);
}

QString Ec25GsmModule::_readGRMC()
{
    return readRmcSentence("AT+QGPSGNMEA=\"RMC\"", "+QGPSGNMEA:", QByteArray(), kRmcAnswerMs);
}

bool Ec25GsmModule::_readGPS(int *lon, int *lat, qint64 *utcMs, TimeCallback *cb)
{
    if (takeRmcFix(_readGRMC(), lon, lat, utcMs, cb))
        return true;
    *lon = 0;
    *lat = 0;
    if (utcMs)
        *utcMs = 0;
    return false;
}

bool Ec25GsmModule::_getGsmLocGps(int *lon, int *lat)
{
    *lon = 0;
    *lat = 0;
    sendCommand("AT+QLBS");
    const QByteArray answer = waitResponseLine("+QLBS:", kLocAnswerMs, false);
    waitOKLine(kLocOkMs, false);
    if (answer.isEmpty())
        return false;
    return parseGsmLocation(answer, lon, lat);
}

bool Ec25GsmModule::parseGsmLocation(QByteArray answer, int *lon, int *lat)
{
    *lon = 0;
    *lat = 0;
    const QList<QByteArray> fields = answer.split(',');
    if (fields.size() < 3)
        return false;
    bool ok = false;
    const int result = fields.at(0).trimmed().toInt(&ok);
    if (!ok || result != 0)
        return false;
    return ModemAnswer::position(fields.at(1), fields.at(2), lon, lat);
}

qint64 Ec25GsmModule::_getNetUtcTime(TimeCallback *cb)
{
    sendCommand("AT+QLTS=1");
    const QByteArray answer = waitResponseLine("+QLTS:", kClockAnswerMs, false);
    if (answer.isEmpty())
        return 0;
    // "yyyy/MM/dd,hh:mm:ss+zz,d": the time is UTC, the zone suffix is not applied.
    const QList<QByteArray> fields = answer.trimmed().replace('"', QByteArray()).split(',');
    qint64 utcMs = 0;
    if (fields.size() >= 2 && fields.at(0).size() == kDateBytes
        && (fields.at(1).contains('+') || fields.at(1).contains('-'))) {
        const QString text = QString::fromLatin1(fields.at(0) + ' ' + fields.at(1).left(kTimeBytes));
        const qint64 parsed = UTC::parseUTC(text, QStringLiteral("yyyy/MM/dd HH:mm:ss")).value();
        if (parsed != 0)
            utcMs = parsed + 500;
    }
    return finishNetTime(utcMs, cb);
}
