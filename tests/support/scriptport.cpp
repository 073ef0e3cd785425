#include "scriptport.h"

void ScriptPort::answer(const QByteArray &bytes, int delayMs)
{
    answers.push_back(Answer{bytes, delayMs});
}

void ScriptPort::at(qint64 atMs, const QByteArray &bytes)
{
    timed << Timed{atMs, bytes};
    release(nowMs);
}

void ScriptPort::trickle(char byte, int periodMs, qint64 fromMs)
{
    trickleByte = byte;
    tricklePeriodMs = qMax(1, periodMs);
    trickleFromMs = fromMs;
    trickleNextMs = fromMs;
}

void ScriptPort::flood(char byte)
{
    flooding = true;
    floodByte = byte;
}

void ScriptPort::release(qint64 now)
{
    nowMs = now;
    for (int i = 0; i < timed.size();) {
        if (timed.at(i).atMs <= nowMs) {
            input += timed.at(i).bytes;
            timed.removeAt(i);
        } else {
            ++i;
        }
    }
    while (trickleFromMs >= 0 && trickleNextMs <= nowMs) {
        input += trickleByte;
        trickleNextMs += tricklePeriodMs;
    }
}

void ScriptPort::setOpen(bool open) { portOpen = open; }

QList<QByteArray> ScriptPort::lines() const
{
    QList<QByteArray> out = writtenBytes.split('\r');
    out.removeLast();
    return out;
}

bool ScriptPort::open() { portOpen = true; return true; }
bool ScriptPort::isOpen() { return portOpen; }
void ScriptPort::close() { portOpen = false; }

void ScriptPort::clear()
{
    input.clear();
    readPos = 0;
}

bool ScriptPort::sendBytes(QByteArray data)
{
    if (!portOpen)
        return false;
    writtenBytes += data;
    for (char c : data) {
        if (c == '\r' && !answers.empty()) {
            timed << Timed{nowMs + answers.front().delayMs, answers.front().bytes};
            answers.pop_front();
        }
    }
    release(nowMs);
    return true;
}

bool ScriptPort::sendByte(unsigned char byte)
{
    return sendBytes(QByteArray(1, char(byte)));
}

bool ScriptPort::receiveByte(unsigned char *byte)
{
    if (portOpen && flooding && readPos >= input.size()) {
        *byte = uchar(floodByte);
        ++bytesRead;
        if (onRead)
            onRead();
        return true;
    }
    if (!portOpen || readPos >= input.size())
        return false;
    *byte = uchar(input.at(readPos++));
    ++bytesRead;
    if (onRead)
        onRead();
    if (readPos == input.size()) {
        input.clear();
        readPos = 0;
    }
    return true;
}

int ScriptPort::receiveBytes(QByteArray *buffer, int n)
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
