#include "benchprocess.h"

#include <QElapsedTimer>
#include <QUdpSocket>

#include <chrono>

namespace {

// The longest single block in a wait, so that the output keeps flowing.
constexpr int kSliceMs = 50;
constexpr int kStartLimitMs = 10000;
constexpr int kKillLimitMs = 5000;
const char kCloseCommand[] = "brellium:close";

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

BenchProcess::BenchProcess(const QString &program, const QStringList &arguments, const QString &workDir,
                           const QProcessEnvironment &environment)
    : process(std::make_unique<QProcess>())
    , programPath(program)
{
    process->setProgram(program);
    process->setArguments(arguments);
    process->setWorkingDirectory(workDir);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
}

BenchProcess::~BenchProcess()
{
    if (isRunning()) {
        process->kill();
        process->waitForFinished(kKillLimitMs);
    }
}

void BenchProcess::redirectTo(const QString &file)
{
    process->setStandardOutputFile(file, QIODevice::Append);
}

bool BenchProcess::start()
{
    out.clear();
    startedNs = steadyNs();
    process->start();
    return process->waitForStarted(kStartLimitMs);
}

void BenchProcess::drain()
{
    out += process->readAll();
}

double BenchProcess::waitForLine(const QByteArray &marker, int limitMs)
{
    QElapsedTimer waited;
    waited.start();
    qsizetype searched = 0;
    while (waited.elapsed() < limitMs) {
        const bool more = process->waitForReadyRead(kSliceMs);
        const qint64 arrivedNs = steadyNs();
        drain();
        const qsizetype found = out.indexOf(marker, std::max<qsizetype>(0, searched - marker.size()));
        if (found >= 0)
            return double(arrivedNs - startedNs) / 1e6;
        searched = out.size();
        if (!more && process->state() == QProcess::NotRunning)
            return -1;
    }
    return -1;
}

bool BenchProcess::runFor(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        if (process->waitForFinished(int(std::min<qint64>(kSliceMs * 20, ms - waited.elapsed())))) {
            drain();
            return false;
        }
        drain();
        if (process->state() == QProcess::NotRunning)
            return false;
    }
    return true;
}

double BenchProcess::closeAndWait(quint16 port, int limitMs)
{
    QUdpSocket socket;
    const qint64 sentNs = steadyNs();
    socket.writeDatagram(kCloseCommand, QHostAddress::LocalHost, port);
    const bool ended = process->waitForFinished(limitMs);
    const qint64 endedNs = steadyNs();
    drain();
    if (!ended) {
        process->kill();
        process->waitForFinished(kKillLimitMs);
        drain();
        return -1;
    }
    return double(endedNs - sentNs) / 1e6;
}

void BenchProcess::stop(int limitMs)
{
    if (!isRunning())
        return;
    process->terminate();
    if (!process->waitForFinished(limitMs)) {
        process->kill();
        process->waitForFinished(kKillLimitMs);
    }
    drain();
}

qint64 BenchProcess::pid() const
{
    return process->processId();
}

bool BenchProcess::isRunning() const
{
    return process->state() != QProcess::NotRunning;
}

QByteArray BenchProcess::output() const
{
    return out;
}

QByteArray BenchProcess::outputTail(int lines) const
{
    const QList<QByteArray> all = out.split('\n');
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join('\n');
}

quint16 BenchProcess::freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}
