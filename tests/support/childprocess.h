#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// One process of a simulated device (the program, a peer, a clock started by
// a power-cut test), its output collected as it comes. Line-oriented peers
// are read one line at a time from a cursor over that output. Used by the
// test's thread only; every wait is bounded by the caller's limit.
class ChildProcess
{
public:
    ChildProcess();
    virtual ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts the process afresh (what an earlier run wrote is dropped).
    bool start(const QString &program, const QStringList &args, const QProcessEnvironment &env = {},
               const QString &workDir = {});

    // Everything written since the start.
    QByteArray output();
    bool waitForOutput(const QByteArray &text, int limitMs);
    // The next whole line not read yet, without its end; a null text when
    // none came within limitMs or the process ended without one.
    QString readLine(int limitMs);
    // Skips lines until one starts with a prefix given; a null text when none
    // came within limitMs.
    QString readLineStarting(const QStringList &prefixes, int limitMs);

    bool waitForEnd(int limitMs);
    void write(const QByteArray &line);

    bool running() const;
    qint64 pid() const { return process.processId(); }
    bool endedNormally() const; // exited by itself with status 0

    // A power cut: SIGKILL, no chance to finish anything.
    void cut();
    // Asks it to end (SIGTERM), then cuts it when it does not.
    virtual void stop();

private:
    QProcess process;
    QByteArray collected;
    qsizetype lineCursor = 0;
};
