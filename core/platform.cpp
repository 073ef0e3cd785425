#include "core/platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QtGlobal>

#include <cstdlib>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QMutex &stateMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &rootStorage()
{
    static QString root = [] {
        QString r = qEnvironmentVariable("CLOCK_ROOT");
        while (r.endsWith(QLatin1Char('/')))
            r.chop(1);
        return r;
    }();
    return root;
}

Platform::ClockFunction &clockStorage()
{
    static Platform::ClockFunction clock;
    return clock;
}

} // namespace

QString Platform::root()
{
    QMutexLocker lock(&stateMutex());
    return rootStorage();
}

void Platform::reloadRoot()
{
    QString r = qEnvironmentVariable("CLOCK_ROOT");
    while (r.endsWith(QLatin1Char('/')))
        r.chop(1);
    QMutexLocker lock(&stateMutex());
    rootStorage() = r;
}

bool Platform::isSimulated()
{
    return !root().isEmpty();
}

QString Platform::path(const QString &absolutePath)
{
    const QString r = root();
    if (r.isEmpty() || !absolutePath.startsWith(QLatin1Char('/')))
        return absolutePath;
    return r + absolutePath;
}

QString Platform::boardCommandLog()
{
    return path(QStringLiteral("/var/log/board-commands"));
}

void Platform::record(const QString &line)
{
    qDebug("board: %s", qPrintable(line));
    QMutexLocker lock(&stateMutex());
    const QString file = rootStorage() + QStringLiteral("/var/log/board-commands");
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile log(file);
    if (log.open(QIODevice::Append | QIODevice::Text)) {
        log.write(line.toUtf8() + '\n');
        log.close();
    }
}

int Platform::run(const QString &command)
{
    if (isSimulated()) {
        record(command);
        return 0;
    }
    return std::system(command.toLocal8Bit().constData());
}

bool Platform::ioctlInt(const QString &node, unsigned long request, int *value)
{
    if (!isSimulated()) {
        const int fd = ::open(node.toLocal8Bit().constData(), O_RDWR);
        if (fd < 0)
            return false;
        const int rc = ::ioctl(fd, request, value);
        ::close(fd);
        return rc >= 0;
    }

    // Simulated node: a folder with one file per request number; a write
    // direction stores the value, a read direction loads it. A missing folder
    // is a node that cannot be opened, as on a board without the driver.
    const QString folder = path(node);
    if (!QFileInfo(folder).isDir())
        return false;
    const unsigned number = request & 0xFF;
    const bool writes = (request >> 30) & 1u;
    const bool reads = (request >> 31) & 1u;
    record(QStringLiteral("ioctl %1 0x%2 %3")
               .arg(node)
               .arg(request, 8, 16, QLatin1Char('0'))
               .arg(*value));
    QFile file(folder + QLatin1Char('/') + QString::number(number));
    if (writes) {
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(QByteArray::number(*value));
    } else if (reads) {
        if (!file.open(QIODevice::ReadOnly))
            return false;
        bool ok = false;
        const int stored = file.readAll().trimmed().toInt(&ok);
        if (!ok)
            return false;
        *value = stored;
    }
    return true;
}

qint64 Platform::systemClockMs()
{
    ClockFunction clock;
    {
        QMutexLocker lock(&stateMutex());
        clock = clockStorage();
    }
    return clock ? clock() : QDateTime::currentMSecsSinceEpoch();
}

void Platform::setSystemClock(ClockFunction clock)
{
    QMutexLocker lock(&stateMutex());
    clockStorage() = std::move(clock);
}
