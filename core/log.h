#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QVariant>

// One entry of the event log: id, type code, time and a JSON details text.
// A plain value built by the storage layer; the PC link reads it by key
// (keys exact), the screens show its type name and display text.
class Log
{
public:
    Log();

    // The English name of the type code, never translated.
    QString getTypeString() const;

    QVariant getField(const QString &key) const;
    void setField(const QString &key, const QVariant &value);
    // Each key in list order; a repeated key keeps the last lookup.
    QMap<QString, QVariant> getFields(const QList<QString> &keys) const;
    void setFields(const QMap<QString, QVariant> &fields);

    // The details, a line feed, and for a time correction or a deleted race
    // the times it names, in local time.
    QString toDisplayText() const;

    qint64 logId = 0;
    int logType = 0;
    qint64 logTime = 0;     // device-clock ms of the entry
    QString logInfo;        // details, a JSON object text
};

Q_DECLARE_METATYPE(Log)
Q_DECLARE_METATYPE(QList<QSharedPointer<Log>>)
