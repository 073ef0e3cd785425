// The stand-alone GPS receiver reading the GPS peer: sentences out of an
// arbitrary byte stream, noise, cut sentences and runs without a line end.
#include "gsm/gps.h"

#include "gpspeer.h"
#include "messagecapture.h"
#include "nmeabuilder.h"

#include <QDateTime>
#include <QTest>

namespace {

constexpr int kPeerWaitMs = 5000;

const QByteArray kBody = "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W";

// Polls until the receiver gives a sentence (it never waits itself).
QString nextSentence(GpsModule &gps)
{
    QString sentence;
    if (!QTest::qWaitFor([&] { return !(sentence = gps.readGpsString()).isNull(); }, kPeerWaitMs))
        return QString();
    return sentence;
}

} // namespace

class TestGpsModule : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void sentence_fromArbitraryPieces();
    void twoSentencesInOneRead_comeOneAPerCall();
    void noise_data();
    void noise();
    void sixHundredBytesWithoutLineEnd_overflowOnce();
    void parse_atLinePacing();
    void missingNode_openFails();

private:
    std::unique_ptr<GpsPeer> peer;
    std::unique_ptr<GpsModule> gps;
};

void TestGpsModule::init()
{
    peer = std::make_unique<GpsPeer>();
    QVERIFY(peer->isOpen());
    peer->start();
    gps = std::make_unique<GpsModule>(peer->slavePath());
    QVERIFY(gps->openPort());
}

void TestGpsModule::cleanup()
{
    gps.reset();
    peer.reset();
}

void TestGpsModule::sentence_fromArbitraryPieces()
{
    const QByteArray line = NmeaBuilder::sentence(kBody) + "\r\n";
    int sent = 0;
    for (int n : {1, 7, 13, 2, 30}) {
        peer->send(line.mid(sent, n));
        sent += n;
        QVERIFY(peer->waitDrained(kPeerWaitMs));
        QTest::qWait(20);
        QVERIFY(gps->readGpsString().isNull());
    }
    peer->send(line.mid(sent));
    QCOMPARE(nextSentence(*gps), QString::fromLatin1(NmeaBuilder::sentence(kBody)));
}

void TestGpsModule::twoSentencesInOneRead_comeOneAPerCall()
{
    const QByteArray first = NmeaBuilder::sentence(kBody);
    const QByteArray second = NmeaBuilder::sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    peer->send(first + "\r\n" + second + "\r\n");
    QVERIFY(peer->waitDrained(kPeerWaitMs));
    QCOMPARE(nextSentence(*gps), QString::fromLatin1(first));
    QCOMPARE(gps->readGpsString(), QString::fromLatin1(second));
    QVERIFY(gps->readGpsString().isNull());
}

void TestGpsModule::noise_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("logged");
    const QByteArray good = NmeaBuilder::sentence(kBody);
    QTest::newRow("noise before $") << QByteArray("zz~") + good + "\r\n" << QStringLiteral(" Gps Error:zz~");
    QTest::newRow("$ restarts a sentence") << QByteArray("$GPRMC,1235") + good + "\r\n" << QStringLiteral(" Gps Error:$GPRMC,1235");
    QTest::newRow("line without $") << QByteArray("GPRMC,junk\r\n") + good + "\n" << QStringLiteral(" Gps Error:GPRMC,junk");
}

void TestGpsModule::noise()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, logged);
    MessageCapture capture;
    peer->send(bytes);
    QCOMPARE(nextSentence(*gps), QString::fromLatin1(NmeaBuilder::sentence(kBody)));
    QCOMPARE(capture.count(QStringLiteral(" Gps Error:")), 1);
    QVERIFY(capture.contains(logged));
}

void TestGpsModule::sixHundredBytesWithoutLineEnd_overflowOnce()
{
    MessageCapture capture;
    peer->send(QByteArray(600, 'x'));
    QVERIFY(peer->waitDrained(kPeerWaitMs));
    QVERIFY(QTest::qWaitFor([&] {
        return gps->readGpsString().isNull() && capture.count(QStringLiteral("Gps Buffer Overflow!")) == 1;
    }, kPeerWaitMs));
    // The buffer started over: after a line end the next sentence comes through.
    peer->send("\r\n" + NmeaBuilder::sentence(kBody) + "\r\n");
    QCOMPARE(nextSentence(*gps), QString::fromLatin1(NmeaBuilder::sentence(kBody)));
    QCOMPARE(capture.count(QStringLiteral("Gps Buffer Overflow!")), 1);
}

void TestGpsModule::parse_atLinePacing()
{
    peer->setPacing(9600);
    const QDateTime fix(QDate(2022, 2, 28), QTime(23, 59, 58, 125), Qt::UTC);
    peer->send("\r\n" + NmeaBuilder::rmc(fix, 45.0, -7.5) + "\r\n");
    GpsInfo info;
    QVERIFY(QTest::qWaitFor([&] { return gps->parse(&info); }, kPeerWaitMs));
    QCOMPARE(info.fixState, 3);
    QCOMPARE(info.lat, 45 * 3600000);
    QCOMPARE(info.lon, -(7 * 3600000 + 30 * 60000));
    QCOMPARE(info.time, fix.toMSecsSinceEpoch());
}

void TestGpsModule::missingNode_openFails()
{
    GpsModule missing(QStringLiteral("/nonexistent/ttyGPS"));
    QVERIFY(!missing.openPort());
    QVERIFY(missing.readGpsString().isNull());
}

QTEST_GUILESS_MAIN(TestGpsModule)
#include "tst_gpsmodule.moc"
