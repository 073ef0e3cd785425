#include "core/platform.h"
#include "device/hardware_control.h"

#include "testroot.h"

#include <QFile>
#include <QTest>

// The safety rule of the platform layer: under a simulated root no board
// command ever runs on the host; each is only recorded.
class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void path_resolvesUnderRoot_data();
    void path_resolvesUnderRoot();
    void boardCommand_isRecordedNotRun();
    void powerOff_underSimulatedRoot_onlyRecords_data();
    void powerOff_underSimulatedRoot_onlyRecords();
    void systemClock_isReplaceable();
};

void TestPlatform::path_resolvesUnderRoot_data()
{
    QTest::addColumn<QString>("absolute");
    QTest::newRow("config") << QStringLiteral("/app/main_program.config");
    QTest::newRow("serial") << QStringLiteral("/dev/ttyS3");
    QTest::newRow("gpio") << QStringLiteral("/sys/class/gpio/gpio51/value");
    QTest::newRow("clock record") << QStringLiteral("/etc/timediff2");
}

void TestPlatform::path_resolvesUnderRoot()
{
    QFETCH(QString, absolute);
    TestRoot root;
    root.activate();
    QVERIFY(Platform::isSimulated());
    QCOMPARE(Platform::path(absolute), root.root() + absolute);
    // Relative paths (the database file) stay relative to the working directory.
    QCOMPARE(Platform::path(QStringLiteral("data_20200505.db3")), QStringLiteral("data_20200505.db3"));
}

void TestPlatform::boardCommand_isRecordedNotRun()
{
    TestRoot root;
    root.activate();
    const QString marker = root.path(QStringLiteral("/ran"));
    QCOMPARE(Platform::run(QStringLiteral("touch ") + marker), 0);
    QVERIFY2(!QFile::exists(marker), "a board command ran on the host");
    QCOMPARE(root.boardCommands(), QStringList{QStringLiteral("touch ") + marker});
}

void TestPlatform::powerOff_underSimulatedRoot_onlyRecords_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("board 1: battery off, then poweroff")
        << 1 << QStringList{QStringLiteral("ioctl /dev/vexlor_hw_ctl 0x40044704 0"), QStringLiteral("poweroff")};
    QTest::newRow("board 2: battery off is the power-off") << 2 << QStringList{};
}

void TestPlatform::powerOff_underSimulatedRoot_onlyRecords()
{
    QFETCH(int, board);
    QFETCH(QStringList, expected);
    TestRoot root(board);
    root.activate();
    QCOMPARE(HardwareControl::init(0), board);
    HardwareControl::syncAll();
    HardwareControl::powerOff();
    // Still running: the host was not powered off, and nothing was synced.
    QCOMPARE(root.boardCommands(), QStringList{QStringLiteral("sync")} + expected);
    if (board == 2)
        QCOMPARE(root.gpio(54), 0);
}

void TestPlatform::systemClock_isReplaceable()
{
    Platform::setSystemClock([] { return qint64(1234567); });
    QCOMPARE(Platform::systemClockMs(), qint64(1234567));
    Platform::setSystemClock({});
    QVERIFY(Platform::systemClockMs() > qint64(1600000000000));
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
