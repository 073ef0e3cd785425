// The PC peer as a process of its own, for the simulated device: the PC
// program at the far end of the clock's club line (comm mode, 9600 baud) on a
// pseudo-terminal, driven by text commands on standard input (one a line,
// each reply printed on standard output).

#include "consolethread.h"
#include "pcpeer.h"
#include "pcpeerconsole.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

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
    QCoreApplication::setApplicationName(QStringLiteral("brellium-pcpeer"));
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("The PC program on the club line: slave commands and the JSON-RPC data service.\n\n")
        + PcPeerConsole::help());
    options.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"), QStringLiteral("Make PATH a symbolic link to the line."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption noPacing(QStringLiteral("no-pacing"), QStringLiteral("Write requests at once."));
    options.addOptions({link, noPacing});
    options.process(app);

    // Signals are taken by sigwait in this thread only.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    PcLineTransport transport;
    if (!transport.isValid()) {
        say(QStringLiteral("error: no pseudo-terminal"));
        return 1;
    }
    if (options.isSet(link) && !transport.linkAt(options.value(link))) {
        say(QStringLiteral("error: cannot link ") + options.value(link));
        return 1;
    }
    PcPeer peer(&transport);
    peer.setPacing(options.isSet(noPacing) ? 0 : PcPeer::kLineBaud);
    PcPeerConsole console(&peer);
    say(QStringLiteral("line ") + transport.slavePath());

    // The console: at end of input the line stays until a signal, so the
    // clock's port does not vanish under it.
    // Destroyed before the console and the peer: a command still running
    // when a signal ends the process finishes first.
    ConsoleThread control([&console](const QString &line, bool *quit) {
        const QString answer = console.execute(line, quit);
        if (!answer.isEmpty())
            say(answer);
    });

    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}
