#pragma once

#include "device/commport.h"

#include <QByteArray>
#include <QList>

#include <deque>
#include <functional>

// An in-memory modem for the AT engine's unit tests: each command line the
// engine writes (ended by CR) releases the next scripted answer after its
// delay in virtual time; bytes can also be scheduled at a moment or trickled.
// VirtualClock drives release(). Single-threaded.
class ScriptPort : public CommPort
{
public:
    // The answer to the next command line, delayMs after it was written.
    void answer(const QByteArray &bytes, int delayMs = 0);
    // Bytes that arrive at virtual time atMs whatever is written.
    void at(qint64 atMs, const QByteArray &bytes);
    // One byte every periodMs from fromMs on, for ever.
    void trickle(char byte, int periodMs, qint64 fromMs);
    // An endless stream: every read finds a byte. onRead (when set) is told of each.
    void flood(char byte);
    std::function<void()> onRead;
    void release(qint64 nowMs);
    void setOpen(bool open);

    QByteArray written() const { return writtenBytes; }
    QList<QByteArray> lines() const; // command lines written, CR removed
    int pending() const { return int(input.size()) - readPos; }
    int readCount() const { return bytesRead; }

    bool open() override;
    bool isOpen() override;
    void close() override;
    void clear() override;
    bool sendBytes(QByteArray data) override;
    bool sendByte(unsigned char byte) override;
    bool receiveByte(unsigned char *byte) override;
    int receiveBytes(QByteArray *buffer, int n) override;

private:
    struct Timed
    {
        qint64 atMs = 0;
        QByteArray bytes;
    };
    struct Answer
    {
        QByteArray bytes;
        int delayMs = 0;
    };

    std::deque<Answer> answers;
    QList<Timed> timed;
    QByteArray input;
    int readPos = 0;
    QByteArray writtenBytes;
    qint64 nowMs = 0;
    qint64 trickleFromMs = -1;
    qint64 trickleNextMs = 0;
    int tricklePeriodMs = 0;
    char trickleByte = 0;
    bool flooding = false;
    char floodByte = 0;
    int bytesRead = 0;
    bool portOpen = true;
};
