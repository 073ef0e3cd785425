#include "modempeer.h"

#include "ptypair.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <cerrno>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kIdlePollMs = 2;
constexpr int kReadChunkBytes = 4096;
constexpr int kStopWaitMs = 5000;
constexpr int kCommandPollMs = 5;
constexpr qint64 kBurstNs = 1000000; // pacing lets at most 1 ms of bytes through at once
constexpr qint64 kNsPerMs = 1000000;
constexpr int kPinReadMs = 10;

bool pinHigh(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16).trimmed() == "1";
}

} // namespace

ModemPeer::ModemPeer(const QString &family, QObject *parent)
    : QThread(parent)
    , pty(std::make_unique<PtyPair>())
    , session(std::make_unique<ModemSession>(modemFamily(family)))
{
}

ModemPeer::~ModemPeer()
{
    stop();
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
}

void ModemPeer::stop()
{
    requestInterruption();
    wait(kStopWaitMs);
}

bool ModemPeer::isOpen() const
{
    QMutexLocker lock(&mutex);
    return pty && pty->isOpen();
}

QString ModemPeer::slavePath() const
{
    QMutexLocker lock(&mutex);
    return pty ? pty->slavePath() : QString();
}

bool ModemPeer::linkAt(const QString &nodePath)
{
    QMutexLocker lock(&mutex);
    linkPath = nodePath;
    QDir().mkpath(QFileInfo(nodePath).absolutePath());
    return pty && pty->linkAt(nodePath);
}

void ModemPeer::setEndpoint(quint16 port, const QString &host)
{
    QMutexLocker lock(&mutex);
    session->state.endpointPort = port;
    session->state.endpointHost = host;
}

void ModemPeer::update(const std::function<void(ModemState &)> &change)
{
    QMutexLocker lock(&mutex);
    change(session->state);
}

ModemState ModemPeer::state() const
{
    QMutexLocker lock(&mutex);
    return session->state;
}

ModemRecord ModemPeer::record() const
{
    QMutexLocker lock(&mutex);
    return session->record;
}

QList<QByteArray> ModemPeer::commands() const
{
    QMutexLocker lock(&mutex);
    return session->record.commands;
}

QList<PeerSms> ModemPeer::sms() const
{
    QMutexLocker lock(&mutex);
    return session->record.sms;
}

QByteArray ModemPeer::socketBytes(int socket) const
{
    QMutexLocker lock(&mutex);
    return session->record.socketBytes.value(socket);
}

void ModemPeer::clearRecord()
{
    QMutexLocker lock(&mutex);
    session->record = ModemRecord();
}

void ModemPeer::addFault(ModemFault kind, const QByteArray &command, int times, int value)
{
    QMutexLocker lock(&mutex);
    session->faults << ModemFaultRule{kind, command, times, value};
}

void ModemPeer::clearFaults()
{
    QMutexLocker lock(&mutex);
    session->faults.clear();
}

void ModemPeer::setPacing(int b)
{
    QMutexLocker lock(&mutex);
    baud = b;
}

void ModemPeer::removeNode()
{
    QMutexLocker lock(&mutex);
    // Hanging up the master is what a vanished USB device looks like to the
    // program: reads on its port fail.
    pty->hangUp();
    session->resetLine();
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
}

void ModemPeer::restoreNode()
{
    QMutexLocker lock(&mutex);
    pty = std::make_unique<PtyPair>();
    session->resetLine();
    if (!linkPath.isEmpty())
        pty->linkAt(linkPath);
}

void ModemPeer::followPower(const QString &gpioValuePath, int delayMs)
{
    QMutexLocker lock(&mutex);
    powerPin = gpioValuePath;
    bootDelayMs = qMax(0, delayMs);
    bootDueNs = -1;
    nextPinReadNs = 0;
    if (poweredUp)
        powerDown();
}

bool ModemPeer::isPoweredUp() const
{
    QMutexLocker lock(&mutex);
    return poweredUp;
}

int ModemPeer::powerOnCount() const
{
    QMutexLocker lock(&mutex);
    return powerOns;
}

// Under the lock.
void ModemPeer::powerDown()
{
    pty->hangUp();
    session->reboot();
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
    poweredUp = false;
}

void ModemPeer::followPin(qint64 nowNs)
{
    QString pin;
    {
        QMutexLocker lock(&mutex);
        if (powerPin.isEmpty() || nowNs < nextPinReadNs)
            return;
        nextPinReadNs = nowNs + kPinReadMs * kNsPerMs;
        pin = powerPin;
    }
    const bool on = pinHigh(pin);
    QMutexLocker lock(&mutex);
    if (!on) {
        bootDueNs = -1;
        if (poweredUp)
            powerDown();
        return;
    }
    if (poweredUp)
        return;
    if (bootDueNs < 0) {
        bootDueNs = nowNs + bootDelayMs * kNsPerMs;
        return;
    }
    if (nowNs < bootDueNs)
        return;
    // A fresh line: the program's old port ends with the old pair.
    pty = std::make_unique<PtyPair>();
    session->reboot();
    if (!linkPath.isEmpty())
        pty->linkAt(linkPath);
    poweredUp = true;
    bootDueNs = -1;
    ++powerOns;
}

bool ModemPeer::waitForCommand(const QByteArray &prefix, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    const QByteArray wanted = prefix.toUpper();
    while (true) {
        {
            QMutexLocker lock(&mutex);
            for (const QByteArray &c : std::as_const(session->record.commands)) {
                if (c.trimmed().toUpper().startsWith(wanted))
                    return true;
            }
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kCommandPollMs);
    }
}

void ModemPeer::run()
{
    QElapsedTimer clock;
    clock.start();
    while (!isInterruptionRequested()) {
        followPin(clock.nsecsElapsed());
        std::vector<pollfd> fds;
        int timeoutMs = kIdlePollMs;
        {
            QMutexLocker lock(&mutex);
            const qint64 now = clock.nsecsElapsed();
            const int master = pty->masterFd();
            const bool mayRead = baud == 0 || now >= rxNextNs;
            if (master >= 0)
                fds.push_back(pollfd{master, short(mayRead ? POLLIN : 0), 0});
            for (int fd : session->socketDescriptors())
                fds.push_back(pollfd{fd, POLLIN, 0});
            if (session->outputDue(now / kNsPerMs) || (baud != 0 && !mayRead))
                timeoutMs = 1;
        }
        ::poll(fds.data(), nfds_t(fds.size()), timeoutMs);
        QMutexLocker lock(&mutex);
        pumpOnce(clock.nsecsElapsed());
    }
}

// One turn of the line: what the program wrote, the endpoint's data, and the
// output that is due, each at the line speed when pacing is on.
void ModemPeer::pumpOnce(qint64 nowNs)
{
    const qint64 nowMs = nowNs / kNsPerMs;
    const int master = pty->masterFd();
    const qint64 nsPerByte = baud > 0 ? 10LL * 1000000000LL / baud : 0;
    if (master >= 0) {
        int allowance = kReadChunkBytes;
        if (nsPerByte > 0) {
            rxNextNs = qMax(rxNextNs, nowNs - kBurstNs);
            allowance = int(qMin<qint64>(kReadChunkBytes, (nowNs - rxNextNs) / nsPerByte));
        }
        if (allowance > 0) {
            QByteArray buffer(allowance, '\0');
            const ssize_t n = ::read(master, buffer.data(), size_t(allowance));
            if (n > 0) {
                buffer.truncate(int(n));
                if (nsPerByte > 0)
                    rxNextNs += n * nsPerByte;
                session->input(buffer, nowMs);
            }
        }
    }
    session->pumpSockets(nowMs);
    if (master < 0)
        return;
    int allowance = kReadChunkBytes;
    if (nsPerByte > 0) {
        txNextNs = qMax(txNextNs, nowNs - kBurstNs);
        allowance = int(qMin<qint64>(kReadChunkBytes, (nowNs - txNextNs) / nsPerByte));
    }
    if (allowance <= 0)
        return;
    const QByteArray out = session->output(nowMs, allowance);
    if (out.isEmpty())
        return;
    const ssize_t n = ::write(master, out.constData(), size_t(out.size()));
    const int written = n > 0 ? int(n) : 0;
    // The program is not reading: keep the rest for later instead of blocking.
    session->unsend(out.mid(written));
    if (nsPerByte > 0)
        txNextNs += written * nsPerByte;
}
