#include "connectorreader.h"

#include <QDateTime>

#include <algorithm>

namespace {

constexpr quint16 kAnswerBaseAddr = 0xFFFF;
constexpr int kMaxCount = 0xFFFF;
constexpr quint16 kDeviceType = 0x4331;

void putLe(QByteArray &out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char(quint8(value >> (8 * i))));
}

quint64 le(const QByteArray &in, int offset, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes && offset + i < in.size(); ++i)
        value |= quint64(quint8(in.at(offset + i))) << (8 * i);
    return value;
}

QByteArray four(const QByteArray &bytes)
{
    QByteArray out = bytes.left(4);
    out.append(QByteArray(4 - out.size(), '\0'));
    return out;
}

} // namespace

ConnectorReader::ConnectorReader()
    : deviceNo(QByteArray::fromHex("c0ffee01"))
    , clubClock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

bool ConnectorReader::feed(quint8 byte, PeerReply *reply)
{
    if (!decoder.feed(char(byte)))
        return false;
    const RingWire::Frame frame = decoder.takeFrame();
    if (!frame.commandOk())
        return false; // a garbled request gets nothing, as from a real reader

    std::function<void(ConnectorReader &)> action;
    {
        std::lock_guard<std::mutex> lock(mutex);
        log.append(Received{frame.group, frame.command, frame.data});
        const int command = (frame.group << 8) | frame.command;
        const qint64 recordIndex = command == Record && frame.data.size() >= 5 ? qint64(le(frame.data, 1, 4)) : -1;
        const Fault fault = takeFault(command, recordIndex);
        // A refused removal removes nothing; every other command is carried
        // out and its answer spoilt.
        const Answer out = command == Remove && fault.status >= 0 ? Answer{} : answer(frame);
        const quint16 status = fault.status >= 0 ? quint16(fault.status) : out.status;
        const QByteArray data = fault.dataBytes >= 0 ? out.data.left(fault.dataBytes) : out.data;
        reply->delayMs = fault.delayMs;
        reply->gapMs = fault.gapMs;
        if (!fault.silent) {
            QByteArray body = RingWire::body(kAnswerBaseAddr, frame.devAddr, RingWire::kResponseType,
                                             RingWire::responsePayload(status, data));
            if (fault.badCrc)
                body.back() = char(quint8(body.back()) ^ 0x5A);
            reply->bytes = RingWire::frame(body);
        }
        if (command == Status)
            action.swap(statusAction);
    }
    if (action)
        action(*this);
    return true;
}

void ConnectorReader::resetInput()
{
    decoder = RingWire::Decoder();
}

ConnectorReader::Answer ConnectorReader::answer(const RingWire::Frame &frame)
{
    switch ((frame.group << 8) | frame.command) {
    case DeviceNumber: {
        const char query = frame.data.isEmpty() ? '\0' : frame.data.at(0);
        if (query == 1)
            return Answer{0, deviceNo};
        if (query == 4) {
            QByteArray type;
            putLe(type, kDeviceType, 2);
            return Answer{0, type};
        }
        break;
    }
    case Status:
        return answerStatus(frame.data);
    case Record:
        return answerRecord(frame.data);
    case Remove:
        return answerRemove(frame.data);
    case Reader:
        return answerReader(frame.data);
    case Transponder:
        return answerTransponder(frame.data);
    default:
        break;
    }
    return Answer{kUnknownCommand, {}};
}

ConnectorReader::Answer ConnectorReader::answerStatus(const QByteArray &data)
{
    if (data.size() < 1 || quint8(data.at(0)) != address)
        return Answer{kWrongAddress, {}};
    QByteArray out;
    putLe(out, quint64(readerTimeLocked()), 8);
    putLe(out, memory.isEmpty() ? nextIndex : memory.first().index, 4);
    putLe(out, forcedCount >= 0 ? forcedCount : std::min<int>(int(memory.size()), kMaxCount), 2);
    putLe(out, readersVer, 4);
    putLe(out, quint64(readers.size()), 2);
    return Answer{0, out};
}

ConnectorReader::Answer ConnectorReader::answerRecord(const QByteArray &data)
{
    if (data.size() < 5 || quint8(data.at(0)) != address)
        return Answer{kWrongAddress, {}};
    const quint32 index = quint32(le(data, 1, 4));
    for (const RingRecord &record : std::as_const(memory)) {
        if (record.index != index)
            continue;
        QByteArray out;
        out += record.uid;
        out += record.ring;
        out += QByteArray(2, '\0');
        putLe(out, record.randNum, 2);
        out += QByteArray(4, '\0');
        out += record.extId;
        out += QByteArray(4, '\0');
        putLe(out, quint64(record.readerTime), 8);
        return Answer{0, out};
    }
    return Answer{kNoSuchRecord, {}};
}

ConnectorReader::Answer ConnectorReader::answerRemove(const QByteArray &data)
{
    if (data.size() < 5 || quint8(data.at(0)) != address)
        return Answer{kWrongAddress, {}};
    const quint32 index = quint32(le(data, 1, 4));
    memory.erase(std::remove_if(memory.begin(), memory.end(),
                                [index](const RingRecord &record) { return record.index <= index; }),
                 memory.end());
    return Answer{0, {}};
}

ConnectorReader::Answer ConnectorReader::answerReader(const QByteArray &data)
{
    // The reader request carries its index alone, no address byte.
    const int index = int(le(data, 0, 2));
    if (data.size() < 2 || index >= readers.size())
        return Answer{kNoSuchReader, {}};
    const ReaderEntry &reader = readers.at(index);
    QByteArray out = four(reader.id);
    putLe(out, reader.type, 2);
    out.append(char(reader.minor));
    out.append(char(reader.major));
    out.append(char(reader.attr));
    out.append(char(reader.status));
    return Answer{0, out};
}

ConnectorReader::Answer ConnectorReader::answerTransponder(const QByteArray &data)
{
    const QByteArray selector = data.left(3);
    const int page = data.size() > 3 ? quint8(data.at(3)) : -1;
    if (selector == QByteArray::fromHex("00e002"))
        return Answer{0, fdx};
    if (selector == QByteArray::fromHex("00e001"))
        return Answer{0, id64};
    if (selector == QByteArray::fromHex("00e100"))
        return Answer{0, hitagActivation};
    if (selector == QByteArray::fromHex("00e102") && page >= 0)
        return Answer{0, four(hitagPages.value(page))};
    if (selector == QByteArray::fromHex("00e103") && page >= 0 && data.size() >= 8) {
        hitagPages.insert(page, data.mid(4, 4));
        return Answer{0, data.mid(4, 4)};
    }
    return Answer{kUnknownCommand, {}};
}

ConnectorReader::Fault ConnectorReader::takeFault(int command, qint64 recordIndex)
{
    for (int key : {command, int(AnyCommand)}) {
        auto it = faults.find(key);
        if (it == faults.end())
            continue;
        if (it->atIndex >= 0 && it->atIndex != recordIndex)
            continue;
        const Fault fault = *it;
        if (it->times > 0 && --it->times == 0)
            faults.erase(it);
        return fault;
    }
    return Fault{};
}

qint64 ConnectorReader::readerTimeLocked() const
{
    return clubClock() + clockOffset;
}

void ConnectorReader::setDeviceNo(const QByteArray &fourBytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    deviceNo = four(fourBytes);
}

void ConnectorReader::setAddress(quint8 value)
{
    std::lock_guard<std::mutex> lock(mutex);
    address = value;
}

void ConnectorReader::setClubClock(std::function<qint64()> clubTimeMs)
{
    std::lock_guard<std::mutex> lock(mutex);
    clubClock = std::move(clubTimeMs);
}

void ConnectorReader::setClockOffset(qint64 ms)
{
    std::lock_guard<std::mutex> lock(mutex);
    clockOffset = ms;
}

qint64 ConnectorReader::readerTime() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return readerTimeLocked();
}

quint32 ConnectorReader::addRecord(const QByteArray &ring, quint16 randNum, const QByteArray &uid,
                                   const QByteArray &extId)
{
    return addRecordAt(readerTime(), ring, randNum, uid, extId);
}

quint32 ConnectorReader::addRecordAt(qint64 readerTimeMs, const QByteArray &ring, quint16 randNum,
                                     const QByteArray &uid, const QByteArray &extId)
{
    std::lock_guard<std::mutex> lock(mutex);
    RingRecord record;
    record.index = nextIndex++;
    record.ring = four(ring);
    record.randNum = randNum;
    record.uid = four(uid);
    record.extId = four(extId);
    record.readerTime = readerTimeMs;
    memory.append(record);
    return record.index;
}

void ConnectorReader::removeUpTo(quint32 index)
{
    std::lock_guard<std::mutex> lock(mutex);
    answerRemove([&] {
        QByteArray data(1, char(address));
        putLe(data, index, 4);
        return data;
    }());
}

void ConnectorReader::renumber(quint32 first)
{
    std::lock_guard<std::mutex> lock(mutex);
    memory.clear();
    nextIndex = first;
}

quint32 ConnectorReader::firstIndex() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return memory.isEmpty() ? nextIndex : memory.first().index;
}

int ConnectorReader::recordCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(memory.size());
}

QList<ConnectorReader::RingRecord> ConnectorReader::records() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return memory;
}

void ConnectorReader::forceRecordCount(int count)
{
    std::lock_guard<std::mutex> lock(mutex);
    forcedCount = count;
}

void ConnectorReader::afterNextStatus(std::function<void(ConnectorReader &)> action)
{
    std::lock_guard<std::mutex> lock(mutex);
    statusAction = std::move(action);
}

void ConnectorReader::addReader(const ReaderEntry &reader)
{
    std::lock_guard<std::mutex> lock(mutex);
    readers.append(reader);
    ++readersVer;
}

void ConnectorReader::setReaderStatus(int index, quint8 status)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (index < 0 || index >= readers.size())
        return;
    readers[index].status = status;
    ++readersVer;
}

quint32 ConnectorReader::readersVersion() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return readersVer;
}

void ConnectorReader::setFdx(const QByteArray &data)
{
    std::lock_guard<std::mutex> lock(mutex);
    fdx = data;
}

void ConnectorReader::setId64(const QByteArray &data)
{
    std::lock_guard<std::mutex> lock(mutex);
    id64 = data;
}

void ConnectorReader::setHitagActivation(const QByteArray &data)
{
    std::lock_guard<std::mutex> lock(mutex);
    hitagActivation = data;
}

void ConnectorReader::setHitagPage(int page, const QByteArray &fourBytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    hitagPages.insert(page, four(fourBytes));
}

QByteArray ConnectorReader::hitagPage(int page) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return four(hitagPages.value(page));
}

void ConnectorReader::setFault(int command, const Fault &fault)
{
    std::lock_guard<std::mutex> lock(mutex);
    faults.insert(command, fault);
}

void ConnectorReader::clearFault(int command)
{
    std::lock_guard<std::mutex> lock(mutex);
    faults.remove(command);
}

void ConnectorReader::clearFaults()
{
    std::lock_guard<std::mutex> lock(mutex);
    faults.clear();
}

QList<ConnectorReader::Received> ConnectorReader::received() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

QList<ConnectorReader::Received> ConnectorReader::receivedOf(int command) const
{
    QList<Received> out;
    for (const Received &r : received()) {
        if (((r.group << 8) | r.command) == command)
            out.append(r);
    }
    return out;
}

void ConnectorReader::clearReceived()
{
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
}
