// One modem cycle per family, as the modem service runs it, with the driver
// talking to its family's modem peer on the family's node and the peer's
// socket bridged to a local HTTP endpoint: start-up, registration, network
// time, position, and two uploads in a row. And the simulated device's peer
// process, started for the family its configuration selects, following the
// modem's power pin.
#include "gsm/ec25gsmmodule.h"
#include "gsm/gsmhttp.h"
#include "gsm/telitgsmmodule.h"

#include "gsmtestclock.h"
#include "httpendpoint.h"
#include "modemfixture.h"
#include "modempeer.h"
#include "nmeabuilder.h"
#include "testroot.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <memory>

namespace {

constexpr int kScale = 20;
constexpr int kPeerWaitMs = 5000;
constexpr int kGpioModemPower = 41;
const QByteArray kReplyBody = "{\"id\":3,\"result\":0}";

std::unique_ptr<GsmModule> makeDriver(const QString &family)
{
    if (family == QLatin1String("ec25"))
        return std::make_unique<Ec25GsmModule>();
    return std::make_unique<TelitGsmModule>();
}

GsmHttpRequest rpcRequest(int n)
{
    GsmHttpRequest r;
    r.path = "/rpc";
    r.host = "cloud.test:9080";
    r.contentType = "application/json-rpc";
    r.charset = "UTF-8";
    r.body = "{\"id\":" + QByteArray::number(n) + ",\"method\":\"sendState4\",\"params\":[\"1001\",\"{}\",\"0A1B2C3D\"]}";
    return r;
}

} // namespace

class TestModemCycle : public QObject
{
    Q_OBJECT
private slots:
    void wholeCycle_data();
    void wholeCycle();
    void simulatedDevice_startsTheConfiguredFamily_data();
    void simulatedDevice_startsTheConfiguredFamily();
};

void TestModemCycle::wholeCycle_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("node");
    QTest::addColumn<QByteArray>("networkClock"); // the network's time as the peer keeps it
    QTest::addColumn<qint64>("utcMs");            // what the driver must report

    const qint64 noon = QDateTime(QDate(2024, 5, 17), QTime(12, 0, 5), Qt::UTC).toMSecsSinceEpoch() + 500;
    QTest::newRow("ec25") << QStringLiteral("ec25") << QStringLiteral("/dev/ttyUSB2") << QByteArray("24/05/17,12:00:05+08") << noon;
    QTest::newRow("telit") << QStringLiteral("telit") << QStringLiteral("/dev/ttyUSB4") << QByteArray("24/05/17,12:00:05+00") << noon;
}

void TestModemCycle::wholeCycle()
{
    QFETCH(QString, family);
    QFETCH(QString, node);
    QFETCH(QByteArray, networkClock);
    QFETCH(qint64, utcMs);

    TestRoot root;
    root.activate();
    HttpEndpoint endpoint;
    QVERIFY(endpoint.begin());
    endpoint.setReply(HttpEndpoint::pieces(HttpEndpoint::okReply(kReplyBody), 24), 10);
    ModemPeer peer(family);
    QVERIFY(peer.linkAt(root.path(node)));
    peer.setEndpoint(endpoint.port());
    peer.update([&](ModemState &s) {
        s.clock = networkClock;
        s.gpsSentence = NmeaBuilder::rmc(QDateTime(QDate(2024, 5, 17), QTime(12, 0, 4), Qt::UTC), 45.5, 13.75);
    });
    peer.start();

    ScaledClock fast(kScale);
    std::unique_ptr<GsmModule> modem = makeDriver(family);
    modem->open(node);
    modem->setClock(&fast);
    modem->init();
    modem->checkNetReg();
    QCOMPARE(modem->getState().flags & 0x050, 0x050u);
    QCOMPARE(modem->getState().csq, 20);

    TimeRecorder engine;
    QVERIFY(modem->getNetUtcTime(&engine));
    QCOMPARE(engine.times, (QList<QPair<qint64, int>>{{utcMs, 1}}));
    QCOMPARE(modem->getState().flags & 0x800, 0x800u);

    modem->configGps();
    int lon = 0;
    int lat = 0;
    QVERIFY(modem->readGPS(&lon, &lat, nullptr, nullptr) > 0);
    QCOMPARE(lat, 45 * 3600000 + 30 * 60000);

    modem->setAPN("internet", "", "");
    for (int n = 1; n <= 2; ++n) {
        if (!(modem->getState().flags & 0x008))
            QVERIFY(modem->activeNet());
        QVERIFY(modem->openSocket("cloud.test:9080"));
        GsmHttpResponse response;
        QVERIFY2(modem->requestHttp(rpcRequest(n), response), qPrintable(QStringLiteral("upload %1").arg(n)));
        QCOMPARE(response.getBody(), kReplyBody);
        modem->closeSocket();
    }
    const QList<QByteArray> requests = endpoint.requests();
    QCOMPARE(requests, (QList<QByteArray>{rpcRequest(1).createHttpPacket(), rpcRequest(2).createHttpPacket()}));

    modem->deactiveNet();
    QCOMPARE(modem->getState().flags & 0x408, 0u);
    QVERIFY(!peer.state().contextActive);
    modem->close();
}

void TestModemCycle::simulatedDevice_startsTheConfiguredFamily_data()
{
    QTest::addColumn<uint>("userSettings");
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("node");
    QTest::newRow("no modem bits: u-blox") << 0u << QStringLiteral("ublox") << QStringLiteral("/dev/ttyUSB1");
    QTest::newRow("0x800: EC25") << 0x801u << QStringLiteral("ec25") << QStringLiteral("/dev/ttyUSB2");
    QTest::newRow("0x1000: Telit") << 0x1000u << QStringLiteral("telit") << QStringLiteral("/dev/ttyUSB4");
    QTest::newRow("both bits: u-blox") << 0x1800u << QStringLiteral("ublox") << QStringLiteral("/dev/ttyUSB1");
}

void TestModemCycle::simulatedDevice_startsTheConfiguredFamily()
{
    QFETCH(uint, userSettings);
    QFETCH(QString, family);
    QFETCH(QString, node);
    TestRoot root;
    root.activate();
    root.setConfig("{\"userSettings\":" + QByteArray::number(userSettings) + '}');
    HttpEndpoint endpoint;
    QVERIFY(endpoint.begin());
    endpoint.setReply({HttpEndpoint::okReply(kReplyBody)});

    QProcess script;
    script.start(QStringLiteral("bash"), {QStringLiteral(BRELLIUM_SOURCE_DIR "/scripts/modempeer.sh"),
                                          qEnvironmentVariable("BRELLIUM_BUILD_DIR"), root.root(),
                                          QStringLiteral("127.0.0.1:%1").arg(endpoint.port())});
    QVERIFY(script.waitForFinished(kPeerWaitMs));
    QCOMPARE(script.exitCode(), 0);
    const qint64 pid = script.readAllStandardOutput().trimmed().toLongLong();
    QVERIFY(pid > 0);
    const auto stopPeer = qScopeGuard([pid] { QProcess::execute(QStringLiteral("kill"), {QString::number(pid)}); });

    QVERIFY(QTest::qWaitFor([&] { return root.readFile(QStringLiteral("/var/log/modem-peer.log")).contains(" on "); }, kPeerWaitMs));
    QVERIFY(root.readFile(QStringLiteral("/var/log/modem-peer.log")).startsWith("modem peer " + family.toLatin1()));
    // The peer follows the modem's power pin: on (as the root starts), off, on again.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(root.path(node)), kPeerWaitMs);
    root.setGpio(kGpioModemPower, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(root.path(node)), kPeerWaitMs);
    root.setGpio(kGpioModemPower, 1);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(root.path(node)), kPeerWaitMs);
    if (family == QLatin1String("ublox"))
        return; // the u-blox family has tests of its own
    std::unique_ptr<GsmModule> modem = makeDriver(family);
    modem->open(node);
    modem->echoOff();
    QVERIFY(modem->activeNet());
    QVERIFY(modem->openSocket("cloud.test:9080"));
    GsmHttpResponse response;
    QVERIFY(modem->requestHttp(rpcRequest(1), response));
    QCOMPARE(response.getBody(), kReplyBody);
    modem->close();
}

QTEST_GUILESS_MAIN(TestModemCycle)
#include "tst_modemcycle.moc"
