#pragma once

#include <QByteArray>
#include <QtGlobal>

class CommPort;

// The frames of the club link (master/slave over one serial line) and their
// parsers. A request goes from master to slave, a response answers it; both end
// in an 8-bit additive sum. The parsers poll a CommPort they do not own, sleep
// 1 ms after each empty poll and count their time-outs in empty polls. Used by
// the club-link thread only, one parser per exchange; no locks.

// Request frame: 6C, address, command, length n, n data bytes, sum.
class MorlanRequestPacket
{
public:
    MorlanRequestPacket() = default;
    explicit MorlanRequestPacket(const QByteArray &frame);

    void load(const QByteArray &frame);
    // The data size decides the length byte; the stored length is not used.
    QByteArray toByteArray() const;

    quint8 start = 0;
    quint8 address = 0;
    quint8 command = 0;
    quint8 length = 0;
    QByteArray data;
};

// Response frame: 33, address, command, m + 1, status, m data bytes, sum.
class MorlanResponsePacket
{
public:
    MorlanResponsePacket() = default;
    explicit MorlanResponsePacket(const QByteArray &frame);

    void load(const QByteArray &frame);
    QByteArray toByteArray() const;

    quint8 start = 0;
    quint8 address = 0;
    quint8 command = 0;
    quint8 length = 0; // data bytes, status excluded
    quint8 status = 0;
    QByteArray data;
};

// The 8-bit sum that ends every frame: the bytes added, carry dropped.
quint8 morlanSum(const QByteArray &bytes, int count);

class MorlanRequestParser
{
public:
    enum PushResult { Complete = 0, BadSum = 1, NeedMore = 3 };

    explicit MorlanRequestParser(CommPort *port);

    void reset();
    int push(quint8 byte);
    // Slave side: true when a whole request was read into packet; false on an
    // idle line (at once) or when the body stopped arriving. Throws on a bad sum.
    bool fetchPacket(MorlanRequestPacket *packet);
    // Master side: drops pending input (nothing pending is wanted before a
    // request) and writes the frame; throws when it cannot be written whole.
    void sendPacket(MorlanRequestPacket &packet);

private:
    CommPort *port;
    QByteArray buffer;
};

class MorlanResponseParser
{
public:
    enum PushResult { Complete = 0, BadSum = 1, Overflow = 2, NeedMore = 3 };

    explicit MorlanResponseParser(CommPort *port);

    void reset();
    int push(quint8 byte);
    // Master side: reads one answer, waiting timeoutMs polls for its first
    // byte and at most 100 empty polls after each later one (the whole body
    // bounded by its line time). Returns true with the packet loaded, or throws.
    bool fetchPacket(MorlanResponsePacket *packet, int timeoutMs);
    // Slave side: drops the master's pending input and writes the frame.
    void sendPacket(MorlanResponsePacket &packet);

private:
    CommPort *port;
    QByteArray buffer;
};
