#include "device/LFReaderHandler.h"

#include "core/vexexception.h"

#include <cstring>
#include <utility>

namespace {

constexpr unsigned char kGroup = 0x11;
constexpr unsigned char kCmdTransponder = 4;
// Transponder operations take a while on the reader's side.
constexpr int kAnswerWaitMs = 1000;
constexpr int kResponseHeaderBytes = 4; // status and data length
constexpr int kTooShort = 513;
constexpr int kRefused = 514;
constexpr int kPageBytes = 4;
constexpr unsigned char kPageIdLow = 4;
constexpr unsigned char kPageIdHigh = 5;

// Even parity of each nibble value.
constexpr unsigned char kNibbleParity[16] = {0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0};

class BitWriter
{
public:
    explicit BitWriter(unsigned char *target)
        : out(target)
    {
        std::memset(out, 0, 8);
    }
    void put(unsigned bit)
    {
        if (bit)
            out[count / 8] |= static_cast<unsigned char>(0x80u >> (count % 8));
        ++count;
    }
    void putNibble(unsigned nibble)
    {
        for (int shift = 3; shift >= 0; --shift)
            put((nibble >> shift) & 1u);
    }

private:
    unsigned char *out;
    int count = 0;
};

} // namespace

LFReaderHandler::LFReaderHandler(QSerialPort *serialPort)
    : DeviceHandler(serialPort)
{
}

LFReaderHandler::~LFReaderHandler() = default;

QByteArray LFReaderHandler::transponder(const QByteArray &request, int minDataBytes, const char *errorText)
{
    _CMDPACKET cmd{};
    cmd.group = kGroup;
    cmd.cmd = kCmdTransponder;
    cmd.dataLen = static_cast<unsigned short>(request.size());
    std::memcpy(cmd.data, request.constData(), size_t(request.size()));
    setTimeout(kAnswerWaitMs);
    sendCmd(&cmd);
    _RESPONSEPACKET rsp{};
    const int payloadLen = receiveRsp(&rsp);
    const int carried = dataCarried(rsp, payloadLen);
    const QString message = QString::fromLatin1(errorText);
    // The length test comes before the status test.
    if (carried < minDataBytes)
        throw VexException(kTooShort, message, QString());
    if (payloadLen < kResponseHeaderBytes)
        throw VexException(263, QStringLiteral("Response length error!"), QString());
    if (rsp.status != 0)
        throw VexException(kRefused, message, QString());
    return QByteArray(reinterpret_cast<const char *>(rsp.data), carried);
}

QString LFReaderHandler::readFDX()
{
    const QByteArray data = transponder(QByteArray::fromHex("00e002"), 0, "read fdx error!");
    return QString::fromLatin1(data.toHex().toUpper());
}

QString LFReaderHandler::readID64()
{
    const QByteArray data = transponder(QByteArray::fromHex("00e001"), 0, "read id64 error!");
    return QString::fromLatin1(data.toHex().toUpper());
}

QString LFReaderHandler::activeHts()
{
    QByteArray data = transponder(QByteArray::fromHex("00e100"), 8, "active HitagS error!");
    parsUid(reinterpret_cast<unsigned char *>(data.data()));
    return QString::fromLatin1(data.toHex().toUpper());
}

QString LFReaderHandler::readHtsPage(unsigned char page)
{
    QByteArray request = QByteArray::fromHex("00e102");
    request.append(char(page));
    const QByteArray data = transponder(request, kPageBytes, "read HitagS page error!");
    return QString::fromLatin1(data.toHex().toUpper());
}

void LFReaderHandler::writeHtsPage(unsigned char page, unsigned char *data4)
{
    QByteArray request = QByteArray::fromHex("00e103");
    request.append(char(page));
    request.append(reinterpret_cast<const char *>(data4), kPageBytes);
    transponder(request, kPageBytes, "write HitagS page error!");
}

void LFReaderHandler::changeHtsID64(unsigned char *id5)
{
    unsigned char frame[8];
    ID64_CreateTrailer(id5, frame);
    writeHtsPage(kPageIdLow, frame);
    writeHtsPage(kPageIdHigh, frame + kPageBytes);
}

void LFReaderHandler::ID64_CreateTrailer(unsigned char *id5, unsigned char *out8)
{
    BitWriter bits(out8);
    for (int i = 0; i < 9; ++i)
        bits.put(1); // header
    unsigned char columns = 0;
    for (int i = 0; i < 5; ++i) {
        columns ^= id5[i];
        for (unsigned nibble : {unsigned(id5[i] >> 4), unsigned(id5[i] & 0x0F)}) {
            bits.putNibble(nibble);
            bits.put(kNibbleParity[nibble]);
        }
    }
    bits.putNibble(unsigned((columns >> 4) ^ (columns & 0x0F)));
    bits.put(0); // stop bit
}

void LFReaderHandler::parsUid(unsigned char *uid4)
{
    std::swap(uid4[0], uid4[3]);
    std::swap(uid4[1], uid4[2]);
}
