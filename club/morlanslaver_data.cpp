#include "club/morlanslaver.h"

#include "core/utc.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/recordkeys.h"
#include "storage/storage.h"

#include <QSet>

// The pigeon, race and record methods of the JSON service: working copies
// that gather a pigeon's or race's fields over several requests, query lists
// read entry by entry, and one cached race record.

namespace {

constexpr int kCodeNull = 0x500;
constexpr int kCodeIndex = 0x507;
constexpr int kCodeRace = 0x1202;

const QString kAssocNum = QStringLiteral("assocNum");
const QString kRaceCode = QStringLiteral("raceCode");
const QString kFields = QStringLiteral("fields");
const QString kIndex = QStringLiteral("index");
const QString kFilter = QStringLiteral("filter");

enum class PigeonKey { AssocNum, Uid, EringNum, Assigned, Valid, Test, AssocCode, Color, Year, Sex, RegNum, UpdateTime };

const RecordKeys<PigeonKey> &pigeonKeys()
{
    static const RecordKeys<PigeonKey> table({
        {"assocNum", PigeonKey::AssocNum}, {"uid", PigeonKey::Uid}, {"eringNum", PigeonKey::EringNum},
        {"assigned", PigeonKey::Assigned}, {"valid", PigeonKey::Valid}, {"test", PigeonKey::Test},
        {"assocCode", PigeonKey::AssocCode}, {"color", PigeonKey::Color}, {"year", PigeonKey::Year},
        {"sex", PigeonKey::Sex}, {"regNum", PigeonKey::RegNum}, {"updateTime", PigeonKey::UpdateTime},
    });
    return table;
}

QVariant pigeonField(const PigeonInfo &pigeon, const QString &name)
{
    PigeonKey key;
    if (!pigeonKeys().find(name, &key))
        return QVariant();
    switch (key) {
    case PigeonKey::AssocNum: return pigeon.assocNum;
    case PigeonKey::Uid: return pigeon.uid;
    case PigeonKey::EringNum: return pigeon.eringNum;
    case PigeonKey::Assigned: return !pigeon.eringNum.isEmpty();
    case PigeonKey::Valid: return pigeon.valid;
    case PigeonKey::Test: return pigeon.test;
    case PigeonKey::AssocCode: return pigeon.assocCode;
    case PigeonKey::Color: return pigeon.color;
    case PigeonKey::Year: return pigeon.year;
    case PigeonKey::Sex: return pigeon.sex;
    case PigeonKey::RegNum: return pigeon.regNum;
    case PigeonKey::UpdateTime: return pigeon.updateTime;
    }
    return QVariant();
}

// The key, the derived "assigned" and the time stamp are not the PC's to set.
void setPigeonField(PigeonInfo *pigeon, const QString &name, const QVariant &value)
{
    PigeonKey key;
    if (!pigeonKeys().find(name, &key))
        return;
    switch (key) {
    case PigeonKey::Uid: pigeon->uid = value.toString(); break;
    case PigeonKey::EringNum: pigeon->eringNum = value.toString(); break;
    case PigeonKey::Valid: pigeon->valid = value.toBool(); break;
    case PigeonKey::Test: pigeon->test = value.toBool(); break;
    case PigeonKey::AssocCode: pigeon->assocCode = value.toString(); break;
    case PigeonKey::Color: pigeon->color = value.toString(); break;
    case PigeonKey::Year: pigeon->year = value.toInt(); break;
    case PigeonKey::Sex: pigeon->sex = value.toInt(); break;
    case PigeonKey::RegNum: pigeon->regNum = value.toString(); break;
    case PigeonKey::AssocNum:
    case PigeonKey::Assigned:
    case PigeonKey::UpdateTime:
        break;
    }
}

// Record fields the PC may not see in each state of a record. Marking data
// stays hidden until the marked list is printed, arrival data until there is
// an arrival.
const QStringList &arrivalNames()
{
    static const QStringList names{
        QStringLiteral("randNumberBack"), QStringLiteral("backOrder"),      QStringLiteral("gpsValid"),
        QStringLiteral("gpsOnLine"),      QStringLiteral("backHomeLat"),    QStringLiteral("backHomeLon"),
        QStringLiteral("needSms"),        QStringLiteral("smsSendState"),   QStringLiteral("eringUploadState"),
        QStringLiteral("backTimeUid"),    QStringLiteral("uidValid"),       QStringLiteral("uidBack"),
        QStringLiteral("uidUploadState"),
    };
    return names;
}

QStringList unbasketedNames()
{
    return QStringList{QStringLiteral("randNumMarked"), QStringLiteral("uidMarked"), QStringLiteral("markReaderId"),
                       QStringLiteral("markAuthKey"),   QStringLiteral("backHome"),  QStringLiteral("backTimeEring")}
        + arrivalNames();
}

// Takes out every occurrence of each hidden name in any letter case: a PC
// that wrote "MarkTime", or a name twice, must not see what is hidden.
QStringList withoutHidden(const QStringList &fields, const QStringList &hidden)
{
    QSet<QString> folded;
    for (const QString &name : hidden)
        folded.insert(name.toCaseFolded());
    QStringList kept;
    for (const QString &name : fields) {
        if (!folded.contains(name.toCaseFolded()))
            kept.append(name);
    }
    return kept;
}

} // namespace

void MorlanSlaverHandler::flushCurrentPigeon(const QString &assocNum)
{
    if (currentPigeon && currentPigeon->assocNum == assocNum)
        return;
    currentPigeon = Storage::instance()->findPigeonById(assocNum);
    if (!currentPigeon) {
        currentPigeon = QSharedPointer<PigeonInfo>::create();
        currentPigeon->uid = emptyText();
        currentPigeon->assocCode = emptyText();
        currentPigeon->color = emptyText();
        currentPigeon->regNum = emptyText();
    }
    currentPigeon->assocNum = assocNum;
}

void MorlanSlaverHandler::savePigeon(const MorlanRequestPacket &request, QVariantMap &params)
{
    const bool save = !takeCacheFlag(params);
    const QString assocNum = fetchParam(params, kAssocNum).toString();
    params.remove(kAssocNum);
    if (assocNum.isEmpty()) {
        jsonResponseError(request, kCodeNull, QStringLiteral("AssocNum is null!"));
        return;
    }
    flushCurrentPigeon(assocNum);
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        setPigeonField(currentPigeon.data(), it.key(), it.value());
    currentPigeon->updateTime = UTC::clubTime().value();
    if (save)
        Storage::instance()->savePigeon(currentPigeon.data());
    jsonResponseOK(request, QVariant());
}

void MorlanSlaverHandler::deletePigeon(const MorlanRequestPacket &request, QVariantMap &params)
{
    clearCache();
    Storage::instance()->deletePigeon(fetchParam(params, kAssocNum).toString());
    jsonResponseOK(request, QVariant());
}

void MorlanSlaverHandler::queryPigeon(const MorlanRequestPacket &request, QVariantMap &params)
{
    // The filter is an SQL condition by protocol; Storage runs it so that it
    // can read the pigeon table and nothing else.
    pigeons = Storage::instance()->queryPigeonsFiltered(fetchParam(params, kFilter).toString());
    jsonResponseOK(request, int(pigeons.size()));
}

void MorlanSlaverHandler::getPigeonInfo(const MorlanRequestPacket &request, QVariantMap &params)
{
    const int index = fetchParam(params, kIndex).toInt();
    if (index < 0 || index >= pigeons.size()) {
        jsonResponseError(request, kCodeIndex, QStringLiteral("Index overflow!"));
        return;
    }
    const PigeonInfo &pigeon = *pigeons.at(index);
    QVariantMap result;
    for (const QString &name : fetchParam(params, kFields).toStringList())
        result.insert(name, pigeonField(pigeon, name));
    jsonResponseOK(request, result);
}

void MorlanSlaverHandler::flushCurrentRace(const QString &raceCode)
{
    if (currentRace && currentRace->raceCode == raceCode)
        return;
    currentRace = Storage::instance()->findRaceById(raceCode);
    if (!currentRace)
        currentRace = QSharedPointer<RaceInfo>::create();
    currentRace->raceCode = raceCode;
}

void MorlanSlaverHandler::saveRace(const MorlanRequestPacket &request, QVariantMap &params)
{
    const bool save = !takeCacheFlag(params);
    const QString raceCode = fetchParam(params, kRaceCode).toString();
    // Only the exact spelling is the key; "RaceCode" renames the copy below.
    params.remove(kRaceCode);
    if (raceCode.isEmpty()) {
        jsonResponseError(request, kCodeNull, QStringLiteral("RaceCode is null!"));
        return;
    }
    flushCurrentRace(raceCode);
    if (currentRace->markDeviceTime != 0 || currentRace->markReaderTime != 0) {
        jsonResponseError(request, kCodeNull, QStringLiteral("Race is marked!"));
        return;
    }
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        currentRace->setField(it.key(), it.value());
    if (save)
        Storage::instance()->saveRace(currentRace.data());
    jsonResponseOK(request, QVariant());
}

void MorlanSlaverHandler::deleteRace(const MorlanRequestPacket &request, QVariantMap &params)
{
    clearCache();
    Storage::instance()->deleteRace(fetchParam(params, kRaceCode).toString());
    jsonResponseOK(request, QVariant());
}

void MorlanSlaverHandler::queryRaces(const MorlanRequestPacket &request, QVariantMap &params)
{
    races = Storage::instance()->queryRacesFiltered(fetchParam(params, kFilter).toString());
    jsonResponseOK(request, int(races.size()));
}

void MorlanSlaverHandler::getRaceInfo(const MorlanRequestPacket &request, QVariantMap &params)
{
    const int index = fetchParam(params, kIndex).toInt();
    if (index < 0 || index >= races.size()) {
        jsonResponseError(request, kCodeIndex, QStringLiteral("Index overflow!"));
        return;
    }
    const RaceInfo &race = *races.at(index);
    QVariantMap result;
    for (const QString &name : fetchParam(params, kFields).toStringList())
        result.insert(name, race.getField(name));
    jsonResponseOK(request, result);
}

bool MorlanSlaverHandler::readRecord(const QString &assocNum)
{
    // The cached record is never re-read: PC programs page through one
    // pigeon's fields without the record moving under them.
    if (currentRecord && currentRecord->assocNum == assocNum)
        return false;
    currentRecord = Storage::instance()->findRecordById(assocNum);
    return true;
}

bool MorlanSlaverHandler::racePrinted(const QString &raceCode)
{
    const QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(raceCode);
    return race && race->markPrintFlag;
}

void MorlanSlaverHandler::queryRaceRecord(const MorlanRequestPacket &request, QVariantMap &params)
{
    if (readRecord(fetchParam(params, kAssocNum).toString())) {
        if (!currentRecord) {
            jsonResponseError(request, kCodeIndex, QStringLiteral("Race record not exist!"));
            return;
        }
        currentRecord->fillMarkOrder();
    }
    const PigeonRecord &record = *currentRecord;
    QStringList hidden;
    if (record.markTime == 0)
        hidden = unbasketedNames();
    else if (!racePrinted(record.raceCode))
        hidden = unbasketedNames() << QStringLiteral("markTime");
    else if (record.backTimeEring == 0)
        hidden = arrivalNames();
    else if (record.backTimeUid == 0)
        hidden = QStringList{QStringLiteral("uidBack"), QStringLiteral("uidUploadState")};
    QVariantMap result;
    for (const QString &name : withoutHidden(fetchParam(params, kFields).toStringList(), hidden))
        result.insert(name, record.getField(name));
    jsonResponseOK(request, result);
}

void MorlanSlaverHandler::queryRaceCode(const MorlanRequestPacket &request, QVariantMap &params)
{
    readRecord(fetchParam(params, kAssocNum).toString());
    if (!currentRecord) {
        jsonResponseError(request, kCodeIndex, QStringLiteral("Race record not exist!"));
        return;
    }
    if (currentRecord->markTime != 0) {
        const QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(currentRecord->raceCode);
        if (!race) {
            jsonResponseError(request, kCodeRace, QStringLiteral("Race invalid!"));
            return;
        }
        if (!race->markPrintFlag) {
            jsonResponseError(request, kCodeRace, QStringLiteral("Mark records must print first!"));
            return;
        }
    }
    jsonResponseOK(request, currentRecord->raceCode);
}
