#pragma once

#include <QString>

#include <functional>

// The one place where the program meets the machine it runs on. Every fixed
// device path goes through path(), board shell commands through run() and
// board-control ioctls through ioctlInt(). Under a CLOCK_ROOT other than "/"
// the board commands are only recorded in <root>/var/log/board-commands, so a
// host (or a test running as root) is never powered off or reconfigured.
// Thread-safe: the root is read once; the clock hook is swapped atomically.
class Platform
{
public:
    // The folder under which fixed absolute paths resolve: "" for the device.
    static QString root();
    // True when the program runs on a simulated root and must not touch the host.
    static bool isSimulated();
    // Maps a fixed absolute path ("/dev/ttyS3") to the path to open.
    static QString path(const QString &absolutePath);

    // Runs a board shell command with system(); returns its status, negative
    // when it could not be run. On a simulated root it only records the line.
    static int run(const QString &command);
    // Issues an int ioctl on a board device node. Returns false when the node
    // cannot be opened or the call fails. On a simulated root the node is a
    // folder holding one decimal file per request number.
    static bool ioctlInt(const QString &node, unsigned long request, int *value);

    // The system clock in ms since the epoch; tests may replace it.
    static qint64 systemClockMs();
    using ClockFunction = std::function<qint64()>;
    static void setSystemClock(ClockFunction clock); // empty restores the real clock

    // The file the recorder appends to, for tests and the simulator.
    static QString boardCommandLog();
    // Re-reads CLOCK_ROOT; tests that set it after start call this.
    static void reloadRoot();

private:
    static void record(const QString &line);
};
