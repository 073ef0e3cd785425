// The u-blox driver's dialogue with the modem peer, and HTTP end to end:
// driver, peer, socket bridge and a local endpoint.
#include "gsm/ubloxgsmmodule.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "gsm/gsmhttp.h"
#include "gsmtestclock.h"
#include "httpendpoint.h"
#include "messagecapture.h"
#include "modemfixture.h"
#include "modempeer.h"
#include "nmeabuilder.h"
#include "scriptedmodem.h"
#include "testroot.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <memory>

namespace {

constexpr int kPeerWaitMs = 5000;
constexpr int kAnswerWaitMs = 4000; // the driver's wait for an ordinary answer

class Modem : public UbloxGsmModule
{
public:
    using GsmModule::setFlags;
};

QList<QByteArray> matching(const QList<QByteArray> &commands, const QByteArray &prefix)
{
    QList<QByteArray> out;
    for (const QByteArray &c : commands) {
        if (c.startsWith(prefix))
            out << c;
    }
    return out;
}

qint64 utc(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

GsmHttpRequest rpcRequest(const QByteArray &body)
{
    return jsonRpcRequest(body, "cloud.example:9080");
}

} // namespace

class TestUbloxGsmModule : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void openSocket_data();
    void openSocket();
    void closeSocket_sendsOnlyWithASocket();
    void sendTcpData_endpointGetsExactlyTheBytes();
    void sendTcpData_faults_data();
    void sendTcpData_faults();
    void readTcpData_data();
    void readTcpData();
    void setAPN_data();
    void setAPN();
    void gps_setUpFlagsAndTime();
    void cellLocation_data();
    void cellLocation();
    void networkClock_data();
    void networkClock();
    void requestHttp_data();
    void requestHttp();
    void requestHttp_refusedHostSendsNothing();
    void requestHttp_atLinePacing();
    void vanishedNode_endsTheWaitAtOnce();
    void peerProcess_answersAndLogsSms();

private:
    std::unique_ptr<Modem> openModem();
    void openBridgedSocket(Modem &modem);

    std::unique_ptr<TestRoot> root;
    std::unique_ptr<ModemPeer> peer;
    std::unique_ptr<HttpEndpoint> endpoint;
    ScaledClock fast{20};
};

std::unique_ptr<Modem> TestUbloxGsmModule::openModem()
{
    auto modem = std::make_unique<Modem>();
    modem->open(QStringLiteral("/dev/ttyUSB1"));
    modem->init();
    peer->clearRecord();
    return modem;
}

void TestUbloxGsmModule::openBridgedSocket(Modem &modem)
{
    QVERIFY(modem.activeNet());
    QVERIFY(modem.openSocket("cloud.example:9080"));
    QVERIFY(modem.getState().flags & 0x400);
}

void TestUbloxGsmModule::init()
{
    root = std::make_unique<TestRoot>();
    root->activate();
    endpoint = std::make_unique<HttpEndpoint>();
    QVERIFY(endpoint->begin());
    peer = std::make_unique<ModemPeer>();
    QVERIFY(peer->linkAt(root->path(QStringLiteral("/dev/ttyUSB1"))));
    peer->setEndpoint(endpoint->port());
    peer->start();
    ServiceFactory::GPS_UTC_ADJUST = -17;
}

void TestUbloxGsmModule::cleanup()
{
    peer.reset();
    endpoint.reset();
    root.reset();
}

void TestUbloxGsmModule::openSocket_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<int>("firstId");     // the peer's next socket number
    QTest::addColumn<int>("reportedId");  // -2: as created; -1: "X"; else the number reported
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("connect"); // empty: no connect command sent
    QTest::addColumn<bool>("anySent");
    QTest::addColumn<bool>("refused"); // the peer refuses the connection

    QTest::newRow("host and port") << QByteArray("h:8080") << 0 << -2 << true << QByteArray("AT+USOCO=0,\"h\",8080") << true << false;
    QTest::newRow("host alone, blanks") << QByteArray("  cloud.example ") << 0 << -2 << true << QByteArray("AT+USOCO=0,\"cloud.example\",80") << true << false;
    QTest::newRow("empty address") << QByteArray() << 0 << -2 << true
                                   << QByteArray("AT+USOCO=0,\"modemtest.brellium.example\",1200") << true << false;
    QTest::newRow("socket 3") << QByteArray("h:1") << 3 << -2 << true << QByteArray("AT+USOCO=3,\"h\",1") << true << false;
    QTest::newRow("socket 12") << QByteArray("h:65535") << 12 << -2 << true << QByteArray("AT+USOCO=12,\"h\",65535") << true << false;
    QTest::newRow("socket id 200") << QByteArray("h:80") << 0 << 200 << false << QByteArray() << true << false;
    QTest::newRow("socket id not a number") << QByteArray("h:80") << 0 << -1 << false << QByteArray() << true << false;
    QTest::newRow("quote in host") << QByteArray("h\",1\r\nAT+CFUN=0:80") << 0 << -2 << false << QByteArray() << false << false;
    QTest::newRow("port not decimal") << QByteArray("h:80a") << 0 << -2 << false << QByteArray() << false << false;
    QTest::newRow("port 0") << QByteArray("h:0") << 0 << -2 << false << QByteArray() << false << false;
    QTest::newRow("port 65536") << QByteArray("h:65536") << 0 << -2 << false << QByteArray() << false << false;
    QTest::newRow("connection refused") << QByteArray("h:80") << 0 << -2 << false << QByteArray("AT+USOCO=0,\"h\",80") << true << true;
}

void TestUbloxGsmModule::openSocket()
{
    QFETCH(QByteArray, address);
    QFETCH(int, firstId);
    QFETCH(int, reportedId);
    QFETCH(bool, result);
    QFETCH(QByteArray, connect);
    QFETCH(bool, anySent);
    QFETCH(bool, refused);

    auto modem = openModem();
    peer->update([&](ModemState &s) { s.nextSocketId = firstId; });
    if (refused)
        peer->addFault(ModemFault::RefuseConnect, "AT+USOCO");
    if (reportedId != -2)
        peer->addFault(ModemFault::WrongSocketId, "AT+USOCR", 1, reportedId);
    QCOMPARE(modem->openSocket(address), result);
    QCOMPARE(bool(modem->getState().flags & 0x400), result);
    const QList<QByteArray> connects = matching(peer->commands(), "AT+USOCO");
    QCOMPARE(connects, connect.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{connect});
    QCOMPARE(!peer->commands().isEmpty(), anySent);
    if (result || refused)
        QCOMPARE(int(modem->getSocketId()), firstId);
    else
        QCOMPARE(int(modem->getSocketId()), -1);
}

void TestUbloxGsmModule::closeSocket_sendsOnlyWithASocket()
{
    auto modem = openModem();
    QVERIFY(!modem->closeSocket());
    QVERIFY(peer->commands().isEmpty());

    peer->update([](ModemState &s) { s.nextSocketId = 2; });
    openBridgedSocket(*modem);
    QVERIFY(modem->closeSocket());
    QCOMPARE(matching(peer->commands(), "AT+USOCL"), QList<QByteArray>{"AT+USOCL=2"});
    QCOMPARE(int(modem->getSocketId()), 2); // left as it was
}

void TestUbloxGsmModule::sendTcpData_endpointGetsExactlyTheBytes()
{
    auto modem = openModem();
    openBridgedSocket(*modem);
    QByteArray data;
    for (int i = 0; i < 3000; ++i)
        data += char(i % 256); // every byte value, quotes, CR and Ctrl-Z included
    QVERIFY(modem->sendTcpData(data));
    QCOMPARE(peer->socketBytes(0), data);
    QTRY_COMPARE_WITH_TIMEOUT(endpoint->requests().value(0), data, kPeerWaitMs);
    QCOMPARE(peer->record().connects.value(0), qMakePair(QByteArray("cloud.example"), 9080));
}

void TestUbloxGsmModule::sendTcpData_faults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("no prompt") << int(ModemFault::NoPrompt) << QStringLiteral("GSM receive timeout!") << false;
    QTest::newRow("silence after the data") << int(ModemFault::SilenceMidSend) << QStringLiteral("GSM response timeout!") << false;
    QTest::newRow("ERROR") << int(ModemFault::Error) << QStringLiteral("GSM receive timeout!") << false;
}

void TestUbloxGsmModule::sendTcpData_faults()
{
    QFETCH(int, fault);
    QFETCH(QString, message);
    QFETCH(bool, delivered);
    auto modem = openModem();
    openBridgedSocket(*modem);
    peer->addFault(ModemFault(fault), "AT+USOWR");
    modem->setClock(&fast);
    QString got;
    QCOMPARE(thrownCode([&] { modem->sendTcpData("hello"); }, &got), 259);
    QCOMPARE(got, message);
    QCOMPARE(!peer->socketBytes(0).isEmpty(), delivered);
    // The modem answers the next command.
    modem->setClock(nullptr);
    QVERIFY(modem->testAT());
}

void TestUbloxGsmModule::readTcpData_data()
{
    QTest::addColumn<int>("fault");   // -1 none
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("count");

    QTest::newRow("good") << -1 << 0 << 0 << 5;
    QTest::newRow("count above 1024") << int(ModemFault::WrongByteCount) << 2000 << 769 << 0;
    QTest::newRow("count above the data") << int(ModemFault::WrongByteCount) << 3 << 769 << 0;
    QTest::newRow("count below the data") << int(ModemFault::WrongByteCount) << -2 << 769 << 0;
    QTest::newRow("unquoted data") << int(ModemFault::UnquotedData) << 0 << 769 << 0;
}

void TestUbloxGsmModule::readTcpData()
{
    QFETCH(int, fault);
    QFETCH(int, value);
    QFETCH(int, code);
    QFETCH(int, count);

    endpoint->setReply({"hello"}, 0, false);
    peer->update([](ModemState &s) { s.nextSocketId = 3; });
    auto modem = openModem();
    openBridgedSocket(*modem);
    QVERIFY(modem->sendTcpData("POST / HTTP/1.1\r\n\r\n"));
    QVERIFY(!modem->waitResponseLine("+UUSORD:", kPeerWaitMs, true).isEmpty());
    if (fault >= 0)
        peer->addFault(ModemFault(fault), "AT+USORD", 1, value);
    QByteArray out;
    int got = -1;
    QString message;
    QCOMPARE(thrownCode([&] { got = modem->readTcpData(out); }, &message), code);
    if (code == 0) {
        QCOMPARE(got, count);
        QCOMPARE(out, QByteArray("hello"));
        QCOMPARE(matching(peer->commands(), "AT+USORD"), QList<QByteArray>{"AT+USORD=3,1024"});
    } else {
        QCOMPARE(message, QStringLiteral("GSM response err!"));
    }
}

void TestUbloxGsmModule::setAPN_data()
{
    QTest::addColumn<QByteArray>("apn");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<QByteArray>>("sent");

    QTest::newRow("APN alone") << QByteArray("internet") << QByteArray() << QByteArray("ignored") << 0
                               << QList<QByteArray>{"AT+UPSD=0,1,\"internet\""};
    QTest::newRow("with user") << QByteArray("internet") << QByteArray("user1") << QByteArray("pw1") << 0
                               << QList<QByteArray>{"AT+UPSD=0,1,\"internet\"", "AT+UPSD=0,2,\"user1\"", "AT+UPSD=0,3,\"pw1\""};
    QTest::newRow("quote in password") << QByteArray("internet") << QByteArray("user1") << QByteArray("p\"w") << 769
                                       << QList<QByteArray>();
    QTest::newRow("Ctrl-Z in APN") << QByteArray("inter\x1Anet") << QByteArray() << QByteArray() << 769 << QList<QByteArray>();
}

void TestUbloxGsmModule::setAPN()
{
    QFETCH(QByteArray, apn);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(int, code);
    QFETCH(QList<QByteArray>, sent);
    auto modem = openModem();
    QCOMPARE(thrownCode([&] { modem->setAPN(apn, user, password); }), code);
    QCOMPARE(peer->commands(), sent);
    QCOMPARE(bool(modem->getState().flags & 0x004), code == 0);
    if (code == 0)
        QCOMPARE(peer->state().apn, apn);
}

void TestUbloxGsmModule::gps_setUpFlagsAndTime()
{
    auto modem = openModem();
    modem->configGps();
    QCOMPARE(modem->getState().flags & 0x300, 0x300u);
    QCOMPARE(matching(peer->commands(), "AT+UG"), (QList<QByteArray>{"AT+UGPS=0", "AT+UGIND=1", "AT+UGPS=1,3"}));

    const QDateTime fix(QDate(2023, 7, 1), QTime(6, 0, 1, 0), Qt::UTC);
    peer->update([&](ModemState &s) { s.gpsSentence = NmeaBuilder::rmc(fix, -33.5, 151.25); });
    TimeRecorder times;
    int lon = 0;
    int lat = 0;
    qint64 utcMs = 0;
    QVERIFY(modem->_readGPS(&lon, &lat, &utcMs, &times));
    QCOMPARE(lat, -(33 * 3600000 + 30 * 60000));
    QCOMPARE(lon, 151 * 3600000 + 15 * 60000);
    QCOMPARE(times.times, (QList<QPair<qint64, int>>{{fix.toMSecsSinceEpoch() + 500, 2}}));

    QVERIFY(modem->closeGps());
    QCOMPARE(modem->getState().flags & 0x300, 0u);

    peer->clearRecord();
    QVERIFY(modem->_configGps());
    QCOMPARE(matching(peer->commands(), "AT+UG"),
             (QList<QByteArray>{"AT+UGPS=0", "AT+UGRMC=1", "AT+UGIND=0", "AT+UGPS=1,0"}));
    QCOMPARE(modem->getState().flags & 0x300, 0x100u);
}

void TestUbloxGsmModule::cellLocation_data()
{
    QTest::addColumn<QByteArray>("answer"); // empty: the service answers ERROR
    QTest::addColumn<int>("adjust");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<int>("lon");
    QTest::addColumn<int>("lat");

    const QByteArray example("13/04/2021,09:54:51.000,45.7140971,13.7409172,266,17");
    QTest::newRow("the example") << example << -17 << utc("2021-04-13T09:54:33.500Z") << 49467300 << 164570752;
    QTest::newRow("adjust 0") << example << 0 << utc("2021-04-13T09:54:50.500Z") << 49467300 << 164570752;
    QTest::newRow("dated 2011") << QByteArray("13/04/2011,09:54:51.000,45.7140971,13.7409172,266,17") << -17 << qint64(0) << 0 << 0;
    QTest::newRow("five fields") << QByteArray("13/04/2021,09:54:51.000,45.7,13.7,266") << -17 << qint64(0) << 0 << 0;
    QTest::newRow("refused") << QByteArray() << -17 << qint64(0) << 0 << 0;
}

void TestUbloxGsmModule::cellLocation()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, adjust);
    QFETCH(qint64, time);
    QFETCH(int, lon);
    QFETCH(int, lat);

    ServiceFactory::GPS_UTC_ADJUST = adjust;
    peer->update([&](ModemState &s) { s.cellLocation = answer; });
    auto modem = openModem();
    int gotLon = -1;
    int gotLat = -1;
    bool found = false;
    QCOMPARE(thrownCode([&] { found = modem->_getGsmLocGps(&gotLon, &gotLat); }), 0);
    QCOMPARE(found, time != 0);
    QCOMPARE(gotLon, lon);
    QCOMPARE(gotLat, lat);

    TimeRecorder times;
    qint64 got = -1;
    QCOMPARE(thrownCode([&] { got = modem->getGsmLocTime(&times); }), 0);
    QCOMPARE(got, time);
    QCOMPARE(times.times.size(), time != 0 ? 1 : 0);
    if (time != 0)
        QCOMPARE(times.times.at(0), qMakePair(time, 3));
    QCOMPARE(matching(peer->commands(), "AT+ULOC"), (QList<QByteArray>{"AT+ULOC=2,2,0,30,8000", "AT+ULOC=2,2,0,30,8000"}));
}

void TestUbloxGsmModule::networkClock_data()
{
    QTest::addColumn<QByteArray>("clock");
    QTest::addColumn<qint64>("time");
    QTest::newRow("zone +08") << QByteArray("21/03/01,12:00:00+08") << utc("2021-03-01T10:00:00.500Z");
    QTest::newRow("zone -04") << QByteArray("21/03/01,12:00:00-04") << utc("2021-03-01T13:00:00.500Z");
    QTest::newRow("zone +00") << QByteArray("24/12/31,23:59:59+00") << utc("2024-12-31T23:59:59.500Z");
    QTest::newRow("no zone") << QByteArray("21/03/01,12:00:00") << qint64(0);
    QTest::newRow("before 2020") << QByteArray("19/12/31,23:00:00+00") << qint64(0);
    QTest::newRow("day 32") << QByteArray("21/03/32,12:00:00+00") << qint64(0);
}

void TestUbloxGsmModule::networkClock()
{
    QFETCH(QByteArray, clock);
    QFETCH(qint64, time);
    peer->update([&](ModemState &s) { s.clock = clock; });
    auto modem = openModem();
    TimeRecorder times;
    MessageCapture capture;
    QCOMPARE(modem->getNetUtcTime(&times), time != 0);
    QCOMPARE(bool(modem->getState().flags & 0x800), time != 0);
    QCOMPARE(times.times.size(), time != 0 ? 1 : 0);
    if (time != 0)
        QCOMPARE(times.times.at(0), qMakePair(time, 1));
    QVERIFY(capture.contains(QStringLiteral("cclk:")));
    QVERIFY(capture.contains(QString::fromLatin1(clock).left(8)));
    // The answer's OK was taken: the next command is answered at once.
    QVERIFY(modem->testAT());
}

void TestUbloxGsmModule::requestHttp_data()
{
    QTest::addColumn<QList<QByteArray>>("reply");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("body");

    const QByteArray body = "{\"id\":1,\"result\":\"ok\"}";
    const QByteArray big(3000, 'r');
    QTest::newRow("whole") << QList<QByteArray>{HttpEndpoint::okReply(body)} << 0 << true << body;
    QTest::newRow("several TCP writes") << HttpEndpoint::pieces(HttpEndpoint::okReply(body), 9) << 30 << true << body;
    QTest::newRow("chunked") << QList<QByteArray>{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                                                  "6\r\n{\"id\":\r\n", "3\r\n1}\n\r\n0\r\n\r\n"}
                             << 40 << true << QByteArray("{\"id\":1}\n");
    QTest::newRow("body over several reads") << QList<QByteArray>{HttpEndpoint::okReply(big)} << 0 << true << big;
    QTest::newRow("no reply") << QList<QByteArray>() << 0 << false << QByteArray();
    QTest::newRow("404") << QList<QByteArray>{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"} << 0 << false << QByteArray();
    QTest::newRow("closed mid-body") << QList<QByteArray>{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"} << 0 << false << QByteArray();
}

void TestUbloxGsmModule::requestHttp()
{
    QFETCH(QList<QByteArray>, reply);
    QFETCH(int, gapMs);
    QFETCH(bool, result);
    QFETCH(QByteArray, body);

    endpoint->setReply(reply, gapMs);
    auto modem = openModem();
    openBridgedSocket(*modem);
    if (!result)
        modem->setClock(&fast);
    const GsmHttpRequest request = rpcRequest("{\"id\":1,\"method\":\"sendState4\",\"params\":[]}");
    GsmHttpResponse response;
    MessageCapture capture;
    QCOMPARE(modem->requestHttp(request, response), result);
    QVERIFY(endpoint->waitForRequests(1, kPeerWaitMs));
    QCOMPARE(endpoint->requests().value(0), request.createHttpPacket());
    if (result)
        QCOMPARE(response.getBody(), body);
    else
        QVERIFY(capture.contains(QStringLiteral("receiveHttpResponse failed!")));
}

void TestUbloxGsmModule::requestHttp_refusedHostSendsNothing()
{
    auto modem = openModem();
    openBridgedSocket(*modem);
    peer->clearRecord();
    GsmHttpRequest request = rpcRequest("{}");
    request.host = "cloud.example\r\nX-Injected: 1";
    GsmHttpResponse response;
    QVERIFY(!modem->requestHttp(request, response));
    request = rpcRequest("{}");
    request.path = "/rpc HTTP/1.0";
    QVERIFY(!modem->requestHttp(request, response));
    QVERIFY(peer->commands().isEmpty());
}

void TestUbloxGsmModule::requestHttp_atLinePacing()
{
    const QByteArray reply = "{\"result\":" + QByteArray(500, '7') + '}';
    endpoint->setReply({HttpEndpoint::okReply(reply)});
    peer->setPacing(115200);
    auto modem = openModem();
    openBridgedSocket(*modem);
    const GsmHttpRequest request = rpcRequest(QByteArray(2048, 'b'));
    GsmHttpResponse response;
    QVERIFY(modem->requestHttp(request, response));
    QCOMPARE(response.getBody(), reply);
    QCOMPARE(endpoint->requests().value(0), request.createHttpPacket());
}

void TestUbloxGsmModule::vanishedNode_endsTheWaitAtOnce()
{
    auto modem = openModem();
    peer->addFault(ModemFault::Silence, "AT+CSQ");
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QThread> remover(QThread::create([this] {
        QThread::msleep(300);
        peer->removeNode();
    }));
    remover->start();
    QString message;
    QCOMPARE(thrownCode([&] { modem->getCsq(); }, &message), 259);
    QCOMPARE(message, QStringLiteral("GSM response timeout!"));
    // Ended by the node going, not by the driver's 4 s answer wait running
    // out (how soon after the node went is a figure of the benchmarks).
    QVERIFY2(timer.elapsed() < kAnswerWaitMs, qPrintable(QString::number(timer.elapsed())));
    remover->wait();

    // The node comes back: a new port works.
    peer->clearFaults();
    peer->restoreNode();
    modem->close();
    modem->open(QStringLiteral("/dev/ttyUSB1"));
    QVERIFY(modem->testAT());
}

void TestUbloxGsmModule::peerProcess_answersAndLogsSms()
{
    peer.reset(); // the process takes the node
    const QString smsLog = root->path(QStringLiteral("/var/log/sms"));
    QProcess process;
    process.start(qEnvironmentVariable("BRELLIUM_BUILD_DIR") + QStringLiteral("/brellium_modempeer"),
                  {QStringLiteral("--family"), QStringLiteral("ublox"),
                   QStringLiteral("--node"), root->path(QStringLiteral("/dev/ttyUSB1")),
                   QStringLiteral("--endpoint"), QStringLiteral("127.0.0.1:%1").arg(endpoint->port()),
                   QStringLiteral("--sms-log"), smsLog});
    QVERIFY(process.waitForReadyRead(kPeerWaitMs));
    QVERIFY(process.readAllStandardOutput().startsWith("modem peer ublox"));

    Modem modem;
    modem.open(QStringLiteral("/dev/ttyUSB1"));
    modem.init();
    modem.checkNetReg();
    QCOMPARE(modem.getState().flags & 0x060, 0x060u);
    QVERIFY(modem.sendTXTSms("017012", "Order:1,arrived"));
    QVERIFY(modem.getNetUtcTime(nullptr));
    endpoint->setReply({HttpEndpoint::okReply("{}")});
    openBridgedSocket(modem);
    GsmHttpResponse response;
    QVERIFY(modem.requestHttp(rpcRequest("{}"), response));
    QCOMPARE(response.getBody(), QByteArray("{}"));
    modem.close();

    QFile log(smsLog);
    QVERIFY(QTest::qWaitFor([&] { return log.exists() && log.size() > 0; }, kPeerWaitMs));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray("text\t017012\tOrder:1,arrived\n"));
    process.terminate();
    QVERIFY(process.waitForFinished(kPeerWaitMs));
    QCOMPARE(process.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestUbloxGsmModule)
#include "tst_ubloxgsmmodule.moc"
