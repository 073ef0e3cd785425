#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include "storagefixture.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <cstring>

// The look-ups and counts that every arrival, the screens, the uploads and
// the PC make do the same work on a loft twenty times larger: SQLite's own
// count of the steps each statement took (no clock involved) shows whether a
// statement searched an index or went through the whole table.

namespace {

constexpr int kSmallLoft = 200;
constexpr int kLargeLoft = 4000;
// Steps a statement may take beyond twice its count on the small loft: an
// index one level deeper, never a pass over the extra pigeons.
constexpr qint64 kStepSlack = 60;

struct Work
{
    qint64 vmSteps = 0;
    qint64 fullScanSteps = 0;
    int statements = 0;
};

Work work;

int onStatementEnd(unsigned type, void *, void *statement, void *)
{
    if (type == SQLITE_TRACE_PROFILE) {
        auto *stmt = static_cast<sqlite3_stmt *>(statement);
        work.vmSteps += sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_VM_STEP, 0);
        work.fullScanSteps += sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_FULLSCAN_STEP, 0);
        ++work.statements;
    }
    return 0;
}

// The program's own connection of this thread, not the fixture's.
sqlite3 *programHandle()
{
    const auto id = reinterpret_cast<quintptr>(QThread::currentThreadId());
    const QString name = QLatin1Char('S') + QString::number(id, 16).toUpper().rightJustified(8, QLatin1Char('0'));
    const QSqlDatabase db = QSqlDatabase::database(name, false);
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

// A loft of n pigeons: all but 40 basketed for the flying race R1, 20 for
// the smaller race R2, 20 in training; in each group the same 10 are home,
// the R2 pigeons nominated. Only the size of the loft differs between runs.
void fillLoft(const StorageFixture &db, int pigeons)
{
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,LiberTime,Valid,OtherData) values"
                                   "('R1',1000,3,'{}'),('R2',2000,3,'{\"nomination\":1}')")));
    QVERIFY(db.exec(QStringLiteral("BEGIN")));
    for (int i = 0; i < pigeons; ++i) {
        const int group = i < 20 ? 2 : i < 40 ? 0 : 1; // R2, training, R1
        const bool home = i % 20 < 10 && (group != 1 || i < 50);
        const QString race = group == 0 ? QStringLiteral("train") : QStringLiteral("R%1").arg(group);
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('NL-%1','E%1')").arg(i)));
        QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime,BackTimeEring,BackOrder) "
                                       "values('NL-%1','E%1','%2',%3,%4,%5)")
                            .arg(i)
                            .arg(race)
                            .arg(group == 0 ? 0 : 500 + i)
                            .arg(home ? 9000 + i : 0)
                            .arg(home ? i % 20 + 1 : 0)));
        if (group == 2)
            QVERIFY(db.exec(QStringLiteral("insert into Nomination(Id,AssocNum,RaceCode,Nom) values(null,'NL-%1','R2',%2)")
                                .arg(i)
                                .arg(i + 1)));
    }
    QVERIFY(db.exec(QStringLiteral("COMMIT")));
}

Work measure(const QString &operation)
{
    Storage *s = Storage::instance();
    s->getParam(QStringLiteral("open")); // the connection, before its statements are traced
    sqlite3 *handle = programHandle();
    if (!handle)
        return {};
    work = Work();
    sqlite3_trace_v2(handle, SQLITE_TRACE_PROFILE, onStatementEnd, nullptr);
    if (operation == QLatin1String("ring")) {
        s->findRecordByEring(QStringLiteral("E15"));
    } else if (operation == QLatin1String("arrival order")) {
        s->queryRecordsCount(QStringLiteral("markTime<>0 AND backTimeEring<>0 AND RaceCode='R1'"));
    } else if (operation == QLatin1String("training order")) {
        s->queryRecordsCount(QStringLiteral("markTime=0 AND backTimeEring<>0"));
    } else if (operation == QLatin1String("race counts")) {
        s->getMarkedPigeonCount(QStringLiteral("R2"));
        s->getBackedPigeonCount(QStringLiteral("R2"));
    } else if (operation == QLatin1String("marking order")) {
        PigeonRecord record = *s->findRecordById(QStringLiteral("NL-25"));
        record.raceCode = QStringLiteral("R2");
        record.markTime = 510;
        record.fillMarkOrder();
    } else if (operation == QLatin1String("nominated list")) {
        QList<QSharedPointer<PigeonRecord>> records = s->findRecordsByRaceCode(QStringLiteral("R2"), QStringLiteral("markTime"));
        PigeonRecord::fillMarkOrder(records);
    } else if (operation == QLatin1String("arrived list")) {
        s->queryRecords(QStringLiteral("markTime<>0 AND backTimeEring<>0 AND raceCode='R2'"), QStringLiteral("backTimeEring"));
    } else if (operation == QLatin1String("race records")) {
        s->findRecordsByRaceCode(QStringLiteral("R2"), QStringLiteral("backTimeEring,AssocNum"));
    } else if (operation == QLatin1String("ring carrier")) {
        s->findPigeonIdByEringNum(QStringLiteral("E15"));
        s->checkDuplicateEringNum(QStringLiteral("NL-1"), QStringLiteral("E15"));
    } else if (operation == QLatin1String("arrival stored")) {
        PigeonRecord record = *s->findRecordByEring(QStringLiteral("E45"));
        record.backTimeEring = 99999;
        record.backOrder = s->queryRecordsCount(QStringLiteral("markTime<>0 AND backTimeEring<>0 AND RaceCode='R1'")) + 1;
        s->saveArrival(&record);
    }
    sqlite3_trace_v2(handle, 0, nullptr, nullptr);
    return work;
}

} // namespace

class TestStorageLookups : public QObject
{
    Q_OBJECT
private slots:
    void workDoesNotGrowWithTheLoft_data();
    void workDoesNotGrowWithTheLoft();
};

void TestStorageLookups::workDoesNotGrowWithTheLoft_data()
{
    QTest::addColumn<QString>("operation");
    // An arrival: the ring's record, the order of the race and of training.
    QTest::newRow("ring look-up") << QStringLiteral("ring");
    QTest::newRow("arrival order in a race") << QStringLiteral("arrival order");
    QTest::newRow("arrival order in training") << QStringLiteral("training order");
    QTest::newRow("arrival stored with its order") << QStringLiteral("arrival stored");
    // Screens, printed lists and the PC on a race of 20.
    QTest::newRow("basketed and arrived counts") << QStringLiteral("race counts");
    QTest::newRow("one record's marking order") << QStringLiteral("marking order");
    QTest::newRow("nominated race list with orders") << QStringLiteral("nominated list");
    QTest::newRow("arrived list in arrival order") << QStringLiteral("arrived list");
    QTest::newRow("race records in arrival order") << QStringLiteral("race records");
    QTest::newRow("pigeon carrying a ring") << QStringLiteral("ring carrier");
}

void TestStorageLookups::workDoesNotGrowWithTheLoft()
{
    QFETCH(QString, operation);
    Work small;
    Work large;
    {
        StorageFixture db;
        fillLoft(db, kSmallLoft);
        small = measure(operation);
    }
    {
        StorageFixture db;
        fillLoft(db, kLargeLoft);
        large = measure(operation);
    }
    const QString detail = QStringLiteral("%1 statements; steps %2 at %3 pigeons, %4 at %5; full-scan steps %6")
                               .arg(large.statements)
                               .arg(small.vmSteps)
                               .arg(kSmallLoft)
                               .arg(large.vmSteps)
                               .arg(kLargeLoft)
                               .arg(large.fullScanSteps);
    QVERIFY2(large.statements > 0, qPrintable(detail));
    QVERIFY2(large.fullScanSteps == 0, qPrintable(detail));
    QVERIFY2(large.vmSteps <= 2 * small.vmSteps + kStepSlack, qPrintable(detail));
}

QTEST_GUILESS_MAIN(TestStorageLookups)
#include "tst_storage_lookups.moc"
