#include "core/vexexception.h"
#include "storage/nomination.h"
#include "storage/storage.h"

#include "powercut.h"
#include "storagefixture.h"

#include <QTest>

// Nominations per race and the owner's notification phones: what a save
// leaves in the tables, what the look-ups give back, and that a failing or
// cut-off save keeps the old list whole.

namespace {

QSharedPointer<Nomination> nomination(const QString &assocNum, int nom, const QString &raceCode = QString())
{
    auto entry = QSharedPointer<Nomination>::create();
    entry->assocNum = assocNum;
    entry->nom = nom;
    entry->raceCode = raceCode;
    return entry;
}

// Nomination rows as "Id assoc ring race nom", NULL spelt out.
QStringList nominationRows(const StorageFixture &db)
{
    QStringList rows;
    for (const QVariantList &row : db.rows(QStringLiteral(
             "select Id, AssocNum, EringNum, RaceCode, Nom from Nomination order by RaceCode, rowid"))) {
        QStringList cells;
        for (const QVariant &v : row)
            cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        rows << cells.join(QLatin1Char(' '));
    }
    return rows;
}

// Phone rows as "id:number", NULL spelt out.
QStringList phoneRows(const StorageFixture &db)
{
    QStringList rows;
    for (const QVariantList &row : db.rows(QStringLiteral("select id, phonecode from Phone order by id")))
        rows << row.value(0).toString() + QLatin1Char(':')
                    + (row.value(1).isNull() ? QStringLiteral("NULL") : row.value(1).toString());
    return rows;
}

const QStringList kOldPhones{QStringLiteral("0:+31 600"), QStringLiteral("1:+31 601"), QStringLiteral("2:+31 602"),
                             QStringLiteral("3:"), QStringLiteral("4:")};

void setOldPhones(const StorageFixture &db)
{
    for (int id = 0; id < 3; ++id)
        QVERIFY(db.exec(QStringLiteral("update Phone set phonecode='+31 60%1' where id=%1").arg(id)));
}

void setOldNominations(const StorageFixture &db)
{
    // The races too: the next start drops nominations of races that are gone.
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode) values('R1'),('R2')")));
    QVERIFY(db.exec(QStringLiteral("insert into Nomination(Id,AssocNum,RaceCode,Nom) values"
                                   "(null,'A','R1',1),(null,'B','R1',2),(null,'A','R2',7)")));
}

// The operations the power-cut runner starts in a child process.
void runOperation(const QString &name)
{
    Storage *s = Storage::instance();
    if (name == QLatin1String("saveRaceNoms"))
        s->saveRaceNoms(QStringLiteral("R1"), {nomination(QStringLiteral("C"), 1), nomination(QStringLiteral("A"), 2),
                                               nomination(QStringLiteral("B"), 3)});
    else if (name == QLatin1String("savePhoneCodes"))
        s->savePhoneCodes({QStringLiteral("+44 1"), QStringLiteral("+44 2")});
}

} // namespace

class TestStorageNomination : public QObject
{
    Q_OBJECT
private slots:
    void saveRaceNoms_replacesThatRaceOnly_data();
    void saveRaceNoms_replacesThatRaceOnly();
    void getRacePigeonNom_data();
    void getRacePigeonNom();
    void queryNoms_onePerNominationAndPigeon();
    void phones_data();
    void phones();
    void updatePhoneCode_insertsOrUpdates();
    void failingSave_keepsOldList_data();
    void failingSave_keepsOldList();
    void powerCut_keepsOldOrNewList_data();
    void powerCut_keepsOldOrNewList();
};

void TestStorageNomination::saveRaceNoms_replacesThatRaceOnly_data()
{
    QTest::addColumn<int>("saves");
    QTest::addColumn<QStringList>("noms"); // "assoc nom race" per entry
    QTest::addColumn<QStringList>("expected");

    const QStringList otherRace{QStringLiteral("NULL A  R2 7")};
    QTest::newRow("empty list") << 1 << QStringList() << otherRace;
    const QStringList list{QStringLiteral("C 1 R2"), QStringLiteral("A 2 elsewhere")};
    const QStringList saved = QStringList{QStringLiteral("NULL C  R1 1"), QStringLiteral("NULL A  R1 2")} + otherRace;
    QTest::newRow("once") << 1 << list << saved;
    QTest::newRow("the same list twice") << 2 << list << saved;
}

void TestStorageNomination::saveRaceNoms_replacesThatRaceOnly()
{
    QFETCH(int, saves);
    QFETCH(QStringList, noms);
    QFETCH(QStringList, expected);
    StorageFixture db;
    setOldNominations(db);
    QList<QSharedPointer<Nomination>> list;
    for (const QString &entry : noms) {
        const QStringList parts = entry.split(QLatin1Char(' '));
        list << nomination(parts.at(0), parts.at(1).toInt(), parts.at(2));
    }
    for (int i = 0; i < saves; ++i)
        Storage::instance()->saveRaceNoms(QStringLiteral("R1"), list);
    // Sorted by race: R1's rows first, in list order; the entries' own race
    // codes are ignored, and Id stays NULL as files have always had it.
    QCOMPARE(nominationRows(db), expected);
}

void TestStorageNomination::getRacePigeonNom_data()
{
    QTest::addColumn<QString>("assocNum");
    QTest::addColumn<QString>("raceCode");
    QTest::addColumn<int>("expected");
    QTest::newRow("nominated") << "A" << "R1" << 4;
    QTest::newRow("not in that race") << "A" << "R9" << 0;
    QTest::newRow("no such pigeon") << "Z" << "R1" << 0;
    QTest::newRow("quote") << "O'Brien" << "R'1" << 5;
    QTest::newRow("%2 in the first value") << "%2" << "R1" << 6;
    QTest::newRow("%1 in the second value") << "A" << "%1" << 7;
    QTest::newRow("always true") << "x' OR '1'='1" << "x' OR '1'='1" << 0;
}

void TestStorageNomination::getRacePigeonNom()
{
    QFETCH(QString, assocNum);
    QFETCH(QString, raceCode);
    QFETCH(int, expected);
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Nomination(Id,AssocNum,RaceCode,Nom) values"
                                   "(null,'A','R1',4),(null,'O''Brien','R''1',5),(null,'%2','R1',6),"
                                   "(null,'A','%1',7)")));
    QCOMPARE(Storage::instance()->getRacePigeonNom(assocNum, raceCode), expected);
}

void TestStorageNomination::queryNoms_onePerNominationAndPigeon()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum) values('C'),('A'),('B')")));
    setOldNominations(db);
    QStringList found;
    const auto noms = Storage::instance()->queryNoms();
    for (const auto &n : noms) {
        QVERIFY(!n->raceCode.isNull());
        found << QStringLiteral("%1 %2 %3").arg(n->assocNum, n->raceCode).arg(n->nom);
    }
    QCOMPARE(found.size(), 4);
    // A's two entries sit together, whatever order the join gives them in.
    QStringList firstTwo = found.mid(0, 2);
    firstTwo.sort();
    QCOMPARE(firstTwo, (QStringList{"A R1 1", "A R2 7"}));
    QCOMPARE(found.mid(2), (QStringList{"B R1 2", "C  0"}));
}

void TestStorageNomination::phones_data()
{
    QTest::addColumn<QStringList>("setup"); // SQL before the save
    QTest::addColumn<bool>("save");
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("query");

    QTest::newRow("two numbers with blanks")
        << QStringList() << true << QStringList{" +31 600 ", "\t0612\n"}
        << QStringList{"0: +31 600 ", "1:\t0612\n"} << QStringList{"+31 600", "0612"};
    QTest::newRow("empty list") << QStringList() << true << QStringList() << QStringList() << QStringList();
    QTest::newRow("blank-only number")
        << QStringList() << true << QStringList{"   ", "0612"} << QStringList{"0:   ", "1:0612"}
        << QStringList{"0612"};
    QTest::newRow("six numbers")
        << QStringList() << true << QStringList{"1", "2", "3", "4", "5", "6"}
        << QStringList{"0:1", "1:2", "2:3", "3:4", "4:5", "5:6"} << QStringList{"1", "2", "3", "4", "5", "6"};
    QTest::newRow("seven stored, five saved")
        << QStringList{"insert into Phone(id,phonecode) values(5,'6'),(6,'7')"} << true
        << QStringList{"1", "2", "3", "4", "5"} << QStringList{"0:1", "1:2", "2:3", "3:4", "4:5"}
        << QStringList{"1", "2", "3", "4", "5"};
    QTest::newRow("NULL and empty rows are passed over")
        << QStringList{"update Phone set phonecode=NULL where id=0", "update Phone set phonecode='B' where id=3",
                       "update Phone set phonecode='A' where id=4"}
        << false << QStringList() << QStringList{"0:NULL", "1:", "2:", "3:B", "4:A"} << QStringList{"B", "A"};
    QTest::newRow("a fresh file") << QStringList() << false << QStringList()
                                  << QStringList{"0:", "1:", "2:", "3:", "4:"} << QStringList();
}

void TestStorageNomination::phones()
{
    QFETCH(QStringList, setup);
    QFETCH(bool, save);
    QFETCH(QStringList, codes);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, query);
    StorageFixture db;
    setOldPhones(db);
    if (!save)
        QVERIFY(db.exec(QStringLiteral("update Phone set phonecode=''")));
    for (const QString &sql : setup)
        QVERIFY(db.exec(sql));
    if (save)
        Storage::instance()->savePhoneCodes(codes);
    QCOMPARE(phoneRows(db), rows);
    QCOMPARE(Storage::instance()->queryPhoneCode(), query);
}

void TestStorageNomination::updatePhoneCode_insertsOrUpdates()
{
    StorageFixture db;
    Storage *s = Storage::instance();
    s->removePhoneCode(1);
    s->updatePhoneCode(2, QStringLiteral("O'Brien"));
    s->updatePhoneCode(1, QStringLiteral("x' OR '1'='1"));
    s->updatePhoneCode(9, QStringLiteral("nine"));
    s->removePhoneCode(0);
    QCOMPARE(phoneRows(db), (QStringList{"1:x' OR '1'='1", "2:O'Brien", "3:", "4:", "9:nine"}));
}

void TestStorageNomination::failingSave_keepsOldList_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("table");
    QTest::newRow("saveRaceNoms: delete") << "saveRaceNoms" << "DELETE" << "Nomination";
    QTest::newRow("saveRaceNoms: insert") << "saveRaceNoms" << "INSERT" << "Nomination";
    QTest::newRow("savePhoneCodes: update") << "savePhoneCodes" << "UPDATE" << "Phone";
    QTest::newRow("savePhoneCodes: delete") << "savePhoneCodes" << "DELETE" << "Phone";
}

void TestStorageNomination::failingSave_keepsOldList()
{
    QFETCH(QString, operation);
    QFETCH(QString, kind);
    QFETCH(QString, table);
    StorageFixture db;
    setOldNominations(db);
    setOldPhones(db);
    QVERIFY(db.failOn(kind, table));
    const QString before = db.dump();
    try {
        runOperation(operation);
        QFAIL("the save succeeded");
    } catch (const VexException &e) {
        // The driver's failure as it came: the trigger's constraint error.
        QCOMPARE(e.getErrorCode(), 0x11000013);
    }
    QCOMPARE(db.dump(), before);
    QCOMPARE(phoneRows(db), kOldPhones);
    QVERIFY(db.exec(QStringLiteral("drop trigger fail_%1_%2").arg(kind, table)));
    runOperation(operation);
}

void TestStorageNomination::powerCut_keepsOldOrNewList_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("statements");
    // Begin, delete, three inserts, commit.
    QTest::newRow("saveRaceNoms") << "saveRaceNoms" << 6;
    // Begin, a look-up and a write for each of two numbers, one delete of the rest, commit.
    QTest::newRow("savePhoneCodes") << "savePhoneCodes" << 7;
}

void TestStorageNomination::powerCut_keepsOldOrNewList()
{
    QFETCH(QString, operation);
    QFETCH(int, statements);
    StorageFixture db;
    setOldNominations(db);
    setOldPhones(db);
    int cuts = 0;
    db.checkPowerCuts(operation, &cuts);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(cuts, statements);
}

BRELLIUM_POWERCUT_TEST_MAIN(TestStorageNomination, runOperation)
#include "tst_storage_nomination.moc"
