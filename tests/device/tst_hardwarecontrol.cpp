#include "device/hardware_control.h"

#include "messagecapture.h"
#include "testroot.h"

#include <QFile>
#include <QTest>

#include <functional>

namespace {

using Operation = std::function<void()>;

struct Op
{
    const char *name;
    Operation call;
};

const Op kOps[] = {
    {"RfOn", HardwareControl::RfOn},
    {"RfOff", HardwareControl::RfOff},
    {"GsmOn", HardwareControl::GsmOn},
    {"GsmOff", HardwareControl::GsmOff},
    {"LcdOn", HardwareControl::LcdOn},
    {"LcdOff", HardwareControl::LcdOff},
    {"BatteryEnable", HardwareControl::BatteryEnable},
    {"BatteryDisable", HardwareControl::BatteryDisable},
    {"LedOn", HardwareControl::LedOn},
    {"LedOff", HardwareControl::LedOff},
    {"GpsOn", HardwareControl::GpsOn},
    {"GpsOff", HardwareControl::GpsOff},
    {"SoundOn", HardwareControl::SoundOn},
    {"SoundOff", HardwareControl::SoundOff},
    {"usbInsMod", HardwareControl::usbInsMod},
    {"usbRemove", HardwareControl::usbRemove},
};

Operation find(const QString &name)
{
    for (const Op &op : kOps) {
        if (name == QLatin1String(op.name))
            return op.call;
    }
    return {};
}

// Sets every GPIO to a sentinel so a write shows as a changed value.
void poisonGpios(const TestRoot &root)
{
    for (int n : {7, 22, 40, 41, 51, 54, 55})
        root.setGpio(n, 9);
}

QString gpioState(const TestRoot &root)
{
    QStringList changed;
    for (int n : {7, 22, 40, 41, 51, 54, 55}) {
        const int v = root.gpio(n);
        if (v != 9)
            changed << QStringLiteral("gpio%1=%2").arg(n).arg(v);
    }
    return changed.join(QLatin1Char(' '));
}

} // namespace

class TestHardwareControl : public QObject
{
    Q_OBJECT
private slots:
    void boardType_data();
    void boardType();
    void boardType_missingVersionFile_isZero();
    void flags_data();
    void flags();
    void switches_data();
    void switches();
    void readings_data();
    void readings();
    void wait_blocksForItsTime();
};

void TestHardwareControl::boardType_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<int>("type");
    QTest::newRow("A") << TestRoot::kernelVersion(1) << 1;
    QTest::newRow("B") << TestRoot::kernelVersion(2) << 2;
    QTest::newRow("C") << TestRoot::kernelVersion(3) << 3;
    QTest::newRow("unknown") << QByteArray("Linux version 6.1.0 (debian)") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("B and A: A wins") << QByteArray("x OmbrixaW5BR y OmbrixaW5AR") << 1;
    QTest::newRow("mark after byte 100") << (QByteArray(95, ' ') + "OmbrixaW5AR") << 0;
    QTest::newRow("mark ends at byte 100") << (QByteArray(89, ' ') + "OmbrixaW5CR") << 3;
}

void TestHardwareControl::boardType()
{
    QFETCH(QByteArray, version);
    QFETCH(int, type);
    TestRoot root;
    root.writeFile(QStringLiteral("/proc/version"), version);
    root.activate();
    QCOMPARE(HardwareControl::readOSType(), type);
}

void TestHardwareControl::boardType_missingVersionFile_isZero()
{
    TestRoot root;
    QFile::remove(root.path(QStringLiteral("/proc/version")));
    root.activate();
    MessageCapture capture;
    QCOMPARE(HardwareControl::init(0x10), 0);
    QVERIFY(capture.contains(QStringLiteral("Failed to open OS type!")));
    QCOMPARE(HardwareControl::APP_SETTING, 0x10u);
}

void TestHardwareControl::flags_data()
{
    QTest::addColumn<uint>("flags");
    QTest::addColumn<uint>("bits");
    QTest::addColumn<bool>("has");
    QTest::addColumn<uint>("gsmType");
    QTest::newRow("none") << 0u << 0x1u << false << 0u;
    QTest::newRow("any bit of the mask") << 0x2u << 0x3u << true << 0u;
    QTest::newRow("telit field") << 0x0801u << 0x1u << true << 0x0800u;
    QTest::newRow("ec25 field") << 0x1000u << 0x0800u << false << 0x1000u;
    QTest::newRow("both field bits: none") << 0x1800u << 0x1000u << true << 0u;
}

void TestHardwareControl::flags()
{
    QFETCH(uint, flags);
    QFETCH(uint, bits);
    QFETCH(bool, has);
    QFETCH(uint, gsmType);
    HardwareControl::APP_SETTING = flags;
    QCOMPARE(HardwareControl::hasFlag(bits), has);
    QCOMPARE(HardwareControl::gsmType(), gsmType);
    HardwareControl::APP_SETTING = 0;
}

void TestHardwareControl::switches_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QStringList>("commands"); // recorded board commands
    QTest::addColumn<QString>("gpios");        // GPIO files written

    const auto ioctl = [](const char *request, int value) {
        return QStringList{QStringLiteral("ioctl /dev/vexlor_hw_ctl 0x%1 %2").arg(QLatin1String(request)).arg(value)};
    };
    QTest::newRow("1 RfOn") << 1 << "RfOn" << ioctl("40044703", 1) << "";
    QTest::newRow("1 RfOff") << 1 << "RfOff" << ioctl("40044703", 0) << "";
    QTest::newRow("1 GsmOn") << 1 << "GsmOn" << ioctl("c0044712", 1) << "";
    QTest::newRow("1 LcdOff") << 1 << "LcdOff" << ioctl("c0044714", 0) << "";
    QTest::newRow("1 BatteryEnable") << 1 << "BatteryEnable" << ioctl("40044704", 1) << "";
    QTest::newRow("1 LedOn writes 0") << 1 << "LedOn" << ioctl("4004470f", 0) << "";
    QTest::newRow("1 LedOff writes 1") << 1 << "LedOff" << ioctl("4004470f", 1) << "";
    QTest::newRow("1 GpsOn") << 1 << "GpsOn" << ioctl("40044708", 1) << "";
    QTest::newRow("1 SoundOn writes 0") << 1 << "SoundOn" << ioctl("c0044711", 0) << "";
    QTest::newRow("1 SoundOff writes 1") << 1 << "SoundOff" << ioctl("c0044711", 1) << "";
    QTest::newRow("1 usbInsMod") << 1 << "usbInsMod" << QStringList{"insmod /lib/modules/2.6.32/ehci-hcd.ko"} << "";
    QTest::newRow("1 usbRemove") << 1 << "usbRemove" << QStringList{"rmmod ehci_hcd"} << "";

    QTest::newRow("2 RfOn") << 2 << "RfOn" << QStringList{} << "gpio40=1";
    QTest::newRow("2 GsmOff") << 2 << "GsmOff" << QStringList{} << "gpio41=0";
    QTest::newRow("2 LcdOn") << 2 << "LcdOn" << QStringList{} << "gpio7=1";
    QTest::newRow("2 BatteryDisable") << 2 << "BatteryDisable" << QStringList{} << "gpio54=0";
    QTest::newRow("2 LedOn") << 2 << "LedOn" << QStringList{} << "gpio22=0";
    QTest::newRow("2 GpsOn does nothing") << 2 << "GpsOn" << QStringList{} << "";
    QTest::newRow("2 usbInsMod does nothing") << 2 << "usbInsMod" << QStringList{} << "";
    QTest::newRow("2 SoundOn")
        << 2 << "SoundOn"
        << QStringList{"/usr/local/alsa-arm/bin/amixer sset \"PCM\",0 118",
                       "/usr/local/alsa-arm/bin/amixer sset \"HP DAC\",0 108"}
        << "";
    QTest::newRow("3 SoundOff")
        << 3 << "SoundOff"
        << QStringList{"/usr/local/alsa-arm/bin/amixer sset \"PCM\",0 0",
                       "/usr/local/alsa-arm/bin/amixer sset \"HP DAC\",0 0"}
        << "";
    QTest::newRow("3 GpsOn does nothing") << 3 << "GpsOn" << QStringList{} << "";
    QTest::newRow("3 LcdOff") << 3 << "LcdOff" << QStringList{} << "gpio7=0";
    QTest::newRow("0 LcdOn does nothing") << 0 << "LcdOn" << QStringList{} << "";
    QTest::newRow("0 SoundOn does nothing") << 0 << "SoundOn" << QStringList{} << "";
}

void TestHardwareControl::switches()
{
    QFETCH(int, board);
    QFETCH(QString, op);
    QFETCH(QStringList, commands);
    QFETCH(QString, gpios);
    TestRoot root(board == 0 ? 2 : board);
    if (board == 0)
        root.writeFile(QStringLiteral("/proc/version"), "unknown");
    root.activate();
    QCOMPARE(HardwareControl::init(0), board);
    poisonGpios(root);
    root.clearBoardCommands();

    const Operation call = find(op);
    QVERIFY(call);
    call();
    QCOMPARE(root.boardCommands(), commands);
    QCOMPARE(gpioState(root), gpios);
}

void TestHardwareControl::readings_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<QString>("keyValue");   // "" removes the node file / GPIO
    QTest::addColumn<QString>("mainsValue");
    QTest::addColumn<bool>("keyPressed");
    QTest::addColumn<bool>("mainsPresent");
    QTest::newRow("1 released, mains on") << 1 << "1" << "1" << false << true;
    QTest::newRow("1 pressed, mains off") << 1 << "0" << "0" << true << false;
    // An unreadable node must not look like lost mains: that powers off.
    QTest::newRow("1 unreadable node") << 1 << "" << "" << true << true;
    QTest::newRow("2 released, mains on") << 2 << "1" << "1" << false << true;
    QTest::newRow("2 pressed, mains off") << 2 << "0" << "0" << true << false;
    QTest::newRow("3 missing gpio files") << 3 << "" << "" << false << true;
    QTest::newRow("0 unknown board") << 0 << "0" << "0" << false << true;
}

void TestHardwareControl::readings()
{
    QFETCH(int, board);
    QFETCH(QString, keyValue);
    QFETCH(QString, mainsValue);
    QFETCH(bool, keyPressed);
    QFETCH(bool, mainsPresent);
    TestRoot root(board == 0 ? 2 : board);
    if (board == 0)
        root.writeFile(QStringLiteral("/proc/version"), "unknown");
    const auto place = [&](const QString &node, const QString &gpio, const QString &value) {
        const QString file = board == 1 ? node : gpio;
        if (value.isEmpty())
            QFile::remove(root.path(file));
        else
            root.writeFile(file, value.toLatin1());
    };
    place(QStringLiteral("/dev/vexlor_hw_ctl/5"), QStringLiteral("/sys/class/gpio/gpio55/value"), keyValue);
    place(QStringLiteral("/dev/vexlor_hw_ctl/7"), QStringLiteral("/sys/class/gpio/gpio51/value"), mainsValue);
    root.activate();
    QCOMPARE(HardwareControl::init(0), board);
    QCOMPARE(HardwareControl::IsPowerKeyPress(), keyPressed);
    QCOMPARE(HardwareControl::IsPowerAcSupply(), mainsPresent);
}

void TestHardwareControl::wait_blocksForItsTime()
{
    QElapsedTimer timer;
    timer.start();
    HardwareControl::wait(50);
    QVERIFY(timer.elapsed() >= 50);
    HardwareControl::wait(0);
    HardwareControl::wait(-5);
}

QTEST_GUILESS_MAIN(TestHardwareControl)
#include "tst_hardwarecontrol.moc"
