#include "simloft.h"

#include "core/utc.h"
#include "core/vexexception.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include <QRegularExpression>

const QString SimLoft::kLoftNum = QStringLiteral("NL-2026-0042");
const QString SimLoft::kPassword = QStringLiteral("loft-secret");
const QString SimLoft::kOwnerPhone = QStringLiteral("+31612345678");
// The modem peer bridges every socket to the cloud endpoint, whatever host
// the clock names.
const QString SimLoft::kUploadHost = QStringLiteral("cloud.brellium.test");
const QString SimLoft::kUploadPath = QStringLiteral("/rpc");

namespace {
// Race marks and arrivals, and training arrivals, uploaded as data.
constexpr int kUploadData = 0x20 | 0x40;
// The owner is told of race and training arrivals alike.
constexpr int kNotifyRaceAndTraining = 3;
constexpr int kAssocWidth = 16;
constexpr int kRingWidth = 10;

QString cell(const QString &text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '));
}

QString timeText(qint64 ms)
{
    return ms == 0 ? QStringLiteral("-") : UTC::format(ms, QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}
} // namespace

QList<SimLoft::Pigeon> SimLoft::defaultPigeons()
{
    return {{QStringLiteral("NL-2026-1001"), QStringLiteral("0A1B2C3D")},
            {QStringLiteral("NL-2026-1002"), QStringLiteral("0A1B2C3E")},
            {QStringLiteral("NL-2026-1003"), QStringLiteral("0A1B2C3F")},
            {QStringLiteral("NL-2026-1004"), QStringLiteral("0A1B2C40")}};
}

QString SimLoft::normalRing(const QString &text)
{
    static const QRegularExpression hex8(QStringLiteral("^[0-9A-Fa-f]{8}$"));
    return hex8.match(text).hasMatch() ? text.toUpper() : QString();
}

bool SimLoft::setUp()
{
    Storage::init();
    Storage *storage = Storage::instance();
    LoftInfo loft;
    storage->readLoftInfo(&loft);
    if (!loft.loftNum.isEmpty())
        return false;
    storage->formatDevice(kLoftNum, kPassword);
    storage->readLoftInfo(&loft);
    loft.ownerName = QStringLiteral("A. Fancier");
    loft.city = QStringLiteral("Zwolle");
    loft.hostIp = kUploadHost;
    loft.hostPath = kUploadPath;
    loft.apn = QStringLiteral("internet");
    loft.uploadMode = kUploadData;
    loft.notifyMode = kNotifyRaceAndTraining;
    storage->saveLoftInfo(&loft);
    storage->savePhoneCodes({kOwnerPhone});
    for (const Pigeon &pigeon : defaultPigeons())
        registerPigeon(pigeon.assocNum, pigeon.ring);
    return true;
}

void SimLoft::registerPigeon(const QString &assocNum, const QString &ring)
{
    const QString eRing = normalRing(ring);
    if (assocNum.trimmed().isEmpty() || eRing.isEmpty())
        throw VexException(0, QStringLiteral("A pigeon needs an association number and a ring of 8 hex digits!"), QString());
    Storage *storage = Storage::instance();
    const QString wearer = storage->findPigeonIdByEringNum(eRing);
    if (!wearer.isEmpty() && wearer != assocNum)
        throw VexException(0, QStringLiteral("Ring worn by ") + wearer, QString());
    if (!storage->findPigeonById(assocNum)) {
        PigeonInfo pigeon;
        pigeon.assocNum = assocNum;
        pigeon.valid = true;
        pigeon.updateTime = UTC::clubTime().value();
        storage->savePigeon(&pigeon);
    }
    if (storage->findPigeonById(assocNum)->eringNum == eRing)
        return;
    // The assignment screen's way: assign, then log it.
    const QSharedPointer<PigeonInfo> assigned = storage->assignPigeon(assocNum, eRing, QString());
    storage->logAssignmnet(assigned.data());
}

QString SimLoft::ringOf(const QString &assocNum)
{
    const QSharedPointer<PigeonInfo> pigeon = Storage::instance()->findPigeonById(assocNum);
    return pigeon ? pigeon->eringNum : QString();
}

QStringList SimLoft::pigeonTable()
{
    QStringList lines{cell(QStringLiteral("pigeon"), kAssocWidth) + cell(QStringLiteral("ring"), kRingWidth)
                      + QStringLiteral("race")};
    for (const QSharedPointer<PigeonInfo> &pigeon : Storage::instance()->queryPigeons(QString())) {
        const QSharedPointer<PigeonRecord> record = Storage::instance()->findRecordById(pigeon->assocNum);
        QString race = QStringLiteral("-");
        if (record && record->markTime != 0)
            race = record->raceCode + QStringLiteral(" (basketed)");
        lines << cell(pigeon->assocNum, kAssocWidth) + cell(pigeon->eringNum, kRingWidth) + race;
    }
    return lines;
}

QStringList SimLoft::arrivalTable(int limit)
{
    QList<QSharedPointer<PigeonRecord>> records =
        Storage::instance()->queryRecords(QStringLiteral("backTimeEring<>0"), QStringLiteral("backTimeEring desc"));
    QStringList lines{cell(QStringLiteral("pigeon"), kAssocWidth) + cell(QStringLiteral("ring"), kRingWidth)
                      + cell(QStringLiteral("race"), 10) + cell(QStringLiteral("order"), 7)
                      + cell(QStringLiteral("arrival (loft time)"), 25) + QStringLiteral("uploaded sms")};
    for (int i = 0; i < records.size() && i < limit; ++i) {
        const PigeonRecord &r = *records.at(i);
        const QString race = r.markTime == 0 ? QStringLiteral("training") : r.raceCode;
        lines << cell(r.assocNum, kAssocWidth) + cell(r.eringNum, kRingWidth) + cell(race, 10)
                + cell(QString::number(r.backOrder), 7) + cell(timeText(r.backTimeEring), 25)
                + cell(r.eringUploadState ? QStringLiteral("yes") : QStringLiteral("no"), 9)
                + (r.needSms ? (r.smsSendState ? QStringLiteral("sent") : QStringLiteral("due")) : QStringLiteral("-"));
    }
    if (records.isEmpty())
        lines << QStringLiteral("(no arrivals yet)");
    return lines;
}
