#include "core/locationinfo.h"
#include "core/platform.h"

#include <QTest>

#include <climits>

// The position fix on a fake system clock: the 90 s and 15 min ages at their
// edges, the fall-back from the current to the last valid fix, and the text.
class TestLocationInfo : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void ages_data();
    void ages();
    void toString_data();
    void toString();
    void init_clearsBothFixes();
};

namespace {

constexpr qint64 kNowMs = 1700000000000;
constexpr int kLo = 432000000;      // E120°
constexpr int kLa = 111600000;      // N31°
constexpr int kValidLo = -1000;
constexpr int kValidLa = -2000;

} // namespace

void TestLocationInfo::init()
{
    Platform::setSystemClock([] { return kNowMs; });
}

void TestLocationInfo::cleanup()
{
    Platform::setSystemClock({});
}

void TestLocationInfo::ages_data()
{
    QTest::addColumn<qint64>("time");
    QTest::addColumn<qint64>("validTime");
    QTest::addColumn<bool>("gpsError");
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("error");
    QTest::addColumn<int>("lo");            // getLo(); getLa() follows the same source
    QTest::addColumn<bool>("hasText");      // toString() is not "--"

    QTest::newRow("current fix 90000 ms old") << kNowMs - 90000 << kNowMs << false
                                              << true << true << false << kLo << true;
    QTest::newRow("current fix 90001 ms old") << kNowMs - 90001 << kNowMs - 90001 << false
                                              << false << true << false << kValidLo << true;
    QTest::newRow("valid fix 900000 ms old") << qint64(0) << kNowMs - 900000 << false
                                             << false << true << false << kValidLo << true;
    QTest::newRow("valid fix 900001 ms old") << qint64(0) << kNowMs - 900001 << false
                                             << false << false << false << 0 << false;
    QTest::newRow("online without a valid fix") << kNowMs << qint64(0) << false
                                                << true << false << false << kLo << false;
    QTest::newRow("time 0 is no fix") << qint64(0) << qint64(0) << false
                                      << false << false << false << 0 << false;
    QTest::newRow("after a GPS error") << kNowMs << kNowMs - 1000 << true
                                       << false << true << true << kValidLo << true;
    QTest::newRow("GPS error without a valid fix") << kNowMs << qint64(0) << true
                                                   << false << false << true << 0 << false;
    QTest::newRow("stamps at the ends of qint64") << LLONG_MAX << LLONG_MIN << false
                                                  << true << false << false << kLo << false;
}

void TestLocationInfo::ages()
{
    QFETCH(qint64, time);
    QFETCH(qint64, validTime);
    QFETCH(bool, gpsError);
    QFETCH(bool, online);
    QFETCH(bool, valid);
    QFETCH(bool, error);
    QFETCH(int, lo);
    QFETCH(bool, hasText);

    LocationInfo info;
    info.lo = kLo;
    info.la = kLa;
    info.time = time;
    info.validLo = kValidLo;
    info.validLa = kValidLa;
    info.validTime = validTime;
    if (gpsError)
        info.gpsError();

    QCOMPARE(info.isOnline(), online);
    QCOMPARE(info.isValid(), valid);
    QCOMPARE(info.isError(), error);
    QCOMPARE(info.getLo(), lo);
    QCOMPARE(info.getLa(), lo == kLo ? kLa : lo == kValidLo ? kValidLa : 0);
    if (gpsError)
        QVERIFY(info.lo == 0 && info.la == 0 && info.time == -1 && info.validLo == kValidLo);
    if (hasText)
        QCOMPARE(info.toString(), LocationInfo::toString(info.getLo(), info.getLa()));
    else
        QCOMPARE(info.toString(), QStringLiteral("--"));
}

void TestLocationInfo::toString_data()
{
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("la");
    QTest::addColumn<QString>("text");
    QTest::newRow("east, north") << kLo << kLa << QStringLiteral("E120°00'00\",N31°00'00\"");
    QTest::newRow("west, south") << -(120 * 3600000 + 30 * 60000 + 15000)
                                 << -(33 * 3600000 + 52 * 60000 + 59999)
                                 << QStringLiteral("W120°30'15\",S33°52'59\"");
    QTest::newRow("1000 and 1001 ms past the minute") << 60000 + 1000 << 1001
                                                      << QStringLiteral("E0°01'00\",N0°00'00\"");
    QTest::newRow("zero") << 0 << 0 << QStringLiteral("E0°00'00\",N0°00'00\"");
    QTest::newRow("smallest int") << INT_MIN << INT_MIN
                                  << QStringLiteral("W596°31'23\",S596°31'23\"");
    QTest::newRow("largest int") << INT_MAX << INT_MAX
                                 << QStringLiteral("E596°31'23\",N596°31'23\"");
}

void TestLocationInfo::toString()
{
    QFETCH(int, lo);
    QFETCH(int, la);
    QFETCH(QString, text);
    QCOMPARE(LocationInfo::toString(lo, la), text);
}

void TestLocationInfo::init_clearsBothFixes()
{
    LocationInfo info;
    info.lo = info.la = info.validLo = info.validLa = 5;
    info.time = info.validTime = kNowMs;
    info.init();
    QVERIFY(info.lo == 0 && info.la == 0 && info.time == 0);
    QVERIFY(info.validLo == 0 && info.validLa == 0 && info.validTime == 0);
    QVERIFY(!info.isOnline() && !info.isValid() && !info.isError());
}

QTEST_GUILESS_MAIN(TestLocationInfo)
#include "tst_locationinfo.moc"
