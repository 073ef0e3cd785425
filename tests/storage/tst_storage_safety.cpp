#include "core/platform.h"
#include "core/vexexception.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include "errorcode.h"
#include "powercut.h"
#include "storagefixture.h"

#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

// Safe SQL and all-or-nothing writes: hostile values through every operation
// that takes one, compound operations failing or cut off at every statement,
// and compound operations running while another thread stores arrivals.

namespace {

constexpr qint64 kClockMs = 1700000000000LL;

// The loft every atomicity case starts from: A ringed and basketed in R1,
// B ringed after a training flight, C without a ring.
const char *const kLoft[] = {
    "insert into Pigeon(AssocNum,EringNum,Uid,Color) values('A','RA','UA','blue'),('B','RB','UB','red'),('C','',NULL,'')",
    "insert into Record(AssocNum,EringNum,RaceCode,MarkTime,BackTimeEring,MarkAuthKey) values"
    "('A','RA','R1',100,200,'K'),('B','RB','train',0,300,NULL),('C','','',0,0,NULL)",
    "insert into Race(RaceCode) values('R1')",
    "insert into Nomination(Id,AssocNum,RaceCode,Nom) values(null,'A','R1',1)",
    "insert into APPPARAMS(id,val) values('k','old')",
    "insert into Log(LogId,LogType,LogTime,LogInfo) values(null,4,1,'{}')",
};

void buildLoft(const StorageFixture &db)
{
    for (const char *sql : kLoft)
        QVERIFY(db.exec(QLatin1String(sql)));
}

// The compound operations under test, by name, so that a child process can
// run them too.
void runOperation(const QString &name)
{
    // The club time that assignments write must be the same in every run.
    Platform::setSystemClock([] { return kClockMs; });
    Storage *s = Storage::instance();
    if (name == QLatin1String("savePigeon-new")) {
        PigeonInfo p;
        p.assocNum = QStringLiteral("N");
        p.eringNum = QStringLiteral("RN");
        s->savePigeon(&p);
    } else if (name == QLatin1String("savePigeon-update")) {
        QSharedPointer<PigeonInfo> p = s->findPigeonById(QStringLiteral("A"));
        p->color = QStringLiteral("white");
        s->savePigeon(p.data());
    } else if (name == QLatin1String("deletePigeon")) {
        s->deletePigeon(QStringLiteral("A"));
    } else if (name == QLatin1String("assignPigeon")) {
        s->assignPigeon(QStringLiteral("C"), QStringLiteral("RC"), QStringLiteral("UC"));
    } else if (name == QLatin1String("unassignPigeon")) {
        s->unassignPigeon(QStringLiteral("A"));
    } else if (name == QLatin1String("setParam")) {
        s->setParam(QStringLiteral("k"), QStringLiteral("new"));
    } else if (name == QLatin1String("formatDevice")) {
        s->formatDevice(QStringLiteral("L2"), QStringLiteral("pw"));
    } else if (name == QLatin1String("resetTrainRecords")) {
        s->resetTrainRecords();
    } else if (name == QLatin1String("init")) {
        Storage::init();
    }
}

QStringList compoundOperations()
{
    return {QStringLiteral("savePigeon-new"), QStringLiteral("savePigeon-update"), QStringLiteral("deletePigeon"),
            QStringLiteral("assignPigeon"),   QStringLiteral("unassignPigeon"),    QStringLiteral("setParam"),
            QStringLiteral("formatDevice"),   QStringLiteral("resetTrainRecords")};
}

} // namespace

class TestStorageSafety : public QObject
{
    Q_OBJECT
private slots:
    void hostileValue_data();
    void hostileValue();
    void failingStatement_changesNothing_data();
    void failingStatement_changesNothing();
    void powerCut_allOrNothing_data();
    void powerCut_allOrNothing();
    void compoundOperation_whileArrivalsAreCommitted();
    void pcFilter_readsOnlyItsOwnTable_data();
    void pcFilter_readsOnlyItsOwnTable();
};

void TestStorageSafety::hostileValue_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("quote") << QStringLiteral("O'Brien");
    QTest::newRow("always true") << QStringLiteral("x' OR '1'='1");
    QTest::newRow("second statement") << QStringLiteral("x'; delete from Record; --");
    QTest::newRow("placeholders") << QStringLiteral("%1%2:AssocNum?");
    QTest::newRow("non-ASCII") << QStringLiteral("Łódź-ñ-中文-\U0001F54A");
    QTest::newRow("backslash and double quote") << QStringLiteral("a\\\"b\\'");
    QTest::newRow("10000 characters") << QString(9999, QLatin1Char('\'')) + QLatin1Char('z');
}

void TestStorageSafety::hostileValue()
{
    QFETCH(QString, value);
    StorageFixture db;
    buildLoft(db);
    Storage *s = Storage::instance();
    const QString before = db.dump();

    // Look-ups and writes that find nothing change nothing and find nothing.
    QVERIFY(s->findPigeonById(value).isNull());
    QVERIFY(s->findPigeonIdByEringNum(value).isNull());
    QVERIFY(!s->checkDuplicateEringNum(value, value));
    QVERIFY(s->findRecordById(value).isNull());
    QVERIFY(s->findRecordByEring(value).isNull());
    QVERIFY(s->findRecordsByRaceCode(value, QString()).isEmpty());
    QCOMPARE(s->getMarkedPigeonCount(value), 0);
    QCOMPARE(s->getBackedPigeonCount(value), 0);
    QVERIFY(s->queryPigeons(QStringLiteral("AssocNum=") + Storage::quoted(value)).isEmpty());
    QVERIFY(s->queryRecords(QStringLiteral("EringNum=") + Storage::quoted(value), QString()).isEmpty());
    QCOMPARE(s->queryRecordsCount(QStringLiteral("RaceCode=") + Storage::quoted(value)), 0);
    QVERIFY(s->getParam(value).isEmpty());
    QVERIFY(!s->findTable(value));
    s->resetRaceRecords(value);
    s->deletePigeon(value);
    s->modifyRecords(QStringLiteral("NeedSms=1"), QStringLiteral("AssocNum=") + Storage::quoted(value));
    for (bool assign : {true, false}) {
        try {
            if (assign)
                s->assignPigeon(value, value, value);
            else
                s->unassignPigeon(value);
            QFAIL("a pigeon that does not exist was found");
        } catch (const VexException &e) {
            QCOMPARE(e.getErrorMessage(), QStringLiteral("Pigeon not exists!"));
        }
    }
    QCOMPARE(db.dump(), before);

    // Stored and found exactly, without touching the other rows.
    PigeonInfo pigeon;
    pigeon.assocNum = value;
    pigeon.eringNum = value;
    pigeon.color = value;
    s->savePigeon(&pigeon);
    QCOMPARE(s->findPigeonById(value)->color, value);
    QCOMPARE(s->findPigeonIdByEringNum(value), value);
    QVERIFY(!s->checkDuplicateEringNum(value, value));
    QCOMPARE(s->queryPigeons(QStringLiteral("AssocNum=") + Storage::quoted(value)).size(), 1);
    QSharedPointer<PigeonRecord> record = s->findRecordByEring(value);
    QVERIFY(record);
    QCOMPARE(record->assocNum, value);
    record->raceCode = value;
    record->markTime = 7;
    record->backTimeEring = 8;
    record->uidBack = value;
    s->saveRecord(record.data());
    QCOMPARE(s->findRecordsByRaceCode(value, QString()).size(), 1);
    QCOMPARE(s->findRecordById(value)->uidBack, value);
    QCOMPARE(s->getMarkedPigeonCount(value), 1);
    QCOMPARE(s->getBackedPigeonCount(value), 1);
    QCOMPARE(s->queryRecordsCount(QStringLiteral("RaceCode=") + Storage::quoted(value)), 1);
    s->resetRaceRecords(value);
    QCOMPARE(s->getMarkedPigeonCount(value), 0);
    QCOMPARE(s->findRecordById(value)->raceCode, value);
    s->unassignPigeon(value);
    QCOMPARE(s->assignPigeon(value, value, value)->uid, value);
    s->setParam(value, value);
    QCOMPARE(s->getParam(value), value);
    s->deletePigeon(value);
    QVERIFY(db.exec(QStringLiteral("delete from APPPARAMS where id=%1").arg(Storage::quoted(value))));
    QCOMPARE(db.dump(), before);

    LoftInfo loft;
    s->readLoftInfo(&loft);
    loft.ownerName = value;
    s->saveLoftInfo(&loft);
    s->readLoftInfo(&loft);
    QCOMPARE(loft.ownerName, value);
    s->formatDevice(value, value);
    s->readLoftInfo(&loft);
    QCOMPARE(loft.loftNum, value);
    QCOMPARE(loft.password, value);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Log")).toInt(), 1);
}

void TestStorageSafety::failingStatement_changesNothing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("table");
    QTest::newRow("savePigeon: record insert") << "savePigeon-new" << "INSERT" << "Record";
    QTest::newRow("savePigeon: pigeon update") << "savePigeon-update" << "UPDATE" << "Pigeon";
    QTest::newRow("deletePigeon: record delete") << "deletePigeon" << "DELETE" << "Record";
    QTest::newRow("assignPigeon: pigeon update") << "assignPigeon" << "UPDATE" << "Pigeon";
    QTest::newRow("unassignPigeon: pigeon update") << "unassignPigeon" << "UPDATE" << "Pigeon";
    QTest::newRow("setParam: insert") << "setParam" << "INSERT" << "APPPARAMS";
    QTest::newRow("formatDevice: last delete") << "formatDevice" << "DELETE" << "Nomination";
    QTest::newRow("formatDevice: loft insert") << "formatDevice" << "INSERT" << "LOFTINFO";
    QTest::newRow("resetTrainRecords: update") << "resetTrainRecords" << "UPDATE" << "Record";
}

void TestStorageSafety::failingStatement_changesNothing()
{
    QFETCH(QString, operation);
    QFETCH(QString, kind);
    QFETCH(QString, table);
    StorageFixture db;
    buildLoft(db);
    QVERIFY(db.failOn(kind, table));
    const QString before = db.dump();
    try {
        runOperation(operation);
        QFAIL("the operation succeeded");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorType(), 0x11000000);
    }
    QCOMPARE(db.dump(), before);
    // Nothing is left open: the next start and the next write work.
    QVERIFY(db.exec(QStringLiteral("drop trigger fail_%1_%2").arg(kind, table)));
    Storage::destroy();
    Storage::init();
    Storage::instance()->setParam(QStringLiteral("after"), QStringLiteral("1"));
}

void TestStorageSafety::powerCut_allOrNothing_data()
{
    QTest::addColumn<QString>("operation");
    for (const QString &operation : compoundOperations())
        QTest::newRow(qPrintable(operation)) << operation;
}

void TestStorageSafety::powerCut_allOrNothing()
{
    QFETCH(QString, operation);
    StorageFixture db;
    buildLoft(db);
    int cuts = 0;
    db.checkPowerCuts(operation, &cuts, [&db] { QCOMPARE(db.pigeonsWithoutOneRecord(), 0); });
    if (QTest::currentTestFailed())
        return;
    QVERIFY(cuts >= 3);
}

void TestStorageSafety::compoundOperation_whileArrivalsAreCommitted()
{
    constexpr int kRinged = 200;
    constexpr int kArrivalRounds = 3;
    constexpr int kCompoundOperations = 40;
    constexpr int kThreadLimitMs = 60000;
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("BEGIN")));
    for (int i = 0; i < kRinged; ++i) {
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('P%1','R%1')").arg(i)));
        QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values('P%1','R%1','R1',5)")
                            .arg(i)));
    }
    QVERIFY(db.exec(QStringLiteral("COMMIT")));

    // The service thread stores arrivals as the rings come in.
    std::atomic<int> writerFailures{0};
    QSemaphore arriving;
    std::unique_ptr<QThread> arrivals(QThread::create([&] {
        Storage *s = Storage::instance();
        for (int round = 0; round < kArrivalRounds; ++round) {
            for (int i = 0; i < kRinged; ++i) {
                try {
                    QSharedPointer<PigeonRecord> r = s->findRecordByEring(QStringLiteral("R%1").arg(i));
                    r->backTimeEring = 1000 + round * kRinged + i;
                    r->backOrder = s->queryRecordsCount(QStringLiteral("raceCode='R1' AND backTimeEring<>0")) + 1;
                    s->saveRecord(r.data());
                } catch (const VexException &) {
                    ++writerFailures;
                }
                if (round == 0 && i == 0)
                    arriving.release();
            }
        }
        Storage::destroy();
    }));
    arrivals->start();
    QVERIFY(arriving.tryAcquire(1, kThreadLimitMs));
    // Meanwhile a screen saves pigeons and starts training flights: each
    // reads, then writes, inside its transaction. Begun without the write
    // lock, some of them fail at once with "database is locked".
    int failures = 0;
    for (int n = 0; n < kCompoundOperations; ++n) {
        PigeonInfo p;
        p.assocNum = QStringLiteral("new%1").arg(n);
        p.eringNum = QStringLiteral("N%1").arg(n);
        try {
            Storage::instance()->savePigeon(&p);
            Storage::instance()->resetTrainRecords();
        } catch (const VexException &) {
            ++failures;
        }
    }
    QVERIFY(arrivals->wait(kThreadLimitMs));
    QCOMPARE(failures, 0);
    QCOMPARE(writerFailures.load(), 0);
    QCOMPARE(db.pigeonsWithoutOneRecord(), 0);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Record where RaceCode='R1' and BackTimeEring<>0")).toInt(),
             kRinged);
}

void TestStorageSafety::pcFilter_readsOnlyItsOwnTable_data()
{
    QTest::addColumn<bool>("races");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("found"); // -1: refused
    const QString union11 = QStringLiteral(
        "0 UNION SELECT Password,Password,Password,1,1,Password,Password,1,1,Password,1 FROM loftinfo");
    QTest::newRow("pigeons: a plain condition") << false << QStringLiteral("AssocNum='A'") << 1;
    QTest::newRow("pigeons: allowed functions")
        << false << QStringLiteral("lower(Color) like 'R%' or length(Uid)=9") << 1;
    QTest::newRow("pigeons: subquery on the same table")
        << false << QStringLiteral("AssocNum in (select AssocNum from Pigeon where EringNum<>'')") << 2;
    QTest::newRow("pigeons: empty, all") << false << QString() << 3;
    QTest::newRow("races: a plain condition") << true << QStringLiteral("RaceCode='R1'") << 1;
    QTest::newRow("UNION SELECT from loftinfo") << false << union11 << -1;
    QTest::newRow("subquery on another table")
        << false << QStringLiteral("AssocNum in (select AssocNum from Record)") << -1;
    QTest::newRow("subquery on the loft") << false << QStringLiteral("(select count(*) from LOFTINFO)>0") << -1;
    QTest::newRow("; DELETE") << false << QStringLiteral("1=1; DELETE FROM Pigeon") << -1;
    QTest::newRow("; DELETE, rest commented") << true << QStringLiteral("1=1; delete from race; --") << -1;
    QTest::newRow("ATTACH") << false << QStringLiteral("1=1; ATTACH DATABASE 'x.db' AS x") << -1;
    QTest::newRow("PRAGMA") << false << QStringLiteral("1=1; PRAGMA writable_schema=1") << -1;
    QTest::newRow("pragma table function")
        << false << QStringLiteral("AssocNum in (select name from pragma_table_info('LOFTINFO'))") << -1;
    QTest::newRow("load_extension") << false << QStringLiteral("load_extension('./x.so') is null") << -1;
    QTest::newRow("randomblob") << false << QStringLiteral("length(randomblob(100000000))>0") << -1;
    QTest::newRow("sqlite_master") << true << QStringLiteral("RaceCode in (select sql from sqlite_master)") << -1;
    QTest::newRow("races: UNION SELECT from loftinfo")
        << true
        << QStringLiteral("0 UNION SELECT Password") + QStringLiteral(",Password").repeated(21)
            + QStringLiteral(" FROM loftinfo")
        << -1;
    QTest::newRow("10000 characters")
        << false << QStringLiteral("AssocNum='") + QString(9988, QLatin1Char('A')) + QStringLiteral("'") << -1;
}

// The PC's filter stays a raw condition, but can read only the table it
// filters and change nothing; a refused one fails as a failed statement
// does, and the connection serves the next query.
void TestStorageSafety::pcFilter_readsOnlyItsOwnTable()
{
    QFETCH(bool, races);
    QFETCH(QString, filter);
    QFETCH(int, found);
    StorageFixture db;
    buildLoft(db);
    QVERIFY(db.exec(QStringLiteral("update LOFTINFO set Password='s3cret'")));
    Storage *s = Storage::instance();
    const QString before = db.dump();
    int count = -1;
    QString message;
    const int code = errorCodeOf(
        [&] {
            count = races ? int(s->queryRacesFiltered(filter).size()) : int(s->queryPigeonsFiltered(filter).size());
        },
        &message);
    if (found < 0) {
        QCOMPARE(code & 0xFFFFFF00, 0x11000000);
        QVERIFY(code != 0x11000000);
        QVERIFY(!message.isEmpty());
    } else {
        QCOMPARE(code, 0);
        QCOMPARE(count, found);
    }
    QCOMPARE(db.dump(), before);
    // The same connection serves the next query, unguarded ones included.
    QCOMPARE(s->queryPigeonsFiltered(QStringLiteral("AssocNum='B'")).size(), 1);
    QCOMPARE(s->queryRecordsCount(QStringLiteral("MarkTime<>0")), 1);
    LoftInfo loft;
    s->readLoftInfo(&loft);
    QCOMPARE(loft.password, QStringLiteral("s3cret"));
}

BRELLIUM_POWERCUT_TEST_MAIN(TestStorageSafety, runOperation)
#include "tst_storage_safety.moc"
