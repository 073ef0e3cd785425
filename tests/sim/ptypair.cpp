#include "ptypair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slaveKeep, name, &raw, nullptr) != 0) {
        master = slaveKeep = -1;
        return;
    }
    // openpty applies the termios to the slave; make sure of the master side
    // and of non-blocking reads for the peer's poll loop.
    tcsetattr(slaveKeep, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    slaveName = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    hangUp();
}

bool PtyPair::isOpen() const { return master >= 0; }
QString PtyPair::slavePath() const { return slaveName; }
int PtyPair::masterFd() const { return master; }

bool PtyPair::linkAt(const QString &linkPath) const
{
    QFile::remove(linkPath);
    return QFile::link(slaveName, linkPath);
}

bool PtyPair::linkUnder(const QString &root, const QString &devicePath) const
{
    const QString link = root + devicePath;
    QDir().mkpath(QFileInfo(link).path());
    return linkAt(link);
}

bool PtyPair::waitReadable(int timeoutMs) const
{
    if (master < 0)
        return false;
    pollfd pfd{master, POLLIN, 0};
    return ::poll(&pfd, 1, timeoutMs) > 0 && (pfd.revents & POLLIN);
}

QByteArray PtyPair::readAvailable(int maxBytes)
{
    if (master < 0)
        return {};
    QByteArray buffer(maxBytes, '\0');
    const ssize_t n = ::read(master, buffer.data(), buffer.size());
    if (n <= 0)
        return {};
    buffer.truncate(int(n));
    return buffer;
}

QByteArray PtyPair::readExactly(int count, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (out.size() < count) {
        const int left = timeoutMs - int(timer.elapsed());
        if (left <= 0 || !waitReadable(left))
            break;
        out += readAvailable(count - out.size());
    }
    return out;
}

bool PtyPair::write(const QByteArray &bytes)
{
    if (master < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                pollfd pfd{master, POLLOUT, 0};
                ::poll(&pfd, 1, 100);
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

void PtyPair::hangUp()
{
    if (master >= 0)
        ::close(master);
    if (slaveKeep >= 0)
        ::close(slaveKeep);
    master = slaveKeep = -1;
}
