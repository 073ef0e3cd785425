#include "core/vexexception.h"
#include "storage/nomination.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include "powercut.h"
#include "storagefixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>

// Race storage: order and paging, active races, the first and later saves,
// the further-data text, and deleting a race with what hangs on it, all or
// nothing, whatever its code holds.

namespace {

QStringList codesOf(const QList<QSharedPointer<RaceInfo>> &races)
{
    QStringList codes;
    for (const auto &race : races)
        codes << race->raceCode;
    return codes;
}

bool insertRace(const StorageFixture &db, const QString &code, qint64 liberTime, int valid = 1,
                qint64 markReaderTime = 0)
{
    return db.exec(QStringLiteral("insert into Race(RaceCode,LiberTime,Valid,MarkReaderTime) values(%1,%2,%3,%4)")
                       .arg(Storage::quoted(code))
                       .arg(liberTime)
                       .arg(valid)
                       .arg(markReaderTime));
}

// Two races with basketed, arrived and unbasketed pigeons and nominations.
const char *const kTwoRaces[] = {
    "insert into Race(RaceCode,RaceName,LiberTime) values('R1','one',100),('R2','two',200)",
    "insert into Record(AssocNum,EringNum,RaceCode,UidMarked,RandNumMarked,UidBack,RandNumberBack,GpsValid,GpsOnLine,"
    "NeedSms,SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,BackTimeUid,BackHomeLat,BackHomeLon,"
    "MarkReaderId,MarkAuthKey,MarkTime) values"
    "('A','EA','R1','UA',11,'BA',21,1,1,1,1,1,1,1,1000,1001,5,6,'RDR','KA',500),"
    "('B','EB','R1','UB',12,'',0,0,0,0,0,0,0,0,0,0,0,0,'RDR','KB',501),"
    "('C','EC','R2','UC',13,'BC',23,1,0,1,0,1,0,1,2000,2001,7,8,'RDR','KC',502),"
    "('D','ED','',NULL,0,NULL,0,0,0,0,0,0,0,0,0,0,NULL,NULL,NULL,NULL,0)",
    "insert into Nomination(Id,AssocNum,RaceCode,Nom) values(null,'A','R1',1),(null,'B','R1',2),(null,'C','R2',1)",
};

void buildTwoRaces(const StorageFixture &db)
{
    for (const char *sql : kTwoRaces)
        QVERIFY(db.exec(QLatin1String(sql)));
}

QString recordRow(const StorageFixture &db, const QString &assocNum)
{
    const QList<QVariantList> rows = db.rows(
        QStringLiteral("select RaceCode,UidMarked,RandNumMarked,UidBack,RandNumberBack,GpsValid,GpsOnLine,NeedSms,"
                       "SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,BackTimeUid,BackHomeLat,"
                       "BackHomeLon,MarkReaderId,MarkAuthKey,MarkTime,EringNum from Record where AssocNum=%1")
            .arg(Storage::quoted(assocNum)));
    if (rows.size() != 1)
        return QStringLiteral("rows: %1").arg(rows.size());
    QStringList cells;
    for (const QVariant &v : rows.first())
        cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
    return cells.join(QLatin1Char(' '));
}

// The operations the power-cut runner starts in a child process.
void runOperation(const QString &name)
{
    if (name == QLatin1String("deleteRace"))
        Storage::instance()->deleteRace(QStringLiteral("R1"));
}

} // namespace

class TestStorageRace : public QObject
{
    Q_OBJECT
private slots:
    void queryRaces_liberationTimeThenCode();
    void getPageRaces_data();
    void getPageRaces();
    void queryActiveRaces_runningOrBasketing();
    void isRaceNomedById_data();
    void isRaceNomedById();
    void saveRace_firstInsertsThenUpdatesEveryColumn();
    void fetch_valueOfAnotherType_data();
    void fetch_valueOfAnotherType();
    void otherData_unreadable_data();
    void otherData_unreadable();
    void otherData_unknownKeysSurviveReadAndSave();
    void otherData_storedCompactWithKeysAscending();
    void hostileRaceCode_data();
    void hostileRaceCode();
    void deleteRace_freesRecordsAndNominationsOfThatRaceOnly();
    void deleteRace_failingStep_changesNothing_data();
    void deleteRace_failingStep_changesNothing();
    void deleteRace_powerCut_allOrNothing();
};

void TestStorageRace::queryRaces_liberationTimeThenCode()
{
    StorageFixture db;
    QVERIFY(insertRace(db, QStringLiteral("B"), 500));
    QVERIFY(insertRace(db, QStringLiteral("A"), 500));
    QVERIFY(insertRace(db, QStringLiteral("C"), 100));
    QVERIFY(insertRace(db, QStringLiteral("0"), 900));
    Storage *s = Storage::instance();
    QCOMPARE(codesOf(s->queryRaces(QString())), (QStringList{"C", "A", "B", "0"}));
    QCOMPARE(codesOf(s->queryRaces(QStringLiteral("LiberTime=500"))), (QStringList{"A", "B"}));
    QCOMPARE(s->getRacesCount(QString()), 4);
    QCOMPARE(s->getRacesCount(QStringLiteral("LiberTime=500")), 2);
    // A caller's malformed clause fails with the driver's error.
    try {
        s->queryRaces(QStringLiteral("LiberTime="));
        QFAIL("a malformed clause was accepted");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorCode(), 0x11000001);
    }
}

void TestStorageRace::getPageRaces_data()
{
    QTest::addColumn<int>("races");
    QTest::addColumn<QStringList>("expected");
    QStringList eleventhToTwentieth;
    for (int i = 11; i <= 20; ++i)
        eleventhToTwentieth << QStringLiteral("R%1").arg(i, 2, 10, QLatin1Char('0'));
    QTest::newRow("25 races") << 25 << eleventhToTwentieth;
    QTest::newRow("15 races") << 15 << eleventhToTwentieth.mid(0, 5);
    QTest::newRow("5 races") << 5 << QStringList();
}

void TestStorageRace::getPageRaces()
{
    QFETCH(int, races);
    QFETCH(QStringList, expected);
    StorageFixture db;
    // Codes run against the liberation order and the names with it, so the
    // page shows that it follows the time.
    for (int i = 1; i <= races; ++i) {
        QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,RaceName,LiberTime) values('C%1','R%2',%3)")
                            .arg(races + 1 - i, 2, 10, QLatin1Char('0'))
                            .arg(i, 2, 10, QLatin1Char('0'))
                            .arg(1000 * i)));
    }
    QStringList names;
    for (const auto &race : Storage::instance()->getPageRaces(QString(), 10, 10))
        names << race->raceName;
    QCOMPARE(names, expected);
}

void TestStorageRace::queryActiveRaces_runningOrBasketing()
{
    StorageFixture db;
    QVERIFY(insertRace(db, QStringLiteral("new"), 1, 1, 0));
    QVERIFY(insertRace(db, QStringLiteral("basketing"), 2, 1, 77));
    QVERIFY(insertRace(db, QStringLiteral("running"), 3, 3, 0));
    QVERIFY(insertRace(db, QStringLiteral("stopped"), 4, 4, 77));
    QVERIFY(insertRace(db, QStringLiteral("closed"), 5, 12, 77));
    QCOMPARE(codesOf(Storage::instance()->queryActiveRaces()), (QStringList{"basketing", "running"}));
}

void TestStorageRace::isRaceNomedById_data()
{
    QTest::addColumn<QString>("otherData"); // empty: no race at all
    QTest::addColumn<bool>("expected");
    QTest::newRow("no such race") << QString() << false;
    QTest::newRow("no nomination key") << QStringLiteral("{\"markUploadFlag\":true}") << false;
    QTest::newRow("nomination 0") << QStringLiteral("{\"nomination\":0}") << false;
    QTest::newRow("nomination 1") << QStringLiteral("{\"nomination\":1}") << true;
    QTest::newRow("nomination as a double") << QStringLiteral("{\"nomination\":2.0}") << true;
    QTest::newRow("no JSON") << QStringLiteral("nomination") << false;
}

void TestStorageRace::isRaceNomedById()
{
    QFETCH(QString, otherData);
    QFETCH(bool, expected);
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,OtherData) values('other','{\"nomination\":1}')")));
    if (!otherData.isEmpty())
        QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,OtherData) values('R',%1)").arg(Storage::quoted(otherData))));
    QCOMPARE(Storage::instance()->isRaceNomedById(QStringLiteral("R")), expected);
}

void TestStorageRace::saveRace_firstInsertsThenUpdatesEveryColumn()
{
    StorageFixture db;
    RaceInfo race;
    race.raceCode = QStringLiteral("R-2024-07");
    race.raceName = QStringLiteral("Orléans ' 2024");
    race.clubCode = QStringLiteral("C1");
    race.assocCode = QStringLiteral("NL");
    race.liberCode = QStringLiteral("L7");
    race.liberTime = 1LL << 41;
    race.liberName = QStringLiteral("Orléans");
    race.liberLon = QStringLiteral("E1°54'");
    race.liberLat = QStringLiteral("N47°54'");
    race.markReaderId = QStringLiteral("READER");
    race.markAuthKey = QStringLiteral("AUTH");
    race.markDeviceTime = (1LL << 41) + 1;
    race.markReaderTime = (1LL << 41) + 2;
    race.markPrintFlag = true;
    race.raceStopDeviceTime = (1LL << 41) + 3;
    race.raceStopReaderTime = (1LL << 41) + 4;
    race.backPrintFlag = true;
    race.backPrintReaderId = QStringLiteral("BPR");
    race.backPrintAuthKey = QStringLiteral("BPA");
    race.printCount = 3;
    race.setField(QStringLiteral("nomination"), 1);
    QCOMPARE(race.valid, 0);

    Storage *s = Storage::instance();
    s->saveRace(&race);
    QCOMPARE(race.valid, 1);
    const QString untouched = QStringLiteral("NULL NULL 0 0 0 NULL NULL 0 0 0");
    const QString marking = QStringLiteral(
        "select ifnull(MarkReaderId,'NULL')||' '||ifnull(MarkAuthKey,'NULL')||' '||MarkDeviceTime||' '||MarkReaderTime"
        "||' '||MarkPrintFlag||' '||ifnull(BackPrintReaderId,'NULL')||' '||ifnull(BackPrintAuthKey,'NULL')||' '||"
        "BackPrintFlag||' '||RaceStopReaderTime||' '||RaceStopDeviceTime from Race");
    QCOMPARE(db.value(marking).toString(), untouched);
    QSharedPointer<RaceInfo> back = s->findRaceById(race.raceCode);
    QVERIFY(back);
    QCOMPARE(back->valid, 1);
    QCOMPARE(back->raceName, race.raceName);
    QCOMPARE(back->liberTime, race.liberTime);
    QCOMPARE(back->printCount, 3);
    QCOMPARE(back->markReaderId, QString());
    QVERIFY(!back->markReaderId.isNull());
    QCOMPARE(back->getField(QStringLiteral("nomination")).toInt(), 1);

    race.valid = 3;
    s->saveRace(&race);
    QCOMPARE(race.valid, 3);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Race")).toInt(), 1);
    back = s->findRaceById(race.raceCode);
    QVERIFY(back);
    for (const char *key : {"raceCode", "raceName", "clubCode", "assocCode", "valid", "liberCode", "liberTime",
                            "liberName", "liberLon", "liberLat", "markReaderId", "markAuthKey", "markDeviceTime",
                            "markReaderTime", "markPrintFlag", "raceStopDeviceTime", "raceStopReaderTime",
                            "backPrintFlag", "backPrintReaderId", "backPrintAuthKey", "printCount", "nomination"})
        QVERIFY2(back->getField(QLatin1String(key)) == race.getField(QLatin1String(key)), key);
    QCOMPARE(db.value(QStringLiteral("select typeof(LiberTime)||typeof(MarkPrintFlag)||typeof(Valid) from Race")).toString(),
             QStringLiteral("integerintegerinteger"));
}

// A value SQLite keeps in a type other than the column's (a file written by
// another program, a PC's bulk update) reads as the number or text it
// converts to, the same whether the race comes alone or in a list.
void TestStorageRace::fetch_valueOfAnotherType_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("word in a number") << "PrintCount" << "'12x'" << "printCount" << QVariant(0);
    QTest::newRow("real in a number, rounded") << "PrintCount" << "2.5" << "printCount" << QVariant(3);
    QTest::newRow("wide number, low 32 bits") << "Valid" << "8589934593" << "valid" << QVariant(1);
    QTest::newRow("negative real in a time") << "LiberTime" << "-1.5" << "liberTime" << QVariant(-2LL);
    QTest::newRow("word in a time") << "MarkDeviceTime" << "'soon'" << "markDeviceTime" << QVariant(0LL);
    QTest::newRow("null time") << "RaceStopReaderTime" << "NULL" << "raceStopReaderTime" << QVariant(0LL);
    QTest::newRow("real below a half in a flag") << "BackPrintFlag" << "0.4" << "backPrintFlag" << QVariant(false);
    QTest::newRow("real of a half in a flag") << "MarkPrintFlag" << "0.5" << "markPrintFlag" << QVariant(true);
    QTest::newRow("word in a flag") << "BackPrintFlag" << "'yes'" << "backPrintFlag" << QVariant(false);
    QTest::newRow("bytes in a text") << "RaceName" << "X'4142'" << "raceName" << QVariant(QStringLiteral("AB"));
    QTest::newRow("number in a text") << "LiberName" << "12" << "liberName" << QVariant(QStringLiteral("12"));
    QTest::newRow("null text") << "ClubCode" << "NULL" << "clubCode" << QVariant(QStringLiteral(""));
}

void TestStorageRace::fetch_valueOfAnotherType()
{
    QFETCH(QString, column);
    QFETCH(QString, stored);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);
    StorageFixture db;
    QVERIFY(insertRace(db, QStringLiteral("R1"), 1000));
    QVERIFY(db.exec(QStringLiteral("update Race set %1=%2").arg(column, stored)));
    const QSharedPointer<RaceInfo> one = Storage::instance()->findRaceById(QStringLiteral("R1"));
    QVERIFY(one);
    QCOMPARE(one->getField(field), expected);
    const auto all = Storage::instance()->queryRaces(QString());
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.first()->getField(field), expected);
}

void TestStorageRace::otherData_unreadable_data()
{
    QTest::addColumn<QString>("stored"); // SQL literal
    QTest::newRow("array") << QStringLiteral("'[1]'");
    QTest::newRow("not JSON") << QStringLiteral("'x'");
    QTest::newRow("empty") << QStringLiteral("''");
    QTest::newRow("NULL") << QStringLiteral("NULL");
    QTest::newRow("scalar") << QStringLiteral("'5'");
    QTest::newRow("string") << QStringLiteral("'\"nomination\"'");
    QTest::newRow("cut short") << QStringLiteral("'{\"nomination\":1'");
    QTest::newRow("number as blob") << QStringLiteral("x'00ff'");
}

void TestStorageRace::otherData_unreadable()
{
    QFETCH(QString, stored);
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,Valid,OtherData) values('R',3,%1)").arg(stored)));
    QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(QStringLiteral("R"));
    QVERIFY(race);
    QVERIFY(race->otherData.isEmpty());
    QCOMPARE(race->valid, 3);
    QCOMPARE(Storage::instance()->queryRaces(QString()).size(), 1);
    // Saved again, the column becomes an empty object.
    Storage::instance()->saveRace(race.data());
    QCOMPARE(db.value(QStringLiteral("select OtherData from Race")).toString(), QStringLiteral("{}"));
}

void TestStorageRace::otherData_unknownKeysSurviveReadAndSave()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral(
        "insert into Race(RaceCode,OtherData) values('R','{\"clubNote\":\"a \\\"b\\\" é\",\"nomination\":1,\"x\":[1,{\"y\":null}]}')")));
    QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(QStringLiteral("R"));
    QVERIFY(race);
    QCOMPARE(race->otherData.value(QStringLiteral("clubNote")).toString(), QStringLiteral("a \"b\" é"));
    race->setField(QStringLiteral("markUploadedCount"), 4);
    Storage::instance()->saveRace(race.data());
    const QByteArray stored = db.value(QStringLiteral("select OtherData from Race")).toString().toUtf8();
    QCOMPARE(stored,
             QByteArray("{\"clubNote\":\"a \\\"b\\\" \xc3\xa9\",\"markUploadedCount\":4,\"nomination\":1,"
                        "\"x\":[1,{\"y\":null}]}"));
    QSharedPointer<RaceInfo> again = Storage::instance()->findRaceById(QStringLiteral("R"));
    QCOMPARE(again->otherData.value(QStringLiteral("clubNote")).toString(), QStringLiteral("a \"b\" é"));
    QCOMPARE(again->getField(QStringLiteral("markUploadedCount")).toInt(), 4);
}

void TestStorageRace::otherData_storedCompactWithKeysAscending()
{
    StorageFixture db;
    RaceInfo race;
    race.raceCode = QStringLiteral("R");
    race.setField(QStringLiteral("NOMINATION"), 2);
    race.setField(QStringLiteral("markUploadFlag"), true);
    race.setField(QStringLiteral("markuploadedcount"), 7);
    race.otherData.insert(QStringLiteral("Zeta"), QStringLiteral("tab\there\nline\x01"));
    Storage::instance()->saveRace(&race);
    const QByteArray stored = db.value(QStringLiteral("select OtherData from Race")).toString().toUtf8();
    // Upper case sorts before lower case; only the seven escapes are used.
    QCOMPARE(stored, QByteArray("{\"Zeta\":\"tab\\there\\nline\x01\",\"markUploadFlag\":true,"
                                "\"markUploadedCount\":7,\"nomination\":2}"));
    const QJsonDocument parsed = QJsonDocument::fromJson(stored);
    QVERIFY(parsed.isObject());
    QCOMPARE(parsed.object().value(QStringLiteral("Zeta")).toString(), QStringLiteral("tab\there\nline\x01"));
}

void TestStorageRace::hostileRaceCode_data()
{
    QTest::addColumn<QString>("code");
    QTest::newRow("quote") << QStringLiteral("O'Brien");
    QTest::newRow("always true") << QStringLiteral("x' OR '1'='1");
    QTest::newRow("second statement") << QStringLiteral("x'; delete from Record; --");
    QTest::newRow("placeholders") << QStringLiteral("%1%2:raceCode?");
    QTest::newRow("non-ASCII") << QStringLiteral("Łódź-中文-\U0001F54A");
    QTest::newRow("long") << QString(3000, QLatin1Char('\'')) + QStringLiteral("%2");
}

void TestStorageRace::hostileRaceCode()
{
    QFETCH(QString, code);
    StorageFixture db;
    buildTwoRaces(db);
    Storage *s = Storage::instance();
    const QString before = db.dump();

    // Nothing of another race is found, nominated or deleted.
    QVERIFY(s->findRaceById(code).isNull());
    QVERIFY(!s->isRaceNomedById(code));
    QCOMPARE(s->getRacePigeonNom(QStringLiteral("A"), code), 0);
    QCOMPARE(s->getRacesCount(QStringLiteral("raceCode=") + Storage::quoted(code)), 0);
    s->deleteRace(code);
    QCOMPARE(db.dump(), before);

    // Saved, found, counted, nominated and deleted exactly.
    RaceInfo race;
    race.raceCode = code;
    race.raceName = code;
    race.liberTime = 50;
    race.setField(QStringLiteral("nomination"), 1);
    s->saveRace(&race);
    s->saveRace(&race);
    QSharedPointer<RaceInfo> back = s->findRaceById(code);
    QVERIFY(back);
    QCOMPARE(back->raceCode, code);
    QCOMPARE(back->raceName, code);
    QVERIFY(s->isRaceNomedById(code));
    QCOMPARE(s->getRacesCount(QStringLiteral("raceCode=") + Storage::quoted(code)), 1);
    QCOMPARE(codesOf(s->queryRaces(QStringLiteral("raceCode=") + Storage::quoted(code))), QStringList{code});
    QCOMPARE(codesOf(s->queryRaces(QString())), (QStringList{code, "R1", "R2"}));

    auto nomination = QSharedPointer<Nomination>::create();
    nomination->assocNum = code;
    nomination->nom = 5;
    s->saveRaceNoms(code, {nomination});
    QCOMPARE(s->getRacePigeonNom(code, code), 5);
    QCOMPARE(s->getRacePigeonNom(QStringLiteral("A"), QStringLiteral("R1")), 1);
    QVERIFY(db.exec(QStringLiteral("update Record set RaceCode=%1, MarkTime=9 where AssocNum='D'").arg(Storage::quoted(code))));

    s->deleteRace(code);
    QVERIFY(s->findRaceById(code).isNull());
    QCOMPARE(recordRow(db, QStringLiteral("D")), QStringLiteral(" NULL 0  0 0 0 0 0 0 0 0 0 0 0 0 NULL NULL 0 ED"));
    QVERIFY(db.exec(QStringLiteral("update Record set UidBack=NULL, BackHomeLat=NULL, BackHomeLon=NULL where AssocNum='D'")));
    QCOMPARE(db.dump(), before);
}

void TestStorageRace::deleteRace_freesRecordsAndNominationsOfThatRaceOnly()
{
    StorageFixture db;
    buildTwoRaces(db);
    const QString recordC = recordRow(db, QStringLiteral("C"));
    const QString recordD = recordRow(db, QStringLiteral("D"));
    Storage::instance()->deleteRace(QStringLiteral("R1"));

    QCOMPARE(codesOf(Storage::instance()->queryRaces(QString())), QStringList{"R2"});
    // Race code, arrival, SMS and upload states and basketing time go; the
    // basketing uid, random number, reader, key and ring stay.
    QCOMPARE(recordRow(db, QStringLiteral("A")), QStringLiteral(" UA 11  0 0 0 0 0 0 0 0 0 0 0 0 RDR KA 0 EA"));
    QCOMPARE(recordRow(db, QStringLiteral("B")), QStringLiteral(" UB 12  0 0 0 0 0 0 0 0 0 0 0 0 RDR KB 0 EB"));
    QCOMPARE(recordRow(db, QStringLiteral("C")), recordC);
    QCOMPARE(recordRow(db, QStringLiteral("D")), recordD);
    QCOMPARE(db.rows(QStringLiteral("select AssocNum, RaceCode, Nom from Nomination")),
             (QList<QVariantList>{{QStringLiteral("C"), QStringLiteral("R2"), 1}}));
}

void TestStorageRace::deleteRace_failingStep_changesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("table");
    QTest::newRow("freeing the records") << "UPDATE" << "Record";
    QTest::newRow("deleting the nominations") << "DELETE" << "Nomination";
    QTest::newRow("deleting the race") << "DELETE" << "Race";
}

void TestStorageRace::deleteRace_failingStep_changesNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, table);
    StorageFixture db;
    buildTwoRaces(db);
    QVERIFY(db.failOn(kind, table));
    const QString before = db.dump();
    try {
        Storage::instance()->deleteRace(QStringLiteral("R1"));
        QFAIL("deleteRace succeeded");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorMessage(), QStringLiteral("Delete race failed!"));
        QCOMPARE(e.getErrorCode(), 0x11000000);
    }
    QCOMPARE(db.dump(), before);
    // Nothing stays open: the next write on this connection works.
    QVERIFY(db.exec(QStringLiteral("drop trigger fail_%1_%2").arg(kind, table)));
    Storage::instance()->deleteRace(QStringLiteral("R1"));
    QCOMPARE(db.value(QStringLiteral("select count(*) from Race")).toInt(), 1);
}

void TestStorageRace::deleteRace_powerCut_allOrNothing()
{
    StorageFixture db;
    buildTwoRaces(db);
    int cuts = 0;
    db.checkPowerCuts(QStringLiteral("deleteRace"), &cuts);
    if (QTest::currentTestFailed())
        return;
    // After the begin, each of the three steps and the commit.
    QCOMPARE(cuts, 5);
}

BRELLIUM_POWERCUT_TEST_MAIN(TestStorageRace, runOperation)
#include "tst_storage_race.moc"
