#pragma once

#include "device/commport.h"

#include <QSerialPort>

// CommPort over a QSerialPort that somebody else created, configured and
// owns; the adapter never closes or deletes it. Polled, without an event
// loop, in the thread that owns the port.
class SerialCommPort : public CommPort
{
public:
    explicit SerialCommPort(QSerialPort *port);
    ~SerialCommPort() override;

    bool open() override;
    bool isOpen() override;
    void close() override;
    void clear() override;
    bool sendBytes(QByteArray data) override;
    bool sendByte(unsigned char byte) override;
    bool receiveByte(unsigned char *byte) override;
    int receiveBytes(QByteArray *buffer, int n) override;

    void setBaudRate(QSerialPort::BaudRate rate);
    void setDataBits(QSerialPort::DataBits bits);
    void setParity(QSerialPort::Parity parity);
    void setStopBits(QSerialPort::StopBits bits);
    void setFlowControl(QSerialPort::FlowControl flow);

private:
    bool available();

    QSerialPort *port = nullptr;
};
