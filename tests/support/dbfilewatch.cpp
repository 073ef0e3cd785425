#include "dbfilewatch.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFileInfo>

#include <cerrno>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {
constexpr uint32_t kChanges = IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_CLOSE_WRITE;
constexpr size_t kEventBufferBytes = 4096;
} // namespace

DbFileWatch::DbFileWatch(const QString &databaseFile)
    : name(QFileInfo(databaseFile).fileName())
    , fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (fd < 0)
        return;
    const QByteArray folder = QFileInfo(databaseFile).absolutePath().toLocal8Bit();
    if (inotify_add_watch(fd, folder.constData(), kChanges) < 0) {
        ::close(fd);
        fd = -1;
    }
}

DbFileWatch::~DbFileWatch()
{
    if (fd >= 0)
        ::close(fd);
}

void DbFileWatch::clear()
{
    if (fd >= 0)
        takeEvents(); // drains the whole queue
}

bool DbFileWatch::takeEvents()
{
    alignas(inotify_event) char buffer[kEventBufferBytes];
    bool changed = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return changed;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            const QString file = event->len ? QString::fromLocal8Bit(event->name) : QString();
            if (file == name || file == name + QLatin1String("-journal") || file == name + QLatin1String("-wal"))
                changed = true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

bool DbFileWatch::waitForChange(int limitMs)
{
    if (fd < 0)
        return false;
    QDeadlineTimer deadline(limitMs);
    for (;;) {
        if (takeEvents())
            return true;
        pollfd p{fd, POLLIN, 0};
        const int left = int(deadline.remainingTime());
        const int ready = ::poll(&p, 1, left);
        if (ready == 0)
            return false;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}
