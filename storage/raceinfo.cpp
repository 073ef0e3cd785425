#include "storage/raceinfo.h"

#include "storage/recordkeys.h"

namespace {

enum class Key {
    RaceCode, RaceName, LiberCode, LiberTime, LiberName, LiberLon, LiberLat, Valid,
    ClubCode, AssocCode, MarkReaderId, MarkAuthKey, MarkDeviceTime, MarkReaderTime,
    MarkPrintFlag, BackFlag, BackPrintReaderId, BackPrintAuthKey, BackPrintFlag,
    RaceStopReaderTime, RaceStopDeviceTime, PrintCount, MarkUploadFlag,
    MarkUploadedCount, Nomination,
};

const RecordKeys<Key> &keys()
{
    static const RecordKeys<Key> table({
        {"raceCode", Key::RaceCode}, {"raceName", Key::RaceName},
        {"liberCode", Key::LiberCode}, {"liberTime", Key::LiberTime},
        {"liberName", Key::LiberName}, {"liberLon", Key::LiberLon},
        {"liberLat", Key::LiberLat}, {"valid", Key::Valid}, {"clubCode", Key::ClubCode},
        {"assocCode", Key::AssocCode}, {"markReaderId", Key::MarkReaderId},
        {"markAuthKey", Key::MarkAuthKey}, {"markDeviceTime", Key::MarkDeviceTime},
        {"markReaderTime", Key::MarkReaderTime}, {"markPrintFlag", Key::MarkPrintFlag},
        {"backFlag", Key::BackFlag}, {"backPrintReaderId", Key::BackPrintReaderId},
        {"backPrintAuthKey", Key::BackPrintAuthKey}, {"backPrintFlag", Key::BackPrintFlag},
        {"raceStopReaderTime", Key::RaceStopReaderTime},
        {"raceStopDeviceTime", Key::RaceStopDeviceTime}, {"printCount", Key::PrintCount},
        {"markUploadFlag", Key::MarkUploadFlag},
        {"markUploadedCount", Key::MarkUploadedCount}, {"nomination", Key::Nomination},
    });
    return table;
}

// A further-data value in the type its key carries. Values read back from
// stored text may arrive in another numeric type; callers that write JSON by
// type must see the key's own type.
QVariant otherValue(const QVariantMap &data, const QString &name, QMetaType::Type type)
{
    const auto it = data.constFind(name);
    if (it == data.constEnd() || !it.value().isValid())
        return QVariant();
    return type == QMetaType::Bool ? QVariant(it.value().toBool()) : QVariant(it.value().toInt());
}

} // namespace

QVariant RaceInfo::getField(const QString &key) const
{
    Key k;
    if (!keys().find(key, &k))
        return QVariant();
    switch (k) {
    case Key::RaceCode: return raceCode;
    case Key::RaceName: return raceName;
    case Key::LiberCode: return liberCode;
    case Key::LiberTime: return liberTime;
    case Key::LiberName: return liberName;
    case Key::LiberLon: return liberLon;
    case Key::LiberLat: return liberLat;
    case Key::Valid: return valid;
    case Key::ClubCode: return clubCode;
    case Key::AssocCode: return assocCode;
    case Key::MarkReaderId: return markReaderId;
    case Key::MarkAuthKey: return markAuthKey;
    case Key::MarkDeviceTime: return markDeviceTime;
    case Key::MarkReaderTime: return markReaderTime;
    case Key::MarkPrintFlag: return markPrintFlag;
    case Key::BackFlag: return raceStopDeviceTime > 0;
    case Key::BackPrintReaderId: return backPrintReaderId;
    case Key::BackPrintAuthKey: return backPrintAuthKey;
    case Key::BackPrintFlag: return backPrintFlag;
    case Key::RaceStopReaderTime: return raceStopReaderTime;
    case Key::RaceStopDeviceTime: return raceStopDeviceTime;
    case Key::PrintCount: return printCount;
    case Key::MarkUploadFlag: return otherValue(otherData, keys().name(k), QMetaType::Bool);
    case Key::MarkUploadedCount:
    case Key::Nomination: return otherValue(otherData, keys().name(k), QMetaType::Int);
    }
    return QVariant();
}

void RaceInfo::setField(const QString &key, const QVariant &value)
{
    Key k;
    if (!keys().find(key, &k))
        return;
    switch (k) {
    case Key::RaceCode: raceCode = value.toString(); break;
    case Key::RaceName: raceName = value.toString(); break;
    case Key::LiberCode: liberCode = value.toString(); break;
    case Key::LiberName: liberName = value.toString(); break;
    case Key::LiberLon: liberLon = value.toString(); break;
    case Key::LiberLat: liberLat = value.toString(); break;
    case Key::ClubCode: clubCode = value.toString(); break;
    case Key::AssocCode: assocCode = value.toString(); break;
    case Key::LiberTime: liberTime = value.toLongLong(); break;
    case Key::PrintCount: printCount = value.toInt(); break;
    // Whatever case the caller wrote, further data lands under one spelling,
    // so that a later reader (or the stored text) finds one entry, not two.
    case Key::MarkUploadFlag: otherData.insert(keys().name(k), value.toBool()); break;
    case Key::MarkUploadedCount:
    case Key::Nomination: otherData.insert(keys().name(k), value.toInt()); break;
    case Key::MarkReaderId:
    case Key::MarkAuthKey:
    case Key::MarkDeviceTime:
    case Key::MarkReaderTime:
    case Key::MarkPrintFlag:
    case Key::BackPrintReaderId:
    case Key::BackPrintAuthKey:
    case Key::BackPrintFlag:
    case Key::RaceStopReaderTime:
    case Key::RaceStopDeviceTime:
        break; // set directly by basketing, stopping and printing
    case Key::Valid:
    case Key::BackFlag:
        break; // the race state is the race engine's alone
    }
}
