#pragma once

#include <QByteArray>
#include <QtGlobal>

// Figures read out of the answers of the Telit and EC25 modems, checked, so
// that a garbled answer gives a failure instead of a wrong figure: socket byte
// counts and cell-location degrees. Stateless.
class ModemAnswer
{
public:
    // The byte count of a socket read answer, as a decimal integer or (when
    // fractional) a decimal number truncated. A count that is no number,
    // negative or above maxBytes (what the read asked for) throws
    // GsmException 769 "GSM response err!": reading that many bytes would
    // run past the answer.
    static int byteCount(const QByteArray &text, bool fractional, int maxBytes);
    // Decimal degrees within -limit..limit to milliseconds of arc (truncated
    // toward zero, double precision); false for no number or out of range.
    static bool degrees(const QByteArray &text, double limit, int *arcMs);
    // A longitude and a latitude in decimal degrees to milliseconds of arc;
    // false, outputs untouched, when either is garbled: such a position
    // would be cached for a day.
    static bool position(const QByteArray &lonText, const QByteArray &latText, int *lon, int *lat);

    static constexpr double kMaxLongitude = 180.0;
    static constexpr double kMaxLatitude = 90.0;
};
