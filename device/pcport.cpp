#include "device/pcport.h"

#include "core/platform.h"
#include "core/servicefactory.h"
#include "device/serialio.h"

#include <QSerialPort>

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
    return SerialIo::writeAll(_port, bytes.constData(), bytes.size());
}

void PcPort::close()
{
    if (isOpen())
        _port->close();
}

void PcPort::destroy()
{
    close();
    delete _port;
    _port = nullptr;
}
