#include "core/locationinfo.h"

#include "core/platform.h"

#include <QCoreApplication>

namespace {

constexpr qint64 kOnlineMs = 90000;
constexpr qint64 kValidMs = 900000;
constexpr qint64 kDegreeMs = 3600000;
constexpr qint64 kMinuteMs = 60000;

// A fix stamped at fixMs is still fresh when at most maxAgeMs old; written so
// that no sum can overflow, whatever the stamp.
bool fresh(qint64 fixMs, qint64 maxAgeMs)
{
    return fixMs >= 1 && fixMs >= Platform::systemClockMs() - maxAgeMs;
}

// Degrees, the degree sign, then zero-padded minutes and seconds of a
// non-negative angle; the angle is 64-bit so that the smallest int negates.
QString angleText(qint64 angle)
{
    const qint64 degrees = angle / kDegreeMs;
    const qint64 minutes = (angle - degrees * kDegreeMs) / kMinuteMs;
    // The device's own arithmetic: it truncates, so 1000 ms show 00 seconds.
    const qint64 seconds = ((angle % kMinuteMs) / 6 * 60) / 10000;
    return QString::number(degrees) + QCoreApplication::translate("CommonResource", "°")
        + QString::asprintf("%02d'%02d\"", int(minutes), int(seconds));
}

} // namespace

void LocationInfo::init()
{
    *this = LocationInfo();
}

bool LocationInfo::isOnline() const
{
    return fresh(time, kOnlineMs);
}

bool LocationInfo::isValid() const
{
    return fresh(validTime, kValidMs);
}

int LocationInfo::getLo() const
{
    if (isOnline())
        return lo;
    return isValid() ? validLo : 0;
}

int LocationInfo::getLa() const
{
    if (isOnline())
        return la;
    return isValid() ? validLa : 0;
}

void LocationInfo::gpsError()
{
    lo = 0;
    la = 0;
    time = -1;
}

bool LocationInfo::isError() const
{
    return time < 0;
}

QString LocationInfo::toString(int lo, int la)
{
    const qint64 lon = lo;
    const qint64 lat = la;
    QString text = lon < 0 ? QStringLiteral("W") : QStringLiteral("E");
    text += angleText(lon < 0 ? -lon : lon);
    text += lat < 0 ? QStringLiteral(",S") : QStringLiteral(",N");
    text += angleText(lat < 0 ? -lat : lat);
    return text;
}

QString LocationInfo::toString() const
{
    if (!isValid())
        return QStringLiteral("--");
    return toString(getLo(), getLa());
}
