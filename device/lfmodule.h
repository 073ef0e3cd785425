#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <memory>

class DeviceHandler;
class QSerialPort;

// One ring reading from a reader: the landing antennas of the inner module
// and the club connector reader both deliver these.
struct LFTAG_INFO
{
    QString eRing;          // electronic ring number, 8 upper-case hex digits
    int randNum = 0;        // random number read with the ring
    QString uid;            // tag uid, 8 upper-case hex digits
    int stored = 0;         // 1: held by the connector before the first sync
    QString extId;          // further reader identifier, not interpreted
    qint64 time = 0;        // club time of the reading, ms since the epoch
};

// The state of one landing-antenna channel of the inner module.
struct LFCHANNEL_INFO
{
    QString id;             // serial number, 8 upper-case hex digits
    quint16 type = 0;       // antenna type word
    QString version;        // firmware version "%X.%02X"
    quint8 attr = 0;        // not interpreted
    quint8 status = 0;      // bit 7: channel in error
};

// What the clock tells the inner module on every poll.
struct PIGEONHOST_INFO
{
    int flags = 0;          // race-mode word
    quint32 channelVer = 0; // channel-list version held (0 before the first list)
    quint32 tagVer = 0;     // tag-list version held (0 before the first list)
    qint64 time = 0;        // device clock at the poll, ms since the epoch
};

// What the inner module answers to a poll.
struct RFMODULE_INFO
{
    qint32 reserved = 0;    // copied, not interpreted
    QString id;             // module id, 8 upper-case hex digits
    quint32 channelVer = 0;
    quint32 channelCount = 0;
    quint32 tagVer = 0;
    quint32 tagCount = 0;
};

// The clock's driver for its inner ring-reader module on the ring-reader link:
// port set-up, identification and the module's command group 'J'. Used only
// by the polling thread, which owns the port; failures are thrown as
// VexException and leave the object ready for a fresh connect().
class LFInnerModule
{
public:
    // A module that keeps a clock of its own; 0x4A31 is assumed until known.
    static constexpr unsigned short kClockModuleType = 0x4B31;
    static constexpr unsigned short kDefaultType = 0x4A31;

    explicit LFInnerModule(QSerialPort *port);
    ~LFInnerModule();
    LFInnerModule(const LFInnerModule &) = delete;
    LFInnerModule &operator=(const LFInnerModule &) = delete;

    // (Re)opens the port at 9600 8N1 and reads the module's id and type.
    unsigned short connect();
    void disconnect();
    bool isConnected() const;
    QString getModuleId() const;
    unsigned short getRfDevType() const;

    void exchangeInfo(const PIGEONHOST_INFO *host, RFMODULE_INFO *answer);
    void startRace(const QString &raceId, unsigned int mode);
    void stopRace();
    void getChannel(unsigned int index, LFCHANNEL_INFO *channel);
    void getTag(unsigned int index, LFTAG_INFO *tag);
    // Re-initialises the module in mode when its stored mode differs.
    void syncMode(unsigned char mode);

    // The module's own clock (group 0 of the link).
    qint64 getTime();
    void setTime(qint64 ms);

private:
    // One 'J' command: its answer's data carried, after the status check.
    QByteArray doCommand(unsigned char cmd, const QByteArray &data, int shortCode, const char *shortText,
                         int minDataBytes);

    QSerialPort *port = nullptr;
    std::unique_ptr<DeviceHandler> handler;
    QString moduleId;
    unsigned short devType = kDefaultType;
    QString lastOpenError;
};

Q_DECLARE_METATYPE(LFTAG_INFO)
Q_DECLARE_METATYPE(LFCHANNEL_INFO)
