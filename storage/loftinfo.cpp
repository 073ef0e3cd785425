#include "storage/loftinfo.h"

#include "core/utc.h"
#include "storage/recordkeys.h"

namespace {

enum class Key {
    LoftNum, OwnerName, Street, City, PostCode, PhoneNo, Email, LoftLon, LoftLat,
    ClubCode, ClubName, ClubStreet, ClubCity, ClubPostCode, AssocCode, HostIp,
    HostPath, Apn, NotifyMode, UploadMode, UploadInterval, Validate, Password,
    Language, InitFlag, TimeZone, HostSmsCode, VoiceMode,
};

constexpr unsigned int kDefaultUploadIntervalMs = 300000;
constexpr int kDefaultTimeZoneSec = 28800;
constexpr int kDefaultVoiceMode = 100;

const RecordKeys<Key> &keys()
{
    static const RecordKeys<Key> table({
        {"loftNum", Key::LoftNum}, {"ownerName", Key::OwnerName}, {"street", Key::Street},
        {"city", Key::City}, {"postCode", Key::PostCode}, {"phoneNo", Key::PhoneNo},
        {"email", Key::Email}, {"loftLon", Key::LoftLon}, {"loftLat", Key::LoftLat},
        {"clubCode", Key::ClubCode}, {"clubName", Key::ClubName},
        {"clubStreet", Key::ClubStreet}, {"clubCity", Key::ClubCity},
        {"clubPostCode", Key::ClubPostCode}, {"assocCode", Key::AssocCode},
        {"hostIp", Key::HostIp}, {"hostPath", Key::HostPath}, {"apn", Key::Apn},
        {"notifyMode", Key::NotifyMode}, {"uploadMode", Key::UploadMode},
        {"uploadInterval", Key::UploadInterval}, {"validate", Key::Validate},
        {"password", Key::Password}, {"language", Key::Language},
        {"initFlag", Key::InitFlag}, {"timeZone", Key::TimeZone},
        {"hostSmsCode", Key::HostSmsCode}, {"voiceMode", Key::VoiceMode},
    });
    return table;
}

} // namespace

LoftInfo::LoftInfo()
{
    init();
}

void LoftInfo::init()
{
    // "Empty" defaults are non-null texts: a null text would be stored as NULL.
    const QString empty = emptyText();
    loftNum = empty;
    ownerName = empty;
    street = empty;
    city = empty;
    postCode = empty;
    phoneNo = empty;
    email = empty;
    loftLon = empty;
    loftLat = empty;
    clubCode = empty;
    clubName = empty;
    clubStreet = empty;
    clubCity = empty;
    clubPostCode = empty;
    assocCode = empty;
    hostIp = empty;
    hostPath = empty;
    apn = empty;
    notifyMode = 0;
    uploadMode = 0;
    uploadInterval = kDefaultUploadIntervalMs;
    validate = 0;
    password = empty;
    language = QStringLiteral("EN");
    timeZone = kDefaultTimeZoneSec;
    hostSmsCode = empty;
    voiceMode = kDefaultVoiceMode;
}

QVariant LoftInfo::getField(const QString &key) const
{
    Key k;
    if (!keys().find(key, &k))
        return QVariant();
    switch (k) {
    case Key::LoftNum: return loftNum;
    case Key::OwnerName: return ownerName;
    case Key::Street: return street;
    case Key::City: return city;
    case Key::PostCode: return postCode;
    case Key::PhoneNo: return phoneNo;
    case Key::Email: return email;
    case Key::LoftLon: return loftLon;
    case Key::LoftLat: return loftLat;
    case Key::ClubCode: return clubCode;
    case Key::ClubName: return clubName;
    case Key::ClubStreet: return clubStreet;
    case Key::ClubCity: return clubCity;
    case Key::ClubPostCode: return clubPostCode;
    case Key::AssocCode: return assocCode;
    case Key::HostIp: return hostIp;
    case Key::HostPath: return hostPath;
    case Key::Apn: return apn;
    case Key::NotifyMode: return notifyMode;
    case Key::UploadMode: return uploadMode;
    case Key::UploadInterval: return uploadInterval;
    case Key::Validate: return validate;
    case Key::Password: return emptyText(); // the password is never given out
    case Key::Language: return language;
    case Key::InitFlag: return !loftNum.isEmpty();
    case Key::TimeZone: return timeZone;
    case Key::HostSmsCode: return hostSmsCode;
    case Key::VoiceMode: return voiceMode;
    }
    return QVariant();
}

void LoftInfo::setField(const QString &key, const QVariant &value)
{
    Key k;
    if (!keys().find(key, &k))
        return;
    switch (k) {
    case Key::OwnerName: ownerName = value.toString(); break;
    case Key::Street: street = value.toString(); break;
    case Key::City: city = value.toString(); break;
    case Key::PostCode: postCode = value.toString(); break;
    case Key::PhoneNo: phoneNo = value.toString(); break;
    case Key::Email: email = value.toString(); break;
    case Key::LoftLon: loftLon = value.toString(); break;
    case Key::LoftLat: loftLat = value.toString(); break;
    case Key::ClubCode: clubCode = value.toString(); break;
    case Key::ClubName: clubName = value.toString(); break;
    case Key::ClubStreet: clubStreet = value.toString(); break;
    case Key::ClubCity: clubCity = value.toString(); break;
    case Key::ClubPostCode: clubPostCode = value.toString(); break;
    case Key::AssocCode: assocCode = value.toString(); break;
    case Key::HostIp: hostIp = value.toString(); break;
    case Key::HostPath: hostPath = value.toString(); break;
    case Key::Apn: apn = value.toString(); break;
    case Key::NotifyMode: notifyMode = value.toInt(); break;
    case Key::UploadMode: uploadMode = value.toInt(); break;
    case Key::UploadInterval: uploadInterval = value.toUInt(); break;
    case Key::Validate: validate = value.toLongLong(); break;
    case Key::Language: language = value.toString(); break;
    case Key::HostSmsCode: hostSmsCode = value.toString(); break;
    case Key::TimeZone:
        // The loft's zone is the program's zone: local-time texts change at once.
        timeZone = value.toInt();
        UTC::setTimeZone(timeZone);
        break;
    case Key::VoiceMode: voiceMode = value.toInt(); break;
    case Key::LoftNum:
    case Key::Password:
    case Key::InitFlag:
        break; // the loft number and password cannot be changed by key
    }
}
