#pragma once

#include <QObject>

// A translation context for a few shared texts (the date-time format and the
// degree sign of positions); the texts are translated where they are used.
class CommonResource : public QObject
{
    Q_OBJECT
public:
    explicit CommonResource(QObject *parent = nullptr);
};
