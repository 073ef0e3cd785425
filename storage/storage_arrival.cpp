#include "storage/storage.h"

#include "storage/pigeonrecord.h"

// The write of one arrival. Only the arrival columns change, so that an
// upload or SMS flag that the modem thread set after the record was read is
// never undone; the row must still be the one read (same pigeon, ring,
// race and basketing), or the arrival belongs to nothing stored any more.

namespace {

const char kUpdateArrival[] =
    "update record set RandNumberBack=:RandNumberBack,BackTimeEring=:BackTimeEring,UidBack=:UidBack,"
    "BackTimeUid=:BackTimeUid,BackOrder=:BackOrder,NeedSms=:NeedSms,GpsValid=:GpsValid,GpsOnLine=:GpsOnLine,"
    "BackHomeLat=:BackHomeLat,BackHomeLon=:BackHomeLon "
    "where AssocNum=:AssocNum AND EringNum=:EringNum AND IFNULL(RaceCode,'')=:RaceCode "
    "AND IFNULL(MarkTime,0)=:MarkTime";

} // namespace

bool Storage::saveArrival(const PigeonRecord *r)
{
    const Bindings bindings{
        {QStringLiteral(":RandNumberBack"), r->randNumberBack},
        {QStringLiteral(":BackTimeEring"), r->backTimeEring},
        {QStringLiteral(":UidBack"), r->uidBack},
        {QStringLiteral(":BackTimeUid"), r->backTimeUid},
        {QStringLiteral(":BackOrder"), r->backOrder},
        {QStringLiteral(":NeedSms"), r->needSms ? 1 : 0},
        {QStringLiteral(":GpsValid"), r->gpsValid ? 1 : 0},
        {QStringLiteral(":GpsOnLine"), r->gpsOnLine ? 1 : 0},
        {QStringLiteral(":BackHomeLat"), r->backHomeLat},
        {QStringLiteral(":BackHomeLon"), r->backHomeLon},
        {QStringLiteral(":AssocNum"), r->assocNum},
        {QStringLiteral(":EringNum"), r->eringNum.isNull() ? QStringLiteral("") : r->eringNum},
        {QStringLiteral(":RaceCode"), r->raceCode.isNull() ? QStringLiteral("") : r->raceCode},
        {QStringLiteral(":MarkTime"), r->markTime},
    };
    // One transaction: the arrival is never stored without its log entry, nor
    // the entry without the arrival, and a retry after a failure redoes both.
    bool stored = false;
    inTransaction(
        [&] {
            stored = run(QLatin1String(kUpdateArrival), bindings) > 0;
            if (stored)
                logPigeonBack(r);
        },
        QStringLiteral("Commit failed!"));
    return stored;
}
