#include "core/platform.h"
#include "core/utc.h"

#include "messagecapture.h"
#include "testroot.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <atomic>
#include <climits>

// The device clock on a fake system clock and a simulated root: the offset,
// the synchronisation counter, the two-slot offset file and the board's
// "sync", then the zone arithmetic of the time value. CTest runs this suite
// under a host zone with a half-hour offset, so any use of host local time
// shows.
class TestUTC : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void setTime_sequences_data();
    void setTime_sequences();
    void record_fields_data();
    void record_fields();
    void setTime_unwritableFile_data();
    void setTime_unwritableFile();
    void setTime_concurrentWriters_keepBothSlotsValid();
    void setTime_farOutTime_isIgnored();

    void zone_fields_data();
    void zone_fields();
    void zone_beyond32BitProduct_formatsLikeShiftedTime_data();
    void zone_beyond32BitProduct_formatsLikeShiftedTime();
    void parse_badInput_givesZero_data();
    void parse_badInput_givesZero();
    void loadFromLocal_rollsOver();
    void clubTime_addsClubDifference();

private:
    TestRoot *root = nullptr;
};

namespace {

constexpr qint64 kSystemMs = 1700000000000; // 2023-11-14 22:13:20 UTC
std::atomic<qint64> fakeClockMs{kSystemMs};
const QString kFileName = QStringLiteral("/etc/timediff2");
const QString kFmt = QStringLiteral("dd/MM/yyyy hh:mm:ss");

// Bit by bit, as the polynomial is defined: a table-driven product CRC and
// this one cannot share a mistake.
quint16 crcXmodem(const QByteArray &bytes)
{
    quint16 crc = 0;
    for (char c : bytes) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QByteArray makeRecord(qint64 offsetMs, quint32 syncId)
{
    QByteArray record(16, '\0');
    qToLittleEndian<qint64>(offsetMs, record.data());
    qToLittleEndian<quint32>(syncId, record.data() + 8);
    qToLittleEndian<quint16>(crcXmodem(record.left(14)), record.data() + 14);
    return record;
}

struct Counter {
    std::atomic<int> calls{0};
    int type = 0;
};

void installHook(Counter *counter)
{
    UTC::setRfHook({[counter] { return counter->type; }, [counter] { ++counter->calls; }});
}

} // namespace

void TestUTC::initTestCase()
{
    // The zone CTest sets must really apply, or this suite proves nothing
    // about independence from the host's zone.
    if (qEnvironmentVariable("TZ") == QLatin1String("Asia/Kolkata"))
        QCOMPARE(QDateTime::fromMSecsSinceEpoch(0).offsetFromUtc(), 19800);
}

void TestUTC::init()
{
    root = new TestRoot;
    root->activate();
    fakeClockMs = kSystemMs;
    Platform::setSystemClock([] { return fakeClockMs.load(); });
    UTC::init();
    UTC::setTimeZone(0);
    UTC::_clubTimeDiff = 0;
    UTC::clearRfHook();
}

void TestUTC::cleanup()
{
    UTC::clearRfHook();
    UTC::setTimeZone(0);
    Platform::setSystemClock({});
    delete root;
    root = nullptr;
}

void TestUTC::setTime_sequences_data()
{
    QTest::addColumn<QList<qint64>>("diffs");      // new time minus system clock
    QTest::addColumn<QList<bool>>("persists");
    QTest::addColumn<int>("rfType");
    QTest::addColumn<QByteArray>("before");         // file content beforehand
    QTest::addColumn<qint64>("timeBase");
    QTest::addColumn<int>("syncId");
    QTest::addColumn<QByteArray>("after");          // null: no file
    QTest::addColumn<int>("syncs");
    QTest::addColumn<int>("verifyCalls");

    const QByteArray none;
    const QByteArray zeros(16, '\0');
    QTest::newRow("first persistent change lands in slot 1")
        << QList<qint64>{1000} << QList<bool>{true} << 0 << none
        << qint64(1000) << 1 << zeros + makeRecord(1000, 1) << 1 << 0;
    QTest::newRow("second one goes to slot 0, slot 1 kept")
        << QList<qint64>{1000, 3000} << QList<bool>{true, true} << 0 << none
        << qint64(3000) << 2 << makeRecord(3000, 2) + makeRecord(1000, 1) << 2 << 0;
    QTest::newRow("+500 after a sync changes nothing")
        << QList<qint64>{1000, 1500} << QList<bool>{true, true} << 0 << none
        << qint64(1000) << 1 << zeros + makeRecord(1000, 1) << 1 << 0;
    QTest::newRow("-500 after a sync changes nothing")
        << QList<qint64>{1000, 500} << QList<bool>{true, true} << 0 << none
        << qint64(1000) << 1 << zeros + makeRecord(1000, 1) << 1 << 0;
    QTest::newRow("+501 is written")
        << QList<qint64>{1000, 1501} << QList<bool>{true, true} << 0 << none
        << qint64(1501) << 2 << makeRecord(1501, 2) + makeRecord(1000, 1) << 2 << 0;
    QTest::newRow("-501 is written")
        << QList<qint64>{1000, 499} << QList<bool>{true, true} << 0 << none
        << qint64(499) << 2 << makeRecord(499, 2) + makeRecord(1000, 1) << 2 << 0;
    QTest::newRow("500 from a fresh start is within the band")
        << QList<qint64>{500} << QList<bool>{true} << 0 << none
        << qint64(0) << 0 << none << 0 << 0;
    QTest::newRow("not persistent: offset only")
        << QList<qint64>{-2000} << QList<bool>{false} << 0 << none
        << qint64(-2000) << 0 << none << 0 << 0;
    QTest::newRow("same time made persistent later is no change")
        << QList<qint64>{1000, 1000} << QList<bool>{false, true} << 0 << none
        << qint64(1000) << 0 << none << 0 << 0;
    QTest::newRow("negative offset")
        << QList<qint64>{-123456789} << QList<bool>{true} << 0 << none
        << qint64(-123456789) << 1 << zeros + makeRecord(-123456789, 1) << 1 << 0;
    QTest::newRow("clock module: the module takes the time")
        << QList<qint64>{1000, 5000, 9000} << QList<bool>{false, true, false} << 0x4B31 << none
        << qint64(9000) << 0 << none << 0 << 1;
    QTest::newRow("another module type: the file")
        << QList<qint64>{1000} << QList<bool>{true} << 0x4B30 << none
        << qint64(1000) << 1 << zeros + makeRecord(1000, 1) << 1 << 0;
    const QByteArray other(40, '\xAA');
    QTest::newRow("existing bytes outside the slot stay")
        << QList<qint64>{1000} << QList<bool>{true} << 0 << other
        << qint64(1000) << 1 << other.left(16) + makeRecord(1000, 1) + other.mid(32) << 1 << 0;
    QTest::newRow("existing bytes: slot 0 alone changes")
        << QList<qint64>{1000, 3000} << QList<bool>{true, true} << 0 << other
        << qint64(3000) << 2 << makeRecord(3000, 2) + makeRecord(1000, 1) + other.mid(32) << 2 << 0;
}

void TestUTC::setTime_sequences()
{
    QFETCH(QList<qint64>, diffs);
    QFETCH(QList<bool>, persists);
    QFETCH(int, rfType);
    QFETCH(QByteArray, before);
    QFETCH(qint64, timeBase);
    QFETCH(int, syncId);
    QFETCH(QByteArray, after);
    QFETCH(int, syncs);
    QFETCH(int, verifyCalls);

    Counter counter;
    counter.type = rfType;
    if (rfType != 0)
        installHook(&counter);
    if (!before.isNull())
        root->writeFile(kFileName, before);
    root->clearBoardCommands();
    MessageCapture capture;

    for (int i = 0; i < diffs.size(); ++i) {
        fakeClockMs += 7; // the system clock runs on between calls
        UTC::setTime(fakeClockMs + diffs.at(i), persists.at(i));
    }

    QCOMPARE(UTC::_timeBase.load(), timeBase);
    QCOMPARE(UTC::now().value(), fakeClockMs.load() + timeBase);
    QCOMPARE(int(UTC::_syncId.load()), syncId);
    if (after.isNull())
        QVERIFY(!QFile::exists(root->path(kFileName)));
    else
        QCOMPARE(root->readFile(kFileName).toHex(' '), after.toHex(' '));
    QCOMPARE(root->boardCommands().count(QStringLiteral("sync")), syncs);
    QCOMPARE(root->boardCommands().size(), syncs);
    QCOMPARE(capture.count(QStringLiteral("_syncId updated:")), syncs);
    if (syncs > 0)
        QVERIFY(capture.contains(QStringLiteral("_syncId updated: %1").arg(syncId)));
    QCOMPARE(counter.calls.load(), verifyCalls);
}

void TestUTC::record_fields_data()
{
    QTest::addColumn<QList<qint64>>("diffs");
    QTest::addColumn<int>("offset");                // where the last record lies
    QTest::addColumn<QByteArray>("head");           // expected bytes 0 to 13
    QTest::newRow("diff 0 with counter 2")
        << QList<qint64>{1000, 0} << 0 << QByteArray::fromHex("0000000000000000020000000000");
    QTest::newRow("positive offset, counter 1")
        << QList<qint64>{0x0102030405} << 16 << QByteArray::fromHex("0504030201000000010000000000");
    QTest::newRow("negative offset, counter 1")
        << QList<qint64>{-2000} << 16 << QByteArray::fromHex("30f8ffffffffffff010000000000");
    QTest::newRow("counter 3")
        << QList<qint64>{1000, 2000, -3000} << 16 << QByteArray::fromHex("48f4ffffffffffff030000000000");
}

void TestUTC::record_fields()
{
    QFETCH(QList<qint64>, diffs);
    QFETCH(int, offset);
    QFETCH(QByteArray, head);
    for (qint64 diff : diffs)
        UTC::setTime(kSystemMs + diff, true);
    const QByteArray record = root->readFile(kFileName).mid(offset, 16);
    QCOMPARE(record.left(14).toHex(), head.toHex());
    const quint16 crc = quint16(quint8(record.at(14))) | quint16(quint8(record.at(15))) << 8;
    QCOMPARE(crc, crcXmodem(head));
}

void TestUTC::setTime_unwritableFile_data()
{
    QTest::addColumn<bool>("etcMissing");
    QTest::newRow("etc missing") << true;
    QTest::newRow("file cannot be opened") << false;
}

void TestUTC::setTime_unwritableFile()
{
    QFETCH(bool, etcMissing);
    if (etcMissing)
        QVERIFY(QDir(root->path(QStringLiteral("/etc"))).removeRecursively());
    else
        QVERIFY(QDir().mkpath(root->path(kFileName))); // a folder where the file belongs
    UTC::setTime(kSystemMs + 10000, true);
    QCOMPARE(UTC::_timeBase.load(), qint64(10000));
    QCOMPARE(int(UTC::_syncId.load()), 1);
    QVERIFY(!QFileInfo(root->path(kFileName)).isFile());
}

void TestUTC::setTime_concurrentWriters_keepBothSlotsValid()
{
    // Every value differs from every other by far more than the dead band,
    // so each persistent call is a change that must be counted and written.
    constexpr int kCalls = 150;
    auto writer = [](qint64 first, qint64 step, bool persist) {
        return QThread::create([=] {
            for (int i = 0; i < kCalls; ++i)
                UTC::setTime(kSystemMs + first + step * i, persist);
        });
    };
    root->clearBoardCommands();
    QThread *a = writer(1000000, 10000, true);
    QThread *b = writer(-1000000, -10000, true);
    QThread *c = writer(5000000, 10000, false);
    for (QThread *t : {a, b, c})
        t->start();
    for (QThread *t : {a, b, c}) {
        QVERIFY(t->wait(60000));
        delete t;
    }

    QCOMPARE(int(UTC::_syncId.load()), 2 * kCalls);
    QCOMPARE(root->boardCommands().count(QStringLiteral("sync")), 2 * kCalls);
    const QByteArray file = root->readFile(kFileName);
    QCOMPARE(file.size(), 32);
    for (int slot = 0; slot < 2; ++slot) {
        const QByteArray record = file.mid(slot * 16, 16);
        const quint32 id = qFromLittleEndian<quint32>(record.constData() + 8);
        const qint64 offsetMs = qFromLittleEndian<qint64>(record.constData());
        QCOMPARE(int(id % 2), slot);
        QCOMPARE(record, makeRecord(offsetMs, id));
        QVERIFY(offsetMs != 0 && offsetMs < 5000000); // a persistent writer's value
    }
    QCOMPARE(qFromLittleEndian<quint32>(file.constData() + 8), quint32(2 * kCalls));
}

void TestUTC::setTime_farOutTime_isIgnored()
{
    // A time so far off that the offset would not fit is no time at all:
    // the clock keeps its offset.
    UTC::setTime(kSystemMs + 1000, false);
    UTC::setTime(LLONG_MIN, true);
    QCOMPARE(UTC::_timeBase.load(), qint64(1000));
    QCOMPARE(int(UTC::_syncId.load()), 0);
}

void TestUTC::zone_fields_data()
{
    QTest::addColumn<int>("zone");
    QTest::addColumn<QString>("epochText");         // format(0, ...)
    QTest::addColumn<qint64>("eightLocal");         // loadFromLocal(1970, 1, 1, 8, 0, 0, 0)
    QTest::addColumn<qint64>("earlyClock");         // a system time early or late in the local day
    QTest::addColumn<qint64>("sinceMidnight");      // its local time of day

    const qint64 hour = 3600000;
    // 2023-11-14 00:00 UTC is 1699920000000.
    const qint64 day = 1699920000000;
    QTest::newRow("UTC") << 0 << QStringLiteral("01/01/1970 00:00:00") << 8 * hour
                         << day + 2 * hour << 2 * hour;
    QTest::newRow("+08:00") << 28800 << QStringLiteral("01/01/1970 08:00:00") << qint64(0)
                            << day - 6 * hour << 2 * hour; // 02:00 local, the UTC day before
    QTest::newRow("-09:30") << -34200 << QStringLiteral("31/12/1969 14:30:00")
                            << 8 * hour + 34200000 << day + 8 * hour + 30 * 60000 << 23 * hour;
    QTest::newRow("+14:00") << 50400 << QStringLiteral("01/01/1970 14:00:00") << -6 * hour
                            << day - 13 * hour << hour; // 01:00 local
}

void TestUTC::zone_fields()
{
    QFETCH(int, zone);
    QFETCH(QString, epochText);
    QFETCH(qint64, eightLocal);
    QFETCH(qint64, earlyClock);
    QFETCH(qint64, sinceMidnight);
    UTC::setTimeZone(zone);

    QCOMPARE(UTC::format(0, kFmt), epochText);
    QCOMPARE(UTC(0).format(kFmt), epochText);
    UTC eight;
    eight.loadFromLocal(1970, 1, 1, 8, 0, 0, 0);
    QCOMPARE(eight.value(), eightLocal);
    QCOMPARE(UTC(0).utcHour(), 0);

    const QString fullFmt = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");
    // Around midnights on both sides, before the epoch and at a leap day.
    const qint64 samples[] = {0, 1699920000000 - 1, 1699920000000 + 34200000, -86400001,
                              951782400000 + 45296789, 4102444799999};
    for (qint64 t : samples) {
        const UTC value(t);
        // The host's zone must never enter: compare with a fixed-offset Qt time.
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(t, Qt::OffsetFromUTC, zone);
        const QDateTime utc = QDateTime::fromMSecsSinceEpoch(t, Qt::UTC);
        QCOMPARE(value.year(), local.date().year());
        QCOMPARE(value.month(), local.date().month());
        QCOMPARE(value.day(), local.date().day());
        QCOMPARE(value.hour(), local.time().hour());
        QCOMPARE(value.minute(), local.time().minute());
        QCOMPARE(value.second(), local.time().second());
        QCOMPARE(value.millsecond(), local.time().msec());
        QCOMPARE(value.utcYear(), utc.date().year());
        QCOMPARE(value.utcMonth(), utc.date().month());
        QCOMPARE(value.utcDay(), utc.date().day());
        QCOMPARE(value.utcHour(), utc.time().hour());
        QCOMPARE(value.utcMinute(), utc.time().minute());
        QCOMPARE(value.utcSecond(), utc.time().second());

        UTC back;
        back.loadFromLocal(value.year(), value.month(), value.day(), value.hour(), value.minute(),
                           value.second(), value.millsecond());
        QCOMPARE(back.value(), t);
        const QString text = UTC::format(t, fullFmt);
        QCOMPARE(text, local.toString(fullFmt));
        QCOMPARE(UTC::parseLocal(text, fullFmt).value(), t);
        QCOMPARE(UTC::parseUTC(text, fullFmt).value(), t + qint64(zone) * 1000);
    }
    // Local fields cross midnight where UTC fields do not (and the reverse).
    const UTC nearMidnight(1699920000000 + 12 * 3600000);
    QCOMPARE(nearMidnight.utcDay(), 14);
    QCOMPARE(nearMidnight.day(), zone >= 43200 ? 15 : 14);

    fakeClockMs = earlyClock;
    const UTC today = UTC::today();
    QCOMPARE(today.format(QStringLiteral("hh:mm:ss")), QStringLiteral("00:00:00"));
    QCOMPARE(UTC::now().value() - today.value(), sinceMidnight);
    QVERIFY(UTC::now().value() - today.value() < 86400000);
}

void TestUTC::zone_beyond32BitProduct_formatsLikeShiftedTime_data()
{
    QTest::addColumn<int>("zone");
    QTest::newRow("just beyond") << 2147484;
    QTest::newRow("largest int") << INT_MAX;
    QTest::newRow("smallest int") << INT_MIN;
}

void TestUTC::zone_beyond32BitProduct_formatsLikeShiftedTime()
{
    QFETCH(int, zone);
    const qint64 t = 1700000000123;
    UTC::setTimeZone(0);
    const QString shifted = UTC::format(t + qint64(zone) * 1000, kFmt);
    UTC::setTimeZone(zone);
    QCOMPARE(UTC::format(t, kFmt), shifted);
    UTC back;
    back.loadFromLocal(UTC(t).year(), UTC(t).month(), UTC(t).day(), UTC(t).hour(), UTC(t).minute(),
                       UTC(t).second(), UTC(t).millsecond());
    QCOMPARE(back.value(), t);
}

void TestUTC::parse_badInput_givesZero_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fmt");
    QTest::newRow("garbage") << QStringLiteral("garbled") << kFmt;
    QTest::newRow("empty") << QString() << kFmt;
    QTest::newRow("month 13") << QStringLiteral("01/13/2023 10:00:00") << kFmt;
    QTest::newRow("31 February") << QStringLiteral("31/02/2023 10:00:00") << kFmt;
    QTest::newRow("hour 25") << QStringLiteral("01/01/2023 25:00:00") << kFmt;
    QTest::newRow("trailing text") << QStringLiteral("01/01/2023 10:00:00x") << kFmt;
}

void TestUTC::parse_badInput_givesZero()
{
    QFETCH(QString, text);
    QFETCH(QString, fmt);
    UTC::setTimeZone(28800);
    QCOMPARE(UTC::parseUTC(text, fmt).value(), qint64(0));
    QCOMPARE(UTC::parseLocal(text, fmt).value(), qint64(0));
}

void TestUTC::loadFromLocal_rollsOver()
{
    UTC::setTimeZone(19800);
    auto local = [](int y, int mo, int d, int h, int mi, int s, int ms) {
        UTC value;
        value.loadFromLocal(y, mo, d, h, mi, s, ms);
        return value.value();
    };
    QCOMPARE(local(2023, 2, 31, 10, 0, 0, 0), local(2023, 3, 3, 10, 0, 0, 0));
    QCOMPARE(local(2023, 13, 1, 0, 0, 0, 0), local(2024, 1, 1, 0, 0, 0, 0));
    QCOMPARE(local(2023, 0, 1, 0, 0, 0, 0), local(2022, 12, 1, 0, 0, 0, 0));
    QCOMPARE(local(2023, 1, 1, 24, 0, 0, 0), local(2023, 1, 2, 0, 0, 0, 0));
    QCOMPARE(local(2023, 1, 1, 0, 0, 0, -1), local(2022, 12, 31, 23, 59, 59, 999));
    // Extreme fields wrap rather than crash.
    local(INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX);
    local(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN);

    // The calendar constructor checks its fields instead.
    QCOMPARE(UTC(2023, 13, 1, 0, 0, 0, 0).value(), qint64(0));
    QCOMPARE(UTC(2023, 2, 29, 0, 0, 0, 0).value(), qint64(0));
    QCOMPARE(UTC(2023, 1, 1, 24, 0, 0, 0).value(), qint64(0));
    QCOMPARE(UTC(2024, 2, 29, 12, 30, 15, 250).value(), qint64(1709209815250));
}

void TestUTC::clubTime_addsClubDifference()
{
    UTC::setTime(kSystemMs + 4000, false);
    UTC::_clubTimeDiff = -90061001;
    QCOMPARE(UTC::clubTime().value(), kSystemMs + 4000 - 90061001);
    UTC::_clubTimeDiff = 0;
    QCOMPARE(UTC::clubTime().value(), UTC::now().value());
}

QTEST_GUILESS_MAIN(TestUTC)
#include "tst_utc.moc"
