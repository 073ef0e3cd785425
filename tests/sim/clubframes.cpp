#include "clubframes.h"

namespace ClubFrames {

quint8 checkByte(const QByteArray &bytes)
{
    unsigned total = 0;
    for (char c : bytes)
        total += static_cast<unsigned char>(c);
    return static_cast<quint8>(total & 0xFFu);
}

QByteArray request(quint8 address, quint8 command, const QByteArray &data)
{
    QByteArray frame;
    frame += char(kRequestStart);
    frame += char(address);
    frame += char(command);
    frame += char(data.size() & 0xFF);
    frame += data;
    frame += char(checkByte(frame));
    return frame;
}

QByteArray answer(quint8 address, quint8 command, quint8 status, const QByteArray &data)
{
    QByteArray frame;
    frame += char(kAnswerStart);
    frame += char(address);
    frame += char(command);
    frame += char((data.size() + 1) & 0xFF);
    frame += char(status);
    frame += data;
    frame += char(checkByte(frame));
    return frame;
}

bool RequestReader::feed(quint8 byte, Request *out)
{
    if (pending.isEmpty() && byte != kRequestStart)
        return false;
    pending += char(byte);
    // start, address, command, length, data, check byte
    if (pending.size() < 4)
        return false;
    const int dataBytes = static_cast<unsigned char>(pending.at(3));
    if (pending.size() < 4 + dataBytes + 1)
        return false;
    out->raw = pending;
    out->address = static_cast<quint8>(pending.at(1));
    out->command = static_cast<quint8>(pending.at(2));
    out->data = pending.mid(4, dataBytes);
    out->sumOk = checkByte(pending.left(pending.size() - 1)) == static_cast<quint8>(pending.back());
    pending.clear();
    return true;
}

void RequestReader::reset()
{
    pending.clear();
}

bool RequestReader::inFrame() const
{
    return !pending.isEmpty();
}

bool parseAnswer(const QByteArray &bytes, Answer *out)
{
    if (bytes.size() < 6 || static_cast<quint8>(bytes.at(0)) != kAnswerStart)
        return false;
    const int lengthByte = static_cast<unsigned char>(bytes.at(3));
    const int dataBytes = lengthByte > 0 ? lengthByte - 1 : 0;
    const int frameBytes = 5 + dataBytes + 1;
    if (bytes.size() < frameBytes)
        return false;
    out->address = static_cast<quint8>(bytes.at(1));
    out->command = static_cast<quint8>(bytes.at(2));
    out->status = static_cast<quint8>(bytes.at(4));
    out->data = bytes.mid(5, dataBytes);
    out->sumOk = checkByte(bytes.left(frameBytes - 1)) == static_cast<quint8>(bytes.at(frameBytes - 1));
    return true;
}

} // namespace ClubFrames
