#include "device/DeviceComm.h"

#include "core/vexexception.h"
#include "device/SDKHelp.h"
#include "device/serialio.h"

#include <QSerialPort>

#include <algorithm>
#include <cstring>

namespace {
constexpr unsigned char kStartByte = 0x1A;
constexpr unsigned char kEndByte = 0x17;
constexpr unsigned char kEscapeByte = 0x1B;
constexpr unsigned char kEscapeBit = 0x80;
constexpr unsigned char kCrcInit = 0xFF;
constexpr int kMaxBodyBytes = 128;
constexpr int kAddressBytes = 4;
constexpr int kPacketHeaderBytes = 4;
constexpr int kCrcBytes = 1;
// A body has addresses, header, CRC; the packet's length byte is at offset 7.
constexpr int kLengthOffset = kAddressBytes + 3;
constexpr int kMinBodyBytes = 4;
constexpr int kMaxSendPayload = 120; // n must stay below this when sending
constexpr int kCommandHeaderBytes = 4;  // group, command, data length
constexpr int kResponseHeaderBytes = 4; // status and data length

constexpr unsigned char kCommandType = 0x21;
constexpr unsigned char kPacketVersion = 0x01;
constexpr unsigned char kResponseTypeMask = 0xF0;
constexpr unsigned char kResponseType = 0x60;

constexpr int kPollPeriodMs = 10;
constexpr int kNextByteWaitMs = 100; // for every byte after the first
// Initialisation rewrites the module's settings, which takes it a while; the
// longer wait stays for later commands, which may still be queued behind it.
constexpr int kInitTimeoutMs = 2000;

constexpr unsigned char kGroupBasic = 0;
constexpr unsigned char kCmdQuery = 0;
constexpr unsigned char kQueryDevNo = 1;
constexpr unsigned char kQueryDevType = 4;
constexpr unsigned char kQueryInitParams = 6;
constexpr unsigned char kCmdInit = 2;
constexpr unsigned char kCmdGetTime = 8;
constexpr unsigned char kCmdSetTime = 9;
constexpr unsigned char kCmdReboot = 10;
constexpr char kInitKey[] = "KORVAND0"; // sent without its terminator
constexpr int kInitKeyBytes = 8;
constexpr int kInitDataBytes = 8;
constexpr int kDevNoBytes = 4;
constexpr int kInitParamBytes = 16;
constexpr int kTimeBytes = 8;

constexpr int kNothingReceived = 259;
constexpr int kPacketTooShort = 260;
constexpr int kBufferOut = 262;
constexpr int kFormatError = 263;
constexpr int kCrcError = 266;
constexpr int kPortInvalid = 268;
constexpr int kWriteError = 269;
constexpr int kPacketParams = 1025;

[[noreturn]] void fail(int code, const char *message)
{
    throw VexException(code, QString::fromLatin1(message), QString());
}

_CMDPACKET command(unsigned char cmd)
{
    _CMDPACKET c{};
    c.group = kGroupBasic;
    c.cmd = cmd;
    return c;
}

_CMDPACKET query(unsigned char what)
{
    _CMDPACKET c = command(kCmdQuery);
    c.dataLen = 1;
    c.data[0] = what;
    return c;
}
} // namespace

DeviceHandler::DeviceHandler(QSerialPort *serialPort)
    : port(serialPort)
{
}

DeviceHandler::~DeviceHandler() = default;

void DeviceHandler::bind(QSerialPort *newPort) { port = newPort; }
void DeviceHandler::setTimeout(int ms) { timeout = ms; }
void DeviceHandler::setBaseAddr(unsigned short addr) { baseAddr = addr; }
void DeviceHandler::selectDevAddr(unsigned short addr) { devAddr = addr; }

bool DeviceHandler::isValid()
{
    return port && port->isOpen();
}

void DeviceHandler::clear()
{
    if (isValid())
        SerialIo::discardInput(port);
}

void DeviceHandler::requireValid()
{
    if (!isValid())
        fail(kPortInvalid, "Deivce port is invalid!");
}

bool DeviceHandler::readByte(unsigned char *b, int timeoutMs)
{
    if (!isValid())
        return false;
    const int polls = (timeoutMs + 9) / kPollPeriodMs + 1;
    for (int i = 0; i < polls; ++i) {
        char c = 0;
        if (SerialIo::waitingBytes(port) > 0 && port->getChar(&c)) {
            *b = static_cast<unsigned char>(c);
            return true;
        }
        SerialIo::waitForInput(port, kPollPeriodMs);
    }
    return false;
}

unsigned int DeviceHandler::readBytes(unsigned char *out, unsigned int n)
{
    for (unsigned int i = 0; i < n; ++i) {
        if (!readByte(out + i, kNextByteWaitMs))
            return i;
    }
    return 0;
}

void DeviceHandler::writeBytes(const unsigned char *data, unsigned int n)
{
    requireValid();
    if (!SerialIo::writeAll(port, reinterpret_cast<const char *>(data), qint64(n)))
        fail(kWriteError, "Write data error!");
}

void DeviceHandler::writeByte(unsigned char b)
{
    writeBytes(&b, 1);
}

void DeviceHandler::sendFrame(const _COMMFRAME *frame, unsigned char len)
{
    requireValid();
    if (!frame || len > kMaxBodyBytes)
        fail(kPacketParams, "Packet parameters error!");
    // Worst case every body byte is escaped.
    unsigned char wire[2 * kMaxBodyBytes + 2];
    int w = 0;
    wire[w++] = kStartByte;
    const auto *body = reinterpret_cast<const unsigned char *>(frame);
    for (int i = 0; i < len; ++i) {
        const unsigned char b = body[i];
        if (b == kStartByte || b == kEndByte || b == kEscapeByte) {
            wire[w++] = kEscapeByte;
            wire[w++] = static_cast<unsigned char>(b | kEscapeBit);
        } else {
            wire[w++] = b;
        }
    }
    wire[w++] = kEndByte;
    // One write: the whole frame reaches the driver before the reply can start.
    writeBytes(wire, static_cast<unsigned int>(w));
}

void DeviceHandler::sendPacket(const _DATAPACKET *packet)
{
    requireValid();
    if (!packet || packet->len >= kMaxSendPayload)
        fail(kPacketParams, "Packet parameters error!");
    const int packetBytes = packet->len + kPacketHeaderBytes;
    _COMMFRAME frame{};
    frame.baseAddr = baseAddr;
    frame.devAddr = devAddr;
    std::memcpy(frame.packet, packet, size_t(packetBytes));
    frame.packet[packetBytes] = SDKHelp::crc8_ccitt(kCrcInit, frame.packet, unsigned(packetBytes));
    // Whatever a failed exchange left behind must not pass for this answer.
    clear();
    sendFrame(&frame, static_cast<unsigned char>(kAddressBytes + packetBytes + kCrcBytes));
}

void DeviceHandler::receiveFrame(_COMMFRAME *frame, unsigned char *len)
{
    requireValid();
    _COMMFRAME received{};
    auto *body = reinterpret_cast<unsigned char *>(&received);
    unsigned char b = 0;
    if (!readByte(&b, timeout))
        fail(kNothingReceived, "Nothing received!");
    if (b != kStartByte)
        fail(kFormatError, "STB error!");

    int count = 0;
    for (;;) {
        if (!readByte(&b, kNextByteWaitMs))
            fail(kNothingReceived, "Data not received!");
        if (b == kEndByte)
            break;
        if (b == kEscapeByte) {
            if (!readByte(&b, kNextByteWaitMs))
                fail(kNothingReceived, "Data format error!");
            b &= 0x7F;
        }
        if (count == kMaxBodyBytes)
            fail(kBufferOut, "Comm buffer out!");
        body[count++] = b;
    }

    if (count < kMinBodyBytes)
        fail(kFormatError, "Packet format error!");
    // The length byte is only read once it was received.
    if (count <= kLengthOffset)
        fail(kPacketTooShort, "Packet format error!");
    const int n = body[kLengthOffset];
    const int crcOffset = kAddressBytes + kPacketHeaderBytes + n;
    if (count <= crcOffset)
        fail(kPacketTooShort, "Packet format error!");
    if (body[crcOffset] != SDKHelp::crc8_ccitt(kCrcInit, body + kAddressBytes, unsigned(n + kPacketHeaderBytes)))
        fail(kCrcError, "Packet format error!");
    if (frame)
        *frame = received;
    if (len)
        *len = static_cast<unsigned char>(count);
}

int DeviceHandler::receivePacket(_DATAPACKET *packet)
{
    _COMMFRAME frame{};
    unsigned char len = 0;
    receiveFrame(&frame, &len);
    _DATAPACKET received{};
    std::memcpy(&received, frame.packet, sizeof received);
    if ((received.type & kResponseTypeMask) != kResponseType || received.version != kPacketVersion)
        fail(kFormatError, "Response packet format error!");
    if (packet)
        std::memcpy(packet, &received, size_t(received.len + kPacketHeaderBytes));
    return received.len;
}

void DeviceHandler::sendCmd(const _CMDPACKET *cmd)
{
    requireValid();
    if (!cmd || cmd->dataLen + kCommandHeaderBytes >= kMaxSendPayload)
        fail(kPacketParams, "Packet parameters error!");
    _DATAPACKET packet{};
    packet.type = kCommandType;
    packet.version = kPacketVersion;
    packet.reserved = 0;
    packet.len = static_cast<unsigned char>(cmd->dataLen + kCommandHeaderBytes);
    packet.payload[0] = cmd->group;
    packet.payload[1] = cmd->cmd;
    packet.payload[2] = static_cast<unsigned char>(cmd->dataLen & 0xFF);
    packet.payload[3] = static_cast<unsigned char>(cmd->dataLen >> 8);
    std::memcpy(packet.payload + kCommandHeaderBytes, cmd->data, cmd->dataLen);
    sendPacket(&packet);
}

int DeviceHandler::receiveRsp(_RESPONSEPACKET *rsp)
{
    _DATAPACKET packet{};
    const int n = receivePacket(&packet);
    if (rsp)
        std::memcpy(rsp, packet.payload, size_t(n));
    return n;
}

int DeviceHandler::dataCarried(const _RESPONSEPACKET &rsp, int payloadLen)
{
    return std::max(0, std::min(int(rsp.dataLen), payloadLen - kResponseHeaderBytes));
}

void DeviceHandler::checkResponse(const _RESPONSEPACKET &rsp, int payloadLen, int minDataBytes)
{
    // Without its status and length a response must not pass for success.
    if (payloadLen < kResponseHeaderBytes)
        fail(kFormatError, "Response length error!");
    if (rsp.status != 0)
        throw VexException(rsp.status, QStringLiteral("Response error!"), QString());
    if (dataCarried(rsp, payloadLen) < minDataBytes)
        fail(kFormatError, "Response length error!");
}

int DeviceHandler::exchange(const _CMDPACKET &cmd, _RESPONSEPACKET *rsp)
{
    sendCmd(&cmd);
    return receiveRsp(rsp);
}

QString DeviceHandler::getDevNo()
{
    _RESPONSEPACKET rsp{};
    checkResponse(rsp, exchange(query(kQueryDevNo), &rsp), kDevNoBytes);
    char hex[2 * kDevNoBytes + 1];
    SDKHelp::BinToHex(rsp.data, kDevNoBytes, hex);
    return QString::fromLatin1(hex);
}

unsigned short DeviceHandler::getDevType()
{
    _RESPONSEPACKET rsp{};
    checkResponse(rsp, exchange(query(kQueryDevType), &rsp), 2);
    return SDKHelp::toUInt16(rsp.data);
}

void DeviceHandler::getInitParams(unsigned char *out16)
{
    _RESPONSEPACKET rsp{};
    checkResponse(rsp, exchange(query(kQueryInitParams), &rsp), kInitParamBytes);
    std::memcpy(out16, rsp.data, kInitParamBytes);
}

void DeviceHandler::initDev(const unsigned char *data8)
{
    setTimeout(kInitTimeoutMs);
    _CMDPACKET cmd = command(kCmdInit);
    cmd.dataLen = kInitKeyBytes + kInitDataBytes;
    std::memcpy(cmd.data, kInitKey, kInitKeyBytes);
    std::memcpy(cmd.data + kInitKeyBytes, data8, kInitDataBytes);
    _RESPONSEPACKET rsp{};
    checkResponse(rsp, exchange(cmd, &rsp), 0);
}

qint64 DeviceHandler::getTime()
{
    _RESPONSEPACKET rsp{};
    checkResponse(rsp, exchange(command(kCmdGetTime), &rsp), kTimeBytes);
    return SDKHelp::toInt64(rsp.data);
}

void DeviceHandler::setTime(long long ms)
{
    _CMDPACKET cmd = command(kCmdSetTime);
    cmd.dataLen = kTimeBytes;
    SDKHelp::toBytes(ms, cmd.data);
    // The device answers, but what it says is not examined.
    exchange(cmd, nullptr);
}

void DeviceHandler::rebootDev()
{
    _RESPONSEPACKET rsp{};
    checkResponse(rsp, exchange(command(kCmdReboot), &rsp), 0);
}

int UartParser::push(unsigned char b)
{
    if (state == Complete)
        return 1;
    if (b == kStartByte) {
        count = 0;
        state = InFrame;
        return 0;
    }
    if (b == kEndByte) {
        // Complete only when the CRC byte the length byte points at was held.
        if (state == InFrame && count > kLengthOffset + 1) {
            const int n = buf[kLengthOffset];
            const int crcOffset = kAddressBytes + kPacketHeaderBytes + n;
            if (count > crcOffset
                && buf[crcOffset] == SDKHelp::crc8_ccitt(kCrcInit, buf + kAddressBytes, unsigned(n + kPacketHeaderBytes))) {
                state = Complete;
                return 1;
            }
        }
        state = Idle;
        return 0;
    }
    if (state == InFrame) {
        if (b == kEscapeByte) {
            state = Escaped;
        } else if (count < kMaxBodyBytes) {
            buf[count++] = b;
        } else {
            state = Idle;
        }
    } else if (state == Escaped) {
        if (count < kMaxBodyBytes) {
            buf[count++] = static_cast<unsigned char>(b & 0x7F);
            state = InFrame;
        } else {
            state = Idle;
        }
    }
    return 0;
}
