#include "peerline.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kBitsPerByte = 10; // start, 8 data, stop
// A full pty buffer drains as soon as the clock reads; past this the clock
// has stopped reading and the rest is dropped.
constexpr int kWriteStallMs = 200;

int baudOf(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

timespec toTimespec(qint64 ns)
{
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntil(qint64 deadlineNs)
{
    const timespec ts = toTimespec(deadlineNs);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

PeerLine::PeerLine()
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    int slave = -1;
    // Raw from creation: a fresh line echoes, and the echo would come back to
    // the peer as input.
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        master = -1;
        return;
    }
    ::close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    slaveName = QString::fromLocal8Bit(name);
    notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify >= 0)
        inotify_add_watch(notify, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
}

PeerLine::~PeerLine()
{
    if (notify >= 0)
        ::close(notify);
    if (master >= 0)
        ::close(master);
}

bool PeerLine::isValid() const { return master >= 0 && notify >= 0; }
QString PeerLine::slavePath() const { return slaveName; }

bool PeerLine::linkAt(const QString &linkPath) const
{
    QFile::remove(linkPath);
    return QFile::link(slaveName, linkPath);
}

qint64 PeerLine::nowMs()
{
    return monotonicNs() / 1000000;
}

bool PeerLine::clockEndOpen() const
{
    if (master < 0)
        return false;
    pollfd pfd{master, 0, 0};
    ::poll(&pfd, 1, 0);
    return !(pfd.revents & POLLHUP);
}

PeerLine::Settings PeerLine::settings() const
{
    Settings out;
    termios t{};
    if (master < 0 || tcgetattr(master, &t) != 0)
        return out;
    out.baud = baudOf(cfgetispeed(&t));
    out.eightNOne = (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & PARENB) && !(t.c_cflag & CSTOPB);
    out.flowControl = (t.c_cflag & CRTSCTS) || (t.c_iflag & (IXON | IXOFF));
    return out;
}

PeerLine::Input PeerLine::waitInput(int timeoutMs)
{
    if (master < 0)
        return Input::Closed;
    pollfd fds[2] = {{master, POLLIN, 0}, {notify, POLLIN, 0}};
    if (!clockEndOpen()) {
        // A closed end reports hang-up at once: wait on the open/close events
        // instead, so the peer sleeps rather than spins until the clock opens.
        ::poll(&fds[1], 1, timeoutMs);
        ::poll(&fds[0], 1, 0);
        return (fds[0].revents & POLLIN) ? Input::Data : Input::Closed;
    }
    ::poll(fds, 2, timeoutMs);
    if (fds[0].revents & POLLIN)
        return Input::Data;
    return (fds[0].revents & POLLHUP) ? Input::Closed : Input::Idle;
}

QByteArray PeerLine::readInput()
{
    return readInput(-1);
}

QByteArray PeerLine::readInput(int maxBytes)
{
    QByteArray out;
    char buffer[4096];
    while (master >= 0 && (maxBytes < 0 || out.size() < maxBytes)) {
        const size_t want = maxBytes < 0 ? sizeof buffer : std::min(sizeof buffer, size_t(maxBytes - out.size()));
        const ssize_t n = ::read(master, buffer, want);
        if (n <= 0)
            break; // EAGAIN, or EIO once the clock's end closed
        out.append(buffer, int(n));
    }
    return out;
}

QList<int> PeerLine::takeOpenCloseEvents()
{
    QList<int> events;
    if (notify < 0)
        return events;
    alignas(inotify_event) char buffer[4096];
    while (true) {
        const ssize_t n = ::read(notify, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_OPEN)
                events.append(+1);
            if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE))
                events.append(-1);
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    return events;
}

int PeerLine::write(const QByteArray &bytes, int baud, int gapMs, const std::atomic<bool> *abort)
{
    const qint64 start = monotonicNs();
    const qint64 slotNs = baud > 0 ? qint64(kBitsPerByte) * 1000000000 / baud : 0;
    const qint64 gapNs = qint64(gapMs) * 1000000;
    const bool wholeAtOnce = slotNs == 0 && gapNs == 0;
    int written = 0;
    while (written < bytes.size()) {
        if ((abort && *abort) || !clockEndOpen())
            break;
        if (!wholeAtOnce)
            sleepUntil(start + (written + 1) * slotNs + written * gapNs); // a byte is there at the end of its slot
        const int chunk = wholeAtOnce ? int(bytes.size()) - written : 1;
        const ssize_t n = ::write(master, bytes.constData() + written, size_t(chunk));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        pollfd pfd{master, POLLOUT, 0};
        if (::poll(&pfd, 1, kWriteStallMs) <= 0)
            break;
    }
    return written;
}
