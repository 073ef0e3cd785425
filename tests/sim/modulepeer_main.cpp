// The inner ring-reader module as a process of its own, for the simulated
// device: it links <root>/dev/ttyS3 to its pseudo-terminal, answers the
// clock there, and takes orders as text lines on the local socket
// <root>/run/modulepeer.sock. The same program sends one order and prints the
// answer: brellium_modulepeer --root R --send "tag 0A1B2C3D".
//
// Orders: tag <ring> [uid] [random] [extId] | channels <n> |
// channel <index> error|ok | type <hex> | whole on|off | silent on|off |
// reboot | stats | quit
//
// Standard output is its record: each order with its answer, and the race
// commands the clock sent (start, stop, channel and tag fetches; the
// exchange polls only as a count in "stats").

#include "innermodulepeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int kSocketWaitMs = 3000;
constexpr int kRecordPeriodMs = 200;
const char kSocketName[] = "/run/modulepeer.sock";

void record(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Writes the race commands received since the last call, one line each.
class CommandRecorder
{
public:
    explicit CommandRecorder(const InnerModulePeer &modulePeer)
        : peer(modulePeer)
    {
    }

    void recordNew()
    {
        static const struct {
            quint8 command;
            const char *name;
        } kinds[] = {{InnerModulePeer::StartRace, "startRace"},
                     {InnerModulePeer::StopRace, "stopRace"},
                     {InnerModulePeer::GetChannel, "getChannel"},
                     {InnerModulePeer::GetTag, "getTag"}};
        for (int i = 0; i < 4; ++i) {
            const int count = int(peer.commands(InnerModulePeer::kGroupRace, kinds[i].command).size());
            for (; seen[i] < count; ++seen[i])
                record(QStringLiteral("clock sent %1").arg(QLatin1String(kinds[i].name)));
        }
    }

private:
    const InnerModulePeer &peer;
    int seen[4] = {0, 0, 0, 0};
};

QString socketPath(const QString &root)
{
    return root + QLatin1String(kSocketName);
}

QString stats(const InnerModulePeer &peer)
{
    const auto count = [&peer](quint8 group, quint8 command) {
        return QString::number(peer.commands(group, command).size());
    };
    return QStringLiteral("exchange=%1 startRace=%2 getChannel=%3 getTag=%4 tagVersion=%5 channelVersion=%6")
        .arg(count(InnerModulePeer::kGroupRace, InnerModulePeer::ExchangeInfo),
             count(InnerModulePeer::kGroupRace, InnerModulePeer::StartRace),
             count(InnerModulePeer::kGroupRace, InnerModulePeer::GetChannel),
             count(InnerModulePeer::kGroupRace, InnerModulePeer::GetTag))
        .arg(peer.tagVersion())
        .arg(peer.channelVersion());
}

// One order; the answer starts with "ok" or "error".
QString obey(InnerModulePeer &peer, const QString &line, bool *quit)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QStringLiteral("error: empty order");
    const QString order = words.first().toLower();
    const auto arg = [&words](int i) { return words.value(i); };
    if (order == QLatin1String("tag") && words.size() >= 2) {
        peer.presentTag(arg(1), arg(2), quint16(arg(3).toUInt()), arg(4));
        return QStringLiteral("ok tag version %1").arg(peer.tagVersion());
    }
    if (order == QLatin1String("channels") && words.size() == 2) {
        QList<InnerModulePeer::Channel> list;
        for (int i = 0; i < arg(1).toInt() && i < 16; ++i) {
            InnerModulePeer::Channel c;
            c.id = QByteArray::fromHex(QByteArray::number(0xC0010001 + i, 16));
            list << c;
        }
        peer.setChannels(list);
        return QStringLiteral("ok channel version %1").arg(peer.channelVersion());
    }
    if (order == QLatin1String("channel") && words.size() == 3) {
        peer.setChannelStatus(arg(1).toInt(), arg(2) == QLatin1String("error") ? 0x80 : 0x00);
        return QStringLiteral("ok channel version %1").arg(peer.channelVersion());
    }
    if (order == QLatin1String("type") && words.size() == 2) {
        peer.setDevType(quint16(arg(1).toUInt(nullptr, 16)));
        return QStringLiteral("ok");
    }
    if (order == QLatin1String("whole") && words.size() == 2) {
        peer.setWholeList(arg(1) == QLatin1String("on"));
        return QStringLiteral("ok");
    }
    if (order == QLatin1String("silent") && words.size() == 2) {
        RingFault fault;
        fault.silent = arg(1) == QLatin1String("on");
        peer.setFault(fault);
        return QStringLiteral("ok");
    }
    if (order == QLatin1String("reboot")) {
        peer.reboot();
        return QStringLiteral("ok");
    }
    if (order == QLatin1String("stats"))
        return QStringLiteral("ok ") + stats(peer);
    if (order == QLatin1String("quit")) {
        *quit = true;
        return QStringLiteral("ok");
    }
    return QStringLiteral("error: unknown order: ") + line;
}

int send(const QString &root, const QString &line)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath(root));
    if (!socket.waitForConnected(kSocketWaitMs)) {
        std::fprintf(stderr, "module peer not reachable: %s\n", qPrintable(socket.errorString()));
        return 2;
    }
    socket.write(line.toUtf8() + '\n');
    socket.waitForBytesWritten(kSocketWaitMs);
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(kSocketWaitMs))
        answer += socket.readAll();
    std::printf("%s", answer.constData());
    return answer.startsWith("ok") ? 0 : 1;
}

int serve(const QString &root)
{
    InnerModulePeer peer;
    if (!peer.isOpen() || !peer.linkUnder(root, QStringLiteral("/dev/ttyS3"))) {
        std::fprintf(stderr, "module peer: no pseudo-terminal\n");
        return 2;
    }
    QDir().mkpath(root + QStringLiteral("/run"));
    QLocalServer::removeServer(socketPath(root));
    QLocalServer server;
    if (!server.listen(socketPath(root))) {
        std::fprintf(stderr, "module peer: %s\n", qPrintable(server.errorString()));
        return 2;
    }
    peer.start();
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&server, &peer] {
        while (QLocalSocket *client = server.nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, client, [client, &peer] {
                while (client->canReadLine()) {
                    bool quit = false;
                    const QString line = QString::fromUtf8(client->readLine()).trimmed();
                    const QString answer = obey(peer, line, &quit);
                    if (line != QLatin1String("stats"))
                        record(QStringLiteral("order %1 -> %2").arg(line, answer));
                    client->write(answer.toUtf8() + '\n');
                    client->flush();
                    if (quit)
                        QCoreApplication::quit();
                }
            });
        }
    });
    std::printf("module peer on %s, orders on %s\n", qPrintable(peer.slavePath()), qPrintable(socketPath(root)));
    std::fflush(stdout);
    CommandRecorder recorder(peer);
    QTimer recordTimer;
    QObject::connect(&recordTimer, &QTimer::timeout, &recordTimer, [&recorder] { recorder.recordNew(); });
    recordTimer.start(kRecordPeriodMs);
    const int status = QCoreApplication::exec();
    peer.stop();
    server.close();
    QFile::remove(root + QStringLiteral("/dev/ttyS3"));
    return status;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Inner ring-reader module peer"));
    parser.addHelpOption();
    const QCommandLineOption rootOption(QStringLiteral("root"), QStringLiteral("Simulated root."),
                                        QStringLiteral("folder"));
    const QCommandLineOption sendOption(QStringLiteral("send"), QStringLiteral("Send one order and exit."),
                                        QStringLiteral("order"));
    parser.addOption(rootOption);
    parser.addOption(sendOption);
    parser.process(app);
    const QString root = parser.value(rootOption);
    if (root.isEmpty()) {
        std::fprintf(stderr, "module peer: --root is required\n");
        return 2;
    }
    if (parser.isSet(sendOption))
        return send(root, parser.value(sendOption));
    return serve(root);
}
