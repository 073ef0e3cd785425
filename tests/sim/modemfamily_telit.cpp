#include "modemfamily.h"
#include "modemsession.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <memory>

// The Telit family: one data context ("#SGACT"), sockets by connection
// number opened in command mode (answer OK, data announced by "SRING:", read
// with "#SRECV:" and the raw bytes) or in online mode ("CONNECT", then raw
// bytes both ways until "+++"), "> " as the data prompt, GPS as "$GPSACP:",
// the "#GTP:" cell location, and a clock that reads UTC only after
// "AT#CCLKMODE=1".

namespace {

constexpr int kFirstConnection = 1;
constexpr int kLastConnection = 6;
constexpr int kCommandMode = 1;
constexpr qint64 kLocalOffsetSec = 2 * 3600; // the network's local time before the clock mode

// What the program set that only this family knows of.
struct TelitSettings
{
    bool clockInUtc = false;
};

void contextSettings(ModemSession &s, const QByteArray &args)
{
    s.state.apn = ModemSession::fields(args).value(2);
    s.ok();
}

void closeAll(ModemSession &s)
{
    for (int id = kFirstConnection; id <= kLastConnection; ++id)
        s.closeSocket(id);
}

void context(ModemSession &s, const QByteArray &args)
{
    const QList<QByteArray> f = ModemSession::fields(args);
    const bool on = f.value(1) == "1";
    if (!on) {
        s.state.contextActive = false;
        closeAll(s);
        s.ok();
    } else if (s.state.contextActive || !s.state.activationSucceeds) {
        s.error();
    } else {
        s.state.contextActive = true;
        s.line("#SGACT: 10.64.1.2");
        s.ok();
    }
}

void contextQuery(ModemSession &s, const QByteArray &)
{
    s.line(QByteArray("#SGACT: 1,") + (s.state.contextActive ? '1' : '0'));
    s.ok();
}

void socketDial(ModemSession &s, const QByteArray &args)
{
    // <connection>,<protocol>,<port>,<host>[,<closure>,<local port>,<mode>]
    const QList<QByteArray> f = ModemSession::fields(args);
    const int id = f.value(0).toInt();
    const bool commandMode = f.size() >= 7 && f.value(6).toInt() == kCommandMode;
    if (f.size() < 4 || id < kFirstConnection || id > kLastConnection || !s.state.contextActive
        || s.createSocket(id) < 0) {
        s.error();
        return;
    }
    if (!s.connectSocket(id, f.value(3), f.value(2).toInt())) {
        s.closeSocket(id);
        s.error();
        return;
    }
    if (commandMode) {
        s.ok();
        return;
    }
    s.line("CONNECT");
    s.goOnline(id);
}

void sendData(ModemSession &s, const QByteArray &args)
{
    s.promptSocketData(args, "\r\n> ", [](ModemSession &m, int id, int, const QByteArray &data) {
        if (m.writeSocket(id, data))
            m.ok();
        else
            m.error();
    });
}

void receiveData(ModemSession &s, const QByteArray &args)
{
    int id = 0;
    QByteArray data;
    int count = 0;
    if (!s.takeSocketRead(args, &id, &data, &count))
        return;
    s.line("#SRECV: " + QByteArray::number(id) + ',' + QByteArray::number(count));
    if (!data.isEmpty())
        s.send(data + "\r\n");
    s.ok();
}

// The state's RMC sentence as the module's own fix report:
// <time>,<lat><N|S>,<lon><E|W>,<hdop>,<alt>,<fix>,<course>,<km/h>,<knots>,<date>,<satellites>.
QByteArray acquiredPosition(const QByteArray &rmc)
{
    const QList<QByteArray> f = rmc.split(',');
    if (f.size() < 10 || f.at(2) != "A")
        return ",,,,,1,,,,,";
    return f.at(1) + ',' + f.at(3) + f.at(4) + ',' + f.at(5) + f.at(6) + ",1.0,120.0,3," + f.at(8) + ",0.0,"
        + f.at(7) + ',' + f.at(9) + ",08";
}

void readPosition(ModemSession &s, const QByteArray &)
{
    s.line("$GPSACP: " + (s.state.gpsOn ? acquiredPosition(s.state.gpsSentence) : QByteArray(",,,,,1,,,,,")));
    s.ok();
}

// The state's cell location is the text after "#GTP:" ("<lat>,<lon>,<alt>,<accuracy>").
void locate(ModemSession &s, const QByteArray &)
{
    if (s.state.cellLocation.isEmpty()) {
        s.error();
        return;
    }
    s.line("#GTP: " + s.state.cellLocation);
    s.ok();
}

// The network time is the state's clock (yy/MM/dd,hh:mm:ss+zz, read as UTC)
// or the host clock; the modem shows it as local time (two hours ahead,
// zone +08 quarter hours) until the clock mode puts it on UTC. A state clock
// that is no such time is answered as it stands.
QByteArray modemClock(const QByteArray &stateClock, bool inUtc)
{
    const QString format = QStringLiteral("yy/MM/dd,hh:mm:ss");
    QDateTime utc = QDateTime::currentDateTimeUtc();
    if (!stateClock.isEmpty()) {
        // "yy" reads as 19yy.
        const QDate day = QDate::fromString(QString::fromLatin1(stateClock.left(8)), QStringLiteral("yy/MM/dd")).addYears(100);
        const QTime time = QTime::fromString(QString::fromLatin1(stateClock.mid(9, 8)), QStringLiteral("hh:mm:ss"));
        if (!day.isValid() || !time.isValid())
            return stateClock;
        utc = QDateTime(day, time, Qt::UTC);
    }
    if (inUtc)
        return utc.toString(format).toLatin1() + "+00";
    return utc.addSecs(kLocalOffsetSec).toString(format).toLatin1() + "+08";
}

} // namespace

ModemFamily telitModemFamily()
{
    auto settings = std::make_shared<TelitSettings>();
    ModemFamily f;
    f.name = QStringLiteral("telit");
    f.commands = {
        {"AT#CCLKMODE=", [settings](ModemSession &s, const QByteArray &args) {
             settings->clockInUtc = args.trimmed() == "1";
             s.ok();
         }},
        {"AT+CCLK?", [settings](ModemSession &s, const QByteArray &) {
             s.line("+CCLK: \"" + modemClock(s.state.clock, settings->clockInUtc) + '"');
             s.ok();
         }},
        {"AT+CGDCONT=", contextSettings},
        {"AT#SCFG=", modemJustOk},
        {"AT#GTPEN=", modemJustOk},
        {"AT#SGACT=", context},
        {"AT#SGACT?", contextQuery},
        {"AT#SD=", socketDial},
        {"AT#SSENDEXT=", sendData},
        {"AT#SRECV=", receiveData},
        {"AT#SH=", modemCloseSocket},
        {"AT$GPSP=", modemGpsSwitch},
        {"AT$GPSACP", readPosition},
        {"AT#GTP", locate},
    };
    f.announceData = [](ModemSession &s, int socket, int) {
        s.announce("SRING: " + QByteArray::number(socket));
    };
    return f;
}
