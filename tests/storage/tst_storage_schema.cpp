#include "core/vexexception.h"
#include "storage/storage.h"

#include "messagecapture.h"
#include "powercut.h"
#include "storagefixture.h"

#include <QFile>
#include <QTest>

// The database file's life: first start, later starts, repair of what an
// earlier run or a power cut left, and files that cannot be repaired.

namespace {

// The schema as the device has always written it, double blanks included.
const QStringList kSchema = {
    QStringLiteral("create table APPPARAMS(id varchar(32) PRIMARY KEY NOT NULL,val text)"),
    QStringLiteral("create table LOFTINFO(id INTEGER PRIMARY KEY NOT NULL,LoftNum text default '',OwnerName text,Street text,City text,PostCode varchar(32),PhoneNo varchar(32),Email varchar(64),LoftLon  varchar(64),LoftLat  varchar(64),ClubCode varchar(64),ClubName text,ClubStreet text,ClubCity text,ClubPostCode varchar(64),AssocCode varchar(64),HostIp varchar(64),HostPath varchar(64),HostSmsCode varchar(32),Apn varchar(16),NotifyMode int default 0,UploadMode int default 0,UploadInterval int default 20000,Validate BIGINT default 0,Password varchar(8),Language varchar(32) default 'EN',TimeZone int default 0,VoiceMode int default 100,PI0 int default 0,PI1 int default 0,PI2 int default 0,PS0 text,PS1 text,PS2 text)"),
    QStringLiteral("create table Pigeon(AssocNum varchar(64) PRIMARY KEY NOT NULL,EringNum varchar(8) NOT NULL default '',Uid varchar(8),Valid int default 1,Test int default 0,AssocCode varchar(64),Color text,Year int,Sex int default 2,RegNum varchar(64),UpdateTime BIGINT default 0)"),
    QStringLiteral("create table Race(RaceCode varchar(16) PRIMARY KEY NOT NULL,RaceName text,LiberCode varchar(16),LiberTime BIGINT default 0,LiberName text,LiberLon varchar(64),LiberLat varchar(64),Valid int default 1,ClubCode varchar(16),AssocCode varchar(64),MarkReaderId varchar(32),MarkAuthKey varchar(32),MarkDeviceTime BIGINT default 0,MarkReaderTime BIGINT default 0,MarkPrintFlag int default 0,BackPrintReaderId varchar(64),BackPrintAuthKey varchar(64),BackPrintFlag int  default 0,RaceStopReaderTime BIGINT default 0,RaceStopDeviceTime BIGINT default 0,PrintCount int default 0,OtherData text)"),
    QStringLiteral("create table Record(AssocNum varchar(64) PRIMARY KEY NOT NULL,RaceCode varchar(16) default '',UidMarked varchar(8),EringNum varchar(8) NOT NULL default '',RandNumMarked int default 0,UidBack varchar(8),RandNumberBack int default 0,GpsValid int  default 0,GpsOnLine int default 0,NeedSms int default 0,SmsSendState int default 0,UidUploadState int default 0,EringUploadState int default 0,BackOrder int default 0,BackTimeEring BIGINT default 0,BackTimeUid BIGINT default 0,BackHomeLat int,BackHomeLon int,MarkReaderId varchar(64),MarkAuthKey varchar(64),MarkTime BIGINT default 0,BackPrintReaderId varchar(64),BackPrintAuthKey varchar(64),MarkPrintFlag int,BackPrintFlag int)"),
    QStringLiteral("create table Phone(id INTEGER PRIMARY KEY NOT NULL,phonecode varchar(32))"),
    QStringLiteral("create table Log(LogId INTEGER PRIMARY KEY ,LogType char,LogTime BIGINT default 0,LogInfo varchar(256))"),
    QStringLiteral("create table Nomination(Id INTERGER PRIMARY KEY,AssocNum varchar(64) default '',EringNum varchar(8) NOT NULL default '',RaceCode varchar(16) default '',Nom int default 0)"),
};

const QStringList kTableNames = {QStringLiteral("APPPARAMS"), QStringLiteral("LOFTINFO"), QStringLiteral("Pigeon"),
                                 QStringLiteral("Race"),      QStringLiteral("Record"),   QStringLiteral("Phone"),
                                 QStringLiteral("Log"),       QStringLiteral("Nomination")};

void dispatch(const QString &operation)
{
    if (operation == QLatin1String("init"))
        Storage::init();
}

bool fileExists(const QString &name)
{
    return QFile::exists(name);
}

void removeDatabaseFiles()
{
    for (const char *name : {Storage::kDatabaseFile, Storage::kJournalFile, Storage::kWalFile, Storage::kShmFile})
        QFile::remove(QLatin1String(name));
}

// The indexes a start makes, by table, each with its columns.
QStringList indexesOf(const StorageFixture &db)
{
    QStringList found;
    for (const QVariantList &r : db.rows(QStringLiteral(
             "select m.tbl_name, group_concat(i.name, ',') from sqlite_master m, pragma_index_info(m.name) i "
             "where m.type='index' and m.name not like 'sqlite_autoindex_%' group by m.name order by m.tbl_name, 2")))
        found << r.value(0).toString() + QLatin1Char('(') + r.value(1).toString() + QLatin1Char(')');
    return found;
}

// What the look-ups of arrivals, screens, uploads and the PC need, whatever
// the indexes are called.
const QStringList kIndexes = {
    QStringLiteral("Nomination(AssocNum)"),          QStringLiteral("Nomination(RaceCode,AssocNum)"),
    QStringLiteral("Pigeon(EringNum)"),              QStringLiteral("Race(LiberTime,RaceCode)"),
    QStringLiteral("Record(EringNum)"),              QStringLiteral("Record(MarkTime,BackTimeEring)"),
    QStringLiteral("Record(RaceCode,BackTimeEring,AssocNum)"), QStringLiteral("Record(RaceCode,BackTimeEring,MarkTime)"),
    QStringLiteral("Record(RaceCode,MarkTime)"),
};

// A file as earlier versions wrote it: the eight tables and nothing else, a
// rollback journal and no vacuum, with a loft's worth of rows in it.
void makeEarlierFile(const StorageFixture &db, int pigeons)
{
    QFile(QLatin1String(Storage::kDatabaseFile)).open(QIODevice::WriteOnly);
    for (const QString &sql : kSchema)
        QVERIFY(db.exec(sql));
    QVERIFY(db.exec(QStringLiteral("insert into LOFTINFO(id,Apn,TimeZone) values(1,'',28800)")));
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,LiberTime,Valid) values('R1',1000,3)")));
    QVERIFY(db.exec(QStringLiteral("BEGIN")));
    for (int i = 0; i < pigeons; ++i) {
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('NL-%1','E%1')").arg(i)));
        QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime,BackTimeEring) "
                                       "values('NL-%1','E%1','R1',%2,%3)")
                            .arg(i)
                            .arg(500 + i)
                            .arg(i % 3 == 0 ? 2000 + i : 0)));
        QVERIFY(db.exec(QStringLiteral("insert into Log(LogType,LogTime,LogInfo) values(1,%1,'{\"n\":%1}')").arg(i)));
    }
    QVERIFY(db.exec(QStringLiteral("COMMIT")));
    QCOMPARE(db.value(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("delete"));
    QCOMPARE(db.value(QStringLiteral("PRAGMA auto_vacuum")).toInt(), 0);
}

// The dump of a clean first start, made once by the real code.
QString &cleanFirstStart()
{
    static QString reference;
    return reference;
}

} // namespace

class TestStorageSchema : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstStart_createsTablesAndDefaultRows();
    void secondStart_changesNothing();
    void createDbFailure_leavesNoFile_data();
    void createDbFailure_leavesNoFile();
    void powerCutDuringFirstStart_nextStartIsClean();
    void earlierFile_gainsIndexesAndKeepsData();
    void powerCutDuringUpgrade_dataKept();
    void brokenFile_isRepaired_data();
    void brokenFile_isRepaired();
    void garbageFile_raisesAndStaysUnchanged();
    void repair_resetsOrphansAndKeepsTheRest();
};

void TestStorageSchema::initTestCase()
{
    StorageFixture db;
    cleanFirstStart() = db.dump();
}

void TestStorageSchema::firstStart_createsTablesAndDefaultRows()
{
    StorageFixture db(false);
    QVERIFY(!fileExists(QLatin1String(Storage::kDatabaseFile)));
    db.root().clearBoardCommands();
    Storage::init();

    // The empty file was flushed to the card before its tables were made.
    QVERIFY(db.root().boardCommands().contains(QStringLiteral("sync")));
    QList<QVariantList> tables =
        db.rows(QStringLiteral("select name, sql from sqlite_master where type='table' order by rowid"));
    QCOMPARE(tables.size(), kSchema.size());
    for (int i = 0; i < tables.size(); ++i) {
        QCOMPARE(tables[i].value(0).toString(), kTableNames[i]);
        QCOMPARE(tables[i].value(1).toString(), QStringLiteral("CREATE TABLE ") + kSchema[i].mid(13));
    }
    QCOMPARE(indexesOf(db), kIndexes);

    const QList<QVariantList> loft = db.rows(QStringLiteral(
        "select id, LoftNum, Apn, TimeZone, UploadInterval, Language, VoiceMode, NotifyMode, UploadMode, Validate, "
        "OwnerName from LOFTINFO"));
    QCOMPARE(loft.size(), 1);
    const QVariantList expected{1, QString(), QString(), 28800, 20000, QStringLiteral("EN"), 100, 0, 0, 0, QVariant()};
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(loft[0][i].toString(), expected[i].toString());
    QVERIFY(loft[0][10].isNull());
    QCOMPARE(db.rows(QStringLiteral("select id, phonecode from Phone order by id")),
             (QList<QVariantList>{{0, QString()}, {1, QString()}, {2, QString()}, {3, QString()}, {4, QString()}}));
    QCOMPARE(db.value(QStringLiteral("select count(*) from Phone where phonecode=''")).toInt(), 5);
    for (const QString &table : {QStringLiteral("APPPARAMS"), QStringLiteral("Pigeon"), QStringLiteral("Race"),
                                 QStringLiteral("Record"), QStringLiteral("Log"), QStringLiteral("Nomination")})
        QCOMPARE(db.value(QStringLiteral("select count(*) from ") + table).toInt(), 0);

    // A write-ahead log (durable with the program's full syncs, which the
    // durability suite checks), and trims that give their pages back.
    QCOMPARE(db.value(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    QCOMPARE(db.value(QStringLiteral("PRAGMA auto_vacuum")).toInt(), 2);
}

void TestStorageSchema::secondStart_changesNothing()
{
    StorageFixture db;
    const QString before = db.dump();
    db.root().clearBoardCommands();
    Storage::destroy();
    Storage::init();
    QCOMPARE(db.dump(), before);
    QCOMPARE(db.root().boardCommands(), QStringList());
}

void TestStorageSchema::createDbFailure_leavesNoFile_data()
{
    // Statements of a first start: the new file's vacuum and journal modes,
    // the transaction's begin, eight tables with six default rows, the commit.
    QTest::addColumn<int>("statement");
    for (int n = 1; n <= 18; ++n)
        QTest::addRow("statement %d", n) << n;
}

void TestStorageSchema::createDbFailure_leavesNoFile()
{
    QFETCH(int, statement);
    StorageFixture db(false);
    Storage::setFault(Storage::Fault::FailStatement, statement);
    try {
        Storage::init();
        Storage::setFault(Storage::Fault::None);
        QFAIL("init succeeded");
    } catch (const VexException &e) {
        Storage::setFault(Storage::Fault::None);
        QCOMPARE(e.getErrorMessage(), QStringLiteral("create database error!"));
        QCOMPARE(e.getErrorCode(), 0x11000001);
    }
    for (const char *name : {Storage::kDatabaseFile, Storage::kJournalFile, Storage::kWalFile, Storage::kShmFile})
        QVERIFY2(!fileExists(QLatin1String(name)), name);

    // The connection is still usable: the next start makes the file.
    Storage::init();
    QCOMPARE(db.dump(), cleanFirstStart());
}

void TestStorageSchema::powerCutDuringFirstStart_nextStartIsClean()
{
    const QString clean = cleanFirstStart();
    StorageFixture db(false);
    int cuts = 0;
    for (int n = 1; n <= PowerCut::kMaxStatements; ++n) {
        removeDatabaseFiles();
        QByteArray output;
        const PowerCut::Outcome outcome = PowerCut::run(QStringLiteral("init"), n, &output);
        QVERIFY2(outcome == PowerCut::Outcome::Cut || outcome == PowerCut::Outcome::Completed, output.constData());
        Storage::init();
        QVERIFY2(db.dump() == clean, qPrintable(QStringLiteral("cut after statement %1").arg(n)));
        Storage::destroy();
        db.closeConnection();
        if (outcome == PowerCut::Outcome::Completed)
            break;
        ++cuts;
    }
    // Cuts after the empty file (the first begin), at each of createDb's 18
    // statements and at each of the 21 of the schema check.
    QVERIFY2(cuts >= 39, qPrintable(QString::number(cuts)));
}

// A file of an earlier version works unchanged and gains, at its first
// start, the indexes, incremental vacuum and the write-ahead log; a later
// start finds nothing more to do.
void TestStorageSchema::earlierFile_gainsIndexesAndKeepsData()
{
    StorageFixture db(false);
    makeEarlierFile(db, 300);
    const QString before = db.dump();
    QVERIFY(indexesOf(db).isEmpty());
    db.closeConnection();

    Storage::init();
    QCOMPARE(db.dump(), before);
    QCOMPARE(indexesOf(db), kIndexes);
    QCOMPARE(db.value(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    QCOMPARE(db.value(QStringLiteral("PRAGMA auto_vacuum")).toInt(), 2);
    QCOMPARE(db.value(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
    // The program reads it through the new indexes.
    QVERIFY(Storage::instance()->findRecordByEring(QStringLiteral("E299")));
    QCOMPARE(Storage::instance()->getBackedPigeonCount(QStringLiteral("R1")), 100);

    const quint64 statements = Storage::statementCount();
    Storage::destroy();
    Storage::init();
    QCOMPARE(db.dump(), before);
    // The check and repair of every start plus the two settings' look-ups:
    // no second vacuum.
    QVERIFY2(Storage::statementCount() - statements < 30,
             qPrintable(QString::number(Storage::statementCount() - statements)));
}

// A power cut at any instant of that first start leaves the data as it was,
// and the start after it completes the upgrade.
void TestStorageSchema::powerCutDuringUpgrade_dataKept()
{
    StorageFixture db(false);
    makeEarlierFile(db, 100);
    const QString before = db.dump();
    const QString copy = db.root().root() + QStringLiteral("/earlier.db3");
    QVERIFY(db.saveCopy(copy));
    int cuts = 0;
    for (int n = 1; n <= PowerCut::kMaxStatements; ++n) {
        QVERIFY(db.restoreCopy(copy));
        QByteArray output;
        const PowerCut::Outcome outcome = PowerCut::run(QStringLiteral("init"), n, &output);
        QVERIFY2(outcome == PowerCut::Outcome::Cut || outcome == PowerCut::Outcome::Completed, output.constData());
        const QString where = QStringLiteral("cut after statement %1").arg(n);
        QVERIFY2(db.dump() == before, qPrintable(where));
        Storage::init();
        QVERIFY2(db.dump() == before, qPrintable(where));
        QVERIFY2(indexesOf(db) == kIndexes, qPrintable(where));
        QVERIFY2(db.value(QStringLiteral("PRAGMA auto_vacuum")).toInt() == 2, qPrintable(where));
        QVERIFY2(db.value(QStringLiteral("PRAGMA journal_mode")).toString() == QLatin1String("wal"), qPrintable(where));
        Storage::destroy();
        db.closeConnection();
        if (outcome == PowerCut::Outcome::Completed)
            break;
        ++cuts;
    }
    // Within the schema check, at the vacuum and at the switch of the journal.
    QVERIFY2(cuts >= 20, qPrintable(QString::number(cuts)));
}

void TestStorageSchema::brokenFile_isRepaired_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("extraRows"); // rows expected beyond a clean first start

    QTest::newRow("0-byte file") << QStringList() << QStringList();
    QTest::newRow("only APPPARAMS")
        << QStringList{kSchema[0], QStringLiteral("insert into APPPARAMS values('k','v')")}
        << QStringList{QStringLiteral("APPPARAMS k v")};
    QTest::newRow("pigeons, no Record table")
        << QStringList{kSchema[2], QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('A1','E1')"),
                       QStringLiteral("insert into Pigeon(AssocNum) values('B2')")}
        << QStringList{QStringLiteral("Pigeon A1 E1"), QStringLiteral("Pigeon B2 "), QStringLiteral("Record A1 E1"),
                       QStringLiteral("Record B2 ")};
    QTest::newRow("no APPPARAMS")
        << QStringList{kSchema[1], QStringLiteral("insert into LOFTINFO(id,Apn,TimeZone) values(1,'',28800)"),
                       kSchema[2], kSchema[3], kSchema[4], kSchema[5],
                       QStringLiteral("insert into Phone(id,phonecode) values(0,'')"),
                       QStringLiteral("insert into Phone(id,phonecode) values(1,'')"),
                       QStringLiteral("insert into Phone(id,phonecode) values(2,'')"),
                       QStringLiteral("insert into Phone(id,phonecode) values(3,'')"),
                       QStringLiteral("insert into Phone(id,phonecode) values(4,'')"), kSchema[6], kSchema[7],
                       QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('A1','E1')"),
                       QStringLiteral("insert into Record(AssocNum,EringNum) values('A1','E1')")}
        << QStringList{QStringLiteral("Pigeon A1 E1"), QStringLiteral("Record A1 E1")};
}

void TestStorageSchema::brokenFile_isRepaired()
{
    QFETCH(QStringList, setup);
    QFETCH(QStringList, extraRows);
    StorageFixture db(false);
    QFile(QLatin1String(Storage::kDatabaseFile)).open(QIODevice::WriteOnly);
    for (const QString &sql : setup)
        QVERIFY(db.exec(sql));
    Storage::init();

    // Every table with its fixed definition, in the order a first start makes them.
    QStringList names;
    for (const QVariantList &r : db.rows(QStringLiteral("select name from sqlite_master where type='table'")))
        names << r.value(0).toString();
    QStringList expectedNames = kTableNames;
    names.sort();
    expectedNames.sort();
    QCOMPARE(names, expectedNames);
    QCOMPARE(db.value(QStringLiteral("select count(*) from LOFTINFO where id=1 and TimeZone=28800")).toInt(), 1);
    QCOMPARE(db.value(QStringLiteral("select group_concat(id) from Phone")).toString(), QStringLiteral("0,1,2,3,4"));
    QStringList rows;
    for (const QVariantList &r : db.rows(QStringLiteral("select 'APPPARAMS', id, val from APPPARAMS")))
        rows << QStringLiteral("%1 %2 %3").arg(r[0].toString(), r[1].toString(), r[2].toString());
    for (const QString &table : {QStringLiteral("Pigeon"), QStringLiteral("Record")}) {
        for (const QVariantList &r :
             db.rows(QStringLiteral("select '%1', AssocNum, EringNum from %1 order by AssocNum").arg(table)))
            rows << QStringLiteral("%1 %2 %3").arg(r[0].toString(), r[1].toString(), r[2].toString());
    }
    QCOMPARE(rows, extraRows);
    // A repaired record has its pigeon's numbers and every other column at its default.
    QCOMPARE(db.value(QStringLiteral("select count(*) from Record where RaceCode<>'' or MarkTime<>0 or "
                                     "BackTimeEring<>0 or UidMarked is not null or MarkAuthKey is not null"))
                 .toInt(),
             0);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Log")).toInt(), 0);
}

void TestStorageSchema::garbageFile_raisesAndStaysUnchanged()
{
    StorageFixture db(false);
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + 13) & 0xFF);
    {
        QFile file{QLatin1String(Storage::kDatabaseFile)};
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    try {
        Storage::init();
        QFAIL("init succeeded on a file that is no database");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorType(), 0x11000000);
        QCOMPARE(e.getErrorCode(), 0x1100001A); // SQLITE_NOTADB
    }
    QFile file{QLatin1String(Storage::kDatabaseFile)};
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), garbage);
    QVERIFY(!fileExists(QLatin1String(Storage::kJournalFile)));
}

void TestStorageSchema::repair_resetsOrphansAndKeepsTheRest()
{
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode) values('R1')")));
    const QString marked =
        QStringLiteral("insert into Record(AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,"
                       "GpsValid,GpsOnLine,NeedSms,SmsSendState,UidUploadState,EringUploadState,BackOrder,"
                       "BackTimeEring,BackTimeUid,BackHomeLat,BackHomeLon,MarkReaderId,MarkAuthKey,MarkTime,"
                       "BackPrintReaderId,BackPrintAuthKey,MarkPrintFlag,BackPrintFlag) values('%1',%2,'U1','E%1',"
                       "7,'U2',8,1,1,1,1,1,1,3,1000,1001,5,6,'RD','AK',%3,'BR','BA',1,1)");
    QVERIFY(db.exec(marked.arg(QStringLiteral("A"), QStringLiteral("'R1'"), QStringLiteral("900"))));   // live race
    QVERIFY(db.exec(marked.arg(QStringLiteral("B"), QStringLiteral("'GONE'"), QStringLiteral("900")))); // deleted
    QVERIFY(db.exec(marked.arg(QStringLiteral("C"), QStringLiteral("NULL"), QStringLiteral("900"))));   // no race
    QVERIFY(db.exec(marked.arg(QStringLiteral("D"), QStringLiteral("'GONE'"), QStringLiteral("0"))));   // unmarked
    QVERIFY(db.exec(QStringLiteral("insert into Nomination(Id,AssocNum,RaceCode,Nom) values(null,'A','R1',1)")));
    QVERIFY(db.exec(QStringLiteral("insert into Nomination(Id,AssocNum,RaceCode,Nom) values(null,'B','GONE',2)")));
    for (const char *id : {"A", "B", "C", "D"})
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','E%1')").arg(QLatin1String(id))));

    Storage::destroy();
    Storage::init();

    const QString columns = QStringLiteral(
        "select AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,GpsValid,GpsOnLine,NeedSms,"
        "SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,BackTimeUid,BackHomeLat,BackHomeLon,"
        "MarkReaderId,MarkAuthKey,MarkTime,BackPrintReaderId,BackPrintAuthKey,MarkPrintFlag,BackPrintFlag from Record "
        "order by AssocNum");
    QStringList rows;
    for (const QVariantList &r : db.rows(columns)) {
        QStringList cells;
        for (const QVariant &v : r)
            cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        rows << cells.join(QLatin1Char(','));
    }
    const QStringList expected{
        QStringLiteral("A,R1,U1,EA,7,U2,8,1,1,1,1,1,1,3,1000,1001,5,6,RD,AK,900,BR,BA,1,1"),
        // Reset: race, uids, arrival, states, reader and mark time; the
        // marking random number, auth key and print columns stay.
        QStringLiteral("B,,,EB,7,,0,0,0,0,0,0,0,0,0,0,0,0,,AK,0,BR,BA,1,1"),
        QStringLiteral("C,,,EC,7,,0,0,0,0,0,0,0,0,0,0,0,0,,AK,0,BR,BA,1,1"),
        QStringLiteral("D,GONE,U1,ED,7,U2,8,1,1,1,1,1,1,3,1000,1001,5,6,RD,AK,0,BR,BA,1,1"),
    };
    QCOMPARE(rows, expected);
    QCOMPARE(db.value(QStringLiteral("select group_concat(RaceCode) from Nomination")).toString(),
             QStringLiteral("R1"));
}

BRELLIUM_POWERCUT_TEST_MAIN(TestStorageSchema, dispatch)
#include "tst_storage_schema.moc"
