// The PC program on the clock's PC port as a process of its own, for the
// simulated device: it listens on a pseudo-terminal and prints each line it
// receives ("received: ..."), and each open and close of the clock's end.

#include "pcportpeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <pthread.h>
#include <signal.h>

namespace {

void say(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brellium-pcportpeer"));
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "The PC program on the clock's PC port (/dev/ttyS1): receives the export, one JSON line at a time,\n"
        "and prints \"received: <line>\" for each (control bytes as \\xNN), \"open\" and \"close\" for the\n"
        "clock's end, with the line settings seen. Stops on SIGINT or SIGTERM."));
    options.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"), QStringLiteral("Make PATH a symbolic link to the line."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption paced(QStringLiteral("paced"), QStringLiteral("Read at 9600-baud pace."));
    options.addOptions({link, paced});
    options.process(app);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    PcPortPeer peer;
    if (!peer.isValid()) {
        say(QStringLiteral("error: no pseudo-terminal"));
        return 1;
    }
    if (options.isSet(link) && !peer.linkAt(options.value(link))) {
        say(QStringLiteral("error: cannot link ") + options.value(link));
        return 1;
    }
    peer.setPaced(options.isSet(paced));
    peer.start();
    say(QStringLiteral("line ") + peer.slavePath());

    // The printer: every 100 ms, what came since (a poll that sleeps its period).
    std::atomic<bool> done{false};
    std::thread printer([&] {
        int lines = 0;
        int opens = 0;
        int closes = 0;
        while (!done) {
            for (; opens < peer.openCount(); ++opens)
                say(QStringLiteral("open"));
            const QList<QByteArray> all = peer.lines();
            for (; lines < all.size(); ++lines)
                say(QStringLiteral("received: ") + PcPortPeer::printable(all.at(lines)));
            for (; closes < peer.closeCount(); ++closes) {
                const PeerLine::Settings s = peer.lastSettings();
                say(QStringLiteral("close (last settings %1 baud, 8N1 %2, flow control %3)")
                        .arg(s.baud)
                        .arg(s.eightNOne ? QStringLiteral("yes") : QStringLiteral("no"))
                        .arg(s.flowControl ? QStringLiteral("yes") : QStringLiteral("no")));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    int signal = 0;
    sigwait(&stopSignals, &signal);
    done = true;
    printer.join();
    peer.stop();
    return 0;
}
