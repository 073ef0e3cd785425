#include "device/hardware_control.h"

#include "core/platform.h"
#include "core/servicefactory.h"

#include <QFile>

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char kControlNode[] = "/dev/vexlor_hw_ctl";
constexpr int kOsVersionBytes = 100;

// ioctl requests of the board control node: type 'G', 4-byte int argument.
constexpr int kReqRfPower = 0x40044703;
constexpr int kReqBattery = 0x40044704;
constexpr int kReqPowerKey = static_cast<int>(0x80044705u);
constexpr int kReqMains = static_cast<int>(0x80044707u);
constexpr int kReqGpsPower = 0x40044708;
constexpr int kReqLed = 0x4004470F;
constexpr int kReqSound = static_cast<int>(0xC0044711u);
constexpr int kReqGsmPower = static_cast<int>(0xC0044712u);
constexpr int kReqDisplay = static_cast<int>(0xC0044714u);

// GPIO lines of board types 2 and 3.
constexpr int kGpioLcd = 7;
constexpr int kGpioLed = 22;
constexpr int kGpioRf = 40;
constexpr int kGpioGsm = 41;
constexpr int kGpioMains = 51;
constexpr int kGpioBattery = 54;
constexpr int kGpioPowerKey = 55;

const char kAmixer[] = "/usr/local/alsa-arm/bin/amixer";

bool onControlNode() { return HardwareControl::OSTYPE == 1; }
bool onGpio() { return HardwareControl::OSTYPE == 2 || HardwareControl::OSTYPE == 3; }

// Switches one function: the control-node request on board 1, the GPIO line
// on boards 2 and 3 (gpio < 0: nothing there), nothing on an unknown board.
void board(int request, int nodeValue, int gpio, int gpioValue)
{
    if (onControlNode())
        HardwareControl::attr_write(request, nodeValue);
    else if (onGpio() && gpio >= 0)
        HardwareControl::gpio_write(gpio, gpioValue);
}

QString mixer(const char *control, int value)
{
    return QStringLiteral("%1 sset \"%2\",0 %3").arg(QLatin1String(kAmixer), QLatin1String(control)).arg(value);
}

} // namespace

int HardwareControl::OSTYPE = 0;
unsigned int HardwareControl::APP_SETTING = 0;

int HardwareControl::init(unsigned int flags)
{
    OSTYPE = readOSType();
    APP_SETTING = flags;
    return OSTYPE;
}

int HardwareControl::readOSType()
{
    QFile file(Platform::path(QStringLiteral("/proc/version")));
    if (!file.open(QIODevice::ReadOnly)) {
        ServiceFactory::debug(QStringLiteral("Failed to open OS type!"));
        return 0;
    }
    const QByteArray text = file.read(kOsVersionBytes);
    if (file.error() != QFileDevice::NoError) {
        ServiceFactory::debug(QStringLiteral("Failed to read OS type!"));
        return 0;
    }
    ServiceFactory::debug(QString::fromUtf8(text));
    static const char *const marks[] = {"OmbrixaW5AR", "OmbrixaW5BR", "OmbrixaW5CR"};
    for (int i = 0; i < 3; ++i) {
        if (text.contains(marks[i]))
            return i + 1;
    }
    return 0;
}

bool HardwareControl::hasFlag(unsigned int bits)
{
    return (APP_SETTING & bits) != 0;
}

unsigned int HardwareControl::gsmType()
{
    const unsigned int type = APP_SETTING & 0x1800u;
    return (type == 0x0800u || type == 0x1000u) ? type : 0u;
}

void HardwareControl::wait(int ms)
{
    if (ms <= 0)
        return;
    // One sleep to an absolute end on the monotonic clock: a signal that
    // interrupts it sleeps on to the same end.
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    end.tv_sec += ms / 1000;
    end.tv_nsec += long(ms % 1000) * 1000000L;
    if (end.tv_nsec >= 1000000000L) {
        end.tv_nsec -= 1000000000L;
        ++end.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
}

void HardwareControl::GsmOn() { board(kReqGsmPower, 1, kGpioGsm, 1); }
void HardwareControl::GsmOff() { board(kReqGsmPower, 0, kGpioGsm, 0); }
void HardwareControl::LcdOn() { board(kReqDisplay, 1, kGpioLcd, 1); }
void HardwareControl::LcdOff() { board(kReqDisplay, 0, kGpioLcd, 0); }
void HardwareControl::RfOn() { board(kReqRfPower, 1, kGpioRf, 1); }
void HardwareControl::RfOff() { board(kReqRfPower, 0, kGpioRf, 0); }
void HardwareControl::BatteryEnable() { board(kReqBattery, 1, kGpioBattery, 1); }
void HardwareControl::BatteryDisable() { board(kReqBattery, 0, kGpioBattery, 0); }
void HardwareControl::LedOn() { board(kReqLed, 0, kGpioLed, 0); }
void HardwareControl::LedOff() { board(kReqLed, 1, kGpioLed, 1); }
void HardwareControl::GpsOn() { board(kReqGpsPower, 1, -1, 0); }
void HardwareControl::GpsOff() { board(kReqGpsPower, 0, -1, 0); }

void HardwareControl::SoundOn()
{
    if (onControlNode()) {
        attr_write(kReqSound, 0);
    } else if (onGpio()) {
        if (Platform::run(mixer("PCM", 118)) < 0)
            ServiceFactory::debug(QStringLiteral("SoundOn failed!"));
        if (Platform::run(mixer("HP DAC", 108)) < 0)
            ServiceFactory::debug(QStringLiteral("SoundOn failed!"));
    }
}

void HardwareControl::SoundOff()
{
    if (onControlNode()) {
        attr_write(kReqSound, 1);
    } else if (onGpio()) {
        if (Platform::run(mixer("PCM", 0)) < 0)
            ServiceFactory::debug(QStringLiteral("SoundOff failed!"));
        if (Platform::run(mixer("HP DAC", 0)) != 0)
            ServiceFactory::debug(QStringLiteral("SoundOff failed!"));
    }
}

bool HardwareControl::IsPowerKeyPress()
{
    if (onControlNode())
        return attr_read(kReqPowerKey) == 0;
    if (onGpio())
        return gpio_read(kGpioPowerKey) == 0;
    return false;
}

bool HardwareControl::IsPowerAcSupply()
{
    if (onControlNode()) {
        // A node that cannot be read must not look like a lost mains supply:
        // that would power the clock off in the middle of a race.
        bool ok = false;
        const int value = attr_read(kReqMains, &ok);
        if (!ok) {
            ServiceFactory::debug(QStringLiteral("Failed to read mains supply!"));
            return true;
        }
        return value != 0;
    }
    if (onGpio())
        return gpio_read(kGpioMains) != 0;
    return true;
}

void HardwareControl::usbInsMod()
{
    if (onControlNode() && Platform::run(QStringLiteral("insmod /lib/modules/2.6.32/ehci-hcd.ko")) < 0)
        ServiceFactory::debug(QStringLiteral("insmod ehci_hcd failed!"));
}

void HardwareControl::usbRemove()
{
    if (onControlNode() && Platform::run(QStringLiteral("rmmod ehci_hcd")) < 0)
        ServiceFactory::debug(QStringLiteral("rmmod ehci_hcd failed!"));
}

void HardwareControl::powerOff()
{
    BatteryDisable();
    if (onControlNode() && Platform::run(QStringLiteral("poweroff")) < 0)
        ServiceFactory::debug(QStringLiteral("powerOff failed!"));
}

void HardwareControl::syncAll()
{
    if (Platform::run(QStringLiteral("sync")) < 0)
        ServiceFactory::debug(QStringLiteral("syncAll failed!"));
}

void HardwareControl::syncSDCard()
{
    if (Platform::run(QStringLiteral("sync")) < 0)
        ServiceFactory::debug(QStringLiteral("sync failed!"));
}

void HardwareControl::flushWatchdog(const QString &tag)
{
    Q_UNUSED(tag); // these boards have no watchdog to feed
}

void HardwareControl::closeConsole() {}

void HardwareControl::attr_write(int request, int value)
{
    int arg = value;
    Platform::ioctlInt(QLatin1String(kControlNode), static_cast<unsigned int>(request), &arg);
}

int HardwareControl::attr_read(int request, bool *ok)
{
    int arg = 0;
    const bool done = Platform::ioctlInt(QLatin1String(kControlNode), static_cast<unsigned int>(request), &arg);
    if (ok)
        *ok = done;
    return done ? arg : 0;
}

void HardwareControl::gpio_write(int n, int value)
{
    QFile file(Platform::path(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(n)));
    if (!file.open(QIODevice::WriteOnly)) {
        ServiceFactory::debug(QStringLiteral("Failed to open gpio%1").arg(n));
        return;
    }
    if (file.write(value ? "1" : "0", 1) != 1 || !file.flush())
        ServiceFactory::debug(QStringLiteral("Failed to write gpio%1").arg(n));
    file.close();
}

int HardwareControl::gpio_read(int n)
{
    // Read by the window's every tick: plain calls, without a file object.
    const QByteArray path = QFile::encodeName(Platform::path(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(n)));
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ServiceFactory::debug(QStringLiteral("Failed to open gpio%1").arg(n));
        return -1;
    }
    char buffer[3];
    ssize_t got = -1;
    do {
        got = ::read(fd, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    bool ok = false;
    const int value = got > 0 ? QByteArray(buffer, int(got)).trimmed().toInt(&ok) : 0;
    if (!ok) {
        ServiceFactory::debug(QStringLiteral("Failed to read gpio%1").arg(n));
        return -1;
    }
    return value;
}
