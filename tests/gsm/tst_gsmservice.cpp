// The modem thread: whole modem cycles against the modem peer in power mode
// (it follows the modem's power pin on the simulated board), on a temporary
// database, with the loop's durations scaled to a hundredth and a recording
// race engine; and, at the end, network time through the real engine.
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "gsm/gsmmodule.h"
#include "gsm/gsmservice.h"
#include "gsm/gsmturn.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include "gsmtestclock.h"
#include "httpendpoint.h"
#include "messagecapture.h"
#include "modempeer.h"
#include "nmeabuilder.h"
#include "storagefixture.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace {

constexpr int kScale = 100;          // the loop's durations: a hundredth
constexpr int kModemScale = 20;      // the driver's own waits
constexpr int kBootDelayMs = 20;     // the peer's power-on to node
constexpr int kWaitMs = 15000;       // bound for what happens within a few cycles
// An exit cuts a long wait short: it comes well before the shortest of the
// production-length waits it is asked in (the 7 s settle); a wait on the
// modem's answer shows it in the log instead. How soon is a benchmark's.
constexpr int kExitBeforeWaitEndsMs = 3500;
constexpr int kGpioModem = 41;
const char kPowerPin[] = "/sys/class/gpio/gpio41/value";
const char kUbloxNode[] = "/dev/ttyUSB1";
const QByteArray kReplyBody = "{\"id\":1,\"result\":0}";

qint64 tick()
{
    return ServiceFactory::getTickCount();
}

// The debug output quotes the line, so the port's own quotes show escaped.
QString openPortLine(const QString &port)
{
    return QStringLiteral("Gsm open port \\\"") + port + QStringLiteral("\\\" OK!");
}

GsmTiming fastTiming()
{
    return GsmTiming().scaled(kScale);
}

// The race engine's side, recorded: times handed over, each turn's call ticks
// and scripted results. Called from the modem thread, read by the test.
class RecordingEngine final : public GSMServiceCallback
{
public:
    struct Turn
    {
        QList<qint64> ticks;
        QList<int> script; // results in order, then `then`
        int then = 1;
        std::function<int(GSMService *)> action; // when set, gives the result
    };

    void onTime(GSMService *, qint64 utcMs, int source) override
    {
        QMutexLocker lock(&mutex);
        received << qMakePair(utcMs, source);
    }
    int doGprsEvent(GSMService *service) override { return take(gprs, service); }
    int doSmsEvent(GSMService *service) override { return take(sms, service); }
    QString getHostIP() override { return value(host); }
    QString getSmdPath() override { return value(path); }
    QString getApn() override { return value(apn); }
    QString getNet() override { return value(net); }

    void set(const std::function<void(RecordingEngine &)> &change)
    {
        QMutexLocker lock(&mutex);
        change(*this);
    }
    QList<qint64> smsTicks() const { QMutexLocker lock(&mutex); return sms.ticks; }
    QList<qint64> gprsTicks() const { QMutexLocker lock(&mutex); return gprs.ticks; }
    int smsCalls() const { return int(smsTicks().size()); }
    int gprsCalls() const { return int(gprsTicks().size()); }
    QList<QPair<qint64, int>> times() const { QMutexLocker lock(&mutex); return received; }

    Turn sms;
    Turn gprs;
    QString host = QStringLiteral("cloud.test:9080");
    QString path = QStringLiteral("/rpc");
    QString apn = QStringLiteral("internet");
    QString net;

private:
    int take(Turn &turn, GSMService *service)
    {
        std::function<int(GSMService *)> action;
        int result = 1;
        {
            QMutexLocker lock(&mutex);
            turn.ticks << tick();
            result = turn.script.isEmpty() ? turn.then : turn.script.takeFirst();
            action = turn.action;
        }
        return action ? action(service) : result;
    }
    QString value(const QString &field) const
    {
        QMutexLocker lock(&mutex);
        return field;
    }

    mutable QMutex mutex;
    QList<QPair<qint64, int>> received;
};

struct RigOptions
{
    QString family = QStringLiteral("ublox");
    QString node = QLatin1String(kUbloxNode);
    unsigned int settings = 0;
    int board = 2;
    bool linkPeer = true; // false: the node never appears
};

// A simulated board with the modem peer on the modem's node following its
// power pin, a fresh database and the service with scaled timing (not yet
// started). Members die in reverse order: the service stops first.
struct ModemRig
{
    explicit ModemRig(const RigOptions &options = RigOptions())
        : peer(options.family)
        , modemClock(kModemScale)
    {
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        if (options.board == 1) {
            db.root().writeFile(QStringLiteral("/proc/version"), TestRoot::kernelVersion(1));
            db.root().writeFile(QStringLiteral("/dev/vexlor_hw_ctl/7"), "1");
        }
        HardwareControl::init(options.settings);
        db.root().setGpio(kGpioModem, 0);
        if (options.linkPeer)
            peer.linkAt(db.root().path(options.node));
        peer.followPower(db.root().path(QLatin1String(kPowerPin)), kBootDelayMs);
        peer.start();
        service.setTiming(fastTiming());
        service.setModemClock(&modemClock);
    }
    ~ModemRig() { stop(); }

    bool stop(int boundMs = kWaitMs)
    {
        service.requestExit();
        return service.wait(boundMs);
    }
    int commands(const QByteArray &prefix) const
    {
        int n = 0;
        for (const QByteArray &c : peer.commands())
            n += c.trimmed().toUpper().startsWith(prefix) ? 1 : 0;
        return n;
    }
    bool logged(const QString &text) const { return capture.contains(text); }
    int count(const QString &text) const { return capture.count(text); }
    // The index of the first captured line holding text at or after from; -1 when none.
    int line(const QString &text, int from = 0) const
    {
        const QStringList lines = capture.lines();
        for (int i = qMax(0, from); i < lines.size(); ++i) {
            if (lines.at(i).contains(text))
                return i;
        }
        return -1;
    }

    MessageCapture capture;
    StorageFixture db;
    ModemPeer peer;
    ScaledClock modemClock;
    RecordingEngine engine;
    GSMService service{&engine};
};

// Moves the device clock by moving the system clock under it, until destroyed.
struct ClockShift
{
    explicit ClockShift(qint64 byMs)
    {
        Platform::setSystemClock([byMs] { return QDateTime::currentMSecsSinceEpoch() + byMs; });
    }
    ~ClockShift() { Platform::setSystemClock({}); }
};

} // namespace

class TestGSMService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void normalStart_registersTakesNetworkTimeAndRunsTurns();
    void nodeNeverAppears_powerOffPauseAndRetry();
    void noOkToInit_cycleEndsAtFirstStep();
    void registrationLost_offlineRestartAndClearState();
    void turnResults_scheduleAndErrorCount_data();
    void turnResults_scheduleAndErrorCount();
    void turnErrors_restartTheModem_data();
    void turnErrors_restartTheModem();
    void activationRefused_retriedAfterItsDelay();
    void gpsSetupRefused_cycleGoesOnRetriedAfterInterval_data();
    void gpsSetupRefused_cycleGoesOnRetriedAfterInterval();
    void deviceClockJumps_schedulesUnchanged_data();
    void deviceClockJumps_schedulesUnchanged();
    void exitRequested_threadEndsPromptly_data();
    void exitRequested_threadEndsPromptly();
    void idleModem_wokenByRequests_data();
    void idleModem_wokenByRequests();
    void deletedWhileCycleRuns_noAbort();
    void boardType1_moduleCommandsAroundEachCycle();
    void modemType_selectsDriverAndPort_data();
    void modemType_selectsDriverAndPort();
    void apnAndOperator_configuredFromEngine_data();
    void apnAndOperator_configuredFromEngine();
    void badApnOrOperator_backsOffThenCorrectedStartsAtOnce_data();
    void badApnOrOperator_backsOffThenCorrectedStartsAtOnce();
    void gpsFix_changesOnlyCurrentFix_restoredLastFixKept();
    void cellPosition_changesOnlyLastFixAndIsStored();
    void getGSMState_tightLoopWhileRegistrationToggles();
    void postHttp_throughBridge_data();
    void postHttp_throughBridge();
    void endToEnd_networkTimeThroughEngineMovesClock();
};

void TestGSMService::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
}

void TestGSMService::init()
{
    Platform::setSystemClock({});
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = 0;
    UTC::clearRfHook();
}

void TestGSMService::normalStart_registersTakesNetworkTimeAndRunsTurns()
{
    ModemRig rig;
    QVERIFY(!rig.service.isRunning());
    QCOMPARE(rig.service.getGSMState().flags, 0u);
    const qint64 startedAt = QDateTime::currentMSecsSinceEpoch();
    rig.service.start();
    QVERIFY(rig.service.isRunning()); // the shutdown sequence waits on the real state

    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.smsCalls() >= 2 && rig.engine.gprsCalls() >= 2, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.times().isEmpty(), kWaitMs);
    QCOMPARE(rig.db.root().gpio(kGpioModem), 1);
    QCOMPARE(rig.peer.powerOnCount(), 1);

    // Network time reached the engine as source 1 (the peer keeps the host's clock).
    const QPair<qint64, int> first = rig.engine.times().first();
    QCOMPARE(first.second, 1);
    // The host's time while the service ran (whole seconds on the wire).
    QVERIFY2(first.first >= startedAt - 2000 && first.first <= QDateTime::currentMSecsSinceEpoch() + 2000,
             qPrintable(QString::number(first.first - startedAt)));

    // In this order: power on, the node, the port, the settle, echo off and
    // the family's set-up, registration, the data context and then the clock.
    const int on = rig.line(QStringLiteral("Gsm power on..."));
    const int open = rig.line(openPortLine(QLatin1String(kUbloxNode)), on);
    const int echo = rig.line(QStringLiteral("Gsm echo off!"), open);
    const int state = rig.line(QStringLiteral("gsm state:"), echo);
    const int gprs = rig.line(QStringLiteral("GSM::openGPRS OK!"), state);
    QVERIFY(on >= 0 && open > on && echo > open && state > echo && gprs > state);
    const QList<QByteArray> commands = rig.peer.commands();
    QCOMPARE(commands.value(0).trimmed(), QByteArray("ATE0"));
    QCOMPARE(commands.value(1).trimmed(), QByteArray("AT+UGPRF=0"));
    QVERIFY(commands.indexOf("AT+CREG?") > 1);
    QVERIFY(commands.indexOf("AT+CCLK?") > commands.indexOf("AT+UPSDA=0,3"));

    const GsmState s = rig.service.getGSMState();
    QCOMPARE(s.flags & 0x87Du, 0x87Du); // initialised, registered, APN, data, clock, location service
    QCOMPARE(s.csq, 20);
    QCOMPARE(s.lac, QByteArray::fromHex("1A2B"));
    QVERIFY(!rig.logged(QStringLiteral("VexException")));

    QVERIFY(rig.stop());
    QVERIFY(rig.logged(QStringLiteral("GSMService Exit!")));
    QCOMPARE(rig.db.root().gpio(kGpioModem), 0);
    QCOMPARE(rig.service.getGSMState().flags, 0u);
}

void TestGSMService::nodeNeverAppears_powerOffPauseAndRetry()
{
    RigOptions options;
    options.linkPeer = false; // the peer still follows the pin: it counts power-ons
    ModemRig rig(options);
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.peer.powerOnCount() >= 2, kWaitMs);

    const int missing = rig.line(QStringLiteral("Error:010C,Message:GSM not exists!"));
    const int caught = rig.line(QStringLiteral("GSMService::run VexException!"), missing);
    const int off = rig.line(QStringLiteral("Gsm shutdown ..."), caught);
    const int onAgain = rig.line(QStringLiteral("Gsm power on..."), off);
    QVERIFY(missing >= 0 && caught > missing && off > caught && onAgain > off);
    QCOMPARE(rig.service.getGSMState().flags, 0u);
}

void TestGSMService::noOkToInit_cycleEndsAtFirstStep()
{
    ModemRig rig;
    rig.peer.addFault(ModemFault::Silence, "ATE0");
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.peer.powerOnCount() >= 2 && rig.commands("ATE0") >= 2, kWaitMs);

    const int failed = rig.line(QStringLiteral("GSMService::doEvents VexException!"));
    const int closed = rig.line(QStringLiteral("GSM close port!"), failed);
    const int off = rig.line(QStringLiteral("Gsm shutdown ..."), closed);
    QVERIFY(failed >= 0 && closed > failed && off > closed);
    // Nothing after the first step's echo off: no set-up, no registration.
    QCOMPARE(rig.commands("AT+UGPRF"), 0);
    QCOMPARE(rig.commands("AT+CREG"), 0);
    QCOMPARE(rig.engine.smsCalls(), 0);
}

void TestGSMService::registrationLost_offlineRestartAndClearState()
{
    ModemRig rig;
    GsmTiming timing = fastTiming();
    timing.cyclePauseMs = 1000; // room to look at the state between the cycles
    rig.service.setTiming(timing);
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.smsCalls() >= 1, kWaitMs);
    QCOMPARE(rig.service.getGSMState().flags & 0x060u, 0x060u);

    QElapsedTimer lost;
    lost.start();
    rig.peer.update([](ModemState &s) { s.registration = 0; });
    QVERIFY(QTest::qWaitFor([&] { return rig.logged(QStringLiteral("GSM close port!")); }, kWaitMs));
    // Only past the limit (60 s scaled), and then at once.
    QVERIFY2(lost.elapsed() >= timing.offlineLimitMs, qPrintable(QString::number(lost.elapsed())));
    QVERIFY(rig.logged(QStringLiteral("Message:GSM offline!")));
    QVERIFY(rig.logged(QStringLiteral("GSMService::doEvents VexException!")));

    // Between the cycles every flag is clear.
    QCOMPARE(rig.peer.powerOnCount(), 1);
    const GsmState between = rig.service.getGSMState();
    QCOMPARE(between.flags, 0u);
    QCOMPARE(between.csq, 0);
    QVERIFY(between.lac.isEmpty() && between.cellId.isEmpty());

    rig.peer.update([](ModemState &s) { s.registration = 1; });
    QTRY_VERIFY_WITH_TIMEOUT(rig.peer.powerOnCount() == 2 && rig.count(QStringLiteral("GSM::openGPRS OK!")) >= 2, kWaitMs);
}

void TestGSMService::turnResults_scheduleAndErrorCount_data()
{
    QTest::addColumn<bool>("smsTurn");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("delayMs");  // the next call, after the result, on the scaled record
    QTest::addColumn<bool>("counted");

    const GsmTiming t = fastTiming();
    QTest::newRow("SMS 0: sent, at once") << true << 0 << 0 << false;
    QTest::newRow("SMS 1: nothing") << true << 1 << t.smsIdleMs << false;
    QTest::newRow("SMS 2: send failed") << true << 2 << t.smsRetryMs << false;
    QTest::newRow("SMS -1: error") << true << -1 << t.smsRetryMs << true;
    QTest::newRow("SMS 3: error") << true << 3 << t.smsRetryMs << true;
    QTest::newRow("GPRS 0: sent, at once") << false << 0 << 0 << false;
    QTest::newRow("GPRS 1: nothing") << false << 1 << t.gprsIdleMs << false;
    QTest::newRow("GPRS 2: send failed") << false << 2 << t.gprsRetryMs << false;
    QTest::newRow("GPRS -1: error") << false << -1 << t.gprsRetryMs << true;
    QTest::newRow("GPRS 99: error") << false << 99 << t.gprsRetryMs << true;
}

void TestGSMService::turnResults_scheduleAndErrorCount()
{
    QFETCH(bool, smsTurn);
    QFETCH(int, result);
    QFETCH(int, delayMs);
    QFETCH(bool, counted);

    const GsmTiming t = fastTiming();
    GsmTurn turn = smsTurn ? GsmTurn(t.smsIdleMs, t.smsRetryMs) : GsmTurn(t.gprsIdleMs, t.gprsRetryMs);
    const qint64 now = 1000000;
    QVERIFY(turn.isReady(now));
    // Two errors before: a success clears them, an error adds one, the rest leave them.
    turn.take(-1, now);
    turn.take(-1, now);
    QCOMPARE(turn.take(result, now), counted);
    QCOMPARE(turn.dueMs(), now + delayMs);
    if (delayMs > 0)
        QVERIFY(!turn.isReady(now + delayMs - 1));
    QVERIFY(turn.isReady(now + delayMs));
    QCOMPARE(turn.errors(), result == 0 ? 0 : (counted ? 3 : 2));
}

void TestGSMService::turnErrors_restartTheModem_data()
{
    QTest::addColumn<bool>("smsTurn");
    QTest::addColumn<QList<int>>("script"); // then 1, nothing to send
    QTest::addColumn<QString>("restartLine"); // empty: no restart
    QTest::addColumn<int>("minGapMs");        // between the first two calls

    const GsmTiming t = fastTiming();
    QTest::newRow("fourth SMS error in a row")
        << true << QList<int>{-1, -1, -1, -1} << QStringLiteral("gsmErrorCount,gprsErrorCount:4,0") << t.smsRetryMs;
    QTest::newRow("fourth upload error in a row")
        << false << QList<int>{7, 7, 7, 7} << QStringLiteral("gsmErrorCount,gprsErrorCount:0,4") << t.gprsRetryMs;
    QTest::newRow("SMS errors with a success between")
        << true << QList<int>{-1, -1, -1, 0, -1, -1, -1} << QString() << t.smsRetryMs;
    QTest::newRow("SMS result 2 never counts") << true << QList<int>{2, 2, 2, 2, 2} << QString() << t.smsRetryMs;
}

void TestGSMService::turnErrors_restartTheModem()
{
    QFETCH(bool, smsTurn);
    QFETCH(QList<int>, script);
    QFETCH(QString, restartLine);
    QFETCH(int, minGapMs);

    ModemRig rig;
    rig.engine.set([&](RecordingEngine &e) { (smsTurn ? e.sms : e.gprs).script = script; });
    rig.service.start();
    const auto ticks = [&] { return smsTurn ? rig.engine.smsTicks() : rig.engine.gprsTicks(); };
    if (restartLine.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(ticks().size() > script.size(), kWaitMs);
        QCOMPARE(rig.peer.powerOnCount(), 1);
        QVERIFY(!rig.logged(QStringLiteral("gsmErrorCount")));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(rig.peer.powerOnCount() >= 2, kWaitMs);
        QCOMPARE(rig.count(QStringLiteral("gsmErrorCount,gprsErrorCount:")), 1);
        QVERIFY(rig.logged(restartLine));
        QVERIFY(rig.logged(smsTurn ? QStringLiteral("SMS error count:4") : QStringLiteral("Gprs exception count:4")));
        QVERIFY(rig.line(restartLine) < rig.line(QStringLiteral("GSM close port!")));
        // Every scripted error counted once; the turns of the next cycle find nothing to send.
        QCOMPARE(rig.count(smsTurn ? QStringLiteral("SMS error count:") : QStringLiteral("Gprs exception count:")), 4);
    }
    const QList<qint64> seen = ticks();
    QVERIFY2(seen.at(1) - seen.at(0) >= minGapMs, qPrintable(QString::number(seen.at(1) - seen.at(0))));
}

void TestGSMService::activationRefused_retriedAfterItsDelay()
{
    ModemRig rig;
    GsmTiming timing = fastTiming();
    timing.activationRetryMs = 100;
    rig.service.setTiming(timing);
    rig.peer.update([](ModemState &s) { s.activationSucceeds = false; });
    rig.service.start();
    QVERIFY(rig.peer.waitForCommand("AT+UPSDA=0,3", kWaitMs));
    const int windowMs = 600;
    QTest::qWait(windowMs);
    const int attempts = rig.commands("AT+UPSDA=0,3");
    // One at the start of the window, then one per retry delay; at every
    // 10 ms step it would be dozens.
    QVERIFY2(attempts >= 2 && attempts <= windowMs / timing.activationRetryMs + 2, qPrintable(QString::number(attempts)));
    QVERIFY(rig.logged(QStringLiteral("GSM::openGPRS failed!")));
    // No upload turn without the data context; the SMS turn and the cycle go on.
    QCOMPARE(rig.engine.gprsCalls(), 0);
    QVERIFY(rig.engine.smsCalls() >= 1);
    QCOMPARE(rig.peer.powerOnCount(), 1);
}

void TestGSMService::gpsSetupRefused_cycleGoesOnRetriedAfterInterval_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<unsigned int>("settings");
    QTest::addColumn<QString>("node");
    QTest::addColumn<QByteArray>("setupCommand");
    QTest::addColumn<bool>("throws");
    QTest::newRow("u-blox: set-up fails quietly")
        << QStringLiteral("ublox") << 0u << QStringLiteral("/dev/ttyUSB1") << QByteArray("AT+UGIND=1") << false;
    QTest::newRow("EC25: set-up throws")
        << QStringLiteral("ec25") << 0x800u << QStringLiteral("/dev/ttyUSB2") << QByteArray("AT+QGPSCFG") << true;
}

void TestGSMService::gpsSetupRefused_cycleGoesOnRetriedAfterInterval()
{
    QFETCH(QString, family);
    QFETCH(unsigned int, settings);
    QFETCH(QString, node);
    QFETCH(QByteArray, setupCommand);
    QFETCH(bool, throws);

    RigOptions options;
    options.family = family;
    options.settings = settings;
    options.node = node;
    ModemRig rig(options);
    rig.peer.addFault(ModemFault::Error, setupCommand);
    rig.service.start();
    QVERIFY(rig.peer.waitForCommand(setupCommand, kWaitMs));
    const int smsBefore = rig.engine.smsCalls();
    const int windowMs = 900;
    QTest::qWait(windowMs);
    const int attempts = rig.commands(setupCommand);
    QVERIFY2(attempts >= 1 && attempts <= windowMs / fastTiming().gpsIntervalMs + 2, qPrintable(QString::number(attempts)));
    QVERIFY(rig.engine.smsCalls() > smsBefore);
    QCOMPARE(rig.peer.powerOnCount(), 1);
    QVERIFY(!rig.logged(QStringLiteral("GSMService::doEvents VexException!")));
    QCOMPARE(rig.logged(QStringLiteral("GSMService::syncGps VexException!")), throws);
}

void TestGSMService::deviceClockJumps_schedulesUnchanged_data()
{
    QTest::addColumn<qint64>("shiftMs");
    QTest::addColumn<bool>("searching");
    QTest::newRow("an hour on, registered") << qint64(3600000) << false;
    QTest::newRow("an hour back, registered") << qint64(-3600000) << false;
    QTest::newRow("an hour on, searching") << qint64(3600000) << true;
    QTest::newRow("an hour back, searching") << qint64(-3600000) << true;
}

void TestGSMService::deviceClockJumps_schedulesUnchanged()
{
    QFETCH(qint64, shiftMs);
    QFETCH(bool, searching);

    ModemRig rig;
    GsmTiming timing = fastTiming();
    timing.offlineLimitMs = 3000; // a busy host must not make the short search look long
    rig.service.setTiming(timing);
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.smsCalls() >= 2, kWaitMs);
    if (searching) {
        rig.peer.update([](ModemState &s) { s.registration = 2; });
        QTRY_VERIFY_WITH_TIMEOUT(!(rig.service.getGSMState().flags & 0x040), kWaitMs);
    }
    ClockShift shift(shiftMs);
    const int creg = rig.commands("AT+CREG?");
    QTRY_VERIFY_WITH_TIMEOUT(rig.commands("AT+CREG?") >= creg + (searching ? 3 : 0), kWaitMs);
    if (searching)
        rig.peer.update([](ModemState &s) { s.registration = 1; });
    const int sms = rig.engine.smsCalls();
    const int gprs = rig.engine.gprsCalls();
    // The turns go on at their pace: an hour's stall would show here.
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.smsCalls() >= sms + 3 && rig.engine.gprsCalls() >= gprs + 3, kWaitMs);
    QCOMPARE(rig.peer.powerOnCount(), 1);
    QVERIFY(!rig.logged(QStringLiteral("GSM offline!")));
    const QList<qint64> ticks = rig.engine.smsTicks();
    for (int i = sms + 1; i < ticks.size(); ++i)
        QVERIFY(ticks.at(i) - ticks.at(i - 1) >= timing.smsIdleMs);
}

void TestGSMService::exitRequested_threadEndsPromptly_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("node wait") << QStringLiteral("node wait");
    QTest::newRow("settle") << QStringLiteral("settle");
    QTest::newRow("AT wait") << QStringLiteral("AT wait");
    QTest::newRow("pause") << QStringLiteral("pause");
    QTest::newRow("SMS prompt") << QStringLiteral("SMS prompt");
}

void TestGSMService::exitRequested_threadEndsPromptly()
{
    QFETCH(QString, where);

    RigOptions options;
    options.linkPeer = where != QLatin1String("node wait") && where != QLatin1String("pause");
    ModemRig rig(options);
    // The wait in question at its production length.
    GsmTiming timing = fastTiming();
    if (where == QLatin1String("node wait"))
        timing.nodeWaitMs = GsmTiming().nodeWaitMs;
    else if (where == QLatin1String("settle"))
        timing.settleMs = GsmTiming().settleMs;
    else if (where == QLatin1String("pause"))
        timing.cyclePauseMs = GsmTiming().cyclePauseMs;
    rig.service.setTiming(timing);
    if (where == QLatin1String("AT wait")) {
        rig.peer.addFault(ModemFault::Silence, "ATE0");
        rig.service.setModemClock(nullptr); // the driver's 4 s answer wait, unscaled
    }
    if (where == QLatin1String("SMS prompt")) {
        // The modem never gives the text prompt; the driver's 2 s wait for
        // it runs unscaled.
        rig.peer.addFault(ModemFault::NoPrompt, "AT+CMGS");
        rig.service.setModemClock(nullptr);
        rig.engine.set([](RecordingEngine &e) {
            e.sms.action = [](GSMService *service) {
                return service->getGsmModule()->sendTXTSms("+4911", "text") ? 0 : 2;
            };
        });
    }
    rig.service.start();

    if (where == QLatin1String("node wait"))
        QTRY_VERIFY_WITH_TIMEOUT(rig.logged(QStringLiteral("Gsm power on...")), kWaitMs);
    else if (where == QLatin1String("settle"))
        QTRY_VERIFY_WITH_TIMEOUT(rig.logged(QStringLiteral("Gsm open port")), kWaitMs);
    else if (where == QLatin1String("AT wait"))
        QVERIFY(rig.peer.waitForCommand("ATE0", kWaitMs));
    else if (where == QLatin1String("SMS prompt"))
        QVERIFY(rig.peer.waitForCommand("AT+CMGS", kWaitMs));
    else
        QTRY_VERIFY_WITH_TIMEOUT(rig.logged(QStringLiteral("Gsm shutdown ...")), kWaitMs);

    rig.service.requestExit();
    QVERIFY(rig.service.wait(kExitBeforeWaitEndsMs));
    QVERIFY(rig.logged(QStringLiteral("GSMService Exit!")));
    QCOMPARE(rig.db.root().gpio(kGpioModem), 0);
    QCOMPARE(rig.count(QStringLiteral("Gsm power on...")), 1);
    if (where == QLatin1String("AT wait") || where == QLatin1String("SMS prompt"))
        QVERIFY(rig.logged(QStringLiteral("Message:GSM exit!")));
}

void TestGSMService::idleModem_wokenByRequests_data()
{
    QTest::addColumn<QString>("request");
    QTest::newRow("upload queued") << QStringLiteral("upload");
    QTest::newRow("position asked") << QStringLiteral("position");
    QTest::newRow("exit") << QStringLiteral("exit");
}

// Registered, connected and with every job an hour away, the modem thread
// sleeps; a request from another thread must end that sleep, or it would
// wait out the hour and fail here.
void TestGSMService::idleModem_wokenByRequests()
{
    QFETCH(QString, request);
    constexpr int kHourMs = 3600 * 1000;
    ModemRig rig;
    GsmTiming timing = fastTiming();
    for (int *ms : {&timing.regIntervalMs, &timing.netTimeIntervalMs, &timing.cellTimeRetryMs,
                    &timing.netTimeRetryMs, &timing.gpsIntervalMs, &timing.smsIdleMs, &timing.smsRetryMs,
                    &timing.gprsIdleMs, &timing.gprsRetryMs, &timing.activationRetryMs, &timing.watchdogMs})
        *ms = kHourMs;
    rig.service.setTiming(timing);
    rig.service.start();
    // The first upload turn has run and its next one is scheduled, and the
    // network time was read: nothing is due for an hour.
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.gprsCalls() == 1 && !rig.service.isGprsTickReady()
                                 && rig.commands("AT+CCLK") == 1,
                             kWaitMs);

    if (request == QLatin1String("upload")) {
        rig.service.setGprsInterval(1);
        QTRY_COMPARE_WITH_TIMEOUT(rig.engine.gprsCalls(), 2, kWaitMs);
    } else if (request == QLatin1String("position")) {
        // Asked again while waiting: a request made while the step that read
        // the time was still finishing is overwritten by that step.
        QTRY_VERIFY_WITH_TIMEOUT((rig.service.requestLocation(), rig.commands("AT+CCLK") > 1), kWaitMs);
    } else {
        rig.service.requestExit();
        QVERIFY(rig.service.wait(kWaitMs));
        QVERIFY(rig.logged(QStringLiteral("GSMService Exit!")));
    }
    QCOMPARE(rig.engine.smsCalls(), 1);
}

void TestGSMService::deletedWhileCycleRuns_noAbort()
{
    ModemRig rig;
    auto service = std::make_unique<GSMService>(&rig.engine);
    service->setTiming(fastTiming());
    service->setModemClock(&rig.modemClock);
    service->start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.smsCalls() >= 1, kWaitMs);
    service.reset(); // requests the exit and waits: Qt would abort on a running thread
    QVERIFY(rig.logged(QStringLiteral("GSMService Exit!")));
    QCOMPARE(rig.db.root().gpio(kGpioModem), 0);
}

void TestGSMService::boardType1_moduleCommandsAroundEachCycle()
{
    RigOptions options;
    options.board = 1;
    options.linkPeer = false;
    ModemRig rig(options);
    QCOMPARE(HardwareControl::OSTYPE, 1);
    rig.db.root().clearBoardCommands();
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.count(QStringLiteral("Gsm power on...")) >= 2, kWaitMs);
    QVERIFY(rig.stop());

    QStringList modem;
    for (const QString &c : rig.db.root().boardCommands()) {
        if (c.startsWith(QLatin1String("insmod")) || c.startsWith(QLatin1String("rmmod")) || c.contains(QLatin1String("0xc0044712")))
            modem << c;
    }
    const QString insmod = QStringLiteral("insmod /lib/modules/2.6.32/ehci-hcd.ko");
    const QString rmmod = QStringLiteral("rmmod ehci_hcd");
    const QString on = QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044712 1");
    const QString off = QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044712 0");
    QCOMPARE(modem.mid(0, 6), (QStringList{insmod, on, rmmod, off, insmod, on}));
    // The exit switches the modem off again.
    QCOMPARE(modem.mid(modem.size() - 2), (QStringList{rmmod, off}));
}

void TestGSMService::modemType_selectsDriverAndPort_data()
{
    QTest::addColumn<unsigned int>("settings");
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("node");
    QTest::newRow("0x800: EC25") << 0x801u << QStringLiteral("ec25") << QStringLiteral("/dev/ttyUSB2");
    QTest::newRow("0x1000: Telit") << 0x1000u << QStringLiteral("telit") << QStringLiteral("/dev/ttyUSB4");
    QTest::newRow("0x1800: u-blox") << 0x1800u << QStringLiteral("ublox") << QStringLiteral("/dev/ttyUSB1");
    QTest::newRow("no type bits: u-blox") << 0u << QStringLiteral("ublox") << QStringLiteral("/dev/ttyUSB1");
}

void TestGSMService::modemType_selectsDriverAndPort()
{
    QFETCH(unsigned int, settings);
    QFETCH(QString, family);
    QFETCH(QString, node);

    RigOptions options;
    options.family = family;
    options.settings = settings;
    options.node = node;
    ModemRig rig(options);
    // A u-blox modem on its node, always on: another family's driver must
    // never speak to it.
    ModemPeer decoy(QStringLiteral("ublox"));
    const bool withDecoy = node != QLatin1String(kUbloxNode);
    if (withDecoy) {
        QVERIFY(decoy.linkAt(rig.db.root().path(QLatin1String(kUbloxNode))));
        decoy.start();
    }
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.smsCalls() >= 1, kWaitMs);
    QVERIFY(rig.logged(openPortLine(node)));
    QCOMPARE(rig.service.getGSMState().flags & 0x070u, 0x070u);
    QVERIFY(rig.stop());
    QVERIFY(decoy.commands().isEmpty());
}

void TestGSMService::apnAndOperator_configuredFromEngine_data()
{
    QTest::addColumn<QString>("apn");
    QTest::addColumn<QString>("net");
    QTest::addColumn<QList<QByteArray>>("expected"); // in this order
    QTest::addColumn<QList<QByteArray>>("absent");   // prefixes never sent

    const QByteArray user = "AT+UPSD=0,2";
    const QByteArray cops = "AT+COPS";
    QTest::newRow("name, user and password")
        << QStringLiteral("internet,user1,pw1") << QString()
        << QList<QByteArray>{"AT+UPSD=0,1,\"internet\"", "AT+UPSD=0,2,\"user1\"", "AT+UPSD=0,3,\"pw1\"", "AT+UPSDA=0,3"}
        << QList<QByteArray>{cops};
    QTest::newRow("two parts: one name")
        << QStringLiteral("internet,user1") << QString()
        << QList<QByteArray>{"AT+UPSD=0,1,\"internet,user1\"", "AT+UPSDA=0,3"} << QList<QByteArray>{user, cops};
    QTest::newRow("four parts: the first three")
        << QStringLiteral("web,u,p,extra") << QString()
        << QList<QByteArray>{"AT+UPSD=0,1,\"web\"", "AT+UPSD=0,2,\"u\"", "AT+UPSD=0,3,\"p\""} << QList<QByteArray>{cops};
    QTest::newRow("empty") << QString() << QString() << QList<QByteArray>{"AT+UPSD=0,1,\"\"", "AT+UPSDA=0,3"}
                           << QList<QByteArray>{user, cops};
    QTest::newRow("operator code: manual selection")
        << QStringLiteral("internet") << QStringLiteral("46000")
        << QList<QByteArray>{"AT+UPSD=0,1,\"internet\"", "AT+COPS=4,2,\"46000\"", "AT+UPSDA=0,3"} << QList<QByteArray>{user};
}

void TestGSMService::apnAndOperator_configuredFromEngine()
{
    QFETCH(QString, apn);
    QFETCH(QString, net);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(QList<QByteArray>, absent);

    ModemRig rig;
    rig.engine.set([&](RecordingEngine &e) {
        e.apn = apn;
        e.net = net;
    });
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.gprsCalls() >= 1, kWaitMs);
    QVERIFY(rig.stop());
    QList<QByteArray> sent;
    for (const QByteArray &c : rig.peer.commands())
        sent << c.trimmed();
    int at = -1;
    for (const QByteArray &command : expected) {
        const int found = int(sent.indexOf(command));
        QVERIFY2(found > at, command.constData());
        at = found;
    }
    for (const QByteArray &prefix : absent)
        QCOMPARE(rig.commands(prefix), 0);
    QVERIFY(rig.logged(QStringLiteral("APN:") + apn));
}

void TestGSMService::badApnOrOperator_backsOffThenCorrectedStartsAtOnce_data()
{
    QTest::addColumn<QString>("apn");
    QTest::addColumn<QString>("net");
    QTest::addColumn<QByteArray>("refusedCommand"); // the modem answers ERROR; empty: none
    QTest::addColumn<QByteArray>("neverSent");      // stored values that must not reach the modem
    QTest::newRow("APN the modem refuses")
        << QStringLiteral("bad.apn") << QString() << QByteArray("AT+UPSD=0,1") << QByteArray();
    QTest::newRow("operator the modem refuses")
        << QStringLiteral("internet") << QStringLiteral("99999") << QByteArray("AT+COPS=4") << QByteArray();
    QTest::newRow("stored APN with a quote")
        << QStringLiteral("inter\"net") << QString() << QByteArray() << QByteArray("AT+UPSD=0,1");
    QTest::newRow("stored APN of 200 characters")
        << QString(200, QLatin1Char('a')) << QString() << QByteArray() << QByteArray("AT+UPSD=0,1");
    QTest::newRow("stored operator with a comma")
        << QStringLiteral("internet") << QStringLiteral("262,01") << QByteArray() << QByteArray("AT+COPS=4");
}

// A start that fails on a setting fails again at once: after three in a
// row the pause before the next start doubles (logged once per change, the
// modem shown as failed), so the modem is not powered up and down for ever;
// a corrected setting starts the modem at once and the upload turn runs.
void TestGSMService::badApnOrOperator_backsOffThenCorrectedStartsAtOnce()
{
    QFETCH(QString, apn);
    QFETCH(QString, net);
    QFETCH(QByteArray, refusedCommand);
    QFETCH(QByteArray, neverSent);
    ModemRig rig;
    rig.engine.set([&](RecordingEngine &e) {
        e.apn = apn;
        e.net = net;
    });
    if (!refusedCommand.isEmpty())
        rig.peer.addFault(ModemFault::Error, refusedCommand);
    QElapsedTimer elapsed;
    elapsed.start();
    rig.service.start();
    // Pauses after each failed start: 1, 1, 2, 4 and 8 cycle pauses (100 ms
    // each at this scale), each change logged once.
    const QString fifth = QStringLiteral("5 failed starts in a row, next start in 800 ms");
    QTRY_VERIFY_WITH_TIMEOUT(rig.logged(fifth), kWaitMs);
    QVERIFY(elapsed.elapsed() >= 100 + 100 + 200 + 400);
    QCOMPARE(rig.peer.powerOnCount(), 5);
    QVERIFY(rig.service.isFailed());
    QCOMPARE(rig.count(fifth), 1);
    QCOMPARE(rig.count(QStringLiteral("next start in 100 ms")), 0); // the usual pause
    QCOMPARE(rig.count(QStringLiteral("3 failed starts in a row, next start in 200 ms")), 1);
    QCOMPARE(rig.count(QStringLiteral("next start in 400 ms")), 1);
    QCOMPARE(rig.engine.gprsCalls(), 0);
    if (!neverSent.isEmpty())
        QCOMPARE(rig.commands(neverSent), 0);

    rig.engine.set([](RecordingEngine &e) {
        e.apn = QStringLiteral("internet");
        e.net = QString();
    });
    rig.peer.clearFaults();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.gprsCalls() >= 1, kWaitMs);
    // The 800 ms pause was cut short: the next start came from the change.
    const int changed = rig.line(QStringLiteral("APN or operator changed, starting now"));
    QVERIFY(changed > rig.line(fifth));
    QVERIFY(rig.line(QStringLiteral("Gsm power on..."), changed) > changed);
    QCOMPARE(rig.peer.powerOnCount(), 6);
    QVERIFY(!rig.service.isFailed());
}

void TestGSMService::gpsFix_changesOnlyCurrentFix_restoredLastFixKept()
{
    ModemRig rig;
    // The last cell position of an earlier run, ten minutes old: still valid.
    const qint64 stored = QDateTime::currentMSecsSinceEpoch() - 600000;
    ServiceFactory::setParamInt64(QStringLiteral("gsmLocTick"), stored);
    ServiceFactory::setParamInt32(QStringLiteral("gsmLon"), 111);
    ServiceFactory::setParamInt64(QStringLiteral("gsmLan"), 222);
    rig.peer.update([](ModemState &s) {
        s.gpsSentence = NmeaBuilder::rmc(QDateTime::currentDateTimeUtc(), 45.5, 13.75);
        s.cellLocation = "13/04/2021,09:54:51.000,45.7140971,13.7409172,266,17";
    });
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.service.getCurrentGPS().time > 0, kWaitMs);

    const LocationInfo fix = rig.service.getCurrentGPS();
    QCOMPARE(fix.la, 45 * 3600000 + 30 * 60000);
    QCOMPARE(fix.lo, 13 * 3600000 + 45 * 60000);
    QVERIFY(fix.isOnline());
    // The last fix is the one restored at start, untouched.
    QCOMPARE(fix.validTime, stored);
    QCOMPARE(fix.validLo, 111);
    QCOMPARE(fix.validLa, 222);
    QCOMPARE(rig.commands("AT+ULOC"), 0);
}

void TestGSMService::cellPosition_changesOnlyLastFixAndIsStored()
{
    ModemRig rig;
    rig.peer.update([](ModemState &s) {
        s.cellLocation = "13/04/2021,09:54:51.000,45.7140971,13.7409172,266,17";
    });
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.service.getCurrentGPS().validTime > 0, kWaitMs);

    const LocationInfo fix = rig.service.getCurrentGPS();
    QCOMPARE(fix.time, qint64(0)); // no current fix
    QCOMPARE(fix.validLo, 49467300);
    QCOMPARE(fix.validLa, 164570752);
    QVERIFY(fix.validTime >= before);
    QTRY_COMPARE_WITH_TIMEOUT(ServiceFactory::getParamInt64(QStringLiteral("gsmLocTick"), 0), fix.validTime, kWaitMs);
    // Three parameters written one after the other by the modem thread.
    QTRY_COMPARE_WITH_TIMEOUT(ServiceFactory::getParamInt32(QStringLiteral("gsmLon"), 0), 49467300, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(ServiceFactory::getParamInt64(QStringLiteral("gsmLan"), 0), qint64(164570752), kWaitMs);
    // While that fix is valid the service is not asked again.
    QTest::qWait(3 * fastTiming().gpsIntervalMs / 2);
    QCOMPARE(rig.commands("AT+ULOC"), 1);
}

void TestGSMService::getGSMState_tightLoopWhileRegistrationToggles()
{
    ModemRig rig;
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.smsCalls() >= 1, kWaitMs);

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> registeredSeen{0};
    std::thread reader([&] {
        while (!done) {
            const GsmState s = rig.service.getGSMState();
            if ((s.flags & 0x060) == 0x060 && s.lac.size() == 2)
                ++registeredSeen;
            ++reads;
        }
    });
    for (int i = 0; i < 40; ++i) {
        rig.peer.update([i](ModemState &s) {
            s.registration = (i % 2) ? 2 : 5;
            s.lac = (i % 3) ? QByteArray("1A2B") : QByteArray("00FF");
        });
        QTest::qWait(15);
    }
    done = true;
    reader.join();
    QVERIFY(reads > 1000);
    QVERIFY(registeredSeen > 0);
    QCOMPARE(rig.peer.powerOnCount(), 1);
}

void TestGSMService::postHttp_throughBridge_data()
{
    QTest::addColumn<bool>("answers");
    QTest::newRow("the endpoint answers") << true;
    QTest::newRow("no answer: 4097") << false;
}

void TestGSMService::postHttp_throughBridge()
{
    QFETCH(bool, answers);

    ModemRig rig;
    HttpEndpoint endpoint;
    QVERIFY(endpoint.begin());
    endpoint.setReply(answers ? QList<QByteArray>{HttpEndpoint::okReply(kReplyBody)} : QList<QByteArray>());
    rig.peer.setEndpoint(endpoint.port());

    std::atomic<bool> done{false};
    QByteArray body;
    int code = 0;
    rig.engine.set([&](RecordingEngine &e) {
        e.gprs.action = [&](GSMService *service) {
            if (done)
                return 1;
            GsmModule *modem = service->getGsmModule();
            if (!modem || !modem->openSocket("cloud.test:9080"))
                return 2;
            try {
                body = service->postHttp("{\"id\":1,\"method\":\"sendState4\"}");
            } catch (const VexException &error) {
                code = error.getErrorCode();
            }
            modem->closeSocket();
            done = true;
            return 0;
        };
    });
    rig.service.start();
    QTRY_VERIFY_WITH_TIMEOUT(done, kWaitMs);
    QVERIFY(rig.stop());

    QCOMPARE(body, answers ? kReplyBody : QByteArray());
    QCOMPARE(code, answers ? 0 : 4097);
    const QList<QByteArray> requests = endpoint.requests();
    QCOMPARE(requests.size(), 1);
    QVERIFY(requests.at(0).startsWith("POST /rpc HTTP/1.1\r\n"));
    QVERIFY(requests.at(0).contains("\r\nHost:cloud.test:9080\r\n"));
    QVERIFY(requests.at(0).contains("application/json-rpc"));
    QVERIFY(requests.at(0).endsWith("{\"id\":1,\"method\":\"sendState4\"}"));
}

void TestGSMService::endToEnd_networkTimeThroughEngineMovesClock()
{
    ModemRig rig;
    // The device clock runs 5 s behind the network's (the peer keeps the host's).
    const qint64 behindMs = 5000;
    ClockShift shift(-behindMs);
    PigeonBo engine;
    engine.start();
    GSMService service(&engine);
    service.setTiming(fastTiming());
    service.setModemClock(&rig.modemClock);
    service.start();

    QTRY_VERIFY_WITH_TIMEOUT(ServiceFactory::getParamInt64(QStringLiteral("gsm_verify_time"), 0) != 0, kWaitMs);
    // The modem's clock has whole seconds (and half a second added).
    QVERIFY2(qAbs(UTC::_timeBase.load() - behindMs) <= 1500, qPrintable(QString::number(UTC::_timeBase.load())));
    QVERIFY(engine.getTimeMode() & 0x01);
    const qint64 verified = ServiceFactory::getParamInt64(QStringLiteral("gsm_verify_time"), 0);
    QVERIFY(qAbs(verified - UTC::now().value()) < 5000);
    const QList<QVariantList> entries = rig.db.rows(QStringLiteral("select LogInfo from Log where LogInfo like '%\"from\":\"GSM\"%'"));
    QCOMPARE(entries.size(), 1);
    QVERIFY(entries.at(0).at(0).toString().contains(QStringLiteral("\"newTime\":") + QString::number(verified)));
    service.requestExit();
    QVERIFY(service.wait(kWaitMs));
}

QTEST_GUILESS_MAIN(TestGSMService)
#include "tst_gsmservice.moc"
