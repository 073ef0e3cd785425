#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// The device's position as two fixes: the current one, online for 90 s, and
// the last valid one, usable for 15 min. A plain value: the modem thread keeps
// its own under its mutex and hands out copies. Ages are measured on the
// system clock, on which the modem stamps its fixes.
class LocationInfo
{
public:
    LocationInfo() = default;

    void init();
    bool isOnline() const;
    bool isValid() const;
    // The current fix while online, else the last valid one, else 0.
    int getLo() const;
    int getLa() const;
    // Marks the current fix as a GPS fault; the last valid fix stays.
    void gpsError();
    bool isError() const;

    // "E120°00'00",N31°00'00"" style text; truncating seconds.
    static QString toString(int lo, int la);
    // The text of getLo()/getLa(), or "--" without a valid fix.
    QString toString() const;

    int lo = 0;             // longitude, milliseconds of arc, negative west
    int la = 0;             // latitude, negative south
    qint64 time = 0;        // ms of the current fix; 0 none, negative a GPS fault
    int validLo = 0;
    int validLa = 0;
    qint64 validTime = 0;   // ms of the last valid fix; 0 none
};

Q_DECLARE_METATYPE(LocationInfo)
