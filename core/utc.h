#pragma once

#include <QtGlobal>

// The device clock: the system clock plus a process-wide offset that each
// synchronisation moves. Readable from any thread.
class UTC
{
public:
    static void init();
    static qint64 now();
    static void setTimeZone(int seconds);
};
