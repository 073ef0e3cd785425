#pragma once

#include "device/commport.h"

#include <QSerialPort>

// A CommPort over a QSerialPort that its owner thread created, configured and
// opened. The adapter neither owns, closes nor deletes the port, which must
// outlive it; it is used only by that owner thread, where no event loop runs.
class SerialCommPort : public CommPort
{
public:
    explicit SerialCommPort(QSerialPort *port);
    ~SerialCommPort() override;

    bool open() override;
    bool isOpen() override;
    void close() override;
    void clear() override;
    bool sendBytes(QByteArray bytes) override;
    bool sendByte(unsigned char b) override;
    bool receiveByte(unsigned char *b) override;
    int receiveBytes(QByteArray *buffer, int n) override;

    void setBaudRate(qint32 baudRate);
    void setDataBits(QSerialPort::DataBits dataBits);
    void setParity(QSerialPort::Parity parity);
    void setStopBits(QSerialPort::StopBits stopBits);
    void setFlowControl(QSerialPort::FlowControl flowControl);

private:
    QSerialPort *port = nullptr;
};
