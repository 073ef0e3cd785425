#include "storage/pigeonrecord.h"

#include "storage/recordkeys.h"

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
