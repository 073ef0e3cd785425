#pragma once

#include <QByteArray>
#include <QDateTime>

// Builds NMEA 0183 sentences for the peers, from the wire format alone:
// "$" + body + "*" + two hex digits of the XOR of the body's bytes.
class NmeaBuilder
{
public:
    // "$<body>*hh" without a line end.
    static QByteArray sentence(const QByteArray &body);
    static QByteArray checksum(const QByteArray &body);
    // A $GPRMC sentence for a fix at the given UTC time; coordinates in
    // decimal degrees (south and west negative); valid gives status A, else V.
    static QByteArray rmc(const QDateTime &utc, double latDegrees, double lonDegrees, bool valid = true);
};
