// The Telit driver: its parsers, start-up wait and receive budgets on an
// in-memory modem with a virtual clock, and its operations (online mode
// among them) against the Telit modem peer bridged to a local HTTP endpoint,
// checked on the peer's command log and the endpoint's record. The cases
// every family runs alike come from ModemPeerSuite.
#include "gsm/telitgsmmodule.h"

#include "gsm/gsmhttp.h"
#include "messagecapture.h"
#include "modemfixture.h"
#include "modempeerfixture.h"
#include "nmeabuilder.h"
#include "scriptedmodem.h"

#include <QDateTime>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

constexpr int kThreadWaitMs = 5000;
const QString kNode = QStringLiteral("/dev/ttyUSB4");
const QByteArray kReplyBody = "{\"id\":7,\"result\":\"ok\"}";
const QByteArray kSring = "\r\nSRING: 1\r\n";

class Modem : public TelitGsmModule
{
public:
    using GsmModule::setFlags;
};

GsmHttpRequest rpcRequest()
{
    return jsonRpcRequest("{\"method\":\"sendRecords\",\"params\":[]}");
}

QByteArray openLine(const QByteArray &host, int port)
{
    return "AT#SD=1,0," + QByteArray::number(port) + ",\"" + host + "\",0,0,1";
}

// One "#SRECV:" answer carrying data (its count written as given).
QByteArray srecv(const QByteArray &data, const QByteArray &count = QByteArray())
{
    const QByteArray n = count.isEmpty() ? QByteArray::number(data.size()) : count;
    return "\r\n#SRECV: 1," + n + "\r\n" + data + (data.isEmpty() ? "" : "\r\n") + "\r\nOK\r\n";
}

} // namespace

class TestTelitGsmModule : public ModemPeerFixture<Modem>
{
    Q_OBJECT
protected:
    DriverFamily family() const override;
    void checkOpened(GsmModule &modem) override;

private slots:
    void parseGPS_data();
    void parseGPS();
    void parseGsmLocation_data();
    void parseGsmLocation();
    void networkTime_data();
    void networkTime();
    void receive_data();
    void receive();
    void receive_exitRequestEndsTheReads();
    void init_waitsTenSecondsThenSetsTheClockMode();
    void init_exitRequestEndsTheWait();
    void init_exitFromAnotherThread_endsWithinMilliseconds();

    void setAPN_storesUserAndPasswordButNeverSendsThem();
    void activeNet_data();
    void activeNet();
    void deactiveNet_data();
    void deactiveNet();
    void endpointClosesMidReply_failsWithinTheBudget();
    void twoUploadsInARow_bothSucceed();
    void cellLocation_onlyWithTheServiceEnabled();
    void gps_setUpReadAndClose();
    void onlineMode_data();
    void onlineMode();
    void onlineMode_withoutConnect_runsTheExitAndFails();

};

// The peer and its node, the reply and the upload; the open command; the
// open, send and read prefixes; the send line, its socket, whether a send
// is followed to the endpoint, and the late read's delay.
DriverFamily TestTelitGsmModule::family() const
{
    return {QStringLiteral("telit"), kNode, kReplyBody, rpcRequest(), openLine, "AT#SD", "AT#SSENDEXT", "AT#SRECV",
            "AT#SSENDEXT=1,", 1, false, 100};
}

// A socket opened by the address table is in command mode.
void TestTelitGsmModule::checkOpened(GsmModule &modem)
{
    QVERIFY(!static_cast<Modem &>(modem).isOnline());
}

// --- parsers, start-up and budgets on the in-memory modem ---------------------

void TestTelitGsmModule::parseGPS_data()
{
    addPositionParseColumns<QString>();

    const auto answer = [](const char *lat, const char *lon, const char *fix) {
        return QStringLiteral("120631.999,%1,%2,1.0,120.0,%3,0.0,0.0,0.0,150524,08")
            .arg(QLatin1String(lat), QLatin1String(lon), QLatin1String(fix));
    };
    QTest::newRow("the example, 3D fix") << answer("4542.82691N", "01344.26820E", "3") << true << 49456092 << 164569614;
    QTest::newRow("2D fix") << answer("4542.82691N", "01344.26820E", "2") << true << 49456092 << 164569614;
    QTest::newRow("fix 1") << answer("4542.82691N", "01344.26820E", "1") << false << 0 << 0;
    QTest::newRow("fix 0") << answer("4542.82691N", "01344.26820E", "0") << false << 0 << 0;
    QTest::newRow("south") << answer("4542.82691S", "01344.26820E", "3") << true << 49456092 << -164569614;
    QTest::newRow("west") << answer("4542.82691N", "01344.26820W", "3") << true << -49456092 << 164569614;
    QTest::newRow("no fix yet") << QStringLiteral(",,,,,1,,,,,") << false << 0 << 0;
    QTest::newRow("five fields") << QStringLiteral("120631.999,4542.82691N,01344.26820E,1.0,120.0") << false << 0 << 0;
    QTest::newRow("coordinate too short") << answer("4542N", "01344.26820E", "3") << false << 0 << 0;
    QTest::newRow("garbled coordinate") << answer("45x2.82691N", "01344.26820E", "3") << false << 0 << 0;
    QTest::newRow("coordinate far too big") << answer("4542.82691N", "9e99999999E", "3") << false << 0 << 0;
    QTest::newRow("latitude past 90 degrees") << answer("9100.00000N", "01344.26820E", "3") << false << 0 << 0;
    QTest::newRow("60 minutes") << answer("4542.82691N", "01360.00000E", "3") << false << 0 << 0;
    QTest::newRow("the poles and the date line") << answer("9000.00000S", "18000.00000W", "3") << true
                                                 << -648000000 << -324000000;
}

void TestTelitGsmModule::parseGPS()
{
    checkPositionParse(&TelitGsmModule::parseGPS);
}

void TestTelitGsmModule::parseGsmLocation_data()
{
    addPositionParseColumns<QByteArray>();

    QTest::newRow("the example") << QByteArray("45.69100,13.74170,0,1000") << true << 49470120 << 164487600;
    QTest::newRow("south and west") << QByteArray("-45.69100,-13.74170,0,1000") << true << -49470120 << -164487600;
    QTest::newRow("three fields") << QByteArray("45.69100,13.74170,0") << false << 0 << 0;
    QTest::newRow("empty latitude") << QByteArray(",13.74170,0,1000") << false << 0 << 0;
    QTest::newRow("empty longitude") << QByteArray("45.69100, ,0,1000") << false << 0 << 0;
    QTest::newRow("garbled") << QByteArray("45.6x,13.74170,0,1000") << false << 0 << 0;
    QTest::newRow("latitude out of range") << QByteArray("95.0,13.74170,0,1000") << false << 0 << 0;
}

void TestTelitGsmModule::parseGsmLocation()
{
    checkPositionParse(&TelitGsmModule::parseGsmLocation);
}

void TestTelitGsmModule::networkTime_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<qint64>("utcMs");
    QTest::addColumn<QString>("logged");

    const qint64 jan2020 = QDateTime(QDate(2020, 1, 15), QTime(10, 20, 30), Qt::UTC).toMSecsSinceEpoch() + 500;
    QTest::newRow("zone ignored") << QByteArray("\r\n+CCLK: \"20/01/15,10:20:30+08\"\r\n\r\nOK\r\n") << jan2020
                                  << QStringLiteral("cclk:2020/01/15 10:20:30");
    QTest::newRow("2019 gives 0") << QByteArray("\r\n+CCLK: \"19/12/31,23:59:59+00\"\r\n\r\nOK\r\n") << qint64(0)
                                  << QStringLiteral("cclk:2019/12/31 23:59:59");
    QTest::newRow("too short") << QByteArray("\r\n+CCLK: \"20/01/15\"\r\n\r\nOK\r\n") << qint64(0) << QStringLiteral("cclk:2020/01/15");
    QTest::newRow("no date") << QByteArray("\r\n+CCLK: \"20/13/15,10:20:30+08\"\r\n\r\nOK\r\n") << qint64(0) << QString();
    QTest::newRow("ERROR") << QByteArray("\r\nERROR\r\n") << qint64(0) << QString();
    QTest::newRow("silence") << QByteArray() << qint64(0) << QString();
}

void TestTelitGsmModule::networkTime()
{
    QFETCH(QByteArray, answer);
    QFETCH(qint64, utcMs);
    QFETCH(QString, logged);
    ScriptedModem<Modem> m;
    MessageCapture capture;
    checkNetworkTime(m, answer, "AT+CCLK?", utcMs);
    if (QTest::currentTestFailed())
        return;
    if (!logged.isEmpty())
        QVERIFY(capture.contains(logged));
}

void TestTelitGsmModule::receive_data()
{
    QTest::addColumn<int>("ringAtMs");              // first "SRING:" at this virtual time; -1: none
    QTest::addColumn<QList<QByteArray>>("answers"); // one per "AT#SRECV" command
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("outcome");               // 1 true, 0 false, else the error code
    QTest::addColumn<int>("minReads");              // "AT#SRECV" commands sent
    QTest::addColumn<int>("maxReads");
    QTest::addColumn<int>("minMs");                 // virtual time the call takes
    QTest::addColumn<int>("maxMs");

    const QByteArray reply = HttpEndpoint::okReply(kReplyBody);
    const QByteArray a = reply.left(15);
    const QByteArray b = reply.mid(15, 30);
    const QByteArray c = reply.mid(45);
    const QByteArray none = srecv(QByteArray(), "0");

    QTest::newRow("reply in several reads") << 5 << QList<QByteArray>{srecv(a) + kSring, srecv(b) + kSring, srecv(c)}
                                            << 15000 << 1 << 3 << 3 << 0 << 3000;
    QTest::newRow("nothing yet, then the reply") << 5 << QList<QByteArray>{none, none, srecv(reply)}
                                                 << 15000 << 1 << 3 << 3 << 0 << 3000;
    QTest::newRow("time-out 2000: false after the first SRING wait") << 5 << QList<QByteArray>{srecv(reply)}
                                                                     << 2000 << 0 << 0 << 0 << 0 << 100;
    QTest::newRow("time-out 1500, no SRING") << -1 << QList<QByteArray>{srecv(reply)} << 1500 << 0 << 0 << 0 << 1500 << 1600;
    QTest::newRow("no SRING, data there all the same") << -1 << QList<QByteArray>{srecv(reply)}
                                                       << 15000 << 1 << 1 << 1 << 15000 << 16000;
    // Every pass costs what it took: 13 s of budget, not 1300 passes.
    QTest::newRow("nothing to read, ever") << 5 << repeated(none, 400) << 15000 << 0 << 20 << 200 << 13000 << 13000 + 1000;
    QTest::newRow("silent modem") << -1 << QList<QByteArray>{} << 15000 << 0 << 2 << 4 << 15000 + 13000
                                  << 15000 + 13000 + 5100;
    QTest::newRow("count above the 1500 asked for") << 5 << QList<QByteArray>{srecv(reply, "1501")} << 15000 << 769 << 1 << 1 << 0 << 1000;
    QTest::newRow("negative count") << 5 << QList<QByteArray>{srecv(reply, "-1")} << 15000 << 769 << 1 << 1 << 0 << 1000;
    QTest::newRow("count not a number") << 5 << QList<QByteArray>{srecv(reply, "1O")} << 15000 << 769 << 1 << 1 << 0 << 1000;
    QTest::newRow("data cut short") << 5 << QList<QByteArray>{"\r\n#SRECV: 1,50\r\nHTTP/1.1"} << 15000 << 259 << 1 << 1 << 2000 << 4000;
    QTest::newRow("not a 200 reply") << 5 << QList<QByteArray>{srecv("HTTP/1.0 200 OK\r\n\r\n")} << 15000 << 0 << 1 << 1 << 0 << 1000;
}

void TestTelitGsmModule::receive()
{
    QFETCH(int, ringAtMs);
    QFETCH(QList<QByteArray>, answers);
    QFETCH(int, timeoutMs);
    QFETCH(int, outcome);
    QFETCH(int, minReads);
    QFETCH(int, maxReads);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    ScriptedModem<Modem> m;
    if (ringAtMs >= 0)
        m.port->at(ringAtMs, kSring);
    for (const QByteArray &answer : answers)
        m.port->answer(answer);
    GsmHttpResponse response;
    bool result = false;
    const int code = thrownCode([&] { result = m.modem.receiveHttpResponse(response, timeoutMs); });
    compareOutcome(code, result, outcome);
    if (QTest::currentTestFailed())
        return;
    if (outcome == 1)
        QCOMPARE(response.getBody(), kReplyBody);
    const int reads = m.sent("AT#SRECV=1,1500");
    QVERIFY2(reads >= minReads && reads <= maxReads, qPrintable(QString::number(reads)));
    QVERIFY2(m.clock.now() >= minMs && m.clock.now() <= maxMs, qPrintable(QString::number(m.clock.now())));
}

void TestTelitGsmModule::receive_exitRequestEndsTheReads()
{
    ScriptedModem<Modem> m;
    m.port->at(5, kSring);
    for (const QByteArray &answer : repeated(srecv(QByteArray(), "0"), 400))
        m.port->answer(answer);
    m.exitAtMs = 1000;
    GsmHttpResponse response;
    QString message;
    QCOMPARE(thrownCode([&] { m.modem.receiveHttpResponse(response, 15000); }, &message), 259);
    QCOMPARE(message, QStringLiteral("GSM exit!"));
    QVERIFY2(m.clock.now() <= 1000 + 200, qPrintable(QString::number(m.clock.now())));
}

void TestTelitGsmModule::init_waitsTenSecondsThenSetsTheClockMode()
{
    ScriptedModem<Modem> m;
    m.port->answer("\r\nOK\r\n");
    m.port->answer("\r\nOK\r\n");
    m.modem.init();
    QCOMPARE(m.port->lines(), (QList<QByteArray>{"ATE0", "AT#CCLKMODE=1"}));
    QVERIFY(m.clock.now() >= TelitGsmModule::kStartupMs);
    QCOMPARE(m.modem.getState().flags, 0x010u);
}

void TestTelitGsmModule::init_exitRequestEndsTheWait()
{
    ScriptedModem<Modem> m;
    m.port->answer("\r\nOK\r\n");
    m.exitAtMs = 300;
    QString message;
    QCOMPARE(thrownCode([&] { m.modem.init(); }, &message), 259);
    QCOMPARE(message, QStringLiteral("GSM exit!"));
    QVERIFY2(m.clock.now() <= 300 + 20, qPrintable(QString::number(m.clock.now())));
    QCOMPARE(m.port->lines(), QList<QByteArray>{"ATE0"});
}

// On the program's own clock, as the modem thread runs it: shutdown does not
// wait out the ten seconds.
void TestTelitGsmModule::init_exitFromAnotherThread_endsWithinMilliseconds()
{
    TelitGsmModule modem;
    auto owned = std::make_unique<ScriptPort>();
    owned->answer("\r\nOK\r\n");
    modem.attachPort(std::move(owned));
    int code = 0;
    QString message;
    std::unique_ptr<QThread> thread(QThread::create([&] { code = thrownCode([&] { modem.init(); }, &message); }));
    thread->start();
    QThread::msleep(50);
    modem.requestExit();
    // Ended by the request, well inside the ten seconds (how soon is a
    // figure of the benchmarks).
    QVERIFY(thread->wait(kThreadWaitMs));
    QCOMPARE(code, 259);
    QCOMPARE(message, QStringLiteral("GSM exit!"));
}

// --- against the peer -------------------------------------------------------

void TestTelitGsmModule::setAPN_storesUserAndPasswordButNeverSendsThem()
{
    auto modem = openModem();
    modem->setAPN("internet", "user", "se\"cret");
    QCOMPARE(peer->commands(), QList<QByteArray>{"AT+CGDCONT=1,\"IP\",\"internet\""});
    QCOMPARE(modem->getApnUser(), QByteArray("user"));
    QCOMPARE(modem->getApnPassword(), QByteArray("se\"cret"));
    QCOMPARE(modem->getState().flags, 0x004u);

    // A refused APN or answer stores nothing.
    peer->clearRecord();
    QCOMPARE(thrownCode([&] { modem->setAPN("inter\"net", "u2", "p2"); }), 769);
    QVERIFY(peer->commands().isEmpty());
    peer->addFault(ModemFault::Error, "AT+CGDCONT");
    QCOMPARE(thrownCode([&] { modem->setAPN("internet", "u3", "p3"); }), 769);
    QCOMPARE(modem->getApnUser(), QByteArray("user"));
}

void TestTelitGsmModule::activeNet_data()
{
    QTest::addColumn<QByteArray>("refused");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("result");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<int>("commands");

    QTest::newRow("healthy") << QByteArray() << 0 << true << 0x00Au << 3;
    QTest::newRow("location service refused") << QByteArray("AT#GTPEN") << 0 << true << 0x008u << 3;
    QTest::newRow("activation refused") << QByteArray("AT#SGACT") << 0 << false << 0x002u << 3;
    QTest::newRow("socket settings refused") << QByteArray("AT#SCFG") << 769 << false << 0x000u << 1;
}

void TestTelitGsmModule::activeNet()
{
    QFETCH(QByteArray, refused);
    QFETCH(int, code);
    QFETCH(bool, result);
    QFETCH(uint, flags);
    QFETCH(int, commands);
    auto modem = openModem();
    if (!refused.isEmpty())
        peer->addFault(ModemFault::Error, refused);
    bool got = false;
    QCOMPARE(thrownCode([&] { got = modem->activeNet(); }), code);
    QCOMPARE(got, result);
    QCOMPARE(modem->getState().flags, flags);
    const QList<QByteArray> expected{"AT#SCFG=1,1,1500,5,50,1", "AT#GTPEN=1", "AT#SGACT=1,1"};
    QCOMPARE(peer->commands(), expected.mid(0, commands));
}

void TestTelitGsmModule::deactiveNet_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::newRow("context active: released") << true << QList<QByteArray>{"AT#SGACT?", "AT#SGACT=1,0"};
    QTest::newRow("context not active: only the flags") << false << QList<QByteArray>{"AT#SGACT?"};
}

void TestTelitGsmModule::deactiveNet()
{
    QFETCH(bool, active);
    QFETCH(QList<QByteArray>, commands);
    auto modem = openModem();
    if (active) {
        QVERIFY(modem->activeNet());
        QVERIFY(modem->openSocket("h:80"));
    } else {
        modem->setFlags(0x408);
    }
    peer->clearRecord();
    modem->deactiveNet();
    QCOMPARE(peer->commands(), commands);
    QCOMPARE(modem->getState().flags & 0x408, 0u);
    QCOMPARE(int(modem->getSocketId()), -1);
    QVERIFY(!peer->state().contextActive);
}







void TestTelitGsmModule::endpointClosesMidReply_failsWithinTheBudget()
{
    qint64 tookMs = 0;
    checkReplyCutShort(&tookMs);
    if (QTest::currentTestFailed())
        return;
    // The 15 s time-out: the first indication, then the 13 s budget; not a
    // second budget after it. The clock runs the host's time 20 times over,
    // so the margin is as wide as the budget itself.
    QVERIFY2(tookMs < 15000 + 2 * 13000, qPrintable(QString::number(tookMs)));
}

void TestTelitGsmModule::twoUploadsInARow_bothSucceed()
{
    checkTwoUploads([](Modem &modem) {
        // Closing the socket keeps the context, and the flags say so.
        QCOMPARE(modem.getState().flags & 0x408, 0x408u);
    });
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(countPrefix(peer->commands(), "AT#SGACT=1,1"), 1);
    QCOMPARE(countPrefix(peer->commands(), "AT#SH=1"), 2);
}

void TestTelitGsmModule::cellLocation_onlyWithTheServiceEnabled()
{
    auto modem = openModem();
    peer->update([](ModemState &s) { s.cellLocation = "45.69100,13.74170,0,1000"; });
    modem->setFlags(0x008);
    int lon = -1;
    int lat = -1;
    QCOMPARE(modem->readGsmLoc(&lon, &lat), 0);
    QCOMPARE(lon, 0);
    QVERIFY(!modem->_getGsmLocGps(&lon, &lat));
    QVERIFY(peer->commands().isEmpty());

    QVERIFY(modem->activeNet());
    QCOMPARE(modem->readGsmLoc(&lon, &lat), 4);
    QCOMPARE(peer->commands().last(), QByteArray("AT#GTP"));
    QCOMPARE(lon, 49470120);
    QCOMPARE(lat, 164487600);
}

void TestTelitGsmModule::gps_setUpReadAndClose()
{
    auto modem = openModem();
    peer->update([](ModemState &s) {
        s.gpsSentence = NmeaBuilder::sentence("GPRMC,120631.000,A,4542.82691,N,01344.26820,E,0.0,0.0,150524,,,A");
    });
    modem->configGps();
    QCOMPARE(peer->commands(), (QList<QByteArray>{"AT$GPSP=0", "AT$GPSP=1"}));
    QCOMPARE(modem->getState().flags, 0x100u);

    TimeRecorder log;
    int lon = 0;
    int lat = 0;
    qint64 utcMs = -1;
    QCOMPARE(modem->readGPS(&lon, &lat, &utcMs, &log), 1);
    QCOMPARE(peer->commands().last(), QByteArray("AT$GPSACP"));
    QCOMPARE(lat, 164569614);
    QCOMPARE(lon, 49456092);
    QCOMPARE(utcMs, qint64(0)); // this family gives no GPS time
    QVERIFY(log.times.isEmpty());

    QVERIFY(modem->closeGps());
    QCOMPARE(modem->getState().flags, 0u);
    QCOMPARE(modem->readGPS(&lon, &lat, &utcMs, &log), 0);
    QCOMPARE(lat, 0);
}

void TestTelitGsmModule::onlineMode_data()
{
    QTest::addColumn<bool>("endpointCloses");
    QTest::newRow("endpoint keeps the connection") << false;
    QTest::newRow("endpoint closes after the reply") << true;
}

void TestTelitGsmModule::onlineMode()
{
    QFETCH(bool, endpointCloses);
    endpoint->setReply(HttpEndpoint::pieces(HttpEndpoint::okReply(kReplyBody), 20), 20, endpointCloses);
    auto modem = openModem();
    QVERIFY(modem->activeNet());
    peer->clearRecord();
    MessageCapture capture;
    QVERIFY(modem->_openSocket("h:8080", true));
    QVERIFY(modem->isOnline());
    QVERIFY(capture.contains(QStringLiteral("Enter online mode...")));
    QCOMPARE(peer->commands(), QList<QByteArray>{"AT#SD=1,0,8080,\"h\""});

    GsmHttpResponse response;
    QVERIFY(modem->requestHttp(rpcRequest(), response));
    QCOMPARE(response.getBody(), kReplyBody);
    QCOMPARE(endpoint->requests(), QList<QByteArray>{rpcRequest().createHttpPacket()});
    QCOMPARE(peer->socketBytes(1), rpcRequest().createHttpPacket()); // raw, the escape not among them
    QVERIFY(capture.contains(QStringLiteral("Exit online mode!!!")));
    QVERIFY(!modem->isOnline());
    QCOMPARE(peer->commands().size(), 1); // no socket commands: the bytes went straight through

    // Back in command mode, the modem answers commands again.
    QVERIFY(modem->closeSocket());
    QCOMPARE(peer->commands().last(), QByteArray("AT#SH=1"));
}

void TestTelitGsmModule::onlineMode_withoutConnect_runsTheExitAndFails()
{
    auto modem = openModem();
    QVERIFY(modem->activeNet());
    peer->addFault(ModemFault::RefuseConnect, "AT#SD");
    MessageCapture capture;
    QVERIFY(!modem->_openSocket("h:8080", true));
    QVERIFY(!modem->isOnline());
    QVERIFY(capture.contains(QStringLiteral("Exit online mode!!!")));
    QVERIFY(!capture.contains(QStringLiteral("Enter online mode...")));
    // The escape the modem ignored did not spoil the next command.
    modem->checkNetReg();
    QCOMPARE(modem->getState().flags & 0x040, 0x040u);
}

QTEST_GUILESS_MAIN(TestTelitGsmModule)
#include "tst_telitgsmmodule.moc"
