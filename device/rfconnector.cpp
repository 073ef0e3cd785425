#include "device/rfconnector.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/DeviceComm.h"
#include "device/SDKHelp.h"

#include <QSerialPort>

#include <algorithm>
#include <limits>

namespace {

constexpr unsigned char kGroup = 0x11;
constexpr unsigned char kCmdStatus = 0;
constexpr unsigned char kCmdRecord = 1;
constexpr unsigned char kCmdRemove = 2;
constexpr unsigned char kCmdReader = 3;
constexpr int kAnswerWaitMs = 100;
constexpr int kStatusBytes = 20;
constexpr int kRecordBytes = 32;
constexpr int kReaderBytes = 10;
constexpr qint32 kBaud = 115200;

_CMDPACKET command(unsigned char cmd)
{
    _CMDPACKET packet{};
    packet.group = kGroup;
    packet.cmd = cmd;
    return packet;
}

// An address byte and a record index: the record and removal requests.
_CMDPACKET indexedCommand(unsigned char cmd, unsigned char address, unsigned int index)
{
    _CMDPACKET packet = command(cmd);
    packet.data[0] = address;
    SDKHelp::toBytes(index, packet.data + 1);
    packet.dataLen = 5;
    return packet;
}

void exchange(DeviceHandler *handler, const _CMDPACKET &cmd, _RESPONSEPACKET *rsp, int minDataBytes)
{
    handler->setTimeout(kAnswerWaitMs);
    handler->sendCmd(&cmd);
    DeviceHandler::checkResponse(*rsp, handler->receiveRsp(rsp), minDataBytes);
}

QString hex4(const unsigned char *bytes)
{
    char text[9];
    SDKHelp::BinToHex(const_cast<unsigned char *>(bytes), 4, text);
    return QString::fromLatin1(text);
}

// Both terms come from the wire: a wrapped sum would turn a reading into a
// time decades away, so the sum stops at the ends of the range.
qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return sum;
}

qint64 saturatingSub(qint64 a, qint64 b)
{
    qint64 difference = 0;
    if (__builtin_sub_overflow(a, b, &difference))
        return b < 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return difference;
}


} // namespace

RFConnector::RFConnector(QSerialPort *serialPort)
    : port(serialPort)
    , handler(new DeviceHandler(serialPort))
{
}

RFConnector::~RFConnector()
{
    delete handler;
}

void RFConnector::connect()
{
    clockOffset = 0;
    readersVer = 0;
    lastIndex = 0;
    firstSyncDone = false;
    deviceNo.clear();
    deviceNo = handler->getDevNo();
    ServiceFactory::debug(QStringLiteral("RFConnector: ") + deviceNo);
}

void RFConnector::disconnect()
{
    deviceNo.clear();
}

QString RFConnector::getDeviceNo() const
{
    return deviceNo;
}

void RFConnector::resetTime()
{
    clockOffset = 0;
}

int RFConnector::syncStatus(QList<LFCHANNEL_INFO> &channels, QList<LFTAG_INFO> &tags)
{
    _RFConnectorInfo info;
    getStatus(handler, address, &info);
    if (clockOffset == 0) {
        clockOffset = saturatingSub(UTC::clubTime().value(), info.deviceTime);
        if (clockOffset == 0)
            clockOffset = 1; // taken once per connection: 0 would mean "not yet"
    }

    // Everything is read into local lists and the versions held move only
    // once the whole status went through.
    int result = 0;
    QList<LFCHANNEL_INFO> readers;
    const bool readersMoved = readersVer == 0 || readersVer != info.readersVer;
    if (readersMoved) {
        for (unsigned int index = 0; index < info.readerCount; ++index) {
            LFCHANNEL_INFO reader;
            getReader(handler, index, &reader);
            readers.append(reader);
        }
        result |= kReadersRead;
    }

    QList<LFTAG_INFO> records;
    quint32 newLastIndex = lastIndex;
    if (info.recordCount > 0) {
        result |= kRecordsHeld;
        // In 64 bits: a first index near the top plus the count would wrap.
        const quint64 endIndex = std::min<quint64>(quint64(info.firstIndex) + info.recordCount - 1,
                                                   std::numeric_limits<quint32>::max());
        // An end below what was held means the reader cleared or renumbered
        // its memory: fetch from its first record, or those would be lost.
        const quint64 startIndex = endIndex < lastIndex
            ? info.firstIndex
            : std::max<quint64>(info.firstIndex, quint64(lastIndex) + 1);
        for (quint64 index = startIndex; index <= endIndex; ++index) {
            LFTAG_INFO tag;
            getRecord(handler, address, quint32(index), &tag);
            tag.time = saturatingAdd(tag.time, clockOffset);
            tag.stored = firstSyncDone ? 0 : 1;
            records.append(tag);
        }
        newLastIndex = quint32(endIndex);
    }

    if (readersMoved)
        readersVer = info.readersVer;
    lastIndex = newLastIndex;
    firstSyncDone = true;
    channels = readers;
    tags = records;
    return result;
}

void RFConnector::removeRecords()
{
    if (lastIndex == 0)
        return;
    removeRecords(handler, address, lastIndex);
    ServiceFactory::debug(QStringLiteral("remove records:") + QString::number(lastIndex));
}

bool RFConnector::initPort()
{
    if (port->isOpen())
        port->close();
    port->setBaudRate(kBaud);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    return port->open(QIODevice::ReadWrite);
}

void RFConnector::getStatus(DeviceHandler *handler, unsigned char address, _RFConnectorInfo *info)
{
    _CMDPACKET cmd = command(kCmdStatus);
    cmd.data[0] = address;
    cmd.dataLen = 1;
    _RESPONSEPACKET rsp{};
    exchange(handler, cmd, &rsp, kStatusBytes);
    info->deviceTime = SDKHelp::toInt64(rsp.data);
    info->firstIndex = SDKHelp::toUInt32(rsp.data + 8);
    info->recordCount = SDKHelp::toUInt16(rsp.data + 12);
    info->readersVer = SDKHelp::toUInt32(rsp.data + 14);
    info->readerCount = SDKHelp::toUInt16(rsp.data + 18);
}

void RFConnector::getRecord(DeviceHandler *handler, unsigned char address, unsigned int index, LFTAG_INFO *tag)
{
    _RESPONSEPACKET rsp{};
    exchange(handler, indexedCommand(kCmdRecord, address, index), &rsp, kRecordBytes);
    tag->uid = hex4(rsp.data);
    tag->eRing = hex4(rsp.data + 4);
    tag->randNum = SDKHelp::toUInt16(rsp.data + 10);
    tag->extId = hex4(rsp.data + 16);
    tag->time = SDKHelp::toInt64(rsp.data + 24);
}

void RFConnector::removeRecords(DeviceHandler *handler, unsigned char address, unsigned int index)
{
    _RESPONSEPACKET rsp{};
    exchange(handler, indexedCommand(kCmdRemove, address, index), &rsp, 0);
}

void RFConnector::getReader(DeviceHandler *handler, unsigned int index, LFCHANNEL_INFO *reader)
{
    // Unlike the other commands of the group, the reader request carries no
    // address byte: the index alone, in two bytes.
    _CMDPACKET cmd = command(kCmdReader);
    cmd.data[0] = quint8(index);
    cmd.data[1] = quint8(index >> 8);
    cmd.dataLen = 2;
    _RESPONSEPACKET rsp{};
    exchange(handler, cmd, &rsp, kReaderBytes);
    reader->id = hex4(rsp.data);
    reader->type = SDKHelp::toUInt16(rsp.data + 4);
    reader->version = QString::asprintf("%X.%02X", rsp.data[7], rsp.data[6]);
    reader->attr = rsp.data[8];
    reader->status = rsp.data[9];
}
