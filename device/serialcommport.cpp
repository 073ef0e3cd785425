#include "device/serialcommport.h"

namespace {
constexpr int kClearChunkBytes = 100;
constexpr int kWriteSlackMs = 500;
constexpr int kBitsPerByte = 10;
}

CommPort::~CommPort() = default;

SerialCommPort::SerialCommPort(QSerialPort *p)
    : port(p)
{
}

SerialCommPort::~SerialCommPort() = default;

bool SerialCommPort::open()
{
    return port->open(QIODevice::ReadWrite);
}

bool SerialCommPort::isOpen()
{
    return port->isOpen();
}

void SerialCommPort::close()
{
    if (port->isOpen())
        port->close();
}

// Without an event loop Qt pulls bytes in only when asked to.
bool SerialCommPort::available()
{
    if (!port->isOpen())
        return false;
    if (port->bytesAvailable() > 0)
        return true;
    port->waitForReadyRead(0);
    return port->bytesAvailable() > 0;
}

void SerialCommPort::clear()
{
    while (available())
        port->read(kClearChunkBytes);
}

bool SerialCommPort::sendBytes(QByteArray data)
{
    if (!port->isOpen())
        return false;
    if (data.isEmpty())
        return true;
    if (port->write(data) != data.size())
        return false;
    // write() only queues: wait for the bytes to leave, bounded by their line time.
    const qint64 lineMs = data.size() * kBitsPerByte * 1000LL / qMax<qint64>(1, port->baudRate());
    const int boundMs = int(qMin<qint64>(lineMs + kWriteSlackMs, 60000));
    while (port->bytesToWrite() > 0) {
        if (!port->waitForBytesWritten(boundMs))
            break;
    }
    return port->bytesToWrite() == 0;
}

bool SerialCommPort::sendByte(unsigned char byte)
{
    return sendBytes(QByteArray(1, char(byte)));
}

bool SerialCommPort::receiveByte(unsigned char *byte)
{
    if (!available())
        return false;
    char c = 0;
    if (!port->getChar(&c))
        return false;
    *byte = uchar(c);
    return true;
}

int SerialCommPort::receiveBytes(QByteArray *buffer, int n)
{
    if (n <= 0)
        return n;
    int got = 0;
    unsigned char c = 0;
    while (got < n && receiveByte(&c)) {
        buffer->append(char(c));
        ++got;
    }
    return got;
}

void SerialCommPort::setBaudRate(QSerialPort::BaudRate rate) { port->setBaudRate(rate); }
void SerialCommPort::setDataBits(QSerialPort::DataBits bits) { port->setDataBits(bits); }
void SerialCommPort::setParity(QSerialPort::Parity parity) { port->setParity(parity); }
void SerialCommPort::setStopBits(QSerialPort::StopBits bits) { port->setStopBits(bits); }
void SerialCommPort::setFlowControl(QSerialPort::FlowControl flow) { port->setFlowControl(flow); }
