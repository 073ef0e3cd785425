#include "core/platform.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"

#include "errorcode.h"
#include "storagefixture.h"

#include <QTest>

// The loft row and the pigeon register, with each pigeon's one record kept
// in step: what is written, what is refused, and what stays untouched.

namespace {

constexpr qint64 kClockMs = 1700000000000LL;
constexpr qint64 kClubDiffMs = 2500;

// A pigeon row and its record as "assoc ring valid test | record ring race mark".
QStringList registerRows(const StorageFixture &db)
{
    QStringList rows;
    for (const QVariantList &r : db.rows(QStringLiteral(
             "select p.AssocNum, p.EringNum, p.Valid, p.Test, r.EringNum, r.RaceCode, r.MarkTime from Pigeon p "
             "left join Record r on r.AssocNum=p.AssocNum order by p.AssocNum"))) {
        QStringList cells;
        for (const QVariant &v : r)
            cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        rows << cells.mid(0, 4).join(QLatin1Char(' ')) + QStringLiteral(" | ") + cells.mid(4).join(QLatin1Char(' '));
    }
    return rows;
}

PigeonInfo pigeon(const QString &assocNum, const QString &eringNum)
{
    PigeonInfo p;
    p.assocNum = assocNum;
    p.eringNum = eringNum;
    return p;
}

QString messageOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const VexException &e) {
        return e.getErrorMessage();
    }
    return QString();
}

} // namespace

class TestStoragePigeon : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readLoftInfo_freshAndWithoutRow();
    void saveLoftInfo_writesSettingsOnly();
    void saveLoftInfo_withoutRow_stores();
    void formatDevice_emptyLoftNumber_deletesNothing();
    void formatDevice_wipesLoftButKeepsLogAndParameters();
    void formatDevice_failureMidway_deletesNothing();
    void savePigeon_data();
    void savePigeon();
    void savePigeon_storesEveryField();
    void queryPigeons_textOrderAndClause();
    void findByRing_andDuplicateCheck();
    void deletePigeon_removesRecordKeepsNominations();
    void assignment_data();
    void assignment();
};

void TestStoragePigeon::init()
{
    Platform::setSystemClock([] { return kClockMs; });
    UTC::init();
    UTC::_clubTimeDiff = kClubDiffMs;
}

void TestStoragePigeon::cleanup()
{
    UTC::_clubTimeDiff = 0;
    Platform::setSystemClock({});
}

void TestStoragePigeon::readLoftInfo_freshAndWithoutRow()
{
    StorageFixture db;
    Storage *storage = Storage::instance();
    LoftInfo loft;
    loft.ownerName = QStringLiteral("stale");
    storage->readLoftInfo(&loft);
    QCOMPARE(loft.timeZone, 28800);
    QCOMPARE(loft.uploadInterval, 20000u);
    QCOMPARE(loft.language, QStringLiteral("EN"));
    QCOMPARE(loft.voiceMode, 100);
    QCOMPARE(loft.ownerName, QString()); // reset before the row is applied; NULL reads as empty
    QVERIFY(!loft.ownerName.isNull());

    QVERIFY(db.exec(QStringLiteral("delete from LOFTINFO")));
    storage->readLoftInfo(&loft);
    QCOMPARE(loft.timeZone, 28800);        // the record's defaults...
    QCOMPARE(loft.uploadInterval, 300000u);
    storage->readLoftInfo(&loft);
    QCOMPARE(loft.timeZone, 0);            // ...then the row made with the table's
    QCOMPARE(loft.uploadInterval, 20000u);
    QCOMPARE(db.value(QStringLiteral("select count(*) from LOFTINFO")).toInt(), 1);
}

void TestStoragePigeon::saveLoftInfo_writesSettingsOnly()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("update LOFTINFO set LoftNum='L-1', Password='secret', PI0=7, PS0='r' where id=1")));
    LoftInfo loft;
    const QStringList texts{QStringLiteral("ownerName"), QStringLiteral("street"),    QStringLiteral("city"),
                            QStringLiteral("postCode"),  QStringLiteral("phoneNo"),   QStringLiteral("email"),
                            QStringLiteral("loftLon"),   QStringLiteral("loftLat"),   QStringLiteral("clubCode"),
                            QStringLiteral("clubName"),  QStringLiteral("clubStreet"), QStringLiteral("clubCity"),
                            QStringLiteral("clubPostCode"), QStringLiteral("assocCode"), QStringLiteral("hostIp"),
                            QStringLiteral("hostPath"),  QStringLiteral("apn"),       QStringLiteral("language"),
                            QStringLiteral("hostSmsCode")};
    for (const QString &key : texts)
        loft.setField(key, key + QStringLiteral(" ' é"));
    loft.notifyMode = 1;
    loft.uploadMode = 2;
    loft.uploadInterval = 4000000000u;
    loft.validate = 1LL << 40;
    loft.timeZone = -12600;
    loft.voiceMode = 3;
    loft.loftNum = QStringLiteral("changed");
    loft.password = QStringLiteral("changed");
    Storage::instance()->saveLoftInfo(&loft);

    QCOMPARE(db.rows(QStringLiteral("select LoftNum, Password, PI0, PS0 from LOFTINFO")),
             (QList<QVariantList>{{QStringLiteral("L-1"), QStringLiteral("secret"), 7, QStringLiteral("r")}}));
    LoftInfo back;
    Storage::instance()->readLoftInfo(&back);
    for (const QString &key : texts)
        QCOMPARE(back.getField(key).toString(), key + QStringLiteral(" ' é"));
    QCOMPARE(back.notifyMode, 1);
    QCOMPARE(back.uploadMode, 2);
    QCOMPARE(back.uploadInterval, 4000000000u);
    QCOMPARE(back.validate, 1LL << 40);
    QCOMPARE(back.timeZone, -12600);
    QCOMPARE(back.voiceMode, 3);
    QCOMPARE(back.loftNum, QStringLiteral("L-1"));
    QCOMPARE(back.password, QStringLiteral("secret"));
}

void TestStoragePigeon::saveLoftInfo_withoutRow_stores()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("delete from LOFTINFO")));
    LoftInfo loft;
    loft.ownerName = QStringLiteral("Owner");
    loft.apn = QStringLiteral("internet");
    Storage::instance()->saveLoftInfo(&loft);
    QCOMPARE(db.rows(QStringLiteral("select id, OwnerName, Apn, LoftNum, TimeZone from LOFTINFO")),
             (QList<QVariantList>{{1, QStringLiteral("Owner"), QStringLiteral("internet"), QString(), 28800}}));
}

void TestStoragePigeon::formatDevice_emptyLoftNumber_deletesNothing()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum) values('A')")));
    const QString before = db.dump();
    try {
        Storage::instance()->formatDevice(QString(), QStringLiteral("pw"));
        QFAIL("formatDevice accepted an empty loft number");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorMessage(), QStringLiteral("Loft Number is empty!"));
        QCOMPARE(e.getErrorCode(), 0x11000000);
    }
    QCOMPARE(db.dump(), before);
}

void TestStoragePigeon::formatDevice_wipesLoftButKeepsLogAndParameters()
{
    StorageFixture db;
    for (const char *sql : {"insert into Pigeon(AssocNum,EringNum) values('A','E')",
                            "insert into Record(AssocNum,EringNum) values('A','E')",
                            "insert into Race(RaceCode) values('R')",
                            "insert into Nomination(Id,AssocNum,RaceCode) values(null,'A','R')",
                            "insert into Log(LogId,LogType,LogTime,LogInfo) values(null,4,1,'{}')",
                            "insert into APPPARAMS(id,val) values('k','v')",
                            "update LOFTINFO set OwnerName='old owner'"})
        QVERIFY(db.exec(QLatin1String(sql)));
    Storage::instance()->formatDevice(QStringLiteral("L-9"), QStringLiteral("p'w"));
    for (const char *table : {"Pigeon", "Record", "Race", "Nomination", "Phone"})
        QCOMPARE(db.value(QStringLiteral("select count(*) from %1").arg(QLatin1String(table))).toInt(), 0);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Log")).toInt(), 1);
    QCOMPARE(db.value(QStringLiteral("select val from APPPARAMS where id='k'")).toString(), QStringLiteral("v"));
    QCOMPARE(db.value(QStringLiteral("select id||' '||LoftNum||' '||Password||' '||ifnull(OwnerName,'NULL')||' '||"
                                     "TimeZone||' '||UploadInterval from LOFTINFO group by 1")).toString(),
             QStringLiteral("1 L-9 p'w NULL 0 20000"));
    QCOMPARE(db.value(QStringLiteral("select count(*) from LOFTINFO")).toInt(), 1);
}

void TestStoragePigeon::formatDevice_failureMidway_deletesNothing()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('A','E')")));
    QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum) values('A','E')")));
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode) values('R')")));
    QVERIFY(db.failOn(QStringLiteral("DELETE"), QStringLiteral("Race")));
    const QString before = db.dump();
    // The driver's failure as it came: a constraint raised by the trigger.
    QCOMPARE(errorCodeOf([] { Storage::instance()->formatDevice(QStringLiteral("L"), QStringLiteral("p")); }), 0x11000013);
    QCOMPARE(db.dump(), before);
    QCOMPARE(db.pigeonsWithoutOneRecord(), 0);
}

void TestStoragePigeon::savePigeon_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("assocNum");
    QTest::addColumn<QString>("eringNum");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("expected");

    const QString markedA = QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values('A','R1','X',5)");
    QTest::newRow("new") << QStringList() << "A" << "R1" << QString() << QStringList{"A R1 1 1 | R1 NULL 0"};
    QTest::newRow("saved again: pigeon only")
        << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum,Valid) values('A','R1',0)"), markedA}
        << "A" << "R2" << QString() << QStringList{"A R2 1 1 | R1 X 5"};
    QTest::newRow("ring of another pigeon")
        << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('B','R1')"),
                       QStringLiteral("insert into Record(AssocNum,EringNum) values('B','R1')")}
        << "A" << "R1" << QStringLiteral("Duplicate ering Number!") << QStringList{"B R1 1 0 | R1  0"};
    QTest::newRow("its own ring")
        << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('A','R1')"), markedA}
        << "A" << "R1" << QString() << QStringList{"A R1 1 1 | R1 X 5"};
    QTest::newRow("two empty rings")
        << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('B','')"),
                       QStringLiteral("insert into Record(AssocNum,EringNum) values('B','')")}
        << "A" << "" << QString() << QStringList{"A  1 1 |  NULL 0", "B  1 0 |   0"};
    QTest::newRow("null ring") << QStringList() << "A" << QString() << QString() << QStringList{"A  1 1 |  NULL 0"};
}

void TestStoragePigeon::savePigeon()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, assocNum);
    QFETCH(QString, eringNum);
    QFETCH(QString, error);
    QFETCH(QStringList, expected);
    StorageFixture db;
    for (const QString &sql : setup)
        QVERIFY(db.exec(sql));
    PigeonInfo p = pigeon(assocNum, eringNum);
    p.valid = false; // written as 1 whatever the record holds
    p.test = true;
    const QString message = messageOf([&p] { Storage::instance()->savePigeon(&p); });
    QCOMPARE(message, error);
    QCOMPARE(registerRows(db), expected);
}

void TestStoragePigeon::savePigeon_storesEveryField()
{
    StorageFixture db;
    PigeonInfo p = pigeon(QStringLiteral("NL-2024-1"), QStringLiteral("E1"));
    p.uid = QStringLiteral("0A1B2C3D");
    p.assocCode = QStringLiteral("NL");
    p.color = QStringLiteral("blauw ' gekrast");
    p.year = 2024;
    p.sex = 1;
    p.regNum = QStringLiteral("R-9");
    p.updateTime = 1LL << 41;
    Storage::instance()->savePigeon(&p);
    const QSharedPointer<PigeonInfo> back = Storage::instance()->findPigeonById(p.assocNum);
    QVERIFY(back);
    QCOMPARE(back->uid, p.uid);
    QCOMPARE(back->eringNum, p.eringNum);
    QVERIFY(back->valid);
    QVERIFY(!back->test);
    QCOMPARE(back->assocCode, p.assocCode);
    QCOMPARE(back->color, p.color);
    QCOMPARE(back->year, 2024);
    QCOMPARE(back->sex, 1);
    QCOMPARE(back->regNum, p.regNum);
    QCOMPARE(back->updateTime, 1LL << 41);
    QVERIFY(!Storage::instance()->findPigeonById(QStringLiteral("NL-2024-")));
}

void TestStoragePigeon::queryPigeons_textOrderAndClause()
{
    StorageFixture db;
    for (const char *id : {"9", "10", "1", "A"})
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum,Sex) values('%1','E%1',NULL)").arg(QLatin1String(id))));
    QStringList order;
    for (const auto &p : Storage::instance()->queryPigeons(QString()))
        order << p->assocNum;
    QCOMPARE(order, (QStringList{"1", "10", "9", "A"}));
    const auto some = Storage::instance()->queryPigeons(QStringLiteral("EringNum in ('E9', 'EA')"));
    QCOMPARE(some.size(), 2);
    QCOMPARE(some[0]->assocNum, QStringLiteral("9"));
    QCOMPARE(some[0]->sex, 0); // a NULL column reads as 0
    QVERIFY(!some[0]->uid.isNull());
    // A malformed caller clause fails with the driver's error.
    QCOMPARE(errorCodeOf([] { Storage::instance()->queryPigeons(QStringLiteral("EringNum=")); }), 0x11000001);
}

void TestStoragePigeon::findByRing_andDuplicateCheck()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('A','R1')")));
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('B','')")));
    Storage *storage = Storage::instance();
    QCOMPARE(storage->findPigeonIdByEringNum(QStringLiteral("R1")), QStringLiteral("A"));
    QVERIFY(storage->findPigeonIdByEringNum(QStringLiteral("R2")).isNull());
    QVERIFY(storage->checkDuplicateEringNum(QStringLiteral("B"), QStringLiteral("R1")));
    QVERIFY(!storage->checkDuplicateEringNum(QStringLiteral("A"), QStringLiteral("R1")));
    QVERIFY(!storage->checkDuplicateEringNum(QStringLiteral("A"), QStringLiteral("R2")));
}

void TestStoragePigeon::deletePigeon_removesRecordKeepsNominations()
{
    StorageFixture db;
    PigeonInfo a = pigeon(QStringLiteral("A"), QStringLiteral("R1"));
    PigeonInfo b = pigeon(QStringLiteral("B"), QStringLiteral("R2"));
    Storage::instance()->savePigeon(&a);
    Storage::instance()->savePigeon(&b);
    QVERIFY(db.exec(QStringLiteral("insert into Nomination(Id,AssocNum,RaceCode,Nom) values(null,'A','R',1)")));
    Storage::instance()->deletePigeon(QStringLiteral("A"));
    Storage::instance()->deletePigeon(QStringLiteral("nobody"));
    QCOMPARE(registerRows(db), QStringList{"B R2 1 0 | R2 NULL 0"});
    QCOMPARE(db.value(QStringLiteral("select count(*) from Record")).toInt(), 1);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Nomination")).toInt(), 1);
}

void TestStoragePigeon::assignment_data()
{
    QTest::addColumn<bool>("assign");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("expected"); // pigeon | record

    const QString marked = QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime,UidMarked,MarkAuthKey) "
                                          "values('A','%1','R',5,'U','K')");
    QTest::newRow("assign: no pigeon") << true << QStringList() << QStringLiteral("Pigeon not exists!") << QString();
    QTest::newRow("assign: already ringed")
        << true
        << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum,Uid,UpdateTime) values('A','OLD','u0',1)"),
                       marked.arg(QStringLiteral("OLD"))}
        << QStringLiteral("Pigeon alread assigned!") << QStringLiteral("OLD u0 1 | OLD R 5 U K");
    QTest::newRow("assign: unringed, marked record")
        << true
        << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum,Uid,UpdateTime) values('A','',NULL,1)"),
                       marked.arg(QString())}
        << QString() << QStringLiteral("NEW UID9 1700000002500 | NEW NULL 0 NULL K");
    QTest::newRow("assign: unringed, no record row")
        << true << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('A','')")} << QString()
        << QStringLiteral("NEW UID9 1700000002500 | NEW NULL 0 NULL NULL");
    QTest::newRow("unassign: no pigeon") << false << QStringList() << QStringLiteral("Pigeon not exists!") << QString();
    QTest::newRow("unassign: ringed")
        << false
        << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum,Uid,UpdateTime) values('A','OLD','u0',1)"),
                       marked.arg(QStringLiteral("OLD"))}
        << QString() << QStringLiteral(" NULL 1700000002500 |  NULL 0 NULL K");
    QTest::newRow("unassign: unringed again")
        << false
        << QStringList{QStringLiteral("insert into Pigeon(AssocNum,EringNum,Uid,UpdateTime) values('A','',NULL,1)"),
                       marked.arg(QString())}
        << QString() << QStringLiteral(" NULL 1700000002500 |  NULL 0 NULL K");
}

void TestStoragePigeon::assignment()
{
    QFETCH(bool, assign);
    QFETCH(QStringList, setup);
    QFETCH(QString, error);
    QFETCH(QString, expected);
    StorageFixture db;
    for (const QString &sql : setup)
        QVERIFY(db.exec(sql));
    QSharedPointer<PigeonInfo> returned;
    const QString message = messageOf([&] {
        if (assign)
            returned = Storage::instance()->assignPigeon(QStringLiteral("A"), QStringLiteral("NEW"), QStringLiteral("UID9"));
        else
            Storage::instance()->unassignPigeon(QStringLiteral("A"));
    });
    QCOMPARE(message, error);
    if (assign && error.isEmpty()) {
        QVERIFY(returned);
        QCOMPARE(returned->eringNum, QStringLiteral("NEW"));
        QCOMPARE(returned->uid, QStringLiteral("UID9"));
        QCOMPARE(returned->updateTime, kClockMs + kClubDiffMs); // club time, not device time
    }
    if (expected.isEmpty())
        return;
    const QList<QVariantList> rows = db.rows(QStringLiteral(
        "select p.EringNum, p.Uid, p.UpdateTime, r.EringNum, r.RaceCode, r.MarkTime, r.UidMarked, r.MarkAuthKey "
        "from Pigeon p join Record r on r.AssocNum=p.AssocNum"));
    QCOMPARE(rows.size(), 1);
    QStringList cells;
    for (const QVariant &v : rows[0])
        cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
    QCOMPARE(cells.mid(0, 3).join(QLatin1Char(' ')) + QStringLiteral(" | ") + cells.mid(3).join(QLatin1Char(' ')),
             expected);
}

QTEST_GUILESS_MAIN(TestStoragePigeon)
#include "tst_storage_pigeon.moc"
