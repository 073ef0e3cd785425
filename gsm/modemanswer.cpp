#include "gsm/modemanswer.h"

#include "core/vexexception.h"
#include "gsm/gsmmodule.h"

#include <QString>

#include <cmath>

int ModemAnswer::byteCount(const QByteArray &text, bool fractional, int maxBytes)
{
    bool ok = false;
    double count = 0;
    if (fractional)
        count = std::trunc(text.trimmed().toDouble(&ok));
    else
        count = text.trimmed().toInt(&ok);
    if (!ok || !std::isfinite(count) || count < 0 || count > maxBytes)
        throw GsmException(769, QStringLiteral("GSM response err!"), QString());
    return int(count);
}

bool ModemAnswer::degrees(const QByteArray &text, double limit, int *arcMs)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < -limit || value > limit)
        return false;
    *arcMs = GsmModule::gsmLocToInt(value);
    return true;
}

bool ModemAnswer::position(const QByteArray &lonText, const QByteArray &latText, int *lon, int *lat)
{
    int east = 0;
    int north = 0;
    if (!degrees(lonText, kMaxLongitude, &east) || !degrees(latText, kMaxLatitude, &north))
        return false;
    *lon = east;
    *lat = north;
    return true;
}
