#pragma once

#include <QList>
#include <QString>

// What Linux reports of a running process at one instant (/proc): CPU time,
// voluntary context switches (each one a sleep the thread woke from) and
// resident memory, for the whole process and thread by thread. Read from the
// benchmark's own thread; the process may be another one.
class ProcessSample
{
public:
    struct Thread
    {
        int tid = 0;
        QString name;
        double cpuMs = 0;
        qint64 wakeUps = 0;
    };

    static ProcessSample take(qint64 pid);

    bool valid = false;
    double cpuMs = 0;       // user and system time of every thread, ended ones too
    qint64 wakeUps = 0;     // summed over the threads alive now
    qint64 rssKib = 0;
    qint64 peakRssKib = 0;  // the kernel's high-water mark since the start
    qint64 takenNs = 0;     // monotonic
    bool preciseThreads = true; // the threads' times come from the scheduler (ns)
    QList<Thread> threads;
};

// The share of one core and the wake-ups per second between two samples of
// one process, with the threads that used the most, for the report.
struct ProcessLoad
{
    ProcessLoad(const ProcessSample &before, const ProcessSample &after);

    double wallMs = 0;
    double cpuPercent = 0;
    double wakeUpsPerSec = 0;
    QString threadReport; // one line per thread: name, CPU share, wake-ups/s
};
