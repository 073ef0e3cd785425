#pragma once

#include "ringreaderpeer.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

// The clock's inner ring-reader module with its landing antennas, for tests
// and the simulated device. On top of the group-0 commands of every reader it
// answers group 'J' (0x4A): exchange info, start and stop race, one channel,
// one tag. It keeps a channel list and a tag list, each with a version that
// starts at 1 and moves with every change. Readings answer only those newer
// than the tag version the clock reports holding (one landing costs one
// getTag), unless told to keep the whole list. Written from the wire format
// alone. Setters may be called from any thread while the peer runs.
class InnerModulePeer : public RingReaderPeer
{
public:
    static constexpr quint16 kTypePlain = 0x4A31;
    static constexpr quint16 kTypeClock = 0x4B31;
    static constexpr quint8 kGroupRace = 0x4A;
    enum RaceCommand : quint8 { ExchangeInfo = 0, StartRace = 1, StopRace = 2, GetChannel = 3, GetTag = 4 };

    struct Channel
    {
        QByteArray id = QByteArray::fromHex("c0010001"); // 4 bytes
        quint16 type = 0x1010;
        quint8 minor = 0x05;
        quint8 major = 0x01;
        quint8 attr = 0;
        quint8 status = 0; // bit 7: in error
    };

    struct Tag
    {
        QByteArray ring;   // 4 bytes
        QByteArray uid;    // 4 bytes; zeros for none
        quint16 randNum = 0;
        QByteArray extId;  // 4 bytes
        quint32 version = 0; // tag-list version that this reading brought
        qint64 firstAnsweredNs = 0; // steady clock when a getTag first carried it; 0 never
    };

    // One ring as presented at a landing antenna; hex texts of 8 digits.
    struct Reading
    {
        QString ring;
        QString uid;        // empty: none (zeros on the wire)
        quint16 randNum = 0;
        QString extId;
    };

    // What the clock sent in one exchange-info request.
    struct HostInfo
    {
        bool present = false;
        qint32 flags = 0;
        quint32 channelVer = 0;
        quint32 tagVer = 0;
        qint64 time = 0; // the six bytes sent, sign-extended from 48 bits
    };

    InnerModulePeer();

    // The module id, answered by the device number query and exchange info.
    void setModuleId(const QByteArray &fourBytes);

    // Lists. Each change moves the list's version by one.
    void setChannels(const QList<Channel> &channels);
    void setChannelStatus(int index, quint8 status);
    // A ring read at a landing antenna; hex texts of 8 digits.
    void presentTag(const QString &ringHex, const QString &uidHex = QString(), quint16 randNum = 0,
                    const QString &extIdHex = QString());
    // Several rings landing together: one version step each, in one go.
    void presentTags(const QStringList &ringsHex);
    // Several rings landing at the same instant: one change of the list and
    // of its version for all of them.
    void presentTagsAtOnce(const QList<Reading> &readings);
    void setWholeList(bool whole);
    quint32 channelVersion() const;
    quint32 tagVersion() const;
    QList<Tag> tags() const;
    // A restart of the module: the tag list is lost and both versions are 1.
    void reboot();

    // Faults of the race commands.
    void setCountsAllOnes(bool on); // channel and tag counts 0xFFFFFFFF
    // The next matching command (group, command and, when index >= 0, the
    // index it asks for, or the selector byte of a group-0 query) is
    // answered with this status, once.
    void failOnce(quint8 group, quint8 command, quint16 status, int index = -1);
    // The next such command gets no answer at all, once.
    void silenceOnce(quint8 group, quint8 command, int index = -1);

    // Records, decoded from what the peer received.
    QList<RingWire::Frame> commands(quint8 group, quint8 command) const;
    static HostInfo hostInfo(const RingWire::Frame &exchange);

protected:
    bool answer(const RingWire::Frame &command, quint16 *status, QByteArray *data) override;

private:
    struct OnceFailure
    {
        quint8 group = 0;
        quint8 command = 0;
        int index = -1;
        quint16 status = 0;
        bool silent = false;
    };

    bool answerRace(const RingWire::Frame &command, quint16 *status, QByteArray *data);
    // Stamps the listed entry that a getTag answer carries, the first time.
    void noteFirstAnswer(const Tag &sent);
    // A matching once-failure: its status, or false for no answer at all.
    bool takeFailure(const RingWire::Frame &command, quint16 *status, bool *answering);

    mutable QMutex moduleMutex; // never held while calling the base's setters
    QByteArray moduleId;
    QList<Channel> channelList;
    QList<Tag> tagList;
    quint32 channelVer = 1;
    quint32 tagVer = 1;
    bool wholeList = false;
    bool countsAllOnes = false;
    QList<OnceFailure> failures;
    // The lists as answered by the last exchange, so that the indices the
    // clock then asks for stay those it was told about.
    QList<Channel> channelView;
    QList<Tag> tagView;
};
