#include "storage/storage.h"

#include "core/jsonwriter.h"
#include "core/vexexception.h"
#include "storage/raceinfo.h"
#include "storage/storagerow.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

// The races: liberation, basketing, stop and print data, with further keyed
// values as a JSON object text. The race engine, the club link and the race
// screens read and save them from their own threads.

namespace {

const char kSelectRaces[] =
    "select RaceCode,RaceName,LiberCode,LiberTime,LiberName,LiberLon,LiberLat,Valid,ClubCode,AssocCode,MarkReaderId,"
    "MarkAuthKey,MarkDeviceTime,MarkReaderTime,BackPrintReaderId,BackPrintAuthKey,RaceStopDeviceTime,"
    "RaceStopReaderTime,BackPrintFlag,MarkPrintFlag,PrintCount,OtherData from race ";
const char kCountRaces[] = "select count(*) from race ";
const char kRaceOrder[] = " order by LiberTime, RaceCode asc";
// A race is active while it runs, or while it is new and basketing has
// begun (the club system's reader time is set at the first basketing).
const char kActiveClause[] = "valid=3 OR (valid=1 AND markReaderTime<>0)";
// The first save writes only what race creation knows; basketing, print and
// stop columns keep their defaults until the race is saved again.
const char kInsertRace[] =
    "insert into race(RaceCode,RaceName,LiberCode,LiberTime,LiberName,LiberLon,LiberLat,Valid,ClubCode,AssocCode,"
    "PrintCount,OtherData) values(:RaceCode,:RaceName,:LiberCode,:LiberTime,:LiberName,:LiberLon,:LiberLat,:Valid,"
    ":ClubCode,:AssocCode,:PrintCount,:OtherData)";
const char kUpdateRace[] =
    "update race set RaceName=:RaceName,LiberCode=:LiberCode,LiberTime=:LiberTime,LiberName=:LiberName,"
    "LiberLon=:LiberLon,LiberLat=:LiberLat,Valid=:Valid,ClubCode=:ClubCode,AssocCode=:AssocCode,"
    "MarkReaderId=:MarkReaderId,MarkPrintFlag=:MarkPrintFlag,MarkAuthKey=:MarkAuthKey, MarkDeviceTime=:MarkDeviceTime,"
    "BackPrintFlag=:BackPrintFlag,MarkReaderTime=:MarkReaderTime,BackPrintReaderId=:BackPrintReaderId,"
    "BackPrintAuthKey=:BackPrintAuthKey, RaceStopDeviceTime=:RaceStopDeviceTime,"
    "RaceStopReaderTime=:RaceStopReaderTime,PrintCount=:PrintCount,OtherData=:OtherData where RaceCode=:RaceCode";
// Freeing a deleted race's records: arrival, SMS, upload and basketing time
// go; the basketing uid, random number, reader and ring stay.
const char kFreeRecordsSet[] =
    "RaceCode='',UidBack='',RandNumberBack=0,GpsValid=0,GpsOnLine=0,NeedSms=0,SmsSendState=0,UidUploadState=0,"
    "EringUploadState=0,BackOrder=0,BackTimeEring=0,BackTimeUid=0,BackHomeLat=0,BackHomeLon=0,MarkTime=0 ";
const char kDeleteRaceFailed[] = "Delete race failed!";
constexpr int kStateNotStored = 0;
constexpr int kStateNew = 1;

QString otherDataText(const RaceInfo *race)
{
    return QString::fromUtf8(JsonWriter::write(race->otherData));
}

// Stored further data that is no JSON object (not JSON at all, an array, a
// scalar, empty or NULL) reads as no further data: a damaged column must not
// make the race unreadable.
QVariantMap otherDataOf(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return QVariantMap();
    return document.object().toVariantMap();
}

QList<QPair<QString, QVariant>> insertBindings(const RaceInfo *r)
{
    return {
        {QStringLiteral(":RaceCode"), r->raceCode},
        {QStringLiteral(":RaceName"), r->raceName},
        {QStringLiteral(":LiberCode"), r->liberCode},
        {QStringLiteral(":LiberTime"), r->liberTime},
        {QStringLiteral(":LiberName"), r->liberName},
        {QStringLiteral(":LiberLon"), r->liberLon},
        {QStringLiteral(":LiberLat"), r->liberLat},
        {QStringLiteral(":Valid"), r->valid},
        {QStringLiteral(":ClubCode"), r->clubCode},
        {QStringLiteral(":AssocCode"), r->assocCode},
        {QStringLiteral(":PrintCount"), r->printCount},
        {QStringLiteral(":OtherData"), otherDataText(r)},
    };
}

QList<QPair<QString, QVariant>> updateBindings(const RaceInfo *r)
{
    QList<QPair<QString, QVariant>> bindings = insertBindings(r);
    bindings.append({
        {QStringLiteral(":MarkReaderId"), r->markReaderId},
        {QStringLiteral(":MarkAuthKey"), r->markAuthKey},
        {QStringLiteral(":MarkDeviceTime"), r->markDeviceTime},
        {QStringLiteral(":MarkReaderTime"), r->markReaderTime},
        {QStringLiteral(":BackPrintReaderId"), r->backPrintReaderId},
        {QStringLiteral(":BackPrintAuthKey"), r->backPrintAuthKey},
        {QStringLiteral(":RaceStopDeviceTime"), r->raceStopDeviceTime},
        {QStringLiteral(":RaceStopReaderTime"), r->raceStopReaderTime},
        {QStringLiteral(":BackPrintFlag"), r->backPrintFlag ? 1 : 0},
        {QStringLiteral(":MarkPrintFlag"), r->markPrintFlag ? 1 : 0},
    });
    return bindings;
}

} // namespace

void Storage::_fetch(const StorageRow &row, RaceInfo *race)
{
    race->raceCode = row.text(0);
    race->raceName = row.text(1);
    race->liberCode = row.text(2);
    race->liberTime = row.int64(3);
    race->liberName = row.text(4);
    race->liberLon = row.text(5);
    race->liberLat = row.text(6);
    race->valid = row.int32(7);
    race->clubCode = row.text(8);
    race->assocCode = row.text(9);
    race->markReaderId = row.text(10);
    race->markAuthKey = row.text(11);
    race->markDeviceTime = row.int64(12);
    race->markReaderTime = row.int64(13);
    race->backPrintReaderId = row.text(14);
    race->backPrintAuthKey = row.text(15);
    race->raceStopDeviceTime = row.int64(16);
    race->raceStopReaderTime = row.int64(17);
    race->backPrintFlag = row.flag(18);
    race->markPrintFlag = row.flag(19);
    race->printCount = row.int32(20);
    race->otherData = otherDataOf(row.value(21).toString());
}

QList<QSharedPointer<RaceInfo>> Storage::selectRaces(const QString &clause, const Bindings &bindings,
                                                     const QString &tail)
{
    QString sql = QLatin1String(kSelectRaces);
    if (!clause.isEmpty())
        sql += QStringLiteral(" where ") + clause;
    sql += QLatin1String(kRaceOrder) + tail;
    QList<QSharedPointer<RaceInfo>> races;
    // Read straight from SQLite: the engine reads its race for every
    // arrival, and Qt's driver made a record of all 22 columns each time.
    readRows(sql, bindings, [&races](const StorageRow &row) {
        auto race = QSharedPointer<RaceInfo>::create();
        _fetch(row, race.data());
        races.append(race);
    });
    return races;
}

QList<QSharedPointer<RaceInfo>> Storage::queryRaces(const QString &where)
{
    return selectRaces(where, {}, QStringLiteral(" "));
}

QList<QSharedPointer<RaceInfo>> Storage::getPageRaces(const QString &where, int offset, int limit)
{
    return selectRaces(where, {},
                       QStringLiteral(" limit ") + QString::number(limit) + QStringLiteral(" offset ")
                           + QString::number(offset));
}

int Storage::getRacesCount(const QString &where)
{
    QString sql = QLatin1String(kCountRaces);
    if (!where.isEmpty())
        sql += QStringLiteral(" where ") + where;
    return count(sql);
}

QList<QSharedPointer<RaceInfo>> Storage::queryActiveRaces()
{
    return queryRaces(QLatin1String(kActiveClause));
}

QSharedPointer<RaceInfo> Storage::findRaceById(const QString &raceCode)
{
    // Bound: a race code from the PC or the club system may hold a quote.
    const auto races =
        selectRaces(QStringLiteral("raceCode=:raceCode"), {{QStringLiteral(":raceCode"), raceCode}}, QString());
    return races.isEmpty() ? QSharedPointer<RaceInfo>() : races.first();
}

bool Storage::isRaceNomedById(const QString &raceCode)
{
    const QSharedPointer<RaceInfo> race = findRaceById(raceCode);
    // A number parsed from the stored text comes back as a 64-bit or double
    // value, so it is compared as an int, never by its type.
    return race && race->getField(QStringLiteral("nomination")).toInt() != 0;
}

void Storage::_insertRace(const RaceInfo *race)
{
    run(QLatin1String(kInsertRace), insertBindings(race));
}

void Storage::_updateRace(const RaceInfo *race)
{
    run(QLatin1String(kUpdateRace), updateBindings(race));
}

void Storage::_deleteRace(const QString &raceCode)
{
    run(QStringLiteral("delete from race where raceCode=:raceCode"), {{QStringLiteral(":raceCode"), raceCode}});
}

void Storage::saveRace(RaceInfo *race)
{
    if (findRaceById(race->raceCode)) {
        _updateRace(race);
        return;
    }
    if (race->valid == kStateNotStored)
        race->valid = kStateNew;
    _insertRace(race);
}

void Storage::deleteRace(const QString &raceCode)
{
    _beginTransaction();
    try {
        // Quoted: a race code holding "' OR '1'='1" must free that race's
        // records only, never every race's.
        _modifyRecords(QLatin1String(kFreeRecordsSet), QStringLiteral("RaceCode=") + quoted(raceCode) + QLatin1Char(' '));
        _delNomByRaceCode(raceCode);
        _deleteRace(raceCode);
        _commit();
    } catch (...) {
        _rollback();
        throw DBException(0, QLatin1String(kDeleteRaceFailed), QString());
    }
}
