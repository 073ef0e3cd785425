#pragma once

#include "peerline.h"
#include "ringwire.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>
#include <mutex>

// The club's connector reader as the clock meets it on the ring-reader link:
// a numbered memory of ring records, a versioned list of readers (antennas),
// a clock of its own, and a transponder it can read and write (the standalone
// reader's command). It decodes the clock's command frames fed to it byte by
// byte and says what to answer; the peer that hosts it owns the line. Its
// state and records may be used from any thread.
class ConnectorReader
{
public:
    // Commands by group and command byte.
    enum Command : int {
        DeviceNumber = 0x0000, // group 0 query; also answers the device type
        Status = 0x1100,
        Record = 0x1101,
        Remove = 0x1102,
        Reader = 0x1103,
        Transponder = 0x1104,
        AnyCommand = -1,
    };

    // Refusals the reader gives on its own.
    static constexpr quint16 kWrongAddress = 0x21;
    static constexpr quint16 kNoSuchRecord = 0x22;
    static constexpr quint16 kNoSuchReader = 0x23;
    static constexpr quint16 kUnknownCommand = 0x24;

    // How an answer is spoilt; the fields combine.
    struct Fault
    {
        bool silent = false;
        int delayMs = 0;     // before the first byte
        int gapMs = 0;       // between bytes (trickled)
        bool badCrc = false;
        int status = -1;     // this status instead of the reader's own (a refused
                             // removal removes nothing)
        int dataBytes = -1;  // carry only this many data bytes (a short answer)
        int times = -1;      // how many answers it spoils; -1: all
        qint64 atIndex = -1; // Record requests: only for this index
    };

    struct RingRecord
    {
        quint32 index = 0;
        QByteArray uid;      // 4 bytes, zero for none
        QByteArray ring;     // 4 bytes
        quint16 randNum = 0;
        QByteArray extId;    // 4 bytes
        qint64 readerTime = 0;
    };

    struct ReaderEntry
    {
        QByteArray id; // 4 bytes
        quint16 type = 0x1010;
        quint8 major = 1;
        quint8 minor = 0;
        quint8 attr = 0;
        quint8 status = 0; // bit 7: in error
    };

    struct Received
    {
        quint8 group = 0;
        quint8 command = 0;
        QByteArray data;
    };

    ConnectorReader();

    // Line side (the hosting peer's thread): true when the byte completed a
    // command frame; reply then holds the answer (empty for none).
    bool feed(quint8 byte, PeerReply *reply);
    void resetInput();

    // Identity and clock. The reader's clock is the test's club time plus
    // an offset (negative: the reader is behind).
    void setDeviceNo(const QByteArray &fourBytes);
    void setAddress(quint8 address);
    void setClubClock(std::function<qint64()> clubTimeMs);
    void setClockOffset(qint64 ms);
    qint64 readerTime() const;

    // Memory. Records are numbered from 1 up; removing up to an index moves
    // the first index past it; renumber() clears the memory and starts again
    // at the given index (indexes going back, as after a reader reset).
    quint32 addRecord(const QByteArray &ring, quint16 randNum, const QByteArray &uid = QByteArray(4, '\0'),
                      const QByteArray &extId = QByteArray(4, '\0'));
    quint32 addRecordAt(qint64 readerTimeMs, const QByteArray &ring, quint16 randNum,
                        const QByteArray &uid = QByteArray(4, '\0'), const QByteArray &extId = QByteArray(4, '\0'));
    void removeUpTo(quint32 index);
    void renumber(quint32 firstIndex);
    quint32 firstIndex() const;
    int recordCount() const;
    QList<RingRecord> records() const;
    // The status then reports this count whatever the memory holds (-1: off).
    void forceRecordCount(int count);
    // Runs once right after the next status answer (a record added or removed
    // between the status and the record requests).
    void afterNextStatus(std::function<void(ConnectorReader &)> action);

    // Readers; each change moves the version (which starts at 1).
    void addReader(const ReaderEntry &reader);
    void setReaderStatus(int index, quint8 status);
    quint32 readersVersion() const;

    // The transponder of the standalone reader's command 4.
    void setFdx(const QByteArray &data);
    void setId64(const QByteArray &data);
    void setHitagActivation(const QByteArray &data);
    void setHitagPage(int page, const QByteArray &fourBytes);
    QByteArray hitagPage(int page) const;

    void setFault(int command, const Fault &fault);
    void clearFault(int command);
    void clearFaults();

    QList<Received> received() const;
    QList<Received> receivedOf(int command) const;
    void clearReceived();

private:
    struct Answer
    {
        quint16 status = 0;
        QByteArray data;
    };

    Answer answer(const RingWire::Frame &frame);
    Answer answerStatus(const QByteArray &data);
    Answer answerRecord(const QByteArray &data);
    Answer answerRemove(const QByteArray &data);
    Answer answerReader(const QByteArray &data);
    Answer answerTransponder(const QByteArray &data);
    Fault takeFault(int command, qint64 recordIndex);
    qint64 readerTimeLocked() const;

    RingWire::Decoder decoder;

    mutable std::mutex mutex; // guards everything below
    QByteArray deviceNo;
    quint8 address = 0;
    std::function<qint64()> clubClock;
    qint64 clockOffset = 0;
    quint32 nextIndex = 1;
    QList<RingRecord> memory;
    int forcedCount = -1;
    std::function<void(ConnectorReader &)> statusAction;
    QList<ReaderEntry> readers;
    quint32 readersVer = 1;
    QByteArray fdx;
    QByteArray id64;
    QByteArray hitagActivation;
    QMap<int, QByteArray> hitagPages;
    QMap<int, Fault> faults;
    QList<Received> log;
};
