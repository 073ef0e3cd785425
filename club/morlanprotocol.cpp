#include "club/morlanprotocol.h"

#include "core/vexexception.h"
#include "device/commport.h"
#include "device/hardware_control.h"

#include <QString>

namespace {

constexpr quint8 kRequestStart = 0x6C;
constexpr quint8 kResponseStart = 0x33;
constexpr int kRequestHeaderBytes = 4;  // start, address, command, length
constexpr int kResponseHeaderBytes = 5; // ... and the status
// The length byte of a request holds the data size in 8 bits; a response's
// holds the data size plus the status byte.
constexpr int kMaxRequestDataBytes = 255;
constexpr int kMaxResponseDataBytes = 254;
// Past this many bytes a response cannot be a frame: its length byte is 251 or
// more, so the next byte is dropped and the frame reported broken.
constexpr int kMaxResponseBufferBytes = 254;
// Empty polls (each followed by a 1 ms sleep) allowed for the rest of a frame.
constexpr int kRequestBodyPolls = 300;
// An answer's body may pause this many empty polls after each byte. Counted
// from the last byte, not from the start byte: at the router's 9600 baud a
// byte takes about 1 ms, so a budget for the whole body would cut off every
// valid answer of about 100 bytes or more.
constexpr int kResponseBodyPolls = 100;
// The whole body of the longest answer (255 bytes) takes about 270 ms at
// 9600 baud; an answer still incomplete after twice that, plus one pause,
// is a router trickling bytes, and the exchange ends rather than hold the
// link for seconds.
constexpr int kResponseLinePolls = 2 * 270;
constexpr int kResponseFramePolls = kResponseBodyPolls + kResponseLinePolls;
// A slave that sees a stream with no start byte gives the line back to its
// mode loop after this many dropped bytes, so a mode change is still noticed.
constexpr int kMaxSkippedBytes = 300;
constexpr int kPollSleepMs = 1;

[[noreturn]] void fail(int code, const char *message)
{
    throw VexException(code, QString::fromLatin1(message), QString());
}

void sendFrame(CommPort *port, const QByteArray &frame)
{
    if (!port->sendBytes(frame))
        fail(0x105, "Communication send failed!");
}

} // namespace

quint8 morlanSum(const QByteArray &bytes, int count)
{
    quint8 sum = 0;
    for (int i = 0; i < count && i < bytes.size(); ++i)
        sum = quint8(sum + quint8(bytes.at(i)));
    return sum;
}

MorlanRequestPacket::MorlanRequestPacket(const QByteArray &frame)
{
    load(frame);
}

void MorlanRequestPacket::load(const QByteArray &frame)
{
    auto byteAt = [&frame](int i) { return i < frame.size() ? quint8(frame.at(i)) : quint8(0); };
    start = byteAt(0);
    address = byteAt(1);
    command = byteAt(2);
    length = byteAt(3);
    data = frame.mid(kRequestHeaderBytes, length);
}

QByteArray MorlanRequestPacket::toByteArray() const
{
    QByteArray frame;
    frame.reserve(kRequestHeaderBytes + data.size() + 1);
    frame.append(char(start));
    frame.append(char(address));
    frame.append(char(command));
    frame.append(char(quint8(data.size())));
    frame.append(data);
    frame.append(char(morlanSum(frame, frame.size())));
    return frame;
}

MorlanResponsePacket::MorlanResponsePacket(const QByteArray &frame)
{
    load(frame);
}

void MorlanResponsePacket::load(const QByteArray &frame)
{
    auto byteAt = [&frame](int i) { return i < frame.size() ? quint8(frame.at(i)) : quint8(0); };
    start = byteAt(0);
    address = byteAt(1);
    command = byteAt(2);
    if (frame.size() < kRequestHeaderBytes)
        length = 255;
    else
        // A length byte of 0 still frames a status byte (the parser completes
        // such a frame at six bytes); taking it as 255 would load the sum as data.
        length = byteAt(3) == 0 ? 0 : quint8(byteAt(3) - 1);
    status = byteAt(4);
    data = frame.mid(kResponseHeaderBytes, length);
}

QByteArray MorlanResponsePacket::toByteArray() const
{
    QByteArray frame;
    frame.reserve(kResponseHeaderBytes + data.size() + 1);
    frame.append(char(start));
    frame.append(char(address));
    frame.append(char(command));
    frame.append(char(quint8(data.size() + 1)));
    frame.append(char(status));
    frame.append(data);
    frame.append(char(morlanSum(frame, frame.size())));
    return frame;
}

MorlanRequestParser::MorlanRequestParser(CommPort *commPort)
    : port(commPort)
{
}

void MorlanRequestParser::reset()
{
    buffer.clear();
}

int MorlanRequestParser::push(quint8 byte)
{
    buffer.append(char(byte));
    const int n = buffer.size();
    if (n < kRequestHeaderBytes + 1)
        return NeedMore;
    const int length = quint8(buffer.at(3));
    if (length > n - (kRequestHeaderBytes + 1))
        return NeedMore;
    return morlanSum(buffer, n - 1) == quint8(buffer.at(n - 1)) ? Complete : BadSum;
}

bool MorlanRequestParser::fetchPacket(MorlanRequestPacket *packet)
{
    uchar byte = 0;
    for (int skipped = 0;; ++skipped) {
        if (skipped >= kMaxSkippedBytes || !port->receiveByte(&byte))
            return false;
        if (byte == kRequestStart)
            break;
    }
    buffer.clear();
    push(kRequestStart);
    int budget = kRequestBodyPolls;
    while (true) {
        if (!port->receiveByte(&byte)) {
            --budget;
            HardwareControl::wait(kPollSleepMs);
            if (budget <= 0)
                return false;
            continue;
        }
        switch (push(byte)) {
        case Complete:
            packet->load(buffer);
            buffer.clear();
            return true;
        case BadSum:
            port->clear();
            fail(0x503, "Morlan crc error!");
        default:
            break;
        }
    }
}

void MorlanRequestParser::sendPacket(MorlanRequestPacket &packet)
{
    // The length byte holds 8 bits: more data would go out as a corrupt frame.
    if (packet.data.size() > kMaxRequestDataBytes)
        fail(0x105, "Communication send failed!");
    const QByteArray frame = packet.toByteArray();
    // In a master/slave exchange nothing pending now is wanted; an answer that
    // came after its time-out must not be read as the answer to this request.
    port->clear();
    sendFrame(port, frame);
}

MorlanResponseParser::MorlanResponseParser(CommPort *commPort)
    : port(commPort)
{
}

void MorlanResponseParser::reset()
{
    buffer.clear();
}

int MorlanResponseParser::push(quint8 byte)
{
    if (buffer.size() > kMaxResponseBufferBytes) {
        buffer.clear();
        return Overflow;
    }
    buffer.append(char(byte));
    const int n = buffer.size();
    if (n <= kResponseHeaderBytes)
        return NeedMore;
    const int length = quint8(buffer.at(3));
    if (n - kRequestHeaderBytes <= length)
        return NeedMore;
    if (morlanSum(buffer, n - 1) == quint8(buffer.at(n - 1)))
        return Complete;
    buffer.clear();
    return BadSum;
}

bool MorlanResponseParser::fetchPacket(MorlanResponsePacket *packet, int timeoutMs)
{
    if (timeoutMs < 1)
        fail(0x506, "Morlan no response!");
    uchar byte = 0;
    bool gotFirst = false;
    for (int poll = 0; poll < timeoutMs; ++poll) {
        if (port->receiveByte(&byte)) {
            gotFirst = true;
            break;
        }
        HardwareControl::wait(kPollSleepMs);
    }
    if (!gotFirst)
        fail(0x506, "Morlan no response!");
    if (byte != kResponseStart)
        fail(0x500, "Morlan response exception!");

    buffer.clear();
    push(kResponseStart);
    int pausePolls = 0; // since the last byte
    int framePolls = 0; // since the start byte
    while (true) {
        if (!port->receiveByte(&byte)) {
            ++pausePolls;
            ++framePolls;
            if (pausePolls >= kResponseBodyPolls || framePolls >= kResponseFramePolls)
                fail(0x508, "Morlan response overtime!");
            HardwareControl::wait(kPollSleepMs);
            continue;
        }
        pausePolls = 0;
        switch (push(byte)) {
        case Complete:
            packet->load(buffer);
            return true;
        case BadSum:
            port->clear();
            fail(0x503, "Response crc error!");
        case Overflow:
            fail(0x508, "Morlan response exception!");
        default:
            break;
        }
    }
}

void MorlanResponseParser::sendPacket(MorlanResponsePacket &packet)
{
    if (packet.data.size() > kMaxResponseDataBytes)
        fail(0x105, "Communication send failed!");
    const QByteArray frame = packet.toByteArray();
    port->clear();
    sendFrame(port, frame);
}
