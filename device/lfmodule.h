#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One ring reading from a reader: the landing antennas of the inner module
// and the club connector reader both deliver these.
struct LFTAG_INFO
{
    QString eRing;          // electronic ring number, 8 upper-case hex digits
    int randNum = 0;        // random number read with the ring
    QString uid;            // tag uid, 8 upper-case hex digits
    int stored = 0;         // 1: held by the connector before the first sync
    QString extId;          // further reader identifier, not interpreted
    qint64 time = 0;        // club time of the reading, ms since the epoch
};

// The state of one landing-antenna channel of the inner module.
struct LFCHANNEL_INFO
{
    QString id;             // serial number, 8 upper-case hex digits
    quint16 type = 0;       // antenna type word
    QString version;        // firmware version "%X.%02X"
    quint8 attr = 0;        // not interpreted
    quint8 status = 0;      // bit 7: channel in error
};

Q_DECLARE_METATYPE(LFTAG_INFO)
Q_DECLARE_METATYPE(LFCHANNEL_INFO)
