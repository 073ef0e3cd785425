// The club router link against a misbehaving router, one fault mode a row:
// the synchronous call made while the router misbehaves gets the link's own
// error (or the value a refusal gives), a ring lying at the router's reader
// during the fault reaches basketing once the router behaves again, exactly
// once, the link comes back by itself (no restart of the link thread) and
// the GUI thread, which makes the synchronous calls as the screens do, is
// never blocked past the synchronous-call bound. Answer time-outs and the
// synchronous bound are scaled down by the link's seams, keeping their ratio.
// The same line serves the club's connector reader during races: rings it
// read while it was unplugged reach the race engine once it is back.
#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "race/pigeonbo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "clubstation.h"
#include "connectorreader.h"
#include "messagecapture.h"
#include "simloft.h"
#include "storagefixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <functional>
#include <memory>
#include <utility>

namespace {

// The router's answer time-outs (5000 and 2000 ms) and the synchronous-call
// bound (10000 ms) all divided by this.
constexpr int kDivisor = 20;
constexpr int kSyncBoundMs = 10000 / kDivisor;
constexpr int kLongAnswerMs = 5000 / kDivisor;
// A link that gave up on its router tries again about every second.
constexpr int kRecoverMs = 6000;
constexpr int kReactMs = 3000;
constexpr unsigned long kStopMs = 5000;

constexpr quint8 kGetTime = 0x52;
constexpr quint8 kReadTag = 0xB7;
constexpr quint8 kRingRand = 7;
constexpr int kLongTailBytes = 230; // an answer of about 250 bytes
const char kRaceCode[] = "R2026";

using Fault = ClubPortPeer::Fault;

// How the router misbehaves; the first ones are the peer's own faults.
enum Mode { Silence, CutOff, Garbled, BadSum, WrongEcho, Late, Refuse, HangUp, LongAnswers };
enum Call { GetTime, SetTime };
// What the ring read asked for during the fault gives.
enum ReadDuring { NoSignal, EmptyRing, TheRing };

// The link thread's signals, received queued in the test's thread.
class Recorder : public QObject
{
public:
    explicit Recorder(MorlanProtocolProcess *process)
    {
        const auto queued = Qt::QueuedConnection;
        connect(process, &MorlanProtocolProcess::routerDisconnected, this, [this] { ++disconnects; }, queued);
        connect(process, &MorlanProtocolProcess::routerAuthed, this, [this] { ++authorisations; }, queued);
        connect(process, &MorlanProtocolProcess::readTagEnd, this,
                [this](QString ring, quint8 rand, QString) { tags << QStringLiteral("%1/%2").arg(ring).arg(rand); },
                queued);
    }
    int disconnects = 0;
    int authorisations = 0;
    QStringList tags;
};

QString outcomeOf(const std::function<qint64()> &f, qint64 *value)
{
    try {
        *value = f();
        return QStringLiteral("returns");
    } catch (const VexException &e) {
        return QStringLiteral("0x%1 %2").arg(e.getErrorCode(), 0, 16).arg(e.getErrorMessage());
    }
}

// The get-time answer's data for a UTC time: text, flags, time status.
QByteArray timeAnswer(qint64 utcMs)
{
    return ClubRouter::timeText(utcMs) + QByteArray(1, '\0') + QByteArray(1, '\x01');
}

qint64 testDayAt(int hour)
{
    return QDateTime(QDate(2026, 4, 18), QTime(hour, 0), Qt::UTC).toMSecsSinceEpoch();
}

} // namespace

class TestClubFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void faultMode_errorThenRecoveryNoRingLost_data();
    void faultMode_errorThenRecoveryNoRingLost();
    void connectorHangsUp_ringsReachTheEngineOnce();

private:
    void openStation();
    void misbehave(Mode mode, int value, const QByteArray &raw);
    bool behave(Mode mode);

    std::unique_ptr<StorageFixture> db;
    std::unique_ptr<ClubPortPeer> peer;
    std::unique_ptr<ClubStation> station;
    QString ring;
};

void TestClubFaults::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>();
}

void TestClubFaults::init()
{
    db = std::make_unique<StorageFixture>();
    SimLoft::setUp();
    ring = SimLoft::defaultPigeons().first().ring;
    RaceInfo race;
    race.raceCode = QLatin1String(kRaceCode);
    race.raceName = QStringLiteral("Orleans");
    race.liberName = QStringLiteral("Orleans");
    race.liberTime = UTC::now().value() + 86400000;
    race.valid = 1;
    Storage::instance()->saveRace(&race);

    QDir().mkpath(db->root().path(QStringLiteral("/dev")));
    peer = std::make_unique<ClubPortPeer>();
    QVERIFY(peer->linkAt(db->root().path(QStringLiteral("/dev/ttyS2"))));
    QVERIFY(peer->start());
}

void TestClubFaults::openStation()
{
    // Basketing happens on the day the test runs: the router's clock shows it.
    peer->router().setClock(UTC::now().value());
    station = std::make_unique<ClubStation>();
    station->link().setAnswerTimeoutDivisor(kDivisor);
    station->link().setSyncTimeoutMs(kSyncBoundMs);
    QVERIFY(station->open());
    station->startRaceMark(QLatin1String(kRaceCode));
}

void TestClubFaults::cleanup()
{
    station.reset();
    peer.reset();
    db.reset();
}

void TestClubFaults::misbehave(Mode mode, int value, const QByteArray &raw)
{
    constexpr int kEveryAnswer = 1 << 30;
    switch (mode) {
    case HangUp:
        peer->hangUp();
        break;
    case LongAnswers: {
        // A router with a long status block after the time and a long
        // block after the ring: valid frames of about 250 bytes, paced.
        const QByteArray tail(kLongTailBytes, '\x5a');
        peer->setAnswer(kGetTime, 0, timeAnswer(testDayAt(value)) + tail);
        peer->setAnswer(kReadTag, 0, QByteArray::fromHex("0005") + QByteArray::fromHex(ring.toLatin1())
                                         + QByteArray(1, char(kRingRand)) + tail);
        break;
    }
    default: {
        static const Fault::Kind kinds[] = {Fault::Silence, Fault::CutOff, Fault::Raw, Fault::BadSum,
                                            Fault::WrongEcho, Fault::Late, Fault::Refuse};
        peer->setNextFaults(kEveryAnswer, Fault{kinds[mode], value, raw});
        break;
    }
    }
}

bool TestClubFaults::behave(Mode mode)
{
    peer->clearFaults();
    peer->clearAnswer(kGetTime);
    peer->clearAnswer(kReadTag);
    return mode != HangUp || peer->comeBack();
}

void TestClubFaults::faultMode_errorThenRecoveryNoRingLost_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("call");
    // The outcomes the call may have ("returns", or the code and message).
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<qint64>("returned");
    QTest::addColumn<int>("readDuring");
    // A second call while the link is down: it waits out the whole bound.
    QTest::addColumn<bool>("callWhileDown");

    const QStringList noAnswer{"0x506 Morlan no response!"};
    QTest::newRow("silence") << int(Silence) << 0 << QByteArray() << int(GetTime) << noAnswer << qint64(0)
                             << int(NoSignal) << true;
    QTest::newRow("short frame") << int(CutOff) << 5 << QByteArray() << int(GetTime)
                                 << QStringList{"0x508 Morlan response overtime!"} << qint64(0) << int(NoSignal) << false;
    // Line noise: no start byte, then bytes that frame nothing.
    QTest::newRow("garbled bytes") << int(Garbled) << 0 << QByteArray::fromHex("a5ff00c3137e33")
                                   << int(GetTime) << QStringList{"0x500 Morlan response exception!"} << qint64(0)
                                   << int(NoSignal) << false;
    QTest::newRow("bad checksum") << int(BadSum) << 0 << QByteArray() << int(GetTime)
                                  << QStringList{"0x503 Response crc error!"} << qint64(0) << int(NoSignal) << false;
    QTest::newRow("answer to another command") << int(WrongEcho) << 0 << QByteArray() << int(GetTime)
                                               << QStringList{"0x501 error morlan cmd!"} << qint64(0)
                                               << int(NoSignal) << false;
    // Answered after the caller's time-out (and after the ring read's): the
    // stale answers must not be taken for later ones.
    QTest::newRow("late answers") << int(Late) << kLongAnswerMs + 150 << QByteArray() << int(GetTime) << noAnswer
                                  << qint64(0) << int(NoSignal) << false;
    QTest::newRow("refusals, set time") << int(Refuse) << 0x21 << QByteArray() << int(SetTime)
                                        << QStringList{"0x500 Set time failed!"} << qint64(0) << int(EmptyRing)
                                        << false;
    // A refused time is no error: the caller gets 0.
    QTest::newRow("refusals, get time") << int(Refuse) << 0x21 << QByteArray() << int(GetTime)
                                        << QStringList{"returns"} << qint64(0) << int(EmptyRing) << false;
    // Unplugged and plugged in again: the call either fails on the dead line
    // or waits out its bound while the link opens the port afresh.
    QTest::newRow("hang-up, then back") << int(HangUp) << 0 << QByteArray() << int(GetTime)
                                        << QStringList{"0x105 Communication send failed!", "0x1201 Semaphore timeout!",
                                                       "0x506 Morlan no response!"}
                                        << qint64(0) << int(NoSignal) << true;
    // Not a fault: answers of about 250 bytes at 9600 baud take about 260 ms
    // on the line and must be received whole.
    QTest::newRow("long answers at 9600 baud") << int(LongAnswers) << 9 << QByteArray() << int(GetTime)
                                               << QStringList{"returns"} << testDayAt(9) + 500 << int(TheRing) << false;
}

void TestClubFaults::faultMode_errorThenRecoveryNoRingLost()
{
    QFETCH(int, mode);
    QFETCH(int, value);
    QFETCH(QByteArray, raw);
    QFETCH(int, call);
    QFETCH(QStringList, outcomes);
    QFETCH(qint64, returned);
    QFETCH(int, readDuring);
    QFETCH(bool, callWhileDown);

    openStation();
    if (QTest::currentTestFailed())
        return;
    MorlanProtocolProcess &link = station->link();
    Recorder recorder(&link);
    MessageCapture capture;
    const int opensBefore = peer->openCount();
    const int marksBefore = db->value(QStringLiteral("select count(*) from Log where LogType=6")).toInt();
    // The pigeon's ring lies at the router's reader all along.
    peer->router().presentRing(QByteArray::fromHex(ring.toLatin1()), kRingRand);

    misbehave(Mode(mode), value, raw);
    qint64 got = -1;
    const QString outcome = outcomeOf([&]() -> qint64 {
        if (call == SetTime) {
            link.setTimeSync(testDayAt(10));
            return 0;
        }
        return link.getTimeSync();
    }, &got);
    QVERIFY2(outcomes.contains(outcome), qPrintable(outcome));
    if (outcome == QLatin1String("returns"))
        QCOMPARE(got, returned);

    // The basketing screen asks for the ring while the router misbehaves.
    link.startReadTag();
    switch (readDuring) {
    case NoSignal:
        // The read fails on the line: no ring is reported and the link drops.
        QTRY_VERIFY_WITH_TIMEOUT(recorder.disconnects > 0, kReactMs);
        break;
    case EmptyRing:
        QTRY_COMPARE_WITH_TIMEOUT(recorder.tags, QStringList{"/0"}, kReactMs);
        break;
    case TheRing:
        QTRY_COMPARE_WITH_TIMEOUT(recorder.tags, QStringList{ring + "/7"}, kReactMs);
        break;
    }
    if (callWhileDown) {
        qint64 none = 0;
        const QString down = outcomeOf([&] { return link.getTimeSync(); }, &none);
        QVERIFY2(down != QLatin1String("returns"), qPrintable(down));
    }

    // The router behaves again: the link comes back by itself, and the next
    // command reads the router's clock as it is now, not a stale answer.
    QVERIFY(behave(Mode(mode)));
    if (readDuring == NoSignal)
        QTRY_VERIFY_WITH_TIMEOUT(recorder.authorisations > 0, kRecoverMs);
    QVERIFY(link.isAuthed());
    const qint64 clockNow = testDayAt(11);
    QElapsedTimer sinceSet;
    sinceSet.start();
    peer->router().setClock(clockNow);
    qint64 time = 0;
    QCOMPARE(outcomeOf([&] { return link.getTimeSync(); }, &time), QStringLiteral("returns"));
    // The clock as set, run on by no more than the time since (a second's
    // resolution on the wire, read as the middle of that second).
    QVERIFY2(time >= clockNow + 500 && time <= clockNow + 500 + sinceSet.elapsed() + 1000,
             qPrintable(QString::number(time - clockNow)));
    if (mode == HangUp)
        QVERIFY(peer->openCount() > opensBefore); // the port was opened afresh
    else
        QCOMPARE(peer->openCount(), opensBefore);

    // The ring read during the fault reaches basketing now, exactly once.
    QCOMPARE(station->markPigeon(QLatin1String(kRaceCode)), ring);
    for (const QString &tag : std::as_const(recorder.tags))
        QVERIFY2(tag == ring + "/7" || tag == QLatin1String("/0"), qPrintable(tag));
    const QSharedPointer<PigeonRecord> record = Storage::instance()->findRecordByEring(ring);
    QVERIFY(record);
    QVERIFY(record->markTime != 0);
    QCOMPARE(record->raceCode, QLatin1String(kRaceCode));
    QCOMPARE(Storage::instance()->getMarkedPigeonCount(QLatin1String(kRaceCode)), 1);
    QCOMPARE(db->value(QStringLiteral("select count(*) from Log where LogType=6")).toInt(), marksBefore + 1);

    QVERIFY(link.isRunning());
    QVERIFY(!capture.contains(QStringLiteral("UnknowException")));
}

void TestClubFaults::connectorHangsUp_ringsReachTheEngineOnce()
{
    PigeonBo engine;
    ServiceFactory::getInstance()->pigeonBo = &engine;
    struct Withdraw {
        ~Withdraw() { ServiceFactory::getInstance()->pigeonBo = nullptr; }
    } withdraw;
    QStringList handedOn;
    QObject receiver;
    connect(&engine, &PigeonBo::tagScaned, &receiver, [&handedOn](LFTAG_INFO tag) { handedOn << tag.eRing; },
            Qt::QueuedConnection);
    ConnectorReader &reader = peer->connector();

    MorlanProtocolProcess link(_serialPort_miniDin);
    // The connector answers at device address 0.
    link.setParamReader([](const QString &, int) { return 1; });
    link.start();
    link.switchWorkMode(MorlanProtocolProcess::Normal, true);
    QTRY_VERIFY_WITH_TIMEOUT(link.isConnectorReady(), kReactMs);
    reader.addRecord(QByteArray::fromHex("0000c001"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(handedOn, QStringList{"0000C001"}, kReactMs);
    const int opensBefore = peer->openCount();

    // Unplugged; the pigeons landing meanwhile are kept in the reader.
    peer->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!link.isConnectorReady(), kReactMs);
    reader.addRecord(QByteArray::fromHex("0000c002"), 2);
    reader.addRecord(QByteArray::fromHex("0000c003"), 3);
    QTest::qWait(200);
    QCOMPARE(handedOn.size(), 1);

    QVERIFY(peer->comeBack());
    QTRY_VERIFY_WITH_TIMEOUT(link.isConnectorReady(), kRecoverMs);
    QTRY_COMPARE_WITH_TIMEOUT(reader.recordCount(), 0, kRecoverMs);
    QTRY_COMPARE_WITH_TIMEOUT(handedOn, (QStringList{"0000C001", "0000C002", "0000C003"}), kReactMs);
    // Removed from the reader once handed on: none comes a second time.
    QTest::qWait(300);
    QCOMPARE(handedOn.size(), 3);
    QVERIFY(peer->openCount() > opensBefore);
    link.requestExit();
    QVERIFY(link.wait(kStopMs));
}

QTEST_GUILESS_MAIN(TestClubFaults)
#include "tst_clubfaults.moc"
