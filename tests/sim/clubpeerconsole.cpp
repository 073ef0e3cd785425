#include "clubpeerconsole.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "connectorreader.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace {

const QString kOk = QStringLiteral("ok");

QString error(const QString &text)
{
    return QStringLiteral("error: ") + text;
}

bool number(const QString &text, qint64 *out)
{
    bool ok = false;
    *out = text.startsWith(QLatin1String("0x")) ? text.mid(2).toLongLong(&ok, 16) : text.toLongLong(&ok);
    return ok;
}

QByteArray hexBytes(const QString &text)
{
    return QByteArray::fromHex(text.toLatin1());
}

} // namespace

ClubPeerConsole::ClubPeerConsole(ClubPortPeer *clubPeer)
    : peer(clubPeer)
{
}

QString ClubPeerConsole::help()
{
    return QStringLiteral(
        "commands (numbers decimal or 0x hex; bytes as hex text):\n"
        "  ring RING [RAND] [UID] [EXTID]  present a ring at the connector reader\n"
        "  reader ID [TYPE] [STATUS]     add a reader (antenna) to the connector\n"
        "  reader-status INDEX STATUS     set a reader's status (0x80: in error)\n"
        "  renumber FIRST                 clear the connector's memory, next index FIRST\n"
        "  offset MS                      connector clock minus club time\n"
        "  address N                      connector device address (0 or 1)\n"
        "  cfault COMMAND KIND [VALUE] [TIMES]  connector fault; COMMAND: devno status record\n"
        "                                 remove reader transponder any; KIND: silent late trickle\n"
        "                                 badcrc status short none\n"
        "  router-ring RING [RAND] | none present a ring at the router's reader, or take it away\n"
        "  router-clock [YYYY-MM-DDThh:mm:ss]  set (UTC) or show the router's clock\n"
        "  router-hour on|off             the one-hour flag of the router's time answer\n"
        "  router-status N                the router's time-status byte\n"
        "  router-id ID                   the router id (4 bytes) in its parameter block\n"
        "  router-auth CODE KEY           the router's authorisation code and key\n"
        "  printer 0x54|0x22 STATUS       a printer refuses with STATUS (0 accepts)\n"
        "  printed                        \"printed N\", then the N lines printed so far\n"
        "  answer CMD STATUS [DATA]       fixed router answer to a command byte\n"
        "  fault CMD|next:N KIND [VALUE]  router fault; KIND: refuse silence late echo badsum\n"
        "                                 cut start raw none\n"
        "  role auto|connector|router     pin the role (auto: from the line speed)\n"
        "  pacing on|off                  real line pacing\n"
        "  state                          line state, opens, closes, frames, records\n"
        "  quit");
}

QString ClubPeerConsole::execute(const QString &line, bool *quit)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    const QString verb = words.first().toLower();
    ConnectorReader &reader = peer->connector();
    qint64 a = 0;
    qint64 b = 0;
    if (verb == QLatin1String("quit")) {
        *quit = true;
        return kOk;
    }
    if (verb == QLatin1String("help"))
        return help();
    if (verb == QLatin1String("ring") && words.size() >= 2) {
        const qint64 rand = words.size() > 2 && number(words[2], &a) ? a : 0;
        const QByteArray uid = words.size() > 3 ? hexBytes(words[3]) : QByteArray(4, '\0');
        const QByteArray ext = words.size() > 4 ? hexBytes(words[4]) : QByteArray(4, '\0');
        return QStringLiteral("record %1").arg(reader.addRecord(hexBytes(words[1]), quint16(rand), uid, ext));
    }
    if (verb == QLatin1String("reader") && words.size() >= 2) {
        ConnectorReader::ReaderEntry entry;
        entry.id = hexBytes(words[1]);
        if (words.size() > 2 && number(words[2], &a))
            entry.type = quint16(a);
        if (words.size() > 3 && number(words[3], &b))
            entry.status = quint8(b);
        reader.addReader(entry);
        return kOk;
    }
    if (verb == QLatin1String("reader-status") && words.size() == 3 && number(words[1], &a) && number(words[2], &b)) {
        reader.setReaderStatus(int(a), quint8(b));
        return kOk;
    }
    if (verb == QLatin1String("renumber") && words.size() == 2 && number(words[1], &a)) {
        reader.renumber(quint32(a));
        return kOk;
    }
    if (verb == QLatin1String("offset") && words.size() == 2 && number(words[1], &a)) {
        reader.setClockOffset(a);
        return kOk;
    }
    if (verb == QLatin1String("address") && words.size() == 2 && number(words[1], &a)) {
        reader.setAddress(quint8(a));
        return kOk;
    }
    if (verb == QLatin1String("cfault"))
        return connectorFault(words);
    if (verb == QLatin1String("answer") && words.size() >= 3 && number(words[1], &a) && number(words[2], &b)) {
        peer->setAnswer(quint8(a), quint8(b), words.size() > 3 ? hexBytes(words[3]) : QByteArray());
        return kOk;
    }
    if (verb == QLatin1String("fault"))
        return routerFault(words);
    bool handled = false;
    const QString routerAnswer = routerState(verb, words, &handled);
    if (handled)
        return routerAnswer;
    if (verb == QLatin1String("role") && words.size() == 2) {
        static const QHash<QString, ClubPortPeer::Role> roles{{QStringLiteral("auto"), ClubPortPeer::Role::Auto},
                                                               {QStringLiteral("connector"), ClubPortPeer::Role::Connector},
                                                               {QStringLiteral("router"), ClubPortPeer::Role::Router}};
        if (!roles.contains(words[1]))
            return error(QStringLiteral("unknown role"));
        peer->setRole(roles.value(words[1]));
        return kOk;
    }
    if (verb == QLatin1String("pacing") && words.size() == 2) {
        peer->setPacing(words[1] == QLatin1String("on"));
        return kOk;
    }
    if (verb == QLatin1String("state")) {
        const PeerLine::Settings settings = peer->lineSettings();
        return QStringLiteral("open=%1 baud=%2 8n1=%3 opens=%4 closes=%5 frames=%6 commands=%7 records=%8")
            .arg(peer->clockEndOpen() ? 1 : 0)
            .arg(settings.baud)
            .arg(settings.eightNOne ? 1 : 0)
            .arg(peer->openCount())
            .arg(peer->closeCount())
            .arg(peer->frames().size())
            .arg(reader.received().size())
            .arg(reader.recordCount());
    }
    return error(QStringLiteral("unknown command, try help"));
}

QString ClubPeerConsole::connectorFault(const QStringList &words)
{
    static const QHash<QString, int> commands{{QStringLiteral("devno"), ConnectorReader::DeviceNumber},
                                              {QStringLiteral("status"), ConnectorReader::Status},
                                              {QStringLiteral("record"), ConnectorReader::Record},
                                              {QStringLiteral("remove"), ConnectorReader::Remove},
                                              {QStringLiteral("reader"), ConnectorReader::Reader},
                                              {QStringLiteral("transponder"), ConnectorReader::Transponder},
                                              {QStringLiteral("any"), ConnectorReader::AnyCommand}};
    if (words.size() < 3 || !commands.contains(words[1]))
        return error(QStringLiteral("cfault COMMAND KIND [VALUE] [TIMES]"));
    const int command = commands.value(words[1]);
    const QString kind = words[2];
    qint64 value = 0;
    if (words.size() > 3 && !number(words[3], &value))
        return error(QStringLiteral("bad value"));
    ConnectorReader::Fault fault;
    qint64 times = -1;
    if (words.size() > 4 && number(words[4], &times))
        fault.times = int(times);
    if (kind == QLatin1String("none")) {
        peer->connector().clearFault(command);
        return kOk;
    }
    if (kind == QLatin1String("silent"))
        fault.silent = true;
    else if (kind == QLatin1String("late"))
        fault.delayMs = int(value);
    else if (kind == QLatin1String("trickle"))
        fault.gapMs = int(value);
    else if (kind == QLatin1String("badcrc"))
        fault.badCrc = true;
    else if (kind == QLatin1String("status"))
        fault.status = int(value);
    else if (kind == QLatin1String("short"))
        fault.dataBytes = int(value);
    else
        return error(QStringLiteral("unknown fault"));
    peer->connector().setFault(command, fault);
    return kOk;
}

QString ClubPeerConsole::routerFault(const QStringList &words)
{
    static const QHash<QString, ClubPortPeer::Fault::Kind> kinds{
        {QStringLiteral("refuse"), ClubPortPeer::Fault::Refuse},   {QStringLiteral("silence"), ClubPortPeer::Fault::Silence},
        {QStringLiteral("late"), ClubPortPeer::Fault::Late},       {QStringLiteral("echo"), ClubPortPeer::Fault::WrongEcho},
        {QStringLiteral("badsum"), ClubPortPeer::Fault::BadSum},   {QStringLiteral("cut"), ClubPortPeer::Fault::CutOff},
        {QStringLiteral("start"), ClubPortPeer::Fault::WrongStart}, {QStringLiteral("raw"), ClubPortPeer::Fault::Raw},
        {QStringLiteral("none"), ClubPortPeer::Fault::None}};
    if (words.size() < 3 || !kinds.contains(words[2]))
        return error(QStringLiteral("fault CMD|next:N KIND [VALUE]"));
    ClubPortPeer::Fault fault;
    fault.kind = kinds.value(words[2]);
    qint64 value = 0;
    if (fault.kind == ClubPortPeer::Fault::Raw)
        fault.raw = words.size() > 3 ? hexBytes(words[3]) : QByteArray();
    else if (words.size() > 3 && number(words[3], &value))
        fault.value = int(value);
    qint64 target = 0;
    if (words[1].startsWith(QLatin1String("next:")) && number(words[1].mid(5), &target)) {
        peer->setNextFaults(int(target), fault);
        return kOk;
    }
    if (!number(words[1], &target))
        return error(QStringLiteral("bad command byte"));
    peer->setCommandFault(quint8(target), fault);
    return kOk;
}

QString ClubPeerConsole::routerState(const QString &verb, const QStringList &words, bool *handled)
{
    ClubRouter &router = peer->router();
    qint64 a = 0;
    *handled = true;
    if (verb == QLatin1String("router-ring") && words.size() >= 2) {
        if (words[1] == QLatin1String("none")) {
            router.takeRingAway();
            return kOk;
        }
        const QByteArray ring = hexBytes(words[1]);
        if (ring.size() != 4)
            return error(QStringLiteral("a ring number is 4 bytes"));
        router.presentRing(ring, quint8(words.size() > 2 && number(words[2], &a) ? a : 0));
        return kOk;
    }
    if (verb == QLatin1String("router-clock")) {
        if (words.size() == 1)
            return QStringLiteral("clock ")
                + QDateTime::fromMSecsSinceEpoch(router.clock(), Qt::UTC).toString(Qt::ISODate);
        QDateTime time = QDateTime::fromString(words[1], Qt::ISODate);
        time.setTimeSpec(Qt::UTC);
        if (!time.isValid())
            return error(QStringLiteral("router-clock YYYY-MM-DDThh:mm:ss"));
        router.setClock(time.toMSecsSinceEpoch());
        return kOk;
    }
    if (verb == QLatin1String("router-hour") && words.size() == 2) {
        router.setOneHourFlag(words[1] == QLatin1String("on"));
        return kOk;
    }
    if (verb == QLatin1String("router-status") && words.size() == 2 && number(words[1], &a)) {
        router.setTimeStatus(quint8(a));
        return kOk;
    }
    if (verb == QLatin1String("router-id") && words.size() == 2) {
        router.setRouterId(hexBytes(words[1]));
        return kOk;
    }
    if (verb == QLatin1String("router-auth") && words.size() == 3 && number(words[1], &a)) {
        router.setAuthorisation(quint8(a), hexBytes(words[2]));
        return kOk;
    }
    qint64 status = 0;
    if (verb == QLatin1String("printer") && words.size() == 3 && number(words[1], &a) && number(words[2], &status)) {
        if (a != ClubRouter::kPrinter && a != ClubRouter::kSecondPrinter)
            return error(QStringLiteral("the printers are 0x54 and 0x22"));
        router.setPrinterRefusal(quint8(a), quint8(status));
        return kOk;
    }
    if (verb == QLatin1String("printed")) {
        QStringList lines = router.printedLines();
        lines.replaceInStrings(QRegularExpression(QStringLiteral("^\\f$")), QStringLiteral("---- form feed ----"));
        return (QStringList{QStringLiteral("printed %1").arg(lines.size())} + lines).join(QLatin1Char('\n'));
    }
    *handled = false;
    return QString();
}
