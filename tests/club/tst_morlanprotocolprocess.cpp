#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include "clubportpeer.h"
#include "connectorreader.h"
#include "messagecapture.h"
#include "testroot.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QMutex>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <sys/inotify.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ConnectorReader::Fault)

namespace {

// A trickled answer keeps the line busy for seconds after the clock gave up on it.
constexpr int kFaultRecoveryMs = 20000;

// Receives the race engine's signals in the test's thread (queued), so that
// the spies are only touched there.
class Relay : public QObject
{
    Q_OBJECT
signals:
    void tagScaned(LFTAG_INFO tag);
    void channelsChanged();
};

// The link thread reads "channelMode" from the test's database, through a
// seam that counts the reads and can make them fail as a broken database does.
class Params
{
public:
    // A null text leaves the parameter out of the table.
    void set(const QString &text)
    {
        if (!text.isNull())
            Storage::instance()->setParam(QStringLiteral("channelMode"), text);
    }
    void setFailing(bool on)
    {
        QMutexLocker lock(&mutex);
        failing = on;
    }
    int reads() const
    {
        QMutexLocker lock(&mutex);
        return readCount;
    }
    int read(const QString &key, int defaultValue)
    {
        {
            QMutexLocker lock(&mutex);
            ++readCount;
            if (failing)
                throw DBException(14, QStringLiteral("unable to open database file"), QString());
        }
        return ServiceFactory::getParamInt32(key, defaultValue);
    }

private:
    mutable QMutex mutex;
    bool failing = false;
    int readCount = 0;
};

constexpr int kStopMs = 5000;

} // namespace

class TestMorlanProtocolProcess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void modes_data();
    void modes();
    void clubModeAgain_noReopen();
    void idleWaited_returnsWithTheLineClosed();
    void exit_data();
    void exit();
    void normalMode_channelMode_data();
    void normalMode_channelMode();
    void connector_deliversRingsAndReaders();
    void connector_notAnswering_data();
    void connector_notAnswering();
    void connector_failingPoll_freshConnect_recordsComeAgain_data();
    void connector_failingPoll_freshConnect_recordsComeAgain();
    void connector_faults_noRecordLost_data();
    void connector_faults_noRecordLost();
    void printSync_outsideClubMode_timesOut();
    void getters_beforeClubMode_empty();
    void showTip_reachesAnotherThread();
    void parameterFailure_caughtInRun();
    void missingPort_retried_loggedOncePerMode();
    void unopenablePort_triedAboutOnceASecond();

private:
    void startProcess();

    std::unique_ptr<TestRoot> root;
    std::unique_ptr<ClubPortPeer> peer;
    std::unique_ptr<PigeonBo> bo;
    std::unique_ptr<Relay> relay;
    std::unique_ptr<Params> params;
    std::unique_ptr<MorlanProtocolProcess> process;
};

void TestMorlanProtocolProcess::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>();
    qRegisterMetaType<LFCHANNEL_INFO>();
}

void TestMorlanProtocolProcess::init()
{
    root = std::make_unique<TestRoot>();
    root->activate();
    Storage::init();
    QDir().mkpath(root->path(QStringLiteral("/dev")));
    peer = std::make_unique<ClubPortPeer>();
    QVERIFY(peer->linkAt(root->path(QStringLiteral("/dev/ttyS2"))));
    QVERIFY(peer->start());
    bo = std::make_unique<PigeonBo>();
    relay = std::make_unique<Relay>();
    connect(bo.get(), &PigeonBo::tagScaned, relay.get(), &Relay::tagScaned, Qt::QueuedConnection);
    connect(bo.get(), &PigeonBo::channelsChanged, relay.get(), &Relay::channelsChanged, Qt::QueuedConnection);
    ServiceFactory::getInstance()->pigeonBo = bo.get();
    params = std::make_unique<Params>();
}

void TestMorlanProtocolProcess::cleanup()
{
    if (process) {
        process->requestExit();
        QVERIFY(process->wait(kStopMs));
    }
    process.reset();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    relay.reset();
    bo.reset();
    peer.reset();
    params.reset();
    Storage::destroy();
    root.reset();
}

void TestMorlanProtocolProcess::startProcess()
{
    process = std::make_unique<MorlanProtocolProcess>(_serialPort_miniDin);
    Params *store = params.get();
    process->setParamReader([store](const QString &key, int value) { return store->read(key, value); });
    process->start(QThread::InheritPriority);
}

void TestMorlanProtocolProcess::modes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("baud");
    QTest::newRow("idle: closed") << 1 << false << 0;
    QTest::newRow("normal: 115200") << 2 << true << 115200;
    QTest::newRow("club: 9600") << 3 << true << 9600;
    QTest::newRow("comm: 9600") << 4 << true << 9600;
}

void TestMorlanProtocolProcess::modes()
{
    QFETCH(int, mode);
    QFETCH(bool, open);
    QFETCH(int, baud);
    startProcess();
    process->switchWorkMode(mode, true);
    QCOMPARE(process->getWorkMode(), mode);
    // The line is set up before the mode counts as taken.
    QCOMPARE(peer->clockEndOpen(), open);
    QCOMPARE(process->isValid(), open);
    if (open)
        QVERIFY(peer->lineSettings().fits(baud));
}

void TestMorlanProtocolProcess::clubModeAgain_noReopen()
{
    startProcess();
    process->switchWorkMode(3, true);
    QTRY_COMPARE(peer->openCount(), 1);
    process->switchWorkMode(3, false);
    QTest::qWait(200);
    QCOMPARE(peer->openCount(), 1);
    QCOMPARE(peer->closeCount(), 0);
}

void TestMorlanProtocolProcess::idleWaited_returnsWithTheLineClosed()
{
    startProcess();
    process->switchWorkMode(2, true);
    QVERIFY(peer->clockEndOpen());
    process->switchWorkMode(1, true);
    QVERIFY(!peer->clockEndOpen());
    QTRY_COMPARE(peer->closeCount(), 1);
}

void TestMorlanProtocolProcess::exit_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("idle") << 1;
    QTest::newRow("normal") << 2;
    QTest::newRow("club") << 3;
    QTest::newRow("comm") << 4;
}

void TestMorlanProtocolProcess::exit()
{
    QFETCH(int, mode);
    params->set(QStringLiteral("1"));
    startProcess();
    process->switchWorkMode(mode, true);
    process->requestExit();
    QVERIFY(process->wait(kStopMs));
    QCOMPARE(process->getWorkMode(), 0);
    QVERIFY(!peer->clockEndOpen());
    QVERIFY(!process->isValid());
    const int opens = peer->openCount();
    // Ignored once the thread has ended: no wait, no open.
    process->switchWorkMode(2, true);
    QCOMPARE(process->getWorkMode(), 0);
    QTest::qWait(100);
    QCOMPARE(peer->openCount(), opens);
}

void TestMorlanProtocolProcess::normalMode_channelMode_data()
{
    QTest::addColumn<QString>("channelMode");
    QTest::addColumn<int>("address"); // -1: no connector
    QTest::newRow("1: address 0") << "1" << 0;
    QTest::newRow("2: address 1") << "2" << 1;
    QTest::newRow("missing") << QString() << -1;
    QTest::newRow("0") << "0" << -1;
    QTest::newRow("3") << "3" << -1;
    QTest::newRow("abc") << "abc" << -1;
}

void TestMorlanProtocolProcess::normalMode_channelMode()
{
    QFETCH(QString, channelMode);
    QFETCH(int, address);
    params->set(channelMode);
    peer->connector().setAddress(quint8(qMax(address, 0)));
    startProcess();
    process->switchWorkMode(2, true);
    if (address >= 0) {
        QTRY_VERIFY(process->isConnectorReady());
        QTRY_VERIFY(!peer->connector().receivedOf(ConnectorReader::Status).isEmpty());
        QCOMPARE(peer->connector().receivedOf(ConnectorReader::Status).first().data, QByteArray(1, char(address)));
        return;
    }
    // No connector: the line stays open as it is, quiet, and the setting is
    // only looked at again about once a second.
    QTest::qWait(1200);
    QVERIFY(!process->isConnectorReady());
    QCOMPARE(peer->openCount(), 1);
    QCOMPARE(peer->closeCount(), 0);
    QVERIFY(peer->connector().received().isEmpty());
    QVERIFY2(params->reads() >= 1 && params->reads() <= 3, qPrintable(QString::number(params->reads())));
}

void TestMorlanProtocolProcess::connector_deliversRingsAndReaders()
{
    ConnectorReader &reader = peer->connector();
    ConnectorReader::ReaderEntry antenna;
    antenna.id = QByteArray::fromHex("00000a01");
    reader.addReader(antenna);
    antenna.id = QByteArray::fromHex("00000a02");
    antenna.status = 0x80;
    reader.addReader(antenna);
    QSignalSpy tags(relay.get(), &Relay::tagScaned);
    QSignalSpy channels(relay.get(), &Relay::channelsChanged);
    params->set(QStringLiteral("1"));
    startProcess();
    // The status bar asks for the connector all the time, from its own thread.
    std::atomic<bool> stopAsking{false};
    std::thread statusBar([&] {
        while (!stopAsking) {
            process->isConnectorReady();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    struct Join {
        std::atomic<bool> &stop;
        std::thread &thread;
        ~Join()
        {
            stop = true;
            thread.join();
        }
    } join{stopAsking, statusBar};
    process->switchWorkMode(2, true);
    QTRY_VERIFY(process->isConnectorReady());
    QTRY_COMPARE(channels.count(), 1);
    QTRY_VERIFY(!reader.receivedOf(ConnectorReader::Status).isEmpty());
    QCOMPARE(bo->getChannels().size(), 2);
    QCOMPARE(bo->getChannels().at(1).status, quint8(0x80));

    for (quint32 n = 1; n <= 3; ++n) {
        QByteArray ring = QByteArray::fromHex("0000ab00");
        ring[3] = char(n);
        reader.addRecord(ring, quint16(n));
    }
    QTRY_COMPARE(tags.count(), 3);
    for (int i = 0; i < 3; ++i) {
        const LFTAG_INFO tag = tags.at(i).at(0).value<LFTAG_INFO>();
        QCOMPARE(tag.randNum, i + 1);
        QCOMPARE(tag.stored, 0);
    }
    QTRY_COMPARE(reader.recordCount(), 0);
    const auto removals = reader.receivedOf(ConnectorReader::Remove);
    QCOMPARE(removals.size(), 1);
    QCOMPARE(removals[0].data, QByteArray::fromHex("0003000000"));

    // The reader list comes again only when its version moves.
    QTest::qWait(300);
    QCOMPARE(channels.count(), 1);
    reader.setReaderStatus(0, 0x80);
    QTRY_COMPARE(channels.count(), 2);
    QCOMPARE(bo->getChannels().at(0).status, quint8(0x80));
}

void TestMorlanProtocolProcess::connector_notAnswering_data()
{
    QTest::addColumn<bool>("wrongSpeed");
    QTest::newRow("silent") << false;
    QTest::newRow("at another speed") << true;
}

void TestMorlanProtocolProcess::connector_notAnswering()
{
    QFETCH(bool, wrongSpeed);
    ConnectorReader::Fault silent;
    silent.silent = true;
    if (wrongSpeed)
        peer->setRole(ClubPortPeer::Role::Router); // it only understands 9600 baud
    else
        peer->connector().setFault(ConnectorReader::DeviceNumber, silent);
    params->set(QStringLiteral("1"));
    startProcess();
    process->switchWorkMode(2, true);
    if (!wrongSpeed) {
        QTRY_COMPARE(peer->connector().receivedOf(ConnectorReader::DeviceNumber).size(), 1);
        QElapsedTimer timer;
        timer.start();
        QTRY_COMPARE_WITH_TIMEOUT(peer->connector().receivedOf(ConnectorReader::DeviceNumber).size(), 2, 3000);
        // About once a second, not at every pass.
        QVERIFY2(timer.elapsed() > 700, qPrintable(QString::number(timer.elapsed())));
    } else {
        QTest::qWait(1200);
    }
    QVERIFY(!process->isConnectorReady());
    QCOMPARE(peer->openCount(), 1);
    // Once the reader answers, the next retry finds it.
    peer->setRole(ClubPortPeer::Role::Auto);
    peer->connector().clearFaults();
    QTRY_VERIFY_WITH_TIMEOUT(process->isConnectorReady(), 3000);
}

void TestMorlanProtocolProcess::connector_failingPoll_freshConnect_recordsComeAgain_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QStringList>("rings");
    QTest::addColumn<QList<int>>("stored");
    // A garbled record answer: nothing was handed on, all comes with the
    // new connection's backlog.
    QTest::newRow("bad CRC on a record") << int(ConnectorReader::Record)
                                         << QStringList{"00000001", "00000002"} << QList<int>{1, 1};
    // A refused removal: what was handed on but not removed comes again.
    QTest::newRow("removal refused") << int(ConnectorReader::Remove)
                                     << QStringList{"00000001", "00000002", "00000001", "00000002"}
                                     << QList<int>{0, 0, 1, 1};
}

void TestMorlanProtocolProcess::connector_failingPoll_freshConnect_recordsComeAgain()
{
    QFETCH(int, command);
    QFETCH(QStringList, rings);
    QFETCH(QList<int>, stored);
    ConnectorReader &reader = peer->connector();
    ConnectorReader::Fault fault;
    fault.times = 1;
    if (command == ConnectorReader::Record) {
        fault.badCrc = true;
        fault.atIndex = 2;
    } else {
        fault.status = 9;
    }
    reader.setFault(command, fault);
    QSignalSpy tags(relay.get(), &Relay::tagScaned);
    params->set(QStringLiteral("1"));
    startProcess();
    process->switchWorkMode(2, true);
    QTRY_VERIFY(process->isConnectorReady());
    // After the first, empty synchronisation the records are live ones.
    QTRY_VERIFY(!reader.receivedOf(ConnectorReader::Status).isEmpty());
    reader.addRecord(QByteArray::fromHex("00000001"), 1);
    reader.addRecord(QByteArray::fromHex("00000002"), 2);
    QTRY_COMPARE(tags.count(), int(rings.size()));
    QTRY_COMPARE(reader.recordCount(), 0);
    QStringList gotRings;
    QList<int> gotStored;
    for (const auto &args : tags) {
        gotRings << args.at(0).value<LFTAG_INFO>().eRing;
        gotStored << args.at(0).value<LFTAG_INFO>().stored;
    }
    QCOMPARE(gotRings, rings);
    QCOMPARE(gotStored, stored);
    QCOMPARE(reader.receivedOf(ConnectorReader::DeviceNumber).size(), 2);
    QTRY_VERIFY(process->isConnectorReady());
}

void TestMorlanProtocolProcess::connector_faults_noRecordLost_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<ConnectorReader::Fault>("fault");
    // Each spoils two answers, then the reader behaves again.
    ConnectorReader::Fault f;
    f.times = 2;
    const ConnectorReader::Fault plain = f;
    const QList<QPair<const char *, int>> commands{
        {"status", ConnectorReader::Status}, {"record", ConnectorReader::Record}, {"removal", ConnectorReader::Remove}};
    for (const auto &command : commands) {
        const QByteArray name(command.first);
        f = plain;
        f.silent = true;
        QTest::newRow(name + ", silence") << command.second << f;
        f = plain;
        f.delayMs = 300; // past the 100 ms the clock waits for the first byte
        QTest::newRow(name + ", late answer") << command.second << f;
        f = plain;
        f.gapMs = 150; // past the 100 ms it waits for each further byte
        f.times = 1;   // the rest trickles on for seconds after the clock gave up
        QTest::newRow(name + ", trickled answer") << command.second << f;
        f = plain;
        f.badCrc = true;
        QTest::newRow(name + ", bad CRC") << command.second << f;
        f = plain;
        f.status = 9;
        QTest::newRow(name + ", refusal") << command.second << f;
        f = plain;
        f.dataBytes = 3;
        QTest::newRow(name + ", short answer") << command.second << f;
    }
}

// Rings read at the club's connector while it misbehaves: once it behaves
// again every one reaches the race engine and the reader's memory is emptied.
void TestMorlanProtocolProcess::connector_faults_noRecordLost()
{
    QFETCH(int, command);
    QFETCH(ConnectorReader::Fault, fault);
    ConnectorReader &reader = peer->connector();
    QSignalSpy tags(relay.get(), &Relay::tagScaned);
    params->set(QStringLiteral("1"));
    startProcess();
    process->switchWorkMode(2, true);
    QTRY_VERIFY(process->isConnectorReady());
    QTRY_VERIFY(!reader.receivedOf(ConnectorReader::Status).isEmpty());

    reader.setFault(command, fault);
    const QStringList landed{QStringLiteral("0000C001"), QStringLiteral("0000C002"), QStringLiteral("0000C003")};
    for (int i = 0; i < landed.size(); ++i)
        reader.addRecord(QByteArray::fromHex(landed.at(i).toLatin1()), quint16(i + 1));

    const auto handedOn = [&tags] {
        QStringList got;
        for (const auto &args : tags)
            got << args.at(0).value<LFTAG_INFO>().eRing;
        return got;
    };
    QTRY_COMPARE_WITH_TIMEOUT(reader.recordCount(), 0, kFaultRecoveryMs);
    for (const QString &ring : landed)
        QTRY_VERIFY2(handedOn().contains(ring), qPrintable(handedOn().join(QLatin1Char(' '))));
    QTRY_VERIFY(process->isConnectorReady());
}

void TestMorlanProtocolProcess::printSync_outsideClubMode_timesOut()
{
    startProcess();
    process->setSyncTimeoutMs(50);
    process->switchWorkMode(2, true);
    int code = 0;
    QString message;
    QElapsedTimer timer;
    timer.start();
    try {
        process->printSync(QStringLiteral("line"));
    } catch (const VexException &e) {
        code = e.getErrorCode();
        message = e.getErrorMessage();
    }
    QVERIFY(timer.elapsed() >= 50);
    QCOMPARE(code, 0x1201);
    QCOMPARE(message, QStringLiteral("Semaphore timeout!"));
    // Club mode sets up the router link, but the withdrawn print never runs.
    process->switchWorkMode(3, true);
    QTRY_VERIFY(process->isAuthed());
    QTest::qWait(100);
    QVERIFY(peer->framesOf(0x50).isEmpty());
    QVERIFY(peer->connector().received().isEmpty());
}

void TestMorlanProtocolProcess::getters_beforeClubMode_empty()
{
    startProcess();
    QVERIFY(process->getAuthKey().isEmpty());
    QVERIFY(process->getRouterId().isEmpty());
    QVERIFY(!process->isAuthed());
    QVERIFY(!process->isConnected());
    QVERIFY(!process->isConnectorReady());
}

void TestMorlanProtocolProcess::showTip_reachesAnotherThread()
{
    startProcess();
    QString shown;
    QObject receiver;
    connect(process.get(), &MorlanProtocolProcess::showTip, &receiver, [&shown](QString tip) { shown = tip; });
    std::thread slave([this] { process->onShowTip(QStringLiteral("Bonjour à tous")); });
    slave.join();
    QTRY_COMPARE(shown, QStringLiteral("Bonjour à tous"));
}

void TestMorlanProtocolProcess::parameterFailure_caughtInRun()
{
    MessageCapture capture;
    params->setFailing(true);
    startProcess();
    process->switchWorkMode(2, false);
    QTRY_VERIFY(capture.contains(QStringLiteral("MorlanProtocolProcess::run VexException!")));
    QVERIFY(process->isRunning());
    params->setFailing(false);
    params->set(QStringLiteral("1"));
    QTRY_VERIFY(process->isConnectorReady());
}

void TestMorlanProtocolProcess::missingPort_retried_loggedOncePerMode()
{
    QFile::remove(root->path(QStringLiteral("/dev/ttyS2")));
    MessageCapture capture;
    const QString failure = QStringLiteral("MorlanProtocolProcess: open");
    startProcess();
    // Logged when the mode starts, then not again for the retries of that
    // mode (the pause only checks that nothing more comes).
    process->switchWorkMode(2, true);
    QTRY_COMPARE(capture.count(failure), 1);
    QTest::qWait(150);
    QCOMPARE(capture.count(failure), 1);
    process->switchWorkMode(3, true);
    QTRY_COMPARE(capture.count(failure), 2);
    QTest::qWait(150);
    QCOMPARE(capture.count(failure), 2);
    QVERIFY(peer->linkAt(root->path(QStringLiteral("/dev/ttyS2"))));
    QTRY_VERIFY(peer->clockEndOpen());
    QVERIFY(peer->lineSettings().fits(9600));
}

// A node that is no serial line (a plain file: it opens, then the line
// settings fail) is tried again after a pause, not at every 10 ms pass.
// Every try opens the file, which inotify counts.
void TestMorlanProtocolProcess::unopenablePort_triedAboutOnceASecond()
{
    const QString node = root->path(QStringLiteral("/dev/ttyS2"));
    QFile::remove(node);
    QFile plain(node);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    const auto closeWatch = qScopeGuard([watch] { ::close(watch); });
    QVERIFY(inotify_add_watch(watch, QFile::encodeName(node).constData(), IN_OPEN) >= 0);
    int opens = 0;
    const auto countOpens = [watch, &opens] {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;)
            opens += int(n / ssize_t(sizeof(inotify_event)));
        return opens;
    };
    startProcess();
    process->switchWorkMode(2, false);
    QTRY_VERIFY_WITH_TIMEOUT(countOpens() >= 1, 5000);
    QElapsedTimer window;
    window.start();
    const int first = opens;
    // Two more tries take two pauses; the 10 ms pass made them in 20 ms.
    QTRY_VERIFY_WITH_TIMEOUT(countOpens() >= first + 2, 5000);
    QVERIFY2(window.elapsed() >= 1500, qPrintable(QString::number(window.elapsed())));
}

QTEST_GUILESS_MAIN(TestMorlanProtocolProcess)
#include "tst_morlanprotocolprocess.moc"
