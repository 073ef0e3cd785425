#pragma once

#include <QString>

// The one place where the program touches the board: power switches of the
// modem, ring-reader module, display, battery, LED, GPS and sound, the power
// key and mains readings, module loading, file-system flushes, power-off and
// the program's sleep. All static; the board type and the feature flags are
// set once by init() at start-up and read from any thread afterwards.
class HardwareControl
{
public:
    static int OSTYPE;
    static unsigned int APP_SETTING;

    static int init(unsigned int flags);
    static int readOSType();
    static bool hasFlag(unsigned int bits);
    static unsigned int gsmType();

    // The program's sleep: a timed wait that nothing ends early.
    static void wait(int ms);

    static void GsmOn();
    static void GsmOff();
    static void LcdOn();
    static void LcdOff();
    static void RfOn();
    static void RfOff();
    static void BatteryEnable();
    static void BatteryDisable();
    static void LedOn();
    static void LedOff();
    static void GpsOn();
    static void GpsOff();
    static void SoundOn();
    static void SoundOff();

    static bool IsPowerKeyPress();
    static bool IsPowerAcSupply();

    static void usbInsMod();
    static void usbRemove();
    static void powerOff();
    static void syncAll();
    static void syncSDCard();
    static void flushWatchdog(const QString &tag);
    static void closeConsole();

    // Board control node (board type 1). attr_read gives 0 when the node
    // cannot be read; ok, when given, tells the caller whether it could.
    static void attr_write(int request, int value);
    static int attr_read(int request, bool *ok = nullptr);
    // GPIO value files (board types 2 and 3). gpio_read gives -1 on failure.
    static void gpio_write(int n, int value);
    static int gpio_read(int n);
};
