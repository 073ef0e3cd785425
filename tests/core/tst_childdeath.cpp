#include "childprocess.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <cstdio>

namespace {
const char kHoldArg[] = "--hold-a-child";

// Run as a child test: starts a long-lived process as the suites start their
// peers, prints its pid and waits to be killed.
int holdAChild()
{
    ChildProcess peer;
    if (!peer.start(QStringLiteral("sleep"), {QStringLiteral("300")}))
        return 2;
    std::printf("child %lld\n", static_cast<long long>(peer.pid()));
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}

bool alive(qint64 pid)
{
    // A zombie is gone for our purpose: it holds no port, file or peer.
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    return !status.readAll().contains("State:\tZ");
}
} // namespace

// A test ended early (killed by a time-out) leaves no peer or program of
// its own running.
class TestChildDeath : public QObject
{
    Q_OBJECT
private slots:
    void killedTest_takesItsChildrenWithIt();
};

void TestChildDeath::killedTest_takesItsChildrenWithIt()
{
    QProcess test;
    test.start(QCoreApplication::applicationFilePath(), {QLatin1String(kHoldArg)});
    QVERIFY(test.waitForStarted());
    QTRY_VERIFY(test.canReadLine());
    const QByteArray line = test.readLine().trimmed();
    QVERIFY2(line.startsWith("child "), line.constData());
    const qint64 pid = line.mid(6).toLongLong();
    QVERIFY(pid > 0);
    QVERIFY(alive(pid));

    test.kill(); // as ctest ends a suite past its time-out
    QVERIFY(test.waitForFinished());
    QTRY_VERIFY(!alive(pid));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], kHoldArg) == 0)
        return holdAChild();
    TestChildDeath test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_childdeath.moc"
