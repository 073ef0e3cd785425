#include "storage/storage.h"

#include "core/vexexception.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/storagerow.h"

// The arrival records: one row per pigeon with its basketing and arrival data
// and its SMS and upload states. Arrivals are written here from the service
// thread while screens, uploads and the club link read.

namespace {

const char kSelectRecords[] =
    "select AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,GpsValid,GpsOnLine,NeedSms,"
    "SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,BackTimeUid,BackHomeLat,BackHomeLon,"
    "MarkReaderId,MarkAuthKey,MarkTime from record";
const char kCountRecords[] = "select count(*) from record";
// MarkTime is written on insert too: a basketing stored through the insert
// path must read back as basketed, or its arrival would later be dropped.
const char kInsertRecord[] =
    "insert into record(AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,GpsValid,GpsOnLine,"
    "NeedSms,SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,BackTimeUid,BackHomeLat,BackHomeLon,"
    "MarkReaderId,MarkTime) values(:AssocNum,:RaceCode,:UidMarked,:EringNum,:RandNumMarked,:UidBack,:RandNumberBack,"
    ":GpsValid,:GpsOnLine,:NeedSms,:SmsSendState,:UidUploadState,:EringUploadState,:BackOrder,:BackTimeEring,"
    ":BackTimeUid,:BackHomeLat,:BackHomeLon,:MarkReaderId,:MarkTime) ";
const char kUpdateRecord[] =
    "update record  set RaceCode=:RaceCode,UidMarked=:UidMarked,EringNum=:EringNum,RandNumMarked=:RandNumMarked,"
    "UidBack=:UidBack,RandNumberBack=:RandNumberBack,GpsValid=:GpsValid,GpsOnLine=:GpsOnLine,NeedSms=:NeedSms,"
    "SmsSendState=:SmsSendState,UidUploadState=:UidUploadState,EringUploadState=:EringUploadState,"
    "BackOrder=:BackOrder,BackTimeEring=:BackTimeEring,BackTimeUid=:BackTimeUid,BackHomeLat=:BackHomeLat,"
    "BackHomeLon=:BackHomeLon,MarkReaderId=:MarkReaderId,MarkTime=:MarkTime where AssocNum=:AssocNum";
const char kResetRaceSet[] =
    "UidBack='',RandNumberBack=0,GpsValid=0,GpsOnLine=0,NeedSms=0,SmsSendState=0,UidUploadState=0,"
    "EringUploadState=0,BackOrder=0,BackTimeEring=0,BackTimeUid=0,BackHomeLat=0,BackHomeLon=0,MarkTime=0 ";
const char kTrainRace[] = "train";



QList<QPair<QString, QVariant>> recordBindings(const PigeonRecord *r)
{
    return {
        {QStringLiteral(":AssocNum"), r->assocNum},
        {QStringLiteral(":RaceCode"), r->raceCode},
        {QStringLiteral(":UidMarked"), r->uidMarked},
        // NOT NULL: a record without the field is stored without a ring.
        {QStringLiteral(":EringNum"), r->eringNum.isNull() ? QStringLiteral("") : r->eringNum},
        {QStringLiteral(":RandNumMarked"), r->randNumMarked},
        {QStringLiteral(":UidBack"), r->uidBack},
        {QStringLiteral(":RandNumberBack"), r->randNumberBack},
        {QStringLiteral(":GpsValid"), r->gpsValid ? 1 : 0},
        {QStringLiteral(":GpsOnLine"), r->gpsOnLine ? 1 : 0},
        {QStringLiteral(":NeedSms"), r->needSms ? 1 : 0},
        {QStringLiteral(":SmsSendState"), r->smsSendState ? 1 : 0},
        {QStringLiteral(":UidUploadState"), r->uidUploadState ? 1 : 0},
        {QStringLiteral(":EringUploadState"), r->eringUploadState ? 1 : 0},
        {QStringLiteral(":BackOrder"), r->backOrder},
        {QStringLiteral(":BackTimeEring"), r->backTimeEring},
        {QStringLiteral(":BackTimeUid"), r->backTimeUid},
        {QStringLiteral(":BackHomeLat"), r->backHomeLat},
        {QStringLiteral(":BackHomeLon"), r->backHomeLon},
        {QStringLiteral(":MarkReaderId"), r->markReaderId},
        {QStringLiteral(":MarkTime"), r->markTime},
    };
}

PigeonRecord trainingRecord(const PigeonInfo *pigeon)
{
    PigeonRecord record;
    record.assocNum = pigeon->assocNum;
    record.eringNum = pigeon->eringNum;
    record.raceCode = QLatin1String(kTrainRace);
    return record;
}

} // namespace

void Storage::_fetch(const StorageRow &row, PigeonRecord *record)
{
    record->assocNum = row.text(0);
    record->raceCode = row.text(1);
    record->uidMarked = row.text(2);
    record->eringNum = row.text(3);
    record->randNumMarked = row.int32(4);
    record->uidBack = row.text(5);
    record->randNumberBack = row.int32(6);
    record->gpsValid = row.flag(7);
    record->gpsOnLine = row.flag(8);
    record->needSms = row.flag(9);
    record->smsSendState = row.flag(10);
    record->uidUploadState = row.flag(11);
    record->eringUploadState = row.flag(12);
    record->backOrder = row.int32(13);
    record->backTimeEring = row.int64(14);
    record->backTimeUid = row.int64(15);
    record->backHomeLat = row.int32(16);
    record->backHomeLon = row.int32(17);
    record->markReaderId = row.text(18);
    record->markAuthKey = row.text(19);
    record->markTime = row.int64(20);
    record->markOrder = 0;
}

QList<QSharedPointer<PigeonRecord>> Storage::selectRecords(const QString &clause, const Bindings &bindings,
                                                           const QString &order)
{
    QString sql = QLatin1String(kSelectRecords);
    if (!clause.isEmpty())
        sql += QStringLiteral(" where ") + clause;
    if (!order.isEmpty())
        sql += QStringLiteral(" order by ") + order;
    QList<QSharedPointer<PigeonRecord>> records;
    readRows(sql, bindings, [&records](const StorageRow &row) {
        auto record = QSharedPointer<PigeonRecord>::create();
        _fetch(row, record.data());
        records.append(record);
    });
    return records;
}

QList<QSharedPointer<PigeonRecord>> Storage::queryRecords(const QString &where, const QString &order)
{
    return selectRecords(where, {}, order);
}

int Storage::queryRecordsCount(const QString &where)
{
    QString sql = QLatin1String(kCountRecords);
    if (!where.isEmpty())
        sql += QStringLiteral(" where ") + where;
    return count(sql);
}

QList<QSharedPointer<PigeonRecord>> Storage::findRecordsByRaceCode(const QString &raceCode, const QString &order)
{
    return selectRecords(QStringLiteral("raceCode=:raceCode AND markTime<>0 "),
                         {{QStringLiteral(":raceCode"), raceCode}}, order);
}

int Storage::getMarkedPigeonCount()
{
    return count(QLatin1String(kCountRecords) + QStringLiteral(" where markTime<>0"));
}

int Storage::getMarkedPigeonCount(const QString &raceCode)
{
    return count(QLatin1String(kCountRecords) + QStringLiteral(" where markTime<>0 AND raceCode=:raceCode"),
                 {{QStringLiteral(":raceCode"), raceCode}});
}

int Storage::getBackedPigeonCount(const QString &raceCode)
{
    return count(QLatin1String(kCountRecords) + QStringLiteral(" where backTimeEring<>0 AND raceCode=:raceCode"),
                 {{QStringLiteral(":raceCode"), raceCode}});
}

QList<qint64> Storage::queryMarkTimes(const QString &raceCode)
{
    QList<qint64> times;
    readRows(QStringLiteral("select MarkTime from record where raceCode=:raceCode AND markTime>0 order by MarkTime"),
             {{QStringLiteral(":raceCode"), raceCode}}, [&times](const StorageRow &row) { times.append(row.int64(0)); });
    return times;
}

QSharedPointer<PigeonRecord> Storage::findRecordById(const QString &assocNum)
{
    const auto records =
        selectRecords(QStringLiteral("assocNum=:assocNum"), {{QStringLiteral(":assocNum"), assocNum}}, QString());
    return records.isEmpty() ? QSharedPointer<PigeonRecord>() : records.first();
}

QSharedPointer<PigeonRecord> Storage::findRecordByEring(const QString &eringNum)
{
    const auto records =
        selectRecords(QStringLiteral("eringNum=:eringNum"), {{QStringLiteral(":eringNum"), eringNum}}, QString());
    return records.isEmpty() ? QSharedPointer<PigeonRecord>() : records.first();
}

void Storage::_insertRecord(const PigeonRecord *record)
{
    run(QLatin1String(kInsertRecord), recordBindings(record));
}

void Storage::_updateRecord(const PigeonRecord *record)
{
    run(QLatin1String(kUpdateRecord), recordBindings(record));
}

void Storage::_modifyRecords(const QString &set, const QString &where)
{
    QString sql = QStringLiteral("update record  set ") + set;
    if (!where.trimmed().isEmpty())
        sql += QStringLiteral(" where ") + where;
    run(sql);
}

void Storage::_deleteRecord(const QString &assocNum)
{
    run(QStringLiteral("delete from record where AssocNum=:AssocNum"), {{QStringLiteral(":AssocNum"), assocNum}});
}

void Storage::upsertRecord(const PigeonRecord *record)
{
    if (findRecordById(record->assocNum))
        _updateRecord(record);
    else
        _insertRecord(record);
}

void Storage::saveRecord(const PigeonRecord *record)
{
    upsertRecord(record);
}

void Storage::savePigeonRecord(const PigeonInfo *pigeon, const PigeonRecord *record)
{
    inTransaction(
        [&] {
            upsertRecord(record);
            _updatePigeon(pigeon);
        },
        QStringLiteral("Update pigeon failed!"));
}

void Storage::modifyRecords(const QString &set, const QString &where)
{
    _modifyRecords(set, where);
}

int Storage::markRecordUploaded(const QString &assocNum, qint64 backTimeEring, qint64 backTimeUid)
{
    QStringList set;
    if (backTimeEring != 0)
        set << QStringLiteral("EringUploadState=1");
    if (backTimeUid != 0)
        set << QStringLiteral("UidUploadState=1");
    if (set.isEmpty())
        return 0;
    QString sql = QStringLiteral("update record set ") + set.join(QLatin1Char(','))
        + QStringLiteral(" where AssocNum=:AssocNum AND BackTimeEring=:BackTimeEring");
    Bindings bindings{{QStringLiteral(":AssocNum"), assocNum}, {QStringLiteral(":BackTimeEring"), backTimeEring}};
    // A uid time that was not sent is no condition: one completed meanwhile
    // stays unsent and goes with the next upload.
    if (backTimeUid != 0) {
        sql += QStringLiteral(" AND BackTimeUid=:BackTimeUid");
        bindings.append({QStringLiteral(":BackTimeUid"), backTimeUid});
    }
    return run(sql, bindings);
}

void Storage::resetRaceRecords(const QString &raceCode)
{
    // Bound: a race code from the PC holding a quote must clear that race
    // only, never every race.
    run(QStringLiteral("update record  set ") + QLatin1String(kResetRaceSet)
            + QStringLiteral(" where RaceCode=:raceCode AND markTime<>0 "),
        {{QStringLiteral(":raceCode"), raceCode}});
}

void Storage::resetTrainRecords()
{
    // One transaction: a failure or cut must not leave part of the loft with
    // the last flight's arrivals while the new flight is already set.
    inTransaction(
        [&] {
            const auto pigeons = queryPigeons(QStringLiteral("EringNum<>''"));
            for (const auto &pigeon : pigeons) {
                const QSharedPointer<PigeonRecord> current = findRecordById(pigeon->assocNum);
                const PigeonRecord fresh = trainingRecord(pigeon.data());
                if (!current)
                    _insertRecord(&fresh);
                else if (current->markTime == 0)
                    _updateRecord(&fresh);
                // A pigeon basketed for a race keeps its record.
            }
        },
        QStringLiteral("Commit failed!"));
}
