// Storage benchmark: the arrival path, list queries and the training reset on
// a loft of 5,000 pigeons, the race list at 200 races, the event log at 2,000
// rows and its start-up trim,
// reported as times and as ratios to a baseline of the same run, so that the
// figures compare across machines. Runs on a simulated root in a temporary
// directory; the host is never flushed or touched.

#include "core/log.h"
#include "core/platform.h"
#include "core/vexexception.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kPigeons = 5000;
constexpr int kRaces = 200;
constexpr int kLogRows = 2000;
constexpr int kArrivals = 400;
constexpr int kBurst = 100;
constexpr int kBaselineRuns = 200;
constexpr int kQueryRuns = 20;
constexpr int kReaderWriterArrivals = 300;
constexpr int kThreadWaitMs = 600000;
constexpr int kLoggedArrivals = 400;
constexpr int kLoggedArrivalFirst = 1000;
constexpr int kTrimRows = 5000;
constexpr int kDeletedRaceRecords = 1000;
constexpr int kDeletedRaceFirst = 2000;
const char kDeletedRace[] = "R0002";
const char kRace[] = "R0001";
const char kRawConnection[] = "bench-raw";

qint64 nowNs(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed();
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

qint64 percentile(std::vector<qint64> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

QString ring(int i)
{
    return QStringLiteral("E%1").arg(i, 7, 10, QLatin1Char('0'));
}

QString assoc(int i)
{
    return QStringLiteral("NL-%1").arg(i, 6, 10, QLatin1Char('0'));
}

// The bench's own connection for the fixture and the raw comparisons.
QSqlDatabase raw()
{
    return QSqlDatabase::database(QLatin1String(kRawConnection), true);
}

bool rawExec(const QString &sql)
{
    QSqlQuery q(raw());
    if (q.exec(sql))
        return true;
    std::fprintf(stderr, "raw: %s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
    return false;
}

// Write transactions committed to the file: SQLite's file change counter.
quint32 fileCommits()
{
    QFile file(QLatin1String(Storage::kDatabaseFile));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray header = file.read(28);
    if (header.size() < 28)
        return 0;
    return (quint32(quint8(header[24])) << 24) | (quint32(quint8(header[25])) << 16)
        | (quint32(quint8(header[26])) << 8) | quint32(quint8(header[27]));
}

void buildFixture()
{
    rawExec(QStringLiteral("BEGIN"));
    QSqlQuery pigeon(raw());
    pigeon.prepare(QStringLiteral("insert into Pigeon(AssocNum,EringNum,Uid,Valid,Test,AssocCode,Color,Year,Sex,RegNum,"
                                  "UpdateTime) values(?,?,?,1,0,'NL','blue',2023,1,'R',0)"));
    QSqlQuery record(raw());
    record.prepare(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime,UidMarked,MarkReaderId) "
                                  "values(?,?,?,?,'U','READER')"));
    for (int i = 0; i < kPigeons; ++i) {
        pigeon.addBindValue(assoc(i));
        pigeon.addBindValue(ring(i));
        pigeon.addBindValue(QStringLiteral("%1").arg(i, 8, 16, QLatin1Char('0')));
        pigeon.exec();
        record.addBindValue(assoc(i));
        record.addBindValue(ring(i));
        // Every pigeon basketed for the one race: a full race.
        record.addBindValue(QLatin1String(kRace));
        record.addBindValue(1700000000000LL + i);
        record.exec();
    }
    QSqlQuery race(raw());
    race.prepare(QStringLiteral("insert into Race(RaceCode,RaceName,LiberTime,Valid,OtherData) values(?,?,?,3,'{}')"));
    for (int i = 1; i <= kRaces; ++i) {
        race.addBindValue(QStringLiteral("R%1").arg(i, 4, 10, QLatin1Char('0')));
        race.addBindValue(QStringLiteral("Race %1").arg(i));
        race.addBindValue(1700000000000LL + qint64(i) * 86400000);
        race.exec();
    }
    QSqlQuery log(raw());
    log.prepare(QStringLiteral("insert into Log(LogId,LogType,LogTime,LogInfo) values(null,1,?,?)"));
    for (int i = 0; i < kLogRows; ++i) {
        log.addBindValue(1700000000000LL + i);
        log.addBindValue(QStringLiteral("{\"assocNum\":\"%1\",\"backOrder\":%2}").arg(assoc(i)).arg(i));
        log.exec();
    }
    rawExec(QStringLiteral("COMMIT"));
}

// One arrival as the race engine stores it: look the ring up, count the
// race's arrivals for the order, save the whole record.
void arrive(Storage *storage, int i, qint64 time)
{
    QSharedPointer<PigeonRecord> record = storage->findRecordByEring(ring(i));
    if (!record)
        return;
    const int order = storage->queryRecordsCount(QStringLiteral("raceCode=") + Storage::quoted(QLatin1String(kRace))
                                                 + QStringLiteral(" AND backTimeEring<>0"));
    record->backTimeEring = time;
    record->backOrder = order + 1;
    record->randNumberBack = i;
    record->needSms = true;
    storage->saveRecord(record.data());
}

qint64 baselineEmptyTransaction(Storage *storage)
{
    QElapsedTimer timer;
    std::vector<qint64> samples;
    for (int i = 0; i < kBaselineRuns; ++i) {
        timer.start();
        storage->_beginTransaction();
        storage->_commit();
        samples.push_back(nowNs(timer));
    }
    return percentile(samples, 0.5);
}

// A committed write of one row on the bench's own connection: what the
// file system's sync costs on this machine.
qint64 baselineOneRowCommit()
{
    QElapsedTimer timer;
    std::vector<qint64> samples;
    QSqlQuery q(raw());
    for (int i = 0; i < kBaselineRuns; ++i) {
        timer.start();
        q.exec(QStringLiteral("insert or replace into APPPARAMS(id,val) values('bench','%1')").arg(i));
        samples.push_back(nowNs(timer));
    }
    q.finish();
    return percentile(samples, 0.5);
}

void benchArrivals(Storage *storage, qint64 baselineNs, qint64 writeNs)
{
    QElapsedTimer timer;
    std::vector<qint64> samples;
    const quint32 commitsBefore = fileCommits();
    const quint64 statementsBefore = Storage::statementCount();
    for (int i = 0; i < kArrivals; ++i) {
        timer.start();
        arrive(storage, i, 1800000000000LL + i);
        samples.push_back(nowNs(timer));
    }
    const quint32 commits = fileCommits() - commitsBefore;
    const quint64 statements = Storage::statementCount() - statementsBefore;
    const qint64 p50 = percentile(samples, 0.5);
    const qint64 p99 = percentile(samples, 0.99);
    std::printf("arrival: p50 %.3f ms (%.1f x empty commit, %.2f x one-row commit), p99 %.3f ms (%.1f x, %.2f x), "
                "%.2f commits and %.2f statements per arrival\n",
                ms(p50), double(p50) / double(baselineNs), double(p50) / double(writeNs), ms(p99),
                double(p99) / double(baselineNs), double(p99) / double(writeNs), double(commits) / kArrivals,
                double(statements) / kArrivals);

    timer.start();
    for (int i = kArrivals; i < kArrivals + kBurst; ++i)
        arrive(storage, i, 1800000000000LL + i);
    const qint64 burst = nowNs(timer);
    std::printf("arrival burst of %d: %.1f ms, %.3f ms per arrival (%.1f x empty commit, %.2f x one-row commit)\n",
                kBurst, ms(burst), ms(burst) / kBurst, double(burst) / kBurst / double(baselineNs),
                double(burst) / kBurst / double(writeNs));
}

qint64 bestOf(const std::function<void()> &work)
{
    QElapsedTimer timer;
    qint64 best = -1;
    for (int i = 0; i < kQueryRuns; ++i) {
        timer.start();
        work();
        const qint64 elapsed = nowNs(timer);
        if (best < 0 || elapsed < best)
            best = elapsed;
    }
    return best;
}

int rawRows(const QString &sql)
{
    QSqlQuery q(raw());
    q.setForwardOnly(true);
    q.exec(sql);
    int rows = 0;
    while (q.next()) {
        for (int c = 0; c < 11; ++c)
            (void)q.value(c);
        ++rows;
    }
    return rows;
}

void benchQueries(Storage *storage)
{
    int listed = 0;
    const qint64 pigeons = bestOf([&] { listed = int(storage->queryPigeons(QString()).size()); });
    const qint64 pigeonsRaw = bestOf([] {
        rawRows(QStringLiteral("select AssocNum,Uid, EringNum, Valid, Test, AssocCode, Color,Year, Sex, RegNum, "
                               "UpdateTime from pigeon order by AssocNum"));
    });
    std::printf("queryPigeons(\"\"): %d rows in %.2f ms, %.2f x a raw select of the same rows (%.2f ms)\n", listed,
                ms(pigeons), double(pigeons) / double(pigeonsRaw), ms(pigeonsRaw));

    const qint64 records = bestOf([&] {
        listed = int(storage->findRecordsByRaceCode(QLatin1String(kRace), QStringLiteral("AssocNum")).size());
    });
    const qint64 recordsRaw = bestOf([] {
        rawRows(QStringLiteral("select AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,"
                               "GpsValid,GpsOnLine,NeedSms,SmsSendState,UidUploadState,EringUploadState,BackOrder,"
                               "BackTimeEring,BackTimeUid,BackHomeLat,BackHomeLon,MarkReaderId,MarkAuthKey,MarkTime "
                               "from record where raceCode='R0001' AND markTime<>0 order by AssocNum"));
    });
    std::printf("findRecordsByRaceCode (full race): %d rows in %.2f ms, %.2f x a raw select (%.2f ms)\n", listed,
                ms(records), double(records) / double(recordsRaw), ms(recordsRaw));
}

int rawRaceRows(const QString &sql)
{
    QSqlQuery q(raw());
    q.setForwardOnly(true);
    q.exec(sql);
    int rows = 0;
    while (q.next()) {
        for (int c = 0; c < 22; ++c)
            (void)q.value(c);
        ++rows;
    }
    return rows;
}

// The race list at 200 races, each with the further data the engine keeps,
// against a raw select of the same rows: the difference is mostly the parse
// of each row's further-data text.
void benchRaceQueries(Storage *storage)
{
    rawExec(QStringLiteral("update Race set OtherData='{\"markUploadFlag\":true,\"markUploadedCount\":12,"
                           "\"nomination\":1}'"));
    rawExec(QStringLiteral("update Race set Valid=4 where rowid%2=0"));
    const QString select = QStringLiteral(
        "select RaceCode,RaceName,LiberCode,LiberTime,LiberName,LiberLon,LiberLat,Valid,ClubCode,AssocCode,"
        "MarkReaderId,MarkAuthKey,MarkDeviceTime,MarkReaderTime,BackPrintReaderId,BackPrintAuthKey,"
        "RaceStopDeviceTime,RaceStopReaderTime,BackPrintFlag,MarkPrintFlag,PrintCount,OtherData from race ");
    const qint64 rawAll = bestOf([&] { rawRaceRows(select + QStringLiteral(" order by LiberTime, RaceCode asc")); });
    int listed = 0;
    const qint64 all = bestOf([&] { listed = int(storage->queryRaces(QString()).size()); });
    std::printf("queryRaces(\"\"): %d races in %.3f ms, %.2f x a raw select of the same rows (%.3f ms)\n", listed,
                ms(all), double(all) / double(rawAll), ms(rawAll));

    const qint64 rawPage = bestOf([&] {
        rawRaceRows(select + QStringLiteral(" order by LiberTime, RaceCode asc limit 20 offset 100"));
    });
    const qint64 page = bestOf([&] { listed = int(storage->getPageRaces(QString(), 100, 20).size()); });
    std::printf("getPageRaces(\"\", 100, 20): %d races in %.3f ms, %.2f x raw (%.3f ms)\n", listed, ms(page),
                double(page) / double(rawPage), ms(rawPage));

    const qint64 counted = bestOf([&] { listed = storage->getRacesCount(QString()); });
    std::printf("getRacesCount(\"\"): %d in %.3f ms\n", listed, ms(counted));

    const qint64 rawActive = bestOf([&] {
        rawRaceRows(select + QStringLiteral(" where valid=3 OR (valid=1 AND markReaderTime<>0) "
                                            "order by LiberTime, RaceCode asc"));
    });
    const qint64 active = bestOf([&] { listed = int(storage->queryActiveRaces().size()); });
    std::printf("queryActiveRaces: %d of %d races in %.3f ms, %.2f x raw (%.3f ms)\n", listed, kRaces, ms(active),
                double(active) / double(rawActive), ms(rawActive));
}

void benchLogQueries(Storage *storage)
{
    const int rows = storage->getLogCount();
    for (int limit : {10, 100}) {
        int listed = 0;
        const qint64 first = bestOf([&] { listed = int(storage->queryLogs(0, limit, 0).size()); });
        const qint64 deep = bestOf([&] { storage->queryLogs(0, limit, rows / limit - 1); });
        std::printf("queryLogs pages of %d at %d rows: first page %.3f ms (%d rows), last page %.3f ms\n", limit, rows,
                    ms(first), listed, ms(deep));
    }
}

// The arrival entry written after each stored arrival: its extra cost against
// the same run's empty committed transaction and against the arrival itself.
void benchArrivalLog(Storage *storage, qint64 baselineNs)
{
    QElapsedTimer timer;
    std::vector<qint64> arrivals;
    std::vector<qint64> entries;
    for (int i = kLoggedArrivalFirst; i < kLoggedArrivalFirst + kLoggedArrivals; ++i) {
        timer.start();
        arrive(storage, i, 1850000000000LL + i);
        arrivals.push_back(nowNs(timer));
        PigeonRecord record;
        record.assocNum = assoc(i);
        record.eringNum = ring(i);
        record.raceCode = QLatin1String(kRace);
        record.backTimeEring = 1850000000000LL + i;
        record.backOrder = i;
        record.needSms = true;
        record.uidBack = QStringLiteral("0A0B0C0D");
        timer.start();
        storage->logPigeonBack(&record);
        entries.push_back(nowNs(timer));
    }
    const qint64 arrival = percentile(arrivals, 0.5);
    const qint64 entry = percentile(entries, 0.5);
    const qint64 entry99 = percentile(entries, 0.99);
    std::printf("logPigeonBack after each of %d arrivals: p50 %.3f ms (%.2f x empty commit, %.2f x the arrival's "
                "%.3f ms), p99 %.3f ms (%.2f x empty commit)\n",
                kLoggedArrivals, ms(entry), double(entry) / double(baselineNs), double(entry) / double(arrival),
                ms(arrival), ms(entry99), double(entry99) / double(baselineNs));
}

// The start-up trim of a log grown to 5,000 rows.
void benchClearSomeLogs(Storage *storage)
{
    const int present = storage->getLogCount();
    rawExec(QStringLiteral("BEGIN"));
    QSqlQuery log(raw());
    log.prepare(QStringLiteral("insert into Log(LogId,LogType,LogTime,LogInfo) values(null,4,?,'{\"version\":\"8.9.30\"}')"));
    for (int i = present; i < kTrimRows; ++i) {
        log.addBindValue(1700000000000LL + i);
        log.exec();
    }
    log.finish();
    rawExec(QStringLiteral("COMMIT"));
    const int before = storage->getLogCount();
    QElapsedTimer timer;
    timer.start();
    storage->clearSomeLogs();
    const qint64 elapsed = nowNs(timer);
    std::printf("clearSomeLogs at start-up: %d rows to %d in %.2f ms\n", before, storage->getLogCount(), ms(elapsed));
}

// Deleting a race that 1,000 pigeons are basketed for, with their nominations.
void benchDeleteRace(Storage *storage)
{
    rawExec(QStringLiteral("update Record set RaceCode='%1', MarkTime=1 where AssocNum>='%2' and AssocNum<'%3'")
                .arg(QLatin1String(kDeletedRace), assoc(kDeletedRaceFirst),
                     assoc(kDeletedRaceFirst + kDeletedRaceRecords)));
    rawExec(QStringLiteral("insert into Nomination(Id,AssocNum,RaceCode,Nom) select null, AssocNum, RaceCode, 1 "
                           "from Record where RaceCode='%1'")
                .arg(QLatin1String(kDeletedRace)));
    const int basketed = storage->getMarkedPigeonCount(QLatin1String(kDeletedRace));
    const quint32 commitsBefore = fileCommits();
    const quint64 statementsBefore = Storage::statementCount();
    QElapsedTimer timer;
    timer.start();
    storage->deleteRace(QLatin1String(kDeletedRace));
    const qint64 elapsed = nowNs(timer);
    std::printf("deleteRace with %d basketed records: %.2f ms, %llu statements, %u commits\n", basketed, ms(elapsed),
                static_cast<unsigned long long>(Storage::statementCount() - statementsBefore),
                fileCommits() - commitsBefore);
}

void benchTrainingReset(Storage *storage)
{
    // Unbasket everyone first, so that every ringed pigeon is reset.
    storage->modifyRecords(QStringLiteral("MarkTime=0"), QString());
    const quint32 commitsBefore = fileCommits();
    const quint64 statementsBefore = Storage::statementCount();
    QElapsedTimer timer;
    timer.start();
    storage->resetTrainRecords();
    const qint64 elapsed = nowNs(timer);
    std::printf("resetTrainRecords (%d ringed): %.1f ms, %llu statements, %u commits\n", kPigeons, ms(elapsed),
                static_cast<unsigned long long>(Storage::statementCount() - statementsBefore),
                fileCommits() - commitsBefore);
}

void benchInit()
{
    Storage::destroy();
    QElapsedTimer timer;
    timer.start();
    Storage::init();
    std::printf("Storage::init with repair (%d pigeons): %.1f ms\n", kPigeons, ms(nowNs(timer)));
}

// A reading thread (the screens) while the service thread writes arrivals.
void benchReaderWhileWriting()
{
    std::atomic<bool> writing{true};
    std::atomic<int> busyFailures{0};
    std::atomic<qint64> longestReadNs{0};
    std::atomic<int> reads{0};

    std::unique_ptr<QThread> writer(QThread::create([&] {
        Storage *storage = Storage::instance();
        for (int i = 0; i < kReaderWriterArrivals; ++i) {
            try {
                arrive(storage, kPigeons - 1 - i, 1900000000000LL + i);
            } catch (const VexException &) {
                ++busyFailures;
            }
        }
        writing = false;
        Storage::destroy();
    }));
    std::unique_ptr<QThread> reader(QThread::create([&] {
        Storage *storage = Storage::instance();
        QElapsedTimer timer;
        while (writing) {
            timer.start();
            try {
                storage->getBackedPigeonCount(QLatin1String(kRace));
                storage->findRecordById(assoc(reads % kPigeons));
            } catch (const VexException &) {
                ++busyFailures;
            }
            const qint64 elapsed = nowNs(timer);
            if (elapsed > longestReadNs)
                longestReadNs = elapsed;
            ++reads;
        }
        Storage::destroy();
    }));
    writer->start();
    reader->start();
    writer->wait(kThreadWaitMs);
    reader->wait(kThreadWaitMs);
    std::printf("reader while %d arrivals are written: %d reads, longest %.2f ms, busy failures %d (expected 0)\n",
                kReaderWriterArrivals, reads.load(), ms(longestReadNs), busyFailures.load());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // A simulated root: the database's flush at creation is only recorded.
    QDir().mkpath(dir.path() + QStringLiteral("/var/log"));
    QDir().mkpath(dir.path() + QStringLiteral("/work"));
    qputenv("CLOCK_ROOT", dir.path().toLocal8Bit());
    Platform::reloadRoot();
    QDir::setCurrent(dir.path() + QStringLiteral("/work"));
    // The storage layer's debug lines would drown the report.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    try {
        Storage::init();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kRawConnection));
        db.setDatabaseName(QLatin1String(Storage::kDatabaseFile));
        buildFixture();

        Storage *storage = Storage::instance();
        const qint64 baseline = baselineEmptyTransaction(storage);
        const qint64 write = baselineOneRowCommit();
        std::printf("baselines: empty committed transaction p50 %.3f ms, one-row committed write p50 %.3f ms\n",
                    ms(baseline), ms(write));
        benchArrivals(storage, baseline, write);
        benchQueries(storage);
        benchRaceQueries(storage);
        benchLogQueries(storage);
        benchArrivalLog(storage, baseline);
        benchClearSomeLogs(storage);
        benchReaderWhileWriting();
        benchDeleteRace(storage);
        benchTrainingReset(storage);
        benchInit();
    } catch (const VexException &e) {
        std::fprintf(stderr, "bench_storage: %s\n", qPrintable(e.getErrorMessage()));
        return 1;
    }
    Storage::destroy();
    QSqlDatabase::removeDatabase(QLatin1String(kRawConnection));
    return 0;
}
