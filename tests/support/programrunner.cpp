#include "programrunner.h"

#include "childdeath.h"
#include "programprocess.h"
#include "testroot.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QUdpSocket>

namespace {
constexpr int kStartLimitMs = 5000;
constexpr int kKillLimitMs = 2000;
constexpr int kPollMs = 100;
// The window binds the port once it is built; datagrams before are lost.
constexpr int kFirstCloseMs = 300;
}

ProgramRunner::ProgramRunner(const TestRoot &testRoot)
    : root(testRoot)
{
}

QString ProgramRunner::programPath()
{
    return ProgramProcess::programPath();
}

void ProgramRunner::setTimeScale(const QString &factor)
{
    timeScale = factor;
}

bool ProgramRunner::runUntilClosed(int limitMs)
{
    return run(limitMs, true);
}

bool ProgramRunner::runUntilExit(int limitMs)
{
    return run(limitMs, false);
}

bool ProgramRunner::run(int limitMs, bool sendClose)
{
    QProcess program;
    quint16 port = 0;
    const QProcessEnvironment env = ProgramProcess::environment(root, timeScale, &port);
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(root.workDir());
    program.setProcessChannelMode(QProcess::MergedChannels);
    dieWithTest(program);
    program.start(programPath(), {});
    if (!program.waitForStarted(kStartLimitMs))
        return false;

    QUdpSocket socket;
    QElapsedTimer timer;
    timer.start();
    while (program.state() != QProcess::NotRunning && timer.elapsed() < limitMs) {
        if (sendClose && timer.elapsed() > kFirstCloseMs)
            socket.writeDatagram("brellium:close", QHostAddress::LocalHost, port);
        program.waitForFinished(kPollMs);
    }
    elapsed = timer.elapsed();
    const bool ended = program.state() == QProcess::NotRunning;
    if (!ended) {
        program.kill();
        program.waitForFinished(kKillLimitMs);
    }
    out = program.readAll();
    code = (ended && program.exitStatus() == QProcess::NormalExit) ? program.exitCode() : -1;
    return ended;
}

int ProgramRunner::exitCode() const { return code; }
QByteArray ProgramRunner::output() const { return out; }
qint64 ProgramRunner::elapsedMs() const { return elapsed; }
