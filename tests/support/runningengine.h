#pragma once

#include "storage/pigeonrecord.h"

#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <functional>

class PigeonBo;

// A real race engine in a thread of its own with its own event loop, as the
// service thread runs it: built there, configured by the test's setup, started
// and published through the service factory; withdrawn, with its database
// connection closed, when the loop ends. Records each pigeonBack at the moment
// it is emitted (right after the commit) and counts the readings handed in.
// Create and destroy it in one thread (the test's).
class RunningEngine : public QThread
{
public:
    using Setup = std::function<void(PigeonBo &)>;

    struct Back
    {
        PigeonRecord record;
        qint64 steadyNs = 0; // std::chrono::steady_clock at the signal
    };

    explicit RunningEngine(Setup setup = {});
    ~RunningEngine() override;

    // Starts the thread and waits until the engine runs and is published.
    bool startEngine();
    PigeonBo *engine() const { return bo.load(); }

    QList<Back> arrivals() const;
    int arrivalCount() const;
    bool waitForArrivals(int count, int timeoutMs) const;
    // tagScaned emissions so far: every reading handed to the engine.
    int readingsHanded() const { return handed.load(); }

protected:
    void run() override;

private:
    Setup setup;
    std::atomic<PigeonBo *> bo{nullptr};
    std::atomic<int> handed{0};
    QSemaphore ready;
    mutable QMutex mutex;
    mutable QWaitCondition arrived;
    QList<Back> backs;
};
