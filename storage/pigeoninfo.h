#pragma once

#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>

// A registered pigeon, as the storage layer builds it. A plain value with no
// accessors; lists travel as lists of shared pointers that nobody changes
// after handing them over.
class PigeonInfo
{
public:
    PigeonInfo();

    QString assocNum;   // association number, the key
    QString uid;        // tag uid
    QString eringNum;   // electronic ring number; stored NOT NULL, so never null
    bool valid = false;
    bool test = false;
    QString assocCode;
    QString color;
    int year = 0;
    int sex = 2;        // 2: not known
    QString regNum;
    qint64 updateTime = 0;
};

Q_DECLARE_METATYPE(PigeonInfo)
Q_DECLARE_METATYPE(QList<QSharedPointer<PigeonInfo>>)
