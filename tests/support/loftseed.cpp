#include "loftseed.h"

#include "core/utc.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"

#include <QTest>

namespace {
constexpr qint64 kDayMs = 24LL * 3600 * 1000;

PigeonRecord recordOf(const QString &assocNum)
{
    const QSharedPointer<PigeonRecord> record = Storage::instance()->findRecordById(assocNum);
    if (!record) {
        QTest::qFail(qPrintable(QStringLiteral("no record for pigeon ") + assocNum), __FILE__, __LINE__);
        return PigeonRecord();
    }
    return *record;
}
}

namespace LoftSeed {

void loft(const QString &loftNum, const QString &password)
{
    // The loft number and password are written only by the device's
    // initialisation, as on the device.
    Storage::instance()->formatDevice(loftNum, password);
    LoftInfo info;
    Storage::instance()->readLoftInfo(&info);
    info.ownerName = QStringLiteral("J. Fancier");
    info.clubCode = QStringLiteral("RC");
    info.clubName = QStringLiteral("Racing Club");
    info.assocCode = QStringLiteral("RA");
    Storage::instance()->saveLoftInfo(&info);
}

PigeonInfo pigeon(const QString &assocNum, const QString &ering, int sex, const QString &color, int year)
{
    PigeonInfo p;
    p.assocNum = assocNum;
    p.eringNum = ering.isNull() ? QStringLiteral("") : ering;
    p.uid = ering.isEmpty() ? QString() : QStringLiteral("U") + ering;
    p.sex = sex;
    p.color = color;
    p.year = year;
    p.updateTime = UTC::clubTime().value();
    Storage::instance()->savePigeon(&p);
    return p;
}

RaceInfo race(const QString &raceCode, int valid, qint64 liberTime, const QString &name)
{
    RaceInfo r;
    r.raceCode = raceCode;
    r.raceName = name.isEmpty() ? QStringLiteral("Race ") + raceCode : name;
    r.clubCode = QStringLiteral("RC");
    r.assocCode = QStringLiteral("RA");
    r.liberCode = QStringLiteral("LC");
    r.liberName = QStringLiteral("Paris");
    r.liberTime = liberTime != 0 ? liberTime : UTC::clubTime().value() + kDayMs;
    r.valid = valid;
    Storage::instance()->saveRace(&r);
    return r;
}

PigeonRecord basket(const QString &assocNum, const QString &raceCode, qint64 markTime)
{
    PigeonRecord r = recordOf(assocNum);
    r.raceCode = raceCode;
    r.markTime = markTime;
    r.randNumMarked = 9;
    r.uidMarked = QStringLiteral("UM") + assocNum;
    r.markReaderId = QStringLiteral("MR");
    Storage::instance()->saveRecord(&r);
    return r;
}

PigeonRecord arrive(const QString &assocNum, const QString &raceCode, qint64 backTime, int backOrder)
{
    PigeonRecord r = recordOf(assocNum);
    if (raceCode.isEmpty()) {
        r.raceCode = QStringLiteral("train");
        r.markTime = 0;
    } else {
        r.raceCode = raceCode;
    }
    r.backTimeEring = backTime;
    r.backTimeUid = backTime;
    r.backOrder = backOrder;
    r.uidBack = QStringLiteral("U") + assocNum;
    Storage::instance()->saveRecord(&r);
    return r;
}

} // namespace LoftSeed
