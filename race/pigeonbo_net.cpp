#include "race/pigeonbo.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "gsm/gsmmodule.h"
#include "gsm/gsmservice.h"
#include "gsm/jsonservice.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QMutexLocker>

#include <functional>

// The engine's turns of the modem thread: what to upload and what to send
// by SMS. Progress lives in the database only (record flags, the race's
// "markUploadedCount", smsSendState), so a failed turn leaves the failing
// item as it was and the next turn starts again from it.

namespace {

constexpr int kSent = 0;
constexpr int kNothing = 1;
constexpr int kFailed = 2;
constexpr int kModemFailed = -1;

constexpr int kModeRaceSms = 0x02;
constexpr int kModeTrainingSms = 0x04;
constexpr int kModeState = 0x10;
constexpr int kModeRaceUpload = 0x20;
constexpr int kModeTrainingUpload = 0x40;
constexpr unsigned int kMinStateIntervalMs = 15000;
constexpr unsigned int kFiveRecordsFlag = 0x200;
constexpr int kBatchOfFive = 5;
constexpr int kRaceRunning = 3;

const char kTestSmsText[] = "Quarvelo W5 SMS Test OK!";

const char kRaceArrivalsUidUnsent[] = "markTime<>0 AND backTimeUid<>0 AND uidUploadState=0";
const char kRaceArrivalsRingUnsent[] = "markTime<>0 AND backTimeEring<>0 AND eringUploadState=0";
const char kTrainingArrivalsUnsent[] = "markTime=0 AND backTimeEring<>0 AND eringUploadState=0";
// The record SMS skip in code what has nothing new to send (uid sent, or
// ring sent without a uid); the queries leave those out already.
const char kRaceSmsRecords[] =
    "markTime<>0 AND backTimeEring<>0 AND uidUploadState=0 AND (eringUploadState=0 OR backTimeUid<>0)";
const char kTrainingSmsRecords[] = "markTime=0 AND backTimeEring<>0 AND eringUploadState=0";

// The debug lines of one upload's caught exceptions.
struct Catches {
    const char *gsm;
    const char *vex;
    const char *unknown;
};

bool markUploadOff(const RaceInfo &race)
{
    return race.getField(QStringLiteral("markUploadFlag")).toBool();
}

void closeQuietly(GsmModule *gsm)
{
    // A close that fails after a failure adds nothing to report.
    try {
        gsm->closeSocket();
    } catch (...) {
    }
}

// One exchange on a socket to the upload host: opened first, closed on every
// way out; a modem failure gives -1, any other failure 2.
int onSocket(GSMService *service, const QString &host, const Catches &texts, const std::function<void()> &send)
{
    GsmModule *gsm = service->getGsmModule();
    if (!gsm)
        return kFailed;
    try {
        if (!gsm->openSocket(host.toLatin1())) {
            ServiceFactory::debug(QStringLiteral("Connect '") + host + QStringLiteral("' failed!"));
            closeQuietly(gsm);
            return kFailed;
        }
        send();
        gsm->closeSocket();
        return kSent;
    } catch (const GsmException &) {
        ServiceFactory::debug(QLatin1String(texts.gsm));
        closeQuietly(gsm);
        return kModemFailed;
    } catch (const VexException &) {
        ServiceFactory::debug(QLatin1String(texts.vex));
        closeQuietly(gsm);
        return kFailed;
    } catch (...) {
        ServiceFactory::debug(QLatin1String(texts.unknown));
        closeQuietly(gsm);
        return kFailed;
    }
}

// Folds one step's result into a turn's: a failure ends the turn, a sent
// item makes it a sending turn, nothing to do changes nothing.
bool fold(int step, int *result)
{
    if (step == kSent)
        *result = kSent;
    return step == kSent || step == kNothing;
}

} // namespace

int PigeonBo::doGprsEvent(GSMService *service)
{
    if (getHostIP().isEmpty())
        return kNothing;
    int state = 0;
    QString method;
    QString params;
    {
        QMutexLocker lock(&mutex);
        if (mailboxState == kMailboxPosted)
            mailboxState = kMailboxTaken;
        state = mailboxState;
        method = mailboxMethod;
        params = mailboxParams;
    }
    if (state == kMailboxTaken) {
        lastStateUpload = UTC::now().value(); // the state report waits a full interval
        QVariant reply;
        const int result = doSecuritySMD(service, method, params, &reply);
        QMutexLocker lock(&mutex);
        // A caller that gave up meanwhile has set the slot idle: the late
        // outcome is dropped.
        if (mailboxState == kMailboxTaken)
            mailboxState = result == kSent ? kMailboxDone : kMailboxFailed;
        return result;
    }

    const LoftInfo loftCopy = getLoftInfo();
    if (loftCopy.uploadMode & kModeState) {
        const qint64 interval = qMax(loftCopy.uploadInterval, kMinStateIntervalMs);
        const qint64 now = UTC::now().value();
        if (now - lastStateUpload > interval || lastStateUpload - now > interval) {
            lastStateUpload = now;
            const int r = uploadJsonState(service);
            if (r != kSent)
                return r;
        }
    }
    const bool races = loftCopy.uploadMode & kModeRaceUpload;
    const bool training = loftCopy.uploadMode & kModeTrainingUpload;
    const int r = uploadMarkData(service, races, training);
    if (r != kSent && r != kNothing)
        return r;
    return uploadJsonRecords(service, races, training);
}

int PigeonBo::uploadJsonState(GSMService *service)
{
    const LoftInfo loftCopy = getLoftInfo();
    return onSocket(service, loftCopy.hostIp,
                    {"uploadJsonState GsmException", "uploadJsonState VexException", "uploadJsonState UnknowException!"},
                    [&] {
                        JsonService json(service);
                        json.sendState(loftCopy.loftNum.toLatin1(), loftCopy.password.toLatin1(),
                                       makeJsonStateString().toUtf8());
                    });
}

int PigeonBo::uploadMarkData(GSMService *service, bool races, bool)
{
    if (!races)
        return kNothing;
    const QList<QSharedPointer<RaceInfo>> all = Storage::instance()->queryRaces(QString());
    int result = kNothing;
    for (const QSharedPointer<RaceInfo> &race : all) {
        if (race->valid != kRaceRunning || markUploadOff(*race))
            continue;
        const int r = uploadRaceMarks(service, *race);
        if (!fold(r, &result))
            return r;
    }
    return result;
}

int PigeonBo::uploadRaceMarks(GSMService *service, const RaceInfo &race)
{
    Storage *storage = Storage::instance();
    const int sent = qMax(0, race.getField(QStringLiteral("markUploadedCount")).toInt());
    // Each second on a running race: a count, not its whole list, when all is sent.
    if (storage->getMarkedPigeonCount(race.raceCode) <= sent)
        return kNothing;
    // The count indexes this order: by basketing time, and among pigeons
    // basketed in the same millisecond by association number, so that a
    // resumed upload neither skips one nor sends one twice.
    const QList<QSharedPointer<PigeonRecord>> records =
        storage->findRecordsByRaceCode(race.raceCode, QStringLiteral("markTime,assocNum"));
    int result = kNothing;
    for (int i = sent; i < records.size(); ++i) {
        const QSharedPointer<PigeonRecord> &record = records.at(i);
        record->fillMarkOrder(); // only for the records sent, not every basketed one each second
        const int r = uploadMarkRecord2(service, toJsonMarkRecord(record.data(), &race));
        if (r != kSent)
            return r;
        result = kSent;
        // The race as it is now: one stopped, or switched to no live upload,
        // during the exchange is not written back from the old copy.
        QSharedPointer<RaceInfo> fresh = storage->findRaceById(race.raceCode);
        if (!fresh || fresh->valid != kRaceRunning || markUploadOff(*fresh))
            return result;
        fresh->setField(QStringLiteral("markUploadedCount"), i + 1);
        storage->saveRace(fresh.data());
    }
    return result;
}

int PigeonBo::uploadMarkRecord2(GSMService *service, QString json)
{
    const LoftInfo loftCopy = getLoftInfo();
    return onSocket(service, loftCopy.hostIp,
                    {"uploadMarkRecord2 GsmException!", "uploadMarkRecord2 VexException",
                     "uploadMarkRecord2 UnknowException!"},
                    [&] {
                        JsonService rpc(service);
                        rpc.sendMarkRecord(loftCopy.loftNum.toLatin1(), loftCopy.password.toLatin1(), json.toUtf8());
                    });
}

int PigeonBo::uploadJsonRecords(GSMService *service, bool races, bool training)
{
    int result = kNothing;
    if (races) {
        for (const char *where : {kRaceArrivalsUidUnsent, kRaceArrivalsRingUnsent}) {
            const int r = uploadArrivals(service, QLatin1String(where), true);
            if (!fold(r, &result))
                return r;
        }
    }
    if (training) {
        const int r = uploadArrivals(service, QLatin1String(kTrainingArrivalsUnsent), false);
        if (!fold(r, &result))
            return r;
    }
    return result;
}

int PigeonBo::uploadArrivals(GSMService *service, const QString &where, bool fillOrder)
{
    const int batchSize = HardwareControl::hasFlag(kFiveRecordsFlag) ? kBatchOfFive : 1;
    const QList<QSharedPointer<PigeonRecord>> records = Storage::instance()->queryRecords(where, QString());
    if (records.isEmpty())
        return kNothing;
    QList<QSharedPointer<PigeonRecord>> batch;
    for (int i = 0; i < records.size(); ++i) {
        const QSharedPointer<PigeonRecord> &record = records.at(i);
        if (fillOrder)
            record->fillMarkOrder();
        else
            record->markOrder = 0;
        batch << record;
        if (batch.size() == batchSize || i + 1 == records.size()) {
            const int r = uploadJsonRecordList(service, batch);
            if (r != kSent)
                return r;
            batch.clear();
        }
    }
    return kSent;
}

int PigeonBo::uploadJsonRecordList(GSMService *service, QList<QSharedPointer<PigeonRecord>> &records)
{
    const LoftInfo loftCopy = getLoftInfo();
    return onSocket(service, loftCopy.hostIp,
                    {"uploadJsonRecord GsmException!", "uploadJsonRecord VexException",
                     "uploadJsonRecord UnknowException!"},
                    [&] {
                        JsonService rpc(service);
                        rpc.sendRecordList(loftCopy.loftNum.toLatin1(), loftCopy.password.toLatin1(),
                                           toJsonRecordList(records).toUtf8(), loftCopy.ownerName);
                        Storage *storage = Storage::instance();
                        for (const QSharedPointer<PigeonRecord> &record : records) {
                            // Only the flags, and only on a row that still holds
                            // what was sent (never the whole copy taken before).
                            storage->markRecordUploaded(record->assocNum, record->backTimeEring, record->backTimeUid);
                            if (record->backTimeEring != 0)
                                record->eringUploadState = true;
                            if (record->backTimeUid != 0)
                                record->uidUploadState = true;
                            storage->logGprsUpload(record.data(), loftCopy.hostIp, loftCopy.hostPath);
                        }
                    });
}

int PigeonBo::doSecuritySMD(GSMService *service, QString method, QString params, QVariant *result)
{
    const LoftInfo loftCopy = getLoftInfo();
    return onSocket(service, loftCopy.hostIp,
                    {"doSecuritySMD GsmException!", "doSecuritySMD VexException", "doSecuritySMD UnknowException!"},
                    [&] {
                        JsonService rpc(service);
                        const QVariant reply = rpc.doMethodMac(method.toLatin1(), loftCopy.loftNum.toLatin1(),
                                                               loftCopy.password.toLatin1(), params.toUtf8(),
                                                               QString());
                        if (result)
                            *result = reply;
                    });
}

// --- the SMS turn ----------------------------------------------------------

int PigeonBo::doSmsEvent(GSMService *service)
{
    QByteArray testPhone;
    {
        QMutexLocker lock(&mutex);
        testPhone = testSmsPhone.toLatin1();
        testSmsPhone.clear();
    }
    // The driver is needed only for a send: without one a send fails.
    GsmModule *gsm = service->getGsmModule();
    if (!testPhone.isEmpty())
        return gsm && gsm->sendTXTSms(testPhone, kTestSmsText) ? kSent : kFailed;

    const LoftInfo loftCopy = getLoftInfo();
    int result = kNothing;
    if (!loftCopy.hostSmsCode.isEmpty()) {
        if ((loftCopy.uploadMode & (kModeRaceSms | kModeRaceUpload)) == kModeRaceSms) {
            const int r = sendSmsRecords(gsm, loftCopy, QLatin1String(kRaceSmsRecords), true);
            if (!fold(r, &result))
                return r;
        }
        if ((loftCopy.uploadMode & (kModeTrainingSms | kModeTrainingUpload)) == kModeTrainingSms) {
            const int r = sendSmsRecords(gsm, loftCopy, QLatin1String(kTrainingSmsRecords), false);
            if (!fold(r, &result))
                return r;
        }
    }
    const int r = sendNotifications(gsm);
    if (!fold(r, &result))
        return r;
    return result;
}

int PigeonBo::sendSmsRecords(GsmModule *gsm, const LoftInfo &loftCopy, const QString &where, bool fillOrder)
{
    const QList<QSharedPointer<PigeonRecord>> records =
        Storage::instance()->queryRecords(where, QStringLiteral("backTimeEring"));
    const QByteArray systemIdBytes = getSystemId().toLatin1();
    const QByteArray password = loftCopy.password.toLatin1();
    int result = kNothing;
    for (const QSharedPointer<PigeonRecord> &record : records) {
        if (record->uidUploadState || (record->eringUploadState && record->backTimeUid == 0))
            continue; // nothing new to send
        if (fillOrder)
            record->fillMarkOrder();
        else
            record->markOrder = 0;
        // 1: too long for one SMS; skipped so that it holds back no other.
        const int r = uploadSmsRecord(gsm, loftCopy.hostSmsCode, systemIdBytes, password, record.data());
        if (!fold(r, &result))
            return r;
    }
    return result;
}

int PigeonBo::sendNotifications(GsmModule *gsm)
{
    QList<QString> phones = getNotifyPhones();
    phones.removeIf([](const QString &phone) { return phone.isEmpty(); });
    // Without a phone there is nothing to send: a turn that sends nothing
    // must not report a sending turn.
    if (phones.isEmpty())
        return kNothing;
    const qint8 highest = qint8(ServiceFactory::getParamInt32(QStringLiteral("cmbSMSNotifyNum"), 1) & 0xFF);
    QString where = QStringLiteral("NeedSms<>0 AND SmsSendState=0");
    if (highest >= 0)
        where += QStringLiteral(" AND BackOrder<=%1").arg(highest);
    const QList<QSharedPointer<PigeonRecord>> records =
        Storage::instance()->queryRecords(where, QStringLiteral("backTimeEring"));
    int result = kNothing;
    for (const QSharedPointer<PigeonRecord> &record : records) {
        const int r = uploadSmsNotify(gsm, phones, record.data());
        if (!fold(r, &result))
            return r;
    }
    return result;
}
