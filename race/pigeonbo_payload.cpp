#include "race/pigeonbo.h"

#include "core/jsonwriter.h"
#include "core/locationinfo.h"
#include "core/utc.h"
#include "storage/pigeoninfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QMutexLocker>
#include <QVariantList>
#include <QVariantMap>

// The texts the engine reports to the cloud service. Every one is written by
// the shared JSON writer, so the bytes signed are the bytes sent; the
// builders read the database and the caches and change nothing.

namespace {

const char kFirmware[] = "8.9.30";
const char kTrainingRaceCode[] = "0";
const char kTrainingLiberName[] = "train";
const char kMissingColor[] = "-";

constexpr int kFlagUploaded = 0x001;
constexpr int kFlagSmsSent = 0x004;
constexpr int kFlagSmsWanted = 0x008;
constexpr int kFlagGpsOnline = 0x020;
constexpr int kFlagGpsValid = 0x040;
constexpr int kFlagArrived = 0x080;
constexpr int kFlagTestPigeon = 0x100;

constexpr int kStateNetVerified = 0x01;
constexpr int kStateGpsOnline = 0x20;
constexpr int kStateGpsValid = 0x40;
constexpr quint8 kTimeModeNetVerified = 1;

QString text(const QByteArray &json)
{
    return QString::fromUtf8(json);
}

// The race of a record, looked up only for a basketed record: a pigeon taken
// out of a race keeps its code, and its training arrival is no race arrival.
QSharedPointer<RaceInfo> raceOfRecord(const PigeonRecord *record)
{
    if (record->markTime == 0)
        return {};
    return Storage::instance()->findRaceById(record->raceCode);
}

// The 19 fields of an arrival, typed: the line form writes them as text, the
// array form as JSON values.
QVariantList arrivalFields(const PigeonRecord *record, const QString &deviceId, const LoftInfo &loft)
{
    const QSharedPointer<PigeonInfo> pigeon = Storage::instance()->findPigeonById(record->assocNum);
    const QSharedPointer<RaceInfo> race = raceOfRecord(record);
    QVariantList f;
    f << deviceId;
    f << (race ? race->clubCode : loft.clubCode);
    f << (race ? race->raceCode : QString::fromLatin1(kTrainingRaceCode));
    f << record->assocNum << record->eringNum;
    f << record->randNumMarked << record->randNumberBack << record->backOrder;
    f << record->backTimeEring << record->backHomeLon << record->backHomeLat;
    f << PigeonBo::recordFlags(record, pigeon && pigeon->test);
    f << (race ? race->assocCode : loft.assocCode);
    f << (race ? race->liberName : QString::fromLatin1(kTrainingLiberName));
    f << record->uidBack << record->markOrder << PigeonBo::timeZoneMinutes();
    f << (pigeon ? pigeon->color : QString::fromLatin1(kMissingColor));
    f << (pigeon ? pigeon->sex : 0);
    return f;
}

} // namespace

int PigeonBo::recordFlags(const PigeonRecord *record, bool testPigeon)
{
    int flags = 0;
    if (record->eringUploadState)
        flags |= kFlagUploaded;
    if (record->smsSendState)
        flags |= kFlagSmsSent;
    if (record->needSms)
        flags |= kFlagSmsWanted;
    if (record->gpsOnLine)
        flags |= kFlagGpsOnline;
    if (record->gpsValid)
        flags |= kFlagGpsValid;
    if (record->backTimeEring != 0)
        flags |= kFlagArrived;
    if (testPigeon)
        flags |= kFlagTestPigeon;
    return flags;
}

int PigeonBo::timeZoneMinutes()
{
    return UTC::_timezone.load() / 60; // C++ division truncates toward zero
}

QString PigeonBo::toJsonMarkRecord(const PigeonRecord *record, const RaceInfo *race)
{
    const QVariantMap json{
        {QStringLiteral("assocCode"), race->assocCode},
        {QStringLiteral("assocNum"), record->assocNum},
        {QStringLiteral("clubCode"), race->clubCode},
        {QStringLiteral("deviceId"), getSystemId()},
        {QStringLiteral("eringNum"), record->eringNum},
        {QStringLiteral("liberCode"), race->liberCode},
        {QStringLiteral("liberTime"), race->liberTime},
        {QStringLiteral("markOrder"), record->markOrder},
        {QStringLiteral("markReaderId"), record->markReaderId},
        {QStringLiteral("markTime"), record->markTime},
        {QStringLiteral("raceCode"), race->raceCode},
        {QStringLiteral("randNumMarked"), record->randNumMarked},
        {QStringLiteral("timezone"), timeZoneMinutes()},
        {QStringLiteral("uidMarked"), record->uidMarked},
    };
    return text(JsonWriter::write(json));
}

QString PigeonBo::toJsonMarkRecordList(QList<QSharedPointer<PigeonRecord>> records, const RaceInfo *race)
{
    QVariantList list;
    for (const QSharedPointer<PigeonRecord> &r : records) {
        list << QVariantMap{
            {QStringLiteral("assocNum"), r->assocNum},
            {QStringLiteral("eringNum"), r->eringNum},
            {QStringLiteral("markOrder"), r->markOrder},
            {QStringLiteral("markReaderId"), r->markReaderId},
            {QStringLiteral("markTime"), r->markTime},
            {QStringLiteral("randNumMarked"), r->randNumMarked},
            {QStringLiteral("uidMarked"), r->uidMarked},
        };
    }
    const QVariantMap json{
        {QStringLiteral("assocCode"), race->assocCode},
        {QStringLiteral("clubCode"), race->clubCode},
        {QStringLiteral("deviceId"), getSystemId()},
        {QStringLiteral("liberCode"), race->liberCode},
        {QStringLiteral("liberTime"), race->liberTime},
        {QStringLiteral("raceCode"), race->raceCode},
        {QStringLiteral("records"), list},
        {QStringLiteral("timezone"), timeZoneMinutes()},
    };
    return text(JsonWriter::write(json));
}

QString PigeonBo::toJsonArriveData(const RaceInfo *race)
{
    const QVariantMap json{
        {QStringLiteral("assocCode"), race->assocCode},
        {QStringLiteral("clubArriveTime"), race->raceStopReaderTime},
        {QStringLiteral("clubCode"), race->clubCode},
        {QStringLiteral("deviceArriveTime"), race->raceStopDeviceTime},
        {QStringLiteral("deviceId"), getSystemId()},
        {QStringLiteral("liberCode"), race->liberCode},
        {QStringLiteral("liberName"), race->liberName},
        {QStringLiteral("liberTime"), race->liberTime},
        {QStringLiteral("loftNum"), getLoftInfo().loftNum},
        {QStringLiteral("markDeviceTime"), race->markDeviceTime},
        {QStringLiteral("markReaderTime"), race->markReaderTime},
        {QStringLiteral("raceCode"), race->raceCode},
        {QStringLiteral("timezone"), timeZoneMinutes()},
    };
    return text(JsonWriter::write(json));
}

QString PigeonBo::toJsonRecordList(QList<QSharedPointer<PigeonRecord>> records)
{
    const LoftInfo loftCopy = getLoftInfo();
    const QString deviceId = getSystemId();
    QVariantList lines;
    for (const QSharedPointer<PigeonRecord> &record : records) {
        const QVariantList fields = arrivalFields(record.data(), deviceId, loftCopy);
        // Numbers through the pattern "%1" of the engine's context; texts as
        // they are: a comma inside one shifts the line's fields, which the
        // receiving side has always taken.
        QStringList parts;
        for (const QVariant &field : fields) {
            if (field.typeId() == QMetaType::QString)
                parts << field.toString();
            else
                parts << tr("%1").arg(field.toLongLong());
        }
        lines << parts.join(QLatin1Char(','));
    }
    return text(JsonWriter::write(lines));
}

QString PigeonBo::toJsonRecord(const PigeonRecord *record)
{
    return text(JsonWriter::write(arrivalFields(record, getSystemId(), getLoftInfo())));
}

QString PigeonBo::makeJsonStateString()
{
    const LoftInfo loftCopy = getLoftInfo();
    QVariantList races;
    races << QVariantMap{
        {QStringLiteral("assocCode"), loftCopy.assocCode},
        {QStringLiteral("clubCode"), loftCopy.clubCode},
        {QStringLiteral("liberCode"), QString(QLatin1String(""))},
        {QStringLiteral("raceCode"), QString::fromLatin1(kTrainingRaceCode)},
        {QStringLiteral("valid"), 0},
    };
    for (const QSharedPointer<RaceInfo> &race : Storage::instance()->queryRaces(QString())) {
        races << QVariantMap{
            {QStringLiteral("assocCode"), race->assocCode},
            {QStringLiteral("clubCode"), race->clubCode},
            {QStringLiteral("liberCode"), race->liberCode},
            {QStringLiteral("raceCode"), race->raceCode},
            {QStringLiteral("valid"), race->valid},
        };
    }
    LocationInfo location;
    getGpsInfo(&location);
    int state = 0;
    {
        QMutexLocker lock(&mutex);
        if (timeMode.load() & kTimeModeNetVerified)
            state |= kStateNetVerified;
    }
    if (location.isOnline())
        state |= kStateGpsOnline;
    if (location.isValid())
        state |= kStateGpsValid;
    const QVariantMap json{
        {QStringLiteral("boardCount"), int(getChannels().size())},
        {QStringLiteral("deviceId"), getSystemId()},
        {QStringLiteral("deviceTime"), UTC::clubTime().value()},
        {QStringLiteral("firmware"), QString::fromLatin1(kFirmware)},
        {QStringLiteral("gpsLa"), location.getLa()},
        {QStringLiteral("gpsLo"), location.getLo()},
        {QStringLiteral("races"), races},
        {QStringLiteral("state"), state},
        {QStringLiteral("timeZone"), timeZoneMinutes()},
    };
    return text(JsonWriter::write(json));
}
