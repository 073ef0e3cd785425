#pragma once

#include "core/wakeup.h"
#include "device/lfmodule.h"

#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>

class PigeonBo;

// Owns the inner ring-reader module: powers it, connects, polls it every
// 100 ms, hands changed channel lists and new ring readings to the race
// engine, keeps the module's clock and the device clock in step on request,
// and reconnects after any failure. A polling QThread: run() creates and owns
// the serial port and the module; other threads reach it only through the
// atomics and the published copies below, which never wait for the line.
class RFIDService : public QThread
{
    Q_OBJECT
public:
    // The waits around a connection; tests shorten them, the link's own
    // polling stays real.
    struct Timing {
        int powerOnDelayMs = 500;    // module power-up before the first connect
        int reconnectDelayMs = 3000; // back-off after a failed connection
    };

    // portName is the fixed device path ("/dev/ttyS3"), mapped by the platform layer.
    RFIDService(const QString &portName, int raceMode, QObject *parent = nullptr);
    ~RFIDService() override;

    // Before start().
    void setTiming(const Timing &timing);

    void requestExit();
    // Takes effect at the next poll; startRace only at the next connection.
    void setRaceMode(int mode);
    int getRaceMode() const;
    // The next poll writes the device time into the module.
    void requestVerifyDevTime();
    // The next poll reads the module's time and sets the device clock from it.
    void requestVerifyRfTime();
    // A module mode (1 or 2) the next poll makes the module take; other
    // values are discarded there. 0 means none.
    void setPendingModuleMode(quint8 mode);

    // Published copies: any thread, never blocked by the serial line.
    unsigned short getRfDevType() const;
    QString getModuleId() const;
    bool isValid() const;

    // Does nothing: the module has no repair procedure.
    void repairModule();

protected:
    void run() override;

private:
    void doLoop(LFInnerModule &module);
    void doTick(LFInnerModule &module);
    void serveModuleMode(LFInnerModule &module);
    void serveTimeFlags(LFInnerModule &module);
    void readChannels(LFInnerModule &module, const RFMODULE_INFO &answer);
    void readTags(LFInnerModule &module, const RFMODULE_INFO &answer);
    void flushWatchdog();
    void publish(const LFInnerModule &module);
    // Sleeps up to ms, returning as soon as exit is requested.
    void sleepUnlessExit(int ms);
    static PigeonBo *engine();

    QString portName;
    Timing timing;
    std::atomic<bool> exitRequested{false};
    WakeUp exitWake; // ends the waits around a connection
    std::atomic<bool> writeModuleTime{false};
    std::atomic<bool> readModuleTime{false};
    std::atomic<int> raceMode{0};
    std::atomic<quint8> pendingModuleMode{0};

    // Polling thread only.
    qint64 lastWatchdog = 0;
    PIGEONHOST_INFO hostInfo;

    // Published by the polling thread after each connect and disconnect.
    mutable QMutex mutex;
    QString moduleId;
    unsigned short devType = LFInnerModule::kDefaultType;
    bool connected = false;
};
