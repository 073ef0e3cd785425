#pragma once

#include <QByteArray>
#include <QtGlobal>

// The ring-reader link's wire format as the peers see it, written from the
// frame description alone: a start byte, the escaped body, an end byte; the
// body holds two address words (low byte first), the packet and a CRC-8 of the
// packet. Nothing here may come from the program's own link code.
namespace RingWire {

constexpr char kStart = 0x1A;
constexpr char kEnd = 0x17;
constexpr char kEscape = 0x1B;
constexpr int kMaxBody = 128;
constexpr quint8 kCommandType = 0x21;
constexpr quint8 kResponseType = 0x61;

// CRC-8, polynomial 0x1D, register preset 0xFF, shifted bit by bit.
quint8 crc8(const QByteArray &bytes);

// 0x1A, the body with 0x17, 0x1A and 0x1B sent as 0x1B and the byte | 0x80, 0x17.
QByteArray frame(const QByteArray &body);

// A body: addresses, type, version byte, 0x00, length byte, payload, CRC.
QByteArray body(quint16 baseAddr, quint16 devAddr, quint8 type, const QByteArray &payload,
                quint8 version = 0x01);

// A response payload: status and data length (both low byte first), data.
QByteArray responsePayload(quint16 status, const QByteArray &data);

// One frame decoded from the wire. Fields past the end of a short body keep
// their defaults; commandOk tells a well-formed command frame.
struct Frame
{
    QByteArray raw;  // start byte to end byte as received
    QByteArray body; // unescaped
    quint16 baseAddr = 0;
    quint16 devAddr = 0;
    quint8 type = 0;
    quint8 version = 0;
    quint8 reserved = 0;
    quint8 length = 0;
    QByteArray payload;
    bool crcOk = false;
    // Command payload: group, command, data length, data.
    quint8 group = 0;
    quint8 command = 0;
    quint16 dataLength = 0;
    QByteArray data;

    bool commandOk() const;
};

Frame decode(const QByteArray &raw, const QByteArray &body);

// Collects frames from a byte stream. An unescaped start byte restarts the
// frame; bytes outside a frame are ignored.
class Decoder
{
public:
    // True when b completed a frame, which takeFrame() then returns.
    bool feed(char b);
    Frame takeFrame();

private:
    QByteArray raw;
    QByteArray bodyBytes;
    bool inFrame = false;
    bool escaped = false;
    Frame done;
};

} // namespace RingWire
