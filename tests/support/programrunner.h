#pragma once

#include <QByteArray>
#include <QString>

class TestRoot;

// Runs the built program as a subprocess on a simulated root: offscreen, in
// the root's working directory, with a close port of its own and, when
// given, a time scale for its long device delays. Reads its debug output and
// exit status afterwards.
class ProgramRunner
{
public:
    explicit ProgramRunner(const TestRoot &root);

    void setTimeScale(const QString &factor);
    // Sends the close command until the program ends; false when it did not
    // end within limitMs.
    bool runUntilClosed(int limitMs);
    // Lets the program end by itself; false when it did not within limitMs.
    bool runUntilExit(int limitMs);

    int exitCode() const;   // -1 after a crash or a kill
    QByteArray output() const;
    qint64 elapsedMs() const;

    static QString programPath();

private:
    bool run(int limitMs, bool sendClose);

    const TestRoot &root;
    QString timeScale;
    QByteArray out;
    int code = -1;
    qint64 elapsed = 0;
};
