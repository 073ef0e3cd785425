// Storage at scale: the reads a screen or the PC service makes, on the
// database of a busy loft (5,000 pigeons all basketed for one race and most
// of them home with full arrival records, 200 races, an event log of 20,000
// entries trimmed at start), each timed per call against a raw select of the
// same rows on a plain connection (the cost of SQLite itself on this
// machine). Target: every call under 50 ms, so that no screen stalls. Also
// the start-up trim of the log, and the process's peak resident memory.
// bench_storage covers the write paths (arrivals, deletes, resets) at the
// smaller log of the design; this is the read side at the loft's full scale.
// Runs on a simulated root in a temporary directory; the host is untouched.
// Usage: bench_scale [runs per query]   (default 15)

#include "benchrow.h"
#include "calltiming.h"
#include "loftdatabase.h"
#include "processsample.h"

#include "core/log.h"
#include "core/vexexception.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "testroot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kDefaultRuns = 15;
constexpr double kTargetMs = 50.0;
constexpr int kRacePageSize = 10;   // the race list screen's page
constexpr int kLogPageSize = 10;    // the event-log screen's page
constexpr int kPcLogLimit = 100;    // the PC service's largest log batch
const char kRawConnection[] = "bench-scale-raw";

int runs = kDefaultRuns;
int loftPigeons = LoftDatabase::kPigeons;
// The slowest single call of any screen or PC query on the loft now measured.
double slowestMs = 0;
QString slowestFigure;

QString loftTag()
{
    return QStringLiteral(" at %L1 pigeons").arg(loftPigeons);
}

constexpr int kSlowCallRuns = 3; // for calls that may take seconds

struct Timing
{
    double medianMs = 0;
    double worstMs = 0;
};

Timing timeCalls(const std::function<void()> &call, int times)
{
    const CallTiming t = CallTiming::of(call, times);
    return {t.medianMs, t.worstMs};
}

// Every column of every row, read as the storage layer reads them.
int rawSelect(const QString &sql)
{
    QSqlQuery q(QSqlDatabase::database(QLatin1String(kRawConnection)));
    q.setForwardOnly(true);
    if (!q.exec(sql)) {
        std::fprintf(stderr, "raw: %s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
        return 0;
    }
    const int columns = q.record().count();
    int rows = 0;
    while (q.next()) {
        for (int c = 0; c < columns; ++c)
            (void)q.value(c);
        ++rows;
    }
    return rows;
}

void report(const QString &figure, const QString &detail, const std::function<void()> &call,
            const std::function<void()> &raw, int times = -1)
{
    const Timing product = timeCalls(call, times < 0 ? runs : times);
    const Timing reference = timeCalls(raw, times < 0 ? runs : times);
    std::printf("%s%s: %s; per call median %.2f ms, worst %.2f ms; raw select median %.2f ms\n", qPrintable(figure),
                qPrintable(loftTag()), qPrintable(detail), product.medianMs, product.worstMs, reference.medianMs);
    if (product.worstMs > slowestMs) {
        slowestMs = product.worstMs;
        slowestFigure = figure;
    }
    // A screen is held by its slowest call, not by its usual one.
    BenchRow row;
    row.figure = figure + loftTag() + QStringLiteral(", slowest call");
    row.value = BenchRow::ms(product.worstMs) + QStringLiteral(" (median ") + BenchRow::ms(product.medianMs)
        + QLatin1Char(')');
    row.reference = BenchRow::ms(reference.medianMs) + QStringLiteral(" raw select");
    row.ratio = reference.medianMs > 0 ? product.worstMs / reference.medianMs : -1;
    row.target = QStringLiteral("< 50 ms");
    row.met = BenchRow::meets(product.worstMs < kTargetMs);
    row.print();
}

QString quotedRace()
{
    return Storage::quoted(QLatin1String(LoftDatabase::kRace));
}

const QString kRecordColumns = QStringLiteral(
    "select AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,GpsValid,GpsOnLine,NeedSms,"
    "SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,BackTimeUid,BackHomeLat,BackHomeLon,"
    "MarkReaderId,MarkAuthKey,MarkTime from record ");
const QString kRaceColumns = QStringLiteral(
    "select RaceCode,RaceName,LiberCode,LiberTime,LiberName,LiberLon,LiberLat,Valid,ClubCode,AssocCode,"
    "MarkReaderId,MarkAuthKey,MarkDeviceTime,MarkReaderTime,BackPrintReaderId,BackPrintAuthKey,"
    "RaceStopDeviceTime,RaceStopReaderTime,BackPrintFlag,MarkPrintFlag,PrintCount,OtherData from race ");

void benchLists(Storage *storage)
{
    int rows = 0;
    report(QStringLiteral("pigeon list"),
           QStringLiteral("queryPigeons(\"\"), the pigeon list and the PC's queryPigeon"),
           [&] { rows = int(storage->queryPigeons(QString()).size()); },
           [] {
               rawSelect(QStringLiteral("select AssocNum,Uid, EringNum, Valid, Test, AssocCode, Color,Year, Sex, "
                                        "RegNum, UpdateTime from pigeon order by AssocNum"));
           });
    report(QStringLiteral("race records"),
           QStringLiteral("findRecordsByRaceCode(race, \"backTimeEring,AssocNum\"), the race detail screens"),
           [&] { storage->findRecordsByRaceCode(QLatin1String(LoftDatabase::kRace), QStringLiteral("backTimeEring,AssocNum")); },
           [] {
               rawSelect(kRecordColumns + QStringLiteral("where raceCode=") + quotedRace()
                         + QStringLiteral(" AND markTime<>0 order by backTimeEring,AssocNum"));
           });
    const QString arrived = QStringLiteral("markTime<>0 AND backTimeEring<>0 AND raceCode=") + quotedRace();
    report(QStringLiteral("arrived list"),
           QStringLiteral("queryRecords(arrived, \"backTimeEring\"), the printed race list and the PC export"),
           [&] { storage->queryRecords(arrived, QStringLiteral("backTimeEring")); },
           [&] { rawSelect(kRecordColumns + QStringLiteral("where ") + arrived + QStringLiteral(" order by backTimeEring")); });
}

void benchCounts(Storage *storage)
{
    const QString race = QLatin1String(LoftDatabase::kRace);
    report(QStringLiteral("race counts: basketed + arrived"),
           QStringLiteral("getMarkedPigeonCount + getBackedPigeonCount, each row of the home and race screens"),
           [&] {
               storage->getMarkedPigeonCount(race);
               storage->getBackedPigeonCount(race);
           },
           [] {
               rawSelect(QStringLiteral("select count(*) from record where markTime<>0 AND raceCode=") + quotedRace());
               rawSelect(QStringLiteral("select count(*) from record where backTimeEring<>0 AND raceCode=") + quotedRace());
           });
}

// One page of the race list as the screen draws it: the count, the page,
// and the basketed and arrived counts of each row.
void benchRacePage(Storage *storage)
{
    const int offset = (LoftDatabase::kRaces / kRacePageSize / 2) * kRacePageSize;
    report(QStringLiteral("race list page (10 of 200, counts per row)"),
           QStringLiteral("getRacesCount + getPageRaces + 10 x (basketed, arrived)"),
           [&] {
               storage->getRacesCount(QString());
               for (const auto &race : storage->getPageRaces(QString(), offset, kRacePageSize)) {
                   storage->getMarkedPigeonCount(race->raceCode);
                   storage->getBackedPigeonCount(race->raceCode);
               }
           },
           [&] {
               rawSelect(kRaceColumns + QStringLiteral(" order by LiberTime, RaceCode asc"));
               rawSelect(kRaceColumns + QStringLiteral(" order by LiberTime, RaceCode asc limit %1 offset %2")
                                            .arg(kRacePageSize)
                                            .arg(offset));
               for (int i = 0; i < kRacePageSize; ++i) {
                   const QString code = Storage::quoted(LoftDatabase::raceCode(offset + 1 + i));
                   rawSelect(QStringLiteral("select count(*) from record where markTime<>0 AND raceCode=") + code);
                   rawSelect(QStringLiteral("select count(*) from record where backTimeEring<>0 AND raceCode=") + code);
               }
           });
}

void benchLogPages(Storage *storage)
{
    const int entries = storage->getLogCount();
    const int lastPage = std::max(0, (entries - 1) / kLogPageSize);
    const QString select =
        QStringLiteral("select LogId,LogType,LogTime,LogInfo from log where logId>0 order by rowid desc Limit %1 offset %2");
    report(QStringLiteral("log page (last of %1 entries)").arg(entries),
           QStringLiteral("queryLogs(0, 10, page), the event-log screen's oldest page"),
           [&] { storage->queryLogs(0, kLogPageSize, lastPage); },
           [&] { rawSelect(select.arg(kLogPageSize).arg(lastPage * kLogPageSize)); });
    report(QStringLiteral("PC log batch (100 entries)"), QStringLiteral("queryLogs(0, 100, 0), the PC's queryLog"),
           [&] { storage->queryLogs(0, kPcLogLimit, 0); }, [&] { rawSelect(select.arg(kPcLogLimit).arg(0)); });
}

// The printed basketing list: the race's records in basketing order with
// their marking orders (sorted by them in a nominated race). The PC
// service's record query and the race detail screens compute one record's
// order the same way.
void benchMarkingOrder(Storage *storage)
{
    const QString race = QLatin1String(LoftDatabase::kRace);
    int listed = 0;
    report(QStringLiteral("marking order for printing"),
           QStringLiteral("findRecordsByRaceCode(race, \"markTime\") + fillMarkOrder + sortByMarkOrder"),
           [&] {
               QList<QSharedPointer<PigeonRecord>> records = storage->findRecordsByRaceCode(race, QStringLiteral("markTime"));
               PigeonRecord::fillMarkOrder(records);
               PigeonRecord::sortByMarkOrder(records);
               listed = int(records.size());
           },
           [] {
               rawSelect(kRecordColumns + QStringLiteral("where raceCode=") + quotedRace()
                         + QStringLiteral(" AND markTime<>0 order by markTime"));
           },
           kSlowCallRuns);
    report(QStringLiteral("one record with its marking order"),
           QStringLiteral("findRecordById + fillMarkOrder, the PC's queryRaceRecord and the race detail"),
           [&] {
               QSharedPointer<PigeonRecord> record =
                   storage->findRecordById(LoftDatabase::assocNum(loftPigeons - 1));
               record->fillMarkOrder();
           },
           [&] {
               rawSelect(kRecordColumns + QStringLiteral("where assocNum=")
                         + Storage::quoted(LoftDatabase::assocNum(loftPigeons - 1)));
           });
    std::printf("  (%d records ordered)\n", listed);
}

// What a start does to the log of 20,000 entries: open (with the schema
// check) and trim. Measured first, reported last.
BenchRow benchStartTrim()
{
    Storage::destroy();
    QElapsedTimer timer;
    timer.start();
    Storage::init();
    Storage::instance()->clearSomeLogs();
    const double trimMs = double(timer.nsecsElapsed()) / 1e6;
    const int left = Storage::instance()->getLogCount();
    std::printf("start-up open and trim: %d log entries to %d in %.1f ms\n", LoftDatabase::kLogRows, left, trimMs);
    BenchRow row;
    row.figure = QStringLiteral("start-up open + log trim (20,000 entries)");
    row.value = BenchRow::ms(trimMs);
    row.target = QStringLiteral("part of start-up < 2 s");
    row.met = BenchRow::meets(trimMs < 2000);
    return row;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1)
        runs = std::max(1, QString::fromLocal8Bit(argv[1]).toInt());
    // The storage layer's debug lines would drown the report.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const ProcessSample start = ProcessSample::take(getpid());
    // The loft of the design and one four times larger, each in a root of
    // its own; the start-up trim is reported for the first.
    BenchRow trim;
    for (int pigeons : {LoftDatabase::kPigeons, 4 * LoftDatabase::kPigeons}) {
        loftPigeons = pigeons;
        slowestMs = 0;
        TestRoot root;
        if (!root.isValid())
            return 1;
        root.activate();
        try {
            Storage::init();
            if (!LoftDatabase::fill(pigeons))
                return 1;
            const BenchRow opened = benchStartTrim();
            if (pigeons == LoftDatabase::kPigeons)
                trim = opened;
            {
                QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kRawConnection));
                raw.setDatabaseName(QLatin1String(Storage::kDatabaseFile));
                raw.open();
            }
            Storage *storage = Storage::instance();
            benchLists(storage);
            benchCounts(storage);
            benchRacePage(storage);
            benchLogPages(storage);
            benchMarkingOrder(storage);
        } catch (const VexException &e) {
            std::fprintf(stderr, "bench_scale: %s\n", qPrintable(e.getErrorMessage()));
            return 1;
        }
        Storage::destroy();
        QSqlDatabase::removeDatabase(QLatin1String(kRawConnection));
        BenchRow slowest;
        slowest.figure = QStringLiteral("slowest screen or PC call") + loftTag();
        slowest.value = BenchRow::ms(slowestMs) + QStringLiteral(" (") + slowestFigure + QLatin1Char(')');
        slowest.target = QStringLiteral("< 50 ms");
        slowest.met = BenchRow::meets(slowestMs < kTargetMs);
        slowest.print();
    }
    trim.print();

    const ProcessSample end = ProcessSample::take(getpid());
    std::printf("resident memory: %.1f MB before the database, peak %.1f MB\n", start.rssKib / 1024.0,
                end.peakRssKib / 1024.0);
    BenchRow memory;
    memory.figure = QStringLiteral("peak memory, storage at scale (this process)");
    memory.value = BenchRow::mb(double(end.peakRssKib));
    memory.reference = BenchRow::mb(double(start.rssKib)) + QStringLiteral(" before the database");
    memory.ratio = start.rssKib > 0 ? double(end.peakRssKib) / double(start.rssKib) : -1;
    memory.target = QStringLiteral("< 80 MB");
    memory.met = BenchRow::meets(end.peakRssKib < 80 * 1024);
    memory.print();
    return 0;
}
