#include "childprocess.h"

#include "childdeath.h"

#include <QElapsedTimer>

namespace {
constexpr int kStartLimitMs = 3000;
constexpr int kStopLimitMs = 5000;
constexpr int kReadPollMs = 50;
} // namespace

ChildProcess::ChildProcess()
{
    process.setProcessChannelMode(QProcess::MergedChannels);
}

ChildProcess::~ChildProcess()
{
    // stop() is virtual; a subclass stops its own way in its destructor.
    ChildProcess::stop();
}

bool ChildProcess::start(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                         const QString &workDir)
{
    collected.clear();
    lineCursor = 0;
    process.setProcessEnvironment(env.isEmpty() ? QProcessEnvironment::systemEnvironment() : env);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    dieWithTest(process);
    process.start(program, args);
    return process.waitForStarted(kStartLimitMs);
}

QByteArray ChildProcess::output()
{
    collected += process.readAll();
    return collected;
}

bool ChildProcess::waitForOutput(const QByteArray &text, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!output().contains(text)) {
        if (timer.elapsed() > limitMs || !running())
            return output().contains(text);
        process.waitForReadyRead(kReadPollMs);
    }
    return true;
}

QString ChildProcess::readLine(int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const qsizetype end = output().indexOf('\n', lineCursor);
        if (end >= 0) {
            const QByteArray line = collected.mid(lineCursor, end - lineCursor);
            lineCursor = end + 1;
            return QString::fromUtf8(line).trimmed();
        }
        const qint64 leftMs = limitMs - timer.elapsed();
        if (leftMs <= 0 || !running())
            return QString();
        process.waitForReadyRead(int(qMin<qint64>(kReadPollMs, leftMs)));
    }
}

QString ChildProcess::readLineStarting(const QStringList &prefixes, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const qint64 left = limitMs - timer.elapsed();
        const QString line = readLine(int(qMax<qint64>(0, left)));
        if (line.isNull())
            return line;
        for (const QString &prefix : prefixes) {
            if (line.startsWith(prefix))
                return line;
        }
    }
}

bool ChildProcess::waitForEnd(int limitMs)
{
    process.waitForFinished(limitMs);
    output();
    return !running();
}

void ChildProcess::write(const QByteArray &line)
{
    process.write(line + '\n');
    process.waitForBytesWritten(kStartLimitMs);
}

bool ChildProcess::running() const
{
    return process.state() != QProcess::NotRunning;
}

bool ChildProcess::endedNormally() const
{
    return !running() && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void ChildProcess::cut()
{
    if (!running())
        return;
    process.kill();
    process.waitForFinished(kStopLimitMs);
    output();
}

void ChildProcess::stop()
{
    if (!running())
        return;
    process.terminate();
    if (!process.waitForFinished(kStopLimitMs))
        cut();
    output();
}
