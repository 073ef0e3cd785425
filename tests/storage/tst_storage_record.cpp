#include "core/platform.h"
#include "core/vexexception.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include "errorcode.h"
#include "powercut.h"
#include "storagefixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>

// The arrival records: finders and counts over one small loft, the save
// paths (a basketing mark with its log entry among them), the bulk updates
// and the two resets.

namespace {

// One loft: A arrived and B basketed in race R1, C arrived in R2, D arrived
// in a training flight, E without a ring.
const char *const kLoft[] = {
    "insert into Pigeon(AssocNum,EringNum) values('A','EA'),('B','EB'),('C','EC'),('D','ED'),('E','')",
    "insert into Record(AssocNum,EringNum,RaceCode,MarkTime,BackTimeEring) values"
    "('A','EA','R1',100,200),('B','EB','R1',101,0),('C','EC','R2',102,300),('D','ED','train',0,400),('E','','',0,0)",
};

void buildLoft(const StorageFixture &db)
{
    for (const char *sql : kLoft)
        QVERIFY(db.exec(QLatin1String(sql)));
}

QStringList ids(const QList<QSharedPointer<PigeonRecord>> &records)
{
    QStringList result;
    for (const auto &r : records)
        result << r->assocNum;
    return result;
}

// The stored columns of one record, NULL spelt out.
QString recordRow(const StorageFixture &db, const QString &assocNum)
{
    const QList<QVariantList> rows = db.rows(
        QStringLiteral("select AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,GpsValid,"
                       "GpsOnLine,NeedSms,SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,"
                       "BackTimeUid,BackHomeLat,BackHomeLon,MarkReaderId,MarkAuthKey,MarkTime from Record where "
                       "AssocNum=%1")
            .arg(Storage::quoted(assocNum)));
    if (rows.isEmpty())
        return QString();
    QStringList cells;
    for (const QVariant &v : rows.first())
        cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
    return cells.join(QLatin1Char(','));
}

PigeonRecord fullRecord(const QString &assocNum)
{
    PigeonRecord r;
    r.assocNum = assocNum;
    r.raceCode = QStringLiteral("R9");
    r.uidMarked = QStringLiteral("UM");
    r.eringNum = QStringLiteral("E9");
    r.randNumMarked = -5;
    r.uidBack = QStringLiteral("UB");
    r.randNumberBack = 77;
    r.gpsValid = true;
    r.gpsOnLine = false;
    r.needSms = true;
    r.smsSendState = false;
    r.uidUploadState = true;
    r.eringUploadState = false;
    r.backOrder = 3;
    r.backTimeEring = 1LL << 41;
    r.backTimeUid = (1LL << 41) + 1;
    r.backHomeLat = -180000000;
    r.backHomeLon = 324000000;
    r.markReaderId = QStringLiteral("RD");
    r.markAuthKey = QStringLiteral("never written");
    r.markTime = 1LL << 40;
    r.markOrder = 12;
    return r;
}

const char kFullRow[] = "%1,R9,UM,E9,-5,UB,77,1,0,1,0,1,0,3,2199023255552,2199023255553,-180000000,324000000,RD,%2,"
                        "1099511627776";

// B's mark in race R1 as the basketing screen makes it.
PigeonRecord markOfB(const QString &raceCode, const QString &ring = QStringLiteral("EB"))
{
    PigeonRecord r;
    r.assocNum = QStringLiteral("B");
    r.eringNum = ring;
    r.raceCode = raceCode;
    r.uidMarked = QStringLiteral("U1");
    r.randNumMarked = 0x5A;
    r.markReaderId = QStringLiteral("0A0B0C0D");
    r.markTime = 5000;
    r.uidBack = QStringLiteral("");
    return r;
}

// Marks stored (AssocNum:RaceCode:MarkTime) and marking entries logged
// (assocNum:raceCode:markTime), each sorted.
QStringList storedMarks(const StorageFixture &db)
{
    QStringList out;
    for (const QVariantList &row :
         db.rows(QStringLiteral("select AssocNum,RaceCode,MarkTime from Record where MarkTime<>0 order by AssocNum")))
        out << QStringLiteral("%1:%2:%3").arg(row.at(0).toString(), row.at(1).toString(), row.at(2).toString());
    return out;
}

QStringList loggedMarks(const StorageFixture &db)
{
    QStringList out;
    for (const QVariantList &row : db.rows(QStringLiteral("select LogInfo from Log where LogType=6"))) {
        const QVariantMap info = QJsonDocument::fromJson(row.at(0).toString().toUtf8()).object().toVariantMap();
        out << QStringLiteral("%1:%2:%3").arg(info.value(QStringLiteral("assocNum")).toString(),
                                               info.value(QStringLiteral("raceCode")).toString(),
                                               info.value(QStringLiteral("markTime")).toString());
    }
    out.sort();
    return out;
}

void runOperation(const QString &name)
{
    // A fixed clock: every run writes the same log entry.
    Platform::setSystemClock([] { return qint64(1773480413000); });
    if (name == QLatin1String("saveMark")) {
        const PigeonRecord mark = markOfB(QStringLiteral("R3"));
        if (!Storage::instance()->saveMark(&mark))
            throw VexException(1, QStringLiteral("not stored"), QString());
    }
}

} // namespace

class TestStorageRecord : public QObject
{
    Q_OBJECT
private slots:
    void findersAndCounts();
    void callerClauses_verbatim();
    void fetch_readsEveryColumn();
    void fetch_valueOfAnotherType_data();
    void fetch_valueOfAnotherType();
    void saveRecord_updateAndInsert();
    void savePigeonRecord_failure_changesNothing();
    void modifyRecords_blankClauseUpdatesAll();
    void resetRaceRecords_keepsRaceCode();
    void resetTrainRecords_data();
    void resetTrainRecords();
    void resetTrainRecords_failureMidway_changesNothing();
    void saveMark_data();
    void saveMark();
    void saveMark_failure_writesNeither_data();
    void saveMark_failure_writesNeither();
    void saveMark_powerCut_markWithEntryOrNeither();
};

void TestStorageRecord::findersAndCounts()
{
    StorageFixture db;
    buildLoft(db);
    Storage *s = Storage::instance();
    QCOMPARE(ids(s->findRecordsByRaceCode(QStringLiteral("R1"), QStringLiteral("backTimeEring,AssocNum"))),
             (QStringList{"B", "A"}));
    QCOMPARE(ids(s->findRecordsByRaceCode(QStringLiteral("train"), QString())), QStringList());
    QCOMPARE(s->getMarkedPigeonCount(), 3);
    QCOMPARE(s->getMarkedPigeonCount(QStringLiteral("R1")), 2);
    QCOMPARE(s->getMarkedPigeonCount(QStringLiteral("none")), 0);
    QCOMPARE(s->getBackedPigeonCount(QStringLiteral("R1")), 1);
    QCOMPARE(s->getBackedPigeonCount(QStringLiteral("train")), 1);
    QCOMPARE(s->getBackedPigeonCount(QStringLiteral("none")), 0);
    QCOMPARE(s->findRecordById(QStringLiteral("C"))->eringNum, QStringLiteral("EC"));
    QVERIFY(!s->findRecordById(QStringLiteral("Z")));
    QCOMPARE(s->findRecordByEring(QStringLiteral("ED"))->assocNum, QStringLiteral("D"));
    QVERIFY(!s->findRecordByEring(QStringLiteral("E")));
}

void TestStorageRecord::callerClauses_verbatim()
{
    StorageFixture db;
    buildLoft(db);
    Storage *s = Storage::instance();
    // No clause and no order: the table's own order.
    QCOMPARE(ids(s->queryRecords(QString(), QString())), (QStringList{"A", "B", "C", "D", "E"}));
    QCOMPARE(ids(s->queryRecords(QStringLiteral("raceCode=") + Storage::quoted(QStringLiteral("R1")),
                                 QStringLiteral("AssocNum desc"))),
             (QStringList{"B", "A"}));
    QCOMPARE(s->queryRecordsCount(QStringLiteral("raceCode='R1' AND backTimeEring<>0")), 1);
    QCOMPARE(s->queryRecordsCount(QString()), 5);
    // Blanks are a clause to the select (and fail), but none to the update.
    QCOMPARE(errorCodeOf([s] { s->queryRecords(QStringLiteral("   "), QString()); }), 0x11000001);
    QCOMPARE(errorCodeOf([s] { s->queryRecordsCount(QStringLiteral("raceCode=")); }), 0x11000001);
    QCOMPARE(errorCodeOf([s] { s->queryRecords(QString(), QStringLiteral("nosuchcolumn")); }), 0x11000001);
}

void TestStorageRecord::fetch_readsEveryColumn()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral(
        "insert into Record(AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,GpsValid,"
        "GpsOnLine,NeedSms,SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,BackTimeUid,"
        "BackHomeLat,BackHomeLon,MarkReaderId,MarkAuthKey,MarkTime) values('A','R','UM','E',1,'UB',2,0,1,0,2,0,1,4,"
        "5000000000,5000000001,-6,7,'RD','AK',8000000000)")));
    QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,RaceCode) values('B',NULL)")));
    const QSharedPointer<PigeonRecord> a = Storage::instance()->findRecordById(QStringLiteral("A"));
    QVERIFY(a);
    QCOMPARE(a->raceCode, QStringLiteral("R"));
    QCOMPARE(a->uidMarked, QStringLiteral("UM"));
    QCOMPARE(a->eringNum, QStringLiteral("E"));
    QCOMPARE(a->randNumMarked, 1);
    QCOMPARE(a->uidBack, QStringLiteral("UB"));
    QCOMPARE(a->randNumberBack, 2);
    QCOMPARE(a->gpsValid, false);
    QCOMPARE(a->gpsOnLine, true);
    QCOMPARE(a->needSms, false);
    QCOMPARE(a->smsSendState, true); // a stored 2 is a sent state too
    QCOMPARE(a->uidUploadState, false);
    QCOMPARE(a->eringUploadState, true);
    QCOMPARE(a->backOrder, 4);
    QCOMPARE(a->backTimeEring, 5000000000LL);
    QCOMPARE(a->backTimeUid, 5000000001LL);
    QCOMPARE(a->backHomeLat, -6);
    QCOMPARE(a->backHomeLon, 7);
    QCOMPARE(a->markReaderId, QStringLiteral("RD"));
    QCOMPARE(a->markAuthKey, QStringLiteral("AK"));
    QCOMPARE(a->markTime, 8000000000LL);
    QCOMPARE(a->markOrder, 0);
    // NULL texts read as empty texts, NULL numbers as 0.
    const QSharedPointer<PigeonRecord> b = Storage::instance()->findRecordById(QStringLiteral("B"));
    for (const QString &text : {b->raceCode, b->uidMarked, b->uidBack, b->markReaderId, b->markAuthKey}) {
        QVERIFY(text.isEmpty());
        QVERIFY(!text.isNull());
    }
    QCOMPARE(b->backHomeLat, 0);
}

// A value SQLite keeps in a type other than the column's (a file written by
// another program, a PC's bulk update) reads as the number or text it
// converts to, the same whether the record comes alone or in a list.
void TestStorageRecord::fetch_valueOfAnotherType_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("word in a number") << "RandNumMarked" << "'12x'" << "randNumMarked" << QVariant(0);
    QTest::newRow("real in a number, rounded") << "RandNumMarked" << "2.5" << "randNumMarked" << QVariant(3);
    QTest::newRow("wide number, low 32 bits") << "RandNumMarked" << "8589934597" << "randNumMarked" << QVariant(5);
    QTest::newRow("negative real in a time") << "BackTimeEring" << "-1.5" << "backTimeEring" << QVariant(-2LL);
    QTest::newRow("word in a time") << "MarkTime" << "'soon'" << "markTime" << QVariant(0LL);
    QTest::newRow("real below a half in a flag") << "GpsValid" << "0.4" << "gpsValid" << QVariant(false);
    QTest::newRow("real of a half in a flag") << "NeedSms" << "0.5" << "needSms" << QVariant(true);
    QTest::newRow("word in a flag") << "SmsSendState" << "'yes'" << "smsSendState" << QVariant(false);
    QTest::newRow("bytes in a text") << "UidBack" << "X'4142'" << "uidBack" << QVariant(QStringLiteral("AB"));
}

void TestStorageRecord::fetch_valueOfAnotherType()
{
    QFETCH(QString, column);
    QFETCH(QString, stored);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,RaceCode) values('A','R1')")));
    QVERIFY(db.exec(QStringLiteral("update Record set %1=%2").arg(column, stored)));
    const QSharedPointer<PigeonRecord> one = Storage::instance()->findRecordById(QStringLiteral("A"));
    QVERIFY(one);
    QCOMPARE(one->getField(field), expected);
    const auto all = Storage::instance()->queryRecords(QString(), QString());
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.first()->getField(field), expected);
}

void TestStorageRecord::saveRecord_updateAndInsert()
{
    StorageFixture db;
    buildLoft(db);
    QVERIFY(db.exec(QStringLiteral("update Record set MarkAuthKey='KEEP' where AssocNum='A'")));
    Storage *s = Storage::instance();

    // Update: all 20 columns but the auth key.
    PigeonRecord a = fullRecord(QStringLiteral("A"));
    s->saveRecord(&a);
    QCOMPARE(recordRow(db, QStringLiteral("A")), QString::fromLatin1(kFullRow).arg(QStringLiteral("A"), QStringLiteral("KEEP")));

    // Insert: a basketing stored through the insert path reads as basketed.
    PigeonRecord n = fullRecord(QStringLiteral("N"));
    s->saveRecord(&n);
    QCOMPARE(recordRow(db, QStringLiteral("N")), QString::fromLatin1(kFullRow).arg(QStringLiteral("N"), QStringLiteral("NULL")));
    QCOMPARE(s->findRecordById(QStringLiteral("N"))->markTime, 1LL << 40);

    // A record without a ring number (a PC request without the field) is
    // stored without a ring on both paths; null texts are stored as NULL.
    PigeonRecord bare;
    bare.assocNum = QStringLiteral("X");
    bare.eringNum = QString();
    s->saveRecord(&bare);
    s->saveRecord(&bare);
    QCOMPARE(recordRow(db, QStringLiteral("X")),
             QStringLiteral("X,NULL,NULL,,0,NULL,0,0,0,0,0,0,0,0,0,0,0,0,NULL,NULL,0"));
}

void TestStorageRecord::savePigeonRecord_failure_changesNothing()
{
    StorageFixture db;
    buildLoft(db);
    QVERIFY(db.failOn(QStringLiteral("UPDATE"), QStringLiteral("Pigeon")));
    const QString before = db.dump();
    PigeonInfo pigeon;
    pigeon.assocNum = QStringLiteral("A");
    pigeon.eringNum = QStringLiteral("EA2");
    PigeonRecord record;
    record.assocNum = QStringLiteral("A");
    record.eringNum = QStringLiteral("EA2");
    QCOMPARE(errorCodeOf([&] { Storage::instance()->savePigeonRecord(&pigeon, &record); }), 0x11000013);
    QCOMPARE(db.dump(), before);
}

void TestStorageRecord::modifyRecords_blankClauseUpdatesAll()
{
    StorageFixture db;
    buildLoft(db);
    Storage *s = Storage::instance();
    s->modifyRecords(QStringLiteral("smsSendState=1"), QStringLiteral("AssocNum=") + Storage::quoted(QStringLiteral("C")));
    QCOMPARE(db.value(QStringLiteral("select group_concat(AssocNum) from Record where SmsSendState=1")).toString(),
             QStringLiteral("C"));
    // The re-upload button clears every record's states with a blank clause.
    s->modifyRecords(QStringLiteral("eringUploadState=0,UidUploadState=1"), QStringLiteral("  "));
    QCOMPARE(db.value(QStringLiteral("select count(*) from Record where UidUploadState=1")).toInt(), 5);
}

void TestStorageRecord::resetRaceRecords_keepsRaceCode()
{
    StorageFixture db;
    buildLoft(db);
    QVERIFY(db.exec(QStringLiteral("update Record set UidMarked='UM',RandNumMarked=9,MarkReaderId='RD',UidBack='UB',"
                                   "NeedSms=1,SmsSendState=1,BackOrder=1 where RaceCode='R1'")));
    const QString c = recordRow(db, QStringLiteral("C"));
    Storage::instance()->resetRaceRecords(QStringLiteral("R1"));
    QCOMPARE(recordRow(db, QStringLiteral("A")), QStringLiteral("A,R1,UM,EA,9,,0,0,0,0,0,0,0,0,0,0,0,0,RD,NULL,0"));
    QCOMPARE(recordRow(db, QStringLiteral("B")), QStringLiteral("B,R1,UM,EB,9,,0,0,0,0,0,0,0,0,0,0,0,0,RD,NULL,0"));
    QCOMPARE(recordRow(db, QStringLiteral("C")), c);
    QCOMPARE(Storage::instance()->getMarkedPigeonCount(QStringLiteral("R1")), 0);

    // A code crafted to match every race matches none.
    const QString before = db.dump();
    Storage::instance()->resetRaceRecords(QStringLiteral("x' OR '1'='1"));
    QCOMPARE(db.dump(), before);
}

void TestStorageRecord::resetTrainRecords_data()
{
    QTest::addColumn<QString>("pigeon");
    QTest::addColumn<QString>("record"); // insert values of Record, empty for none
    QTest::addColumn<QString>("expected");

    const QString fresh = QStringLiteral("A,train,NULL,EA,0,NULL,0,0,0,0,0,0,0,0,0,0,0,0,NULL,%1,0");
    QTest::newRow("basketed for a race: untouched")
        << "'A','EA'" << "'A','R1','UM','EA',3,'UB',4,1,1,1,1,1,1,2,500,501,5,6,'RD','AK',100"
        << "A,R1,UM,EA,3,UB,4,1,1,1,1,1,1,2,500,501,5,6,RD,AK,100";
    QTest::newRow("ringed, last flight's arrival: fresh training record, auth key kept")
        << "'A','EA'" << "'A','train','UM','EA',3,'UB',4,1,1,1,1,1,1,2,500,501,5,6,'RD','AK',0" << fresh.arg("AK");
    QTest::newRow("ringed without record: one made") << "'A','EA'" << QString() << fresh.arg("NULL");
    QTest::newRow("unringed: skipped")
        << "'A',''" << "'A','R1','UM','',3,'UB',4,1,1,1,1,1,1,2,500,501,5,6,'RD','AK',0"
        << "A,R1,UM,,3,UB,4,1,1,1,1,1,1,2,500,501,5,6,RD,AK,0";
}

void TestStorageRecord::resetTrainRecords()
{
    QFETCH(QString, pigeon);
    QFETCH(QString, record);
    QFETCH(QString, expected);
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values(%1)").arg(pigeon)));
    if (!record.isEmpty()) {
        QVERIFY(db.exec(QStringLiteral(
            "insert into Record(AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,GpsValid,"
            "GpsOnLine,NeedSms,SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,BackTimeUid,"
            "BackHomeLat,BackHomeLon,MarkReaderId,MarkAuthKey,MarkTime) values(%1)").arg(record)));
    }
    Storage::instance()->resetTrainRecords();
    QCOMPARE(recordRow(db, QStringLiteral("A")), expected);
}

void TestStorageRecord::resetTrainRecords_failureMidway_changesNothing()
{
    StorageFixture db;
    buildLoft(db);
    QVERIFY(db.exec(QStringLiteral("update Record set MarkTime=0")));
    // The second ringed pigeon's update fails, after the first one's succeeded.
    QVERIFY(db.exec(QStringLiteral("CREATE TRIGGER fail_b BEFORE UPDATE ON Record WHEN old.AssocNum='B' "
                                   "BEGIN SELECT RAISE(ABORT, 'injected'); END")));
    const QString before = db.dump();
    QCOMPARE(errorCodeOf([] { Storage::instance()->resetTrainRecords(); }), 0x11000013);
    QCOMPARE(db.dump(), before);
}

void TestStorageRecord::saveMark_data()
{
    QTest::addColumn<QString>("prepare");
    QTest::addColumn<QString>("raceCode");
    QTest::addColumn<bool>("stored");
    // B is basketed for R1 in the loft.
    QTest::newRow("not basketed") << "update Record set MarkTime=0,RaceCode='train' where AssocNum='B'"
                                  << "R3" << true;
    QTest::newRow("again for its own race") << "" << "R1" << true;
    QTest::newRow("basketed for another race") << "" << "R3" << false;
    QTest::newRow("ring taken off meanwhile") << "update Record set EringNum='' where AssocNum='B'"
                                              << "R1" << false;
    QTest::newRow("record gone") << "delete from Record where AssocNum='B'" << "R1" << false;
}

// The mark and its entry go together; a row that changed since it was read
// is not basketed, so no pigeon leaves another race.
void TestStorageRecord::saveMark()
{
    QFETCH(QString, prepare);
    QFETCH(QString, raceCode);
    QFETCH(bool, stored);
    StorageFixture db;
    buildLoft(db);
    if (!prepare.isEmpty())
        QVERIFY(db.exec(prepare));
    const QString before = db.dump();
    PigeonRecord mark = markOfB(raceCode);
    mark.markAuthKey = QStringLiteral("kept on the race");
    QCOMPARE(Storage::instance()->saveMark(&mark), stored);
    if (!stored) {
        QCOMPARE(db.dump(), before);
        return;
    }
    QCOMPARE(recordRow(db, QStringLiteral("B")),
             QStringLiteral("B,%1,U1,EB,90,,0,0,0,0,0,0,0,0,0,0,0,0,0A0B0C0D,NULL,5000").arg(raceCode));
    QCOMPARE(loggedMarks(db), QStringList{QStringLiteral("B:%1:5000").arg(raceCode)});
}

void TestStorageRecord::saveMark_failure_writesNeither_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("table");
    QTest::newRow("record update") << "UPDATE" << "Record";
    QTest::newRow("log insert") << "INSERT" << "Log";
}

void TestStorageRecord::saveMark_failure_writesNeither()
{
    QFETCH(QString, kind);
    QFETCH(QString, table);
    StorageFixture db;
    buildLoft(db);
    QVERIFY(db.failOn(kind, table));
    const QString before = db.dump();
    const PigeonRecord mark = markOfB(QStringLiteral("R1"));
    QCOMPARE(errorCodeOf([&mark] { Storage::instance()->saveMark(&mark); }), 0x11000013);
    QCOMPARE(db.dump(), before);
}

void TestStorageRecord::saveMark_powerCut_markWithEntryOrNeither()
{
    StorageFixture db;
    buildLoft(db);
    QVERIFY(db.exec(QStringLiteral("update Record set MarkTime=0,RaceCode='train' where AssocNum='B'")));
    // The races exist: a start clears the marks of races it does not know.
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,Valid) values('R1',1),('R2',1),('R3',1)")));
    const QStringList marksBefore = storedMarks(db);
    int cuts = 0;
    db.checkPowerCuts(QStringLiteral("saveMark"), &cuts, [&db, &marksBefore] {
        const QStringList marks = storedMarks(db);
        const bool marked = marks.contains(QStringLiteral("B:R3:5000"));
        QCOMPARE(marks.size(), marksBefore.size() + (marked ? 1 : 0));
        QCOMPARE(loggedMarks(db), marked ? QStringList{QStringLiteral("B:R3:5000")} : QStringList());
    });
    if (QTest::currentTestFailed())
        return;
    // After the begin, the read, the update, the entry and the commit.
    QCOMPARE(cuts, 5);
}

BRELLIUM_POWERCUT_TEST_MAIN(TestStorageRecord, runOperation)
#include "tst_storage_record.moc"
