#pragma once

#include "club/morlanprotolprocess.h"
#include "race/pigeonbo.h"

#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <memory>

// What the club-link benchmarks share: a simulated root with its database,
// and the link thread measured against a thread that only sleeps in the
// same run, so that its CPU time reads as a ratio that holds on any machine.

// A fresh simulated root (device nodes under /dev, working directory
// /app/work) with the database opened in it; closed again at the end.
class BenchRoot
{
public:
    BenchRoot();
    ~BenchRoot();
    BenchRoot(const BenchRoot &) = delete;
    BenchRoot &operator=(const BenchRoot &) = delete;

    // The host path of a path under the simulated root.
    QString path(const QString &rootPath) const;

private:
    QTemporaryDir root;
};

// Time on the CPU of this process's threads whose name starts with prefix.
qint64 threadCpuNs(const QString &prefix);

// CPU milliseconds per wall second over one window.
struct LinkCpu
{
    double seconds = 0;
    double linkMs = 0;
    double sleeperMs = 0;
};

// The link thread on a node, with the reference sleeper and a PigeonBo
// published through the service factory; set link() up, then start() it.
// The destructor stops both threads.
class LinkUnderTest
{
public:
    explicit LinkUnderTest(const QString &node);
    ~LinkUnderTest();
    LinkUnderTest(const LinkUnderTest &) = delete;
    LinkUnderTest &operator=(const LinkUnderTest &) = delete;

    MorlanProtocolProcess &link() { return *process; }
    void start() { process->start(); }
    // Waits windowMs and returns what both threads used meanwhile.
    LinkCpu measure(int windowMs) const;

private:
    class Sleeper : public QThread
    {
    public:
        std::atomic<bool> stop{false};

    protected:
        void run() override;
    };

    PigeonBo bo;
    Sleeper sleeper;
    std::unique_ptr<MorlanProtocolProcess> process;
};
