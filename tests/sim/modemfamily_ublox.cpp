#include "modemfamily.h"
#include "modemsession.h"
#include "nmeabuilder.h"

// The u-blox family: packet-data profile, sockets by number with "@" as the
// data prompt and quoted data in reads, GPS with aiding, cell location.

namespace {

constexpr int kAidingIndicationMs = 20;
constexpr int kLocationAnswerMs = 30;

QByteArray noFixSentence()
{
    return NmeaBuilder::sentence("GPRMC,,V,,,,,,,,,,N");
}

void profile(ModemSession &s, const QByteArray &args)
{
    const QList<QByteArray> f = ModemSession::fields(args);
    const int parameter = f.value(1).toInt();
    if (parameter == 1)
        s.state.apn = f.value(2);
    else if (parameter == 2)
        s.state.apnUser = f.value(2);
    else if (parameter == 3)
        s.state.apnPassword = f.value(2);
    s.ok();
}

void profileAction(ModemSession &s, const QByteArray &args)
{
    const int action = ModemSession::fields(args).value(1).toInt();
    if (action == 3 && s.state.activationSucceeds) {
        s.state.contextActive = true;
        s.ok();
    } else if (action == 4) {
        s.state.contextActive = false;
        s.ok();
    } else {
        s.error();
    }
}

void createSocket(ModemSession &s, const QByteArray &)
{
    const int id = s.createSocket();
    if (id < 0) {
        s.error();
        return;
    }
    int reported = id;
    if (s.fault(ModemFault::WrongSocketId, &reported))
        s.line(reported < 0 ? QByteArray("+USOCR: X") : "+USOCR: " + QByteArray::number(reported));
    else
        s.line("+USOCR: " + QByteArray::number(id));
    s.ok();
}

void connectSocket(ModemSession &s, const QByteArray &args)
{
    const QList<QByteArray> f = ModemSession::fields(args);
    if (s.connectSocket(f.value(0).toInt(), f.value(1), f.value(2).toInt()))
        s.ok();
    else
        s.error();
}

void writeSocket(ModemSession &s, const QByteArray &args)
{
    s.promptSocketData(args, "@", [](ModemSession &m, int id, int count, const QByteArray &data) {
        if (!m.writeSocket(id, data)) {
            m.error();
            return;
        }
        m.line("+USOWR: " + QByteArray::number(id) + ',' + QByteArray::number(count));
        m.ok();
    });
}

void readSocket(ModemSession &s, const QByteArray &args)
{
    int id = 0;
    QByteArray data;
    int count = 0;
    if (!s.takeSocketRead(args, &id, &data, &count))
        return;
    const QByteArray shown = s.fault(ModemFault::UnquotedData) ? data : '"' + data + '"';
    s.send("\r\n+USORD: " + QByteArray::number(id) + ',' + QByteArray::number(count) + ',' + shown + "\r\n");
    s.ok();
}

void closeSocket(ModemSession &s, const QByteArray &args)
{
    const int id = ModemSession::fields(args).value(0).toInt();
    if (!s.socketExists(id)) {
        s.error();
        return;
    }
    s.closeSocket(id);
    s.ok();
}

void gpsPower(ModemSession &s, const QByteArray &args)
{
    const QList<QByteArray> f = ModemSession::fields(args);
    s.state.gpsOn = f.value(0) == "1";
    s.ok();
    if (s.state.gpsOn && f.value(1).toInt() != 0)
        s.announce("+UUGIND: 2,0", kAidingIndicationMs);
}

void readRmc(ModemSession &s, const QByteArray &)
{
    const QByteArray sentence = s.state.gpsSentence.isEmpty() ? noFixSentence() : s.state.gpsSentence;
    s.line("+UGRMC: 1," + sentence);
    s.ok();
}

void locate(ModemSession &s, const QByteArray &)
{
    if (s.state.cellLocation.isEmpty()) {
        s.error();
        return;
    }
    s.ok();
    s.announce("+UULOC: " + s.state.cellLocation, kLocationAnswerMs);
}

} // namespace

ModemFamily ubloxModemFamily()
{
    ModemFamily f;
    f.name = QStringLiteral("ublox");
    f.commands = {
        {"AT+UGPRF=", modemJustOk},
        {"AT+UPSD=", profile},
        {"AT+UPSDA=", profileAction},
        {"AT+USOCR=", createSocket},
        {"AT+USOCO=", connectSocket},
        {"AT+USOWR=", writeSocket},
        {"AT+USORD=", readSocket},
        {"AT+USOCL=", closeSocket},
        {"AT+UGIND=", modemJustOk},
        {"AT+UGPS=", gpsPower},
        {"AT+UGRMC=", modemJustOk},
        {"AT+UGRMC?", readRmc},
        {"AT+ULOC=", locate},
    };
    f.announceData = [](ModemSession &s, int socket, int pending) {
        s.announce("+UUSORD: " + QByteArray::number(socket) + ',' + QByteArray::number(pending));
    };
    f.announceClosed = [](ModemSession &s, int socket) {
        s.announce("+UUSOCL: " + QByteArray::number(socket));
    };
    return f;
}
