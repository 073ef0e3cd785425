#include "testroot.h"

#include "core/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const int kGpioLines[] = {7, 22, 40, 41, 51, 54, 55};
}

QByteArray TestRoot::kernelVersion(int boardType)
{
    static const char *const marks[] = {"", "OmbrixaW5AR", "OmbrixaW5BR", "OmbrixaW5CR"};
    const char *mark = (boardType >= 1 && boardType <= 3) ? marks[boardType] : "generic";
    return QByteArray("Linux version 3.0.35-") + mark + " (builder@host) (gcc version 4.6.2) #1 PREEMPT\n";
}

TestRoot::TestRoot(int boardType)
{
    if (!dir.isValid())
        return;
    writeFile(QStringLiteral("/proc/version"), kernelVersion(boardType));
    for (int n : kGpioLines)
        setGpio(n, 1); // mains present, power key released, everything on
    if (boardType == 1) {
        QDir().mkpath(path(QStringLiteral("/dev/vexlor_hw_ctl")));
        writeFile(QStringLiteral("/dev/vexlor_hw_ctl/5"), "1"); // power key released
        writeFile(QStringLiteral("/dev/vexlor_hw_ctl/7"), "1"); // mains present
    }
    QDir().mkpath(path(QStringLiteral("/etc")));
    QDir().mkpath(path(QStringLiteral("/mnt/sdcard")));
    QDir().mkpath(path(QStringLiteral("/var/log")));
    QDir().mkpath(workDir());
    setConfig("{\"userSettings\":0}");
}

TestRoot::~TestRoot()
{
    if (!active)
        return;
    if (hadRoot)
        qputenv("CLOCK_ROOT", previousRoot.toLocal8Bit());
    else
        qunsetenv("CLOCK_ROOT");
    Platform::reloadRoot();
    QDir::setCurrent(previousCwd);
}

bool TestRoot::isValid() const { return dir.isValid(); }
QString TestRoot::root() const { return dir.path(); }
QString TestRoot::workDir() const { return dir.path() + QStringLiteral("/app/work"); }
QString TestRoot::path(const QString &absolutePath) const { return dir.path() + absolutePath; }

void TestRoot::activate()
{
    if (!active) {
        hadRoot = qEnvironmentVariableIsSet("CLOCK_ROOT");
        previousRoot = qEnvironmentVariable("CLOCK_ROOT");
        previousCwd = QDir::currentPath();
        active = true;
    }
    qputenv("CLOCK_ROOT", root().toLocal8Bit());
    Platform::reloadRoot();
    QDir::setCurrent(workDir());
}

void TestRoot::writeFile(const QString &absolutePath, const QByteArray &content) const
{
    const QString file = path(absolutePath);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

QByteArray TestRoot::readFile(const QString &absolutePath) const
{
    QFile f(path(absolutePath));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestRoot::setConfig(const QByteArray &text) const
{
    writeFile(QStringLiteral("/app/main_program.config"), text);
}

void TestRoot::setGpio(int n, int value) const
{
    writeFile(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(n), QByteArray::number(value));
}

int TestRoot::gpio(int n) const
{
    QFile f(path(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(n)));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int value = f.readAll().trimmed().toInt(&ok);
    return ok ? value : -1;
}

QStringList TestRoot::boardCommands() const
{
    return QString::fromUtf8(readFile(QStringLiteral("/var/log/board-commands"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestRoot::clearBoardCommands() const
{
    QFile::remove(path(QStringLiteral("/var/log/board-commands")));
}
