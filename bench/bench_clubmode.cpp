#include "club/morlanprotolprocess.h"
#include "core/platform.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"

#include "benchrow.h"
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
//     5000-poll answer time-out, against the link thread's switch bound;
// (4) how long after the end of a late print exchange a waited switch
//     returns, and how long after its own bound a switch that gives up does;
// (5) how long a caller waits when the router refuses to authorise the clock
//     (it fails within a tick or two, not at its synchronous-call bound);
// (6) how long a synchronous call against a silent router holds its caller
//     (the GUI thread, when a screen makes it) against that bound.
namespace {

constexpr int kCalls = 40;
constexpr int kTickMs = 10;
constexpr int kBaud = 9600;
constexpr int kSilentRuns = 2;
constexpr int kSwitchBoundMs = 15000; // the link thread's bound of a waited switch
constexpr int kSetUpMs = 5000;
constexpr int kFaultRuns = 3;
constexpr int kLateAnswerMs = 700;
constexpr int kLateBoundMs = 5000;
constexpr int kLongLateAnswerMs = 3000;
constexpr int kShortBoundMs = 200;
constexpr int kSwitchSlackTargetMs = 1000;
constexpr int kRefusedTargetMs = 2000;
constexpr int kSyncBoundMs = 500;
constexpr int kSyncSlackTargetMs = 400;
constexpr quint8 kPrint = 0x50;
constexpr quint8 kGetTime = 0x52;
constexpr quint8 kAuthorise = 0x5F;
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

bool waitConnected(MorlanProtocolProcess &process)
{
    for (int waited = 0; waited < kSetUpMs && !process.isConnected(); waited += kTickMs)
        HardwareControl::wait(kTickMs);
    return process.isConnected();
}

void printRow(const QString &figure, double valueMs, int targetMs)
{
    BenchRow row;
    row.figure = figure;
    row.value = BenchRow::ms(valueMs);
    row.target = QStringLiteral("< %1 ms").arg(targetMs);
    row.met = BenchRow::meets(valueMs >= 0 && valueMs < targetMs);
    row.print();
}

// The worst time a waited switch to idle takes past `afterMs`, with a print
// whose answer comes lateMs late in flight and the switch bounded by boundMs.
double switchPast(ClubPortPeer &peer, MorlanProtocolProcess &process, int lateMs, int boundMs, int afterMs)
{
    double worst = 0;
    for (int run = 0; run < kFaultRuns; ++run) {
        process.switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
        if (!waitAuthed(process))
            return -1;
        process.setSwitchWaitMs(boundMs);
        const int framesBefore = int(peer.framesOf(kPrint).size());
        peer.setNextFaults(1, ClubPortPeer::Fault{ClubPortPeer::Fault::Late, lateMs, {}});
        process.startPrint(kLine, {});
        while (peer.framesOf(kPrint).size() == framesBefore)
            HardwareControl::wait(1);
        QElapsedTimer timer;
        timer.start();
        process.switchWorkMode(MorlanProtocolProcess::Idle, true);
        worst = std::max(worst, timer.nsecsElapsed() / 1e6 - afterMs);
        process.setSwitchWaitMs(kSwitchBoundMs);
        while (peer.clockEndOpen())
            HardwareControl::wait(kTickMs);
    }
    return worst;
}

// The worst call-to-return time of getTimeSync in club mode, the router
// misbehaving on `command` as `fault` says.
double faultyCall(ClubPortPeer &peer, MorlanProtocolProcess &process, quint8 command, ClubPortPeer::Fault fault,
                  bool authed)
{
    double worst = 0;
    for (int run = 0; run < kFaultRuns; ++run) {
        process.switchWorkMode(MorlanProtocolProcess::Idle, true);
        peer.clearFaults();
        peer.setCommandFault(command, fault);
        process.switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
        if (!(authed ? waitAuthed(process) : waitConnected(process)))
            return -1;
        QElapsedTimer timer;
        timer.start();
        try {
            process.getTimeSync();
        } catch (const VexException &) {
        }
        worst = std::max(worst, timer.nsecsElapsed() / 1e6);
    }
    peer.clearFaults();
    return worst;
}

void faultFigures(ClubPortPeer &peer, MorlanProtocolProcess &process)
{
    peer.clearFaults();
    const double afterAnswer = switchPast(peer, process, kLateAnswerMs, kLateBoundMs, kLateAnswerMs);
    const double afterBound = switchPast(peer, process, kLongLateAnswerMs, kShortBoundMs, kShortBoundMs);
    std::printf("\nwaited switch past a %d ms late answer: %.0f ms; past its own %d ms bound: %.0f ms\n",
                kLateAnswerMs, afterAnswer, kShortBoundMs, afterBound);
    printRow(QStringLiteral("club link: waited switch returns after the late exchange ends"), afterAnswer,
             kSwitchSlackTargetMs);
    printRow(QStringLiteral("club link: waited switch returns after its bound ran out"), afterBound,
             kSwitchSlackTargetMs);

    const double refused = faultyCall(peer, process, kAuthorise, ClubPortPeer::Fault{ClubPortPeer::Fault::Refuse, 2, {}},
                                      false);
    std::printf("getTimeSync with the authorisation refused: worst %.0f ms of n=%d\n", refused, kFaultRuns);
    printRow(QStringLiteral("club link: waiter fails after a refused authorisation"), refused, kRefusedTargetMs);

    process.setSyncTimeoutMs(kSyncBoundMs);
    const double silent = faultyCall(peer, process, kGetTime, ClubPortPeer::Fault{ClubPortPeer::Fault::Silence, 0, {}},
                                     true);
    std::printf("getTimeSync against a silent router, %d ms call bound: worst %.0f ms of n=%d\n", kSyncBoundMs,
                silent, kFaultRuns);
    printRow(QStringLiteral("club link: caller held by a call to a silent router (%1 ms bound)").arg(kSyncBoundMs),
             silent, kSyncBoundMs + kSyncSlackTargetMs);
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
    peer.clearFaults();
    faultFigures(peer, process);

    process.requestExit();
    process.wait(kSetUpMs);
    peer.stop();
    return 0;
}
