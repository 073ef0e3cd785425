#include "device/pcport.h"

#include "core/platform.h"
#include "core/servicefactory.h"
#include "device/serialio.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>

namespace {
constexpr qint64 kBitsPerByte = 10; // start, 8 data, stop

// The bytes handed to the driver that the line had not sent yet when
// queuedAt started. A line without flow control sends at its baud rate, so
// what is left is estimated from the time alone (a pseudo-terminal reports no
// output queue). GUI thread only.
qint64 queuedBytes = 0;
QElapsedTimer queuedAt;

qint64 stillQueued()
{
    if (!queuedAt.isValid())
        return 0;
    const qint64 sent = queuedAt.elapsed() * PcPort::kBaud / kBitsPerByte / 1000;
    return std::max<qint64>(queuedBytes - sent, 0);
}

void forgetQueue()
{
    queuedBytes = 0;
    queuedAt.invalidate();
}
} // namespace

QSerialPort *PcPort::_port = nullptr;

QSerialPort *PcPort::port()
{
    if (!_port)
        _port = new QSerialPort();
    return _port;
}

bool PcPort::open()
{
    QSerialPort *serial = port();
    if (serial->isOpen())
        serial->close();
    serial->setPortName(Platform::path(_serialPort_PC));
    serial->setBaudRate(kBaud);
    serial->setParity(QSerialPort::NoParity);
    serial->setDataBits(QSerialPort::Data8);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);
    if (!serial->open(QIODevice::ReadWrite)) {
        ServiceFactory::debug(QStringLiteral("PcPort::open ") + serial->portName() + QStringLiteral(": ")
                              + serial->errorString());
        return false;
    }
    return true;
}

bool PcPort::isOpen()
{
    return _port && _port->isOpen();
}

bool PcPort::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    if (SerialIo::lineLost(_port))
        return false;
    if (!SerialIo::writeAll(_port, bytes.constData(), bytes.size(), stillQueued())) {
        // The failed write flushed the driver's queue.
        forgetQueue();
        return false;
    }
    // Bytes left in the driver by an earlier export still go first: a close
    // does not drop them.
    queuedBytes = stillQueued() + bytes.size();
    queuedAt.start();
    return true;
}

void PcPort::close()
{
    if (isOpen())
        _port->close();
}

void PcPort::destroy()
{
    close();
    forgetQueue();
    delete _port;
    _port = nullptr;
}
