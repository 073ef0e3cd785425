#pragma once

#include "device/lfmodule.h"

#include <QList>
#include <QString>
#include <QtGlobal>

class DeviceHandler;
class QSerialPort;

// The connector reader's status, as its status command reports it.
struct _RFConnectorInfo
{
    qint64 deviceTime = 0;   // the reader's clock, ms since the epoch
    quint32 firstIndex = 0;  // index of the oldest record held
    quint16 recordCount = 0; // records held
    quint32 readersVer = 0;  // version of the reader (antenna) list
    quint16 readerCount = 0; // readers (antennas)
};

// The club's connector reader on the club link's port: reads its status,
// fetches new ring records and its antenna list (command group 0x11 of the
// ring-reader link), converts record times from the reader's clock to club
// time and removes records once handed on. Not a thread: used only by the
// club-link thread, which owns the port.
class RFConnector
{
public:
    // Bit values of the syncStatus result.
    static constexpr int kReadersRead = 0x1;
    static constexpr int kRecordsHeld = 0x2;

    // The device address sent with the status, record and removal commands:
    // 0 for "channelMode" 1, 1 for 2. The owner sets it before connecting.
    quint8 address = 0;

    explicit RFConnector(QSerialPort *port);
    ~RFConnector();
    RFConnector(const RFConnector &) = delete;
    RFConnector &operator=(const RFConnector &) = delete;

    // Starts a fresh synchronisation and reads the device number; throws what
    // the link throws (the reader then counts as not connected).
    void connect();
    void disconnect();
    QString getDeviceNo() const;
    void resetTime();
    // Fills the reader list (when its version moved) and the records not yet
    // handed on, in club time; returns kReadersRead | kRecordsHeld as they
    // apply. A failure advances nothing: the next call fetches the same again.
    int syncStatus(QList<LFCHANNEL_INFO> &channels, QList<LFTAG_INFO> &tags);
    // Asks the reader to remove its records up to the last one fetched.
    void removeRecords();
    bool initPort();

    static void getStatus(DeviceHandler *handler, unsigned char address, _RFConnectorInfo *info);
    static void getRecord(DeviceHandler *handler, unsigned char address, unsigned int index, LFTAG_INFO *tag);
    static void removeRecords(DeviceHandler *handler, unsigned char address, unsigned int index);
    static void getReader(DeviceHandler *handler, unsigned int index, LFCHANNEL_INFO *reader);

private:
    QSerialPort *port;
    qint64 clockOffset = 0;   // club time minus reader time; 0 = not taken
    quint32 readersVer = 0;   // reader-list version held; 0 = none
    quint32 lastIndex = 0;    // highest record index fetched; 0 = none
    bool firstSyncDone = false;
    DeviceHandler *handler;
    QString deviceNo;
};
