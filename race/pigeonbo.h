#pragma once

#include "device/lfmodule.h"
#include "gsm/gsmservicecallback.h"
#include "storage/loftinfo.h"
#include "storage/pigeonrecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>

class ArrivalJournal;
class GsmModule;
class LocationInfo;
class QTimer;
class RaceInfo;

// The race engine: turns ring readings into arrivals, keeps the time mode and
// the loft settings, notification phones, device id and reader channels that
// every thread reads. Lives in the service thread, whose event loop runs its
// 50 ms tick and its queued slots; getters and setters are called from any
// thread and copy under the one (non-recursive) mutex, which is never held
// across a database call, a signal or a call into another locking getter.
class PigeonBo : public QObject, public GSMServiceCallback
{
    Q_OBJECT
public:
    explicit PigeonBo(QObject *parent = nullptr);
    ~PigeonBo() override;

    // Life cycle: service thread, except requestExit and isFinished (any thread).
    void start();
    void requestExit();
    bool isFinished() const;
    bool hasActiveRace();

    // Caches.
    void reflushCache();
    LoftInfo getLoftInfo();
    void saveLoftInfo(const LoftInfo *info);
    int getVoiceMode();
    QString getLoftNum();
    QString getPassword();
    int getTimeZone();
    QList<QString> getNotifyPhones();
    void saveNotifyPhones(const QList<QString> &phones);
    QString getSystemId();
    void cacheChannels(const QList<LFCHANNEL_INFO> &list);
    QList<LFCHANNEL_INFO> getChannels();
    void cacheLastEring(const QString &eRing);
    // The ring of the last live reading while it is held, else a null text.
    QString getLastEring();
    void getGpsInfo(LocationInfo *info);
    // Test seam: where getGpsInfo takes the position from instead of the
    // modem thread (empty restores the modem). Any thread.
    using PositionSource = std::function<LocationInfo()>;
    void setPositionSource(const PositionSource &source);

    // Any thread: hands one reading (a copy) to the engine's thread.
    void notifyTagScaned(LFTAG_INFO *tag);
    // Exactly eight hex digits: the only rings the engine takes. Anything
    // else (an empty, short or quoted ring) names no pigeon.
    static bool isRingNumber(const QString &ring);

    // Arrivals, service thread. Stores one updated record with its arrival
    // log entry, then emits pigeonBack and speaks it; false, with nothing
    // stored, when the record's row changed meanwhile. A database failure
    // is thrown before anything is announced.
    bool doRecordSave(const PigeonRecord *record);
    // The pause between tries of a reading whose storing fails; it is tried
    // until it is stored, and later readings wait behind it. Tests shorten it.
    struct ArrivalRetry {
        int delayMs = 3000;
    };
    void setArrivalRetry(const ArrivalRetry &retry); // before start()
    // Readings waiting because storing failed; 0 while arrivals are stored.
    // Any thread.
    int heldArrivals() const;

    // Time: the club time while it is locked, else the device time. Any
    // thread, without the mutex.
    qint64 getLoftTime();
    // The time mode: bit 1 network-verified, bit 2 club time locked, bit 4
    // club time held as an offset. Any thread.
    quint8 getTimeMode() const;
    // Locks the club time at clubMs (basketing); the device time before.
    qint64 lockClubTime(qint64 clubMs);
    void unlockClubTime();
    // Basketing: locks the club time and logs "mark:" and id.
    void verifyClubTime(qint64 clubMs, const QString &id);
    // The time screen: sets the clock, only while no bit of the mode is set.
    void verifyTimeManual(qint64 ms);
    // Network time: sets the clock without a jump of a locked club time.
    void verifyTime(qint64 ms, bool log);

    // Upload payloads: complete JSON texts built from the database and the
    // caches. They only read, so the GUI and the modem thread may build at
    // once; never called with the mutex held (they take the locking getters).
    QString toJsonMarkRecord(const PigeonRecord *record, const RaceInfo *race);
    QString toJsonMarkRecordList(QList<QSharedPointer<PigeonRecord>> records, const RaceInfo *race);
    QString toJsonArriveData(const RaceInfo *race);
    QString toJsonRecordList(QList<QSharedPointer<PigeonRecord>> records);
    QString toJsonRecord(const PigeonRecord *record);
    QString makeJsonStateString();
    // The record flags word of the arrival line and the record SMS.
    static int recordFlags(const PigeonRecord *record, bool testPigeon);
    // The device's time zone in minutes, truncated toward zero.
    static int timeZoneMinutes();

    // Authentication and SMS, modem thread. The code is the first 4 bytes of
    // MD5 over first, second and text, in that order.
    static QByteArray getMacW5(QByteArray text, QByteArray first, QByteArray second);
    QString toSmsRecord(const PigeonRecord *record);
    int uploadSmsRecord(GsmModule *gsm, QString smsHost, QByteArray deviceId, QByteArray password,
                        const PigeonRecord *record);
    QString toUserSms(const PigeonRecord *record);
    int uploadSmsNotify(GsmModule *gsm, QList<QString> phones, const PigeonRecord *record);
    static QByteArray encrypt(QByteArray data, QByteArray key);
    static QByteArray decrypt(QByteArray data, QByteArray key);
    QByteArray computeKey(const QByteArray &seed);
    // The longest text one text-mode SMS carries.
    static constexpr int kMaxSmsChars = 160;

    // The data turn's uploads, modem thread; each returns a turn result
    // (0 sent, 1 nothing to send, 2 failed, -1 modem failure).
    int uploadJsonState(GSMService *service);
    int uploadMarkData(GSMService *service, bool races, bool training);
    int uploadMarkRecord2(GSMService *service, QString json);
    int uploadJsonRecords(GSMService *service, bool races, bool training);
    int uploadJsonRecordList(GSMService *service, QList<QSharedPointer<PigeonRecord>> &records);
    int doSecuritySMD(GSMService *service, QString method, QString params, QVariant *result);

    // Blocking uploads of the screens (GUI thread): posted into the one-slot
    // mailbox, run by the modem thread's next data turn. Throw 4609 while a
    // command is in the slot, 4099 when no turn ran it in time, 4098 when it failed.
    void uploadMarkRecord(const PigeonRecord *record, const RaceInfo *race);
    void uploadMarkRecordList(QList<QSharedPointer<PigeonRecord>> records, const RaceInfo *race);
    void uploadArriveData(const RaceInfo *race);
    // The next SMS turn sends the test text to this number, and nothing else.
    void startTestSMS(QString phone);
    // How long a blocking upload polls the mailbox: polls times pollMs.
    // Tests shorten it; production keeps 2000 x 10 ms.
    struct MailboxWait {
        int polls = 2000;
        int pollMs = 10;
    };
    void setMailboxWait(const MailboxWait &wait);

    // GSMServiceCallback, modem thread.
    void onTime(GSMService *service, qint64 utcMs, int source) override;
    int doSmsEvent(GSMService *service) override;
    int doGprsEvent(GSMService *service) override;
    QString getHostIP() override;
    QString getSmdPath() override;
    QString getApn() override;
    QString getNet() override;

signals:
    void channelsChanged();
    void pigeonBack(PigeonRecord pigeon);
    void tagScaned(LFTAG_INFO tag);

public slots:
    void onTagScaned(LFTAG_INFO tag);

protected slots:
    // One tick of 50 ms, as the timer gives it while something is counting.
    void onTickTime();

private:
    // The timer's own call: the ticks that passed since the last one.
    void onTickTimer();
    void tick(int ticks);
    // The timer sleeps until the next tick that has work.
    void scheduleTick();
    void onPowerLost();
    void flushWatchdog();
    void destroy();
    void loadTimeMode();
    void verifyTimeout();
    // A copy of one member taken under mutex: what the locking getters return.
    template <typename T>
    T copyLocked(const T &member)
    {
        QMutexLocker lock(&mutex);
        return member;
    }

    // Arrival processing (pigeonbo_arrival.cpp).
    struct PendingReading {
        LFTAG_INFO tag;
        int slot = -1; // in the journal; -1 while not kept there
    };
    void holdInJournal();
    void finishReading(const PendingReading &pending);
    void replayJournal();
    void publishHeld();
    bool acceptReading(const LFTAG_INFO &tag);
    bool takeLiveRing(const QString &eRing);
    void drainReadings();
    void onArrivalRetry();
    bool tryArrival(const LFTAG_INFO &tag);
    void processReading(LFTAG_INFO tag);
    void fillFirstArrival(const LFTAG_INFO &tag, PigeonRecord *record);
    void announce(const PigeonRecord &record);
    void dropPendingReadings();

    // Network work helpers (pigeonbo_net.cpp, pigeonbo_mailbox.cpp).
    void postCommand(const QString &method, const QString &params);
    int uploadRaceMarks(GSMService *service, const RaceInfo &race);
    int uploadArrivals(GSMService *service, const QString &where, bool fillOrder);
    int sendSmsRecords(GsmModule *gsm, const LoftInfo &loftCopy, const QString &where, bool fillOrder);
    int sendNotifications(GsmModule *gsm);

    std::atomic<bool> exitRequested{false};
    int powerCountdown = 5000;              // ms; service thread only
    QTimer *tickTimer = nullptr;            // service thread only
    QElapsedTimer sinceTick;                // service thread only
    std::atomic<bool> running{false};       // between start() and destroy()
    QList<QString> notifyPhones;
    QString testSmsPhone;
    LoftInfo loft;
    QString gsmNet;
    QString lastEring;
    int lastEringCountdown = 0;             // ms
    qint64 lastWatchdog = 0;                // service thread only
    qint64 lastStateUpload = 0;
    qint64 gsmVerifyTime = 0;
    qint64 lastRfTimeVerify = 0;
    // Bit 1 network-verified, bit 2 club time locked, bit 4 club time held as
    // an offset. Read without the mutex by getLoftTime.
    std::atomic<quint8> timeMode{0};
    // The one-slot command mailbox's states; bit 0x8000 marks every state in
    // which the modem thread is done with the slot.
    static constexpr int kMailboxIdle = 0x8000;
    static constexpr int kMailboxPosted = 1;
    static constexpr int kMailboxTaken = 2;
    static constexpr int kMailboxFailed = 0x8003;
    static constexpr int kMailboxDone = 0x8004;
    int mailboxState = kMailboxIdle;
    QString mailboxMethod;
    QString mailboxParams;
    QString systemId;
    QList<LFCHANNEL_INFO> channels;
    std::atomic<int> mailboxPolls{2000};
    std::atomic<int> mailboxPollMs{10};
    PositionSource positionSource;
    QMutex mutex;
    // Serialises each change of the time mode with the saving of its
    // parameters, so that what is stored is always the last change; taken
    // before mutex, held until the parameters are written.
    QMutex timeSaveMutex;
    // Serialises the cached settings' reload with their saves, each over its
    // database work and the publishing of its values, so that the cache
    // always ends with the newest row. Taken before mutex.
    QMutex cacheSaveMutex;

    // Service thread only: readings waiting behind one whose storing failed.
    QList<PendingReading> pendingReadings;
    QTimer *retryTimer = nullptr;
    bool draining = false;
    ArrivalRetry arrivalRetry;
    std::unique_ptr<ArrivalJournal> journal;
    std::atomic<int> held{0};
};
