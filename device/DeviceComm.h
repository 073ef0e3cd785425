#pragma once

#include <QString>
#include <QtGlobal>

class QSerialPort;

// Wire images of the ring-reader link. Multi-byte fields travel low byte
// first; the packed layouts equal the wire on the little-endian boards and
// hosts this program runs on.
#pragma pack(push, 1)
// A frame body after unescaping: address words, the packet, its CRC-8.
struct _COMMFRAME
{
    unsigned short baseAddr;
    unsigned short devAddr;
    unsigned char packet[124]; // n + 4 packet bytes, then the CRC-8
};

struct _DATAPACKET
{
    unsigned char type;     // 0x21 command; 0x60 to 0x6F response
    unsigned char version;  // always 0x01
    unsigned char reserved; // 0x00, not examined on receipt
    unsigned char len;      // n, the payload length
    unsigned char payload[120];
};

struct _CMDPACKET
{
    unsigned char group;
    unsigned char cmd;
    unsigned short dataLen; // at most 115 when sending
    unsigned char data[116];
};

struct _RESPONSEPACKET
{
    unsigned short status; // 0 success, else the device's error code
    unsigned short dataLen;
    unsigned char data[116];
};
#pragma pack(pop)

static_assert(sizeof(_COMMFRAME) == 128, "a frame body holds at most 128 bytes");
static_assert(sizeof(_DATAPACKET) == 124, "packet and CRC fill the body after the addresses");
static_assert(sizeof(_CMDPACKET) == 120 && sizeof(_RESPONSEPACKET) == 120, "payloads fill a packet");
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the wire images assume a little-endian machine");

// The framed, addressed, CRC-8 checked command/response protocol that every
// ring reader speaks, over a QSerialPort it does not own. One thread (the
// port's owner, where no event loop runs) uses a handler; it keeps no lock.
// Failures are thrown as VexException; the next send discards leftover input.
class DeviceHandler
{
public:
    explicit DeviceHandler(QSerialPort *port);
    virtual ~DeviceHandler();
    DeviceHandler(const DeviceHandler &) = delete;
    DeviceHandler &operator=(const DeviceHandler &) = delete;

    void bind(QSerialPort *port);
    void setTimeout(int ms); // wait for the first byte of a response
    void setBaseAddr(unsigned short addr);
    void selectDevAddr(unsigned short addr);
    bool isValid();
    void clear();

    bool readByte(unsigned char *b, int timeoutMs);
    // 0 when all n came (or n is 0), else how many came before one did not.
    unsigned int readBytes(unsigned char *out, unsigned int n);
    void writeBytes(const unsigned char *data, unsigned int n);
    void writeByte(unsigned char b);

    void sendFrame(const _COMMFRAME *frame, unsigned char len);
    void sendPacket(const _DATAPACKET *packet);
    void receiveFrame(_COMMFRAME *frame, unsigned char *len);
    // Return the packet's payload length n.
    int receivePacket(_DATAPACKET *packet);
    void sendCmd(const _CMDPACKET *cmd);
    int receiveRsp(_RESPONSEPACKET *rsp);

    // For a command that examines the status or data of a response with
    // payload length n: throws 263 "Response length error!" when the status
    // and length are missing (n < 4) or fewer than minDataBytes data bytes
    // count, and the device's status with "Response error!" when not 0.
    static void checkResponse(const _RESPONSEPACKET &rsp, int payloadLen, int minDataBytes);
    // Data bytes that count: the lesser of the length field and those carried.
    static int dataCarried(const _RESPONSEPACKET &rsp, int payloadLen);

    QString getDevNo();
    unsigned short getDevType();
    void getInitParams(unsigned char *out16);
    void initDev(const unsigned char *data8);
    qint64 getTime();
    void setTime(long long ms);
    void rebootDev();

private:
    void requireValid();
    int exchange(const _CMDPACKET &cmd, _RESPONSEPACKET *rsp);

    QSerialPort *port = nullptr;
    int timeout = 100;
    unsigned short baseAddr = 0xFFFF;
    unsigned short devAddr = 0xFFFF;
};

// Byte-at-a-time receiver of the same framing, for links that are fed from an
// event handler. A plain record: its owner sets state back to Idle once it has
// taken a complete frame out of buf.
struct UartParser
{
    enum : unsigned char { Idle = 0, InFrame = 1, Escaped = 2, Complete = 0x83 };

    // 1 while a complete, CRC-checked frame is held; else 0.
    int push(unsigned char b);

    unsigned char state = Idle;
    unsigned char buf[128] = {};
    unsigned char count = 0;
};
