#include "device/lfmodule.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/DeviceComm.h"
#include "device/SDKHelp.h"

#include <QSerialPort>

#include <cstring>

namespace {
constexpr qint32 kBaudRate = 9600;
// Every 'J' command and the group-0 queries wait this long for the first byte.
constexpr int kFirstByteWaitMs = 100;
constexpr unsigned char kGroupRace = 0x4A; // 'J'
constexpr unsigned char kCmdExchangeInfo = 0;
constexpr unsigned char kCmdStartRace = 1;
constexpr unsigned char kCmdStopRace = 2;
constexpr unsigned char kCmdGetChannel = 3;
constexpr unsigned char kCmdGetTag = 4;
constexpr int kResponseHeaderBytes = 4; // status and data length

constexpr int kInfoBytes = 32;
constexpr int kChannelBytes = 12;
constexpr int kTagBytes = 28;
constexpr int kHostTimeBytes = 6; // the low six bytes of the host's time
constexpr int kIdBytes = 4;
constexpr int kInitParamBytes = 16;
constexpr int kInitDataBytes = 8;

constexpr int kFormatError = 263;
constexpr int kLengthError = 1025;
const char kFormatErrorText[] = "Response format error!";
const char kLengthErrorText[] = "Response length error!";

[[noreturn]] void fail(int code, const char *message)
{
    throw VexException(code, QString::fromLatin1(message), QString());
}

// Four bytes, first byte first, as 8 upper-case hex digits.
QString hexId(const unsigned char *p)
{
    char text[2 * kIdBytes + 1];
    SDKHelp::BinToHex(p, kIdBytes, text);
    return QString::fromLatin1(text);
}

QByteArray le32(quint32 value)
{
    unsigned char bytes[4];
    SDKHelp::toBytes(static_cast<unsigned int>(value), bytes);
    return QByteArray(reinterpret_cast<const char *>(bytes), 4);
}

QByteArray le64(qint64 value)
{
    unsigned char bytes[8];
    SDKHelp::toBytes(static_cast<long long>(value), bytes);
    return QByteArray(reinterpret_cast<const char *>(bytes), 8);
}

const unsigned char *bytesOf(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}
} // namespace

LFInnerModule::LFInnerModule(QSerialPort *serialPort)
    : port(serialPort)
    , handler(std::make_unique<DeviceHandler>(serialPort))
{
}

LFInnerModule::~LFInnerModule() = default;

unsigned short LFInnerModule::connect()
{
    // A port left open by an earlier connection may carry a hung-up line or
    // foreign settings: start from a fresh open every time.
    if (port->isOpen())
        port->close();
    port->setBaudRate(kBaudRate);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    moduleId.clear();
    if (!port->open(QIODevice::ReadWrite)) {
        // Reported once per episode: the poller retries every few seconds.
        const QString error = port->errorString();
        if (error != lastOpenError)
            ServiceFactory::debug(QStringLiteral("LFInnerModule open ") + port->portName() + QStringLiteral(": ")
                                  + error);
        lastOpenError = error;
    } else {
        lastOpenError.clear();
    }
    // A closed port makes the link throw "Deivce port is invalid!".
    handler->setTimeout(kFirstByteWaitMs);
    moduleId = handler->getDevNo();
    handler->setTimeout(kFirstByteWaitMs);
    devType = handler->getDevType();
    return devType;
}

void LFInnerModule::disconnect()
{
    moduleId.clear();
}

bool LFInnerModule::isConnected() const
{
    return !moduleId.isEmpty();
}

QString LFInnerModule::getModuleId() const
{
    return moduleId;
}

unsigned short LFInnerModule::getRfDevType() const
{
    return devType;
}

QByteArray LFInnerModule::doCommand(unsigned char cmd, const QByteArray &data, int shortCode,
                                    const char *shortText, int minDataBytes)
{
    handler->setTimeout(kFirstByteWaitMs);
    _CMDPACKET command{};
    command.group = kGroupRace;
    command.cmd = cmd;
    command.dataLen = static_cast<unsigned short>(data.size());
    std::memcpy(command.data, data.constData(), size_t(data.size()));
    handler->sendCmd(&command);

    _RESPONSEPACKET rsp{};
    const int payloadBytes = handler->receiveRsp(&rsp);
    // Without status and length the answer must not pass for success.
    if (payloadBytes < kResponseHeaderBytes)
        fail(shortCode, shortText);
    if (rsp.status != 0)
        throw VexException(rsp.status, QStringLiteral("Do command error!"), QString());
    // Only the bytes the packet really carried count, whatever the length field says.
    const int carried = DeviceHandler::dataCarried(rsp, payloadBytes);
    if (carried < minDataBytes)
        fail(shortCode, shortText);
    return QByteArray(reinterpret_cast<const char *>(rsp.data), carried);
}

void LFInnerModule::exchangeInfo(const PIGEONHOST_INFO *host, RFMODULE_INFO *answer)
{
    QByteArray request;
    if (host) {
        request = le32(quint32(host->flags)) + le32(host->channelVer) + le32(host->tagVer)
            + le64(host->time).left(kHostTimeBytes);
    }
    const QByteArray data = doCommand(kCmdExchangeInfo, request, kLengthError, kLengthErrorText, kInfoBytes);
    if (!answer)
        return;
    const unsigned char *d = bytesOf(data);
    answer->reserved = SDKHelp::toInt32(d);
    answer->id = hexId(d + 4);
    answer->channelVer = SDKHelp::toUInt32(d + 8);
    answer->channelCount = SDKHelp::toUInt32(d + 12);
    answer->tagVer = SDKHelp::toUInt32(d + 16);
    answer->tagCount = SDKHelp::toUInt32(d + 20);
}

void LFInnerModule::startRace(const QString &raceId, unsigned int mode)
{
    // Digits that do not decode leave their bytes 0; the padding keeps the
    // decoder inside the text whatever its length.
    const QByteArray digits = raceId.toLatin1() + QByteArray(2, '\0');
    unsigned char id[kIdBytes] = {};
    SDKHelp::HexToBin(digits.constData(), id, kIdBytes);
    const QByteArray request = QByteArray(reinterpret_cast<const char *>(id), kIdBytes) + le32(mode)
        + le64(UTC::clubTime().value());
    doCommand(kCmdStartRace, request, kFormatError, kLengthErrorText, 0);
}

void LFInnerModule::stopRace()
{
    doCommand(kCmdStopRace, QByteArray(), kFormatError, kLengthErrorText, 0);
}

void LFInnerModule::getChannel(unsigned int index, LFCHANNEL_INFO *channel)
{
    const QByteArray data = doCommand(kCmdGetChannel, le32(index), kFormatError, kFormatErrorText, kChannelBytes);
    if (!channel)
        return;
    const unsigned char *d = bytesOf(data);
    channel->id = hexId(d);
    channel->type = SDKHelp::toUInt16(d + 4);
    channel->version = QString::asprintf("%X.%02X", unsigned(d[7]), unsigned(d[6]));
    channel->attr = d[8];
    channel->status = d[9];
}

void LFInnerModule::getTag(unsigned int index, LFTAG_INFO *tag)
{
    const QByteArray data = doCommand(kCmdGetTag, le32(index), kFormatError, kFormatErrorText, kTagBytes);
    if (!tag)
        return;
    const unsigned char *d = bytesOf(data);
    tag->uid = hexId(d);
    tag->eRing = hexId(d + 4);
    tag->randNum = SDKHelp::toUInt16(d + 10);
    tag->extId = hexId(d + 16);
    tag->stored = 0;
    // The reading is stamped when it is decoded; the module's own stamp is not used.
    tag->time = UTC::clubTime().value();
}

void LFInnerModule::syncMode(unsigned char mode)
{
    unsigned char params[kInitParamBytes] = {};
    handler->setTimeout(kFirstByteWaitMs);
    handler->getInitParams(params);
    if (params[0] == mode)
        return;
    unsigned char settings[kInitDataBytes] = {mode, 0, 0, 0, 0, 0, 0, 0};
    handler->initDev(settings);
}

qint64 LFInnerModule::getTime()
{
    handler->setTimeout(kFirstByteWaitMs);
    return handler->getTime();
}

void LFInnerModule::setTime(qint64 ms)
{
    handler->setTimeout(kFirstByteWaitMs);
    handler->setTime(ms);
}
