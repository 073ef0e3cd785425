#pragma once

#include "club/morlancmdqueue.h"
#include "club/morlanslaver.h"
#include "core/wakeup.h"

#include <QByteArray>
#include <QMutex>
#include <QSharedPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

class ClubReadTicket;
class MorlanMasterHandler;
class MorlanSlaverHandler;
class QSerialPort;
class RFConnector;

// The club-link thread (a polling QThread): run() creates, owns and closes
// the club serial port and gives it to one work mode at a time: the club's
// connector reader during races (normal), master of the club router (club),
// slave of a PC program (comm). Other threads request a mode, queue router
// commands and wait for some of them; results come back by queued signals or
// through a shared SemaphoreEx. Requests reach run() through atomics and the
// mutex-guarded queue, never through slots on this object.
class MorlanProtocolProcess : public QThread, public MorlanSlaverCallback
{
    Q_OBJECT
public:
    enum WorkMode { Exit = 0, Idle = 1, Normal = 2, ClubMaster = 3, CommSlave = 4 };
    // The club-mode commands by their queue type.
    enum CmdType { TestRouter = 1, ReadTag = 4, SetRandom = 5, Print = 6, GetTime = 7, SetTime = 8, GetTimeStatus = 9 };

    // portName is the device's club port ("/dev/ttyS2"); the thread opens the
    // platform layer's path for it. Nothing is opened here.
    MorlanProtocolProcess(const QString &portName, QObject *parent = nullptr);
    ~MorlanProtocolProcess() override;

    void switchWorkMode(int mode, bool wait);
    int getWorkMode() const;
    void requestExit();
    bool isConnectorReady();
    bool isValid() const;
    QString getAuthKey();
    QString getRouterId();
    bool isAuthed() const { return authed; }
    bool isConnected() const { return connected; }
    void setKeepAlive(bool on);

    // Asynchronous starts: they return at once; the command runs in club mode.
    // The answers of startReadTag() and startSetRandom({}) are broadcast to
    // whoever listens; screens ask through ClubReads instead, whose answers
    // reach only the asker that is still waiting for them.
    void startReadTag();
    void startSetRandom(QSharedPointer<SemaphoreEx> sem);
    // The same commands answered through the ticket only (see ClubReads).
    void askReadTag(const QSharedPointer<ClubReadTicket> &ticket);
    void askSetRandom(const QSharedPointer<ClubReadTicket> &ticket);
    void startPrint(const QString &text, QSharedPointer<SemaphoreEx> sem);
    void startSetTime(qint64 utcMs, QSharedPointer<SemaphoreEx> sem);
    void startGetTime(QSharedPointer<SemaphoreEx> sem);
    void startGetTimeStatus(QSharedPointer<SemaphoreEx> sem);

    // Synchronous calls from any thread but this one; each waits at most the
    // synchronous-call time-out (10 s) and throws on failure.
    void printSync(const QString &text);
    void setTimeSync(qint64 utcMs);
    qint64 getTimeSync();
    int getTimeStatusSync();

    void onShowTip(QString tip) override;

    // Test seams: the synchronous-call time-out, and where the thread reads
    // its integer parameters (the parameter store by default). Set the reader
    // before start().
    void setSyncTimeoutMs(int ms) { syncTimeoutMs = ms; }
    // The router's answer time-outs divided by this (1 by default), taken at
    // the next entry into club mode; and the bound of a waited mode switch.
    void setAnswerTimeoutDivisor(int divisor) { answerTimeoutDivisor = divisor; }
    // How often an idle club mode with the router watch on tests the router
    // (5000 ms by default).
    void setRouterWatchMs(int ms) { routerWatchMs = ms; }
    void setSwitchWaitMs(int ms) { switchWaitMs = ms; }
    // Commands waiting in the club-mode queue.
    int queuedCommandCount() const { return cmdQueue.size(); }
    // Their CmdTypes, in order.
    QList<int> queuedCommandTypes() const { return cmdQueue.types(); }
    // Takes the first queued command off the queue, as a club tick would
    // (tests answer it themselves while the thread is not started).
    bool takeQueuedCommand(MorlanCmdItem *item) { return cmdQueue.take(item); }
    using ParamReader = std::function<int(const QString &key, int defaultValue)>;
    void setParamReader(ParamReader reader) { paramReader = std::move(reader); }

    // Read by screens without a lock; routerWatch is written by the club hub.
    std::atomic<bool> connected{false};
    std::atomic<bool> authed{false};
    std::atomic<bool> routerWatch{false};

signals:
    void routerConnected();
    void routerDisconnected();
    void routerAuthed();
    void showTip(QString tip);
    void readTagEnd(QString eRingNum, quint8 rand, QString uid);
    void printEnd(bool bOK);
    void setRandomEnd(QString eRingNum, quint8 rand);
    void setTimeEnd(bool bOK);

protected:
    void run() override;

private:
    void runPass(QSerialPort *port, int mode, bool *openFailureLogged);
    bool setupPort(QSerialPort *port, int mode);
    void closePort(QSerialPort *port);
    void feedWatchdog();
    // Sleeps up to ms, feeding the watchdog; false as soon as another mode is
    // requested (the request ends the sleep).
    bool stayInMode(int mode, int ms);
    int readParam(const QString &key, int defaultValue);
    qint64 msUntilWatchdogFeed() const;
    // Every command enters the queue here, and rings the thread.
    void queueCommand(const MorlanCmdItem &item, bool front);

    void runNormalMode(QSerialPort *port);
    void runConnector(QSerialPort *port, quint8 address);
    void pollConnector(RFConnector *rfConnector);
    void publishConnector(RFConnector *rfConnector, bool ready);
    // Club mode: the clock as master of the club router.
    void runInClubMode(QSerialPort *port);
    // After a club tick: with nothing queued and no router test due, sleeps
    // until a command, a mode request or the test's due time.
    void idleInClubMode();
    void leaveClubMode();
    void dropRouter();
    void initRouter();
    void testRouter();
    void doAuth();
    void doTickInClubMode();
    void runCommand(MorlanCmdItem &item);
    void clearCmds();
    void clearLink();
    void doReadTag(MorlanCmdItem &item);
    // To the item's ticket when it has one, else by setRandomEnd.
    void announceSetRandom(MorlanCmdItem &item, const QString &eRing, quint8 rand);
    void doSetRandom(MorlanCmdItem &item);
    void doPrint(MorlanCmdItem &item);
    void doReadTime(MorlanCmdItem &item);
    void doReadTimeStatus(MorlanCmdItem &item);
    void doSetTime(MorlanCmdItem &item);
    // The set-time item's data: 8 bytes, least significant first.
    static QByteArray toByteArray(qint64 value);
    void runCommMode(QSerialPort *port);
    // Closes a failed PC line and opens it again until it opens or the mode
    // changes; without an open line the run loop opens it at the next pass.
    void reopenCommLine(QSerialPort *port);
    void publishSlaver(MorlanSlaverHandler *handler);

    QVariant callSync(int type, const QByteArray &data, bool front);

    MorlanMasterHandler *masterHandler = nullptr;
    MorlanSlaverHandler *slaverHandler = nullptr;
    RFConnector *connector = nullptr;
    QString portName;
    std::atomic<int> requestedMode{Idle};
    std::atomic<int> currentMode{Idle};
    // Once asked to exit the thread stays on its way out: a mode request
    // arriving meanwhile must not cancel the shutdown.
    std::atomic<bool> exitRequested{false};
    // Rung by every mode request and queued command.
    WakeUp wakeUp;
    int routerWatchCountdown = 0;
    qint64 lastWatchdogFeed = 0;
    QByteArray routerParams;
    QByteArray authKey;
    quint8 authCode = 0;
    quint8 printAddress = 0x54;
    MorlanCmdQueue cmdQueue;
    QMutex stateMutex; // guards the handler pointers, routerParams, authKey, authCode, connectorReady
    bool connectorReady = false;
    std::atomic<bool> portOpen{false};
    std::atomic<int> syncTimeoutMs;
    std::atomic<int> switchWaitMs;
    std::atomic<int> answerTimeoutDivisor{1};
    std::atomic<int> routerWatchMs{5000};
    ParamReader paramReader;
};
