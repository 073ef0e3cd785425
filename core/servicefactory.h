#pragma once

#include <QString>
#include <QThread>

#include <atomic>

class GSMService;
class MorlanProtocolProcess;
class PigeonBo;
class QMutex;
class QTranslator;
class RFIDService;
class SoundThread;

// Device nodes of the serial links. Each link's owner thread opens its own
// port on the node (through Platform::path); nothing else touches them.
extern const QString _serialPort_miniDin; // club link
extern const QString _serialPort_lfInner; // inner ring-reader module
extern const QString _serialPort_PC;      // PC port

// A service pointer the service thread publishes and withdraws while other
// threads read it: every read sees a whole pointer, and a published pointer
// comes with the service's construction.
template <typename T>
class ServicePointer
{
public:
    ServicePointer() = default;
    ServicePointer(const ServicePointer &) = delete;
    ServicePointer &operator=(const ServicePointer &) = delete;

    ServicePointer &operator=(T *value)
    {
        pointer.store(value, std::memory_order_release);
        return *this;
    }
    operator T *() const { return pointer.load(std::memory_order_acquire); }
    T *operator->() const { return pointer.load(std::memory_order_acquire); }

private:
    std::atomic<T *> pointer{nullptr};
};

// The service thread: builds the race engine and the worker services on its
// own stack, starts them in order, runs the event loop of the race engine's
// timer and, when that loop ends, powers the device off. Other threads reach
// the services through getInstance() once startService() has returned.
class ServiceFactory : public QThread
{
    Q_OBJECT
public:
    explicit ServiceFactory(QObject *parent = nullptr);
    ~ServiceFactory() override;

    static ServiceFactory *getInstance();
    static void startService();
    static void requestExit();
    // How many exit requests this process made (tests count them).
    static int exitRequestCount();

    static void switchToRace(bool wait);
    static void switchToClub();
    static void switchToComm();

    static void loadLang();
    static void loadLang(const QString &lang);
    static QString lang();
    // Sets the language code only; the translation is installed by loadLang.
    // A code that is no language code is refused (logged): the current stays.
    static void setLang(const QString &lang);
    // Letters, digits and underscores, 1 to 16 of them: a code that can name
    // a translation folder and nothing else.
    static bool isLanguageCode(const QString &lang);

    // Errors the user must see, any thread. The start error is why the
    // services do not run (the window shows it at every return to the menu
    // while it stands); a notice is shown once.
    static QString startError();
    static void postNotice(const QString &text);
    static QString takeNotice();

    static void debug(const QString &text);
    static qint64 getTickCount();

    static int getParamInt32(const QString &key, int defaultValue);
    static void setParamInt32(const QString &key, int value);
    static qint64 getParamInt64(const QString &key, qint64 defaultValue);
    static void setParamInt64(const QString &key, qint64 value);

    // The race mode word of the reader for a "channelMode" parameter value.
    static int raceModeFor(int channelMode);

    // Guards soundThread: the service thread publishes and withdraws it under
    // this lock, and VexPlayer::play queues on it under the same lock, so a
    // prompt never reaches a sound thread that is being destroyed.
    static QMutex &soundThreadMutex();
    void setSoundThread(SoundThread *thread);

    ServicePointer<PigeonBo> pigeonBo;
    ServicePointer<MorlanProtocolProcess> protocolProcess;
    ServicePointer<RFIDService> rfidService;
    ServicePointer<GSMService> gsmService;
    ServicePointer<SoundThread> soundThread;
    // Set once every service runs; the pointers above are complete before.
    std::atomic<bool> started{false};

    static std::atomic<int> GPS_UTC_ADJUST;

public slots:
    void onServiceStart(QString name);
    void onServiceStop(QString name);

protected:
    void run() override;

private:
    void runServices();
    // After a failed start: reports it, then watches mains power as the race
    // engine would until an exit is requested.
    void runWithoutServices(const QString &error);
};
