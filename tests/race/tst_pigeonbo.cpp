#include "core/locationinfo.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"

#include "innermodulepeer.h"
#include "messagecapture.h"
#include "storagefixture.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace {
constexpr int kGpioMains = 51;
constexpr int kTickMs = 50;
constexpr int kWaitMs = 10000;
const char kPowerLostRows[] = "select count(*) from Log where LogType=15 and LogInfo='{\"reason\":\"Power Lost\"}'";

// A started engine on a fresh database of a simulated board-2 device, ticked
// by hand: each tick() is 50 ms of engine time.
struct Engine
{
    Engine()
    {
        HardwareControl::init(0);
        db.root().setGpio(kGpioMains, 1);
        bo.start();
    }
    ~Engine() { Storage::destroy(); }

    void tick() { QMetaObject::invokeMethod(&bo, "onTickTime", Qt::DirectConnection); }
    void setMains(bool on) { db.root().setGpio(kGpioMains, on ? 1 : 0); }
    int powerLostRows() const { return db.value(QLatin1String(kPowerLostRows)).toInt(); }

    StorageFixture db;
    PigeonBo bo;
};

// Runs ticks 0..count-1 with mains as mainsAt(tick) says; the tick at which
// an exit was first requested, or -1.
int runTicks(Engine &engine, int count, const std::function<bool(int)> &mainsAt)
{
    const int before = ServiceFactory::exitRequestCount();
    bool mains = true;
    int exitTick = -1;
    for (int n = 0; n < count; ++n) {
        if (mainsAt(n) != mains) {
            mains = mainsAt(n);
            engine.setMains(mains);
        }
        engine.tick();
        if (exitTick < 0 && ServiceFactory::exitRequestCount() != before)
            exitTick = n;
    }
    return exitTick;
}
} // namespace

// The race engine object: its power watch, ring hold, life cycle, caches and
// getters, driven tick by tick on a simulated device and a temporary database.
class TestPigeonBo : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void powerWatch_mainsPresent_neverExits();
    void powerWatch_cutForGood_exitsOnceWithinWindow_data();
    void powerWatch_cutForGood_exitsOnceWithinWindow();
    void powerWatch_gaps_noExit_data();
    void powerWatch_gaps_noExit();
    void powerWatch_failingLogWrite_stillExitsOnce();
    void start_databaseFailure_keepsDefaultsAndWatchesPower();

    void lastEring_heldFor5s();
    void isFinished_beforeDuringAfter();
    void tagScaned_fromAnotherThread_reachesSlotQueued();

    void reflushCache_loadsSettings_data();
    void reflushCache_loadsSettings();
    void saveLoftInfo_movesZoneAndKeepsGivenCredentials();
    void saveNotifyPhones_storesAndCaches();
    void hasActiveRace_data();
    void hasActiveRace();
    void getSystemId_askedUntilKnownThenKept();
    void getGpsInfo_withoutModem_noFix();

    void threads_gettersAndSettersWhileTicking();
    void reloadOverlappingSaves_endsWithTheNewestValues();
};

void TestPigeonBo::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
}

void TestPigeonBo::powerWatch_mainsPresent_neverExits()
{
    Engine engine;
    // 60 s of ticks: mains is sampled every 21st and always resets the watch.
    QCOMPARE(runTicks(engine, 1200, [](int) { return true; }), -1);
    QCOMPARE(engine.powerLostRows(), 0);
    QVERIFY(!engine.bo.isFinished());
}

void TestPigeonBo::powerWatch_cutForGood_exitsOnceWithinWindow_data()
{
    QTest::addColumn<int>("cutTick");
    // Every phase of the 21-tick sampling cycle gives a delay of its own.
    for (int cut : {0, 1, 5, 10, 20, 21, 40, 333})
        QTest::addRow("cut at tick %d", cut) << cut;
}

void TestPigeonBo::powerWatch_cutForGood_exitsOnceWithinWindow()
{
    QFETCH(int, cutTick);
    Engine engine;
    const int before = ServiceFactory::exitRequestCount();
    const int exitTick = runTicks(engine, cutTick + 300, [cutTick](int n) { return n < cutTick; });
    QVERIFY(exitTick >= 0);
    // The tick that finds mains gone is the first one after the cut.
    const int delayMs = (exitTick - cutTick + 1) * kTickMs;
    QVERIFY2(delayMs >= 3950 && delayMs <= 5000, qPrintable(QString::number(delayMs)));
    QCOMPARE(ServiceFactory::exitRequestCount() - before, 1);
    QCOMPARE(engine.powerLostRows(), 1);
}

void TestPigeonBo::powerWatch_gaps_noExit_data()
{
    QTest::addColumn<int>("cutTick");
    QTest::addColumn<int>("gapTicks");
    for (int phase : {0, 7, 20}) {
        QTest::addRow("one tick, phase %d", phase) << 100 + phase << 1;
        QTest::addRow("3.9 s, phase %d", phase) << 100 + phase << 78;
    }
    QTest::newRow("3.9 s twice") << 100 << 78;
}

void TestPigeonBo::powerWatch_gaps_noExit()
{
    QFETCH(int, cutTick);
    QFETCH(int, gapTicks);
    Engine engine;
    const bool twice = QByteArray(QTest::currentDataTag()) == "3.9 s twice";
    const int secondCut = cutTick + gapTicks + 30;
    const int exitTick = runTicks(engine, cutTick + 400, [=](int n) {
        const bool first = n >= cutTick && n < cutTick + gapTicks;
        const bool second = twice && n >= secondCut && n < secondCut + gapTicks;
        return !first && !second;
    });
    QCOMPARE(exitTick, -1);
    QCOMPARE(engine.powerLostRows(), 0);
}

void TestPigeonBo::powerWatch_failingLogWrite_stillExitsOnce()
{
    Engine engine;
    MessageCapture capture;
    const int before = ServiceFactory::exitRequestCount();
    engine.setMains(false);
    // The next statement of any thread is the power-off entry.
    Storage::setFault(Storage::Fault::FailStatement, 1);
    const int exitTick = runTicks(engine, 300, [](int) { return false; });
    Storage::setFault(Storage::Fault::None);
    QVERIFY(exitTick >= 0);
    QCOMPARE(ServiceFactory::exitRequestCount() - before, 1);
    QCOMPARE(engine.powerLostRows(), 0);
    QCOMPARE(capture.count(QStringLiteral("PigeonBo::onTickTime VexException!")), 1);
}

void TestPigeonBo::start_databaseFailure_keepsDefaultsAndWatchesPower()
{
    StorageFixture db;
    HardwareControl::init(0);
    db.exec(QStringLiteral("update LOFTINFO set LoftNum='L-7',TimeZone=3600 where id=1"));
    MessageCapture capture;
    PigeonBo bo;
    while (!ServiceFactory::takeNotice().isEmpty()) {
    }
    Storage::setFault(Storage::Fault::FailStatement, 1);
    bo.start();
    Storage::setFault(Storage::Fault::None);
    QVERIFY(capture.contains(QStringLiteral("PigeonBo::start VexException!")));
    // Not only a log line: the window shows it.
    QCOMPARE(ServiceFactory::takeNotice(), QStringLiteral("injected statement failure"));
    QVERIFY(!bo.isFinished());
    QCOMPARE(bo.getLoftNum(), QString()); // the defaults stay

    db.root().setGpio(kGpioMains, 0);
    const int before = ServiceFactory::exitRequestCount();
    for (int n = 0; n < 100; ++n)
        QMetaObject::invokeMethod(&bo, "onTickTime", Qt::DirectConnection);
    QCOMPARE(ServiceFactory::exitRequestCount() - before, 1);
    Storage::destroy();
}

void TestPigeonBo::lastEring_heldFor5s()
{
    Engine engine;
    engine.bo.cacheLastEring(QStringLiteral("0A0B0C0D"));
    for (int n = 0; n < 98; ++n) // 4.9 s
        engine.tick();
    QCOMPARE(engine.bo.getLastEring(), QStringLiteral("0A0B0C0D"));
    for (int n = 0; n < 4; ++n) // 5.1 s
        engine.tick();
    QVERIFY(engine.bo.getLastEring().isNull());

    // A new ring restarts the hold; a reload forgets it.
    engine.bo.cacheLastEring(QStringLiteral("11111111"));
    engine.tick();
    QCOMPARE(engine.bo.getLastEring(), QStringLiteral("11111111"));
    engine.bo.reflushCache();
    QVERIFY(engine.bo.getLastEring().isNull());
}

void TestPigeonBo::isFinished_beforeDuringAfter()
{
    StorageFixture db;
    HardwareControl::init(0);
    MessageCapture capture;
    PigeonBo bo;
    QVERIFY(bo.isFinished());
    bo.start();
    QVERIFY(!bo.isFinished());
    bo.requestExit();
    QVERIFY(!bo.isFinished()); // the next tick stops it
    QMetaObject::invokeMethod(&bo, "onTickTime", Qt::DirectConnection);
    QVERIFY(bo.isFinished());
    QCOMPARE(capture.count(QStringLiteral("PigeonService Exit!")), 1);
    // Readings no longer reach the slot once stopped.
    LFTAG_INFO tag;
    tag.eRing = QStringLiteral("DEADBEEF");
    bo.notifyTagScaned(&tag);
    QCoreApplication::processEvents();
    QVERIFY(!capture.contains(QStringLiteral("onTagScaned")));
    Storage::destroy();
}

void TestPigeonBo::tagScaned_fromAnotherThread_reachesSlotQueued()
{
    Engine engine;
    MessageCapture capture;
    QSignalSpy spy(&engine.bo, &PigeonBo::tagScaned);
    std::unique_ptr<QThread> reader(QThread::create([&engine] {
        LFTAG_INFO tag;
        tag.eRing = QStringLiteral("12345678");
        tag.randNum = 77;
        engine.bo.notifyTagScaned(&tag);
        tag.eRing = QStringLiteral("CHANGED!"); // the engine holds its own copy
    }));
    reader->start();
    QVERIFY(reader->wait(kWaitMs));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().at(0).value<LFTAG_INFO>().eRing, QStringLiteral("12345678"));
    // Queued into this (the engine's) thread: handled only once its loop runs,
    // where the live reading becomes the held ring.
    QVERIFY(engine.bo.getLastEring().isNull());
    QTRY_COMPARE_WITH_TIMEOUT(engine.bo.getLastEring(), QStringLiteral("12345678"), kWaitMs);
}

void TestPigeonBo::reflushCache_loadsSettings_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty language") << QString() << QStringLiteral("EN");
    QTest::newRow("German") << QStringLiteral("DE") << QStringLiteral("DE");
}

void TestPigeonBo::reflushCache_loadsSettings()
{
    QFETCH(QString, language);
    QFETCH(QString, expected);
    Engine engine;
    ServiceFactory::setLang(QStringLiteral("XX"));
    engine.db.exec(QStringLiteral("update LOFTINFO set Language='%1',TimeZone=-18000,HostIp='up.example',"
                                  "HostPath='/rpc',Apn='web',VoiceMode=356,Password='pw' where id=1")
                       .arg(language));
    engine.db.exec(QStringLiteral("update Phone set phonecode='  +4412 ' where id=1"));
    engine.db.exec(QStringLiteral("update Phone set phonecode='   ' where id=2"));
    Storage::instance()->setParam(QStringLiteral("gsmNet"), QStringLiteral("46000"));
    UTC::setTimeZone(0);

    engine.bo.reflushCache();
    QCOMPARE(ServiceFactory::lang(), expected);
    QCOMPARE(UTC::_timezone.load(), -18000);
    QCOMPARE(engine.bo.getTimeZone(), -18000);
    QCOMPARE(engine.bo.getHostIP(), QStringLiteral("up.example"));
    QCOMPARE(engine.bo.getSmdPath(), QStringLiteral("/rpc"));
    QCOMPARE(engine.bo.getApn(), QStringLiteral("web"));
    QCOMPARE(engine.bo.getVoiceMode(), 356);
    QCOMPARE(engine.bo.getPassword(), QStringLiteral("pw"));
    QCOMPARE(engine.bo.getNet(), QStringLiteral("46000"));
    QCOMPARE(engine.bo.getNotifyPhones(), QList<QString>{QStringLiteral("+4412")});
    QCOMPARE(engine.bo.getLoftInfo().language, language.isNull() ? QString() : language);
    UTC::setTimeZone(0);
}

void TestPigeonBo::saveLoftInfo_movesZoneAndKeepsGivenCredentials()
{
    Engine engine;
    UTC::setTimeZone(0);
    LoftInfo info = engine.bo.getLoftInfo();
    info.loftNum = QStringLiteral("NL-2024-1");
    info.password = QStringLiteral("s3cret");
    info.timeZone = 7200;
    info.ownerName = QStringLiteral("O'Brien");
    engine.bo.saveLoftInfo(&info);

    QCOMPARE(UTC::_timezone.load(), 7200);
    QCOMPARE(engine.bo.getLoftNum(), QStringLiteral("NL-2024-1"));
    QCOMPARE(engine.bo.getPassword(), QStringLiteral("s3cret"));
    QCOMPARE(engine.bo.getLoftInfo().ownerName, QStringLiteral("O'Brien"));
    // The stored row keeps its own number and password.
    QCOMPARE(engine.db.value(QStringLiteral("select LoftNum from LOFTINFO where id=1")).toString(), QString());
    QCOMPARE(engine.db.value(QStringLiteral("select TimeZone from LOFTINFO where id=1")).toInt(), 7200);
    QCOMPARE(engine.db.value(QStringLiteral("select OwnerName from LOFTINFO where id=1")).toString(),
             QStringLiteral("O'Brien"));
    UTC::setTimeZone(0);
}

void TestPigeonBo::saveNotifyPhones_storesAndCaches()
{
    Engine engine;
    engine.bo.saveNotifyPhones({QStringLiteral("111"), QStringLiteral("222")});
    QCOMPARE(engine.bo.getNotifyPhones(), (QList<QString>{QStringLiteral("111"), QStringLiteral("222")}));
    QCOMPARE(engine.db.value(QStringLiteral("select count(*) from Phone")).toInt(), 2);
    QCOMPARE(Storage::instance()->queryPhoneCode(), (QList<QString>{QStringLiteral("111"), QStringLiteral("222")}));
    engine.bo.saveNotifyPhones({});
    QVERIFY(engine.bo.getNotifyPhones().isEmpty());
    QCOMPARE(engine.db.value(QStringLiteral("select count(*) from Phone")).toInt(), 0);
}

void TestPigeonBo::hasActiveRace_data()
{
    QTest::addColumn<int>("valid");
    QTest::addColumn<qint64>("markReaderTime");
    QTest::addColumn<bool>("active");
    QTest::newRow("running") << 3 << qint64(0) << true;
    QTest::newRow("new") << 1 << qint64(0) << false;
    QTest::newRow("new, basketing synchronised") << 1 << qint64(1700000000000LL) << true;
    QTest::newRow("stopped") << 4 << qint64(1700000000000LL) << false;
    QTest::newRow("closed and uploaded") << 12 << qint64(1700000000000LL) << false;
}

void TestPigeonBo::hasActiveRace()
{
    QFETCH(int, valid);
    QFETCH(qint64, markReaderTime);
    QFETCH(bool, active);
    Engine engine;
    QVERIFY(!engine.bo.hasActiveRace());
    QVERIFY(engine.db.exec(QStringLiteral("insert into Race(RaceCode,RaceName,Valid,MarkReaderTime,OtherData) "
                                          "values('R1','Race',%1,%2,'{\"nomination\":1}')")
                               .arg(valid)
                               .arg(markReaderTime)));
    QCOMPARE(engine.bo.hasActiveRace(), active);
}

void TestPigeonBo::getSystemId_askedUntilKnownThenKept()
{
    Engine engine;
    QCOMPARE(engine.bo.getSystemId(), QStringLiteral("00000000")); // no reader service

    InnerModulePeer peer;
    peer.linkUnder(engine.db.root().root(), QStringLiteral("/dev/ttyS3"));
    RingFault silent;
    silent.silent = true;
    peer.setFault(silent);
    peer.start();
    RFIDService rfid(QStringLiteral("/dev/ttyS3"), 0x311);
    rfid.setTiming({10, 100});
    ServiceFactory::getInstance()->rfidService = &rfid;
    rfid.start();
    QCOMPARE(engine.bo.getSystemId(), QStringLiteral("00000000")); // module not answering

    peer.setFault(RingFault{});
    QTRY_VERIFY_WITH_TIMEOUT(rfid.isValid(), kWaitMs);
    QCOMPARE(engine.bo.getSystemId(), QStringLiteral("5A0C1B17"));
    ServiceFactory::getInstance()->rfidService = nullptr;
    rfid.requestExit();
    QVERIFY(rfid.wait(kWaitMs));
    QCOMPARE(engine.bo.getSystemId(), QStringLiteral("5A0C1B17")); // kept
}

void TestPigeonBo::getGpsInfo_withoutModem_noFix()
{
    Engine engine;
    LocationInfo info;
    info.lo = 123;
    info.time = 99;
    engine.bo.getGpsInfo(&info);
    QVERIFY(!info.isOnline());
    QVERIFY(!info.isValid());
    QCOMPARE(info.lo, 0);
}

void TestPigeonBo::threads_gettersAndSettersWhileTicking()
{
    Engine engine; // its timer ticks while this thread's loop runs below
    std::atomic<int> finished{0};
    std::atomic<int> dbErrors{0};
    QList<QThread *> workers;
    for (int w = 0; w < 4; ++w) {
        workers << QThread::create([&engine, &finished, &dbErrors, w] {
            for (int i = 0; i < 40; ++i) {
                engine.bo.getLoftInfo();
                engine.bo.getNet();
                engine.bo.getSystemId();
                engine.bo.getLoftTime();
                engine.bo.cacheLastEring(QString::number(i));
                engine.bo.getLastEring();
                engine.bo.cacheChannels({LFCHANNEL_INFO{}});
                engine.bo.getChannels();
                LFTAG_INFO tag;
                engine.bo.notifyTagScaned(&tag);
                try {
                    if (w % 2 == 0) {
                        engine.bo.reflushCache();
                    } else {
                        LoftInfo info = engine.bo.getLoftInfo();
                        info.voiceMode = i;
                        engine.bo.saveLoftInfo(&info);
                    }
                } catch (const VexException &) {
                    ++dbErrors;
                }
            }
            Storage::destroy();
            ++finished;
        });
        workers.last()->start();
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.load(), 4, 60000);
    for (QThread *t : std::as_const(workers)) {
        QVERIFY(t->wait(kWaitMs));
        delete t;
    }
    QCOMPARE(dbErrors.load(), 0);
    QVERIFY(!engine.bo.isFinished());
}

// A reload from the club link that read the row before a screen's save wrote
// it must not publish after that save: whatever the interleaving, the cache
// ends with the row as stored, which is the last save.
void TestPigeonBo::reloadOverlappingSaves_endsWithTheNewestValues()
{
    StorageFixture db;
    HardwareControl::init(0);
    PigeonBo bo;
    constexpr int kSaves = 60;
    std::atomic<bool> saving{true};
    std::atomic<int> errors{0};
    std::unique_ptr<QThread> reloader(QThread::create([&] {
        while (saving) {
            try {
                bo.reflushCache();
            } catch (const VexException &) {
                ++errors;
            }
        }
        Storage::destroy();
    }));
    std::unique_ptr<QThread> saver(QThread::create([&] {
        for (int i = 1; i <= kSaves; ++i) {
            LoftInfo info = bo.getLoftInfo();
            info.hostIp = QStringLiteral("host-%1").arg(i);
            info.apn = QStringLiteral("apn-%1").arg(i);
            try {
                bo.saveLoftInfo(&info);
            } catch (const VexException &) {
                ++errors;
            }
        }
        saving = false;
        Storage::destroy();
    }));
    reloader->start();
    saver->start();
    QVERIFY(saver->wait(60000));
    QVERIFY(reloader->wait(60000));
    QCOMPARE(errors.load(), 0);
    QCOMPARE(bo.getHostIP(), QStringLiteral("host-%1").arg(kSaves));
    QCOMPARE(bo.getApn(), QStringLiteral("apn-%1").arg(kSaves));
    QCOMPARE(db.value(QStringLiteral("select HostIp from LOFTINFO")).toString(), bo.getHostIP());
}

QTEST_GUILESS_MAIN(TestPigeonBo)
#include "tst_pigeonbo.moc"
