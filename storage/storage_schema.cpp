#include "storage/storage.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

// Creating and repairing the schema: the one place where tables are made.

namespace {

struct Table {
    const char *name;
    const char *createSql;
};

// The eight tables in creation order; the statements fix every column order.
const Table kTables[] = {
    {"APPPARAMS",
     "create table APPPARAMS(id varchar(32) PRIMARY KEY NOT NULL,val text)"},
    {"LOFTINFO",
     "create table LOFTINFO(id INTEGER PRIMARY KEY NOT NULL,LoftNum text default '',OwnerName text,Street text,City text,PostCode varchar(32),PhoneNo varchar(32),Email varchar(64),LoftLon  varchar(64),LoftLat  varchar(64),ClubCode varchar(64),ClubName text,ClubStreet text,ClubCity text,ClubPostCode varchar(64),AssocCode varchar(64),HostIp varchar(64),HostPath varchar(64),HostSmsCode varchar(32),Apn varchar(16),NotifyMode int default 0,UploadMode int default 0,UploadInterval int default 20000,Validate BIGINT default 0,Password varchar(8),Language varchar(32) default 'EN',TimeZone int default 0,VoiceMode int default 100,PI0 int default 0,PI1 int default 0,PI2 int default 0,PS0 text,PS1 text,PS2 text)"},
    {"Pigeon",
     "create table Pigeon(AssocNum varchar(64) PRIMARY KEY NOT NULL,EringNum varchar(8) NOT NULL default '',Uid varchar(8),Valid int default 1,Test int default 0,AssocCode varchar(64),Color text,Year int,Sex int default 2,RegNum varchar(64),UpdateTime BIGINT default 0)"},
    {"Race",
     "create table Race(RaceCode varchar(16) PRIMARY KEY NOT NULL,RaceName text,LiberCode varchar(16),LiberTime BIGINT default 0,LiberName text,LiberLon varchar(64),LiberLat varchar(64),Valid int default 1,ClubCode varchar(16),AssocCode varchar(64),MarkReaderId varchar(32),MarkAuthKey varchar(32),MarkDeviceTime BIGINT default 0,MarkReaderTime BIGINT default 0,MarkPrintFlag int default 0,BackPrintReaderId varchar(64),BackPrintAuthKey varchar(64),BackPrintFlag int  default 0,RaceStopReaderTime BIGINT default 0,RaceStopDeviceTime BIGINT default 0,PrintCount int default 0,OtherData text)"},
    {"Record",
     "create table Record(AssocNum varchar(64) PRIMARY KEY NOT NULL,RaceCode varchar(16) default '',UidMarked varchar(8),EringNum varchar(8) NOT NULL default '',RandNumMarked int default 0,UidBack varchar(8),RandNumberBack int default 0,GpsValid int  default 0,GpsOnLine int default 0,NeedSms int default 0,SmsSendState int default 0,UidUploadState int default 0,EringUploadState int default 0,BackOrder int default 0,BackTimeEring BIGINT default 0,BackTimeUid BIGINT default 0,BackHomeLat int,BackHomeLon int,MarkReaderId varchar(64),MarkAuthKey varchar(64),MarkTime BIGINT default 0,BackPrintReaderId varchar(64),BackPrintAuthKey varchar(64),MarkPrintFlag int,BackPrintFlag int)"},
    {"Phone",
     "create table Phone(id INTEGER PRIMARY KEY NOT NULL,phonecode varchar(32))"},
    {"Log",
     "create table Log(LogId INTEGER PRIMARY KEY ,LogType char,LogTime BIGINT default 0,LogInfo varchar(256))"},
    {"Nomination",
     "create table Nomination(Id INTERGER PRIMARY KEY,AssocNum varchar(64) default '',EringNum varchar(8) NOT NULL default '',RaceCode varchar(16) default '',Nom int default 0)"},
};

// The look-ups and counts that every arrival, the screens, the printed
// lists, the uploads and the PC make, each served by an index instead of a
// pass over the whole loft. Made at every start when missing, so a file of
// an earlier version gains them; its tables and columns stay as they are.
// The arrived indexes hold only the pigeons home (BackTimeEring<>0): the
// arrival order is a count of those, and the arrived lists come in arrival
// order straight from them.
const char *const kIndexes[] = {
    // The ring of every reading; the ring and race checks of basketing.
    "create index if not exists Record_EringNum on Record(EringNum)",
    // A race's basketed pigeons, their count and their marking orders.
    "create index if not exists Record_RaceCode_MarkTime on Record(RaceCode,MarkTime)",
    // A race's records in arrival order, the ones not home first: the race
    // detail screens' list, read in order instead of sorted whole each time.
    "create index if not exists Record_RaceCode_BackTimeEring on Record(RaceCode,BackTimeEring,AssocNum)",
    // A race's arrivals: the order of the next one, the count, the lists.
    "create index if not exists Record_RaceCode_Arrived on Record(RaceCode,BackTimeEring,MarkTime) "
    "where BackTimeEring<>0",
    // Training arrivals (MarkTime 0) and the uploads' unsent arrivals.
    "create index if not exists Record_MarkTime_Arrived on Record(MarkTime,BackTimeEring) where BackTimeEring<>0",
    // The pigeon that carries a ring (assignment, ring test, duplicates).
    "create index if not exists Pigeon_EringNum on Pigeon(EringNum)",
    // A race's nominations, and the nomination screen's join by pigeon.
    "create index if not exists Nomination_RaceCode on Nomination(RaceCode,AssocNum)",
    "create index if not exists Nomination_AssocNum on Nomination(AssocNum)",
    // The race lists' order and their pages.
    "create index if not exists Race_LiberTime on Race(LiberTime,RaceCode)",
};

// A new file: pages the event log's trims free go back to the file system
// (set before the first table, or it takes a VACUUM), and a write-ahead log,
// so that screens read while the engine commits an arrival.
const char kIncrementalVacuum[] = "PRAGMA auto_vacuum=INCREMENTAL";
const char kWriteAheadLog[] = "PRAGMA journal_mode=WAL";
constexpr int kAutoVacuumIncremental = 2;

const char kLoftRow[] = "insert into LOFTINFO(id,Apn,TimeZone) values(1,'',28800)";
const char kPhoneRow[] = "insert into Phone(id,phonecode) values(%1,'')";
constexpr int kPhoneRows = 5;

const char kDropOrphanNominations[] = "delete from Nomination where RaceCode not in (select racecode from Race)";
const char kResetOrphanRecords[] =
    "update record set RaceCode='',UidMarked='',UidBack='',RandNumberBack=0,GpsValid=0,GpsOnLine=0,NeedSms=0,SmsSendState=0,UidUploadState=0,EringUploadState=0,BackOrder=0,BackTimeEring=0,BackTimeUid=0,BackHomeLat=0,BackHomeLon=0,MarkReaderId='',MarkTime=0 where markTime<>0 and ( (RaceCode not in (select racecode from Race)) or RaceCode is null)";
const char kPigeonsWithoutRecord[] = "select AssocNum, EringNum from pigeon where AssocNum not in (select AssocNum from Record) ";
const char kInsertBlankRecord[] = "insert into record(AssocNum,EringNum) values(:AssocNum,:EringNum) ";

} // namespace

bool Storage::findTable(const QString &name)
{
    // Table names are case-blind in SQLite: a table found under another case
    // must count, or the repair would try to create it again and fail.
    return count(QStringLiteral("SELECT COUNT(*) FROM sqlite_master where type='table' and lower(name)=lower(:name)"),
                 {{QStringLiteral(":name"), name}})
        > 0;
}

void Storage::createTables(bool onlyMissing)
{
    for (const Table &table : kTables) {
        const QString name = QLatin1String(table.name);
        if (onlyMissing && findTable(name))
            continue;
        run(QLatin1String(table.createSql));
        if (name == QLatin1String("LOFTINFO")) {
            run(QLatin1String(kLoftRow));
        } else if (name == QLatin1String("Phone")) {
            for (int id = 0; id < kPhoneRows; ++id)
                run(QString::fromLatin1(kPhoneRow).arg(id));
        }
    }
}

void Storage::createIndexes()
{
    for (const char *index : kIndexes)
        run(QLatin1String(index));
}

void Storage::createDb()
{
    try {
        run(QLatin1String(kIncrementalVacuum));
        run(QLatin1String(kWriteAheadLog));
        run(QStringLiteral("BEGIN IMMEDIATE"));
        createTables(false);
        run(QStringLiteral("COMMIT"));
    } catch (const DBException &e) {
        _rollback();
        // No half-made file may stay behind: the next start would take it
        // for a database and never create the tables.
        forgetPrepared();
        QSqlDatabase::database(connectionName, false).close();
        QFile::remove(QLatin1String(kDatabaseFile));
        QFile::remove(QLatin1String(kJournalFile));
        QFile::remove(QLatin1String(kWalFile));
        QFile::remove(QLatin1String(kShmFile));
        throw DBException(e.getErrorCode() & 0xFF, QStringLiteral("create database error!"), QString());
    }
}

void Storage::checkDBSchema()
{
    // The driver's own text when the transaction cannot start: that is where
    // a file that is no database shows, and start-up reports it as it is.
    run(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        try {
            // A first start cut short leaves a file with some tables or
            // none; each missing one is made as a first start makes it.
            createTables(true);
            createIndexes();
        } catch (const DBException &e) {
            throw DBException(e.getErrorCode() & 0xFF, QStringLiteral("create table error!"), QString());
        }
        repairContents();
        run(QStringLiteral("COMMIT"));
    } catch (...) {
        _rollback();
        throw;
    }
}

void Storage::repairContents()
{
    run(QLatin1String(kDropOrphanNominations));
    run(QLatin1String(kResetOrphanRecords));
    QList<QPair<QVariant, QVariant>> orphans;
    run(QLatin1String(kPigeonsWithoutRecord), {}, [&orphans](const QSqlQuery &q) {
        orphans.append({q.value(0), q.value(1)});
    });
    for (const auto &pigeon : orphans) {
        run(QLatin1String(kInsertBlankRecord),
            {{QStringLiteral(":AssocNum"), pigeon.first}, {QStringLiteral(":EringNum"), pigeon.second}});
    }
}

void Storage::upgradeFile()
{
    // Once per file of an earlier version. The vacuum rewrites the whole
    // file in one transaction (a cut leaves the old file), and needs room
    // for a second copy: when that fails the file works on as it is and the
    // next start tries again.
    try {
        if (count(QStringLiteral("PRAGMA auto_vacuum")) != kAutoVacuumIncremental) {
            run(QLatin1String(kIncrementalVacuum));
            run(QStringLiteral("VACUUM"));
        }
    } catch (const DBException &e) {
        ServiceFactory::debug(QStringLiteral("Storage::upgradeFile vacuum failed: ") + e.getErrorMessage());
    }
    // Persistent in the file: every later connection writes ahead too. A file
    // system without shared memory keeps the rollback journal, durable as
    // well, only with readers waiting for writers.
    QString mode;
    try {
        run(QLatin1String(kWriteAheadLog), {}, [&mode](const QSqlQuery &q) { mode = q.value(0).toString(); });
    } catch (const DBException &e) {
        mode = e.getErrorMessage();
    }
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        ServiceFactory::debug(QStringLiteral("Storage::upgradeFile journal mode: ") + mode);
}
