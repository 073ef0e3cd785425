#include "storage/storage.h"

#include "core/utc.h"
#include "core/vexexception.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/storagerow.h"

#include <QSqlQuery>

// The loft row and the pigeon register, kept in step with each pigeon's one
// arrival record.

namespace {

const char kSelectLoft[] =
    "select Id,LoftNum,OwnerName,Street,City,PostCode,PhoneNo,Email,LoftLon,LoftLat,ClubCode,ClubName,ClubStreet,"
    "ClubCity,ClubPostCode,AssocCode,HostIp,HostPath,Apn,notifyMode,uploadMode,UploadInterval,Validate,Password,"
    "Language,TimeZone,HostSmsCode,VoiceMode from LOFTINFO where Id=1";
const char kInsertLoftRow[] = "insert into LOFTINFO(id) values(1)";
const char kUpdateLoft[] =
    "update LOFTINFO set OwnerName=:OwnerName,Street=:Street,City=:City,PostCode=:PostCode,PhoneNo=:PhoneNo,"
    "Email=:Email,LoftLon=:LoftLon,LoftLat=:LoftLat,ClubCode=:ClubCode,ClubName=:ClubName,ClubStreet=:ClubStreet,"
    "ClubCity=:ClubCity,ClubPostCode=:ClubPostCode,AssocCode=:AssocCode,HostIp=:HostIp,HostPath=:HostPath,Apn=:Apn,"
    "NotifyMode=:NotifyMode,UploadMode=:UploadMode,UploadInterval=:UploadInterval,Validate=:Validate,"
    "Language=:Language,TimeZone=:TimeZone,HostSmsCode=:HostSmsCode,VoiceMode=:VoiceMode where Id=1";
const char *const kFormatDeletes[] = {"delete from LOFTINFO", "delete from PIGEON", "delete from RACE",
                                      "delete from RECORD",   "delete from PHONE",  "delete from Nomination"};
const char kInsertFormattedLoft[] = "insert into LOFTINFO(id,LoftNum,Password) values(1,:LoftNum,:Password)";

const char kSelectPigeons[] =
    "select AssocNum,Uid, EringNum, Valid, Test, AssocCode, Color,Year, Sex, RegNum, UpdateTime from pigeon ";
const char kInsertPigeon[] =
    "insert into pigeon(AssocNum,Uid, EringNum, Valid, Test, AssocCode, Color,Year, Sex, RegNum, UpdateTime) "
    "values(:AssocNum,:Uid,:EringNum, :Valid, :Test, :AssocCode, :Color,:Year, :Sex, :RegNum, :UpdateTime)";
const char kUpdatePigeon[] =
    "update pigeon set Uid=:Uid, EringNum=:EringNum,Valid=:Valid, Test=:Test, AssocCode=:AssocCode, Color=:Color,"
    "Year=:Year, Sex=:Sex, RegNum=:RegNum, UpdateTime=:UpdateTime where AssocNum=:AssocNum";


// EringNum is NOT NULL: a pigeon without the field (a PC request that left
// it out) is stored without a ring instead of failing.
QString ringOf(const QString &eringNum)
{
    return eringNum.isNull() ? QStringLiteral("") : eringNum;
}

} // namespace

void Storage::readLoftInfo(LoftInfo *info)
{
    info->init();
    bool found = false;
    run(QLatin1String(kSelectLoft), {}, [info, &found](const QSqlQuery &q) {
        if (found)
            return;
        found = true;
        info->loftNum = textAt(q, 1);
        info->ownerName = textAt(q, 2);
        info->street = textAt(q, 3);
        info->city = textAt(q, 4);
        info->postCode = textAt(q, 5);
        info->phoneNo = textAt(q, 6);
        info->email = textAt(q, 7);
        info->loftLon = textAt(q, 8);
        info->loftLat = textAt(q, 9);
        info->clubCode = textAt(q, 10);
        info->clubName = textAt(q, 11);
        info->clubStreet = textAt(q, 12);
        info->clubCity = textAt(q, 13);
        info->clubPostCode = textAt(q, 14);
        info->assocCode = textAt(q, 15);
        info->hostIp = textAt(q, 16);
        info->hostPath = textAt(q, 17);
        info->apn = textAt(q, 18);
        info->notifyMode = q.value(19).toInt();
        info->uploadMode = q.value(20).toInt();
        info->uploadInterval = q.value(21).toUInt();
        info->validate = q.value(22).toLongLong();
        info->password = textAt(q, 23);
        info->language = textAt(q, 24);
        info->timeZone = q.value(25).toInt();
        info->hostSmsCode = textAt(q, 26);
        info->voiceMode = q.value(27).toInt();
    });
    if (found)
        return;
    // The row is made with the table's defaults; the caller keeps the
    // record's own defaults until the next read.
    try {
        run(QLatin1String(kInsertLoftRow));
    } catch (const DBException &) {
    }
}

void Storage::saveLoftInfo(const LoftInfo *info)
{
    const Bindings bindings{
        {QStringLiteral(":OwnerName"), info->ownerName},
        {QStringLiteral(":Street"), info->street},
        {QStringLiteral(":City"), info->city},
        {QStringLiteral(":PostCode"), info->postCode},
        {QStringLiteral(":PhoneNo"), info->phoneNo},
        {QStringLiteral(":Email"), info->email},
        {QStringLiteral(":LoftLon"), info->loftLon},
        {QStringLiteral(":LoftLat"), info->loftLat},
        {QStringLiteral(":ClubCode"), info->clubCode},
        {QStringLiteral(":ClubName"), info->clubName},
        {QStringLiteral(":ClubStreet"), info->clubStreet},
        {QStringLiteral(":ClubCity"), info->clubCity},
        {QStringLiteral(":ClubPostCode"), info->clubPostCode},
        {QStringLiteral(":AssocCode"), info->assocCode},
        {QStringLiteral(":HostIp"), info->hostIp},
        {QStringLiteral(":HostPath"), info->hostPath},
        {QStringLiteral(":Apn"), info->apn},
        {QStringLiteral(":NotifyMode"), info->notifyMode},
        {QStringLiteral(":UploadMode"), info->uploadMode},
        {QStringLiteral(":UploadInterval"), info->uploadInterval},
        {QStringLiteral(":Validate"), info->validate},
        {QStringLiteral(":Language"), info->language},
        {QStringLiteral(":TimeZone"), info->timeZone},
        {QStringLiteral(":HostSmsCode"), info->hostSmsCode},
        {QStringLiteral(":VoiceMode"), info->voiceMode},
    };
    if (run(QLatin1String(kUpdateLoft), bindings) > 0)
        return;
    // Row 1 is gone: make it as readLoftInfo would, so the settings the
    // caller was told are saved really are.
    inTransaction(
        [&] {
            run(QLatin1String(kInsertLoftRow));
            run(QLatin1String(kUpdateLoft), bindings);
        },
        QStringLiteral("Commit failed!"));
}

void Storage::formatDevice(const QString &loftNum, const QString &password)
{
    if (loftNum.isEmpty())
        throw DBException(0, QStringLiteral("Loft Number is empty!"), QString());
    // One transaction: a cut between the deletes must not leave records
    // without pigeons, which would make adding such a pigeon again fail.
    inTransaction(
        [&] {
            for (const char *sql : kFormatDeletes)
                run(QLatin1String(sql));
            run(QLatin1String(kInsertFormattedLoft),
                {{QStringLiteral(":LoftNum"), loftNum}, {QStringLiteral(":Password"), password}});
        },
        QStringLiteral("Commit failed!"));
}

void Storage::_fetch(const StorageRow &row, PigeonInfo *pigeon)
{
    pigeon->assocNum = row.text(0);
    pigeon->uid = row.text(1);
    pigeon->eringNum = row.text(2);
    pigeon->valid = row.flag(3);
    pigeon->test = row.flag(4);
    pigeon->assocCode = row.text(5);
    pigeon->color = row.text(6);
    pigeon->year = row.int32(7);
    pigeon->sex = row.int32(8);
    pigeon->regNum = row.text(9);
    pigeon->updateTime = row.int64(10);
}

QList<QSharedPointer<PigeonInfo>> Storage::selectPigeons(const QString &clause, const Bindings &bindings)
{
    QString sql = QLatin1String(kSelectPigeons);
    if (!clause.isEmpty())
        sql += QStringLiteral(" where ") + clause;
    sql += QStringLiteral(" order by AssocNum");
    QList<QSharedPointer<PigeonInfo>> pigeons;
    readRows(sql, bindings, [&pigeons](const StorageRow &row) {
        auto pigeon = QSharedPointer<PigeonInfo>::create();
        _fetch(row, pigeon.data());
        pigeons.append(pigeon);
    });
    return pigeons;
}

QList<QSharedPointer<PigeonInfo>> Storage::queryPigeons(const QString &where)
{
    return selectPigeons(where, {});
}

QSharedPointer<PigeonInfo> Storage::findPigeonById(const QString &assocNum)
{
    const auto pigeons = selectPigeons(QStringLiteral("AssocNum=:assocNum"), {{QStringLiteral(":assocNum"), assocNum}});
    return pigeons.isEmpty() ? QSharedPointer<PigeonInfo>() : pigeons.first();
}

QString Storage::findPigeonIdByEringNum(const QString &eringNum)
{
    QString assocNum;
    run(QStringLiteral("select AssocNum from pigeon where EringNum=:eringNum"),
        {{QStringLiteral(":eringNum"), eringNum}}, [&assocNum](const QSqlQuery &q) {
            if (assocNum.isNull())
                assocNum = textAt(q, 0);
        });
    return assocNum;
}

bool Storage::checkDuplicateEringNum(const QString &assocNum, const QString &eringNum)
{
    bool found = false;
    run(QStringLiteral("select AssocNum from pigeon where AssocNum<>:assocNum and EringNum=:eringNum order by AssocNum"),
        {{QStringLiteral(":assocNum"), assocNum}, {QStringLiteral(":eringNum"), eringNum}},
        [&found](const QSqlQuery &) { found = true; });
    return found;
}

namespace {

QList<QPair<QString, QVariant>> pigeonBindings(const PigeonInfo *p)
{
    return {
        {QStringLiteral(":AssocNum"), p->assocNum},
        {QStringLiteral(":Uid"), p->uid},
        {QStringLiteral(":EringNum"), ringOf(p->eringNum)},
        {QStringLiteral(":Valid"), 1}, // a pigeon written is a valid one
        {QStringLiteral(":Test"), p->test ? 1 : 0},
        {QStringLiteral(":AssocCode"), p->assocCode},
        {QStringLiteral(":Color"), p->color},
        {QStringLiteral(":Year"), p->year},
        {QStringLiteral(":Sex"), p->sex},
        {QStringLiteral(":RegNum"), p->regNum},
        {QStringLiteral(":UpdateTime"), p->updateTime},
    };
}

} // namespace

void Storage::_insertPigeon(const PigeonInfo *pigeon)
{
    run(QLatin1String(kInsertPigeon), pigeonBindings(pigeon));
}

void Storage::_updatePigeon(const PigeonInfo *pigeon)
{
    run(QLatin1String(kUpdatePigeon), pigeonBindings(pigeon));
}

void Storage::_deletePigeon(const QString &assocNum)
{
    run(QStringLiteral("delete from pigeon where AssocNum=:AssocNum"), {{QStringLiteral(":AssocNum"), assocNum}});
}

void Storage::savePigeon(const PigeonInfo *pigeon)
{
    if (!pigeon->eringNum.isEmpty() && checkDuplicateEringNum(pigeon->assocNum, pigeon->eringNum))
        throw DBException(0, QStringLiteral("Duplicate ering Number!"), QString());
    inTransaction(
        [&] {
            if (findPigeonById(pigeon->assocNum)) {
                // The record stays as it is, even when the ring changed.
                _updatePigeon(pigeon);
                return;
            }
            _insertPigeon(pigeon);
            PigeonRecord record;
            record.assocNum = pigeon->assocNum;
            record.eringNum = ringOf(pigeon->eringNum);
            _insertRecord(&record);
        },
        QStringLiteral("Save pigeon failed!"));
}

void Storage::deletePigeon(const QString &assocNum)
{
    inTransaction(
        [&] {
            _deletePigeon(assocNum);
            _deleteRecord(assocNum);
        },
        QStringLiteral("Delete pigeon failed!"));
}

QSharedPointer<PigeonInfo> Storage::assignPigeon(const QString &assocNum, const QString &eringNum, const QString &uid)
{
    QSharedPointer<PigeonInfo> pigeon = findPigeonById(assocNum);
    if (!pigeon)
        throw DBException(0, QStringLiteral("Pigeon not exists!"), QString());
    if (!pigeon->eringNum.isEmpty())
        throw DBException(0, QStringLiteral("Pigeon alread assigned!"), QString());
    pigeon->eringNum = eringNum;
    pigeon->uid = uid;
    pigeon->updateTime = UTC::clubTime().value();
    PigeonRecord record;
    record.assocNum = assocNum;
    record.eringNum = ringOf(eringNum);
    savePigeonRecord(pigeon.data(), &record);
    return pigeon;
}

void Storage::unassignPigeon(const QString &assocNum)
{
    QSharedPointer<PigeonInfo> pigeon = findPigeonById(assocNum);
    if (!pigeon)
        throw DBException(0, QStringLiteral("Pigeon not exists!"), QString());
    pigeon->eringNum = QStringLiteral("");
    pigeon->uid = QString(); // stored as NULL
    pigeon->updateTime = UTC::clubTime().value();
    PigeonRecord record;
    record.assocNum = assocNum;
    savePigeonRecord(pigeon.data(), &record);
}
