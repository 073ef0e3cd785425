#include "core/platform.h"
#include "core/servicefactory.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"

#include "benchrow.h"
#include "innermodulepeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>

#include <pthread.h>
#include <time.h>

// The polling service against the module peer pacing its answers at 9600 baud,
// as ratios that hold on any machine:
// (1) a landing to its tagScaned, as a multiple of the line time of the bytes
//     exchanged meanwhile: K rings landing together (delta list), and one
//     ring landing while the module holds K readings, delta and whole list;
// (2) commands per idle poll (one exchange when nothing changed);
// (3) CPU time of the polling thread per second of idle polling;
// (4) the slowest of the getters a screen calls (isValid, getModuleId,
//     getRfDevType) while a long list crosses the line: they never wait for
//     it, so a small fraction of one 10 ms poll;
// (5) how long an exit takes in the middle of that list, and during the
//     back-off after a silent module: one poll or one wait slice.
namespace {
constexpr int kBaud = 9600;
constexpr int kBitsPerByte = 10;
constexpr int kWaitLimitMs = 120000;
constexpr int kIdlePolls = 30;
constexpr int kIdleCpuMs = 5000;
const int kWaiting[] = {1, 10, 100};

constexpr int kLongList = 300;
constexpr int kGetterRounds = 200;
constexpr int kGetterTargetMs = 20;
constexpr int kExitTargetMs = 500;
constexpr int kLongBackoffMs = 60000;
constexpr int kStopMs = 5000;

std::atomic<bool> pollFailed{false};

// Quiet, but notes that the polling loop gave up on the module.
void quiet(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.contains(QLatin1String("RFIDService::run VexException!")))
        pollFailed = true;
}

void printRow(const QString &figure, double valueMs, int targetMs, bool ok)
{
    BenchRow row;
    row.figure = figure;
    row.value = BenchRow::ms(valueMs);
    row.target = QStringLiteral("< %1 ms").arg(targetMs);
    row.met = BenchRow::meets(ok && valueMs < targetMs);
    row.print();
}

QString ring(int n)
{
    return QStringLiteral("%1").arg(n, 8, 16, QLatin1Char('0')).toUpper();
}

// The answer's size on the line (without escapes) for a command.
int answerBytes(const RingWire::Frame &command)
{
    int data = 0;
    if (command.group == InnerModulePeer::kGroupRace) {
        if (command.command == InnerModulePeer::ExchangeInfo)
            data = 32;
        else if (command.command == InnerModulePeer::GetTag)
            data = 28;
        else if (command.command == InnerModulePeer::GetChannel)
            data = 12;
    }
    return int(RingWire::frame(RingWire::body(0xFFFF, 0xFFFF, RingWire::kResponseType,
                                              RingWire::responsePayload(0, QByteArray(data, '\0'))))
                   .size());
}

bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > kWaitLimitMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

struct Bench
{
    QElapsedTimer clock;
    std::atomic<int> handed{0};
    std::atomic<qint64> lastHandedNs{0};
    QMutex threadMutex;
    pthread_t pollThread{};
    bool havePollThread = false;
    InnerModulePeer peer;

    int exchanges() const
    {
        return int(peer.commands(InnerModulePeer::kGroupRace, InnerModulePeer::ExchangeInfo).size());
    }
    bool settle()
    {
        const int target = exchanges() + 3;
        return waitFor([&] { return exchanges() >= target; });
    }
    // Presents the rings, waits for `expected` hand-overs; prints the ratio.
    void measure(const char *label, int waiting, const QStringList &rings, int expected)
    {
        const qsizetype firstFrame = peer.frames().size();
        const int before = handed;
        const qint64 startNs = clock.nsecsElapsed();
        peer.presentTags(rings);
        if (!waitFor([&] { return handed - before >= expected; })) {
            std::printf("%s K=%d: timed out\n", label, waiting);
            return;
        }
        const double elapsedMs = (lastHandedNs - startNs) / 1e6;
        const QList<RingWire::Frame> frames = peer.frames().mid(firstFrame);
        int bytes = 0;
        int commands = 0;
        int lastTag = -1;
        for (int i = 0; i < frames.size(); ++i) {
            if (frames.at(i).command == InnerModulePeer::GetTag && frames.at(i).group == InnerModulePeer::kGroupRace)
                lastTag = i;
        }
        for (int i = 0; i <= lastTag; ++i) {
            bytes += int(frames.at(i).raw.size()) + answerBytes(frames.at(i));
            ++commands;
        }
        const double lineMs = bytes * kBitsPerByte * 1000.0 / kBaud;
        std::printf("%-34s K=%3d: %8.1f ms, %4d commands, %6d bytes, line %8.1f ms, ratio %.2f\n", label, waiting,
                    elapsedMs, commands, bytes, lineMs, lineMs > 0 ? elapsedMs / lineMs : 0.0);
    }
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    QTemporaryDir root;
    qputenv("CLOCK_ROOT", root.path().toLocal8Bit());
    Platform::reloadRoot();

    Bench bench;
    bench.clock.start();
    bench.peer.linkUnder(root.path(), QStringLiteral("/dev/ttyS3"));
    RingFault paced;
    paced.baud = kBaud;
    bench.peer.setFault(paced);
    bench.peer.start();

    PigeonBo engine; // not started: only its hand-over signal is used
    ServiceFactory::getInstance()->pigeonBo = &engine;
    QObject::connect(
        &engine, &PigeonBo::tagScaned, &engine,
        [&bench](const LFTAG_INFO &) {
            bench.lastHandedNs = bench.clock.nsecsElapsed();
            QMutexLocker lock(&bench.threadMutex);
            bench.pollThread = pthread_self();
            bench.havePollThread = true;
            ++bench.handed;
        },
        Qt::DirectConnection);

    RFIDService rfid(QStringLiteral("/dev/ttyS3"), 0x311);
    rfid.setTiming({0, 500});
    rfid.start();
    if (!waitFor([&] { return rfid.isValid(); }) || !bench.settle()) {
        std::fprintf(stderr, "the polling service did not connect\n");
        return 1;
    }

    std::printf("line time counts both directions; the peer paces only its answers (a pseudo-terminal carries\n"
                "the commands at once), and a landing first waits for the next 100 ms poll\n");
    int next = 1;
    for (int k : kWaiting) {
        bench.peer.setWholeList(false);
        bench.peer.reboot();
        bench.settle();
        QStringList rings;
        for (int i = 0; i < k; ++i)
            rings << ring(next++);
        bench.measure("K landing together (delta)", k, rings, k);
    }
    for (bool whole : {false, true}) {
        for (int k : kWaiting) {
            bench.peer.setWholeList(whole);
            bench.peer.reboot();
            bench.settle();
            QStringList held;
            for (int i = 0; i < k - 1; ++i)
                held << ring(next++);
            if (!held.isEmpty()) {
                bench.peer.presentTags(held);
                const int target = bench.handed + int(held.size());
                waitFor([&] { return bench.handed >= target; });
                bench.settle();
            }
            // Whole list: the new ring comes last of the K read again.
            bench.measure(whole ? "one landing, K held (whole list)" : "one landing, K held (delta)", k,
                          {ring(next++)}, whole ? k : 1);
        }
    }

    bench.peer.setWholeList(false);
    bench.settle();
    const int framesBefore = int(bench.peer.frames().size());
    const int exchangesBefore = bench.exchanges();
    waitFor([&] { return bench.exchanges() >= exchangesBefore + kIdlePolls; });
    const int polls = bench.exchanges() - exchangesBefore;
    std::printf("idle: %d commands in %d polls, %.2f commands per poll\n",
                int(bench.peer.frames().size()) - framesBefore, polls,
                double(int(bench.peer.frames().size()) - framesBefore) / polls);

    clockid_t cpuClock{};
    bool haveClock = false;
    {
        QMutexLocker lock(&bench.threadMutex);
        haveClock = bench.havePollThread && pthread_getcpuclockid(bench.pollThread, &cpuClock) == 0;
    }
    if (haveClock) {
        timespec a{}, b{};
        clock_gettime(cpuClock, &a);
        QElapsedTimer wall;
        wall.start();
        QThread::msleep(kIdleCpuMs);
        clock_gettime(cpuClock, &b);
        const double cpuMs = (b.tv_sec - a.tv_sec) * 1000.0 + (b.tv_nsec - a.tv_nsec) / 1e6;
        std::printf("idle polling thread: %.2f ms CPU per second (%.3f%%)\n", cpuMs * 1000.0 / wall.elapsed(),
                    cpuMs * 100.0 / wall.elapsed());
    }

    // A long list on the paced line: the screens' getters meanwhile, then
    // the exit in the middle of it.
    QStringList many;
    for (int i = 0; i < kLongList; ++i)
        many << ring(next++);
    const int tagsBefore = int(bench.peer.commands(InnerModulePeer::kGroupRace, InnerModulePeer::GetTag).size());
    bench.peer.presentTags(many);
    waitFor([&] {
        return bench.peer.commands(InnerModulePeer::kGroupRace, InnerModulePeer::GetTag).size() >= tagsBefore + 3;
    });
    double slowestGetterMs = 0;
    for (int i = 0; i < kGetterRounds; ++i) {
        QElapsedTimer getter;
        getter.start();
        rfid.isValid();
        rfid.getModuleId();
        rfid.getRfDevType();
        slowestGetterMs = std::max(slowestGetterMs, getter.nsecsElapsed() / 1e6);
    }
    QElapsedTimer stopping;
    stopping.start();
    rfid.requestExit();
    const bool stopped = rfid.wait(kStopMs);
    const double listExitMs = stopping.nsecsElapsed() / 1e6;
    const int tagsRead =
        int(bench.peer.commands(InnerModulePeer::kGroupRace, InnerModulePeer::GetTag).size()) - tagsBefore;
    std::printf("getters during a %d-ring list: slowest round %.2f ms of %d; exit in the list: %.1f ms "
                "(%d of %d read)\n",
                kLongList, slowestGetterMs, kGetterRounds, listExitMs, tagsRead, kLongList);
    printRow(QStringLiteral("ring reader: slowest getter round while a list crosses the line"), slowestGetterMs,
             kGetterTargetMs, true);
    printRow(QStringLiteral("ring reader: exit in the middle of a %1-ring list").arg(kLongList), listExitMs,
             kExitTargetMs, stopped && tagsRead < kLongList);

    // A silent module: the loop gives up and backs off far longer than any
    // stop may wait.
    RingFault silent;
    silent.silent = true;
    bench.peer.setFault(silent);
    pollFailed = false;
    RFIDService backingOff(QStringLiteral("/dev/ttyS3"), 0x311);
    backingOff.setTiming({20, kLongBackoffMs});
    backingOff.start();
    const bool failed = waitFor([] { return pollFailed.load(); });
    QThread::msleep(100); // into the back-off
    stopping.restart();
    backingOff.requestExit();
    const bool backoffStopped = backingOff.wait(kStopMs);
    const double backoffExitMs = stopping.nsecsElapsed() / 1e6;
    std::printf("exit during a %d ms back-off: %.1f ms\n", kLongBackoffMs, backoffExitMs);
    printRow(QStringLiteral("ring reader: exit during the back-off after a silent module"), backoffExitMs,
             kExitTargetMs, failed && backoffStopped);

    ServiceFactory::getInstance()->pigeonBo = nullptr;
    return 0;
}
