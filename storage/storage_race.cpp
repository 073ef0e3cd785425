#include "storage/storage.h"

#include "core/jsonwriter.h"
#include "core/utc.h"
#include "storage/raceinfo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QVariantMap>

// Races, notification phones and the event-log entries that the race engine
// needs: the active-race check, the phone cache and the power-off entry.

namespace {

const char kSelectRaces[] =
    "select RaceCode,RaceName,LiberCode,LiberTime,LiberName,LiberLon,LiberLat,Valid,ClubCode,AssocCode,"
    "MarkReaderId,MarkAuthKey,MarkDeviceTime,MarkReaderTime,BackPrintReaderId,BackPrintAuthKey,"
    "RaceStopDeviceTime,RaceStopReaderTime,BackPrintFlag,MarkPrintFlag,PrintCount,OtherData from race ";
const char kRaceOrder[] = " order by LiberTime, RaceCode asc ";
const char kActiveRaces[] = "valid=3 OR (valid=1 AND markReaderTime<>0)";

const char kSelectPhones[] = "select id,phonecode from Phone order by id";
const char kSelectPhone[] = "select id,phonecode from Phone where id=:id";
const char kUpdatePhone[] = "update Phone set phonecode=:phonecode where id=:id";
const char kInsertPhone[] = "insert into Phone(id,phonecode) values(:id,:phonecode)";
const char kDeletePhone[] = "delete from Phone where id=:id";
constexpr int kLastPhoneId = 4;

const char kInsertLog[] =
    "insert into log (LogId,LogType,LogTime,LogInfo) values(null,:LogType,:LogTime,:LogInfo) ";
constexpr int kLogPowerOff = 15;

QVariantMap parseOtherData(const QString &text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    return doc.isObject() ? doc.object().toVariantMap() : QVariantMap();
}

} // namespace

QList<QSharedPointer<RaceInfo>> Storage::queryRaces(const QString &where)
{
    QString sql = QLatin1String(kSelectRaces);
    if (!where.isEmpty())
        sql += QStringLiteral(" where ") + where;
    sql += QLatin1String(kRaceOrder);
    QList<QSharedPointer<RaceInfo>> races;
    run(sql, {}, [&races](const QSqlQuery &q) {
        auto race = QSharedPointer<RaceInfo>::create();
        _fetch(q, race.data());
        races.append(race);
    });
    return races;
}

QList<QSharedPointer<RaceInfo>> Storage::queryActiveRaces()
{
    return queryRaces(QLatin1String(kActiveRaces));
}

void Storage::_fetch(const QSqlQuery &q, RaceInfo *race)
{
    race->raceCode = textAt(q, 0);
    race->raceName = textAt(q, 1);
    race->liberCode = textAt(q, 2);
    race->liberTime = q.value(3).toLongLong();
    race->liberName = textAt(q, 4);
    race->liberLon = textAt(q, 5);
    race->liberLat = textAt(q, 6);
    race->valid = q.value(7).toInt();
    race->clubCode = textAt(q, 8);
    race->assocCode = textAt(q, 9);
    race->markReaderId = textAt(q, 10);
    race->markAuthKey = textAt(q, 11);
    race->markDeviceTime = q.value(12).toLongLong();
    race->markReaderTime = q.value(13).toLongLong();
    race->backPrintReaderId = textAt(q, 14);
    race->backPrintAuthKey = textAt(q, 15);
    race->raceStopDeviceTime = q.value(16).toLongLong();
    race->raceStopReaderTime = q.value(17).toLongLong();
    race->backPrintFlag = flagAt(q, 18);
    race->markPrintFlag = flagAt(q, 19);
    race->printCount = q.value(20).toInt();
    race->otherData = parseOtherData(textAt(q, 21));
}

QList<QString> Storage::queryPhoneCode()
{
    QList<QString> phones;
    run(QLatin1String(kSelectPhones), {}, [&phones](const QSqlQuery &q) {
        if (q.isNull(1))
            return;
        const QString code = q.value(1).toString().trimmed();
        if (!code.isEmpty())
            phones.append(code);
    });
    return phones;
}

void Storage::savePhoneCodes(const QList<QString> &codes)
{
    for (int i = 0; i < codes.size(); ++i)
        updatePhoneCode(i, codes.at(i));
    for (int i = int(codes.size()); i <= kLastPhoneId; ++i)
        removePhoneCode(i);
}

void Storage::updatePhoneCode(int id, const QString &code)
{
    bool found = false;
    run(QLatin1String(kSelectPhone), {{QStringLiteral(":id"), id}}, [&found](const QSqlQuery &) { found = true; });
    run(QLatin1String(found ? kUpdatePhone : kInsertPhone),
        {{QStringLiteral(":phonecode"), code}, {QStringLiteral(":id"), id}});
}

void Storage::removePhoneCode(int id)
{
    run(QLatin1String(kDeletePhone), {{QStringLiteral(":id"), id}});
}

void Storage::insertLog(int type, const QString &info)
{
    run(QLatin1String(kInsertLog), {{QStringLiteral(":LogType"), type},
                                    {QStringLiteral(":LogTime"), UTC::now().value()},
                                    {QStringLiteral(":LogInfo"), info}});
}

void Storage::logPowerOff(const QString &reason)
{
    const QVariantMap details{{QStringLiteral("reason"), reason}};
    insertLog(kLogPowerOff, QString::fromUtf8(JsonWriter::write(details)));
}
