#pragma once

#include <QByteArray>
#include <QtGlobal>

// The club line's frames as the far end sees them, written from the frame
// tables alone: a request (master to slave) starts with 'l' (0x6C), an answer
// with '3' (0x33), and both end in the low 8 bits of the sum of every byte
// before the check byte.
namespace ClubFrames {

constexpr quint8 kRequestStart = 0x6C;
constexpr quint8 kAnswerStart = 0x33;

quint8 checkByte(const QByteArray &bytes);

// Complete frames, check byte included. The length byte is the data size in
// 8 bits (plus one for the status byte of an answer), as the line carries it.
QByteArray request(quint8 address, quint8 command, const QByteArray &data);
QByteArray answer(quint8 address, quint8 command, quint8 status, const QByteArray &data);

// A request taken apart by RequestReader.
struct Request
{
    QByteArray raw;
    quint8 address = 0;
    quint8 command = 0;
    QByteArray data;
    bool sumOk = false;
};

// Collects request frames from the byte stream one byte at a time. Bytes
// outside a frame (before a start byte) are skipped.
class RequestReader
{
public:
    // True when the byte completed a frame (good or bad sum), now in `out`.
    bool feed(quint8 byte, Request *out);
    void reset();
    bool inFrame() const;

private:
    QByteArray pending;
};

// Collects one answer frame, the far end of the product's slave replies.
struct Answer
{
    quint8 address = 0;
    quint8 command = 0;
    quint8 status = 0;
    QByteArray data;
    bool sumOk = false;
};
// Takes the first complete answer from the front of bytes; false when the
// bytes hold none.
bool parseAnswer(const QByteArray &bytes, Answer *out);

} // namespace ClubFrames
