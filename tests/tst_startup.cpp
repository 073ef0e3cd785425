#include "programrunner.h"
#include "testroot.h"

#include <QTest>

namespace {

constexpr int kRunLimitMs = 30000;
// Shortens the 20 s box and the shutdown pauses fifty-fold.
const QString kTimeScale = QStringLiteral("0.02");

// The lines of the debug output that contain one of the texts, in order.
QStringList linesWith(const QByteArray &output, const QStringList &texts)
{
    QStringList found;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &line : lines) {
        for (const QString &text : texts) {
            if (line.contains(text.toUtf8()))
                found << text;
        }
    }
    return found;
}

} // namespace

// The program as a whole: start-up order, the service thread, the orderly
// shutdown that ends in a (recorded) power-off, and the unknown board.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void knownBoard_startsServicesAndPowersOffAtClose();
    void closeDatagram_stopsServicesInOrder();
    void unknownBoard_showsBoxAndEndsAlone();
};

void TestStartup::knownBoard_startsServicesAndPowersOffAtClose()
{
    TestRoot root(1);
    ProgramRunner program(root);
    program.setTimeScale(kTimeScale);
    QVERIFY(program.runUntilClosed(kRunLimitMs));
    QCOMPARE(program.exitCode(), 0);

    const QStringList commands = root.boardCommands();
    QVERIFY2(!commands.isEmpty(), program.output().constData());
    QCOMPARE(commands.first(), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 1")); // LcdOn first
    const QStringList tail{QStringLiteral("sync"), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 0"),
                           QStringLiteral("ioctl /dev/vexlor_hw_ctl 0x40044704 0"), QStringLiteral("poweroff")};
    QCOMPARE(commands.mid(commands.size() - tail.size()), tail);
    QVERIFY(commands.contains(QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044711 0"))); // SoundOn
}

void TestStartup::closeDatagram_stopsServicesInOrder()
{
    TestRoot root(2);
    ProgramRunner program(root);
    program.setTimeScale(kTimeScale);
    QVERIFY(program.runUntilClosed(kRunLimitMs));
    QCOMPARE(program.exitCode(), 0);

    const QStringList steps{"Close GUI", "MainWindow:0", "Stop RF Service...", "Stop GSM Service...",
                            "Stop Pigeon Service...", "Stop Sound Service...", "Stop Communication Service...",
                            "Shutting down..."};
    QCOMPARE(linesWith(program.output(), steps), steps);
    QVERIFY2(!program.output().contains("timeout!"), program.output().constData());
    // The service thread flushed, switched the display off and cut the
    // battery: on this board GPIO lines, only the sync is a command.
    QCOMPARE(root.boardCommands().last(), QStringLiteral("sync"));
    QCOMPARE(root.gpio(7), 0);
    QCOMPARE(root.gpio(54), 0);
}

void TestStartup::unknownBoard_showsBoxAndEndsAlone()
{
    TestRoot root(2);
    root.writeFile(QStringLiteral("/proc/version"), "Linux version 6.1.0-generic");
    ProgramRunner program(root);
    program.setTimeScale(kTimeScale);
    QVERIFY(program.runUntilExit(kRunLimitMs));
    QCOMPARE(program.exitCode(), 0);
    const QByteArray output = program.output();
    QVERIFY2(output.contains("OS version mispatch!"), output.constData());
    QVERIFY(output.contains("MainWindow: unknown board, no screen built"));
    QVERIFY(!output.contains("MainWindow: screens built"));
    QVERIFY(program.elapsedMs() >= 20000 * 0.02);
    QCOMPARE(root.boardCommands(), QStringList()); // no service started, nothing powered off
    QCOMPARE(root.gpio(7), 1);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
