#include "testroot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

namespace {

constexpr int kRunLimitMs = 30000;

QString programPath()
{
    return qEnvironmentVariable("BRELLIUM_BUILD_DIR") + QStringLiteral("/brellium");
}

// Starts the program on the simulated root, sends the close command until it
// ends, and returns its exit code (-1 when it did not end in time).
int runUntilClosed(const TestRoot &root, QByteArray *output)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CLOCK_ROOT"), root.root());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A free port of our own, so that parallel runs never close each other.
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    const quint16 port = probe.localPort();
    probe.close();
    env.insert(QStringLiteral("BRELLIUM_CLOSE_PORT"), QString::number(port));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(root.workDir());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(programPath(), {});
    if (!program.waitForStarted(5000))
        return -1;

    QUdpSocket socket;
    QElapsedTimer timer;
    timer.start();
    while (program.state() != QProcess::NotRunning && timer.elapsed() < kRunLimitMs) {
        // The window binds the port once it is built; until then datagrams
        // are lost, so keep sending.
        if (timer.elapsed() > 300)
            socket.writeDatagram("brellium:close", QHostAddress::LocalHost, port);
        program.waitForFinished(200);
    }
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(2000);
        return -1;
    }
    *output = program.readAll();
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

} // namespace

// The program as a whole: start-up order, the service thread, and the
// orderly shutdown that ends in a (recorded) power-off.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void knownBoard_startsServicesAndPowersOffAtClose();
    void unknownBoard_skipsServices();
};

void TestStartup::knownBoard_startsServicesAndPowersOffAtClose()
{
    TestRoot root(1);
    QByteArray output;
    QCOMPARE(runUntilClosed(root, &output), 0);

    QStringList commands = root.boardCommands();
    QVERIFY2(!commands.isEmpty(), output.constData());
    // A first start makes the database in the working directory and flushes
    // the new file before anything else happens.
    QVERIFY(QFile::exists(root.workDir() + QStringLiteral("/data_20200505.db3")));
    QCOMPARE(commands.first(), QStringLiteral("sync"));
    commands.removeFirst();
    QCOMPARE(commands.first(), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 1")); // then LcdOn
    const QStringList tail{QStringLiteral("sync"), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 0"),
                           QStringLiteral("ioctl /dev/vexlor_hw_ctl 0x40044704 0"), QStringLiteral("poweroff")};
    QCOMPARE(commands.mid(commands.size() - tail.size()), tail);
    QVERIFY(commands.contains(QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044711 0"))); // SoundOn
    QVERIFY(output.contains("Stop RF Service") || output.contains("MainWindow:0"));

    // The next start repairs and reuses the file: no new one to flush.
    root.clearBoardCommands();
    QCOMPARE(runUntilClosed(root, &output), 0);
    QCOMPARE(root.boardCommands().value(0), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 1"));
}

void TestStartup::unknownBoard_skipsServices()
{
    TestRoot root(2);
    root.writeFile(QStringLiteral("/proc/version"), "Linux version 6.1.0-generic");
    QByteArray output;
    QCOMPARE(runUntilClosed(root, &output), 0);
    QVERIFY2(output.contains("OS version mispatch!"), output.constData());
    // Only the flush of the new database file; nothing of the board.
    QCOMPARE(root.boardCommands(), QStringList{QStringLiteral("sync")});
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
