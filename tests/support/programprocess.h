#pragma once

#include "childprocess.h"

class TestRoot;

// The program as a process on a simulated root, as the simulated device runs
// it: offscreen, in the root's working directory, Qt's runtime folder inside
// the root, a close port of its own (so that parallel runs never close each
// other) and, when given, a time scale for its long device delays.
class ProgramProcess : public ChildProcess
{
public:
    explicit ProgramProcess(const TestRoot &root);
    ~ProgramProcess() override;

    void setTimeScale(const QString &factor);
    bool start();
    // Sends the close datagram until the program ends (the window binds its
    // port only once it is built); false when it did not end within limitMs.
    bool close(int limitMs);
    // Closes it, and cuts it when it does not end in time.
    void stop() override;

    // The environment of one run, with a fresh close port in *closePort.
    static QProcessEnvironment environment(const TestRoot &root, const QString &timeScale, quint16 *closePort);
    static QString programPath();

private:
    const TestRoot &root;
    QString timeScale;
    quint16 closePort = 0;
};
