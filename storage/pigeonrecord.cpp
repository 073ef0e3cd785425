#include "storage/pigeonrecord.h"

#include "storage/raceinfo.h"
#include "storage/recordkeys.h"
#include "storage/storage.h"

#include <QHash>

#include <algorithm>

namespace {

enum class Key {
    AssocNum, RaceCode, UidMarked, EringNum, RandNumMarked, UidBack, RandNumberBack,
    BackHome, GpsValid, GpsOnLine, UidValid, NeedSms, SmsSendState, UidUploadState,
    EringUploadState, AssignFlag, MarkFlag, BackOrder, BackTimeEring, BackTimeUid,
    BackHomeLat, BackHomeLon, MarkReaderId, MarkAuthKey, MarkTime, MarkOrder,
};

const RecordKeys<Key> &keys()
{
    static const RecordKeys<Key> table({
        {"assocNum", Key::AssocNum}, {"raceCode", Key::RaceCode},
        {"uidMarked", Key::UidMarked}, {"eringNum", Key::EringNum},
        {"randNumMarked", Key::RandNumMarked}, {"uidBack", Key::UidBack},
        {"randNumberBack", Key::RandNumberBack}, {"backHome", Key::BackHome},
        {"gpsValid", Key::GpsValid}, {"gpsOnLine", Key::GpsOnLine},
        {"uidValid", Key::UidValid}, {"needSms", Key::NeedSms},
        {"smsSendState", Key::SmsSendState}, {"uidUploadState", Key::UidUploadState},
        {"eringUploadState", Key::EringUploadState}, {"assignFlag", Key::AssignFlag},
        {"markFlag", Key::MarkFlag}, {"backOrder", Key::BackOrder},
        {"backTimeEring", Key::BackTimeEring}, {"backTimeUid", Key::BackTimeUid},
        {"backHomeLat", Key::BackHomeLat}, {"backHomeLon", Key::BackHomeLon},
        {"markReaderId", Key::MarkReaderId}, {"markAuthKey", Key::MarkAuthKey},
        {"markTime", Key::MarkTime}, {"markOrder", Key::MarkOrder},
    });
    return table;
}

} // namespace

PigeonRecord::PigeonRecord()
    : eringNum(emptyText())
{
}

QVariant PigeonRecord::getField(const QString &key) const
{
    Key k;
    if (!keys().find(key, &k))
        return QVariant();
    switch (k) {
    case Key::AssocNum: return assocNum;
    case Key::RaceCode: return raceCode;
    case Key::UidMarked: return uidMarked;
    case Key::EringNum: return eringNum;
    case Key::RandNumMarked: return randNumMarked;
    case Key::UidBack: return uidBack;
    case Key::RandNumberBack: return randNumberBack;
    case Key::BackHome: return backTimeEring != 0;
    case Key::GpsValid: return gpsValid;
    case Key::GpsOnLine: return gpsOnLine;
    case Key::UidValid: return backTimeUid != 0;
    case Key::NeedSms: return needSms;
    case Key::SmsSendState: return smsSendState;
    case Key::UidUploadState: return uidUploadState;
    case Key::EringUploadState: return eringUploadState;
    case Key::AssignFlag: return !eringNum.isEmpty();
    case Key::MarkFlag: return markTime != 0;
    case Key::BackOrder: return backOrder;
    case Key::BackTimeEring: return backTimeEring;
    case Key::BackTimeUid: return backTimeUid;
    case Key::BackHomeLat: return backHomeLat;
    case Key::BackHomeLon: return backHomeLon;
    case Key::MarkReaderId: return markReaderId;
    case Key::MarkAuthKey: return markAuthKey;
    case Key::MarkTime: return markTime;
    case Key::MarkOrder: return markOrder;
    }
    return QVariant();
}

void PigeonRecord::fillMarkOrder()
{
    if (markTime == 0) {
        markOrder = 0;
        return;
    }
    Storage *storage = Storage::instance();
    if (storage->isRaceNomedById(raceCode)) {
        markOrder = storage->getRacePigeonNom(assocNum, raceCode);
        return;
    }
    // Concatenated, not formatted with arg(): a race code holding "%2" must
    // stay itself, and the quoting helper keeps a quote in it a value.
    const QString where = QStringLiteral("raceCode=") + Storage::quoted(raceCode)
        + QStringLiteral(" AND markTime>0 AND markTime<") + QString::number(markTime);
    // Pigeons basketed in the same millisecond share an order.
    markOrder = 1 + storage->queryRecordsCount(where);
}

void PigeonRecord::fillMarkOrder(const QList<QSharedPointer<PigeonRecord>> &records)
{
    // The same orders as fillMarkOrder() on each record, from one read of
    // each race met: a count per record scans the race's records once per
    // pigeon, seconds for the printed list of a full race of 5,000.
    struct RaceOrders
    {
        bool nominated = false;
        QHash<QString, int> noms;
        QList<qint64> markTimes; // above 0, ascending
    };
    QHash<QString, RaceOrders> races;
    Storage *storage = Storage::instance();
    for (const QSharedPointer<PigeonRecord> &record : records) {
        if (record->markTime == 0) {
            record->markOrder = 0;
            continue;
        }
        auto race = races.find(record->raceCode);
        if (race == races.end()) {
            RaceOrders orders;
            orders.nominated = storage->isRaceNomedById(record->raceCode);
            if (orders.nominated)
                orders.noms = storage->queryRaceNoms(record->raceCode);
            else
                orders.markTimes = storage->queryMarkTimes(record->raceCode);
            race = races.insert(record->raceCode, orders);
        }
        if (race->nominated) {
            record->markOrder = race->noms.value(record->assocNum, 0);
            continue;
        }
        // One more than the race's pigeons basketed strictly earlier.
        const auto earlier = std::lower_bound(race->markTimes.cbegin(), race->markTimes.cend(), record->markTime);
        record->markOrder = 1 + int(earlier - race->markTimes.cbegin());
    }
}

void PigeonRecord::sortByMarkOrder(QList<QSharedPointer<PigeonRecord>> &records)
{
    if (records.isEmpty())
        return;
    // The first record's race decides for the whole list.
    if (!Storage::instance()->isRaceNomedById(records.first()->raceCode))
        return;
    // A nominated pigeon comes before every one without a nomination (order
    // 0); stable, so equal orders keep the order they were given in.
    std::stable_sort(records.begin(), records.end(),
                     [](const QSharedPointer<PigeonRecord> &a, const QSharedPointer<PigeonRecord> &b) {
                         if (a->markOrder == 0)
                             return false;
                         return b->markOrder == 0 || a->markOrder < b->markOrder;
                     });
}

void PigeonRecord::markFor(const RaceInfo &race, qint64 time, int randNum)
{
    markTime = time;
    raceCode = race.raceCode;
    randNumMarked = randNum;
    markReaderId = race.markReaderId;
    markAuthKey = race.markAuthKey;
    backTimeEring = 0;
    randNumberBack = 0;
    backTimeUid = 0;
    uidBack = QStringLiteral("");
    backOrder = 0;
    gpsValid = false;
    gpsOnLine = false;
    backHomeLat = 0;
    backHomeLon = 0;
    needSms = false;
    smsSendState = false;
    eringUploadState = false;
    uidUploadState = false;
}
