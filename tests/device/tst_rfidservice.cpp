#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include "innermodulepeer.h"
#include "messagecapture.h"
#include "storagefixture.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <functional>

Q_DECLARE_METATYPE(RingFault)

namespace {
constexpr int kWaitMs = 10000;     // bound for what happens within a few polls
constexpr int kStopMs = 5000;
constexpr int kLongBackoffMs = 60000; // a back-off no stop may wait out
constexpr int kGpioRf = 40;
const QString kModuleId = QStringLiteral("5A0C1B17");
const RFIDService::Timing kFast{20, 200};

QByteArray le32(quint32 v)
{
    QByteArray out;
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
    return out;
}

qint64 fromLe64(const QByteArray &in)
{
    quint64 v = 0;
    for (int i = 0; i < 8; ++i)
        v |= quint64(quint8(in.at(i))) << (8 * i);
    return qint64(v);
}

QString ring(int n)
{
    return QStringLiteral("%1").arg(n, 8, 16, QLatin1Char('0')).toUpper();
}
} // namespace

// Carries the engine's signals into the test thread, where QSignalSpy may
// safely count them.
class Relay : public QObject
{
    Q_OBJECT
signals:
    void tag(LFTAG_INFO tag);
    void channels();
};

namespace {

// The service thread's part for these tests: a real race engine started in a
// thread of its own on the test's database and published through the factory.
class EngineThread : public QThread
{
public:
    ~EngineThread() override
    {
        quit();
        wait(kStopMs);
    }
    PigeonBo *engine() const { return bo.load(); }
    bool waitReady() { return ready.tryAcquire(1, kWaitMs); }

protected:
    void run() override
    {
        PigeonBo engineObject;
        engineObject.start();
        ServiceFactory::getInstance()->pigeonBo = &engineObject;
        bo = &engineObject;
        ready.release();
        exec();
        bo = nullptr;
        ServiceFactory::getInstance()->pigeonBo = nullptr;
        Storage::destroy();
    }

private:
    std::atomic<PigeonBo *> bo{nullptr};
    QSemaphore ready;
};

// The polling service on a simulated device: the module peer on
// <root>/dev/ttyS3, a fresh database, the engine in its thread. Members die in
// reverse order: the service stops before the engine and the peer.
struct PollRig
{
    explicit PollRig(int raceMode = 0x311)
        : rfid(QStringLiteral("/dev/ttyS3"), raceMode)
    {
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        HardwareControl::init(0); // board type 2 of the root: reader power on GPIO 40
        db.root().setGpio(kGpioRf, 0);
        peer.linkUnder(db.root().root(), QStringLiteral("/dev/ttyS3"));
        peer.start();
        engineThread.start();
        ready = engineThread.waitReady();
        if (ready) {
            QObject::connect(engineThread.engine(), &PigeonBo::tagScaned, &relay, &Relay::tag);
            QObject::connect(engineThread.engine(), &PigeonBo::channelsChanged, &relay, &Relay::channels);
        }
        rfid.setTiming(kFast);
    }
    ~PollRig()
    {
        rfid.requestExit();
        rfid.wait(kStopMs);
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
    }

    QList<RingWire::Frame> race(quint8 command) const
    {
        return peer.commands(InnerModulePeer::kGroupRace, command);
    }
    QList<InnerModulePeer::HostInfo> exchanges() const
    {
        QList<InnerModulePeer::HostInfo> out;
        for (const RingWire::Frame &f : race(InnerModulePeer::ExchangeInfo))
            out.append(InnerModulePeer::hostInfo(f));
        return out;
    }
    // Group-0 frames; for the query command only those with this selector.
    int group0(quint8 command, int selector = -1) const
    {
        int n = 0;
        for (const RingWire::Frame &f : peer.commands(0, command)) {
            if (selector < 0 || (f.data.size() == 1 && quint8(f.data.at(0)) == selector))
                ++n;
        }
        return n;
    }
    // Waits until the module has answered `more` further exchanges.
    bool morePolls(int more) const
    {
        const qsizetype target = race(InnerModulePeer::ExchangeInfo).size() + more;
        QElapsedTimer timer;
        timer.start();
        while (race(InnerModulePeer::ExchangeInfo).size() < target) {
            if (timer.elapsed() > kWaitMs)
                return false;
            peer.waitForFrames(int(peer.frames().size()) + 1, 200);
        }
        return true;
    }
    PigeonBo *engine() const { return engineThread.engine(); }

    StorageFixture db;
    InnerModulePeer peer;
    EngineThread engineThread;
    Relay relay;
    bool ready = false;
    RFIDService rfid;
};

QStringList rings(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).value<LFTAG_INFO>().eRing;
    return out;
}

} // namespace

// The ring-reader polling thread against the module peer, handing to a real
// race engine: lists by version, hand-over, time flags, the pending module
// mode, reconnection after every fault, and a prompt exit.
class TestRFIDService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void channels_newListReadOnceInIndexOrder();
    void raceMode0x111_readsTagsNeverChannels();
    void raceMode0_pollsEvery100msWithoutLists();
    void newTagVersionWithNoReadings_takesVersion();
    void getTagFailsAtIndex2_handsOnTwoThenAllFive();
    void startRace_onePerConnection_raceModeAtNextPoll();

    void writeFlag_sendsTheDeviceTimeOfThePoll();
    void readFlag_setsClockOrRefuses_data();
    void readFlag_setsClockOrRefuses();
    void timeFlag_survivesFailedCommand_data();
    void timeFlag_survivesFailedCommand();
    void timeFlag_requestedWhileOnTheLine_isServedAgain_data();
    void timeFlag_requestedWhileOnTheLine_isServedAgain();

    void pendingMode_data();
    void pendingMode();
    void pendingMode_writtenDuringFailingSync_servedAfterReconnect();

    void badInput_endsLoopAndReconnects_data();
    void badInput_endsLoopAndReconnects();
    void landingsDuringFault_noneLost_data();
    void landingsDuringFault_noneLost();
    void silence_retriesEachBackoffUntilAnswered();
    void exitDuringBackoff_isPromptAndPowersOff();
    void exitDuringLongList_isPrompt();
    void getters_neverWaitForTheLine();
};

void TestRFIDService::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
}

void TestRFIDService::channels_newListReadOnceInIndexOrder()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    InnerModulePeer::Channel a, b, c;
    a.id = QByteArray::fromHex("00000A01");
    b.id = QByteArray::fromHex("00000B02");
    b.status = 0x81; // in error
    c.id = QByteArray::fromHex("00000C03");
    c.type = 0x1011;
    rig.peer.setChannels({a, b, c});
    QSignalSpy changed(&rig.relay, &Relay::channels);
    rig.rfid.start();

    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, kWaitMs);
    QVERIFY(rig.morePolls(3));
    QCOMPARE(changed.count(), 1); // the version was taken: not read again
    const QList<RingWire::Frame> reads = rig.race(InnerModulePeer::GetChannel);
    QCOMPARE(reads.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(reads.at(i).data, le32(quint32(i)));
    const QList<LFCHANNEL_INFO> cached = rig.engine()->getChannels();
    QCOMPARE(cached.size(), 3);
    QCOMPARE(cached.at(0).id, QStringLiteral("00000A01"));
    QCOMPARE(cached.at(1).id, QStringLiteral("00000B02"));
    QCOMPARE(cached.at(1).status & 0x80, 0x80);
    QCOMPARE(cached.at(2).type, quint16(0x1011));

    // A channel going into error moves the version: one more list.
    rig.peer.setChannelStatus(2, 0x80);
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 2, kWaitMs);
    QCOMPARE(rig.engine()->getChannels().at(2).status, quint8(0x80));
    QCOMPARE(rig.race(InnerModulePeer::GetChannel).size(), 6);
}

void TestRFIDService::raceMode0x111_readsTagsNeverChannels()
{
    PollRig rig(0x111);
    QVERIFY(rig.ready);
    QSignalSpy tags(&rig.relay, &Relay::tag);
    rig.rfid.start();
    QVERIFY(rig.morePolls(1));
    rig.peer.setChannels({InnerModulePeer::Channel{}, InnerModulePeer::Channel{}});
    rig.peer.presentTag(QStringLiteral("12345678"), QStringLiteral("0000ABCD"), 42);

    QTRY_COMPARE_WITH_TIMEOUT(tags.count(), 1, kWaitMs);
    const LFTAG_INFO tag = tags.first().at(0).value<LFTAG_INFO>();
    QCOMPARE(tag.eRing, QStringLiteral("12345678"));
    QCOMPARE(tag.uid, QStringLiteral("0000ABCD"));
    QCOMPARE(tag.randNum, 42);
    QVERIFY(rig.morePolls(2));
    QCOMPARE(rig.race(InnerModulePeer::GetChannel).size(), 0);
    QCOMPARE(rig.exchanges().last().flags, 0x111);
}

void TestRFIDService::raceMode0_pollsEvery100msWithoutLists()
{
    PollRig rig(0);
    QVERIFY(rig.ready);
    rig.peer.presentTag(QStringLiteral("0000AAAA"));
    rig.peer.setChannels({InnerModulePeer::Channel{}});
    QSignalSpy tags(&rig.relay, &Relay::tag);
    rig.rfid.start();
    QVERIFY(rig.morePolls(10));
    rig.peer.presentTag(QStringLiteral("0000BBBB"));
    QVERIFY(rig.morePolls(2));

    const QList<InnerModulePeer::HostInfo> polls = rig.exchanges();
    qint64 sumGapMs = 0;
    for (int i = 0; i < polls.size(); ++i) {
        QVERIFY(polls.at(i).present);
        QCOMPARE(polls.at(i).flags, 0);
        QCOMPARE(polls.at(i).tagVer, 0u);
        if (i > 0) {
            const qint64 gap = polls.at(i).time - polls.at(i - 1).time;
            QVERIFY2(gap >= 100, qPrintable(QString::number(gap)));
            sumGapMs += gap;
        }
    }
    // The period is the 100 ms sleep plus one short exchange.
    QVERIFY2(sumGapMs / (polls.size() - 1) < 300, qPrintable(QString::number(sumGapMs)));
    QCOMPARE(rig.race(InnerModulePeer::GetTag).size(), 0);
    QCOMPARE(rig.race(InnerModulePeer::GetChannel).size(), 0);
    QCOMPARE(tags.count(), 0);
}

void TestRFIDService::newTagVersionWithNoReadings_takesVersion()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    rig.peer.presentTag(QStringLiteral("00000001"));
    QSignalSpy tags(&rig.relay, &Relay::tag);
    rig.rfid.start();
    QTRY_COMPARE_WITH_TIMEOUT(tags.count(), 1, kWaitMs);
    QVERIFY(rig.morePolls(1));
    QCOMPARE(rig.exchanges().last().tagVer, 2u);

    // A restarted module reports version 1 with an empty list.
    rig.peer.reboot();
    QVERIFY(rig.morePolls(3));
    QCOMPARE(rig.exchanges().last().tagVer, 1u);
    QCOMPARE(rig.race(InnerModulePeer::GetTag).size(), 1);

    // The next landing is one reading, read once.
    rig.peer.presentTag(QStringLiteral("00000002"));
    QTRY_COMPARE_WITH_TIMEOUT(tags.count(), 2, kWaitMs);
    QVERIFY(rig.morePolls(2));
    QCOMPARE(rig.race(InnerModulePeer::GetTag).size(), 2);
    QCOMPARE(rings(tags), (QStringList{ring(1), ring(2)}));
}

void TestRFIDService::getTagFailsAtIndex2_handsOnTwoThenAllFive()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    for (int i = 1; i <= 5; ++i)
        rig.peer.presentTag(ring(i));
    rig.peer.failOnce(InnerModulePeer::kGroupRace, InnerModulePeer::GetTag, 5, 2);
    QSignalSpy tags(&rig.relay, &Relay::tag);
    rig.rfid.start();

    QTRY_COMPARE_WITH_TIMEOUT(tags.count(), 7, kWaitMs);
    QVERIFY(rig.morePolls(2));
    QCOMPARE(tags.count(), 7);
    QCOMPARE(rings(tags), (QStringList{ring(1), ring(2), ring(1), ring(2), ring(3), ring(4), ring(5)}));
    QCOMPARE(rig.race(InnerModulePeer::StartRace).size(), 2); // one per connection
    // The version is taken once the whole list was read.
    QCOMPARE(rig.exchanges().last().tagVer, 6u);
}

void TestRFIDService::startRace_onePerConnection_raceModeAtNextPoll()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    UTC::_clubTimeDiff = 7000;
    const qint64 before = UTC::clubTime().value();
    rig.rfid.start();
    QVERIFY(rig.morePolls(3));
    const qint64 after = UTC::clubTime().value();
    const QList<RingWire::Frame> starts = rig.race(InnerModulePeer::StartRace);
    QCOMPARE(starts.size(), 1);
    QCOMPARE(starts.first().data.left(8), QByteArray(4, '\0') + le32(0x311));
    const qint64 club = fromLe64(starts.first().data.mid(8));
    QVERIFY(club >= before && club <= after);
    QCOMPARE(rig.exchanges().last().flags, 0x311);

    rig.rfid.setRaceMode(0x111);
    QTRY_COMPARE_WITH_TIMEOUT(rig.exchanges().last().flags, 0x111, kWaitMs);
    QCOMPARE(rig.race(InnerModulePeer::StartRace).size(), 1);
    QCOMPARE(rig.rfid.getRaceMode(), 0x111);
}

void TestRFIDService::writeFlag_sendsTheDeviceTimeOfThePoll()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    rig.rfid.start();
    QVERIFY(rig.morePolls(1));
    QCOMPARE(rig.group0(9), 0);
    rig.rfid.requestVerifyDevTime();
    QTRY_COMPARE_WITH_TIMEOUT(rig.group0(9), 1, kWaitMs);
    QVERIFY(rig.morePolls(3));
    QCOMPARE(rig.group0(9), 1); // served once
    const qint64 written = fromLe64(rig.peer.commands(0, 9).first().data);
    QCOMPARE(rig.peer.clock(), written);
    // The same poll's exchange carries the same time.
    bool found = false;
    for (const InnerModulePeer::HostInfo &h : rig.exchanges())
        found = found || h.time == written;
    QVERIFY(found);
}

void TestRFIDService::readFlag_setsClockOrRefuses_data()
{
    QTest::addColumn<qint64>("moduleTime");
    QTest::addColumn<bool>("taken");
    QTest::newRow("2030") << qint64(1893456000000LL) << true;
    QTest::newRow("2020-01-01 00:00") << qint64(1577836800000LL) << true;
    QTest::newRow("a moment before 2020") << qint64(1577836799999LL) << false;
    QTest::newRow("lost clock: 0") << qint64(0) << false;
}

void TestRFIDService::readFlag_setsClockOrRefuses()
{
    QFETCH(qint64, moduleTime);
    QFETCH(bool, taken);
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    rig.peer.setDevType(InnerModulePeer::kTypeClock);
    rig.peer.setClock(moduleTime);
    MessageCapture capture;
    rig.rfid.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.rfid.getRfDevType(), quint16(0x4B31), kWaitMs);
    rig.rfid.requestVerifyRfTime();
    QTRY_COMPARE_WITH_TIMEOUT(rig.group0(8), 1, kWaitMs);
    QVERIFY(rig.morePolls(3));
    QCOMPARE(rig.group0(8), 1); // the flag was cleared either way
    QVERIFY(capture.contains(QStringLiteral("getTime from RF:") + QString::number(moduleTime)));
    if (taken) {
        QVERIFY(qAbs(UTC::now().value() - moduleTime) < 5000);
    } else {
        QCOMPARE(UTC::_timeBase.load(), qint64(0));
        QVERIFY(capture.contains(QStringLiteral("refused")));
    }
}

void TestRFIDService::timeFlag_survivesFailedCommand_data()
{
    QTest::addColumn<bool>("write");
    QTest::newRow("write, unanswered") << true;
    QTest::newRow("read, status 5") << false;
}

void TestRFIDService::timeFlag_survivesFailedCommand()
{
    QFETCH(bool, write);
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    const qint64 moduleTime = 1893456000000LL;
    rig.peer.setClock(moduleTime);
    rig.rfid.start();
    QVERIFY(rig.morePolls(1));
    const quint8 command = write ? 9 : 8;
    if (write) {
        rig.peer.silenceOnce(0, command);
        rig.rfid.requestVerifyDevTime();
    } else {
        rig.peer.failOnce(0, command, 5);
        rig.rfid.requestVerifyRfTime();
    }
    // Failed, reconnected, served on the first poll of the new connection.
    QTRY_COMPARE_WITH_TIMEOUT(rig.group0(command), 2, kWaitMs);
    QCOMPARE(rig.race(InnerModulePeer::StartRace).size(), 2);
    QVERIFY(rig.morePolls(2));
    QCOMPARE(rig.group0(command), 2);
    if (!write)
        QVERIFY(qAbs(UTC::now().value() - moduleTime) < 5000);
}

void TestRFIDService::timeFlag_requestedWhileOnTheLine_isServedAgain_data()
{
    QTest::addColumn<bool>("write");
    QTest::newRow("write the module clock") << true;
    QTest::newRow("read the module clock") << false;
}

// A second request made while the first command waits for its (late)
// answer is a request of its own: two commands go out, not one.
void TestRFIDService::timeFlag_requestedWhileOnTheLine_isServedAgain()
{
    QFETCH(bool, write);
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    rig.peer.setClock(1893456000000LL);
    rig.rfid.start();
    QVERIFY(rig.morePolls(1));
    const quint8 command = write ? 9 : 8;
    const auto request = [&rig, write] {
        if (write)
            rig.rfid.requestVerifyDevTime();
        else
            rig.rfid.requestVerifyRfTime();
    };
    RingFault late;
    late.delayMs = 80;
    rig.peer.setFault(late);
    request();
    // Watched on the peer's own signal, so the second request follows the
    // first command within its 80 ms on the line.
    while (rig.group0(command) == 0)
        QVERIFY(rig.peer.waitForFrames(int(rig.peer.frames().size()) + 1, kWaitMs));
    request();
    QTRY_VERIFY_WITH_TIMEOUT(rig.group0(command) >= 2, kWaitMs);
    rig.peer.setFault(RingFault{});
    // Served, and then no more: a command that timed out on a loaded host is
    // sent again, but nothing is repeated for ever.
    QVERIFY(rig.morePolls(2));
    const int served = rig.group0(command);
    QVERIFY(rig.morePolls(3));
    QCOMPARE(rig.group0(command), served);
}

void TestRFIDService::pendingMode_data()
{
    QTest::addColumn<int>("moduleMode");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("queries");  // initialisation parameters read
    QTest::addColumn<int>("initMode"); // mode initialised, -1 none
    QTest::newRow("1 on a 2 module") << 2 << 1 << 1 << 1;
    QTest::newRow("2 on a 1 module") << 1 << 2 << 1 << 2;
    QTest::newRow("2 on a 2 module") << 2 << 2 << 1 << -1;
    QTest::newRow("3 is discarded") << 1 << 3 << 0 << -1;
    QTest::newRow("255 is discarded") << 1 << 255 << 0 << -1;
}

void TestRFIDService::pendingMode()
{
    QFETCH(int, moduleMode);
    QFETCH(int, request);
    QFETCH(int, queries);
    QFETCH(int, initMode);
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    QByteArray params(16, '\0');
    params[0] = char(moduleMode);
    rig.peer.setInitParams(params);
    rig.rfid.start();
    QVERIFY(rig.morePolls(1));
    rig.rfid.setPendingModuleMode(quint8(request));
    QVERIFY(rig.morePolls(4));
    QCOMPARE(rig.group0(0, 6), queries);
    const QList<RingWire::Frame> inits = rig.peer.commands(0, 2);
    QCOMPARE(inits.size(), initMode < 0 ? 0 : 1);
    if (initMode >= 0)
        QCOMPARE(inits.first().data, QByteArray("KORVAND0") + char(initMode) + QByteArray(7, '\0'));
    QCOMPARE(rig.race(InnerModulePeer::StartRace).size(), 1); // no failure on the way
}

void TestRFIDService::pendingMode_writtenDuringFailingSync_servedAfterReconnect()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    QByteArray params(16, '\0');
    params[0] = 3;
    rig.peer.setInitParams(params);
    rig.rfid.start();
    QVERIFY(rig.morePolls(1));

    // The parameters come back slowly and refused: room to write a new request.
    rig.peer.failOnce(0, 0, 5, 6);
    RingFault slow;
    slow.byteGapMs = 60;
    rig.peer.setFault(slow);
    rig.rfid.setPendingModuleMode(2);
    QTRY_COMPARE_WITH_TIMEOUT(rig.group0(0, 6), 1, kWaitMs);
    rig.rfid.setPendingModuleMode(1);
    rig.peer.setFault(RingFault{});

    QTRY_COMPARE_WITH_TIMEOUT(rig.peer.commands(0, 2).size(), 1, kWaitMs);
    QVERIFY(rig.morePolls(2));
    const QList<RingWire::Frame> inits = rig.peer.commands(0, 2);
    QCOMPARE(inits.size(), 1);
    QCOMPARE(quint8(inits.first().data.at(8)), quint8(1));
    QCOMPARE(rig.race(InnerModulePeer::StartRace).size(), 2);
}

void TestRFIDService::badInput_endsLoopAndReconnects_data()
{
    QTest::addColumn<RingFault>("fault");
    QTest::addColumn<bool>("countsAllOnes");
    QTest::addColumn<bool>("recovers");
    RingFault f;
    f.silent = true;
    QTest::newRow("silence") << f << false << true;
    f = RingFault{};
    f.delayMs = 150;
    QTest::newRow("late first byte") << f << false << true;
    f = RingFault{};
    f.byteGapMs = 150;
    f.cut = RingFault::Cut::MidFrame; // the clock has long given up by then
    QTest::newRow("trickle past the byte wait") << f << false << true;
    f = RingFault{};
    f.garbageBefore = QByteArray::fromHex("00FF55");
    QTest::newRow("garbage before start") << f << false << true;
    f = RingFault{};
    f.wrongCrc = true;
    QTest::newRow("bad CRC") << f << false << true;
    f = RingFault{};
    f.type = 0x31;
    QTest::newRow("wrong packet type") << f << false << true;
    f = RingFault{};
    f.dataBytes = 3;
    QTest::newRow("short answer") << f << false << true;
    f = RingFault{};
    f.status = 9;
    QTest::newRow("non-zero status") << f << false << true;
    QTest::newRow("counts 0xFFFFFFFF") << RingFault{} << true << true;
    f = RingFault{};
    f.cut = RingFault::Cut::MidFrame;
    f.hangUpAfterMs = 0;
    QTest::newRow("hang-up") << f << false << false;
}

void TestRFIDService::badInput_endsLoopAndReconnects()
{
    QFETCH(RingFault, fault);
    QFETCH(bool, countsAllOnes);
    QFETCH(bool, recovers);
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    rig.peer.presentTag(QStringLiteral("0000F00D"));
    MessageCapture capture;
    rig.rfid.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.rfid.isValid(), kWaitMs);
    QVERIFY(rig.morePolls(1));

    if (countsAllOnes) {
        rig.peer.setCountsAllOnes(true);
        rig.peer.presentTag(QStringLiteral("0000BEEF"));
        QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QStringLiteral("Response format error!")), kWaitMs);
        rig.peer.setCountsAllOnes(false);
    } else {
        rig.peer.pushFault(fault);
    }
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QStringLiteral("RFIDService::run VexException!")), kWaitMs);
    if (recovers) {
        QTRY_COMPARE_WITH_TIMEOUT(rig.race(InnerModulePeer::StartRace).size(), 2, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(rig.rfid.isValid(), kWaitMs);
    } else {
        QVERIFY(!rig.rfid.isValid());
    }
    QVERIFY(rig.rfid.isRunning());

    rig.rfid.requestExit();
    QVERIFY(rig.rfid.wait(kStopMs));
    QVERIFY(!capture.contains(QStringLiteral("UnknowException")));
}

void TestRFIDService::landingsDuringFault_noneLost_data()
{
    badInput_endsLoopAndReconnects_data();
}

// Rings land while the module misbehaves in one of the ways above; once it
// behaves again every one of them reaches the race engine.
void TestRFIDService::landingsDuringFault_noneLost()
{
    QFETCH(RingFault, fault);
    QFETCH(bool, countsAllOnes);
    QFETCH(bool, recovers);
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    QSignalSpy tags(&rig.relay, &Relay::tag);
    MessageCapture capture;
    rig.rfid.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.rfid.isValid(), kWaitMs);
    QVERIFY(rig.morePolls(1));

    if (countsAllOnes)
        rig.peer.setCountsAllOnes(true);
    else
        rig.peer.setFault(fault);
    const QStringList landed{QStringLiteral("0000F001"), QStringLiteral("0000F002"), QStringLiteral("0000F003")};
    rig.peer.presentTags(landed);
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QStringLiteral("RFIDService::run VexException!")), kWaitMs);
    // A hung-up line stays down until the module is back on a new one; the
    // module kept its readings meanwhile.
    InnerModulePeer back;
    if (!recovers) {
        QVERIFY(back.linkUnder(rig.db.root().root(), QStringLiteral("/dev/ttyS3")));
        back.start();
        back.presentTags(landed);
    } else if (countsAllOnes) {
        rig.peer.setCountsAllOnes(false);
    } else {
        rig.peer.setFault(RingFault{});
    }

    QTRY_VERIFY_WITH_TIMEOUT(rig.rfid.isValid(), kWaitMs);
    for (const QString &ring : landed)
        QTRY_VERIFY_WITH_TIMEOUT(rings(tags).contains(ring), kWaitMs);
    QVERIFY(!capture.contains(QStringLiteral("UnknowException")));
    rig.rfid.requestExit();
    QVERIFY(rig.rfid.wait(kStopMs));
}

void TestRFIDService::silence_retriesEachBackoffUntilAnswered()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    RingFault silent;
    silent.silent = true;
    rig.peer.setFault(silent);
    rig.rfid.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.group0(0, 1) >= 3, kWaitMs); // a device-number query per attempt
    QVERIFY(!rig.rfid.isValid());
    QCOMPARE(rig.rfid.getModuleId(), QString());
    QCOMPARE(rig.race(InnerModulePeer::StartRace).size(), 0);

    rig.peer.setFault(RingFault{});
    QTRY_VERIFY_WITH_TIMEOUT(rig.rfid.isValid(), kWaitMs);
    QCOMPARE(rig.rfid.getModuleId(), kModuleId);
    QCOMPARE(rig.rfid.getRfDevType(), quint16(0x4A31));
}

void TestRFIDService::exitDuringBackoff_isPromptAndPowersOff()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    // A back-off far longer than the stop bound: only an exit that cuts it
    // short ends in time (how soon is a figure of the benchmarks).
    rig.rfid.setTiming({20, kLongBackoffMs});
    RingFault silent;
    silent.silent = true;
    rig.peer.setFault(silent);
    MessageCapture capture;
    rig.rfid.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.db.root().gpio(kGpioRf), 1, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QStringLiteral("RFIDService::run VexException!")), kWaitMs);

    rig.rfid.requestExit();
    QVERIFY(rig.rfid.wait(kStopMs));
    QCOMPARE(rig.db.root().gpio(kGpioRf), 0);
    QVERIFY(capture.contains(QStringLiteral("RFIDService Exit!")));
    QVERIFY(!rig.rfid.isValid());
}

void TestRFIDService::exitDuringLongList_isPrompt()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    QStringList many;
    for (int i = 1; i <= 300; ++i)
        many << ring(i);
    rig.peer.presentTags(many);
    RingFault paced;
    paced.baud = 9600; // about 45 ms a reading: the list takes many seconds
    rig.peer.setFault(paced);
    MessageCapture capture;
    rig.rfid.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.race(InnerModulePeer::GetTag).size() >= 3, kWaitMs);

    // The whole list would take many times the stop bound.
    rig.rfid.requestExit();
    QVERIFY(rig.rfid.wait(kStopMs));
    QVERIFY(rig.race(InnerModulePeer::GetTag).size() < 300);
    // Left through the ordinary end of the connection, not by an error.
    QVERIFY(capture.contains(QStringLiteral("RFIDService Exit doLoop!")));
    QVERIFY(!capture.contains(QStringLiteral("RFIDService::run VexException!")));
    QCOMPARE(rig.db.root().gpio(kGpioRf), 0);
}

void TestRFIDService::getters_neverWaitForTheLine()
{
    PollRig rig(0x311);
    QVERIFY(rig.ready);
    RingFault trickle;
    trickle.byteGapMs = 40; // each answer takes most of a second
    rig.peer.setFault(trickle);
    rig.rfid.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.group0(0, 1) >= 1, kWaitMs);

    // A getter that waited for the line would take an answer's time, so the
    // rounds would outlast the connection; these end while it still
    // connects (how long one takes is a figure of the benchmarks).
    for (int i = 0; i < 200; ++i) {
        rig.rfid.isValid();
        rig.rfid.getModuleId();
        rig.rfid.getRfDevType();
    }
    QVERIFY(!rig.rfid.isValid()); // still connecting
    QTRY_VERIFY_WITH_TIMEOUT(rig.rfid.isValid(), kWaitMs);
}

QTEST_GUILESS_MAIN(TestRFIDService)
#include "tst_rfidservice.moc"
