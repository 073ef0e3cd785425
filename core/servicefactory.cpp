#include "core/servicefactory.h"

#include "club/morlanprotolprocess.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/SoundThread.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "gsm/gsmservice.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/mainwindow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

#include <cstdlib>
#include <memory>

#include <time.h>

const QString _serialPort_miniDin = QStringLiteral("/dev/ttyS2");
const QString _serialPort_lfInner = QStringLiteral("/dev/ttyS3");
const QString _serialPort_PC = QStringLiteral("/dev/ttyS1");

std::atomic<int> ServiceFactory::GPS_UTC_ADJUST{-17};

namespace {

constexpr int kStartPollMs = 10;
// Building and starting the services takes well under a second; a service
// thread that has not reported after this long is logged and left behind so
// that the user interface still comes up.
constexpr int kStartLimitMs = 60000;
constexpr int kOneSecondMs = 1000;
constexpr int kRaceModeDefault = 0x311;
constexpr int kRaceModeChannel = 0x111;
constexpr int kMaxLangChars = 16;
// The power watch that stands in for the race engine's after a failed start.
constexpr int kPowerTickMs = 50;
constexpr int kPowerCountdownMs = 5000;
// The modem thread ends within one step or answer poll of the exit request;
// a thread stuck past this is left running with its objects.
constexpr int kGsmStopMs = 20000;
// Notices waiting for the window, at most this many (the oldest go).
constexpr int kMaxNotices = 8;

QMutex &noticeMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &startErrorText()
{
    static QString text;
    return text;
}

QStringList &notices()
{
    static QStringList list;
    return list;
}

// The language code: written by the service thread (loft settings), read by
// every thread that builds a prompt or a translation path.
QMutex &langMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &langStorage()
{
    static QString lang = QStringLiteral("EN");
    return lang;
}

QTranslator *&translatorStorage()
{
    static QTranslator *translator = nullptr;
    return translator;
}

} // namespace

ServiceFactory::ServiceFactory(QObject *parent)
    : QThread(parent)
{
}

ServiceFactory::~ServiceFactory() = default;

ServiceFactory *ServiceFactory::getInstance()
{
    static ServiceFactory instance;
    return &instance;
}

void ServiceFactory::startService()
{
    ServiceFactory *factory = getInstance();
    factory->start(QThread::InheritPriority);
    int waitedMs = 0;
    while (!factory->started) {
        if (waitedMs >= kStartLimitMs) {
            debug(QStringLiteral("ServiceFactory::startService timeout!"));
            return;
        }
        HardwareControl::wait(kStartPollMs);
        waitedMs += kStartPollMs;
    }
}

void ServiceFactory::run()
{
    QString error;
    try {
        runServices();
        return;
    } catch (const VexException &e) {
        debug(QStringLiteral("ServiceFactory::run VexException!"));
        error = e.getErrorDesc().isEmpty() ? e.getErrorMessage() : e.getErrorDesc();
    } catch (...) {
        debug(QStringLiteral("ServiceFactory::run UnknowException!"));
        error = QStringLiteral("Unknown exception!");
    }
    runWithoutServices(error);
}

void ServiceFactory::runServices()
{
    std::srand(static_cast<unsigned>(QDateTime::currentMSecsSinceEpoch()));

    // The engine and the modem thread are on the heap: a modem thread that
    // does not stop within its bound keeps both (it calls into the engine).
    auto bo = std::make_unique<PigeonBo>(nullptr);
    MorlanProtocolProcess process(_serialPort_miniDin, nullptr);
    RFIDService rfid(_serialPort_lfInner, kRaceModeDefault, nullptr);
    auto gsm = std::make_unique<GSMService>(bo.get(), nullptr);
    SoundThread sound(nullptr);

    pigeonBo = bo.get();
    protocolProcess = &process;
    rfidService = &rfid;
    gsmService = gsm.get();
    setSoundThread(&sound);
    UTC::setRfHook({[&rfid] { return rfid.getRfDevType(); },
                    [&rfid] { rfid.requestVerifyDevTime(); }});

    // Withdraw the published pointers before the objects on this stack die,
    // whichever way this function is left.
    struct Unpublish {
        ServiceFactory *factory;
        ~Unpublish()
        {
            UTC::clearRfHook(); // waits for a synchronisation that uses it
            factory->setSoundThread(nullptr);
            factory->gsmService = nullptr;
            factory->rfidService = nullptr;
            factory->protocolProcess = nullptr;
            factory->pigeonBo = nullptr;
        }
    } unpublish{this};

    // A simulated device run with BRELLIUM_TIME_SCALE shortens the modem
    // thread's pauses as it does the window's; the device ignores it.
    const int scaledSecondMs = MainWindow::scaledMs(kOneSecondMs);
    if (scaledSecondMs < kOneSecondMs)
        gsm->setTiming(GsmTiming().scaled(kOneSecondMs / scaledSecondMs));

    GPS_UTC_ADJUST = getParamInt32(QStringLiteral("GPS_UTC_ADJUST"), -17);
    HardwareControl::LcdOn();
    sound.start(QThread::InheritPriority);
    bo->start();
    // A full disk must not keep the services from running: arrivals are
    // held until they can be stored, and the user is told.
    try {
        Storage::instance()->logPowerOn();
    } catch (const VexException &e) {
        debug(QStringLiteral("ServiceFactory::run logPowerOn VexException!"));
        postNotice(e.getErrorDesc().isEmpty() ? e.getErrorMessage() : e.getErrorDesc());
    }
    gsm->start(QThread::InheritPriority);
    rfid.start(QThread::InheritPriority);
    process.start(QThread::InheritPriority);
    switchToRace(false);
    started = true;

    exec();

    Storage::destroy();
    HardwareControl::syncAll();
    HardwareControl::LcdOff();
    HardwareControl::powerOff();
    if (!gsm->stop(kGsmStopMs)) {
        debug(QStringLiteral("ServiceFactory: GSMService did not stop, left running"));
        gsm.release();
        bo.release();
    }
}

void ServiceFactory::runWithoutServices(const QString &error)
{
    {
        QMutexLocker lock(&noticeMutex());
        startErrorText() = error;
    }
    try {
        Storage::instance()->logStartFailure(error);
    } catch (...) {
        debug(QStringLiteral("ServiceFactory::run logStartFailure UnknowException!"));
    }
    started = true;
    // The race engine's power watch, without the engine: mains gone for
    // 5 s still ends the program.
    QTimer powerWatch;
    int countdownMs = kPowerCountdownMs;
    connect(&powerWatch, &QTimer::timeout, [&powerWatch, &countdownMs] {
        countdownMs = HardwareControl::IsPowerAcSupply() ? kPowerCountdownMs : countdownMs - kPowerTickMs;
        if (countdownMs > 0)
            return;
        powerWatch.stop();
        try {
            Storage::instance()->logPowerOff(QStringLiteral("Power Lost"));
        } catch (...) {
            debug(QStringLiteral("ServiceFactory::run logPowerOff UnknowException!"));
        }
        requestExit();
    });
    powerWatch.start(kPowerTickMs);
    exec();
    powerWatch.stop();
    Storage::destroy();
    HardwareControl::syncAll();
    HardwareControl::LcdOff();
    HardwareControl::powerOff();
}

QString ServiceFactory::startError()
{
    QMutexLocker lock(&noticeMutex());
    return startErrorText();
}

void ServiceFactory::postNotice(const QString &text)
{
    QMutexLocker lock(&noticeMutex());
    notices().append(text);
    while (notices().size() > kMaxNotices)
        notices().removeFirst();
}

QString ServiceFactory::takeNotice()
{
    QMutexLocker lock(&noticeMutex());
    return notices().isEmpty() ? QString() : notices().takeFirst();
}

namespace {
std::atomic<int> exitRequests{0};
}

int ServiceFactory::exitRequestCount()
{
    return exitRequests;
}

void ServiceFactory::requestExit()
{
    ++exitRequests;
    MainWindow::requestExit(); // a flag only: this may run outside the GUI thread
    ServiceFactory *factory = getInstance();
    if (factory->pigeonBo)
        factory->pigeonBo->requestExit();
    if (factory->rfidService)
        factory->rfidService->requestExit();
    if (factory->gsmService)
        factory->gsmService->requestExit();
    QMutexLocker lock(&soundThreadMutex());
    if (factory->soundThread)
        factory->soundThread->requestExit();
}

QMutex &ServiceFactory::soundThreadMutex()
{
    static QMutex mutex;
    return mutex;
}

void ServiceFactory::setSoundThread(SoundThread *thread)
{
    QMutexLocker lock(&soundThreadMutex());
    soundThread = thread;
}

int ServiceFactory::raceModeFor(int channelMode)
{
    return channelMode == 0 ? kRaceModeDefault : kRaceModeChannel;
}

void ServiceFactory::switchToRace(bool wait)
{
    ServiceFactory *factory = getInstance();
    // A database that cannot be read must not keep the device out of race
    // work: the default channel's word, and the mode request still follows.
    int mode = kRaceModeDefault;
    try {
        mode = raceModeFor(getParamInt32(QStringLiteral("channelMode"), 0));
    } catch (...) {
        debug(QStringLiteral("ServiceFactory::switchToRace channelMode unreadable, default word used"));
    }
    if (factory->rfidService)
        factory->rfidService->setRaceMode(mode);
    if (!factory->protocolProcess)
        return;
    if (wait) {
        factory->protocolProcess->switchWorkMode(MorlanProtocolProcess::Idle, true);
        if (factory->pigeonBo)
            factory->pigeonBo->cacheChannels({});
    }
    factory->protocolProcess->switchWorkMode(MorlanProtocolProcess::Normal, false);
}

void ServiceFactory::switchToClub()
{
    if (MorlanProtocolProcess *process = getInstance()->protocolProcess)
        process->switchWorkMode(MorlanProtocolProcess::ClubMaster, false);
}

void ServiceFactory::switchToComm()
{
    if (MorlanProtocolProcess *process = getInstance()->protocolProcess)
        process->switchWorkMode(MorlanProtocolProcess::CommSlave, false);
}

QString ServiceFactory::lang()
{
    QMutexLocker lock(&langMutex());
    return langStorage();
}

bool ServiceFactory::isLanguageCode(const QString &code)
{
    if (code.isEmpty() || code.size() > kMaxLangChars)
        return false;
    for (const QChar c : code) {
        const bool allowed = (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || c == QLatin1Char('_');
        if (!allowed)
            return false;
    }
    return true;
}

void ServiceFactory::setLang(const QString &code)
{
    // The code becomes part of a file path: "../x" must never get there.
    if (!isLanguageCode(code)) {
        debug(QStringLiteral("ServiceFactory: language code refused: ") + code);
        return;
    }
    QMutexLocker lock(&langMutex());
    langStorage() = code;
}

void ServiceFactory::loadLang(const QString &code)
{
    setLang(code);
    loadLang();
}

void ServiceFactory::loadLang()
{
    const QString code = lang();
    if (!isLanguageCode(code))
        return;
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/resource/") + code
        + QLatin1Char('/') + code + QStringLiteral(".qm");
    if (!QFile::exists(path))
        return;
    // Load into a fresh translator and swap only on success, so a corrupt
    // file keeps the language in use.
    auto fresh = std::make_unique<QTranslator>();
    if (!fresh->load(path))
        return;
    QTranslator *&installed = translatorStorage();
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    installed = fresh.release();
    QCoreApplication::installTranslator(installed);
}

void ServiceFactory::debug(const QString &text)
{
    qDebug() << text;
}

qint64 ServiceFactory::getTickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int ServiceFactory::getParamInt32(const QString &key, int defaultValue)
{
    const QString text = Storage::instance()->getParam(key);
    if (text.isEmpty())
        return defaultValue;
    return text.toInt(); // a text that is no number gives 0, not the default
}

void ServiceFactory::setParamInt32(const QString &key, int value)
{
    Storage::instance()->setParam(key, QString::number(value));
}

qint64 ServiceFactory::getParamInt64(const QString &key, qint64 defaultValue)
{
    const QString text = Storage::instance()->getParam(key);
    if (text.isEmpty())
        return defaultValue;
    return text.toLongLong();
}

void ServiceFactory::setParamInt64(const QString &key, qint64 value)
{
    Storage::instance()->setParam(key, QString::number(value));
}

void ServiceFactory::onServiceStart(QString) {}
void ServiceFactory::onServiceStop(QString) {}
