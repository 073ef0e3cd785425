#pragma once

#include "childprocess.h"

class TestRoot;

// The inner ring-reader module peer as a process of its own on a simulated
// root, as the simulated device runs it, with its orders sent over the
// peer's control socket under the root ("tag RING", "stats", "quit").
class ModulePeerProcess : public ChildProcess
{
public:
    explicit ModulePeerProcess(const TestRoot &root);
    ~ModulePeerProcess() override;

    // Starts it and waits until it takes orders.
    bool start();
    // One order; the answer line, or a null text when none came.
    QString order(const QString &line) const;
    // One figure of the "stats" answer ("exchange", "getTag", "startRace"),
    // -1 when the peer did not answer.
    int stat(const QString &name) const;
    // Waits until the clock has polled the module `polls` more times, while
    // `program` (when given) keeps running.
    bool waitForPolls(int polls, int limitMs, const ChildProcess *program = nullptr) const;
    // Ends the peer with the quit order; false when it did not end.
    bool quit();
    void stop() override;

    static QString order(const TestRoot &root, const QString &line);
    static int statValue(const QString &stats, const QString &name);

private:
    const TestRoot &root;
};
