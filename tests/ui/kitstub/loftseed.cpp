#include "loftseed.h"
#include "core/utc.h"
#include "storage/storage.h"
namespace LoftSeed {
void loft(const QString &loftNum, const QString &password) { Storage::instance()->formatDevice(loftNum, password); }
PigeonInfo pigeon(const QString &assocNum, const QString &ering, int sex, const QString &color, int year)
{
    PigeonInfo p; p.assocNum = assocNum; p.eringNum = ering; p.sex = sex; p.color = color; p.year = year;
    Storage::instance()->savePigeon(&p);
    return p;
}
RaceInfo race(const QString &raceCode, int valid, qint64 liberTime, const QString &name)
{
    RaceInfo r; r.raceCode = raceCode; r.valid = valid;
    r.liberTime = liberTime ? liberTime : UTC::clubTime().value() + 86400000;
    r.raceName = name.isEmpty() ? QStringLiteral("Race ") + raceCode : name;
    Storage::instance()->saveRace(&r);
    return r;
}
PigeonRecord basket(const QString &assocNum, const QString &raceCode, qint64 markTime)
{
    auto rec = Storage::instance()->findRecordById(assocNum);
    rec->raceCode = raceCode; rec->markTime = markTime;
    Storage::instance()->saveRecord(rec.data());
    return *rec;
}
PigeonRecord arrive(const QString &assocNum, const QString &raceCode, qint64 backTime, int backOrder)
{
    auto rec = Storage::instance()->findRecordById(assocNum);
    rec->raceCode = raceCode.isEmpty() ? QStringLiteral("train") : raceCode;
    rec->backTimeEring = backTime; rec->backOrder = backOrder;
    Storage::instance()->saveRecord(rec.data());
    return *rec;
}
}
