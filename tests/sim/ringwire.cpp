#include "ringwire.h"

namespace RingWire {

namespace {
void putLe16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

quint16 le16(const QByteArray &in, int offset)
{
    return quint16(quint8(in.at(offset)) | (quint8(in.at(offset + 1)) << 8));
}
} // namespace

quint8 crc8(const QByteArray &bytes)
{
    quint8 reg = 0xFF;
    for (char c : bytes) {
        reg ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x80) ? quint8((reg << 1) ^ 0x1D) : quint8(reg << 1);
    }
    return reg;
}

QByteArray frame(const QByteArray &body)
{
    QByteArray out;
    out.append(kStart);
    for (char c : body) {
        if (c == kStart || c == kEnd || c == kEscape) {
            out.append(kEscape);
            out.append(char(quint8(c) | 0x80));
        } else {
            out.append(c);
        }
    }
    out.append(kEnd);
    return out;
}

QByteArray body(quint16 baseAddr, quint16 devAddr, quint8 type, const QByteArray &payload, quint8 version)
{
    QByteArray packet;
    packet.append(char(type));
    packet.append(char(version));
    packet.append('\0');
    packet.append(char(quint8(payload.size())));
    packet.append(payload);
    QByteArray out;
    putLe16(out, baseAddr);
    putLe16(out, devAddr);
    out.append(packet);
    out.append(char(crc8(packet)));
    return out;
}

QByteArray responsePayload(quint16 status, const QByteArray &data)
{
    QByteArray out;
    putLe16(out, status);
    putLe16(out, quint16(data.size()));
    out.append(data);
    return out;
}

bool Frame::commandOk() const
{
    return crcOk && type == kCommandType && version == 0x01 && payload.size() >= 4
        && data.size() == dataLength;
}

Frame decode(const QByteArray &raw, const QByteArray &body)
{
    Frame f;
    f.raw = raw;
    f.body = body;
    if (body.size() < 8)
        return f;
    f.baseAddr = le16(body, 0);
    f.devAddr = le16(body, 2);
    f.type = quint8(body.at(4));
    f.version = quint8(body.at(5));
    f.reserved = quint8(body.at(6));
    f.length = quint8(body.at(7));
    const int crcAt = 8 + f.length;
    if (body.size() <= crcAt)
        return f;
    f.payload = body.mid(8, f.length);
    f.crcOk = quint8(body.at(crcAt)) == crc8(body.mid(4, 4 + f.length));
    if (f.payload.size() >= 4) {
        f.group = quint8(f.payload.at(0));
        f.command = quint8(f.payload.at(1));
        f.dataLength = le16(f.payload, 2);
        f.data = f.payload.mid(4);
    }
    return f;
}

bool Decoder::feed(char b)
{
    if (b == kStart) {
        raw = QByteArray(1, b);
        bodyBytes.clear();
        inFrame = true;
        escaped = false;
        return false;
    }
    if (!inFrame)
        return false;
    raw.append(b);
    if (escaped) {
        bodyBytes.append(char(quint8(b) & 0x7F));
        escaped = false;
    } else if (b == kEscape) {
        escaped = true;
    } else if (b == kEnd) {
        inFrame = false;
        done = decode(raw, bodyBytes);
        return true;
    } else {
        bodyBytes.append(b);
    }
    return false;
}

Frame Decoder::takeFrame()
{
    return done;
}

} // namespace RingWire
