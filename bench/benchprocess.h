#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// A program the benchmark starts and times from outside, as the device's
// start script would: the time from the start to a line of its debug output,
// and from the close datagram to its end. Lives in the benchmark's main
// thread, which blocks in bounded waits; the process is killed if it is
// still running when this object goes.
class BenchProcess
{
public:
    BenchProcess(const QString &program, const QStringList &arguments, const QString &workDir,
                 const QProcessEnvironment &environment);
    ~BenchProcess();

    // Sends the output to a file instead (peers, whose output nobody reads).
    void redirectTo(const QString &file);
    bool start();
    // Milliseconds from the start to the first output line holding marker;
    // negative when it did not come within limitMs or the process ended.
    double waitForLine(const QByteArray &marker, int limitMs);
    // Keeps the output drained while the process runs; false when it ended.
    bool runFor(int ms);
    // Sends the close command to the port and returns the milliseconds until
    // the process ended; negative when it did not end within limitMs (it is
    // then killed).
    double closeAndWait(quint16 port, int limitMs);
    // SIGTERM, then a kill past limitMs.
    void stop(int limitMs);

    qint64 pid() const;
    bool isRunning() const;
    QByteArray output() const;
    QByteArray outputTail(int lines) const;

    // A free UDP port on the loopback, for one program's close command.
    static quint16 freePort();

private:
    void drain();

    std::unique_ptr<QProcess> process;
    QString programPath;
    QByteArray out;
    qint64 startedNs = 0;
};
