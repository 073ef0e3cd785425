#pragma once

#include "gsm/gsmservicecallback.h"

#include <QList>
#include <QPair>

// Records the times a modem driver reports, with their source.
class TimeRecorder final : public TimeCallback
{
public:
    void onTime(qint64 utcMs, int source) override { times << qMakePair(utcMs, source); }
    QList<QPair<qint64, int>> times;
};
