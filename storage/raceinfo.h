#pragma once

#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// A race: liberation, basketing and stop data and print state. A plain value
// carried between the storage layer, the race engine and the screens; the PC
// link reads and writes it by key (case-blind).
class RaceInfo
{
public:
    RaceInfo() = default;

    QVariant getField(const QString &key) const;
    // Members owned by basketing, stopping and printing are recognised and
    // ignored; "valid" and "backFlag" are refused; unknown keys change nothing.
    void setField(const QString &key, const QVariant &value);

    QString raceCode;
    QString raceName;
    QString clubCode;
    QString assocCode;
    int valid = 0;                  // race state code of the race engine
    QString liberCode;
    qint64 liberTime = 0;
    QString liberName;
    QString liberLon;
    QString liberLat;
    QString markReaderId;
    QString markAuthKey;
    qint64 markDeviceTime = 0;
    qint64 markReaderTime = 0;
    bool markPrintFlag = false;
    qint64 raceStopDeviceTime = 0;
    qint64 raceStopReaderTime = 0;
    bool backPrintFlag = false;
    QString backPrintReaderId;
    QString backPrintAuthKey;
    int printCount = 1;
    // Further keyed values, always under their canonical spelling:
    // "markUploadFlag" (bool), "markUploadedCount" (int), "nomination" (int).
    QVariantMap otherData;
};

Q_DECLARE_METATYPE(RaceInfo)
Q_DECLARE_METATYPE(QList<QSharedPointer<RaceInfo>>)
