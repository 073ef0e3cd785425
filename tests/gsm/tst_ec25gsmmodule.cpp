// The EC25 driver: its parsers and receive budgets on an in-memory modem with
// a virtual clock, and its operations against the EC25 modem peer bridged to
// a local HTTP endpoint, checked on the peer's command log and the endpoint's
// record. The cases every family runs alike come from ModemPeerSuite.
#include "gsm/ec25gsmmodule.h"

#include "gsm/gsmhttp.h"
#include "modemfixture.h"
#include "modempeerfixture.h"
#include "nmeabuilder.h"
#include "scriptedmodem.h"

#include <QDateTime>
#include <QTest>

#include <memory>

namespace {

const QString kNode = QStringLiteral("/dev/ttyUSB2");
const QByteArray kReplyBody = "{\"id\":1,\"result\":0}";

class Modem : public Ec25GsmModule
{
public:
    using GsmModule::setFlags;
};

GsmHttpRequest rpcRequest()
{
    return jsonRpcRequest("{\"method\":\"sendState4\",\"params\":[]}");
}

QByteArray openLine(const QByteArray &host, int port)
{
    return "AT+QIOPEN=1,0,\"TCP\",\"" + host + "\"," + QByteArray::number(port) + ",0";
}

// One "+QIRD:" answer carrying data (with its count written as given).
QByteArray qird(const QByteArray &data, const QByteArray &count = QByteArray())
{
    const QByteArray n = count.isEmpty() ? QByteArray::number(data.size()) : count;
    return "\r\n+QIRD: " + n + "\r\n" + data + (data.isEmpty() ? "" : "\r\n") + "\r\nOK\r\n";
}

} // namespace

class TestEc25GsmModule : public ModemPeerFixture<Modem>
{
    Q_OBJECT
protected:
    DriverFamily family() const override;
    void checkOpened(GsmModule &modem) override;

private slots:
    void parseGsmLocation_data();
    void parseGsmLocation();
    void networkTime_data();
    void networkTime();
    void openResult_data();
    void openResult();
    void receive_data();
    void receive();

    void initAndReadTcpData_sendNothing();
    void setAPN_data();
    void setAPN();
    void activeNet_data();
    void activeNet();
    void endpointClosesMidReply_failsAfterTheHundredPasses();
    void twoUploadsInARow_bothSucceed();
    void deactiveNet_endsContextAndSocket();
    void gps_setUpReadAndClose();
    void gpsSetUpRefused_throwsAndTheModemGoesOn();
    void cellLocation_fromThePeer();

};

// The peer and its node, the reply and the upload; the open command; the
// open, send and read prefixes; the send line, its socket, whether a send
// is followed to the endpoint, and the late read's delay.
DriverFamily TestEc25GsmModule::family() const
{
    return {QStringLiteral("ec25"), kNode, kReplyBody, rpcRequest(), openLine, "AT+QIOPEN", "AT+QISEND", "AT+QIRD",
            "AT+QISEND=0,", 0, true, 300};
}

// A socket opened in the active context: the state has both.
void TestEc25GsmModule::checkOpened(GsmModule &modem)
{
    QCOMPARE(modem.getState().flags & 0x408, 0x408u);
}

// --- parsers and budgets on the in-memory modem ------------------------------

void TestEc25GsmModule::parseGsmLocation_data()
{
    addPositionParseColumns<QByteArray>();

    QTest::newRow("the example") << QByteArray("0,121.38163094,31.12738291") << true << 436973871 << 112058578;
    QTest::newRow("south and west truncate toward zero") << QByteArray("0,-121.38163094,-31.12738291") << true
                                                        << -436973871 << -112058578;
    QTest::newRow("non-zero result code") << QByteArray("1,121.38163094,31.12738291") << false << 0 << 0;
    QTest::newRow("service error alone") << QByteArray("8001") << false << 0 << 0;
    QTest::newRow("two fields") << QByteArray("0,121.38163094") << false << 0 << 0;
    QTest::newRow("result code not a number") << QByteArray("x,121.3,31.1") << false << 0 << 0;
    QTest::newRow("garbled longitude") << QByteArray("0,12a.3,31.1") << false << 0 << 0;
    QTest::newRow("latitude out of range") << QByteArray("0,121.3,95.0") << false << 0 << 0;
    QTest::newRow("huge longitude") << QByteArray("0,1e300,31.1") << false << 0 << 0;
}

void TestEc25GsmModule::parseGsmLocation()
{
    checkPositionParse(&Ec25GsmModule::parseGsmLocation);
}

void TestEc25GsmModule::networkTime_data()
{
    QTest::addColumn<QByteArray>("answer"); // the modem's bytes
    QTest::addColumn<qint64>("utcMs");

    const qint64 march2021 = QDateTime(QDate(2021, 3, 1), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch() + 500;
    QTest::newRow("2019 is too early") << QByteArray("\r\n+QLTS: \"2019/01/13,03:40:48+32,0\"\r\n\r\nOK\r\n") << qint64(0);
    QTest::newRow("zone ignored") << QByteArray("\r\n+QLTS: \"2021/03/01,12:00:00+08,0\"\r\n\r\nOK\r\n") << march2021;
    QTest::newRow("negative zone ignored") << QByteArray("\r\n+QLTS: \"2021/03/01,12:00:00-20,1\"\r\n\r\nOK\r\n") << march2021;
    QTest::newRow("no comma") << QByteArray("\r\n+QLTS: \"2021/03/0112:00:00+08\"\r\n\r\nOK\r\n") << qint64(0);
    QTest::newRow("no zone") << QByteArray("\r\n+QLTS: \"2021/03/01,12:00:00\"\r\n\r\nOK\r\n") << qint64(0);
    QTest::newRow("no date") << QByteArray("\r\n+QLTS: \"2021/13/01,12:00:00+08,0\"\r\n\r\nOK\r\n") << qint64(0);
    QTest::newRow("empty answer") << QByteArray("\r\n+QLTS: \"\"\r\n\r\nOK\r\n") << qint64(0);
    QTest::newRow("ERROR") << QByteArray("\r\nERROR\r\n") << qint64(0);
    QTest::newRow("silence") << QByteArray() << qint64(0);
}

void TestEc25GsmModule::networkTime()
{
    QFETCH(QByteArray, answer);
    QFETCH(qint64, utcMs);
    ScriptedModem<Modem> m;
    checkNetworkTime(m, answer, "AT+QLTS=1", utcMs);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(bool(m.modem.getState().flags & 0x800), utcMs != 0);
}

void TestEc25GsmModule::openResult_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("result");

    QTest::newRow("0,0") << QByteArray("\r\nOK\r\n\r\n+QIOPEN: 0,0\r\n") << true;
    QTest::newRow("0,566") << QByteArray("\r\nOK\r\n\r\n+QIOPEN: 0,566\r\n") << false;
    QTest::newRow("three fields") << QByteArray("\r\nOK\r\n\r\n+QIOPEN: 0,0,1\r\n") << false;
    QTest::newRow("one field") << QByteArray("\r\nOK\r\n\r\n+QIOPEN: 0\r\n") << false;
    QTest::newRow("error not a number") << QByteArray("\r\nOK\r\n\r\n+QIOPEN: 0,x\r\n") << false;
    QTest::newRow("no result line") << QByteArray("\r\nOK\r\n") << false;
    QTest::newRow("ERROR") << QByteArray("\r\nERROR\r\n") << false;
}

void TestEc25GsmModule::openResult()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, result);
    ScriptedModem<Modem> m;
    m.port->answer(answer);
    QCOMPARE(m.modem.openSocket("h:8080"), result);
    QCOMPARE(m.port->lines(), QList<QByteArray>{"AT+QIOPEN=1,0,\"TCP\",\"h\",8080,0"});
    QCOMPARE(bool(m.modem.getState().flags & 0x400), result);
    QVERIFY(m.clock.now() <= 2 * 15000 + 100);
}

void TestEc25GsmModule::receive_data()
{
    QTest::addColumn<QList<QByteArray>>("answers"); // one per "AT+QIRD" command
    QTest::addColumn<int>("outcome");               // 1 true, 0 false, else the error code
    QTest::addColumn<int>("reads");                 // "AT+QIRD" commands sent
    QTest::addColumn<int>("minMs");                 // virtual time the call takes at least
    QTest::addColumn<int>("maxMs");                 // and at most

    const QByteArray reply = HttpEndpoint::okReply(kReplyBody);
    const QByteArray head = reply.left(20);
    const QByteArray rest = reply.mid(20);
    const QByteArray zero = qird(QByteArray());

    QTest::newRow("reply in two reads") << QList<QByteArray>{qird(head), qird(rest)} << 1 << 2 << 400 << 1000;
    QTest::newRow("nothing yet, then the reply") << QList<QByteArray>{zero, zero, qird(reply)} << 1 << 3 << 600 << 1500;
    QTest::newRow("count 0 in every pass") << repeated(zero, 100) << 0 << 100 << 100 * 200 << 100 * 500;
    QTest::newRow("silent modem") << QList<QByteArray>{} << 0 << 1 << 15000 << 15300;
    QTest::newRow("ERROR") << QList<QByteArray>{"\r\nERROR\r\n"} << 0 << 1 << 200 << 500;
    QTest::newRow("count with decimals is truncated") << QList<QByteArray>{qird(reply, QByteArray::number(reply.size()) + ".9")}
                                                      << 1 << 1 << 200 << 1000;
    QTest::newRow("count above the 1500 asked for") << QList<QByteArray>{qird(reply, "1501")} << 769 << 1 << 200 << 500;
    QTest::newRow("negative count") << QList<QByteArray>{qird(reply, "-5")} << 769 << 1 << 200 << 500;
    QTest::newRow("count not a number") << QList<QByteArray>{qird(reply, "5x")} << 769 << 1 << 200 << 500;
    QTest::newRow("data cut short") << QList<QByteArray>{"\r\n+QIRD: 50\r\nHTTP/1.1"} << 259 << 1 << 2000 << 4500;
    QTest::newRow("no OK after the data") << QList<QByteArray>{"\r\n+QIRD: 5\r\nHTTP/\r\n"} << 0 << 1 << 5000 << 10500;
    QTest::newRow("not a 200 reply") << QList<QByteArray>{qird("HTTP/1.1 404 Not Found\r\n\r\n")} << 0 << 1 << 200 << 500;
}

void TestEc25GsmModule::receive()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(int, outcome);
    QFETCH(int, reads);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    ScriptedModem<Modem> m;
    for (const QByteArray &a : answers)
        m.port->answer(a);
    GsmHttpResponse response;
    bool result = false;
    const int code = thrownCode([&] { result = m.modem.receiveHttpResponse(response, 15000); });
    compareOutcome(code, result, outcome);
    if (QTest::currentTestFailed())
        return;
    if (outcome == 1)
        QCOMPARE(response.getBody(), kReplyBody);
    QCOMPARE(m.sent("AT+QIRD=0,1500"), reads);
    QVERIFY2(m.clock.now() >= minMs && m.clock.now() <= maxMs, qPrintable(QString::number(m.clock.now())));
}

// --- against the peer -------------------------------------------------------

void TestEc25GsmModule::initAndReadTcpData_sendNothing()
{
    auto modem = openModem();
    QVERIFY(modem->_init());
    QByteArray out("kept");
    QCOMPARE(modem->readTcpData(out), 0);
    QCOMPARE(out, QByteArray("kept"));
    modem->init();
    QCOMPARE(peer->commands(), QList<QByteArray>{"ATE0"});
    QCOMPARE(modem->getState().flags, 0x010u);
}

void TestEc25GsmModule::setAPN_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("peerError");
    QTest::addColumn<int>("code");
    QTest::newRow("sent") << QByteArray("secret") << false << 0;
    QTest::newRow("quote in the password") << QByteArray("se\"cret") << false << 769;
    QTest::newRow("ERROR") << QByteArray("secret") << true << 769;
}

void TestEc25GsmModule::setAPN()
{
    QFETCH(QByteArray, password);
    QFETCH(bool, peerError);
    QFETCH(int, code);
    auto modem = openModem();
    if (peerError)
        peer->addFault(ModemFault::Error, "AT+QICSGP");
    QCOMPARE(thrownCode([&] { modem->setAPN("internet", "user", password); }), code);
    QCOMPARE(bool(modem->getState().flags & 0x004), code == 0);
    if (password.contains('"')) {
        QVERIFY(peer->commands().isEmpty());
        return;
    }
    QCOMPARE(peer->commands(), QList<QByteArray>{"AT+QICSGP=1,1,\"internet\",\"user\",\"secret\",0"});
    if (code == 0)
        QCOMPARE(peer->state().apnPassword, QByteArray("secret"));
}

void TestEc25GsmModule::activeNet_data()
{
    QTest::addColumn<QByteArray>("refused"); // the command the peer answers with ERROR
    QTest::addColumn<bool>("result");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<int>("commands");

    QTest::newRow("token accepted") << QByteArray() << true << 0x00Au << 3;
    QTest::newRow("token refused") << QByteArray("AT+QLBSCFG") << true << 0x008u << 2;
    QTest::newRow("activation refused") << QByteArray("AT+QIACT") << false << 0x000u << 1;
}

void TestEc25GsmModule::activeNet()
{
    QFETCH(QByteArray, refused);
    QFETCH(bool, result);
    QFETCH(uint, flags);
    QFETCH(int, commands);
    auto modem = openModem();
    if (!refused.isEmpty())
        peer->addFault(ModemFault::Error, refused);
    peer->update([](ModemState &s) { s.cellLocation = "0,121.38163094,31.12738291"; });
    QCOMPARE(modem->activeNet(), result);
    QCOMPARE(modem->getState().flags, flags);
    const QList<QByteArray> expected{"AT+QIACT=1", "AT+QLBSCFG=\"token\",\"7Qm2Xv9Lk4Rt8Hs1\"", "AT+QLBSCFG=\"timeout\",10"};
    QCOMPARE(peer->commands(), expected.mid(0, commands));

    // The cell position is asked for only with the service set up.
    int lon = 0;
    int lat = 0;
    QCOMPARE(modem->readGsmLoc(&lon, &lat), flags == 0x00A ? 4 : 0);
    QCOMPARE(peer->commands().contains("AT+QLBS"), flags == 0x00A);
}







void TestEc25GsmModule::endpointClosesMidReply_failsAfterTheHundredPasses()
{
    qint64 tookMs = 0;
    checkReplyCutShort(&tookMs);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(countPrefix(peer->commands(), "AT+QIRD=0,1500"), Ec25GsmModule::kReceivePasses);
}

void TestEc25GsmModule::twoUploadsInARow_bothSucceed()
{
    checkTwoUploads([this](Modem &modem) {
        // The close ended the whole context, and the state says so.
        QCOMPARE(modem.getState().flags & 0x408, 0u);
        QCOMPARE(int(modem.getSocketId()), -1);
        QVERIFY(!peer->state().contextActive);
    });
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(countPrefix(peer->commands(), "AT+QIACT=1"), 2);
    QCOMPARE(countPrefix(peer->commands(), "AT+QIDEACT=1"), 2);
}

void TestEc25GsmModule::deactiveNet_endsContextAndSocket()
{
    auto modem = openModem();
    QVERIFY(modem->activeNet());
    QVERIFY(modem->openSocket("h:80"));
    QVERIFY(peer->state().contextActive);
    modem->deactiveNet();
    QCOMPARE(modem->getState().flags & 0x408, 0u);
    QCOMPARE(int(modem->getSocketId()), -1);
    QVERIFY(!peer->state().contextActive);
    QCOMPARE(peer->commands().last(), QByteArray("AT+QIDEACT=1"));
    // A socket now has no context: the peer answers with an error code.
    QVERIFY(!modem->openSocket("h:80"));
}

void TestEc25GsmModule::gps_setUpReadAndClose()
{
    auto modem = openModem();
    const QDateTime fix(QDate(2024, 5, 17), QTime(8, 30, 15, 250), Qt::UTC);
    peer->update([&](ModemState &s) { s.gpsSentence = NmeaBuilder::rmc(fix, 45.5, 13.75); });
    int lon = -1;
    int lat = -1;
    qint64 utcMs = -1;
    QCOMPARE(modem->readGPS(&lon, &lat, &utcMs, nullptr), 0); // receiver off
    QCOMPARE(lon, 0);
    QCOMPARE(utcMs, qint64(0));

    peer->clearRecord();
    modem->configGps();
    QCOMPARE(modem->getState().flags, 0x100u);
    QCOMPARE(peer->commands().mid(0, 2), (QList<QByteArray>{"AT+QGPSCFG=\"nmeasrc\",1", "AT+QGPS=1"}));
    TimeRecorder log;
    QCOMPARE(modem->readGPS(&lon, &lat, &utcMs, &log), 1);
    QCOMPARE(peer->commands().last(), QByteArray("AT+QGPSGNMEA=\"RMC\""));
    QCOMPARE(lat, 45 * 3600000 + 30 * 60000);
    QCOMPARE(lon, 13 * 3600000 + 45 * 60000);
    QCOMPARE(utcMs, fix.toMSecsSinceEpoch() + 500);
    QCOMPARE(log.times, (QList<QPair<qint64, int>>{{utcMs, 2}}));

    QVERIFY(modem->closeGps());
    QCOMPARE(modem->getState().flags, 0u);
    QCOMPARE(peer->commands().last(), QByteArray("AT+QGPS=0"));
}

// The service catches the set-up's error and tries again after the GPS
// interval; the driver must leave the modem usable for the rest of the cycle.
void TestEc25GsmModule::gpsSetUpRefused_throwsAndTheModemGoesOn()
{
    auto modem = openModem();
    peer->addFault(ModemFault::CmeError, "AT+QGPS=1", -1, 504);
    QString message;
    QCOMPARE(thrownCode([&] { modem->configGps(); }, &message), 769);
    QCOMPARE(message, QStringLiteral("GSM response ERROR!"));
    QCOMPARE(modem->getState().flags & 0x100, 0u);
    modem->checkNetReg();
    QCOMPARE(modem->getState().flags & 0x040, 0x040u);
    QVERIFY(upload(*modem, rpcRequest()).done);
}

void TestEc25GsmModule::cellLocation_fromThePeer()
{
    auto modem = openModem();
    peer->update([](ModemState &s) { s.cellLocation = "0,121.38163094,31.12738291"; });
    QVERIFY(modem->activeNet());
    int lon = 0;
    int lat = 0;
    QCOMPARE(modem->readGsmLoc(&lon, &lat), 4);
    QCOMPARE(lon, 436973871);
    QCOMPARE(lat, 112058578);

    // The service's error code: no position, and nothing cached.
    peer->update([](ModemState &s) { s.cellLocation.clear(); });
    modem->readGPS(&lon, &lat, nullptr, nullptr); // a failed GPS read ends the cache
    QCOMPARE(modem->readGsmLoc(&lon, &lat), 0);
    QCOMPARE(lon, 0);
}

QTEST_GUILESS_MAIN(TestEc25GsmModule)
#include "tst_ec25gsmmodule.moc"
