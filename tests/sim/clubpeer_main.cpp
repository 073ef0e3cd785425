// The club-port peer as a process of its own, for the simulated device: the
// far end of the clock's club line on a pseudo-terminal, driven by text
// commands on standard input (one a line, answers on standard output).
// Standard output is also its record: each router command received
// ("frame ...") and each printed line as it completes ("printed: ...", a
// page break as "printed: ---- form feed ----").

#include "clubpeerconsole.h"
#include "clubportpeer.h"
#include "clubrouter.h"
#include "consolethread.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr auto kRecordPeriod = std::chrono::milliseconds(100);
const char kFormFeedLine[] = "---- form feed ----";

// The console and the recorder both write lines.
std::mutex &outputMutex()
{
    static std::mutex mutex;
    return mutex;
}

void say(const QString &text)
{
    std::lock_guard<std::mutex> lock(outputMutex());
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Writes what crossed the line since the last call: router commands (the
// connector's polls are too many to be worth a line each) and the printed
// lines completed so far.
class Recorder
{
public:
    explicit Recorder(ClubPortPeer *clubPeer)
        : peer(clubPeer)
    {
    }

    void recordNew()
    {
        const QList<ClubPortPeer::Frame> frames = peer->frames();
        if (frames.size() < framesSeen)
            framesSeen = 0; // the records were cleared
        for (; framesSeen < frames.size(); ++framesSeen) {
            const ClubPortPeer::Frame &f = frames.at(framesSeen);
            if (f.role != ClubPortPeer::Role::Router)
                continue;
            say(QStringLiteral("frame router address=%1 command=%2 data=%3%4")
                    .arg(f.address, 2, 16, QLatin1Char('0'))
                    .arg(f.command, 2, 16, QLatin1Char('0'))
                    .arg(QString::fromLatin1(f.data.toHex()), f.sumOk ? QString() : QStringLiteral(" bad-sum")));
        }
        const QByteArray printed = peer->router().printedBytes();
        if (printed.size() < bytesSeen)
            bytesSeen = 0;
        int end = int(printed.size());
        while (end > bytesSeen && printed.at(end - 1) != '\n' && printed.at(end - 1) != '\f')
            --end;
        QString line;
        for (int i = bytesSeen; i < end; ++i) {
            const char c = printed.at(i);
            if (c == '\r')
                continue;
            if (c == '\n' || c == '\f') {
                if (c == '\n' || !line.isEmpty())
                    say(QStringLiteral("printed: ") + line);
                if (c == '\f')
                    say(QStringLiteral("printed: ") + QLatin1String(kFormFeedLine));
                line.clear();
            } else {
                line += QChar(uchar(c)); // the printer's character set is ISO 8859-1
            }
        }
        bytesSeen = end;
    }

private:
    ClubPortPeer *peer;
    int framesSeen = 0;
    int bytesSeen = 0;
};

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
    // Destroyed before the console and the peer: a command still running
    // when a signal ends the process finishes first.
    ConsoleThread control([&console](const QString &line, bool *quit) {
        const QString answer = console.execute(line, quit);
        if (!answer.isEmpty())
            say(answer);
    });

    std::atomic<bool> stopping{false};
    std::thread recording([&peer, &stopping] {
        Recorder recorder(&peer);
        while (!stopping) {
            std::this_thread::sleep_for(kRecordPeriod);
            recorder.recordNew();
        }
        recorder.recordNew();
    });

    int signal = 0;
    sigwait(&stopSignals, &signal);
    stopping = true;
    recording.join();
    peer.stop();
    return 0;
}
