#include "core/utc.h"
#include "device/SoundThread.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"

#include "innermodulepeer.h"
#include "promptqueue.h"
#include "runningengine.h"
#include "storagefixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <algorithm>
#include <numeric>

namespace {
constexpr int kWaitMs = 15000;
constexpr int kStopMs = 5000;
constexpr int kGpioMains = 51;
constexpr int kGpioRf = 40;
constexpr int kRacePigeons = 40;
constexpr int kTrainingPigeons = 8;
constexpr qint64 kResidualMs = 1500; // the club reader ran 1.5 s ahead at basketing
const RFIDService::Timing kFast{20, 200};

QString raceRing(int n)
{
    return QStringLiteral("A%1").arg(n, 7, 10, QLatin1Char('0'));
}

QString trainingRing(int n)
{
    return QStringLiteral("D%1").arg(n, 7, 10, QLatin1Char('0'));
}

const QString kMarkerRing = QStringLiteral("DFFFFFFF");

// The whole road on a simulated device: the module peer on <root>/dev/ttyS3,
// the real polling thread, the real engine in a thread with its own event
// loop, the database (read back here on a connection of the test's own) and
// the prompt queue of a sound thread that never plays.
class Road
{
public:
    Road()
        : rfid(QStringLiteral("/dev/ttyS3"), 0x311)
    {
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        HardwareControl::init(0);
        db.root().setGpio(kGpioMains, 1);
        db.root().setGpio(kGpioRf, 0);
        seed();
        peer.linkUnder(db.root().root(), QStringLiteral("/dev/ttyS3"));
        peer.start();
        ready = engine.startEngine();
        rfid.setTiming(kFast);
        if (ready)
            rfid.start();
    }
    ~Road()
    {
        rfid.requestExit();
        rfid.wait(kStopMs);
        engine.quit();
        engine.wait(kStopMs);
    }

    // Rows of the arrived pigeons: assocNum, ring, order, ring time, uid,
    // uid time, random number, race code; by order within race and training.
    QList<QVariantList> arrived() const
    {
        return db.rows(QStringLiteral("select AssocNum,EringNum,BackOrder,BackTimeEring,UidBack,BackTimeUid,"
                                      "RandNumberBack,RaceCode,MarkTime from Record where BackTimeEring<>0 "
                                      "order by MarkTime=0, BackOrder"));
    }
    QVariantList row(const QString &ring) const
    {
        for (const QVariantList &r : arrived()) {
            if (r.at(1).toString() == ring)
                return r;
        }
        return {};
    }
    // Every listed reading has been fetched by the polling thread.
    bool allFetched() const
    {
        const QList<InnerModulePeer::Tag> tags = peer.tags();
        return std::all_of(tags.begin(), tags.end(),
                           [](const InnerModulePeer::Tag &t) { return t.firstAnsweredNs != 0; });
    }
    int logRows() const { return db.value(QStringLiteral("select count(*) from Log where LogType=1")).toInt(); }
    QStringList prompts() const { return queue.prompts(); }

    StorageFixture db;
    PromptQueue queue;
    InnerModulePeer peer;
    RunningEngine engine;
    RFIDService rfid;
    bool ready = false;

private:
    void seed() const
    {
        const qint64 markMs = UTC::now().value() - 3600000;
        db.exec(QStringLiteral("update LOFTINFO set NotifyMode=3,VoiceMode=100 where id=1"));
        db.exec(QStringLiteral("BEGIN"));
        db.exec(QStringLiteral("insert into Race(RaceCode,RaceName,Valid,MarkDeviceTime,MarkReaderTime) "
                               "values('R1','race',3,%1,%2)")
                    .arg(markMs - 60000)
                    .arg(markMs - 60000 + kResidualMs));
        const auto add = [this](const QString &assoc, const QString &ring, const QString &race, qint64 mark) {
            db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','%2')").arg(assoc, ring));
            db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values('%1','%2','%3',%4)")
                        .arg(assoc, ring, race)
                        .arg(mark));
        };
        for (int n = 1; n <= kRacePigeons; ++n)
            add(QStringLiteral("NL-24-%1").arg(n, 3, 10, QLatin1Char('0')), raceRing(n), QStringLiteral("R1"),
                markMs + n);
        for (int n = 1; n <= kTrainingPigeons; ++n)
            add(QStringLiteral("T-%1").arg(n), trainingRing(n), QStringLiteral("train"), 0);
        add(QStringLiteral("MARKER"), kMarkerRing, QStringLiteral("train"), 0);
        db.exec(QStringLiteral("COMMIT"));
    }
};

QString uidOf(int n)
{
    return QStringLiteral("%1").arg(0xC0DE0000 + n, 8, 16, QLatin1Char('0')).toUpper();
}

} // namespace

// The road of an arrival from the landing antenna to the database, the log,
// the signal and the voice, on the real threads; bursts and the module's
// repeated readings neither lose nor double an arrival.
class TestArrivalRoad : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void oneRing_storedLoggedSignalledAnnounced();
    void burst_wholeList_oneArrivalEachInOrder();
    void repeatedReadings_addNothing_uidCompletes_data();
    void repeatedReadings_addNothing_uidCompletes();
};

void TestArrivalRoad::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
    qRegisterMetaType<PigeonRecord>("PigeonRecord");
}

void TestArrivalRoad::oneRing_storedLoggedSignalledAnnounced()
{
    Road road;
    QVERIFY(road.ready);
    QTRY_VERIFY_WITH_TIMEOUT(road.rfid.isValid(), kWaitMs);
    const qint64 presented = UTC::clubTime().value();
    road.peer.presentTag(raceRing(7), QStringLiteral("1234ABCD"), 777);
    QVERIFY(road.engine.waitForArrivals(1, kWaitMs));
    const qint64 signalled = UTC::clubTime().value();

    const QVariantList r = road.row(raceRing(7));
    QVERIFY(!r.isEmpty());
    QCOMPARE(r.at(2).toInt(), 1);
    const qint64 ringTime = r.at(3).toLongLong();
    QVERIFY2(ringTime >= presented + kResidualMs && ringTime <= signalled + kResidualMs,
             qPrintable(QStringLiteral("%1 not in [%2, %3]").arg(ringTime).arg(presented).arg(signalled)));
    QCOMPARE(r.at(4).toString(), QStringLiteral("1234ABCD"));
    QCOMPARE(r.at(5).toLongLong(), ringTime);
    QCOMPARE(r.at(6).toInt(), 777);

    const PigeonRecord back = road.engine.arrivals().first().record;
    QCOMPARE(back.assocNum, QStringLiteral("NL-24-007"));
    QCOMPARE(back.backOrder, 1);
    QCOMPARE(back.backTimeEring, ringTime);
    QCOMPARE(back.uidBack, QStringLiteral("1234ABCD"));
    QCOMPARE(back.randNumberBack, 777);
    QVERIFY(back.needSms);

    QCOMPARE(road.logRows(), 1);
    const QJsonObject entry = QJsonDocument::fromJson(
                                  road.db.value(QStringLiteral("select LogInfo from Log where LogType=1")).toByteArray())
                                  .object();
    QCOMPARE(entry.keys(), (QStringList{"assocNum", "backOrder", "backTimeEring", "backTimeUid", "eringNum", "gpsOnLine",
                                        "gpsValid", "needSms", "raceCode", "randNumMarked", "randNumberBack",
                                        "uidBack"}));
    QCOMPARE(entry.value("eringNum").toString(), raceRing(7));
    QCOMPARE(entry.value("backTimeEring").toVariant().toLongLong(), ringTime);
    QCOMPARE(entry.value("raceCode").toString(), QStringLiteral("R1"));
    // Spoken right after the signal, in the engine's thread.
    QTRY_COMPARE_WITH_TIMEOUT(road.prompts(), QStringList{QStringLiteral("pigeonValid")}, kWaitMs);
}

void TestArrivalRoad::burst_wholeList_oneArrivalEachInOrder()
{
    Road road;
    QVERIFY(road.ready);
    road.peer.setWholeList(true);
    QTRY_VERIFY_WITH_TIMEOUT(road.rfid.isValid(), kWaitMs);
    // Race and training pigeons mixed, landing together.
    QList<InnerModulePeer::Reading> burst;
    for (int n = 1; n <= kRacePigeons; ++n) {
        burst << InnerModulePeer::Reading{raceRing(kRacePigeons + 1 - n), uidOf(n), quint16(n), QString()};
        if (n % 5 == 0)
            burst << InnerModulePeer::Reading{trainingRing(n / 5), uidOf(100 + n), quint16(n), QString()};
    }
    road.peer.presentTagsAtOnce(burst);
    const int pigeons = kRacePigeons + kTrainingPigeons;
    QVERIFY(road.engine.waitForArrivals(pigeons, kWaitMs));
    // One more ring changes the list: the module hands all of it again, and
    // the marker's arrival comes after every re-handed reading.
    road.peer.presentTag(kMarkerRing, uidOf(999));
    QVERIFY(road.engine.waitForArrivals(pigeons + 1, kWaitMs));

    QCOMPARE(road.engine.readingsHanded(), pigeons + pigeons + 1);
    QCOMPARE(road.engine.arrivalCount(), pigeons + 1);
    QCOMPARE(road.logRows(), pigeons + 1);
    const QList<QVariantList> rows = road.arrived();
    QCOMPARE(rows.size(), pigeons + 1);
    QList<int> raceOrders;
    QList<int> trainingOrders;
    qint64 lastRaceTime = 0;
    for (const QVariantList &r : rows) {
        if (r.at(8).toLongLong() != 0) {
            raceOrders << r.at(2).toInt();
            QVERIFY2(r.at(3).toLongLong() >= lastRaceTime, "race orders follow the ring times");
            lastRaceTime = r.at(3).toLongLong();
        } else {
            trainingOrders << r.at(2).toInt();
        }
    }
    QList<int> expectedRace(kRacePigeons);
    std::iota(expectedRace.begin(), expectedRace.end(), 1);
    QList<int> expectedTraining(kTrainingPigeons + 1);
    std::iota(expectedTraining.begin(), expectedTraining.end(), 1);
    QCOMPARE(raceOrders, expectedRace);
    QCOMPARE(trainingOrders, expectedTraining);
    // The first ring handed is the first race arrival.
    QCOMPARE(road.row(raceRing(kRacePigeons)).at(2).toInt(), 1);
    // The sound queue keeps at most 10 prompts; the rest are dropped.
    QTRY_VERIFY_WITH_TIMEOUT(!road.prompts().isEmpty(), kWaitMs);
    QVERIFY(road.prompts().size() <= SoundThread::kMaxQueued);
}

void TestArrivalRoad::repeatedReadings_addNothing_uidCompletes_data()
{
    QTest::addColumn<bool>("wholeList");
    QTest::addColumn<int>("handed");
    QTest::newRow("new readings only") << false << 6;
    // Each change hands the whole list again: 1 + 2 + 3 + 4 + 5 + 6.
    QTest::newRow("whole list each time") << true << 21;
}

void TestArrivalRoad::repeatedReadings_addNothing_uidCompletes()
{
    QFETCH(bool, wholeList);
    QFETCH(int, handed);
    Road road;
    QVERIFY(road.ready);
    road.peer.setWholeList(wholeList);
    QTRY_VERIFY_WITH_TIMEOUT(road.rfid.isValid(), kWaitMs);
    const QString a = raceRing(1);
    const QString b = raceRing(2);
    const QString c = raceRing(3);

    road.peer.presentTag(a, uidOf(1), 11);
    QVERIFY(road.engine.waitForArrivals(1, kWaitMs));
    road.peer.presentTag(a, uidOf(1), 12); // still on the board: within the hold
    QTRY_VERIFY_WITH_TIMEOUT(road.allFetched(), kWaitMs);
    road.peer.presentTag(b, QString(), 21); // no uid read
    QVERIFY(road.engine.waitForArrivals(2, kWaitMs));
    road.peer.presentTag(c, uidOf(3), 31);
    QVERIFY(road.engine.waitForArrivals(3, kWaitMs));
    road.peer.presentTag(b, uidOf(2), 22); // after another ring, now with its uid
    QVERIFY(road.engine.waitForArrivals(4, kWaitMs));
    road.peer.presentTag(kMarkerRing, uidOf(9));
    QVERIFY(road.engine.waitForArrivals(5, kWaitMs));

    QCOMPARE(road.engine.readingsHanded(), handed);
    QCOMPARE(road.engine.arrivalCount(), 5);
    QCOMPARE(road.logRows(), 5);
    const QVariantList ra = road.row(a);
    const QVariantList rb = road.row(b);
    const QVariantList rc = road.row(c);
    QCOMPARE(ra.at(2).toInt(), 1);
    QCOMPARE(ra.at(6).toInt(), 11);
    QCOMPARE(rb.at(2).toInt(), 2);
    QCOMPARE(rb.at(4).toString(), uidOf(2));
    QVERIFY(rb.at(5).toLongLong() > rb.at(3).toLongLong());
    QCOMPARE(rb.at(6).toInt(), 21); // the first reading's
    QCOMPARE(rc.at(2).toInt(), 3);
    // The uid completion was stored, logged and signalled a second time.
    const QList<RunningEngine::Back> backs = road.engine.arrivals();
    QCOMPARE(backs.at(3).record.eringNum, b);
    QCOMPARE(backs.at(3).record.backOrder, 2);
    QCOMPARE(road.db.value(QStringLiteral("select count(*) from Log where LogType=1 and LogInfo like '%%1%'").arg(b))
                 .toInt(),
             2);
}

QTEST_GUILESS_MAIN(TestArrivalRoad)
#include "tst_arrivalroad.moc"
