#include "programprocess.h"

#include "testroot.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QUdpSocket>

namespace {
constexpr int kClosePollMs = 300;
constexpr int kStopLimitMs = 10000;
} // namespace

ProgramProcess::ProgramProcess(const TestRoot &testRoot)
    : root(testRoot)
{
}

ProgramProcess::~ProgramProcess()
{
    ProgramProcess::stop();
}

void ProgramProcess::setTimeScale(const QString &factor)
{
    timeScale = factor;
}

QString ProgramProcess::programPath()
{
    return qEnvironmentVariable("BRELLIUM_BUILD_DIR") + QStringLiteral("/brellium");
}

QProcessEnvironment ProgramProcess::environment(const TestRoot &root, const QString &timeScale, quint16 *closePort)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CLOCK_ROOT"), root.root());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!timeScale.isEmpty())
        env.insert(QStringLiteral("BRELLIUM_TIME_SCALE"), timeScale);
    // Qt's runtime folder inside the root, not in the host's /tmp.
    const QString runtime = root.path(QStringLiteral("/run/xdg"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    QUdpSocket probe; // a close port of our own, never the device's
    probe.bind(QHostAddress::LocalHost, 0);
    *closePort = probe.localPort();
    env.insert(QStringLiteral("BRELLIUM_CLOSE_PORT"), QString::number(*closePort));
    return env;
}

bool ProgramProcess::start()
{
    return ChildProcess::start(programPath(), {}, environment(root, timeScale, &closePort), root.workDir());
}

bool ProgramProcess::close(int limitMs)
{
    QUdpSocket socket;
    QElapsedTimer timer;
    timer.start();
    while (running() && timer.elapsed() < limitMs) {
        socket.writeDatagram("brellium:close", QHostAddress::LocalHost, closePort);
        waitForEnd(kClosePollMs);
    }
    return !running();
}

void ProgramProcess::stop()
{
    if (!close(kStopLimitMs))
        cut();
}
