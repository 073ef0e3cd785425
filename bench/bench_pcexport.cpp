// The export to the PC program and the member screen's periodic refresh:
// (1) exports of 10, 100, 1,000 and 5,000 (a whole loft's) arrival lines to the PC-port peer reading
//     at real 9600-baud pace: total time against the wire time of the bytes
//     (near 1: the export waits for the line, not for itself), bytes received
//     per byte written (1.0: nothing lost or doubled) and the longest time the
//     GUI thread is held by one line against the wire time of the bytes still
//     on their way ahead of it;
// (2) the member screen's 30 s refresh at 500 pigeons and on the busy loft's
//     5,000: statements per refresh and its time as a share of the 300 ms tick.
// Runs on a simulated root in a temporary directory.

#include "core/platform.h"
#include "core/vexexception.h"
#include "device/pcport.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/pigeon/formmember.h"
#include "ui/pigeon/pcexport.h"

#include "benchrow.h"
#include "loftdatabase.h"
#include "pcportpeer.h"
#include "testroot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 kBase = 1746093600000LL;
constexpr int kTickMs = 300;
constexpr int kRefreshRuns = 5;
constexpr int kPeerWaitMs = 900000;
constexpr int kWholeLoftLines = 5000;
constexpr double kWireRatioTarget = 1.1;
constexpr int kBlockMarginMs = 500;

void seedArrivals(int count)
{
    Storage *storage = Storage::instance();
    storage->_beginTransaction();
    storage->_modifyRecords(QStringLiteral("MarkTime=0,BackTimeEring=0"), QString());
    for (int i = 0; i < count; ++i) {
        PigeonRecord record;
        record.assocNum = QStringLiteral("NL-%1").arg(i, 5, 10, QLatin1Char('0'));
        record.eringNum = QStringLiteral("%1").arg(i + 1, 8, 16, QLatin1Char('0')).toUpper();
        record.raceCode = QStringLiteral("R1");
        record.markTime = kBase - 3600000;
        record.backTimeEring = kBase + i * 1000;
        record.backOrder = i + 1;
        storage->saveRecord(&record);
    }
    storage->_commit();
}

double lineTimeMs(qint64 bytes)
{
    return bytes * 10 * 1000.0 / PcPortPeer::kLineBaud;
}

void benchExport(int lines, PcPortPeer &peer)
{
    seedArrivals(lines);
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    peer.clear();
    const int closesBefore = peer.closeCount();
    qint64 written = 0;
    // The longest hold of the GUI thread by one line, and the bytes that were
    // still on their way to the PC when that line was written: the driver
    // takes a line only once it has room, so a line waits for those to leave.
    qint64 longestNs = 0;
    qint64 longestAhead = 0;
    // Every line's hold against the line time of what was ahead of it and of
    // the line itself: the worst excess.
    double worstExcessMs = -1e9;
    QElapsedTimer total;
    total.start();
    if (!PcPort::open()) {
        std::fprintf(stderr, "bench_pcexport: the PC port does not open\n");
        return;
    }
    const bool sent = PcExport::run(loft, Storage::instance(), [&](const QByteArray &line) {
        const qint64 ahead = std::max<qint64>(written - peer.receivedCount(), 0);
        QElapsedTimer one;
        one.start();
        const bool ok = PcPort::write(line);
        const qint64 ns = one.nsecsElapsed();
        if (ns > longestNs) {
            longestNs = ns;
            longestAhead = ahead;
        }
        worstExcessMs = std::max(worstExcessMs, ns / 1e6 - lineTimeMs(ahead + line.size()));
        written += line.size();
        return ok;
    });
    PcPort::close();
    peer.waitForCloses(closesBefore + 1, kPeerWaitMs);
    peer.waitForBytes(written, kPeerWaitMs);
    const double totalMs = total.nsecsElapsed() / 1e6;
    const double wireMs = lineTimeMs(written);
    const double received = double(peer.receivedCount());
    std::printf("export of %d arrival lines: %s, %lld bytes, %.0f ms (wire %.0f ms), received %.0f bytes, "
                "longest line %.1f ms behind %lld bytes on their way, worst line %.1f ms past its line time\n",
                lines, sent ? "sent" : "FAILED", static_cast<long long>(written), totalMs, wireMs, received,
                longestNs / 1e6, static_cast<long long>(longestAhead), worstExcessMs);

    BenchRow time;
    time.figure = QStringLiteral("PC export, %1 arrival lines at 9600 baud: total time").arg(lines);
    time.value = BenchRow::ms(totalMs);
    time.reference = BenchRow::ms(wireMs) + QStringLiteral(" wire time");
    time.ratio = totalMs / wireMs;
    // The download of a whole loft's arrivals waits for the line, not for
    // the clock.
    if (lines >= kWholeLoftLines) {
        time.target = QStringLiteral("<= %1 x wire time").arg(kWireRatioTarget);
        time.met = BenchRow::meets(sent && time.ratio <= kWireRatioTarget);
    }
    time.print();
    BenchRow bytes;
    bytes.figure = QStringLiteral("PC export, %1 arrival lines: bytes received per byte written").arg(lines);
    bytes.value = QString::number(received / double(written), 'f', 3);
    bytes.target = QStringLiteral("1.000");
    bytes.met = BenchRow::meets(qint64(received) == written && sent);
    bytes.print();
    // The driver of the line (a pseudo-terminal here) holds many lines and
    // makes room only when nearly all have gone: a line then holds the GUI
    // for the time of those ahead of it. Anything beyond that is the clock's.
    BenchRow block;
    block.figure = QStringLiteral("PC export, %1 arrival lines: longest GUI block per line").arg(lines);
    block.value = BenchRow::ms(longestNs / 1e6);
    const double aheadMs = lineTimeMs(longestAhead) + wireMs / (lines + 2);
    block.reference = BenchRow::ms(aheadMs) + QStringLiteral(" wire time of the line and the bytes ahead");
    block.ratio = (longestNs / 1e6) / aheadMs;
    block.target = QStringLiteral("every line < its wire time and the bytes ahead + %1 ms").arg(kBlockMarginMs);
    block.met = BenchRow::meets(worstExcessMs < kBlockMarginMs);
    block.print();
}

void benchRefresh(const QString &label)
{
    FormMember screen(nullptr);
    screen.onActive();
    // A tick longer than the countdown runs the refresh at once.
    double worstMs = 0;
    double sumMs = 0;
    quint64 statements = 0;
    for (int i = 0; i < kRefreshRuns; ++i) {
        const quint64 before = Storage::statementCount();
        QElapsedTimer timer;
        timer.start();
        screen.onTimeTick(1000000);
        const double ms = timer.nsecsElapsed() / 1e6;
        statements = Storage::statementCount() - before;
        worstMs = std::max(worstMs, ms);
        sumMs += ms;
    }
    screen.onDeactive(SubWindow::DeactiveHide);
    const double meanMs = sumMs / kRefreshRuns;
    std::printf("member refresh, %s: %llu statements, mean %.1f ms, worst %.1f ms\n", qPrintable(label),
                static_cast<unsigned long long>(statements), meanMs, worstMs);
    BenchRow row;
    row.figure = QStringLiteral("member screen refresh, %1: time per refresh (%2 statements)").arg(label).arg(statements);
    row.value = BenchRow::ms(meanMs);
    row.reference = BenchRow::ms(kTickMs) + QStringLiteral(" tick");
    row.ratio = meanMs / kTickMs;
    row.print();
}

void seedPigeons(int count)
{
    Storage *storage = Storage::instance();
    storage->_beginTransaction();
    for (int i = 0; i < count; ++i) {
        PigeonInfo pigeon;
        pigeon.assocNum = QStringLiteral("NL-%1").arg(i, 5, 10, QLatin1Char('0'));
        pigeon.eringNum = QStringLiteral("%1").arg(i + 1, 8, 16, QLatin1Char('0')).toUpper();
        storage->_insertPigeon(&pigeon);
        PigeonRecord record;
        record.assocNum = pigeon.assocNum;
        record.eringNum = pigeon.eringNum;
        record.raceCode = QStringLiteral("R1");
        record.markTime = kBase - 3600000;
        storage->_insertRecord(&record);
    }
    storage->_commit();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    int status = 0;
    {
        TestRoot root;
        if (!root.isValid())
            return 1;
        root.activate();
        PcPortPeer peer;
        const QString node = Platform::path(QStringLiteral("/dev/ttyS1"));
        QDir().mkpath(QFileInfo(node).absolutePath());
        if (!peer.linkAt(node) || !peer.start())
            return 1;
        peer.setPaced(true);
        try {
            Storage::init();
            RaceInfo race;
            race.raceCode = QStringLiteral("R1");
            race.valid = 3;
            race.liberTime = kBase;
            Storage::instance()->saveRace(&race);
            seedPigeons(500);
            for (int lines : {10, 100, 1000, kWholeLoftLines})
                benchExport(lines, peer);
            benchRefresh(QStringLiteral("500 pigeons"));
            Storage::destroy();
        } catch (const VexException &e) {
            std::fprintf(stderr, "bench_pcexport: %s\n", qPrintable(e.getErrorMessage()));
            status = 1;
        }
    }
    {
        TestRoot root;
        root.activate();
        try {
            Storage::init();
            if (!LoftDatabase::fill())
                return 1;
            benchRefresh(QStringLiteral("busy loft, 5,000 pigeons"));
            Storage::destroy();
        } catch (const VexException &e) {
            std::fprintf(stderr, "bench_pcexport: %s\n", qPrintable(e.getErrorMessage()));
            status = 1;
        }
    }
    PcPort::destroy();
    FormMessage::destroyInstance();
    return status;
}
