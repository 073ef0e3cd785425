#include "nmeabuilder.h"

#include <cmath>

namespace {

// ddmm.mmmm (or dddmm.mmmm) from decimal degrees.
QByteArray degreesMinutes(double degrees, int degreeDigits)
{
    const double a = std::fabs(degrees);
    int whole = int(a);
    double minutes = (a - whole) * 60.0;
    if (minutes >= 59.99995) {
        minutes = 0;
        ++whole;
    }
    return QByteArray::number(whole).rightJustified(degreeDigits, '0')
        + QByteArray::number(minutes, 'f', 4).rightJustified(7, '0');
}

} // namespace

QByteArray NmeaBuilder::checksum(const QByteArray &body)
{
    uchar sum = 0;
    for (char c : body)
        sum ^= uchar(c);
    return QByteArray::number(sum, 16).toUpper().rightJustified(2, '0');
}

QByteArray NmeaBuilder::sentence(const QByteArray &body)
{
    return '$' + body + '*' + checksum(body);
}

QByteArray NmeaBuilder::rmc(const QDateTime &utc, double latDegrees, double lonDegrees, bool valid)
{
    const QDateTime t = utc.toUTC();
    QByteArray body = "GPRMC,";
    body += t.toString(QStringLiteral("hhmmss.zzz")).toLatin1() + ',';
    body += valid ? "A," : "V,";
    body += degreesMinutes(latDegrees, 2) + (latDegrees < 0 ? ",S," : ",N,");
    body += degreesMinutes(lonDegrees, 3) + (lonDegrees < 0 ? ",W," : ",E,");
    body += "0.0,0.0,";
    body += t.toString(QStringLiteral("ddMMyy")).toLatin1();
    body += ",,,A";
    return sentence(body);
}
