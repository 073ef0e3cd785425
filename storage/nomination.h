#pragma once

#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>

// A pigeon's nomination number in a race. A plain value built by the storage
// layer.
class Nomination
{
public:
    QString assocNum;
    QString raceCode;
    int nom = 0;        // the nomination number
};

Q_DECLARE_METATYPE(Nomination)
