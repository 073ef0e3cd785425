#pragma once

#include <QString>
#include <QtGlobal>

// The fields of one $GPRMC sentence, as both RMC parsers (the modem drivers'
// and the stand-alone receiver's) read them. Coordinates go through
// GpsModule::formatToInt; the time is built from UTC calendar fields. Stateless.
struct NmeaRmc
{
    bool fixValid = false; // status field "A"
    int lon = 0;           // milliseconds of arc, east positive
    int lat = 0;           // milliseconds of arc, north positive
    int date = 0;          // ddmmyy as written, 0 when absent
    qint64 timeMs = 0;     // UTC of the fix; 0 without a date or with a field out of range

    // False for a sentence that is not $GPRMC, has fewer than 12 fields or
    // carries a "*hh" checksum that does not match.
    static bool parse(const QString &sentence, NmeaRmc *rmc);
    // True when the sentence has no "*" or its two hex digits match the XOR of
    // the characters between "$" and "*".
    static bool checksumOk(const QString &sentence);
};
