// The club-port peer as a process of its own, for the simulated device: the
// far end of the clock's club line on a pseudo-terminal, driven by text
// commands on standard input (one a line, answers on standard output).

#include "clubpeerconsole.h"
#include "clubportpeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

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
    QCoreApplication::setApplicationName(QStringLiteral("brellium-clubpeer"));
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("The club line's far end: club connector reader at 115200 baud, club router at 9600.\n\n")
        + ClubPeerConsole::help());
    options.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"), QStringLiteral("Make PATH a symbolic link to the line."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption role(QStringLiteral("role"), QStringLiteral("auto, connector or router."),
                                  QStringLiteral("ROLE"), QStringLiteral("auto"));
    const QCommandLineOption noPacing(QStringLiteral("no-pacing"), QStringLiteral("Write answers at once."));
    options.addOptions({link, role, noPacing});
    options.process(app);

    // Signals are taken by sigwait in this thread only.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ClubPortPeer peer;
    ClubPeerConsole console(&peer);
    bool unused = false;
    const QString roleAnswer = console.execute(QStringLiteral("role ") + options.value(role), &unused);
    if (roleAnswer.startsWith(QLatin1String("error"))) {
        say(roleAnswer);
        return 2;
    }
    peer.setPacing(!options.isSet(noPacing));
    if (!peer.start()) {
        say(QStringLiteral("error: no pseudo-terminal"));
        return 1;
    }
    if (options.isSet(link) && !peer.linkAt(options.value(link))) {
        say(QStringLiteral("error: cannot link ") + options.value(link));
        return 1;
    }
    say(QStringLiteral("line ") + peer.slavePath());

    // The console: at end of input the peer keeps running until a signal.
    std::thread control([&console] {
        std::string line;
        bool quit = false;
        while (!quit && std::getline(std::cin, line)) {
            const QString answer = console.execute(QString::fromStdString(line), &quit);
            if (!answer.isEmpty())
                say(answer);
        }
        if (quit)
            kill(getpid(), SIGTERM);
    });
    control.detach();

    int signal = 0;
    sigwait(&stopSignals, &signal);
    peer.stop();
    return 0;
}
