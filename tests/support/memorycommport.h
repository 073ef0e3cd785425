#pragma once

#include "device/commport.h"

#include <QByteArray>
#include <QMutex>

// A CommPort in memory for tests of the club link: input a test queues from
// any thread, a record of every byte written, and switches for a closed port
// and for writes that come up short. Behaves as SerialCommPort does: nothing
// waits, nothing throws.
class MemoryCommPort : public CommPort
{
public:
    MemoryCommPort() = default;

    bool open() override;
    bool isOpen() override;
    void close() override;
    void clear() override;
    bool sendBytes(QByteArray bytes) override;
    bool sendByte(unsigned char b) override;
    bool receiveByte(unsigned char *b) override;
    int receiveBytes(QByteArray *buffer, int n) override;

    // Test side.
    void queueInput(const QByteArray &bytes);
    int inputWaiting() const;
    QByteArray written() const;
    QByteArray takeWritten();
    void setOpenFails(bool fails); // open() then returns false; close() closes
    // Each write then accepts at most this many bytes (-1: all).
    void setWriteLimit(int bytesPerWrite);

private:
    bool write(const QByteArray &bytes);

    mutable QMutex mutex;
    QByteArray input;
    QByteArray output;
    bool opened = true;
    bool openFails = false;
    int writeLimit = -1;
};
