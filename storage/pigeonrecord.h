#pragma once

#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QVariant>

class RaceInfo;

// The race state of one pigeon: basketing, arrival and upload flags. A plain
// value carried between the storage layer, the race engine and the screens;
// the PC link reads it by key (case-blind).
class PigeonRecord
{
public:
    PigeonRecord();

    QVariant getField(const QString &key) const;

    // The marking order: 0 when not basketed; in a race with nominations the
    // pigeon's nomination number (0 without one); otherwise 1 + the pigeons
    // of its race basketed strictly earlier. Worked out on the calling
    // thread's database connection; never stored.
    void fillMarkOrder();
    // Baskets the pigeon for a race at the club: the mark's fields from the
    // race's marking reader, and no arrival or notification state left over.
    void markFor(const RaceInfo &race, qint64 markTime, int randNum);
    // Fills every record of the list, in list order. The list shares its
    // records, so every holder sees the orders.
    static void fillMarkOrder(const QList<QSharedPointer<PigeonRecord>> &records);
    // When the first record's race has nominations: by order, ascending, the
    // records without one (0) last, equal orders in their given order.
    // Otherwise the list stays as it is.
    static void sortByMarkOrder(QList<QSharedPointer<PigeonRecord>> &records);

    QString assocNum;               // null by default
    QString eringNum;               // empty by default: stored NOT NULL
    qint64 backTimeEring = 0;       // arrival time by the ring reading
    int randNumberBack = 0;         // random number read at arrival
    qint64 backTimeUid = 0;         // arrival time by the uid reading
    QString uidBack;                // uid read at arrival
    int backOrder = 0;              // arrival order
    bool gpsValid = false;
    bool gpsOnLine = false;
    int backHomeLat = 0;            // latitude at arrival, milliseconds of arc
    int backHomeLon = 0;            // longitude at arrival, milliseconds of arc
    bool needSms = false;
    bool smsSendState = false;
    bool eringUploadState = false;
    bool uidUploadState = false;
    qint64 markTime = 0;            // basketing time
    QString raceCode;               // race code, or "train" for a training flight
    int randNumMarked = 0;          // random number given at basketing
    QString uidMarked;
    QString markReaderId;
    QString markAuthKey;
    int markOrder = 0;              // marking order: computed, not stored
};

Q_DECLARE_METATYPE(PigeonRecord)
Q_DECLARE_METATYPE(QList<QSharedPointer<PigeonRecord>>)
