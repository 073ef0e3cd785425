#include "race/pigeonbo.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "gsm/attext.h"
#include "gsm/gsmmodule.h"
#include "storage/pigeoninfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QCoreApplication>
#include <QCryptographicHash>

// The two SMS that leave the clock after an arrival, and the authentication
// code that the cloud calls and the record SMS carry. The loft password is
// key material only: it never travels.

namespace {

const char kRecordSmsPrefix[] = "FV5R:";
const char kNoRace[] = "0";
constexpr int kMacBytes = 4;
constexpr int kDigestBytes = 16;
// The sealing mask; only encrypt and decrypt know it.
constexpr char kSealMask = char(0x5A);

const char *const kLibTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");
const char *const kBackTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM hh:mm:ss");

QString hex(const char *format, unsigned int value)
{
    return QString::asprintf(format, value);
}

QByteArray digest(const QByteArray &key, const QByteArray &data)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(key);
    md5.addData(data);
    return md5.result();
}

QByteArray masked(const QByteArray &data)
{
    QByteArray out = data;
    for (char &c : out)
        c = char(c ^ kSealMask);
    return out;
}

// The clause that names one pigeon's record, its number quoted.
QString recordOf(const QString &assocNum)
{
    return QStringLiteral("assocNum=") + Storage::quoted(assocNum);
}

} // namespace

QByteArray PigeonBo::getMacW5(QByteArray text, QByteArray first, QByteArray second)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(first);
    md5.addData(second);
    md5.addData(text);
    return md5.result().left(kMacBytes);
}

QString PigeonBo::toSmsRecord(const PigeonRecord *record)
{
    const LoftInfo loftCopy = getLoftInfo();
    Storage *storage = Storage::instance();
    // Looked up only for a basketed record: a pigeon taken out of a race
    // keeps the race's code, and its training arrival is no race arrival.
    const QSharedPointer<RaceInfo> race =
        record->markTime != 0 ? storage->findRaceById(record->raceCode) : QSharedPointer<RaceInfo>();
    const QSharedPointer<PigeonInfo> pigeon = storage->findPigeonById(record->assocNum);
    const quint64 backTime = quint64(record->backTimeEring);

    QStringList f;
    f << loftCopy.loftNum << getSystemId();
    f << (race ? race->clubCode : loftCopy.clubCode);
    f << (race ? record->raceCode : QString::fromLatin1(kNoRace));
    f << (race ? race->liberName : QString::fromLatin1(kNoRace));
    f << (race ? race->assocCode : loftCopy.assocCode);
    f << record->assocNum << record->eringNum;
    f << hex("%02X", unsigned(record->randNumMarked)) << hex("%02X", unsigned(record->randNumberBack));
    f << QString::number(record->backOrder);
    // Two 32-bit halves: %X takes an unsigned 32-bit value.
    f << QString::asprintf("%08X%08X", unsigned(backTime >> 32), unsigned(backTime & 0xFFFFFFFFu));
    f << hex("%08X", unsigned(record->backHomeLon)) << hex("%08X", unsigned(record->backHomeLat));
    f << hex("%04X", unsigned(recordFlags(record, pigeon && pigeon->test)));
    f << record->uidBack << QString::number(record->markOrder) << QString::number(timeZoneMinutes());
    return f.join(QLatin1Char(','));
}

int PigeonBo::uploadSmsRecord(GsmModule *gsm, QString smsHost, QByteArray deviceId, QByteArray password,
                              const PigeonRecord *record)
{
    // Signed over exactly what goes on the air: the modem sends a text SMS
    // without its control characters (a tab in an association number from
    // the PC, say), so they leave before the code is computed.
    const QByteArray text = AtText::withoutControls(toSmsRecord(record).toLatin1());
    const QByteArray mac = getMacW5(text, deviceId, password);
    const QByteArray message = kRecordSmsPrefix + text + ',' + mac.toHex().toUpper();
    if (message.size() > kMaxSmsChars) {
        // Sent it would fail on every turn and hold back every later SMS.
        ServiceFactory::debug(QStringLiteral("Record SMS too long, not sent: ") + record->assocNum);
        return 1;
    }
    if (!gsm || !gsm->sendTXTSms(smsHost.toLatin1(), message))
        return 2;
    // Only while the row still holds the arrival that was sent: a reset or a
    // uid completed meanwhile is not overwritten.
    Storage *storage = Storage::instance();
    storage->markRecordUploaded(record->assocNum, record->backTimeEring, record->backTimeUid);
    storage->logSMSUpload(record, smsHost, QString::fromLatin1(message), 0);
    return 0;
}

QString PigeonBo::toUserSms(const PigeonRecord *record)
{
    Storage *storage = Storage::instance();
    const QSharedPointer<RaceInfo> race =
        record->markTime != 0 ? storage->findRaceById(record->raceCode) : QSharedPointer<RaceInfo>();
    QString sms = QStringLiteral("Order:%1,").arg(record->backOrder);
    if (race) {
        sms += QStringLiteral("Club:") + race->clubCode + QStringLiteral(",Lib Code:") + race->liberCode
            + QStringLiteral(",Lib Time:")
            + UTC::format(race->liberTime, QCoreApplication::translate("CommonResource", kLibTimePattern))
            + QStringLiteral(",Race:") + record->raceCode;
    } else {
        sms += QStringLiteral("Training");
    }
    sms += QStringLiteral(",Pigeon:") + record->assocNum + QStringLiteral(",Back Time:")
        + UTC::format(record->backTimeEring, QCoreApplication::translate("CommonResource", kBackTimePattern));
    return sms;
}

int PigeonBo::uploadSmsNotify(GsmModule *gsm, QList<QString> phones, const PigeonRecord *record)
{
    const QByteArray text = toUserSms(record).toLatin1();
    if (text.size() > kMaxSmsChars) {
        ServiceFactory::debug(QStringLiteral("Notification SMS too long, not sent: ") + record->assocNum);
        return 1;
    }
    Storage *storage = Storage::instance();
    for (const QString &phone : phones) {
        if (phone.isEmpty())
            continue;
        if (!gsm || !gsm->sendTXTSms(phone.toLatin1(), text))
            return 2;
        storage->modifyRecords(QStringLiteral("smsSendState=1"), recordOf(record->assocNum));
        storage->logNotifySMS(phone, QString::fromLatin1(text), 0);
    }
    return 0;
}

QByteArray PigeonBo::encrypt(QByteArray data, QByteArray key)
{
    return masked(data) + digest(key, data);
}

QByteArray PigeonBo::decrypt(QByteArray data, QByteArray key)
{
    if (data.size() < kDigestBytes)
        return QByteArray();
    const QByteArray candidate = masked(data.left(data.size() - kDigestBytes));
    if (digest(key, candidate) != data.right(kDigestBytes))
        return QByteArray();
    return candidate;
}

QByteArray PigeonBo::computeKey(const QByteArray &)
{
    return getLoftInfo().password.toLatin1();
}
