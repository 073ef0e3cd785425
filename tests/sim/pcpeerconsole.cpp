#include "pcpeerconsole.h"

#include "pcpeer.h"

#include <QRandomGenerator>
#include <QStringList>

namespace {

const QString kOk = QStringLiteral("ok");

QString error(const QString &text)
{
    return QStringLiteral("error: ") + text;
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

// A binary answer in one line: its status and its data as hex.
QString describe(const PcPeer::Answer &answer)
{
    if (!answer.received)
        return error(QStringLiteral("no answer"));
    if (!answer.sumOk)
        return error(QStringLiteral("bad check byte"));
    return QStringLiteral("status %1 data %2").arg(answer.status).arg(hex(answer.data));
}

QString describe(const PcPeer::JsonReply &reply)
{
    if (!reply.answer.received || reply.answer.status != 0)
        return describe(reply.answer);
    if (!reply.tagOk)
        return error(QStringLiteral("bad tag on ")) + QString::fromUtf8(reply.text);
    return QString::fromUtf8(reply.text);
}

QString describeCall(const PcPeer::JsonReply &reply)
{
    if (!reply.answer.received)
        return QStringLiteral("no answer");
    return describe(reply);
}

// The rest of the line after the first `words` words, spaces kept.
QString restOf(const QString &line, int words)
{
    QString rest = line.trimmed();
    for (int i = 0; i < words; ++i) {
        const int space = rest.indexOf(QLatin1Char(' '));
        rest = space < 0 ? QString() : rest.mid(space + 1).trimmed();
    }
    return rest;
}

} // namespace

PcPeerConsole::PcPeerConsole(PcPeer *pcPeer)
    : peer(pcPeer)
{
}

QString PcPeerConsole::help()
{
    return QStringLiteral(
        "commands (bytes as hex text):\n"
        "  sysid HEX            system id the PC believes (8 hex digits; default 00000000)\n"
        "  password [TEXT]      password the PC believes in force (none: empty)\n"
        "  auth [HEX]           authenticate (0xC1) with a 4-byte challenge (random if none)\n"
        "  info                 device information (0xC3): system id and loft number\n"
        "  init LOFT [PASSWORD] initialise the clock (0xC2); run auth and info first\n"
        "  tip TEXT             show a text on the clock (0xC4)\n"
        "  firmware             firmware identifier (0xC5)\n"
        "  module N             reader module mode (0xC6)\n"
        "  json TEXT            one JSON-RPC call (0xC0), written as given\n"
        "  faulty KIND TEXT     the same call sent badly; KIND: stop (half a frame), more (length\n"
        "                       counts bytes never sent), less, garble, badsum, noise (before the\n"
        "                       frame), late (500 ms before it), trickle (5 ms after each byte)\n"
        "  pacing on|off        real 9600-baud pacing of each byte\n"
        "  quit");
}

QString PcPeerConsole::execute(const QString &line, bool *quit)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    const QString verb = words.first().toLower();
    if (verb == QLatin1String("quit")) {
        *quit = true;
        return kOk;
    }
    if (verb == QLatin1String("help"))
        return help();
    if (verb == QLatin1String("sysid") && words.size() == 2) {
        peer->setSystemId(words[1]);
        return kOk;
    }
    if (verb == QLatin1String("password")) {
        peer->setPassword(restOf(line, 1));
        return kOk;
    }
    if (verb == QLatin1String("auth"))
        return authenticate(words);
    if (verb == QLatin1String("info")) {
        const PcPeer::Answer answer = peer->deviceInfo();
        if (!answer.received || answer.status != 0)
            return describe(answer);
        return QStringLiteral("sysid %1 loft %2").arg(hex(peer->learnedSystemId()), peer->learnedLoftNum());
    }
    if (verb == QLatin1String("init") && words.size() >= 2)
        return describe(peer->initialise(words[1], words.size() > 2 ? words[2] : QString()));
    if (verb == QLatin1String("tip") && words.size() >= 2) {
        const QByteArray heard = peer->showTip(restOf(line, 1).toUtf8());
        return heard.isEmpty() ? kOk : error(QStringLiteral("unexpected answer ") + hex(heard));
    }
    if (verb == QLatin1String("firmware"))
        return describe(peer->firmware());
    if (verb == QLatin1String("module") && words.size() == 2)
        return describe(peer->moduleMode(QByteArray(1, char(words[1].toInt()))));
    if (verb == QLatin1String("json") && words.size() >= 2)
        return json(restOf(line, 1));
    if (verb == QLatin1String("faulty") && words.size() >= 3)
        return faulty(words[1].toLower(), restOf(line, 2));
    if (verb == QLatin1String("pacing") && words.size() == 2) {
        peer->setPacing(words[1] == QLatin1String("on") ? PcPeer::kLineBaud : 0);
        return kOk;
    }
    return error(QStringLiteral("unknown command: ") + line.trimmed());
}

QString PcPeerConsole::authenticate(const QStringList &words)
{
    QByteArray challenge = words.size() > 1 ? QByteArray::fromHex(words[1].toLatin1()) : QByteArray();
    if (words.size() == 1) {
        challenge.resize(4);
        for (char &byte : challenge)
            byte = char(QRandomGenerator::global()->bounded(256));
    }
    const PcPeer::Answer answer = peer->authenticate(challenge);
    if (!answer.received || answer.status != 0)
        return describe(answer);
    return QStringLiteral("auth %1 key %2")
        .arg(peer->digestMatched() ? QStringLiteral("ok") : QStringLiteral("digest-mismatch"),
             hex(peer->sessionKey()));
}

QString PcPeerConsole::json(const QString &text)
{
    return describeCall(peer->call(text.toUtf8()));
}

QString PcPeerConsole::faulty(const QString &kind, const QString &text)
{
    using Kind = PcPeer::Fault::Kind;
    constexpr int kLateMs = 500;
    constexpr int kTrickleGapMs = 5;
    static const QList<QPair<QString, PcPeer::Fault>> kinds{
        {QStringLiteral("stop"), {Kind::StopMidFrame, 0, 0}},  {QStringLiteral("more"), {Kind::LengthClaimsMore, 0, 0}},
        {QStringLiteral("less"), {Kind::LengthClaimsLess, 0, 0}}, {QStringLiteral("garble"), {Kind::Garbled, 0, 0}},
        {QStringLiteral("badsum"), {Kind::BadSum, 0, 0}},       {QStringLiteral("noise"), {Kind::NoiseBefore, 0, 0}},
        {QStringLiteral("late"), {Kind::None, kLateMs, 0}},     {QStringLiteral("trickle"), {Kind::None, 0, kTrickleGapMs}},
    };
    for (const auto &entry : kinds) {
        if (entry.first == kind)
            return describeCall(peer->callFaulty(text.toUtf8(), entry.second));
    }
    return error(QStringLiteral("unknown fault: ") + kind);
}


