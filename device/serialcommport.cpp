#include "device/serialcommport.h"

#include "device/serialio.h"


SerialCommPort::SerialCommPort(QSerialPort *serialPort)
    : port(serialPort)
{
}

// The port belongs to the link thread; it stays open for the next mode.
SerialCommPort::~SerialCommPort() = default;

bool SerialCommPort::open()
{
    return port && port->open(QIODevice::ReadWrite);
}

bool SerialCommPort::isOpen()
{
    return port && port->isOpen();
}

void SerialCommPort::close()
{
    if (isOpen())
        port->close();
}

void SerialCommPort::clear()
{
    if (isOpen())
        SerialIo::discardInput(port);
}

bool SerialCommPort::sendBytes(QByteArray bytes)
{
    return isOpen() && SerialIo::writeAll(port, bytes.constData(), bytes.size());
}

bool SerialCommPort::sendByte(unsigned char b)
{
    const char c = static_cast<char>(b);
    return isOpen() && SerialIo::writeAll(port, &c, 1);
}

bool SerialCommPort::receiveByte(unsigned char *b)
{
    if (!isOpen() || SerialIo::waitingBytes(port) <= 0)
        return false;
    char c = 0;
    if (!port->getChar(&c))
        return false;
    *b = static_cast<unsigned char>(c);
    return true;
}

int SerialCommPort::receiveBytes(QByteArray *buffer, int n)
{
    if (n <= 0)
        return n;
    int got = 0;
    unsigned char b = 0;
    while (got < n && receiveByte(&b)) {
        buffer->append(static_cast<char>(b));
        ++got;
    }
    return got;
}

void SerialCommPort::setBaudRate(qint32 baudRate) { port->setBaudRate(baudRate); }
void SerialCommPort::setDataBits(QSerialPort::DataBits dataBits) { port->setDataBits(dataBits); }
void SerialCommPort::setParity(QSerialPort::Parity parity) { port->setParity(parity); }
void SerialCommPort::setStopBits(QSerialPort::StopBits stopBits) { port->setStopBits(stopBits); }
void SerialCommPort::setFlowControl(QSerialPort::FlowControl flowControl) { port->setFlowControl(flowControl); }
