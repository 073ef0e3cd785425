#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>

// The one loft and its settings. A plain value: the storage layer fills it,
// the race engine and the screens read it, and the PC link reads and writes
// it by key (getField/setField), comparing keys without regard to case.
class LoftInfo
{
public:
    LoftInfo();

    // Restores every field to its default.
    void init();

    QVariant getField(const QString &key) const;
    // Keys that may not change by key (loft number, password, "initFlag") and
    // unknown keys leave the record unchanged.
    void setField(const QString &key, const QVariant &value);

    QString loftNum;
    QString ownerName;
    QString street;
    QString city;
    QString postCode;
    QString phoneNo;
    QString email;
    QString loftLon;
    QString loftLat;
    QString clubCode;
    QString clubName;
    QString clubStreet;
    QString clubCity;
    QString clubPostCode;
    QString assocCode;
    QString hostIp;         // upload host
    QString hostPath;       // upload path
    QString apn;            // access point name of the modem
    int notifyMode = 0;
    int uploadMode = 0;
    unsigned int uploadInterval = 0; // ms
    qint64 validate = 0;
    QString password;
    QString language;
    int timeZone = 0;       // seconds east of UTC
    QString hostSmsCode;    // number of the SMS host
    int voiceMode = 0;
};

Q_DECLARE_METATYPE(LoftInfo)
