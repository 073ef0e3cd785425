// The club-system hub on top with the time-status flag (0x8), on the real
// link against the club router peer paced at 9600 baud, ticked at the main
// window's own period: the GUI thread's blocked time per tick as a heartbeat
// sees it (mean and p99, as a fraction of the tick) and the status requests
// per second while the router answers; then, with the router silent for the
// status, the longest block and the blocked share of the window against one
// answer time-out per back-off period. A short window without the status
// flag and bare status calls to the silent router, from the same run, show
// what the GUI thread loses anyway and what the link's time-out costs here.
// Usage: bench_hubscreen [seconds]   (each window; 60 by default)
#include "club/morlanmaster.h"
#include "club/morlanprotolprocess.h"
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formmorlanconnect.h"

#include "benchrow.h"
#include "calltiming.h"
#include "clubportpeer.h"
#include "clubrouter.h"
#include "guifixture.h"
#include "guiheartbeat.h"
#include "reportfixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

namespace {

constexpr int kDefaultWindowSec = 60;
constexpr int kBaselineWindowMs = 10000;
constexpr int kBareCalls = 3;
constexpr int kFlagTimeStatus = 0x8;
constexpr int kReaderChannelMode = 0x111;
// The heartbeat's period. A gap of more than two periods (a beat missed
// whole) is time the GUI thread was held, less the one period it would have
// waited anyway; shorter delays are the scheduler's, not the screen's.
constexpr int kBeatMs = 5;
constexpr int kHeldGapMs = 2 * kBeatMs;
constexpr int kAuthLimitMs = 20000;
constexpr int kWaitStepMs = 5;
// The mean share of the tick the GUI may spend waiting for the router: half
// of it stays free for keys, painting and the queued signals of the services.
constexpr double kMeanShareTarget = 0.5;

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// Runs the event loop until the test holds or the bound passes.
bool waitFor(const std::function<bool()> &done, int limitMs)
{
    return ::waitFor(done, limitMs, kWaitStepMs);
}

// What the GUI thread went through during one window of ticks.
struct Window
{
    double elapsedMs = 0;
    int ticks = 0;
    int statusRequests = 0;
    // The time the heartbeat was held, attributed to the tick it followed.
    std::vector<double> blockedPerTickMs;
    double blockedMs = 0;
    double longestBlockMs = 0;
};

// The device at the club: the database, the paced router peer and the link
// at the production answer time-outs, a race engine and a ring reader
// published (the reader not started), and the main window over them.
struct Hub
{
    Hub()
    {
        fixture.peer().setPacing(true);
        fixture.link().setAnswerTimeoutDivisor(1);
        engine.reflushCache();
        ServiceFactory::getInstance()->pigeonBo = &engine;
        ServiceFactory::getInstance()->rfidService = &reader;
        fixture.link().start();
        gui = std::make_unique<GuiFixture>(&fixture.store());
        screen = gui->window()->formMorlanConnect;
    }
    ~Hub()
    {
        gui->window()->resetSubForms();
        gui.reset();
        ServiceFactory::getInstance()->rfidService = nullptr;
        ServiceFactory::getInstance()->pigeonBo = nullptr;
        HardwareControl::init(0);
    }
    // The window's tick period, from its own timer (stopped by the fixture).
    int tickMs() const { return gui->window()->findChild<QTimer *>()->interval(); }
    int statusFrames() { return fixture.peer().framesOf(ClubRouter::GetTime).size(); }

    ReportFixture fixture;
    PigeonBo engine;
    RFIDService reader{_serialPort_lfInner, kReaderChannelMode, nullptr};
    std::unique_ptr<GuiFixture> gui;
    FormMorlanConnect *screen = nullptr;
};

// Ticks the window at its period for windowMs with a heartbeat beside it.
// Each hold the heartbeat shows (see kHeldGapMs) goes to the tick last
// started before the beat that ended it.
Window runTicks(Hub &hub, int windowMs)
{
    QElapsedTimer clock;
    std::vector<qint64> beatNs;
    std::vector<qint64> tickNs;
    beatNs.reserve(size_t(windowMs / kBeatMs) + 1);
    GuiHeartbeat heartbeat([&beatNs, &clock] { beatNs.push_back(clock.nsecsElapsed()); }, kBeatMs);
    QTimer ticker;
    ticker.setInterval(hub.tickMs());
    QObject::connect(&ticker, &QTimer::timeout, [&hub, &tickNs, &clock] {
        tickNs.push_back(clock.nsecsElapsed());
        hub.gui->tick();
    });
    const int statusBefore = hub.statusFrames();
    QEventLoop loop;
    QTimer::singleShot(windowMs, &loop, &QEventLoop::quit);
    clock.start();
    ticker.start();
    loop.exec();
    ticker.stop();

    Window window;
    window.elapsedMs = double(clock.nsecsElapsed()) / 1e6;
    window.ticks = int(tickNs.size());
    window.statusRequests = hub.statusFrames() - statusBefore;
    window.blockedPerTickMs.assign(tickNs.size(), 0.0);
    size_t tick = 0;
    for (size_t i = 1; i < beatNs.size(); ++i) {
        const double gapMs = double(beatNs[i] - beatNs[i - 1]) / 1e6;
        const double heldMs = gapMs > kHeldGapMs ? gapMs - kBeatMs : 0.0;
        window.blockedMs += heldMs;
        window.longestBlockMs = std::max(window.longestBlockMs, heldMs);
        while (tick + 1 < tickNs.size() && tickNs[tick + 1] <= beatNs[i])
            ++tick;
        if (!tickNs.empty() && tickNs[tick] <= beatNs[i])
            window.blockedPerTickMs[tick] += heldMs;
    }
    return window;
}

double mean(const std::vector<double> &v)
{
    return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
}

void answeredRows(const Window &w, const Window &baseline, int tickMs)
{
    const double baselineMs = mean(baseline.blockedPerTickMs);
    const double meanMs = mean(w.blockedPerTickMs);
    const double p99Ms = percentile(w.blockedPerTickMs, 0.99);
    const double perSecond = w.statusRequests * 1000.0 / std::max(1.0, w.elapsedMs);
    const double tickRate = 1000.0 / tickMs;
    std::printf("without the status flag: %d ticks in %.0f ms, GUI held per tick: mean %.1f ms, p99 %.1f ms\n",
                baseline.ticks, baseline.elapsedMs, baselineMs, percentile(baseline.blockedPerTickMs, 0.99));
    std::printf("router answering: %d ticks in %.0f ms, %d status requests; GUI held per tick: mean %.1f ms, "
                "p50 %.1f ms, p99 %.1f ms, max %.1f ms; longest block %.1f ms\n",
                w.ticks, w.elapsedMs, w.statusRequests, meanMs, percentile(w.blockedPerTickMs, 0.5), p99Ms,
                percentile(w.blockedPerTickMs, 1.0), w.longestBlockMs);

    const QString tick = QStringLiteral("%1 ms tick").arg(tickMs);
    BenchRow row;
    row.figure = QStringLiteral("club hub, flag 0x8, router answering at 9600 baud: GUI blocked per tick, mean");
    row.value = BenchRow::ms(meanMs);
    row.reference = tick + QStringLiteral(" (%1 without the flag)").arg(BenchRow::ms(baselineMs));
    row.ratio = meanMs / tickMs;
    row.target = QStringLiteral("<= %1 of the tick").arg(kMeanShareTarget);
    row.met = BenchRow::meets(w.ticks > 0 && row.ratio <= kMeanShareTarget);
    row.print();
    row = BenchRow();
    row.figure = QStringLiteral("club hub, flag 0x8, router answering at 9600 baud: GUI blocked per tick, p99");
    row.value = BenchRow::ms(p99Ms);
    row.reference = tick;
    row.ratio = p99Ms / tickMs;
    row.target = QStringLiteral("< 1: no tick runs into the next");
    row.met = BenchRow::meets(w.ticks > 0 && row.ratio < 1.0);
    row.print();
    row = BenchRow();
    row.figure = QStringLiteral("club hub, flag 0x8, router answering at 9600 baud: status requests per second");
    row.value = QString::number(perSecond, 'f', 2);
    row.reference = QStringLiteral("one per tick = %1/s").arg(tickRate, 0, 'f', 2);
    row.ratio = perSecond / tickRate;
    // Asked at every tick while the router answers, never more often.
    row.target = QStringLiteral("one per tick (%1 requests for %2 ticks)").arg(w.statusRequests).arg(w.ticks);
    row.met = BenchRow::meets(w.ticks > 0 && w.statusRequests <= w.ticks && w.statusRequests >= 0.9 * w.ticks);
    row.print();
}

void silentRows(const Window &w, double bareCallMs, int tickMs)
{
    const int answerMs = MorlanMasterHandler::kShortAnswerMs;
    const int pauseMs = FormMorlanConnect::kStatusPauseMs;
    // Each back-off period is one blocked read and the pause after it; those
    // begun within the window may each block for one answer time-out.
    const int periods = int(std::ceil(w.elapsedMs / double(answerMs + pauseMs)));
    const double share = w.blockedMs / std::max(1.0, w.elapsedMs);
    const double referenceShare = double(periods) * answerMs / std::max(1.0, w.elapsedMs);
    // The link bounds a silent answer by its count of 1 ms polls, which a
    // busy machine stretches: the screen may hold the GUI for one such call,
    // as bare calls take it in this run, and one tick besides.
    const double allowedBlockMs = std::max(double(answerMs), bareCallMs) + tickMs;
    const double allowedShare = periods * allowedBlockMs / std::max(1.0, w.elapsedMs);
    std::printf("router silent for the status: %d ticks in %.0f ms, %d status requests, %d back-off periods of "
                "%d + %d ms begun; GUI held %.0f ms in all, longest block %.1f ms; bare status call to the "
                "silent router: %.1f ms\n",
                w.ticks, w.elapsedMs, w.statusRequests, periods, answerMs, pauseMs, w.blockedMs,
                w.longestBlockMs, bareCallMs);

    const QString window = QStringLiteral("%1 s").arg(w.elapsedMs / 1000.0, 0, 'f', 0);
    BenchRow row;
    row.figure = QStringLiteral("club hub, flag 0x8, router silent for the status: longest GUI block");
    row.value = BenchRow::ms(w.longestBlockMs);
    row.reference = QStringLiteral("%1 ms answer time-out").arg(answerMs);
    row.ratio = w.longestBlockMs / answerMs;
    row.target = QStringLiteral("<= one bare silent call (%1) + one %2 ms tick")
                     .arg(BenchRow::ms(bareCallMs))
                     .arg(tickMs);
    row.met = BenchRow::meets(w.statusRequests > 0 && w.longestBlockMs <= allowedBlockMs);
    row.print();
    row = BenchRow();
    row.figure = QStringLiteral("club hub, flag 0x8, router silent for the status: GUI blocked share over ") + window;
    row.value = BenchRow::percent(100.0 * share);
    row.reference = BenchRow::percent(100.0 * referenceShare)
        + QStringLiteral(" = one answer time-out per back-off period (%1 begun)").arg(periods);
    row.ratio = referenceShare > 0 ? share / referenceShare : -1.0;
    row.target = QStringLiteral("<= %1: one bare silent call + one tick per period")
                     .arg(BenchRow::percent(100.0 * allowedShare));
    row.met = BenchRow::meets(w.statusRequests > 0 && w.statusRequests <= periods && share <= allowedShare);
    row.print();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    MyApp app(argc, argv);
    MyApp::registerMetaTypes();
    qInstallMessageHandler(quiet);
    const int windowSec = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultWindowSec;

    Hub hub;
    HardwareControl::init(kFlagTimeStatus);
    hub.gui->push(hub.screen);
    if (!waitFor([&hub] { return hub.fixture.link().isAuthed(); }, kAuthLimitMs)) {
        std::printf("the router did not authorise the clock\n");
        return 1;
    }
    const int tickMs = hub.tickMs();
    hub.gui->tick();

    HardwareControl::init(0);
    const Window baseline = runTicks(hub, std::min(kBaselineWindowMs, windowSec * 1000));
    HardwareControl::init(kFlagTimeStatus);
    const Window answered = runTicks(hub, windowSec * 1000);
    answeredRows(answered, baseline, tickMs);

    ClubPortPeer::Fault silence;
    silence.kind = ClubPortPeer::Fault::Silence;
    hub.fixture.peer().setCommandFault(ClubRouter::GetTime, silence);
    const Window silent = runTicks(hub, windowSec * 1000);
    const CallTiming bare = CallTiming::of(
        [&hub] {
            try {
                hub.fixture.link().getTimeStatusSync();
            } catch (const VexException &) {
            }
        },
        kBareCalls);
    silentRows(silent, bare.medianMs, tickMs);
    hub.fixture.peer().setCommandFault(ClubRouter::GetTime, ClubPortPeer::Fault());

    const bool ran = answered.statusRequests > 0 && silent.statusRequests > 0 && hub.fixture.link().isAuthed();
    if (!ran)
        std::printf("the hub did not ask the router for the time status, or the router was dropped\n");
    return ran ? 0 : 1;
}
