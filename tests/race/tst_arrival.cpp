#include "core/locationinfo.h"
#include "core/platform.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include "messagecapture.h"
#include "promptqueue.h"
#include "storagefixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <limits>
#include <memory>

namespace {
constexpr int kGpioMains = 51;
constexpr int kWaitMs = 10000;
constexpr int kHoldTicks = 101;            // a little over the 5000 ms ring hold
constexpr qint64 kNowMs = 1700000000000LL; // the frozen system clock
constexpr qint64 kDayMs = 86400000;
constexpr qint64 kMarkMs = kNowMs - 3600000; // basketing an hour ago
constexpr qint64 kMaxMs = std::numeric_limits<qint64>::max();
constexpr qint64 kMinMs = std::numeric_limits<qint64>::min();
const char kShortBusy[] = "QSQLITE_BUSY_TIMEOUT=100";

QString sq(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

LFTAG_INFO reading(const QString &ring, qint64 time, int stored = 0, const QString &uid = QString(), int rand = 0)
{
    LFTAG_INFO tag;
    tag.eRing = ring;
    tag.time = time;
    tag.stored = stored;
    tag.uid = uid;
    tag.randNum = rand;
    return tag;
}

// The arrival columns of one record, as a second connection reads them.
struct Arrival
{
    qint64 ringTime = 0;
    qint64 uidTime = 0;
    QString uid;
    int rand = 0;
    int order = 0;
    bool needSms = false;
    bool gpsValid = false;
    bool gpsOnLine = false;
    int lat = 0;
    int lon = 0;
};

// A started engine on a seeded database of a simulated device with a frozen
// clock, the prompt queue of a sound thread that never plays, and a chosen
// position. Readings are handed in from a plain thread,
// as the polling thread hands them.
class Rig
{
public:
    explicit Rig(int notifyMode = 0, int voiceMode = 100)
    {
        Platform::setSystemClock([] { return kNowMs; });
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        HardwareControl::init(0);
        db.root().setGpio(kGpioMains, 1);
        seed(notifyMode, voiceMode);
        bo.setArrivalRetry({50});
    }
    ~Rig()
    {
        Storage::destroy();
        Platform::setSystemClock({});
        UTC::_clubTimeDiff = 0;
    }

    void start()
    {
        bo.start();
    }

    // Hands the readings in from another thread and lets the engine's queued
    // slot run for each.
    void hand(const QList<LFTAG_INFO> &tags)
    {
        std::unique_ptr<QThread> reader(QThread::create([this, tags] {
            for (LFTAG_INFO tag : tags)
                bo.notifyTagScaned(&tag);
        }));
        reader->start();
        reader->wait();
        QCoreApplication::sendPostedEvents(&bo);
    }
    void hand(const LFTAG_INFO &tag) { hand(QList<LFTAG_INFO>{tag}); }
    void tick(int n)
    {
        for (int i = 0; i < n; ++i)
            QMetaObject::invokeMethod(&bo, "onTickTime", Qt::DirectConnection);
    }

    Arrival arrival(const QString &assocNum) const
    {
        const QList<QVariantList> rows = db.rows(
            QStringLiteral("select BackTimeEring,BackTimeUid,UidBack,RandNumberBack,BackOrder,NeedSms,GpsValid,"
                           "GpsOnLine,BackHomeLat,BackHomeLon from Record where AssocNum=")
            + sq(assocNum));
        Arrival a;
        if (rows.isEmpty())
            return a;
        const QVariantList &r = rows.first();
        a = Arrival{r[0].toLongLong(), r[1].toLongLong(), r[2].toString(), r[3].toInt(), r[4].toInt(),
                    r[5].toInt() != 0, r[6].toInt() != 0, r[7].toInt() != 0, r[8].toInt(), r[9].toInt()};
        return a;
    }
    int logRows() const { return db.value(QStringLiteral("select count(*) from Log where LogType=1")).toInt(); }
    QStringList prompts() const { return queue.prompts(); }
    void addRecord(const QString &assocNum, const QString &ring, const QString &race, qint64 markTime) const
    {
        db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values(%1,%2)").arg(sq(assocNum), sq(ring)));
        db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values(%1,%2,%3,%4)")
                    .arg(sq(assocNum), sq(ring), sq(race))
                    .arg(markTime));
    }
    void addRace(const QString &code, int valid, qint64 deviceTime, qint64 readerTime) const
    {
        db.exec(QStringLiteral("insert into Race(RaceCode,RaceName,Valid,MarkDeviceTime,MarkReaderTime) "
                               "values(%1,'race',%2,%3,%4)")
                    .arg(sq(code))
                    .arg(valid)
                    .arg(deviceTime)
                    .arg(readerTime));
    }

    StorageFixture db;
    PromptQueue queue;
    PigeonBo bo;

private:
    void seed(int notifyMode, int voiceMode) const
    {
        db.exec(QStringLiteral("update LOFTINFO set NotifyMode=%1,VoiceMode=%2 where id=1").arg(notifyMode).arg(voiceMode));
        db.exec(QStringLiteral("BEGIN"));
        addRace(QStringLiteral("R1"), 3, kMarkMs - 60000, kMarkMs - 60000);
        addRace(QStringLiteral("R2K"), 3, kMarkMs - 60000, kMarkMs - 58000); // reader 2000 ms ahead
        addRace(QStringLiteral("R4"), 4, kMarkMs, kMarkMs);
        addRace(QStringLiteral("R12"), 12, kMarkMs, kMarkMs);
        addRace(QStringLiteral("O'R"), 3, kMarkMs, kMarkMs);
        addRace(QStringLiteral("OVF"), 3, 0, kMaxMs);
        addRace(QStringLiteral("UNF"), 3, kMinMs, 0);
        addRecord(QStringLiteral("NL-24-01"), QStringLiteral("A0000001"), QStringLiteral("R1"), kMarkMs);
        addRecord(QStringLiteral("NL-24-02"), QStringLiteral("A0000002"), QStringLiteral("R1"), kMarkMs + 1000);
        addRecord(QStringLiteral("NL-24-03"), QStringLiteral("A0000003"), QStringLiteral("R1"), kMarkMs + 2000);
        addRecord(QStringLiteral("NL-24-45"), QStringLiteral("A0000045"), QStringLiteral("R1"), kMarkMs);
        addRecord(QStringLiteral("BE-24-10"), QStringLiteral("B0000010"), QStringLiteral("R2K"), kMarkMs);
        addRecord(QStringLiteral("DE-24-04"), QStringLiteral("C0000004"), QStringLiteral("R4"), kMarkMs);
        addRecord(QStringLiteral("DE-24-12"), QStringLiteral("C0000012"), QStringLiteral("R12"), kMarkMs);
        addRecord(QStringLiteral("DE-24-99"), QStringLiteral("C0000099"), QStringLiteral("GONE"), kMarkMs);
        addRecord(QStringLiteral("OV-1"), QStringLiteral("F0000001"), QStringLiteral("OVF"), kMarkMs);
        addRecord(QStringLiteral("UN-1"), QStringLiteral("F0000002"), QStringLiteral("UNF"), kMarkMs);
        addRecord(QStringLiteral("T-01"), QStringLiteral("D0000001"), QStringLiteral("train"), 0);
        addRecord(QStringLiteral("T-02"), QStringLiteral("D0000002"), QStringLiteral("train"), 0);
        addRecord(QStringLiteral("T-03"), QStringLiteral("D0000003"), QStringLiteral("R1"), 0); // not basketed
        addRecord(QStringLiteral("NL'24-7"), QStringLiteral("E0000007"), QStringLiteral("O'R"), kMarkMs);
        addRecord(QStringLiteral("NL'24-8"), QStringLiteral("E0000008"), QStringLiteral("O'R"), kMarkMs);
        addRecord(QStringLiteral("NORING"), QString(), QStringLiteral("train"), 0);
        db.exec(QStringLiteral("COMMIT"));
    }
};

} // namespace

// The arrival rules of the race engine: which readings become arrivals, what
// an arrival stores, logs, signals and speaks, and how a failing database is
// outlasted without losing, doubling or reordering an arrival.
class TestArrival : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void storedReading_freshness_data();
    void storedReading_freshness();
    void dropped_leaveNoTrace_data();
    void dropped_leaveNoTrace();
    void raceTime_correctedByReaderDifference_data();
    void raceTime_correctedByReaderDifference();
    void uid_completedLater_keepsOrder_data();
    void uid_completedLater_keepsOrder();
    void liveRing_heldFor5s_thenLookedUpAgain();
    void arrivalOrder_raceAndTrainingCountedApart();
    void needSms_followsNotifyMode_data();
    void needSms_followsNotifyMode();
    void position_data();
    void position();
    void voice_data();
    void voice();
    void quotes_storedAndCounted();
    void logEntry_holdsTheArrival();

    void saveArrival_onlyArrivalColumns_refusesChangedRow_data();
    void saveArrival_onlyArrivalColumns_refusesChangedRow();
    void lockedDatabase_arrivalsWaitAndKeepOrder();
    void lockedLong_heldUntilStoredNoneDropped();
    void failedLogInsert_heldThenRetriedAsOneTransaction();
    void heldReadings_surviveARestart_originalTimesAndOrder();
    void finishedEngine_ignoresQueuedReadings();
    void readingFromAReceiverInTheEngineThread_waitsItsTurn();
};

void TestArrival::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
    qRegisterMetaType<PigeonRecord>("PigeonRecord");
}

void TestArrival::cleanup()
{
    Storage::setConnectOptions(QString());
    Storage::setFault(Storage::Fault::None);
}

void TestArrival::storedReading_freshness_data()
{
    QTest::addColumn<qint64>("clubOffset");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<bool>("processed");
    QTest::newRow("exactly one day old") << qint64(0) << kNowMs - kDayMs << true;
    QTest::newRow("one day and 1 ms old") << qint64(0) << kNowMs - kDayMs - 1 << false;
    QTest::newRow("1 ms in the future") << qint64(0) << kNowMs + 1 << false;
    QTest::newRow("now") << qint64(0) << kNowMs << true;
    QTest::newRow("earliest time") << qint64(0) << kMinMs << false;
    QTest::newRow("latest time") << qint64(0) << kMaxMs << false;
    // The club time runs 10 minutes ahead of the device time.
    QTest::newRow("offset: ahead of device, not of club") << qint64(600000) << kNowMs + 599999 << true;
    QTest::newRow("offset: 1 ms ahead of club") << qint64(600000) << kNowMs + 600001 << false;
    QTest::newRow("offset: one day before club time") << qint64(600000) << kNowMs + 600000 - kDayMs << true;
    QTest::newRow("offset: one day and 1 ms before club") << qint64(600000) << kNowMs + 599999 - kDayMs << false;
    // The club time 10 minutes behind: a reading at device time is future.
    QTest::newRow("offset behind: at device time") << qint64(-600000) << kNowMs << false;
    QTest::newRow("offset behind: at club time") << qint64(-600000) << kNowMs - 600000 << true;
}

void TestArrival::storedReading_freshness()
{
    QFETCH(qint64, clubOffset);
    QFETCH(qint64, time);
    QFETCH(bool, processed);
    Rig rig;
    rig.start();
    UTC::_clubTimeDiff = clubOffset;
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    rig.hand(reading(QStringLiteral("D0000001"), time, 1));
    QCOMPARE(rig.arrival(QStringLiteral("T-01")).ringTime, processed ? time : 0);
    QCOMPARE(rig.logRows(), processed ? 1 : 0);
    QCOMPARE(back.count(), processed ? 1 : 0);
    QCOMPARE(rig.prompts(), processed ? QStringList{QStringLiteral("pigeonValid")} : QStringList{});
}

void TestArrival::dropped_leaveNoTrace_data()
{
    QTest::addColumn<QString>("ring");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<int>("stored");
    QTest::newRow("race stopped (4), live") << "C0000004" << kNowMs << 0;
    QTest::newRow("race stopped (4), stored") << "C0000004" << kNowMs << 1;
    QTest::newRow("race uploaded (12), live") << "C0000012" << kNowMs << 0;
    QTest::newRow("race uploaded (12), stored") << "C0000012" << kNowMs << 1;
    QTest::newRow("race missing") << "C0000099" << kNowMs << 0;
    QTest::newRow("ring of no pigeon") << "0BADCAFE" << kNowMs << 0;
    QTest::newRow("empty ring") << "" << kNowMs << 0;
    QTest::newRow("empty ring, stored") << "" << kNowMs << 1;
    QTest::newRow("short ring") << "A000001" << kNowMs << 0;
    QTest::newRow("ring with a quote") << "A00000'1" << kNowMs << 0;
    QTest::newRow("quote ending a where-clause") << "' OR ''='" << kNowMs << 0;
    QTest::newRow("nine digits") << "A00000011" << kNowMs << 0;
    QTest::newRow("not hex") << "A000000G" << kNowMs << 0;
    QTest::newRow("stored, before basketing") << "A0000001" << kMarkMs - 1 << 1;
    QTest::newRow("corrected time past 64 bits") << "F0000001" << kNowMs << 0;
    QTest::newRow("reader difference past 64 bits") << "F0000002" << kNowMs << 0;
}

void TestArrival::dropped_leaveNoTrace()
{
    QFETCH(QString, ring);
    QFETCH(qint64, time);
    QFETCH(int, stored);
    Rig rig;
    rig.start();
    const QString before = rig.db.dump();
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    rig.hand(reading(ring, time, stored, QStringLiteral("12345678"), 7));
    QCOMPARE(back.count(), 0);
    QCOMPARE(rig.prompts(), QStringList{});
    QCOMPARE(rig.db.dump(), before); // no record, no log entry
}

void TestArrival::raceTime_correctedByReaderDifference_data()
{
    QTest::addColumn<QString>("ring");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<int>("stored");
    QTest::addColumn<qint64>("stored_time");
    QTest::newRow("live, reader 2000 ms ahead") << "B0000010" << kNowMs - 5000 << 0 << kNowMs - 3000;
    QTest::newRow("stored, reader 2000 ms ahead") << "B0000010" << kNowMs - 5000 << 1 << kNowMs - 3000;
    QTest::newRow("stored, corrected to basketing itself") << "B0000010" << kMarkMs - 2000 << 1 << kMarkMs;
    QTest::newRow("stored, no difference") << "A0000001" << kMarkMs << 1 << kMarkMs;
    // A live reading is never compared with the basketing time.
    QTest::newRow("live, before basketing") << "A0000001" << kMarkMs - 60000 << 0 << kMarkMs - 60000;
}

void TestArrival::raceTime_correctedByReaderDifference()
{
    QFETCH(QString, ring);
    QFETCH(qint64, time);
    QFETCH(int, stored);
    QFETCH(qint64, stored_time);
    Rig rig;
    rig.start();
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    rig.hand(reading(ring, time, stored, QStringLiteral("CAFE0001"), 321));
    const QString pigeon = ring == QLatin1String("B0000010") ? QStringLiteral("BE-24-10") : QStringLiteral("NL-24-01");
    const Arrival a = rig.arrival(pigeon);
    QCOMPARE(a.ringTime, stored_time);
    QCOMPARE(a.uidTime, stored_time);
    QCOMPARE(a.uid, QStringLiteral("CAFE0001"));
    QCOMPARE(a.rand, 321);
    QCOMPARE(a.order, 1);
    QCOMPARE(back.count(), 1);
    QCOMPARE(back.first().at(0).value<PigeonRecord>().backTimeEring, stored_time);
}

void TestArrival::uid_completedLater_keepsOrder_data()
{
    QTest::addColumn<QString>("missingUid");
    QTest::newRow("eight zeros") << "00000000";
    QTest::newRow("empty") << "";
}

void TestArrival::uid_completedLater_keepsOrder()
{
    QFETCH(QString, missingUid);
    Rig rig(3);
    rig.start();
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    rig.hand(reading(QStringLiteral("A0000002"), kNowMs - 9000, 0, missingUid, 11));
    Arrival a = rig.arrival(QStringLiteral("NL-24-02"));
    QCOMPARE(a.ringTime, kNowMs - 9000);
    QCOMPARE(a.uidTime, qint64(0));
    QCOMPARE(a.uid, QString());
    QCOMPARE(a.order, 1);

    // Another pigeon arrives; then the first one's uid is read.
    rig.hand(reading(QStringLiteral("A0000001"), kNowMs - 8000, 0, QStringLiteral("0000AAAA")));
    rig.hand(reading(QStringLiteral("A0000002"), kNowMs - 7000, 0, QStringLiteral("0000BBBB"), 99));
    a = rig.arrival(QStringLiteral("NL-24-02"));
    QCOMPARE(a.ringTime, kNowMs - 9000);
    QCOMPARE(a.uidTime, kNowMs - 7000);
    QCOMPARE(a.uid, QStringLiteral("0000BBBB"));
    QCOMPARE(a.rand, 11); // the first arrival's
    QCOMPARE(a.order, 1);
    QVERIFY(a.needSms);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).order, 2);
    QCOMPARE(rig.logRows(), 3);
    QCOMPARE(back.count(), 3);
    QCOMPARE(rig.prompts().size(), 3);

    // Complete: every later reading is dropped.
    rig.tick(kHoldTicks);
    rig.hand(reading(QStringLiteral("A0000002"), kNowMs - 1000, 0, QStringLiteral("0000CCCC")));
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-02")).uid, QStringLiteral("0000BBBB"));
    QCOMPARE(rig.logRows(), 3);
    QCOMPARE(back.count(), 3);
}

void TestArrival::liveRing_heldFor5s_thenLookedUpAgain()
{
    Rig rig;
    rig.start();
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    rig.hand(reading(QStringLiteral("A0000003"), kNowMs - 3000, 0, QStringLiteral("00000000")));
    QCOMPARE(back.count(), 1);

    // Held: dropped before any database access.
    const quint64 statements = Storage::statementCount();
    rig.tick(50);
    rig.hand(reading(QStringLiteral("A0000003"), kNowMs - 500, 0, QStringLiteral("0000D00D")));
    QCOMPARE(Storage::statementCount(), statements);

    // After the hold the ring is looked up again and completes the uid.
    rig.tick(kHoldTicks);
    rig.hand(reading(QStringLiteral("A0000003"), kNowMs, 0, QStringLiteral("0000D00D")));
    QVERIFY(Storage::statementCount() > statements);
    const Arrival a = rig.arrival(QStringLiteral("NL-24-03"));
    QCOMPARE(a.uidTime, kNowMs);
    QCOMPARE(a.ringTime, kNowMs - 3000);
    QCOMPARE(back.count(), 2);

    // Another ring in between ends the hold at once.
    rig.hand(reading(QStringLiteral("A0000001"), kNowMs, 0));
    rig.hand(reading(QStringLiteral("A0000003"), kNowMs, 0));
    QVERIFY(rig.bo.getLastEring() == QStringLiteral("A0000003"));
}

void TestArrival::arrivalOrder_raceAndTrainingCountedApart()
{
    Rig rig;
    // An earlier training arrival, stored before the start.
    rig.db.exec(QStringLiteral("update Record set BackTimeEring=%1,BackOrder=1 where AssocNum='T-02'").arg(kNowMs - kDayMs));
    rig.start();
    rig.hand({reading(QStringLiteral("A0000003"), kNowMs - 4000), reading(QStringLiteral("A0000001"), kNowMs - 3000),
              reading(QStringLiteral("D0000003"), kNowMs - 2500), reading(QStringLiteral("A0000002"), kNowMs - 2000)});
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-03")).order, 1);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).order, 2);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-02")).order, 3);
    // Not basketed, though its race code is that of the race: training.
    QCOMPARE(rig.arrival(QStringLiteral("T-03")).order, 2);
    // Another race's arrivals count apart.
    rig.hand(reading(QStringLiteral("B0000010"), kNowMs));
    QCOMPARE(rig.arrival(QStringLiteral("BE-24-10")).order, 1);
    QCOMPARE(rig.logRows(), 5);
}

void TestArrival::needSms_followsNotifyMode_data()
{
    QTest::addColumn<int>("notifyMode");
    QTest::addColumn<bool>("race");
    QTest::addColumn<bool>("training");
    QTest::newRow("0") << 0 << false << false;
    QTest::newRow("1") << 1 << false << true;
    QTest::newRow("2") << 2 << true << false;
    QTest::newRow("3") << 3 << true << true;
}

void TestArrival::needSms_followsNotifyMode()
{
    QFETCH(int, notifyMode);
    QFETCH(bool, race);
    QFETCH(bool, training);
    Rig rig(notifyMode);
    rig.start();
    rig.hand({reading(QStringLiteral("A0000001"), kNowMs), reading(QStringLiteral("D0000001"), kNowMs)});
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).needSms, race);
    QCOMPARE(rig.arrival(QStringLiteral("T-01")).needSms, training);
}

void TestArrival::position_data()
{
    QTest::addColumn<qint64>("fixAge");      // -1: no current fix
    QTest::addColumn<qint64>("validAge");    // -1: no last valid fix
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("lat");
    QTest::addColumn<int>("lon");
    QTest::newRow("no fix") << qint64(-1) << qint64(-1) << false << false << 0 << 0;
    QTest::newRow("current fix") << qint64(1000) << qint64(1000) << true << true << 187200000 << 16200000;
    QTest::newRow("current fix 90 s old") << qint64(90000) << qint64(90000) << true << true << 187200000 << 16200000;
    QTest::newRow("only a last valid fix") << qint64(-1) << qint64(600000) << false << true << 187000000 << 16000000;
    QTest::newRow("stale current, valid last") << qint64(90001) << qint64(900000) << false << true << 187000000
                                               << 16000000;
    QTest::newRow("both stale") << qint64(90001) << qint64(900001) << false << false << 0 << 0;
}

void TestArrival::position()
{
    QFETCH(qint64, fixAge);
    QFETCH(qint64, validAge);
    QFETCH(bool, online);
    QFETCH(bool, valid);
    QFETCH(int, lat);
    QFETCH(int, lon);
    Rig rig;
    rig.bo.setPositionSource([=] {
        LocationInfo fix;
        if (fixAge >= 0) {
            fix.la = 187200000;
            fix.lo = 16200000;
            fix.time = kNowMs - fixAge;
        }
        if (validAge >= 0) {
            fix.validLa = 187000000;
            fix.validLo = 16000000;
            fix.validTime = kNowMs - validAge;
        }
        return fix;
    });
    rig.start();
    rig.hand(reading(QStringLiteral("A0000001"), kNowMs));
    const Arrival a = rig.arrival(QStringLiteral("NL-24-01"));
    QCOMPARE(a.gpsOnLine, online);
    QCOMPARE(a.gpsValid, valid);
    QCOMPARE(a.lat, lat);
    QCOMPARE(a.lon, lon);
}

void TestArrival::voice_data()
{
    QTest::addColumn<int>("voiceMode");
    QTest::addColumn<QString>("ring");
    QTest::addColumn<QStringList>("prompts");
    QTest::newRow("356, NL-24-45") << 356 << "A0000045" << QStringList{"4", "5"};
    QTest::newRow("356, a dash in the last two") << 356 << "E0000007" << QStringList{"7"};
    QTest::newRow("100") << 100 << "A0000045" << QStringList{"pigeonValid"};
    QTest::newRow("355") << 355 << "A0000045" << QStringList{"pigeonValid"};
}

void TestArrival::voice()
{
    QFETCH(int, voiceMode);
    QFETCH(QString, ring);
    QFETCH(QStringList, prompts);
    Rig rig(0, voiceMode);
    rig.start();
    rig.hand(reading(ring, kNowMs));
    QCOMPARE(rig.prompts(), prompts);
}

void TestArrival::quotes_storedAndCounted()
{
    Rig rig;
    rig.start();
    rig.hand({reading(QStringLiteral("E0000008"), kNowMs - 100), reading(QStringLiteral("E0000007"), kNowMs)});
    QCOMPARE(rig.arrival(QStringLiteral("NL'24-8")).order, 1);
    QCOMPARE(rig.arrival(QStringLiteral("NL'24-7")).order, 2);
    QCOMPARE(rig.arrival(QStringLiteral("NL'24-7")).ringTime, kNowMs);
    // The quoted race code counted only its own race.
    rig.hand(reading(QStringLiteral("A0000001"), kNowMs));
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).order, 1);
    QCOMPARE(rig.logRows(), 3);
}

void TestArrival::logEntry_holdsTheArrival()
{
    Rig rig(2);
    rig.start();
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    rig.hand(reading(QStringLiteral("A0000002"), kNowMs - 42, 0, QStringLiteral("1234ABCD"), 4242));
    QCOMPARE(back.count(), 1);
    const PigeonRecord sent = back.first().at(0).value<PigeonRecord>();
    const QJsonObject entry =
        QJsonDocument::fromJson(rig.db.value(QStringLiteral("select LogInfo from Log where LogType=1")).toByteArray())
            .object();
    const QStringList keys{"assocNum", "backOrder", "backTimeEring", "backTimeUid", "eringNum", "gpsOnLine",
                           "gpsValid", "needSms", "raceCode", "randNumMarked", "randNumberBack", "uidBack"};
    QCOMPARE(entry.keys(), keys);
    QCOMPARE(entry.value("assocNum").toString(), QStringLiteral("NL-24-02"));
    QCOMPARE(entry.value("eringNum").toString(), QStringLiteral("A0000002"));
    QCOMPARE(entry.value("backTimeEring").toVariant().toLongLong(), kNowMs - 42);
    QCOMPARE(entry.value("randNumberBack").toInt(), 4242);
    QCOMPARE(entry.value("uidBack").toString(), QStringLiteral("1234ABCD"));
    QCOMPARE(sent.assocNum, QStringLiteral("NL-24-02"));
    QCOMPARE(sent.backTimeEring, kNowMs - 42);
    QCOMPARE(sent.backOrder, 1);
    QVERIFY(sent.needSms);
}

void TestArrival::saveArrival_onlyArrivalColumns_refusesChangedRow_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("stored");
    QTest::newRow("upload and SMS flags set meanwhile")
        << "update Record set SmsSendState=1,EringUploadState=1,UidUploadState=1" << true;
    QTest::newRow("row deleted") << "delete from Record" << false;
    QTest::newRow("ring reassigned") << "update Record set EringNum='A9999999'" << false;
    QTest::newRow("unbasketed") << "update Record set MarkTime=0" << false;
    QTest::newRow("moved to another race") << "update Record set RaceCode='R2K'" << false;
}

void TestArrival::saveArrival_onlyArrivalColumns_refusesChangedRow()
{
    QFETCH(QString, change);
    QFETCH(bool, stored);
    Rig rig;
    Storage *storage = Storage::instance();
    QSharedPointer<PigeonRecord> record = storage->findRecordByEring(QStringLiteral("A0000001"));
    QVERIFY(record);
    QVERIFY(rig.db.exec(change + QStringLiteral(" where AssocNum='NL-24-01'")));
    record->backTimeEring = kNowMs;
    record->backOrder = 1;
    QCOMPARE(storage->saveArrival(record.data()), stored);
    QCOMPARE(rig.logRows(), stored ? 1 : 0);
    if (stored) {
        QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).ringTime, kNowMs);
        QCOMPARE(rig.db.value(QStringLiteral("select SmsSendState+EringUploadState+UidUploadState from Record "
                                             "where AssocNum='NL-24-01'"))
                     .toInt(),
                 3);
    } else {
        QCOMPARE(rig.db.value(QStringLiteral("select count(*) from Record where BackTimeEring<>0")).toInt(), 0);
    }
}

void TestArrival::lockedDatabase_arrivalsWaitAndKeepOrder()
{
    Storage::setConnectOptions(QLatin1String(kShortBusy));
    Rig rig;
    rig.bo.setArrivalRetry({20});
    rig.start();
    MessageCapture capture;
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    QVERIFY(rig.db.exec(QStringLiteral("BEGIN IMMEDIATE")));
    rig.hand({reading(QStringLiteral("A0000003"), kNowMs - 3000), reading(QStringLiteral("A0000001"), kNowMs - 2000),
              reading(QStringLiteral("D0000001"), kNowMs - 1500), reading(QStringLiteral("A0000002"), kNowMs - 1000)});
    QTRY_VERIFY_WITH_TIMEOUT(capture.count(QStringLiteral("PigeonBo::onTagScaned VexException!")) >= 2, kWaitMs);
    QCOMPARE(back.count(), 0);
    QVERIFY(rig.db.exec(QStringLiteral("COMMIT")));

    QTRY_COMPARE_WITH_TIMEOUT(back.count(), 4, kWaitMs);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-03")).order, 1);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).order, 2);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-02")).order, 3);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-02")).ringTime, kNowMs - 1000);
    QCOMPARE(rig.arrival(QStringLiteral("T-01")).order, 1);
    QCOMPARE(rig.arrival(QStringLiteral("T-01")).ringTime, kNowMs - 1500);
    QCOMPARE(rig.logRows(), 4);
    QVERIFY(!capture.contains(QStringLiteral("dropped")));
}

// Storing that fails for longer than any number of tries: the readings are
// held, in order, with their times, and stored once writing works again.
void TestArrival::lockedLong_heldUntilStoredNoneDropped()
{
    Storage::setConnectOptions(QLatin1String(kShortBusy));
    Rig rig;
    rig.bo.setArrivalRetry({20});
    rig.start();
    MessageCapture capture;
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    QVERIFY(rig.db.exec(QStringLiteral("BEGIN IMMEDIATE")));
    rig.hand({reading(QStringLiteral("A0000001"), kNowMs - 2000), reading(QStringLiteral("A0000002"), kNowMs - 1000)});
    QTRY_VERIFY_WITH_TIMEOUT(capture.count(QStringLiteral("PigeonBo::onTagScaned VexException!")) >= 5, kWaitMs);
    QCOMPARE(rig.bo.heldArrivals(), 2);
    rig.hand(reading(QStringLiteral("A0000003"), kNowMs - 500)); // behind the held ones
    QCOMPARE(rig.bo.heldArrivals(), 3);
    QCOMPARE(back.count(), 0);
    QVERIFY(rig.db.exec(QStringLiteral("COMMIT")));

    QTRY_COMPARE_WITH_TIMEOUT(back.count(), 3, kWaitMs);
    QCOMPARE(rig.bo.heldArrivals(), 0);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).ringTime, kNowMs - 2000);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).order, 1);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-02")).order, 2);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-03")).order, 3);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-03")).ringTime, kNowMs - 500);
    QCOMPARE(rig.logRows(), 3);
    QVERIFY(!capture.contains(QStringLiteral("dropped")));
}

void TestArrival::failedLogInsert_heldThenRetriedAsOneTransaction()
{
    Rig rig;
    rig.start();
    QSignalSpy back(&rig.bo, &PigeonBo::pigeonBack);
    // Every log insert fails, as on a full disk: the arrival is not stored
    // without its entry; it is held, not dropped.
    QVERIFY(rig.db.failOn(QStringLiteral("INSERT"), QStringLiteral("Log")));
    MessageCapture capture;
    rig.hand(reading(QStringLiteral("A0000001"), kNowMs - 100));
    QTRY_VERIFY_WITH_TIMEOUT(capture.count(QStringLiteral("PigeonBo::onTagScaned VexException!")) >= 4, kWaitMs);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).ringTime, qint64(0));
    QCOMPARE(rig.bo.heldArrivals(), 1);
    QCOMPARE(back.count(), 0);
    QCOMPARE(rig.prompts(), QStringList{});
    QVERIFY(rig.db.exec(QStringLiteral("DROP TRIGGER fail_INSERT_Log")));
    QTRY_COMPARE_WITH_TIMEOUT(back.count(), 1, kWaitMs);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).ringTime, kNowMs - 100);
    QVERIFY(!capture.contains(QStringLiteral("dropped")));

    // One failing statement (the update): the retry stores both, once.
    // Statements: find, race, count, begin, then the update fails.
    Storage::setFault(Storage::Fault::FailStatement, 5);
    rig.hand(reading(QStringLiteral("A0000002"), kNowMs));
    QTRY_COMPARE_WITH_TIMEOUT(back.count(), 2, kWaitMs);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-02")).ringTime, kNowMs);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-02")).order, 2);
    QCOMPARE(rig.logRows(), 2);
    QCOMPARE(rig.prompts().size(), 2);
}

// The engine stops while readings are held: the next engine on the same
// folder stores them first, with their own times and in their order, and a
// reading the module hands again after the restart adds nothing.
void TestArrival::heldReadings_surviveARestart_originalTimesAndOrder()
{
    Rig rig;
    rig.start();
    QVERIFY(rig.db.failOn(QStringLiteral("INSERT"), QStringLiteral("Log")));
    rig.hand({reading(QStringLiteral("A0000003"), kNowMs - 3000), reading(QStringLiteral("D0000001"), kNowMs - 2500),
              reading(QStringLiteral("A0000001"), kNowMs - 2000, 0, QStringLiteral("0A0B0C0D"), 7)});
    QTRY_COMPARE_WITH_TIMEOUT(rig.bo.heldArrivals(), 3, kWaitMs);
    rig.bo.requestExit();
    rig.tick(1);
    QVERIFY(rig.bo.isFinished());
    QCOMPARE(rig.bo.heldArrivals(), 0);
    QVERIFY(rig.db.exec(QStringLiteral("DROP TRIGGER fail_INSERT_Log")));
    QCOMPARE(rig.logRows(), 0);

    PigeonBo next;
    next.setArrivalRetry({50});
    QSignalSpy back(&next, &PigeonBo::pigeonBack);
    next.start(); // replays at once
    QCOMPARE(back.count(), 3);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-03")).ringTime, kNowMs - 3000);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-03")).order, 1);
    QCOMPARE(rig.arrival(QStringLiteral("T-01")).ringTime, kNowMs - 2500);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).ringTime, kNowMs - 2000);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).order, 2);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).uid, QStringLiteral("0A0B0C0D"));
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).rand, 7);
    QCOMPARE(rig.logRows(), 3);

    // The module hands its list again, stamped now: nothing changes.
    std::unique_ptr<QThread> reader(QThread::create([&next] {
        LFTAG_INFO again = reading(QStringLiteral("A0000003"), kNowMs);
        next.notifyTagScaned(&again);
    }));
    reader->start();
    QVERIFY(reader->wait(kWaitMs));
    QCoreApplication::sendPostedEvents(&next);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-03")).ringTime, kNowMs - 3000);
    QCOMPARE(rig.logRows(), 3);
    // Nothing is held any more: a third start replays nothing.
    next.requestExit();
    QMetaObject::invokeMethod(&next, "onTickTime", Qt::DirectConnection);
    PigeonBo third;
    QSignalSpy none(&third, &PigeonBo::pigeonBack);
    third.start();
    QCOMPARE(none.count(), 0);
}

void TestArrival::finishedEngine_ignoresQueuedReadings()
{
    Rig rig;
    rig.start();
    std::unique_ptr<QThread> reader(QThread::create([&rig] {
        LFTAG_INFO tag = reading(QStringLiteral("A0000001"), kNowMs);
        rig.bo.notifyTagScaned(&tag);
    }));
    reader->start();
    QVERIFY(reader->wait(kWaitMs));
    rig.bo.requestExit();
    rig.tick(1); // stops the engine while the reading is still queued
    QVERIFY(rig.bo.isFinished());
    QCoreApplication::sendPostedEvents(&rig.bo);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).ringTime, qint64(0));
    QCOMPARE(rig.logRows(), 0);
}

void TestArrival::readingFromAReceiverInTheEngineThread_waitsItsTurn()
{
    Rig rig;
    rig.start();
    // A receiver in the engine's own thread hands in further readings while
    // the first arrival is being announced: they are processed after it.
    QStringList order;
    int next = 2;
    connect(&rig.bo, &PigeonBo::pigeonBack, &rig.bo, [&](const PigeonRecord &record) {
        order << record.eringNum;
        while (next <= 3) {
            LFTAG_INFO tag = reading(QStringLiteral("A000000%1").arg(next++), kNowMs);
            rig.bo.notifyTagScaned(&tag);
        }
    }, Qt::DirectConnection);
    rig.hand(reading(QStringLiteral("A0000001"), kNowMs - 10));
    QCOMPARE(order, (QStringList{"A0000001", "A0000002", "A0000003"}));
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-01")).order, 1);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-02")).order, 2);
    QCOMPARE(rig.arrival(QStringLiteral("NL-24-03")).order, 3);
}

QTEST_GUILESS_MAIN(TestArrival)
#include "tst_arrival.moc"
