#pragma once

#include "memorycommport.h"

#include <QByteArray>
#include <QList>

#include <deque>
#include <functional>

// The in-memory port with a small modem script on it, for the AT engine's
// unit tests: each command line the engine writes (ended by CR) releases the
// next scripted answer after its delay in virtual time; bytes can also be
// scheduled at a moment, trickled, or flood the port endlessly. VirtualClock
// drives release(). Used by one thread.
class ScriptPort : public MemoryCommPort
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
    // Open, or failed as a vanished device is.
    void setOpen(bool open);

    QList<QByteArray> lines() const; // command lines written, CR removed

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
    qint64 nowMs = 0;
    qint64 trickleFromMs = -1;
    qint64 trickleNextMs = 0;
    int tricklePeriodMs = 0;
    char trickleByte = 0;
    bool flooding = false;
    char floodByte = 0;
};
