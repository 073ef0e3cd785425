#pragma once

#include <QByteArray>

// The byte port the club-system link reads and writes its frames through, so
// that its handlers know nothing of serial ports. Used by the one thread that
// owns the port behind it. No operation throws and none waits for data.
class CommPort
{
public:
    virtual ~CommPort() = default;

    virtual bool open() = 0;
    virtual bool isOpen() = 0;
    virtual void close() = 0;
    // Drops every byte waiting to be read.
    virtual void clear() = 0;
    // True only when every byte was accepted.
    virtual bool sendBytes(QByteArray bytes) = 0;
    virtual bool sendByte(unsigned char b) = 0;
    // False at once when no byte is waiting.
    virtual bool receiveByte(unsigned char *b) = 0;
    // Appends up to n bytes to buffer, stopping at the first that is not
    // waiting; returns how many were appended, or n itself when n <= 0.
    virtual int receiveBytes(QByteArray *buffer, int n) = 0;
};
