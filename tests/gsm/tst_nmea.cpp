// NMEA positions: the modem drivers' RMC parser and the stand-alone
// receiver's, and the coordinate conversions.
#include "gsm/gps.h"
#include "gsm/gsmmodule.h"

#include "nmeabuilder.h"

#include <QDateTime>
#include <QTest>

namespace {

qint64 utc(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

QByteArray rmc(const QByteArray &body)
{
    return NmeaBuilder::sentence(body);
}

const QByteArray kExample = "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W";

} // namespace

class TestNmea : public QObject
{
    Q_OBJECT
private slots:
    void rmcParsers_data();
    void rmcParsers();
    void parseGRMC_withoutTimeOutput();
    void formatToInt_data();
    void formatToInt();
    void gsmLocToInt();
};

void TestNmea::rmcParsers_data()
{
    QTest::addColumn<QByteArray>("sentence");
    QTest::addColumn<bool>("grmcOk");   // GsmModule::parseGRMC
    QTest::addColumn<qint64>("grmcTime");
    QTest::addColumn<bool>("gpsOk");    // GpsModule::parseGpsString
    QTest::addColumn<int>("fixState");
    QTest::addColumn<qint64>("gpsTime");
    QTest::addColumn<int>("lon");
    QTest::addColumn<int>("lat");

    const qint64 t = utc("2021-03-23T12:35:19.000Z");
    // 4807.038 x 10,000 is just below 48,070,380 in double precision: 6 less than exact.
    QTest::newRow("valid") << rmc(kExample) << true << t + 500 << true << 3 << t << 41460000 << 173222274;
    QTest::newRow("valid, no checksum") << '$' + kExample << true << t + 500 << true << 3 << t << 41460000 << 173222274;
    QTest::newRow("status V") << rmc("GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W")
                              << false << qint64(0) << true << 0 << t << 41460000 << 173222274;
    QTest::newRow("south and west") << rmc("GPRMC,123519,A,4807.038,S,01131.000,W,022.4,084.4,230321,003.1,W")
                                    << true << t + 500 << true << 3 << t << -41460000 << -173222274;
    QTest::newRow("date 000000") << rmc("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,000000,003.1,W")
                                 << true << qint64(0) << true << 3 << qint64(0) << 41460000 << 173222274;
    QTest::newRow("too few fields") << rmc("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230321")
                                    << false << qint64(0) << false << 0 << qint64(0) << 0 << 0;
    QTest::newRow("not $GPRMC") << rmc("GPGGA,123519,A,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W")
                                << false << qint64(0) << false << 0 << qint64(0) << 0 << 0;
    QTest::newRow("hour 25") << rmc("GPRMC,253519,A,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W")
                             << true << qint64(0) << true << 3 << qint64(0) << 41460000 << 173222274;
    QTest::newRow("seconds 60") << rmc("GPRMC,123560,A,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W")
                                << true << qint64(0) << true << 3 << qint64(0) << 41460000 << 173222274;
    QTest::newRow("empty time") << rmc("GPRMC,,A,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W")
                                << true << qint64(0) << true << 3 << qint64(0) << 41460000 << 173222274;
    QTest::newRow("day 32") << rmc("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,320321,003.1,W")
                            << true << qint64(0) << true << 3 << qint64(0) << 41460000 << 173222274;
    QTest::newRow("month 13") << rmc("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,231321,003.1,W")
                              << true << qint64(0) << true << 3 << qint64(0) << 41460000 << 173222274;
    QTest::newRow("fraction .50 is 50 ms") << rmc("GPRMC,123519.50,A,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W")
                                           << true << t + 550 << true << 3 << t + 50 << 41460000 << 173222274;
    QTest::newRow("long fraction counts 0 ms") << rmc("GPRMC,123519.5000,A,4807.038,N,01131.000,E,022.4,084.4,230321,003.1,W")
                                               << true << t + 500 << true << 3 << t << 41460000 << 173222274;
    QTest::newRow("bad checksum") << '$' + kExample + "*00" << false << qint64(0) << false << 0 << qint64(0) << 0 << 0;
    QTest::newRow("garbled checksum") << '$' + kExample + "*Z" << false << qint64(0) << false << 0 << qint64(0) << 0 << 0;
    // A coordinate off the globe is a garbled sentence, not a position.
    QTest::newRow("longitude 179 degrees 99 minutes") << rmc("GPRMC,123519,A,4807.038,N,17999.000,W,022.4,084.4,230321,003.1,W")
                                                      << false << qint64(0) << false << 0 << qint64(0) << 0 << 0;
    QTest::newRow("latitude past 90 degrees") << rmc("GPRMC,123519,A,9000.001,N,01131.000,E,022.4,084.4,230321,003.1,W")
                                              << false << qint64(0) << false << 0 << qint64(0) << 0 << 0;
    QTest::newRow("coordinate 1e300") << rmc("GPRMC,123519,A,1e300,N,01131.000,E,022.4,084.4,230321,003.1,W")
                                      << false << qint64(0) << false << 0 << qint64(0) << 0 << 0;
    QTest::newRow("coordinate inf") << rmc("GPRMC,123519,A,4807.038,N,inf,E,022.4,084.4,230321,003.1,W")
                                    << false << qint64(0) << false << 0 << qint64(0) << 0 << 0;
    QTest::newRow("the pole and the date line") << rmc("GPRMC,123519,A,9000.000,S,18000.000,W,022.4,084.4,230321,003.1,W")
                                                << true << t + 500 << true << 3 << t << -648000000 << -324000000;
}

void TestNmea::rmcParsers()
{
    QFETCH(QByteArray, sentence);
    QFETCH(bool, grmcOk);
    QFETCH(qint64, grmcTime);
    QFETCH(bool, gpsOk);
    QFETCH(int, fixState);
    QFETCH(qint64, gpsTime);
    QFETCH(int, lon);
    QFETCH(int, lat);

    int gotLon = 0;
    int gotLat = 0;
    qint64 gotTime = -1;
    QCOMPARE(GsmModule::parseGRMC(QString::fromLatin1(sentence), &gotLon, &gotLat, &gotTime), grmcOk);
    QCOMPARE(gotTime, grmcTime);
    QCOMPARE(gotLon, grmcOk ? lon : 0);
    QCOMPARE(gotLat, grmcOk ? lat : 0);

    GpsInfo info;
    info.fixState = -1;
    QCOMPARE(GpsModule::parseGpsString(QString::fromLatin1(sentence), &info), gpsOk);
    if (!gpsOk) {
        QCOMPARE(info.fixState, -1); // untouched
        return;
    }
    QCOMPARE(info.fixState, fixState);
    QCOMPARE(info.time, gpsTime);
    QCOMPARE(info.lon, lon);
    QCOMPARE(info.lat, lat);
}

void TestNmea::parseGRMC_withoutTimeOutput()
{
    int lon = 0;
    int lat = 0;
    QVERIFY(GsmModule::parseGRMC(QString::fromLatin1(rmc(kExample)), &lon, &lat, nullptr));
    QCOMPARE(lat, 173222274);
}

void TestNmea::formatToInt_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("mas");
    QTest::newRow("4542.82691") << 4542.82691 << 164569614;
    QTest::newRow("-4542.82691") << -4542.82691 << -164569614;
    QTest::newRow("0") << 0.0 << 0;
    QTest::newRow("fifth decimal cut") << 1344.26820 << 49456092;
    QTest::newRow("three-digit degrees") << 17959.9999 << 647999994;
}

void TestNmea::formatToInt()
{
    QFETCH(double, value);
    QFETCH(int, mas);
    QCOMPARE(GpsModule::formatToInt(value), mas);
}

void TestNmea::gsmLocToInt()
{
    QCOMPARE(GsmModule::gsmLocToInt(13.74170), 49470120);
    QCOMPARE(GsmModule::gsmLocToInt(45.69100), 164487600);
    QCOMPARE(GsmModule::gsmLocToInt(-0.5), -1800000);
}

QTEST_GUILESS_MAIN(TestNmea)
#include "tst_nmea.moc"
