#include "modulepeerprocess.h"

#include "testroot.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QTest>

namespace {
constexpr int kAnswerMs = 3000;
constexpr int kStartMs = 15000;
constexpr int kPollMs = 50;
} // namespace

ModulePeerProcess::ModulePeerProcess(const TestRoot &testRoot)
    : root(testRoot)
{
}

ModulePeerProcess::~ModulePeerProcess()
{
    ModulePeerProcess::stop();
}

bool ModulePeerProcess::start()
{
    if (!ChildProcess::start(qEnvironmentVariable("BRELLIUM_BUILD_DIR") + QStringLiteral("/tests/sim/brellium_modulepeer"),
                             {QStringLiteral("--root"), root.root()}))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStartMs && running()) {
        if (order(QStringLiteral("stats")).startsWith(QLatin1String("ok")))
            return true;
        QTest::qWait(kPollMs);
    }
    return false;
}

QString ModulePeerProcess::order(const TestRoot &root, const QString &line)
{
    QLocalSocket socket;
    socket.connectToServer(root.root() + QStringLiteral("/run/modulepeer.sock"));
    if (!socket.waitForConnected(kAnswerMs))
        return QString();
    socket.write(line.toUtf8() + '\n');
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(kAnswerMs))
        answer += socket.readAll();
    return QString::fromUtf8(answer).trimmed();
}

QString ModulePeerProcess::order(const QString &line) const
{
    return order(root, line);
}

int ModulePeerProcess::statValue(const QString &stats, const QString &name)
{
    for (const QString &word : stats.split(QLatin1Char(' '))) {
        if (word.startsWith(name + QLatin1Char('=')))
            return word.mid(name.size() + 1).toInt();
    }
    return -1;
}

int ModulePeerProcess::stat(const QString &name) const
{
    return statValue(order(QStringLiteral("stats")), name);
}

bool ModulePeerProcess::waitForPolls(int polls, int limitMs, const ChildProcess *program) const
{
    const int before = stat(QStringLiteral("exchange"));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < limitMs) {
        if (program && !program->running())
            return false;
        if (before >= 0 && stat(QStringLiteral("exchange")) >= before + polls)
            return true;
        QTest::qWait(kPollMs);
    }
    return false;
}

bool ModulePeerProcess::quit()
{
    return order(QStringLiteral("quit")) == QLatin1String("ok") && waitForEnd(kAnswerMs);
}

void ModulePeerProcess::stop()
{
    if (running() && !quit())
        ChildProcess::stop();
}
