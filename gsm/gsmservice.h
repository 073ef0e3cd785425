#pragma once

#include "core/locationinfo.h"
#include "core/wakeup.h"
#include "gsm/gsmservicecallback.h"
#include "gsm/gsmstate.h"
#include "gsm/gsmtiming.h"
#include "gsm/gsmturn.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

class GsmClock;
class GsmModule;

// Owns the cellular modem: powers it, waits for its USB node, makes the
// driver of the configured family and runs the modem cycle (registration,
// network time, position, then the race engine's SMS and upload turns through
// its callback), cycling the power after any failure. A polling QThread:
// run() makes, uses and destroys the driver; other threads only request the
// exit, set the upload interval and copy the state and the position, under
// the one mutex that also guards the driver pointer.
class GSMService : public QThread, public TimeCallback
{
    Q_OBJECT
public:
    explicit GSMService(GSMServiceCallback *callback, QObject *parent = nullptr);
    ~GSMService() override;

    // Before start(): the durations of the loop, and the clock of the
    // driver's own waits (not owned; the program's by default). Tests scale both.
    void setTiming(const GsmTiming &timing);
    void setModemClock(GsmClock *clock);

    // Any thread: the wait in progress ends, then the loop.
    void requestExit();
    // Any thread: stops the loop and waits up to boundMs for the thread to
    // end; false when it is still running (the object must then stay alive).
    bool stop(int boundMs);
    // Any thread: true after several failed starts in a row, while the
    // service waits ever longer between starts; false again once a start
    // brings the data connection up.
    bool isFailed() const;

    // This thread (the engine's turns): the driver of the current cycle, null between cycles.
    GsmModule *getGsmModule() const;
    // Any thread: the modem state; every flag clear between cycles.
    GsmState getGSMState() const;
    LocationInfo getCurrentGPS() const;

    // Any thread: the upload turn runs at now + ms.
    void setGprsInterval(unsigned int ms);
    // This thread.
    void setSmsInterval(unsigned int ms);
    bool isGprsTickReady() const;
    bool isSmsTickReady() const;
    void requestLocation();
    void checkHardware();
    // This thread, socket opened by the caller: one HTTP POST to the
    // engine's host and path; the reply body. Throws 4097 when it fails.
    QByteArray postHttp(const QByteArray &body);

    // TimeCallback, this thread (the drivers): passed on to the engine.
    void onTime(qint64 utcMs, int source) override;

    // The AT port of a modem type (HardwareControl::gsmType()).
    static QString portFor(unsigned int gsmType);
    // The driver of a modem type.
    static std::unique_ptr<GsmModule> makeDriver(unsigned int gsmType);

protected:
    void run() override;

private:
    void startGSM();
    void stopGSM();
    void doEvents();
    void runSteps();
    void closeDriver();
    void doEvent(unsigned int elapsedMs);
    void checkGSM(unsigned int elapsedMs);
    void syncNetTime();
    void syncGps();
    void takeGsmLocation();
    void doSMSEvent();
    void doGprsEvent();
    void configureApn();
    void flushWatchdog();
    quint32 flags() const;
    // The tick at which the next step has work, the last step having run at
    // lastStep; lastStep itself while the modem still needs every step.
    qint64 nextStepDue(qint64 lastStep) const;
    // Sleeps totalMs; false as soon as exit is requested.
    bool waitSteps(int totalMs);
    bool waitForNode(const QString &port);
    // The pause before the next start, from how this cycle ended; logs a
    // change of pause once.
    int pauseAfterCycle();
    // Waits before the next start; ends early on exit or when the APN or the
    // operator changed since the failed start.
    void waitBeforeStart(int pauseMs);
    bool settingsChanged() const;
    static qint64 tick();

    GSMServiceCallback *callback = nullptr;
    GsmModule *driver = nullptr;            // guarded by mutex for other threads' reads
    std::atomic<bool> exitRequested{false};
    GsmTiming timing;
    GsmClock *modemClock = nullptr;
    unsigned int pendingPauseMs = 0;
    int lastFlags = 0xFF;
    unsigned int cregCountdown = 15000;
    unsigned int offlineMs = 0;
    // Of the last step's elapsed time, what it slept past its 10 ms while
    // the modem was registered and nothing was due.
    unsigned int idleMs = 0;
    // Monotonic tick, ms: the device clock jumps with every synchronisation.
    qint64 lastWatchdog = 0;
    // Set to 0 by requestLocation from another thread.
    std::atomic<qint64> netTimeDue{0};
    std::atomic<qint64> gpsDue{0};
    // Rung by the exit request, a queued upload and a position request.
    WakeUp wakeUp;
    // Failed starts in a row: cycles that ended before their data connection
    // was up. The pause before a start doubles from the third on.
    int failedStarts = 0;
    bool dataReached = false;
    int lastPauseMs = 0;
    QString triedApn;
    QString triedNet;
    std::atomic<bool> failed{false};
    GsmTurn smsTurn;
    GsmTurn gprsTurn;
    LocationInfo location;                  // guarded by mutex
    mutable QMutex mutex;
};
