#include "modemfamily.h"
#include "modemsession.h"
#include "nmeabuilder.h"

#include <QDateTime>

// The Quectel EC25 family: one data context that "AT+QIDEACT=1" ends together
// with its sockets, sockets opened by connection number with the result in a
// "+QIOPEN:" line after the OK, "> " as the data prompt and "SEND OK" after
// the data, reads answered "+QIRD: <count>" and the raw bytes, GPS as NMEA
// through "+QGPSGNMEA:", the "+QLBS:" cell location and the "+QLTS:" clock.

namespace {

constexpr int kMaxConnection = 11;
constexpr int kOpenResultMs = 10;
// Error codes of the "+QIOPEN:" line.
constexpr int kSocketInUse = 563;
constexpr int kNoContext = 561;
constexpr int kConnectFailed = 566;
constexpr int kGpsNotActive = 505;

void contextSettings(ModemSession &s, const QByteArray &args)
{
    const QList<QByteArray> f = ModemSession::fields(args);
    s.state.apn = f.value(2);
    s.state.apnUser = f.value(3);
    s.state.apnPassword = f.value(4);
    s.ok();
}

void activate(ModemSession &s, const QByteArray &)
{
    if (!s.state.activationSucceeds) {
        s.error();
        return;
    }
    s.state.contextActive = true;
    s.ok();
}

// Ends the context and every socket in it, whichever operation sends it.
void deactivate(ModemSession &s, const QByteArray &)
{
    s.state.contextActive = false;
    for (int id = 0; id <= kMaxConnection; ++id)
        s.closeSocket(id);
    s.ok();
}

void openSocket(ModemSession &s, const QByteArray &args)
{
    // 1,<connection>,"TCP",<host>,<port>,<access mode>
    const QList<QByteArray> f = ModemSession::fields(args);
    const int id = f.value(1).toInt();
    if (f.size() < 5 || f.value(2) != "TCP" || id < 0 || id > kMaxConnection) {
        s.error();
        return;
    }
    s.ok();
    int result = 0;
    if (s.socketExists(id)) {
        result = kSocketInUse;
    } else if (!s.state.contextActive) {
        result = kNoContext;
    } else {
        s.createSocket(id);
        if (!s.connectSocket(id, f.value(3), f.value(4).toInt())) {
            s.closeSocket(id);
            result = kConnectFailed;
        }
    }
    s.announce("+QIOPEN: " + QByteArray::number(id) + ',' + QByteArray::number(result), kOpenResultMs);
}

void sendData(ModemSession &s, const QByteArray &args)
{
    s.promptSocketData(args, "\r\n> ", [](ModemSession &m, int id, int, const QByteArray &data) {
        m.line(m.writeSocket(id, data) ? "SEND OK" : "SEND FAIL");
    });
}

void readData(ModemSession &s, const QByteArray &args)
{
    int id = 0;
    QByteArray data;
    int count = 0;
    if (!s.takeSocketRead(args, &id, &data, &count))
        return;
    s.line("+QIRD: " + QByteArray::number(count));
    if (!data.isEmpty())
        s.send(data + "\r\n");
    s.ok();
}

void readNmea(ModemSession &s, const QByteArray &)
{
    if (!s.state.gpsOn) {
        s.cmeError(kGpsNotActive);
        return;
    }
    const QByteArray sentence = s.state.gpsSentence.isEmpty() ? NmeaBuilder::sentence("GPRMC,,V,,,,,,,,,,N")
                                                             : s.state.gpsSentence;
    s.line("+QGPSGNMEA: " + sentence);
    s.ok();
}

// The state's cell location is the text after "+QLBS:" ("0,<lon>,<lat>");
// without one the service answers an error code.
void locate(ModemSession &s, const QByteArray &)
{
    s.line("+QLBS: " + (s.state.cellLocation.isEmpty() ? QByteArray("8001") : s.state.cellLocation));
    s.ok();
}

// The network time in UTC with the zone after it; the state's clock is the
// "+CCLK:" text (yy/MM/dd,hh:mm:ss+zz), here with the century and a
// daylight-saving field.
void networkTime(ModemSession &s, const QByteArray &)
{
    const QByteArray clock = s.state.clock.isEmpty()
        ? QDateTime::currentDateTimeUtc().toString(QStringLiteral("yy/MM/dd,hh:mm:ss")).toLatin1() + "+00"
        : s.state.clock;
    s.line("+QLTS: \"20" + clock + ",0\"");
    s.ok();
}

} // namespace

ModemFamily ec25ModemFamily()
{
    ModemFamily f;
    f.name = QStringLiteral("ec25");
    f.commands = {
        {"AT+QICSGP=", contextSettings},
        {"AT+QIACT=", activate},
        {"AT+QIDEACT=", deactivate},
        {"AT+QLBSCFG=", modemJustOk},
        {"AT+QIOPEN=", openSocket},
        {"AT+QISEND=", sendData},
        {"AT+QIRD=", readData},
        {"AT+QICLOSE=", modemCloseSocket},
        {"AT+QGPSCFG=", modemJustOk},
        {"AT+QGPS=", modemGpsSwitch},
        {"AT+QGPSGNMEA=", readNmea},
        {"AT+QLBS", locate},
        {"AT+QLTS=", networkTime},
    };
    f.announceData = [](ModemSession &s, int socket, int) {
        s.announce("+QIURC: \"recv\"," + QByteArray::number(socket));
    };
    f.announceClosed = [](ModemSession &s, int socket) {
        s.announce("+QIURC: \"closed\"," + QByteArray::number(socket));
    };
    return f;
}
