#include "gsm/nmearmc.h"

#include "gsm/gps.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>
#include <QTime>

namespace {

constexpr int kMinFields = 12;
constexpr int kMsPerSecond = 1000;

bool allDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// The fix time from "hhmmss[.fff]" and "ddmmyy". Qt 6 turns an invalid time
// into a valid midnight, so every field is checked before the value is built:
// a field out of range gives 0 rather than a wrong time.
qint64 fixTime(const QString &timeField, int date)
{
    if (date == 0)
        return 0;
    const QStringList parts = timeField.split(QLatin1Char('.'));
    if (!allDigits(parts.value(0)))
        return 0;
    const uint hhmmss = parts.value(0).toUInt();
    // The fraction is read as written (".50" is 50 ms); one that cannot be a
    // millisecond count counts as none.
    int ms = parts.size() > 1 ? parts.at(1).toInt() : 0;
    if (ms < 0 || ms >= kMsPerSecond)
        ms = 0;
    const QTime time(int(hhmmss / 10000), int(hhmmss / 100 % 100), int(hhmmss % 100), ms);
    const QDate day(2000 + date % 100, date / 100 % 100, date / 10000);
    if (!time.isValid() || !day.isValid())
        return 0;
    return QDateTime(day, time, Qt::UTC).toMSecsSinceEpoch();
}

} // namespace

bool NmeaRmc::checksumOk(const QString &sentence)
{
    const QString text = sentence.trimmed();
    const int star = text.lastIndexOf(QLatin1Char('*'));
    if (star < 0)
        return true;
    bool ok = false;
    const QString digits = text.mid(star + 1);
    const uint given = digits.toUInt(&ok, 16);
    if (!ok || digits.size() != 2)
        return false;
    const int first = text.startsWith(QLatin1Char('$')) ? 1 : 0;
    uint sum = 0;
    for (int i = first; i < star; ++i)
        sum ^= text.at(i).unicode() & 0xFF;
    return sum == given;
}

bool NmeaRmc::parse(const QString &sentence, NmeaRmc *rmc)
{
    const QStringList fields = sentence.split(QLatin1Char(','));
    if (fields.size() < kMinFields || fields.at(0).trimmed() != QLatin1String("$GPRMC"))
        return false;
    if (!checksumOk(sentence))
        return false;

    NmeaRmc out;
    out.fixValid = fields.at(2).trimmed() == QLatin1String("A");
    double latitude = fields.at(3).toDouble();
    if (fields.at(4).trimmed() == QLatin1String("S"))
        latitude = -latitude;
    double longitude = fields.at(5).toDouble();
    if (fields.at(6).trimmed() == QLatin1String("W"))
        longitude = -longitude;
    out.lat = GpsModule::formatToInt(latitude);
    out.lon = GpsModule::formatToInt(longitude);
    out.date = fields.at(9).trimmed().toInt();
    out.timeMs = fixTime(fields.at(1).trimmed(), out.date);
    *rmc = out;
    return true;
}
