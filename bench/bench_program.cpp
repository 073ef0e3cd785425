// The program itself on a simulated device, timed from outside as the
// device's start script would see it, on the database of a busy loft (the
// one bench_scale measures: 5,000 pigeons, 200 races, 20,000 log entries
// trimmed at start):
//   start-up: process start to the main window shown, and to its first
//     painted frame (their debug lines);
//   shutdown: the close datagram to the process's end;
//   idle load: CPU time over wall time and wake-ups per second for a minute
//     with idle peers on its lines (ring-reader module, club line, modem):
//     at most 50 wake-ups a second in all, a share of a core within 3x the
//     bare window's;
//   peak resident memory over that minute.
// Reference for each: a bare Qt window of the same shape (480 x 800, a 300 ms
// tick, the same close datagram) measured the same way in the same run; for
// the shutdown, the fixed pauses of its six steps.
// Usage: bench_program [idle-seconds] [start-runs]   (default 60 and 3)

#include "benchprocess.h"
#include "benchrow.h"
#include "loftdatabase.h"
#include "processsample.h"

#include "core/vexexception.h"
#include "storage/storage.h"
#include "testroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kDefaultIdleSec = 60;
constexpr int kDefaultStartRuns = 3;
constexpr int kShownLimitMs = 60000;
constexpr int kPeerLinkLimitMs = 10000;
constexpr int kPeerPollMs = 20;
constexpr int kPeerStopMs = 5000;
// After the window shows, the services finish their first exchanges (module
// handshake, modem set-up) before the idle minute is counted.
constexpr int kSettleMs = 5000;
// Six shutdown steps, each a fixed 300 ms pause and then a wait bounded at
// 8 s by the main window; the bare window has no steps.
constexpr int kShutdownSteps = 6;
constexpr int kStepPauseMs = 300;
constexpr int kStepLimitMs = 8000;
constexpr int kShutdownLimitMs = kShutdownSteps * (kStepPauseMs + kStepLimitMs);
constexpr double kStartTargetMs = 2000;
constexpr double kIdleTargetPercent = 2.0;
constexpr qint64 kMemoryTargetKib = 80 * 1024;
const QByteArray kShownLine = "main: main window shown";
const QByteArray kPaintedLine = "main: first frame painted";
constexpr double kIdleWakeUpsTarget = 50.0;
constexpr double kIdleCpuRatioTarget = 3.0;
const char kVersion[] = "8.9.30";

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The simulated device: a recognised board with its files, the version file
// of this build (no upgrade notice), the loft's database kept aside and put
// in place fresh before each start, and the peers on the lines.
class Device
{
public:
    Device()
    {
        root.writeFile(QStringLiteral("/app/brellium/version"), kVersion);
        QDir().mkpath(root.path(QStringLiteral("/dev")));
        root.activate();
        Storage::init();
        ready = LoftDatabase::fill();
        Storage::destroy();
        ready = ready && QFile::rename(database(), fixture());
    }

    ~Device() { stopPeers(); }

    // The loft as it was before any start: the log not yet trimmed.
    bool freshDatabase() const
    {
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            QFile::remove(database() + QLatin1String(suffix));
        return QFile::copy(fixture(), database());
    }

    bool startPeers()
    {
        const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString logs = root.path(QStringLiteral("/var/log/"));
        auto peer = [&](const char *program, const QStringList &args, const char *log) {
            auto p = std::make_unique<BenchProcess>(QLatin1String(program), args, root.root(), env);
            p->redirectTo(logs + QLatin1String(log));
            return p;
        };
        peers.push_back(peer(BRELLIUM_MODULEPEER, {QStringLiteral("--root"), root.root()}, "modulepeer.log"));
        peers.push_back(peer(BRELLIUM_CLUBPEER, {QStringLiteral("--link"), root.path(QStringLiteral("/dev/ttyS2"))},
                             "clubpeer.log"));
        peers.push_back(peer(BRELLIUM_MODEMPEER,
                             {QStringLiteral("--family"), QStringLiteral("ublox"), QStringLiteral("--node"),
                              root.path(QStringLiteral("/dev/ttyUSB1"))},
                             "modempeer.log"));
        for (auto &p : peers) {
            if (!p->start())
                return false;
        }
        QElapsedTimer waited;
        waited.start();
        const QStringList lines = {QStringLiteral("/dev/ttyS3"), QStringLiteral("/dev/ttyS2"),
                                   QStringLiteral("/dev/ttyUSB1")};
        while (waited.elapsed() < kPeerLinkLimitMs) {
            if (std::all_of(lines.begin(), lines.end(),
                            [this](const QString &l) { return QFileInfo::exists(root.path(l)); }))
                return true;
            QThread::msleep(kPeerPollMs);
        }
        return false;
    }

    void stopPeers()
    {
        for (auto &p : peers)
            p->stop(kPeerStopMs);
        peers.clear();
    }

    std::vector<qint64> peerPids() const
    {
        std::vector<qint64> pids;
        for (const auto &p : peers)
            pids.push_back(p->pid());
        return pids;
    }

    QProcessEnvironment environment(quint16 closePort) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CLOCK_ROOT"), root.root());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("BRELLIUM_CLOSE_PORT"), QString::number(closePort));
        env.insert(QStringLiteral("ALSA_CONFIG_PATH"), QStringLiteral(BRELLIUM_ALSA_NULL_CONF));
        env.remove(QStringLiteral("BRELLIUM_TIME_SCALE")); // the device's own timing
        return env;
    }

    QString workDir() const { return root.workDir(); }

    bool ready = false;

private:
    QString database() const { return root.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile); }
    QString fixture() const { return root.path(QStringLiteral("/loft-fixture.db3")); }

    TestRoot root;
    std::vector<std::unique_ptr<BenchProcess>> peers;
};

struct Run
{
    double shownMs = -1;
    double paintedMs = -1;
    double shutdownMs = -1;
    qint64 peakRssKib = 0;
};

// One start and close, with a pause between so that the services are up.
Run startAndClose(Device &device, const char *program, bool usesDatabase)
{
    Run run;
    if (usesDatabase && !device.freshDatabase())
        return run;
    const quint16 port = BenchProcess::freePort();
    BenchProcess p(QLatin1String(program), {}, device.workDir(), device.environment(port));
    if (!p.start())
        return run;
    run.shownMs = p.waitForLine(kShownLine, kShownLimitMs);
    if (run.shownMs < 0) {
        std::fprintf(stderr, "%s did not show its window:\n%s\n", program, p.outputTail(30).constData());
        return run;
    }
    run.paintedMs = p.waitForLine(kPaintedLine, kShownLimitMs);
    p.runFor(1000);
    run.peakRssKib = ProcessSample::take(p.pid()).peakRssKib;
    run.shutdownMs = p.closeAndWait(port, kShutdownLimitMs + 10000);
    if (run.shutdownMs < 0)
        std::fprintf(stderr, "%s did not end after the close command:\n%s\n", program, p.outputTail(30).constData());
    return run;
}

void reportStartAndShutdown(const std::vector<Run> &runs, const std::vector<Run> &bare)
{
    std::vector<double> shown, painted, shutdown, bareShown, barePainted;
    for (const Run &r : runs) {
        shown.push_back(r.shownMs);
        painted.push_back(r.paintedMs);
        shutdown.push_back(r.shutdownMs);
        std::printf("start-up %.0f ms (first frame %.0f ms), shutdown %.0f ms, peak %.1f MB\n", r.shownMs,
                    r.paintedMs, r.shutdownMs, r.peakRssKib / 1024.0);
    }
    for (const Run &r : bare) {
        bareShown.push_back(r.shownMs);
        barePainted.push_back(r.paintedMs);
        std::printf("bare window: start-up %.0f ms (first frame %.0f ms), shutdown %.0f ms, peak %.1f MB\n",
                    r.shownMs, r.paintedMs, r.shutdownMs, r.peakRssKib / 1024.0);
    }
    const double start = median(shown);
    const double reference = median(bareShown);
    BenchRow row;
    row.figure = QStringLiteral("start-up to main window shown (median of %1)").arg(runs.size());
    row.value = BenchRow::ms(start);
    row.reference = BenchRow::ms(reference) + QStringLiteral(" bare Qt window");
    row.ratio = reference > 0 ? start / reference : -1;
    row.target = QStringLiteral("< 2 s");
    row.met = BenchRow::meets(start >= 0 && start < kStartTargetMs);
    row.print();

    const double firstFrame = median(painted);
    const double bareFrame = median(barePainted);
    row = BenchRow();
    row.figure = QStringLiteral("start-up to first painted frame (median of %1)").arg(runs.size());
    row.value = BenchRow::ms(firstFrame);
    row.reference = BenchRow::ms(bareFrame) + QStringLiteral(" bare Qt window");
    row.ratio = bareFrame > 0 && firstFrame >= 0 ? firstFrame / bareFrame : -1;
    row.target = QStringLiteral("< 2 s");
    row.met = BenchRow::meets(firstFrame >= 0 && firstFrame < kStartTargetMs);
    row.print();

    const double stop = median(shutdown);
    const double pauses = kShutdownSteps * kStepPauseMs;
    row = BenchRow();
    row.figure = QStringLiteral("shutdown after the close datagram (median of %1)").arg(runs.size());
    row.value = BenchRow::ms(stop);
    row.reference = BenchRow::ms(pauses) + QStringLiteral(" fixed pauses of 6 steps");
    row.ratio = stop >= 0 ? stop / pauses : -1;
    row.target = QStringLiteral("< %1 s (6 steps x (0.3 + 8) s)").arg(kShutdownLimitMs / 1000.0, 0, 'f', 1);
    row.met = BenchRow::meets(stop >= 0 && stop < kShutdownLimitMs);
    row.print();
}

void printPeerLoad(const std::vector<qint64> &pids, const std::vector<ProcessSample> &before)
{
    for (size_t i = 0; i < pids.size(); ++i) {
        const ProcessLoad load(before[i], ProcessSample::take(pids[i]));
        std::printf("peer %lld: %.3f %% CPU, %.1f wake-ups/s\n", static_cast<long long>(pids[i]), load.cpuPercent,
                    load.wakeUpsPerSec);
    }
}

// The program and the bare window side by side for the idle minute.
bool idle(Device &device, int idleSec)
{
    if (!device.freshDatabase())
        return false;
    const quint16 port = BenchProcess::freePort();
    const quint16 barePort = BenchProcess::freePort();
    BenchProcess program(QLatin1String(BRELLIUM_PROGRAM), {}, device.workDir(), device.environment(port));
    BenchProcess bare(QLatin1String(BRELLIUM_BAREPROGRAM), {}, device.workDir(), device.environment(barePort));
    if (!program.start() || program.waitForLine(kShownLine, kShownLimitMs) < 0 || !bare.start()
        || bare.waitForLine(kShownLine, kShownLimitMs) < 0) {
        std::fprintf(stderr, "idle: the program did not come up:\n%s\n", program.outputTail(30).constData());
        return false;
    }
    program.runFor(kSettleMs);
    const std::vector<qint64> peerPids = device.peerPids();
    std::vector<ProcessSample> peersBefore;
    for (qint64 pid : peerPids)
        peersBefore.push_back(ProcessSample::take(pid));
    const ProcessSample before = ProcessSample::take(program.pid());
    const ProcessSample bareBefore = ProcessSample::take(bare.pid());
    const bool lived = program.runFor(idleSec * 1000);
    const ProcessSample after = ProcessSample::take(program.pid());
    const ProcessSample bareAfter = ProcessSample::take(bare.pid());
    if (!lived || !after.valid) {
        std::fprintf(stderr, "idle: the program ended during the idle minute:\n%s\n", program.outputTail(30).constData());
        return false;
    }
    const ProcessLoad load(before, after);
    const ProcessLoad bareLoad(bareBefore, bareAfter);
    std::printf("idle %.1f s: %.3f %% of one core, %.1f wake-ups/s; the program's threads:\n%s", load.wallMs / 1000.0,
                load.cpuPercent, load.wakeUpsPerSec, qPrintable(load.threadReport));
    std::printf("bare window: %.3f %% of one core, %.1f wake-ups/s\n", bareLoad.cpuPercent, bareLoad.wakeUpsPerSec);
    printPeerLoad(peerPids, peersBefore);

    BenchRow row;
    row.figure = QStringLiteral("idle load with idle peers (%1 s)").arg(idleSec);
    row.value = BenchRow::percent(load.cpuPercent) + QStringLiteral(" of one core");
    row.reference = BenchRow::percent(bareLoad.cpuPercent) + QStringLiteral(" bare Qt window");
    row.ratio = bareLoad.cpuPercent > 0 ? load.cpuPercent / bareLoad.cpuPercent : -1;
    row.target = QStringLiteral("< 2 %, <= 3x bare");
    row.met = BenchRow::meets(load.cpuPercent < kIdleTargetPercent && row.ratio >= 0
                              && row.ratio <= kIdleCpuRatioTarget);
    row.print();

    row = BenchRow();
    row.figure = QStringLiteral("idle wake-ups (%1 s)").arg(idleSec);
    row.value = QString::number(load.wakeUpsPerSec, 'f', 1) + QStringLiteral(" /s");
    row.reference = QString::number(bareLoad.wakeUpsPerSec, 'f', 1) + QStringLiteral(" /s bare Qt window");
    row.ratio = bareLoad.wakeUpsPerSec > 0 ? load.wakeUpsPerSec / bareLoad.wakeUpsPerSec : -1;
    row.target = QStringLiteral("<= 50 /s");
    row.met = BenchRow::meets(load.wakeUpsPerSec <= kIdleWakeUpsTarget);
    row.print();

    row = BenchRow();
    row.figure = QStringLiteral("peak memory, running program (start + idle)");
    row.value = BenchRow::mb(double(after.peakRssKib));
    row.reference = BenchRow::mb(double(bareAfter.peakRssKib)) + QStringLiteral(" bare Qt window");
    row.ratio = bareAfter.peakRssKib > 0 ? double(after.peakRssKib) / double(bareAfter.peakRssKib) : -1;
    row.target = QStringLiteral("< 80 MB");
    row.met = BenchRow::meets(after.peakRssKib < kMemoryTargetKib);
    row.print();

    const double shutdownMs = program.closeAndWait(port, kShutdownLimitMs + 10000);
    bare.closeAndWait(barePort, kShutdownLimitMs);
    std::printf("shutdown after the idle minute: %.0f ms\n", shutdownMs);
    return shutdownMs >= 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int idleSec = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultIdleSec;
    const int startRuns = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : kDefaultStartRuns;

    int status = 0;
    try {
        Device device;
        if (!device.ready || !device.startPeers()) {
            std::fprintf(stderr, "bench_program: the simulated device did not come up\n");
            return 1;
        }
        std::vector<Run> runs;
        std::vector<Run> bare;
        for (int i = 0; i < startRuns; ++i) {
            runs.push_back(startAndClose(device, BRELLIUM_PROGRAM, true));
            bare.push_back(startAndClose(device, BRELLIUM_BAREPROGRAM, false));
        }
        reportStartAndShutdown(runs, bare);
        if (!idle(device, idleSec))
            status = 1;
    } catch (const VexException &e) {
        std::fprintf(stderr, "bench_program: %s\n", qPrintable(e.getErrorMessage()));
        return 1;
    }
    return status;
}
