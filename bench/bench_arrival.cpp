// Arrival benchmark: the whole road of a ring, from the module peer pacing its
// bytes at 9600 baud, through the real polling thread and the real engine in a
// thread of its own, to the arrival committed in a database of 5,000 pigeons;
// in both list modes of the module (new readings only, and the whole list
// again on every change).
//   latency: from the presentation at the peer, and from the peer's answer
//     that carries the new tag, to the commit (the engine's signal, which
//     follows the commit; each row is then read on a second connection):
//     p50 and p99, beside the measured poll period and one bare durable
//     single-row SQLite commit on the same disk;
//   burst: 500 distinct rings at once, then the same rings read again: time
//     to drain, its ratio to 500 bare commits, and as counts the readings
//     handed to the engine and the SQL statements per arrival; once with the
//     peer answering at once (as fast as the module protocol allows: what
//     the clock itself takes, on 5,000 and on 20,000 pigeons) and once paced
//     at 9600 baud (what the line takes), where the drain is set against the
//     line time of the answers.
//   the Nth arrival in whole-list mode (N = 10, 50, 500): N - 1 rings landed,
//     then one more, from its presentation to its commit, against the line
//     time of the answers the clock needs for it (the whole list again).
// The headline figures go to the runner's table (latency in the new-readings
// mode at 5,000 and at 20,000 pigeons: presentation and tag answer to commit;
// the Nth arrivals; the bursts, each checked for every ring stored exactly
// once with consecutive orders and no arrival from the repeated readings).
// Runs on a simulated root in a temporary directory; the host is never
// touched. Usage: bench_arrival [--burst N] [--samples N]

#include "barecommit.h"
#include "benchrow.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "storage/storage.h"

#include "innermodulepeer.h"
#include "ringwire.h"
#include "runningengine.h"
#include "storagefixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {
constexpr int kBaud = 9600;
constexpr int kPigeons = 5000;
constexpr int kBigLoft = 20000;
constexpr int kPollMs = 100;
constexpr int kGpioMains = 51;
constexpr int kGpioRf = 40;
constexpr int kBareCommits = 200;
constexpr int kTagAnswerDataBytes = 28;
constexpr int kInfoAnswerDataBytes = 32;
constexpr int kMaxJitterMs = kPollMs; // presentations fall anywhere in a poll
constexpr int kArrivalWaitMs = 600000; // a whole burst at 9600 baud takes well under it
constexpr int kStopMs = 10000;
constexpr int kUnpaced = 0;
// The targets: from the tag answer, p99 within the answer's line time and
// the bare commit's p99 plus 10 ms (the road costs nothing beyond the line);
// from the presentation, the same plus one measured poll cycle; a burst
// drained within one and a half bare commits per ring, on the loft of the
// design and on the large one.
constexpr double kLatencySlackMs = 10.0;
constexpr double kBurstRatioTarget = 1.5;
// The Nth arrival in whole-list mode: the line is the limit; the clock's own
// work on top of it stays within half the line's time.
constexpr double kNthRatioTarget = 1.5;
const RFIDService::Timing kTiming{10, 3000};

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

QString ringOf(int n)
{
    return QStringLiteral("%1").arg(0xA0000000u + unsigned(n), 8, 16, QLatin1Char('0')).toUpper();
}

// The line time of one answer frame of dataBytes at 9600 baud (10 bits a
// byte). The peer paces its answers; the clock's short commands go out on
// the pseudo-terminal at once.
double answerLineMs(int dataBytes)
{
    const QByteArray answer = RingWire::frame(RingWire::body(
        0xFFFF, 0xFFFF, RingWire::kResponseType, RingWire::responsePayload(0, QByteArray(dataBytes, 0x11))));
    return answer.size() * 10.0 * 1000.0 / kBaud;
}

// One getTag answer: the part of "answer -> commit" that is the wire, not
// the clock.
double tagAnswerLineMs()
{
    return answerLineMs(kTagAnswerDataBytes);
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// A database of kPigeons basketed pigeons in one running race, the module
// peer paced at 9600 baud, the engine and the polling thread: one run.
class Rig
{
public:
    explicit Rig(bool wholeList, int baud = kBaud, int loftPigeons = kPigeons)
        : pigeons(loftPigeons)
        , rfid(QStringLiteral("/dev/ttyS3"), 0x311)
    {
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        HardwareControl::init(0);
        db.root().setGpio(kGpioMains, 1);
        db.root().setGpio(kGpioRf, 0);
        seed(pigeons);
        peer.linkUnder(db.root().root(), QStringLiteral("/dev/ttyS3"));
        RingFault paced;
        paced.baud = baud;
        peer.setFault(paced);
        peer.setWholeList(wholeList);
        peer.start();
        ok = engine.startEngine();
        rfid.setTiming(kTiming);
        rfid.start();
        QElapsedTimer connecting;
        connecting.start();
        while (ok && !rfid.isValid() && connecting.elapsed() < kArrivalWaitMs)
            QThread::msleep(10);
        ok = ok && rfid.isValid();
    }
    ~Rig()
    {
        rfid.requestExit();
        rfid.wait(kStopMs);
        engine.quit();
        engine.wait(kStopMs);
    }

    int exchanges() const { return int(peer.commands(InnerModulePeer::kGroupRace, InnerModulePeer::ExchangeInfo).size()); }
    qint64 answeredNs(const QString &ring) const
    {
        const QByteArray bytes = QByteArray::fromHex(ring.toLatin1());
        const QList<InnerModulePeer::Tag> tags = peer.tags();
        for (auto it = tags.crbegin(); it != tags.crend(); ++it) {
            if (it->ring == bytes)
                return it->firstAnsweredNs;
        }
        return 0;
    }
    bool committed(const QString &ring) const
    {
        return db.value(QStringLiteral("select count(*) from Record where EringNum='%1' and BackTimeEring<>0").arg(ring))
                   .toInt()
            == 1;
    }

    const int pigeons;
    StorageFixture db;
    InnerModulePeer peer;
    RunningEngine engine;
    RFIDService rfid;
    bool ok = false;

private:
    void seed(int count) const
    {
        const qint64 markMs = UTC::now().value() - 3600000;
        db.exec(QStringLiteral("insert into Race(RaceCode,RaceName,Valid,MarkDeviceTime,MarkReaderTime) "
                               "values('R1','race',3,%1,%1)")
                    .arg(markMs));
        db.exec(QStringLiteral("BEGIN"));
        for (int n = 0; n < count; ++n) {
            const QString assoc = QStringLiteral("NL-24-%1").arg(n, 5, 10, QLatin1Char('0'));
            db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','%2')").arg(assoc, ringOf(n)));
            db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values('%1','%2','R1',%3)")
                        .arg(assoc, ringOf(n))
                        .arg(markMs + n));
        }
        db.exec(QStringLiteral("COMMIT"));
    }
};

struct Bare
{
    double p50 = 0;
    double p99 = 0;
    double mean = 0;
};

struct Latency
{
    std::vector<double> fromPresent;
    std::vector<double> fromAnswer;
    int visible = 0;
    double periodMs = 0;
};

void latencyRows(const Latency &l, int pigeons, const Bare &bare)
{
    const QString loft = QStringLiteral("%1 pigeons").arg(pigeons);
    const int n = int(l.fromAnswer.size());
    const bool allVisible = n > 0 && l.visible == n;
    const double lineMs = tagAnswerLineMs();

    BenchRow row;
    row.figure = QStringLiteral("ring presented to arrival saved p50, %1 (n=%2)").arg(loft).arg(n);
    row.value = BenchRow::ms(percentile(l.fromPresent, 0.5));
    row.reference = BenchRow::ms(l.periodMs) + QStringLiteral(" poll cycle (one poll + 100 ms sleep)");
    row.ratio = l.periodMs > 0 ? percentile(l.fromPresent, 0.5) / l.periodMs : -1;
    row.print();

    const double presentRef = l.periodMs + lineMs + bare.p99;
    row = BenchRow();
    row.figure = QStringLiteral("ring presented to arrival saved p99, %1 (n=%2)").arg(loft).arg(n);
    row.value = BenchRow::ms(percentile(l.fromPresent, 0.99));
    row.reference = BenchRow::ms(presentRef) + QStringLiteral(" = poll cycle + answer line + bare commit p99");
    row.ratio = percentile(l.fromPresent, 0.99) / presentRef;
    row.target = QStringLiteral("<= ref + 10 ms, all visible");
    row.met = BenchRow::meets(allVisible && percentile(l.fromPresent, 0.99) <= presentRef + kLatencySlackMs);
    row.print();

    const double p50 = percentile(l.fromAnswer, 0.5);
    const double p99 = percentile(l.fromAnswer, 0.99);
    row = BenchRow();
    row.figure = QStringLiteral("arrival latency p50: tag answer to commit, %1 (n=%2)").arg(loft).arg(n);
    row.value = BenchRow::ms(p50);
    row.reference = BenchRow::ms(lineMs) + QStringLiteral(" answer line time + ") + BenchRow::ms(bare.p50)
        + QStringLiteral(" bare commit p50");
    row.ratio = p50 / (lineMs + bare.p50);
    row.print();

    const double answerRef = lineMs + bare.p99;
    row = BenchRow();
    row.figure = QStringLiteral("arrival latency p99: tag answer to commit, %1 (n=%2)").arg(loft).arg(n);
    row.value = BenchRow::ms(p99);
    row.reference = BenchRow::ms(lineMs) + QStringLiteral(" answer line time + ") + BenchRow::ms(bare.p99)
        + QStringLiteral(" bare commit p99");
    row.ratio = p99 / answerRef;
    row.target = QStringLiteral("<= ref + 10 ms, all visible");
    row.met = BenchRow::meets(allVisible && p99 <= answerRef + kLatencySlackMs);
    row.print();
}

Latency latency(bool wholeList, int samples, const Bare &bare, int pigeons = kPigeons)
{
    Latency l;
    Rig rig(wholeList, kBaud, pigeons);
    if (!rig.ok) {
        std::printf("arrival latency: the rig did not start\n");
        return l;
    }
    std::minstd_rand jitter(20240501);
    const int firstExchange = rig.exchanges();
    const qint64 begin = steadyNs();
    for (int i = 0; i < samples; ++i) {
        QThread::msleep(jitter() % kMaxJitterMs);
        const QString ring = ringOf(i);
        const qint64 presented = steadyNs();
        rig.peer.presentTag(ring, QStringLiteral("C0DE%1").arg(i, 4, 16, QLatin1Char('0')), quint16(i));
        if (!rig.engine.waitForArrivals(i + 1, kArrivalWaitMs))
            break;
        const qint64 committed = rig.engine.arrivals().last().steadyNs;
        l.fromPresent.push_back(ms(committed - presented));
        l.fromAnswer.push_back(ms(committed - rig.answeredNs(ring)));
        l.visible += rig.committed(ring) ? 1 : 0;
    }
    l.periodMs = ms(steadyNs() - begin) / std::max(1, rig.exchanges() - firstExchange);
    std::printf("arrival latency, %s, %d pigeons: n=%zu (visible on a second connection: %d)\n"
                "  presentation -> commit: p50=%.1f ms p99=%.1f ms\n"
                "  tag answer   -> commit: p50=%.1f ms p99=%.1f ms\n"
                "  references: poll period %.1f ms (nominal %d + exchange), bare durable commit p50 %.2f ms "
                "p99 %.2f ms, tag answer line time %.1f ms\n"
                "  ratios: presentation p50 / poll period = %.2f; (answer p50 - line time) / bare commit = %.1f\n",
                wholeList ? "whole list each change" : "new readings only", pigeons, l.fromPresent.size(), l.visible,
                percentile(l.fromPresent, 0.5), percentile(l.fromPresent, 0.99), percentile(l.fromAnswer, 0.5),
                percentile(l.fromAnswer, 0.99), l.periodMs, kPollMs, bare.p50, bare.p99, tagAnswerLineMs(),
                percentile(l.fromPresent, 0.5) / l.periodMs, (percentile(l.fromAnswer, 0.5) - tagAnswerLineMs()) / bare.p50);
    if (!wholeList)
        latencyRows(l, pigeons, bare);
    return l;
}

// Whole-list mode: with n - 1 rings landed, the nth. Each change brings the
// whole list again, so the clock reads n answers before the new ring's; the
// reference is what the line needs for them: the exchange that shows the
// change and n tag answers, after at most one poll cycle.
void nthArrival(int n, double cycleMs)
{
    Rig rig(true);
    if (!rig.ok) {
        std::printf("nth arrival: the rig did not start\n");
        return;
    }
    QList<InnerModulePeer::Reading> landed;
    for (int i = 0; i < n - 1; ++i)
        landed << InnerModulePeer::Reading{ringOf(i), QStringLiteral("C0DE%1").arg(i, 4, 16, QLatin1Char('0')),
                                           quint16(i), QString()};
    if (!landed.isEmpty()) {
        rig.peer.presentTagsAtOnce(landed);
        if (!rig.engine.waitForArrivals(n - 1, kArrivalWaitMs)) {
            std::printf("nth arrival: the first %d did not arrive\n", n - 1);
            return;
        }
    }
    // Past the list's reading: the next presentation falls in a quiet cycle.
    QThread::msleep(kPollMs);
    const qint64 presented = steadyNs();
    rig.peer.presentTag(ringOf(n - 1), QStringLiteral("C0DEFFFF"), quint16(n));
    const bool arrived = rig.engine.waitForArrivals(n, kArrivalWaitMs);
    const double tookMs = arrived ? ms(rig.engine.arrivals().last().steadyNs - presented) : -1;
    const double lineMs = answerLineMs(kInfoAnswerDataBytes) + n * tagAnswerLineMs();
    const double reference = cycleMs + lineMs;
    std::printf("arrival %d in whole-list mode: %.0f ms from presentation to commit; line time of the answers "
                "%.0f ms, poll cycle %.0f ms\n",
                n, tookMs, lineMs, cycleMs);
    BenchRow row;
    row.figure = QStringLiteral("arrival %1 in whole-list module mode, presented to saved").arg(n);
    row.value = BenchRow::ms(tookMs);
    row.reference = BenchRow::ms(reference) + QStringLiteral(" = poll cycle + line time of %1 answers").arg(n + 1);
    row.ratio = tookMs >= 0 ? tookMs / reference : -1;
    row.target = QStringLiteral("<= 1.5x ref");
    row.met = BenchRow::meets(arrived && tookMs <= kNthRatioTarget * reference);
    row.print();
}

struct Drain
{
    bool drained = false;
    double drainMs = 0;
};

// The rows with an arrival, their number, and whether their orders run
// 1, 2, ... without a gap or a repeat.
bool storedOnceInOrder(const Rig &rig, int expected)
{
    const QList<QVariantList> rows = rig.db.rows(QStringLiteral(
        "select count(*), count(distinct BackOrder), min(BackOrder), max(BackOrder) from Record where BackTimeEring<>0"));
    if (rows.isEmpty() || rows.first().size() < 4)
        return false;
    const QVariantList &r = rows.first();
    std::printf("    stored: %d arrivals, %d distinct orders from %d to %d\n", r.at(0).toInt(), r.at(1).toInt(),
                r.at(2).toInt(), r.at(3).toInt());
    return r.at(0).toInt() == expected && r.at(1).toInt() == expected && r.at(2).toInt() == 1
        && r.at(3).toInt() == expected;
}

// Presents the readings at once and waits for the arrivals they must bring;
// prints the drain time and the counts.
Drain burstPhase(Rig &rig, const char *label, const QList<InnerModulePeer::Reading> &readings, int arrivals,
                int rings, double bareMean)
{
    const int arrivalsBefore = rig.engine.arrivalCount();
    const int handedBefore = rig.engine.readingsHanded();
    const quint64 statementsBefore = Storage::statementCount();
    const qint64 presented = steadyNs();
    rig.peer.presentTagsAtOnce(readings);
    const bool drained = rig.engine.waitForArrivals(arrivalsBefore + arrivals, kArrivalWaitMs);
    const QList<RunningEngine::Back> backs = rig.engine.arrivals();
    const qint64 lastCommit = backs.isEmpty() ? steadyNs() : backs.last().steadyNs;
    const qint64 lastAnswer = rig.answeredNs(readings.last().ring);
    const int handed = rig.engine.readingsHanded() - handedBefore;
    const double statements = double(Storage::statementCount() - statementsBefore);
    const double drainMs = ms(lastCommit - presented);
    std::printf("  %s: %s; %d readings presented, %d handed to the engine, %d arrivals\n"
                "    drain %.0f ms (last tag answer -> last commit %.1f ms); drain / %d bare commits = %.2f\n"
                "    SQL statements: %.0f, %.2f per arrival, %.2f per reading handed\n",
                label, drained ? "drained" : "NOT DRAINED", int(readings.size()), handed,
                rig.engine.arrivalCount() - arrivalsBefore, drainMs, ms(lastCommit - lastAnswer), rings,
                drainMs / (rings * bareMean), statements, statements / std::max(1, arrivals),
                statements / std::max(1, handed));
    return {drained && rig.engine.arrivalCount() - arrivalsBefore == arrivals, drainMs};
}

void burstRow(int rings, int baud, int pigeons, const Drain &first, bool sound, double bareMean)
{
    BenchRow row;
    row.value = BenchRow::ms(first.drainMs);
    if (baud == kUnpaced) {
        row.figure = QStringLiteral("arrival burst: %1 rings drained, peer unpaced, %L2 pigeons").arg(rings).arg(pigeons);
        row.reference = BenchRow::ms(rings * bareMean) + QStringLiteral(" = %1 bare commits").arg(rings);
        row.ratio = first.drainMs / (rings * bareMean);
        row.target = QStringLiteral("none lost, <= %1").arg(kBurstRatioTarget);
        row.met = BenchRow::meets(sound && row.ratio <= kBurstRatioTarget);
    } else {
        const double lineMs = rings * tagAnswerLineMs();
        row.figure = QStringLiteral("arrival burst: %1 rings drained at %2 baud").arg(rings).arg(baud);
        row.reference = BenchRow::ms(lineMs) + QStringLiteral(" line time of %1 tag answers").arg(rings);
        row.ratio = first.drainMs / lineMs;
        row.target = QStringLiteral("none lost");
        row.met = BenchRow::meets(sound);
    }
    row.print();
}

void burst(bool wholeList, int rings, double bareMean, int baud = kBaud, int pigeons = kPigeons)
{
    Rig rig(wholeList, baud, pigeons);
    if (!rig.ok) {
        std::printf("arrival burst: the rig did not start\n");
        return;
    }
    if (baud == kUnpaced) {
        // The reference of the clock's own drain: as many bare commits on
        // the same disk, right before it (the disk's speed drifts with
        // whatever else the machine does).
        const std::vector<double> bare = bareCommitsMs(rig.db.root().workDir(), rings);
        double totalMs = 0;
        for (double t : bare)
            totalMs += t;
        bareMean = totalMs / std::max<size_t>(1, bare.size());
        std::printf("%d bare durable commits just before: %.0f ms\n", rings, totalMs);
    }
    std::printf("arrival burst, %s, %s, %d pigeons:\n", wholeList ? "whole list each change" : "new readings only",
                baud == kUnpaced ? "peer unpaced" : "peer paced at 9600 baud", pigeons);
    QList<InnerModulePeer::Reading> first;
    for (int i = 0; i < rings; ++i)
        first << InnerModulePeer::Reading{ringOf(i), QStringLiteral("C0DE%1").arg(i, 4, 16, QLatin1Char('0')),
                                          quint16(i), QString()};
    const Drain distinct = burstPhase(rig, "distinct rings", first, rings, rings, bareMean);
    bool sound = distinct.drained && storedOnceInOrder(rig, rings);
    // The same rings again, then one new ring whose arrival marks the end:
    // every repeated reading is looked up and dropped.
    QList<InnerModulePeer::Reading> again = first;
    again << InnerModulePeer::Reading{ringOf(rings), QStringLiteral("C0DEFFFF"), 1, QString()};
    const Drain repeated = burstPhase(rig, "repeated readings + 1 new", again, 1, rings, bareMean);
    sound = sound && repeated.drained && storedOnceInOrder(rig, rings + 1);
    if (!wholeList)
        burstRow(rings, baud, pigeons, distinct, sound, bareMean);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
    qRegisterMetaType<PigeonRecord>("PigeonRecord");
    int rings = 500;
    int samples = 60;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--burst"))
            rings = std::clamp(args.at(i + 1).toInt(), 1, kPigeons - 1);
        else if (args.at(i) == QLatin1String("--samples"))
            samples = std::clamp(args.at(i + 1).toInt(), 1, kPigeons - 1);
    }

    Bare bare;
    {
        StorageFixture place; // the same kind of directory the rigs use
        const std::vector<double> commits = bareCommitsMs(place.root().workDir(), kBareCommits);
        bare.p50 = percentile(commits, 0.5);
        bare.p99 = percentile(commits, 0.99);
        for (double t : commits)
            bare.mean += t;
        bare.mean /= std::max<size_t>(1, commits.size());
        std::printf("bare durable single-row commit: n=%zu p50=%.2f ms p99=%.2f ms mean=%.2f ms\n", commits.size(),
                    bare.p50, bare.p99, bare.mean);
    }
    const Latency small = latency(false, samples, bare);
    latency(false, samples, bare, kBigLoft);
    // The whole list costs one getTag per listed reading at every change, so
    // its latency run is kept shorter.
    latency(true, std::max(1, samples / 3), bare);
    for (int n : {10, 50, 500})
        nthArrival(n, small.periodMs);
    burst(false, rings, bare.mean, kUnpaced);
    burst(false, rings, bare.mean, kUnpaced, kBigLoft);
    burst(false, rings, bare.mean);
    burst(true, rings, bare.mean);
    return 0;
}
