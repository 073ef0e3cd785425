#pragma once

#include <QByteArray>

// The byte port under a link's protocol code, so that the code knows nothing
// of serial ports. Used by the one thread that owns the link. No operation
// waits for data or throws.
class CommPort
{
public:
    virtual ~CommPort();
    virtual bool open() = 0;
    virtual bool isOpen() = 0;
    virtual void close() = 0;
    virtual void clear() = 0;
    virtual bool sendBytes(QByteArray data) = 0;
    virtual bool sendByte(unsigned char byte) = 0;
    virtual bool receiveByte(unsigned char *byte) = 0;
    virtual int receiveBytes(QByteArray *buffer, int n) = 0;
};
