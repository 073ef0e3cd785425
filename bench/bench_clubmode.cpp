#include "club/morlanprotolprocess.h"
#include "core/platform.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"

#include "clubframes.h"
#include "clubportpeer.h"
#include "clubrouter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

// Club mode's costs against the router peer, as ratios that hold on any
// machine:
// (1) call-to-return time of printSync and getTimeSync with an unpaced peer,
//     in club ticks of 10 ms (one command runs per tick, so about one tick);
// (2) the same with the peer pacing its bytes at 9600 baud, as a multiple of
//     the line time of the request and answer frames, and of the answer's
//     alone (a pseudo-terminal carries the clock's request at once, so only
//     the answer is paced: a long print request can make the first ratio
//     fall below 1);
// (3) the longest switchWorkMode(1, true) while a print waits out its full
//     5000-poll answer time-out, against the link thread's switch bound.
namespace {

constexpr int kCalls = 40;
constexpr int kTickMs = 10;
constexpr int kBaud = 9600;
constexpr int kSilentRuns = 2;
constexpr int kSwitchBoundMs = 15000; // the link thread's bound of a waited switch
constexpr int kSetUpMs = 5000;
const QString kLine = QStringLiteral("12 0000C0FFEE  Blue chequer      cock   2024  12:34:56\r\n");

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

double lineMs(int bytes)
{
    return bytes * 10.0 * 1000.0 / kBaud;
}

struct Stats
{
    double median = 0;
    double max = 0;
};

Stats timeCalls(const std::function<void()> &call)
{
    std::vector<double> ms;
    for (int i = 0; i < kCalls; ++i) {
        QElapsedTimer timer;
        timer.start();
        try {
            call();
        } catch (const VexException &) {
            std::printf("  (a call failed)\n");
        }
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return Stats{ms[ms.size() / 2], ms.back()};
}

bool waitAuthed(MorlanProtocolProcess &process)
{
    for (int waited = 0; waited < kSetUpMs && !process.isAuthed(); waited += kTickMs)
        HardwareControl::wait(kTickMs);
    return process.isAuthed();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet); // each exception logs a line; not wanted here

    QTemporaryDir root;
    qputenv("CLOCK_ROOT", root.path().toLocal8Bit());
    Platform::reloadRoot();
    QDir().mkpath(root.path() + QStringLiteral("/dev"));
    ClubPortPeer peer;
    peer.linkAt(root.path() + QStringLiteral("/dev/ttyS2"));
    peer.start();
    MorlanProtocolProcess process(QStringLiteral("/dev/ttyS2"));
    process.setParamReader([](const QString &, int value) { return value; });
    process.start();

    const int printAnswer = int(ClubFrames::answer(0x54, 0x50, 0, {}).size());
    const int printFrames = int(ClubFrames::request(0x54, 0x50, kLine.toLatin1()).size()) + printAnswer;
    const int timeAnswer = int(ClubFrames::answer(0x56, 0x52, 0, ClubRouter::timeText(0) + QByteArray(2, '\0')).size());
    const int timeFrames = int(ClubFrames::request(0x56, 0x52, QByteArray(2, '\0')).size()) + timeAnswer;
    std::printf("call          peer       median ms   max ms   median/tick   frames line ms   median/frames   "
                "median/answer\n");
    for (bool paced : {false, true}) {
        peer.setPacing(paced);
        process.switchWorkMode(MorlanProtocolProcess::Idle, true);
        process.switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
        if (!waitAuthed(process)) {
            std::printf("the router did not authorise the clock\n");
            return 1;
        }
        const Stats print = timeCalls([&] { process.printSync(kLine); });
        const Stats time = timeCalls([&] { process.getTimeSync(); });
        struct Row
        {
            const char *name;
            Stats stats;
            int frameBytes;
            int answerBytes;
        };
        for (const Row &row : {Row{"printSync", print, printFrames, printAnswer},
                               Row{"getTimeSync", time, timeFrames, timeAnswer}}) {
            const double wire = lineMs(row.frameBytes);
            const double answer = lineMs(row.answerBytes);
            const QString ratios = paced ? QStringLiteral("%1   %2")
                                               .arg(row.stats.median / wire, 13, 'f', 2)
                                               .arg(row.stats.median / answer, 13, 'f', 2)
                                         : QStringLiteral("%1   %2").arg(QStringLiteral("-"), 13).arg(QStringLiteral("-"), 13);
            std::printf("%-13s %-9s %10.1f %8.1f %13.2f %16.1f %s\n", row.name, paced ? "9600" : "unpaced",
                        row.stats.median, row.stats.max, row.stats.median / kTickMs, wire, qPrintable(ratios));
        }
    }

    peer.setPacing(false);
    peer.setCommandFault(0x50, ClubPortPeer::Fault{ClubPortPeer::Fault::Silence, 0, {}});
    double longest = 0;
    for (int run = 0; run < kSilentRuns; ++run) {
        process.switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
        if (!waitAuthed(process))
            return 1;
        const int framesBefore = int(peer.framesOf(0x50).size());
        process.startPrint(kLine, {});
        while (peer.framesOf(0x50).size() == framesBefore)
            HardwareControl::wait(1);
        QElapsedTimer timer;
        timer.start();
        process.switchWorkMode(MorlanProtocolProcess::Idle, true);
        longest = std::max(longest, timer.nsecsElapsed() / 1e6);
    }
    std::printf("\nswitchWorkMode(1, true) with a silent print in flight: longest %.0f ms of n=%d; "
                "bound %d ms; longest/bound=%.2f\n",
                longest, kSilentRuns, kSwitchBoundMs, longest / kSwitchBoundMs);

    process.requestExit();
    process.wait(kSetUpMs);
    peer.stop();
    return 0;
}
