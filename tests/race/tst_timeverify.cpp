// The race engine's time mode: network, club and manual times against stored
// parameters, on a temporary database with the system clock held still (and
// moved by hand) and the engine's tick driven directly.
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include "innermodulepeer.h"
#include "storagefixture.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>
#include <limits>

namespace {

constexpr qint64 kNone = std::numeric_limits<qint64>::min(); // a parameter not stored
constexpr qint64 kMinute = 60000;
constexpr qint64 kHour = 3600000;
constexpr int kGpioMains = 51;
constexpr int kGpioRf = 40;
constexpr int kWaitMs = 10000;
// 2024-05-17 12:00:00 UTC: where the held system clock stands.
constexpr qint64 kT = Q_INT64_C(1715947200000);

std::atomic<qint64> heldClock{kT};

// The system clock held still at heldClock, and the device clock at it.
struct HeldClock
{
    HeldClock()
    {
        heldClock = kT;
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        UTC::clearRfHook();
        Platform::setSystemClock([] { return heldClock.load(); });
    }
    ~HeldClock()
    {
        Platform::setSystemClock({});
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
    }
};

// A fresh database on a simulated board-2 device, the held clock, and the
// time parameters as stored before the engine starts.
struct TimeRig
{
    TimeRig()
    {
        HardwareControl::init(0);
        db.root().setGpio(kGpioMains, 1);
    }
    ~TimeRig() { Storage::destroy(); }

    void store(const QString &key, qint64 value)
    {
        if (value != kNone)
            ServiceFactory::setParamInt64(key, value);
    }
    // A stored parameter's text, or kNone when there is none.
    qint64 stored(const QString &key) const
    {
        const QString text = Storage::instance()->getParam(key);
        return text.isEmpty() ? kNone : text.toLongLong();
    }
    void addActiveRace()
    {
        db.exec(QStringLiteral("insert into Race(RaceCode,RaceName,Valid,MarkReaderTime,OtherData) "
                               "values('R7','Race',3,0,'{}')"));
    }
    static void tick(PigeonBo &bo) { QMetaObject::invokeMethod(&bo, "onTickTime", Qt::DirectConnection); }
    QList<QVariantList> timeLogs() const
    {
        return db.rows(QStringLiteral("select LogInfo from Log where LogInfo like '{\"from\":%' order by LogId"));
    }

    HeldClock clock;
    StorageFixture db;
};

qint64 rel(qint64 value)
{
    return value == kNone ? kNone : kT + value;
}

} // namespace

class TestTimeVerify : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void event_data();
    void event();
    void moduleClock_askedOnceAnHourOnlyForClockModule_data();
    void moduleClock_askedOnceAnHourOnlyForClockModule();
    void unlockRacingNetworkTime_storedAgreesWithMemory();
};

void TestTimeVerify::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
}

void TestTimeVerify::event_data()
{
    // Stored before start (kNone: absent), the event, then what follows it.
    // Times are relative to the held clock kT.
    QTest::addColumn<qint64>("mode");
    QTest::addColumn<qint64>("diff");
    QTest::addColumn<qint64>("verified");
    QTest::addColumn<bool>("race");       // an active race at start
    QTest::addColumn<QString>("event");   // start, tick, lock, net, gps, cell, manual, unlock
    QTest::addColumn<qint64>("at");       // the event's time (tick: how far the clock moves first)
    QTest::addColumn<int>("bits");
    QTest::addColumn<qint64>("device");   // device clock after
    QTest::addColumn<qint64>("loft");     // getLoftTime() after
    QTest::addColumn<qint64>("clubDiff"); // UTC::_clubTimeDiff after
    QTest::addColumn<qint64>("modeParam");
    QTest::addColumn<qint64>("diffParam");
    QTest::addColumn<qint64>("verifyParam");
    QTest::addColumn<QString>("from");    // the time-verification entry; empty: none

    const qint64 n = kNone;
    const QString none;
    const QString gsm = QStringLiteral("GSM");
    const QString mark = QStringLiteral("mark:R7");
    const QString manual = QStringLiteral("manual");
    const QString start = QStringLiteral("start");

    // Loading at start.
    QTest::newRow("start: verified 30 min ago")
        << n << n << -30 * kMinute << true << start << 0LL << 1 << 0LL << 0LL << 0LL << n << n << -30 * kMinute << none;
    QTest::newRow("start: verified an hour less 1 ms ago")
        << n << n << -(kHour - 1) << true << start << 0LL << 1 << 0LL << 0LL << 0LL << n << n << -(kHour - 1) << none;
    QTest::newRow("start: verified an hour ago")
        << n << n << -kHour << true << start << 0LL << 0 << 0LL << 0LL << 0LL << n << n << -kHour << none;
    QTest::newRow("start: verification 2 ms in the future")
        << n << n << 2LL << true << start << 0LL << 0 << 0LL << 0LL << 0LL << n << n << 2LL << none;
    QTest::newRow("start: verification this very ms")
        << n << n << 0LL << true << start << 0LL << 0 << 0LL << 0LL << 0LL << n << n << 0LL << none;
    QTest::newRow("start: a stored bit 1 is recomputed")
        << 1LL << n << n << true << start << 0LL << 0 << 0LL << 0LL << 0LL << 1LL << n << n << none;
    QTest::newRow("start: lock with offset kept")
        << 6LL << 7000LL << n << true << start << 0LL << 6 << 0LL << 7000LL << 7000LL << 6LL << 7000LL << n << none;
    QTest::newRow("start: lock by setting kept")
        << 2LL << 0LL << n << true << start << 0LL << 2 << 0LL << 0LL << 0LL << 2LL << 0LL << n << none;
    QTest::newRow("start: no active race unlocks")
        << 6LL << 7000LL << n << false << start << 0LL << 0 << 0LL << 0LL << 0LL << 0LL << 0LL << n << none;
    QTest::newRow("start: offset without lock is dropped and saved")
        << 4LL << 7000LL << n << true << start << 0LL << 0 << 0LL << 0LL << 0LL << 0LL << 0LL << n << none;
    QTest::newRow("start: unreadable mode reads 0")
        << n << n << n << true << QStringLiteral("start-garbled") << 0LL << 0 << 0LL << 0LL << 0LL << 0LL << n << n << none;

    // The hourly lapse of bit 1, in the tick.
    QTest::newRow("tick: 29 min later still verified")
        << n << n << -30 * kMinute << true << QStringLiteral("tick") << 29 * kMinute << 1 << 29 * kMinute
        << 29 * kMinute << 0LL << n << n << -30 * kMinute << none;
    QTest::newRow("tick: 30 min and 1 ms later lapsed")
        << n << n << -30 * kMinute << true << QStringLiteral("tick") << 30 * kMinute + 1 << 0 << 30 * kMinute + 1
        << 30 * kMinute + 1 << 0LL << n << n << -30 * kMinute << none;

    // Basketing.
    const QString lock = QStringLiteral("lock");
    QTest::newRow("lock, verified: clock kept, club time as offset")
        << n << n << -10 * kMinute << true << lock << 7000LL << 7 << 0LL << 7000LL << 7000LL << 7LL << 7000LL
        << -10 * kMinute << mark;
    QTest::newRow("lock, not verified: clock takes the club time")
        << n << n << n << true << lock << 7000LL << 2 << 7000LL << 7000LL << 0LL << 2LL << 0LL << n << mark;
    QTest::newRow("lock, not verified, 300 ms off: within the clock's dead band")
        << n << n << n << true << lock << 300LL << 2 << 0LL << 0LL << 0LL << 2LL << 0LL << n << mark;
    QTest::newRow("lock again over an offset lock, not verified")
        << 6LL << 7000LL << n << true << lock << -4000LL << 2 << -4000LL << -4000LL << 0LL << 2LL << 0LL << n << mark;

    // Network time.
    const QString net = QStringLiteral("net");
    QTest::newRow("net 5 s on while locked by setting: club time goes on")
        << 2LL << 0LL << n << true << net << 5000LL << 7 << 5000LL << 0LL << -5000LL << 7LL << -5000LL << 5000LL << gsm;
    QTest::newRow("net 5 s back while locked by setting")
        << 2LL << 0LL << n << true << net << -5000LL << 7 << -5000LL << 0LL << 5000LL << 7LL << 5000LL << -5000LL << gsm;
    QTest::newRow("net 400 ms while locked by setting: nothing moved, no offset")
        << 2LL << 0LL << n << true << net << 400LL << 3 << 0LL << 0LL << 0LL << 2LL << 0LL << 400LL << none;
    QTest::newRow("net 5 s while the offset is held: club time moves with it")
        << 6LL << 7000LL << n << true << net << 5000LL << 7 << 5000LL << 12000LL << 7000LL << 6LL << 7000LL << 5000LL
        << gsm;
    QTest::newRow("net 2999 ms: applied, not logged")
        << n << n << n << true << net << 2999LL << 1 << 2999LL << 2999LL << 0LL << n << n << 2999LL << none;
    QTest::newRow("net 3000 ms: logged")
        << n << n << n << true << net << 3000LL << 1 << 3000LL << 3000LL << 0LL << n << n << 3000LL << gsm;
    QTest::newRow("net -3000 ms: logged")
        << n << n << n << true << net << -3000LL << 1 << -3000LL << -3000LL << 0LL << n << n << -3000LL << gsm;
    QTest::newRow("GPS time: ignored")
        << n << n << n << true << QStringLiteral("gps") << 5000LL << 0 << 0LL << 0LL << 0LL << n << n << n << none;
    QTest::newRow("cell-location time: as network time")
        << n << n << n << true << QStringLiteral("cell") << 5000LL << 1 << 5000LL << 5000LL << 0LL << n << n << 5000LL
        << gsm;

    // The time screen.
    QTest::newRow("manual with no bit set: clock set and logged")
        << n << n << n << true << manual << 60000LL << 0 << 60000LL << 60000LL << 0LL << n << n << n << QStringLiteral("MANUAL");
    QTest::newRow("manual refused while verified")
        << n << n << -10 * kMinute << true << manual << 60000LL << 1 << 0LL << 0LL << 0LL << n << n << -10 * kMinute << none;
    QTest::newRow("manual refused while locked")
        << 2LL << 0LL << n << true << manual << 60000LL << 2 << 0LL << 0LL << 0LL << 2LL << 0LL << n << none;

    // A race stopped.
    QTest::newRow("unlock an offset lock: back to verified")
        << 6LL << 7000LL << -10 * kMinute << true << QStringLiteral("unlock") << 0LL << 1 << 0LL << 0LL << 0LL << 1LL
        << 0LL << -10 * kMinute << none;
    QTest::newRow("unlock while not locked: nothing saved")
        << n << n << n << true << QStringLiteral("unlock") << 0LL << 0 << 0LL << 0LL << 0LL << n << n << n << none;
}

void TestTimeVerify::event()
{
    QFETCH(qint64, mode);
    QFETCH(qint64, diff);
    QFETCH(qint64, verified);
    QFETCH(bool, race);
    QFETCH(QString, event);
    QFETCH(qint64, at);
    QFETCH(int, bits);
    QFETCH(qint64, device);
    QFETCH(qint64, loft);
    QFETCH(qint64, clubDiff);
    QFETCH(qint64, modeParam);
    QFETCH(qint64, diffParam);
    QFETCH(qint64, verifyParam);
    QFETCH(QString, from);

    TimeRig rig;
    rig.store(QStringLiteral("time_mode"), mode);
    rig.store(QStringLiteral("club_time_diff"), diff);
    rig.store(QStringLiteral("gsm_verify_time"), rel(verified));
    if (event == QLatin1String("start-garbled"))
        Storage::instance()->setParam(QStringLiteral("time_mode"), QStringLiteral("seven"));
    if (race)
        rig.addActiveRace();
    PigeonBo bo;
    bo.start();

    if (event == QLatin1String("tick")) {
        heldClock += at;
        TimeRig::tick(bo);
    } else if (event == QLatin1String("lock")) {
        bo.verifyClubTime(kT + at, QStringLiteral("R7"));
    } else if (event == QLatin1String("net")) {
        bo.onTime(nullptr, kT + at, 1);
    } else if (event == QLatin1String("gps")) {
        bo.onTime(nullptr, kT + at, 2);
    } else if (event == QLatin1String("cell")) {
        bo.onTime(nullptr, kT + at, 3);
    } else if (event == QLatin1String("manual")) {
        bo.verifyTimeManual(kT + at);
    } else if (event == QLatin1String("unlock")) {
        bo.unlockClubTime();
    }

    QCOMPARE(int(bo.getTimeMode()), bits);
    QCOMPARE(UTC::now().value(), kT + device);
    QCOMPARE(bo.getLoftTime(), kT + loft);
    QCOMPARE(UTC::_clubTimeDiff.load(), clubDiff);
    QCOMPARE(rig.stored(QStringLiteral("time_mode")), modeParam);
    QCOMPARE(rig.stored(QStringLiteral("club_time_diff")), diffParam);
    QCOMPARE(rig.stored(QStringLiteral("gsm_verify_time")), rel(verifyParam));

    const QList<QVariantList> logs = rig.timeLogs();
    if (from.isEmpty()) {
        QCOMPARE(logs.size(), 0);
    } else {
        QCOMPARE(logs.size(), 1);
        QCOMPARE(logs.at(0).at(0).toString(), QStringLiteral("{\"from\":\"%1\",\"newTime\":%2,\"oldTime\":%3}")
                                                   .arg(from)
                                                   .arg(kT + at)
                                                   .arg(kT));
    }
}

void TestTimeVerify::moduleClock_askedOnceAnHourOnlyForClockModule_data()
{
    QTest::addColumn<quint16>("type");
    QTest::addColumn<QList<int>>("reads"); // time reads after the start, and after each hour
    QTest::newRow("0x4B31, a module with a clock") << quint16(InnerModulePeer::kTypeClock) << QList<int>{1, 2, 3};
    QTest::newRow("0x4A31, without") << quint16(InnerModulePeer::kTypePlain) << QList<int>{0, 0, 0};
}

void TestTimeVerify::moduleClock_askedOnceAnHourOnlyForClockModule()
{
    QFETCH(quint16, type);
    QFETCH(QList<int>, reads);

    TimeRig rig;
    rig.db.root().setGpio(kGpioRf, 0);
    InnerModulePeer peer;
    peer.setDevType(type);
    QVERIFY(peer.linkUnder(rig.db.root().root(), QStringLiteral("/dev/ttyS3")));
    peer.start();
    RFIDService rfid(QStringLiteral("/dev/ttyS3"), 0x311);
    rfid.setTiming({20, 200});
    rfid.start();
    ServiceFactory::getInstance()->rfidService = &rfid;
    const auto unpublish = qScopeGuard([&] {
        ServiceFactory::getInstance()->rfidService = nullptr;
        rfid.requestExit();
        rfid.wait(kWaitMs);
    });
    QTRY_COMPARE_WITH_TIMEOUT(rfid.getRfDevType(), type, kWaitMs);

    PigeonBo bo;
    bo.start();
    const auto timeReads = [&] { return int(peer.commands(0, 8).size()); };
    for (int hour = 0; hour < reads.size(); ++hour) {
        if (hour > 0)
            heldClock += kHour + 1;
        for (int t = 0; t < 20; ++t)
            TimeRig::tick(bo);
        if (reads.at(hour) > 0)
            QTRY_COMPARE_WITH_TIMEOUT(timeReads(), reads.at(hour), kWaitMs);
        // A few polls more: a second request within the hour would show.
        const auto polls = [&] { return peer.commands(InnerModulePeer::kGroupRace, InnerModulePeer::ExchangeInfo).size(); };
        const qsizetype seen = polls();
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= seen + 3, kWaitMs);
        QCOMPARE(timeReads(), reads.at(hour));
    }
    // 59 minutes on: still within the hour.
    heldClock += 59 * kMinute;
    for (int t = 0; t < 20; ++t)
        TimeRig::tick(bo);
    QCOMPARE(timeReads(), reads.last());
}

void TestTimeVerify::unlockRacingNetworkTime_storedAgreesWithMemory()
{
    TimeRig rig;
    rig.addActiveRace();
    PigeonBo bo;
    bo.start();

    // The modem thread's network time against the GUI thread's unlock, each
    // time from a lock held by setting the clock: both change the mode and
    // save it, in either order.
    QSemaphore go;
    QSemaphore done;
    std::atomic<bool> stop{false};
    QThread *modem = QThread::create([&] {
        while (go.acquire(), !stop) {
            bo.verifyTime(UTC::now().value() + 2000, false);
            done.release();
        }
        Storage::destroy();
    });
    QThread *gui = QThread::create([&] {
        while (go.acquire(), !stop) {
            bo.unlockClubTime();
            done.release();
        }
        Storage::destroy();
    });
    modem->start();
    gui->start();
    const int rounds = 60;
    for (int i = 0; i < rounds; ++i) {
        // An hour on, the verification lapses; a lock now sets the clock.
        heldClock += kHour + 1;
        TimeRig::tick(bo);
        QCOMPARE(bo.getTimeMode() & 0x01, 0);
        bo.lockClubTime(UTC::now().value() + 7000);
        QCOMPARE(int(bo.getTimeMode()), 2);
        go.release(2);
        QVERIFY(done.tryAcquire(2, kWaitMs));
        const int memory = bo.getTimeMode() & 0x06;
        QCOMPARE(int(rig.stored(QStringLiteral("time_mode")) & 0x06), memory);
        QCOMPARE(rig.stored(QStringLiteral("club_time_diff")), UTC::_clubTimeDiff.load());
    }
    stop = true;
    go.release(2);
    QVERIFY(modem->wait(kWaitMs) && gui->wait(kWaitMs));
    delete modem;
    delete gui;

    // A restart loads what memory held.
    const quint8 mode = bo.getTimeMode();
    const qint64 offset = UTC::_clubTimeDiff.load();
    UTC::_clubTimeDiff = 0;
    PigeonBo again;
    again.start();
    QCOMPARE(again.getTimeMode() & 0x06, mode & 0x06);
    QCOMPARE(UTC::_clubTimeDiff.load(), offset);
}

QTEST_GUILESS_MAIN(TestTimeVerify)
#include "tst_timeverify.moc"
