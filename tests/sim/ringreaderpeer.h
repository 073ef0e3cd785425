#pragma once

#include "ptypair.h"
#include "ringwire.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

// How the peer spoils one answer. Defaults answer normally.
struct RingFault
{
    enum class Cut { None, MidFrame, AfterEscape };

    bool silent = false;       // no answer at all
    int delayMs = 0;           // answer late
    int byteGapMs = 0;         // pause between bytes
    int baud = 0;              // pace bytes at this line rate (10 bits a byte)
    QByteArray garbageBefore;  // sent before the start byte
    QByteArray junkAfter;      // sent after the end byte; waits for the next exchange
    Cut cut = Cut::None;       // stop sending part way...
    int hangUpAfterMs = -1;    // ...and this long after, hang up (close the master)
    bool wrongCrc = false;
    int type = -1;             // packet type instead of 0x61
    int version = -1;          // second packet byte instead of 0x01
    int status = -1;           // status instead of the table's
    int dataBytes = -1;        // carry only this many data bytes
    int dataLengthField = -1;  // length field instead of the data carried
    int payloadBytes = -1;     // cut the payload to this many bytes
    int lengthByte = -1;       // packet length byte instead of the payload's
    int bodyBytes = -1;        // cut or pad the finished body to this length
    QByteArray replaceWith;    // send exactly these bytes instead of the answer
};

// The ring-reader side of the link for tests and the simulated device: polls
// the master of its own pseudo-terminal in its own thread, decodes command
// frames with its own codec, records every frame, and answers the commands
// every reader understands (group 0) from a table. Subclasses add their
// device's commands by overriding answer(). Faults are set from any thread.
class RingReaderPeer : public QThread
{
public:
    RingReaderPeer();
    ~RingReaderPeer() override;

    bool isOpen() const;
    QString slavePath() const;
    // Makes <root><devicePath> (for example "/dev/ttyS3") point at the slave.
    bool linkUnder(const QString &root, const QString &devicePath) const;
    void stop();

    // The answer table.
    void setDevNo(const QByteArray &fourBytes);
    void setDevType(quint16 type);
    void setInitParams(const QByteArray &sixteenBytes);
    void setClock(qint64 ms);
    qint64 clock() const;
    void setStatus(quint8 command, quint16 status); // status of a group-0 command

    // Faults: setFault applies to every answer, pushFault to the next only.
    void setFault(const RingFault &fault);
    void pushFault(const RingFault &fault);
    // Writes bytes on the line at once, outside any exchange.
    bool inject(const QByteArray &bytes);

    QList<RingWire::Frame> frames() const;
    QByteArray rawInput() const; // every byte received so far
    bool waitForFrames(int count, int timeoutMs) const;
    int answersSent() const;
    bool waitForAnswers(int count, int timeoutMs) const;
    void clearRecords();

protected:
    void run() override;
    // Fills status and data for a decoded command; false leaves it unanswered.
    // Called in the peer's thread with the table lock held.
    virtual bool answer(const RingWire::Frame &command, quint16 *status, QByteArray *data);

private:
    void respond(const RingWire::Frame &command);
    QByteArray buildAnswer(const RingWire::Frame &command, const RingFault &fault, quint16 status,
                           const QByteArray &data) const;
    void send(const QByteArray &bytes, const RingFault &fault, int cutAt);
    bool pause(int ms);

    PtyPair pty;
    RingWire::Decoder decoder;

    mutable QMutex mutex;
    mutable QWaitCondition changed;
    QByteArray devNo;
    quint16 devType = 0;
    QByteArray initParams;
    qint64 clockMs = 0;
    QMap<quint8, quint16> statusByCommand;
    RingFault standing;
    QList<RingFault> once;
    QList<RingWire::Frame> recorded;
    QByteArray input;
    int answered = 0;
};
