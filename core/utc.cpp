#include "core/utc.h"

#include "core/platform.h"
#include "device/SDKHelp.h"
#include "device/hardware_control.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QTime>

std::atomic<qint64> UTC::_timeBase{0};
std::atomic<quint32> UTC::_syncId{0};
std::atomic<int> UTC::_timezone{0};
std::atomic<qint64> UTC::_clubTimeDiff{0};

namespace {

const char kOffsetFile[] = "/etc/timediff2";
constexpr int kRecordBytes = 16;
constexpr int kCrcBytes = 14;
// Changes this small are jitter of the time sources, not worth a record.
constexpr qint64 kDeadBandMs = 500;
// The ring-reader module that keeps a clock of its own.
constexpr int kClockModuleType = 0x4B31;
constexpr qint64 kDayMs = 86400000;

// Serialises every writer of the offset, the counter, the file and the hook.
QMutex &syncMutex()
{
    static QMutex mutex;
    return mutex;
}

UTC::RfHook &rfHook()
{
    static UTC::RfHook hook;
    return hook;
}

// Wrapping sums: the zone may be any int and the value any qint64, and an
// extreme pair must give a defined (if meaningless) result, never undefined
// behaviour.
qint64 wrapAdd(qint64 a, qint64 b)
{
    return static_cast<qint64>(static_cast<quint64>(a) + static_cast<quint64>(b));
}

qint64 zoneMs()
{
    return static_cast<qint64>(UTC::_timezone.load()) * 1000;
}

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days from 1970-01-01 to the first of the given month of the proleptic
// Gregorian calendar; a month outside 1..12 rolls into neighbouring years.
qint64 daysFromCivil(qint64 year, qint64 month)
{
    const qint64 yearsCarried = floorDiv(month - 1, 12);
    year += yearsCarried;
    month -= yearsCarried * 12;
    const qint64 y = month <= 2 ? year - 1 : year;
    const qint64 era = floorDiv(y, 400);
    const qint64 yoe = y - era * 400;
    const qint64 mp = (month + 9) % 12;
    const qint64 doy = (153 * mp + 2) / 5;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

QDateTime utcDateTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

// Calendar fields of the text read as UTC. An explicit zone, because read as
// host local time a wall-clock time inside the host's daylight-saving gap
// would not exist.
bool parseFields(const QString &text, const QString &fmt, qint64 *value)
{
    const QDateTime dateTime
        = QDateTime::fromString(text + QLatin1String(" UTC"), fmt + QLatin1String(" t"));
    if (!dateTime.isValid())
        return false;
    *value = dateTime.toMSecsSinceEpoch();
    return true;
}

QByteArray offsetRecord(qint64 offsetMs, quint32 syncId)
{
    unsigned char record[kRecordBytes] = {};
    SDKHelp::toBytes(static_cast<long long>(offsetMs), record);
    SDKHelp::toBytes(static_cast<unsigned int>(syncId), record + 8);
    const unsigned short crc = SDKHelp::crc16_ccitt(record, kCrcBytes);
    record[14] = static_cast<unsigned char>(crc & 0xFF);
    record[15] = static_cast<unsigned char>(crc >> 8);
    return QByteArray(reinterpret_cast<const char *>(record), kRecordBytes);
}

// Even counters go to slot 0, odd ones to slot 1, so the previous record
// survives a power cut while the newer one is written. ReadWrite, not
// WriteOnly: truncating would destroy the other slot. A failure is not
// reported: the offset in memory stands either way.
void writeOffsetRecord(qint64 offsetMs, quint32 syncId)
{
    QFile file(Platform::path(QLatin1String(kOffsetFile)));
    if (!file.open(QIODevice::ReadWrite))
        return;
    if ((syncId & 1u) && !file.seek(kRecordBytes))
        return;
    file.write(offsetRecord(offsetMs, syncId));
    file.close();
}

} // namespace

UTC::UTC(qint64 value)
    : ms(value)
{
}

UTC::UTC(int year, int month, int day, int hour, int minute, int second, int msec)
{
    const QDate date(year, month, day);
    const QTime time(hour, minute, second, msec);
    if (!date.isValid() || !time.isValid())
        return;
    const QDateTime dateTime(date, time, Qt::UTC);
    if (dateTime.isValid())
        ms = dateTime.toMSecsSinceEpoch();
}

void UTC::init()
{
    _timeBase = 0;
    _syncId = 0;
}

UTC UTC::now()
{
    return UTC(wrapAdd(Platform::systemClockMs(), _timeBase.load()));
}

UTC UTC::clubTime()
{
    return UTC(wrapAdd(now().value(), _clubTimeDiff.load()));
}

void UTC::setTimeZone(int seconds)
{
    _timezone = seconds;
}

void UTC::setTime(qint64 value, bool persist)
{
    QMutexLocker lock(&syncMutex());
    qint64 diff = 0;
    if (__builtin_sub_overflow(value, Platform::systemClockMs(), &diff))
        return; // no clock is that far off: a garbled time
    qint64 change = 0;
    if (!__builtin_sub_overflow(_timeBase.load(), diff, &change) && change >= -kDeadBandMs
        && change <= kDeadBandMs)
        return;

    const RfHook &hook = rfHook();
    const int rfType = hook.getRfDevType ? hook.getRfDevType() : 0;
    _timeBase = diff;
    if (rfType == kClockModuleType) {
        // That module keeps the time: it takes the new clock on its next poll
        // instead of the offset file.
        if (persist && hook.requestVerifyDevTime)
            hook.requestVerifyDevTime();
        return;
    }
    if (!persist)
        return;

    const quint32 id = ++_syncId;
    writeOffsetRecord(diff, id);
    HardwareControl::syncAll();
    qDebug() << "_syncId updated:" << id;
}

QString UTC::format(qint64 value, const QString &fmt)
{
    return utcDateTime(wrapAdd(value, zoneMs())).toString(fmt);
}

UTC UTC::parseUTC(const QString &text, const QString &fmt)
{
    qint64 value = 0;
    return UTC(parseFields(text, fmt, &value) ? value : 0);
}

UTC UTC::parseLocal(const QString &text, const QString &fmt)
{
    // The zone is subtracted, as in loadFromLocal, so this reads back what
    // format() wrote.
    qint64 value = 0;
    if (!parseFields(text, fmt, &value))
        return UTC(0);
    return UTC(wrapAdd(value, -zoneMs()));
}

UTC UTC::today()
{
    const qint64 zone = zoneMs();
    const qint64 local = wrapAdd(now().value(), zone);
    return UTC(wrapAdd(floorDiv(local, kDayMs) * kDayMs, -zone));
}

void UTC::setRfHook(const RfHook &hook)
{
    QMutexLocker lock(&syncMutex());
    rfHook() = hook;
}

void UTC::clearRfHook()
{
    QMutexLocker lock(&syncMutex());
    rfHook() = RfHook();
}

bool UTC::hasRfHook()
{
    QMutexLocker lock(&syncMutex());
    return bool(rfHook().getRfDevType);
}

void UTC::loadFromLocal(int year, int month, int day, int hour, int minute, int second, int msec)
{
    // Arithmetic rather than QDate, so 31 February lands in March and any
    // field overflow wraps deterministically instead of giving no date.
    const qint64 days = daysFromCivil(year, month) + (static_cast<qint64>(day) - 1);
    quint64 total = static_cast<quint64>(days) * static_cast<quint64>(kDayMs);
    total += static_cast<quint64>(static_cast<qint64>(hour) * 3600000);
    total += static_cast<quint64>(static_cast<qint64>(minute) * 60000);
    total += static_cast<quint64>(static_cast<qint64>(second) * 1000);
    total += static_cast<quint64>(static_cast<qint64>(msec));
    ms = wrapAdd(static_cast<qint64>(total), -zoneMs());
}

QString UTC::format(const QString &fmt) const
{
    return format(ms, fmt);
}

qint64 UTC::localMs() const
{
    return wrapAdd(ms, zoneMs());
}

int UTC::year() const { return utcDateTime(localMs()).date().year(); }
int UTC::month() const { return utcDateTime(localMs()).date().month(); }
int UTC::day() const { return utcDateTime(localMs()).date().day(); }
int UTC::hour() const { return utcDateTime(localMs()).time().hour(); }
int UTC::minute() const { return utcDateTime(localMs()).time().minute(); }
int UTC::second() const { return utcDateTime(localMs()).time().second(); }
int UTC::millsecond() const { return utcDateTime(localMs()).time().msec(); }
int UTC::utcYear() const { return utcDateTime(ms).date().year(); }
int UTC::utcMonth() const { return utcDateTime(ms).date().month(); }
int UTC::utcDay() const { return utcDateTime(ms).date().day(); }
int UTC::utcHour() const { return utcDateTime(ms).time().hour(); }
int UTC::utcMinute() const { return utcDateTime(ms).time().minute(); }
int UTC::utcSecond() const { return utcDateTime(ms).time().second(); }
