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
    QByteArray due;
    for (int i = 0; i < timed.size();) {
        if (timed.at(i).atMs <= nowMs)
            due += timed.takeAt(i).bytes;
        else
            ++i;
    }
    while (trickleFromMs >= 0 && trickleNextMs <= nowMs) {
        due += trickleByte;
        trickleNextMs += tricklePeriodMs;
    }
    if (!due.isEmpty())
        queueInput(due);
}

void ScriptPort::setOpen(bool open)
{
    if (open)
        MemoryCommPort::open();
    else
        close();
}

QList<QByteArray> ScriptPort::lines() const
{
    QList<QByteArray> out = written().split('\r');
    out.removeLast();
    return out;
}

bool ScriptPort::sendBytes(QByteArray data)
{
    if (!MemoryCommPort::sendBytes(data))
        return false;
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
    bool got = MemoryCommPort::receiveByte(byte);
    if (!got && flooding && isOpen()) {
        *byte = uchar(floodByte);
        got = true;
    }
    if (got && onRead)
        onRead();
    return got;
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
