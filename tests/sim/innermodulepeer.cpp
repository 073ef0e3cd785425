#include "innermodulepeer.h"

#include <QMutexLocker>

#include <chrono>

namespace {
constexpr quint8 kCmdReboot = 10;     // group 0
constexpr quint16 kStatusBadRequest = 0x0E;
constexpr int kHostInfoBytes = 18;
constexpr int kStartRaceBytes = 16;
constexpr int kIndexBytes = 4;
constexpr quint32 kAllOnes = 0xFFFFFFFFu;
const QByteArray kDefaultId = QByteArray::fromHex("5a0c1b17"); // 0x1B and 0x17 travel escaped

void putLe16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF)).append(char(v >> 8));
}

void putLe32(QByteArray &out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

quint32 le32(const QByteArray &in, int offset)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v |= quint32(quint8(in.at(offset + i))) << (8 * i);
    return v;
}

QByteArray fourBytes(const QString &hex)
{
    QByteArray bytes = QByteArray::fromHex(hex.toLatin1()).left(4);
    while (bytes.size() < 4)
        bytes.prepend('\0');
    return bytes;
}
} // namespace

InnerModulePeer::InnerModulePeer()
{
    setModuleId(kDefaultId);
    setDevType(kTypePlain);
    QByteArray params(16, '\0');
    params[0] = 1; // module mode 1
    setInitParams(params);
    channelList = {Channel{}};
}

void InnerModulePeer::setModuleId(const QByteArray &fourBytes)
{
    setDevNo(fourBytes);
    QMutexLocker l(&moduleMutex);
    moduleId = fourBytes;
}

void InnerModulePeer::setChannels(const QList<Channel> &channels)
{
    QMutexLocker l(&moduleMutex);
    channelList = channels;
    ++channelVer;
}

void InnerModulePeer::setChannelStatus(int index, quint8 status)
{
    QMutexLocker l(&moduleMutex);
    if (index < 0 || index >= channelList.size())
        return;
    channelList[index].status = status;
    ++channelVer;
}

void InnerModulePeer::presentTags(const QStringList &ringsHex)
{
    QMutexLocker l(&moduleMutex);
    for (const QString &ringHex : ringsHex) {
        Tag tag;
        tag.ring = fourBytes(ringHex);
        tag.uid = fourBytes(QString());
        tag.extId = fourBytes(QString());
        tag.version = ++tagVer;
        tagList.append(tag);
    }
}

void InnerModulePeer::presentTag(const QString &ringHex, const QString &uidHex, quint16 randNum,
                                 const QString &extIdHex)
{
    presentTagsAtOnce({Reading{ringHex, uidHex, randNum, extIdHex}});
}

void InnerModulePeer::presentTagsAtOnce(const QList<Reading> &readings)
{
    QMutexLocker l(&moduleMutex);
    ++tagVer;
    for (const Reading &r : readings) {
        Tag tag;
        tag.ring = fourBytes(r.ring);
        tag.uid = fourBytes(r.uid);
        tag.randNum = r.randNum;
        tag.extId = fourBytes(r.extId);
        tag.version = tagVer;
        tagList.append(tag);
    }
}

void InnerModulePeer::setWholeList(bool whole)
{
    QMutexLocker l(&moduleMutex);
    wholeList = whole;
}

quint32 InnerModulePeer::channelVersion() const
{
    QMutexLocker l(&moduleMutex);
    return channelVer;
}

quint32 InnerModulePeer::tagVersion() const
{
    QMutexLocker l(&moduleMutex);
    return tagVer;
}

QList<InnerModulePeer::Tag> InnerModulePeer::tags() const
{
    QMutexLocker l(&moduleMutex);
    return tagList;
}

void InnerModulePeer::reboot()
{
    QMutexLocker l(&moduleMutex);
    tagList.clear();
    tagView.clear();
    channelView.clear();
    channelVer = 1;
    tagVer = 1;
}

void InnerModulePeer::setCountsAllOnes(bool on)
{
    QMutexLocker l(&moduleMutex);
    countsAllOnes = on;
}

void InnerModulePeer::failOnce(quint8 group, quint8 command, quint16 status, int index)
{
    QMutexLocker l(&moduleMutex);
    failures.append(OnceFailure{group, command, index, status, false});
}

void InnerModulePeer::silenceOnce(quint8 group, quint8 command, int index)
{
    QMutexLocker l(&moduleMutex);
    failures.append(OnceFailure{group, command, index, 0, true});
}

QList<RingWire::Frame> InnerModulePeer::commands(quint8 group, quint8 command) const
{
    QList<RingWire::Frame> out;
    const QList<RingWire::Frame> all = frames();
    for (const RingWire::Frame &f : all) {
        if (f.commandOk() && f.group == group && f.command == command)
            out.append(f);
    }
    return out;
}

InnerModulePeer::HostInfo InnerModulePeer::hostInfo(const RingWire::Frame &exchange)
{
    HostInfo info;
    if (exchange.data.size() < kHostInfoBytes)
        return info;
    info.present = true;
    info.flags = qint32(le32(exchange.data, 0));
    info.channelVer = le32(exchange.data, 4);
    info.tagVer = le32(exchange.data, 8);
    quint64 time = 0;
    for (int i = 0; i < 6; ++i)
        time |= quint64(quint8(exchange.data.at(12 + i))) << (8 * i);
    if (time & (quint64(1) << 47))
        time |= ~((quint64(1) << 48) - 1);
    info.time = qint64(time);
    return info;
}

bool InnerModulePeer::answer(const RingWire::Frame &command, quint16 *status, QByteArray *data)
{
    if (command.group == 0) {
        const bool answering = RingReaderPeer::answer(command, status, data);
        QMutexLocker l(&moduleMutex);
        if (answering && command.command == kCmdReboot) {
            tagList.clear();
            channelVer = 1;
            tagVer = 1;
        }
        bool keep = answering;
        if (takeFailure(command, status, &keep))
            return keep;
        return answering;
    }
    if (command.group == kGroupRace)
        return answerRace(command, status, data);
    return false;
}

bool InnerModulePeer::takeFailure(const RingWire::Frame &command, quint16 *status, bool *answering)
{
    int index = -1;
    if (command.data.size() >= kIndexBytes)
        index = int(le32(command.data, 0));
    else if (command.data.size() == 1)
        index = quint8(command.data.at(0)); // the selector of a group-0 query
    for (int i = 0; i < failures.size(); ++i) {
        const OnceFailure &f = failures.at(i);
        if (f.group == command.group && f.command == command.command && (f.index < 0 || f.index == index)) {
            *status = f.status;
            *answering = !f.silent;
            failures.removeAt(i);
            return true;
        }
    }
    return false;
}

void InnerModulePeer::noteFirstAnswer(const Tag &sent)
{
    for (Tag &t : tagList) {
        if (t.version == sent.version && t.ring == sent.ring && t.firstAnsweredNs == 0) {
            t.firstAnsweredNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
            return;
        }
    }
}

bool InnerModulePeer::answerRace(const RingWire::Frame &command, quint16 *status, QByteArray *data)
{
    QMutexLocker l(&moduleMutex);
    *status = 0;
    bool answering = true;
    if (takeFailure(command, status, &answering))
        return answering;
    switch (command.command) {
    case ExchangeInfo: {
        const HostInfo host = hostInfo(command);
        if (!host.present && !command.data.isEmpty()) {
            *status = kStatusBadRequest;
            return true;
        }
        channelView = channelList;
        tagView.clear();
        // A clock that holds a version this module never gave (it rebooted)
        // gets the whole list, as one that holds none.
        const bool all = wholeList || host.tagVer == 0 || host.tagVer > tagVer;
        for (const Tag &t : std::as_const(tagList)) {
            if (all || t.version > host.tagVer)
                tagView.append(t);
        }
        putLe32(*data, 0);
        data->append(moduleId);
        putLe32(*data, channelVer);
        putLe32(*data, countsAllOnes ? kAllOnes : quint32(channelView.size()));
        putLe32(*data, tagVer);
        putLe32(*data, countsAllOnes ? kAllOnes : quint32(tagView.size()));
        data->append(QByteArray(8, '\0'));
        return true;
    }
    case StartRace:
        if (command.data.size() != kStartRaceBytes)
            *status = kStatusBadRequest;
        return true;
    case StopRace:
        return true;
    case GetChannel: {
        const int index = command.data.size() == kIndexBytes ? int(le32(command.data, 0)) : -1;
        if (index < 0 || index >= channelView.size()) {
            *status = kStatusBadRequest;
            return true;
        }
        const Channel &c = channelView.at(index);
        data->append(c.id);
        putLe16(*data, c.type);
        data->append(char(c.minor)).append(char(c.major)).append(char(c.attr)).append(char(c.status));
        data->append(QByteArray(2, '\0'));
        return true;
    }
    case GetTag: {
        const int index = command.data.size() == kIndexBytes ? int(le32(command.data, 0)) : -1;
        if (index < 0 || index >= tagView.size()) {
            *status = kStatusBadRequest;
            return true;
        }
        const Tag &t = tagView.at(index);
        noteFirstAnswer(t);
        data->append(t.uid).append(t.ring);
        data->append(QByteArray(2, '\0'));
        putLe16(*data, t.randNum);
        data->append(QByteArray(4, '\0'));
        data->append(t.extId);
        data->append(QByteArray(8, '\0'));
        return true;
    }
    default:
        return false;
    }
}
