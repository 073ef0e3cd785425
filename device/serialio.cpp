#include "device/serialio.h"

#include "device/hardware_control.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>

#include <poll.h>

namespace {
constexpr qint64 kClearChunkBytes = 100;
// Beyond the bytes' own line time: the driver and a busy peer need a moment.
constexpr qint64 kWriteMarginMs = 500;
// Used for the line time when the port reports no usable rate.
constexpr qint64 kFallbackBaud = 9600;
constexpr qint64 kBitsPerByte = 10; // start, 8 data, stop
// The bytes queued ahead may take this share (1/4) more than their line time.
constexpr qint64 kLateReaderShare = 4;
// A pseudo-terminal makes room for more output without waking the writer
// that waits for it; only a wait that ends looks again. Waiting in slices
// sees the room within one.
constexpr qint64 kWriteSliceMs = 100;

constexpr short kLineGone = POLLHUP | POLLERR | POLLNVAL;

// What the line reports right now, without waiting; a port without a
// descriptor reports itself gone.
short lineEvents(QSerialPort *port)
{
    const int fd = static_cast<int>(port->handle());
    if (fd < 0)
        return POLLNVAL;
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 ? pfd.revents : 0;
}

// A line whose other end hung up reports POLLHUP without input; Qt's own wait
// would then poll in a tight loop until its time-out.
bool lineHungUp(QSerialPort *port)
{
    const short events = lineEvents(port);
    return (events & kLineGone) && !(events & POLLIN);
}
} // namespace

qint64 SerialIo::waitingBytes(QSerialPort *port)
{
    // Without an event loop Qt only learns of new input when asked to wait;
    // a zero wait fetches what the driver holds without blocking. Asked only
    // when the line has something to tell (input, or a hang-up for Qt to
    // note): a wait that times out costs Qt a translated error text, and the
    // reader asks before every command.
    if (port->bytesAvailable() == 0 && lineEvents(port) != 0)
        port->waitForReadyRead(0);
    return port->bytesAvailable();
}

void SerialIo::discardInput(QSerialPort *port)
{
    char chunk[kClearChunkBytes];
    qint64 waiting = 0;
    while ((waiting = waitingBytes(port)) > 0) {
        if (port->read(chunk, std::min(waiting, kClearChunkBytes)) <= 0)
            break;
    }
}

bool SerialIo::writeAll(QSerialPort *port, const char *data, qint64 size, qint64 aheadBytes)
{
    if (size <= 0)
        return size == 0;
    if (port->write(data, size) != size) {
        port->clear(QSerialPort::Output);
        return false;
    }
    const qint64 baud = port->baudRate() > 0 ? port->baudRate() : kFallbackBaud;
    const qint64 aheadMs = std::max<qint64>(aheadBytes, 0) * kBitsPerByte * 1000 / baud;
    const qint64 boundMs = aheadMs + aheadMs / kLateReaderShare + size * kBitsPerByte * 1000 / baud + kWriteMarginMs;
    QElapsedTimer timer;
    timer.start();
    // Most commands fit the driver's buffer at once: handed over without a
    // wait, there is nothing left to wait for. When the hand-over fails (a
    // full buffer reports itself as a lost resource), the waits below take
    // over as if it had not been tried: they find the room, or the line's
    // real failure, themselves.
    if (!port->flush())
        port->clearError();
    while (port->bytesToWrite() > 0) {
        const qint64 leftMs = boundMs - timer.elapsed();
        if (leftMs <= 0)
            break;
        if (port->waitForBytesWritten(int(std::min(leftMs, kWriteSliceMs))))
            continue;
        // A slice that ran out is no failure while the line lives; any other
        // false is the line failing.
        if (port->error() != QSerialPort::TimeoutError || lineLost(port))
            break;
        port->clearError();
    }
    if (port->bytesToWrite() > 0) {
        port->clear(QSerialPort::Output);
        return false;
    }
    return true;
}

bool SerialIo::lineLost(QSerialPort *port)
{
    if (!port->isOpen())
        return false;
    if (port->error() == QSerialPort::ResourceError) // the device went away under Qt
        return true;
    // Input may still wait beside the hang-up; the line is gone all the same.
    return lineEvents(port) & kLineGone;
}

void SerialIo::waitForInput(QSerialPort *port, int ms)
{
    QElapsedTimer timer;
    timer.start();
    if (!lineHungUp(port) && port->waitForReadyRead(ms))
        return;
    const int leftMs = ms - int(timer.elapsed());
    if (leftMs > 0)
        HardwareControl::wait(leftMs);
}
