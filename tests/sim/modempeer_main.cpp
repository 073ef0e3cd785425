// The modem peer as a process of its own, for the simulated device:
//   brellium_modempeer --family ublox --node <root>/dev/ttyUSB1
//                      [--endpoint 127.0.0.1:PORT] [--sms-log FILE]
//                      [--root <root> [--boot-delay MS]]
// It answers as a healthy registered modem, appends each SMS to the log as
// one line (mode, number, text, separated by tabs) and runs until SIGTERM.
// With --root it follows the modem's power pin <root>/sys/class/gpio/gpio41/value:
// the node appears a boot delay after the pin goes to 1 and goes away at 0.
#include "modempeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <atomic>
#include <csignal>

namespace {

constexpr int kSmsPollMs = 100;
constexpr int kDefaultBootDelayMs = 300;
const char kPowerPin[] = "/sys/class/gpio/gpio41/value";
std::atomic<bool> stopRequested{false};

void onSignal(int)
{
    stopRequested = true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("family"), QStringLiteral("Modem family."), QStringLiteral("name"), QStringLiteral("ublox")});
    parser.addOption({QStringLiteral("node"), QStringLiteral("Device node to link."), QStringLiteral("path")});
    parser.addOption({QStringLiteral("endpoint"), QStringLiteral("TCP endpoint host:port."), QStringLiteral("address")});
    parser.addOption({QStringLiteral("sms-log"), QStringLiteral("File the SMS are appended to."), QStringLiteral("file")});
    parser.addOption({QStringLiteral("root"), QStringLiteral("Simulated root whose modem power pin to follow."), QStringLiteral("path")});
    parser.addOption({QStringLiteral("boot-delay"), QStringLiteral("Power-on to node, ms."), QStringLiteral("ms"),
                      QString::number(kDefaultBootDelayMs)});
    parser.process(app);

    const QString familyName = parser.value(QStringLiteral("family"));
    if (modemFamily(familyName).name.isEmpty()) {
        QTextStream(stderr) << "unknown modem family " << familyName << '\n';
        return 2;
    }
    ModemPeer peer(familyName);
    if (!peer.isOpen() || (parser.isSet(QStringLiteral("node")) && !peer.linkAt(parser.value(QStringLiteral("node"))))) {
        QTextStream(stderr) << "cannot open or link the pseudo-terminal\n";
        return 1;
    }
    const QString endpoint = parser.value(QStringLiteral("endpoint"));
    if (!endpoint.isEmpty()) {
        const int colon = int(endpoint.lastIndexOf(QLatin1Char(':')));
        peer.setEndpoint(quint16(endpoint.mid(colon + 1).toUInt()), endpoint.left(colon));
    }
    if (parser.isSet(QStringLiteral("root")))
        peer.followPower(parser.value(QStringLiteral("root")) + QLatin1String(kPowerPin),
                         parser.value(QStringLiteral("boot-delay")).toInt());
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    peer.start();
    QTextStream(stdout) << "modem peer " << familyName << " on " << peer.slavePath() << Qt::endl;

    const QString smsLog = parser.value(QStringLiteral("sms-log"));
    int logged = 0;
    while (!stopRequested) {
        QThread::msleep(kSmsPollMs);
        const QList<PeerSms> sms = peer.sms();
        if (smsLog.isEmpty() || sms.size() == logged)
            continue;
        QFile file(smsLog);
        if (!file.open(QIODevice::Append | QIODevice::Text))
            continue;
        for (; logged < sms.size(); ++logged) {
            const PeerSms &m = sms.at(logged);
            file.write(m.mode + '\t' + m.number + '\t' + m.text.toUtf8().replace('\n', "\\n") + '\n');
        }
    }
    peer.stop();
    return 0;
}
