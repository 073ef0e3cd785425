#include "processsample.h"

#include <QDir>
#include <QFile>
#include <QMap>

#include <algorithm>
#include <chrono>

#include <unistd.h>

namespace {

QByteArray readProc(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// utime + stime of a /proc stat line, in ms. The name in parentheses may hold
// blanks, so the fields are counted from its closing parenthesis.
double cpuMsOfStat(const QByteArray &stat)
{
    const int close = int(stat.lastIndexOf(')'));
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // After the name: state is field 3 of the line, utime 14, stime 15.
    if (fields.size() < 13)
        return 0;
    const double ticks = fields.at(11).toDouble() + fields.at(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// The scheduler's own count of a thread's time on a CPU, in ns: finer than
// the clock ticks of stat, which matters for threads that mostly sleep.
double cpuMsOfSchedstat(const QByteArray &schedstat)
{
    return schedstat.split(' ').value(0).toDouble() / 1e6;
}

qint64 statusValue(const QByteArray &status, const char *key)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

ProcessSample ProcessSample::take(qint64 pid)
{
    ProcessSample sample;
    sample.takenNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    const QString base = QStringLiteral("/proc/%1").arg(pid);
    const QByteArray stat = readProc(base + QStringLiteral("/stat"));
    const QByteArray status = readProc(base + QStringLiteral("/status"));
    if (stat.isEmpty() || status.isEmpty())
        return sample;
    sample.valid = true;
    sample.cpuMs = cpuMsOfStat(stat);
    sample.rssKib = statusValue(status, "VmRSS:");
    sample.peakRssKib = statusValue(status, "VmHWM:");
    const QStringList tids = QDir(base + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tids) {
        const QString task = base + QStringLiteral("/task/") + tid;
        Thread thread;
        thread.tid = tid.toInt();
        thread.name = QString::fromUtf8(readProc(task + QStringLiteral("/comm"))).trimmed();
        const QByteArray schedstat = readProc(task + QStringLiteral("/schedstat"));
        sample.preciseThreads = sample.preciseThreads && !schedstat.isEmpty();
        thread.cpuMs = schedstat.isEmpty() ? cpuMsOfStat(readProc(task + QStringLiteral("/stat")))
                                           : cpuMsOfSchedstat(schedstat);
        thread.wakeUps = statusValue(readProc(task + QStringLiteral("/status")), "voluntary_ctxt_switches:");
        sample.wakeUps += thread.wakeUps;
        sample.threads << thread;
    }
    return sample;
}

ProcessLoad::ProcessLoad(const ProcessSample &before, const ProcessSample &after)
{
    wallMs = double(after.takenNs - before.takenNs) / 1e6;
    if (wallMs <= 0)
        return;
    QMap<int, ProcessSample::Thread> earlier;
    for (const ProcessSample::Thread &t : before.threads)
        earlier.insert(t.tid, t);
    qint64 wakeUps = 0;
    double threadCpuMs = 0;
    QList<ProcessSample::Thread> deltas;
    for (const ProcessSample::Thread &t : after.threads) {
        ProcessSample::Thread delta = t;
        if (earlier.contains(t.tid)) {
            delta.cpuMs -= earlier.value(t.tid).cpuMs;
            delta.wakeUps -= earlier.value(t.tid).wakeUps;
        }
        wakeUps += delta.wakeUps;
        threadCpuMs += delta.cpuMs;
        deltas << delta;
    }
    wakeUpsPerSec = double(wakeUps) * 1000.0 / wallMs;
    // The threads' scheduler times are the finer measure (a thread that ended
    // in between is missing from them; idle threads rarely end).
    cpuPercent = (after.preciseThreads ? threadCpuMs : after.cpuMs - before.cpuMs) * 100.0 / wallMs;
    std::sort(deltas.begin(), deltas.end(), [](const ProcessSample::Thread &a, const ProcessSample::Thread &b) {
        return a.wakeUps > b.wakeUps;
    });
    for (const ProcessSample::Thread &t : deltas) {
        threadReport += QStringLiteral("    %1 (%2): %3 % CPU, %4 wake-ups/s\n")
                            .arg(t.name, -16)
                            .arg(t.tid)
                            .arg(t.cpuMs * 100.0 / wallMs, 0, 'f', 3)
                            .arg(double(t.wakeUps) * 1000.0 / wallMs, 0, 'f', 1);
    }
}
