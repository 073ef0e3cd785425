#include "core/servicefactory.h"
#include "core/platform.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/pcport.h"
#include "storage/loftinfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/pigeon/pcexport.h"

#include "pcportpeer.h"
#include "storagefixture.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

// The PC port's node under the simulated root.
QString pcNode()
{
    return Platform::path(QStringLiteral("/dev/ttyS1"));
}

constexpr int kWaitMs = 10000;
// Arrival lines whose bytes (about 26 KB) are more than a pseudo-terminal
// takes before its writer waits (about 18 KB), and which a 9600-baud line
// sends in under half a minute.
constexpr int kPastTheQueueLines = 250;
constexpr int kLineBytesAtMost = 110; // of one seeded arrival line, CR LF included
constexpr int kPcReadPeriodMs = 1000;
// 2025-05-01 10:00:00 UTC.
constexpr qint64 kBase = 1746093600000LL;
constexpr qint64 kMinute = 60000;

enum class Seed { Empty, Order, Training, Quote, ZoneEast, ZoneUtc, ZoneWest };

void saveRace(const QString &code, qint64 liberTime)
{
    RaceInfo race;
    race.raceCode = code;
    race.liberTime = liberTime;
    race.valid = 4;
    Storage::instance()->saveRace(&race);
}

// A record row as the engine leaves it: basketed for raceCode (markTime 0 =
// not basketed) and arrived at back (0 = not arrived).
void saveRecord(const QString &assocNum, const QString &ring, const QString &raceCode, qint64 markTime, qint64 back,
                int order)
{
    PigeonRecord record;
    record.assocNum = assocNum;
    record.eringNum = ring;
    record.raceCode = raceCode;
    record.markTime = markTime;
    record.backTimeEring = back;
    record.backOrder = order;
    Storage::instance()->saveRecord(&record);
}

LoftInfo loft(const QString &owner, int zone)
{
    LoftInfo info;
    info.loftNum = QStringLiteral("L100");
    info.ownerName = owner;
    info.timeZone = zone;
    return info;
}

QByteArray recordLine(const char *assoc, int order, const char *time, const char *race, const char *type)
{
    return QByteArray("{\"AssocNum\":\"") + assoc + "\",\"BackOrder\":" + QByteArray::number(order)
           + ",\"BackTimeEring\":\"" + time + "\",\"Racecode\":\"" + race + "\",\"Type\":\"" + type + "\"}";
}

const QByteArray kStartL100 = R"({"LoftNum":"L100","OwnerName":"Ann","TimeZone":28800,"Type":"start"})";
const QByteArray kEnd = R"({"Type":"end"})";

} // namespace

// The export to the PC program through the real PC port to a listening peer:
// the bytes of each kind of database, the line settings, and how it ends when
// the PC stops reading, hangs up or is missing.
class TestPcExport : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lines_data();
    void lines();
    void twoExportsSameBytesPortClosed();
    void thousandLinesArriveWhole();
    void pcReadingOnceASecond_wholeExportArrives();
    void missingLink_writesNothing();
    void peerStopsReading_exportGivesUp();
    void peerHangsUp_exportEndsClosed();
    void databaseFailure_isThrownAfterStartLine();

private:
    // Runs the export as the screen does; false when a write failed.
    bool exportNow(const LoftInfo &info);
    void seedArrivals(int count);

    std::unique_ptr<StorageFixture> store;
    std::unique_ptr<PcPortPeer> peer;
};

void TestPcExport::init()
{
    store = std::make_unique<StorageFixture>();
    UTC::setTimeZone(28800);
    peer = std::make_unique<PcPortPeer>();
    QVERIFY(peer->isValid());
    QVERIFY(peer->linkAt(pcNode()));
    QVERIFY(peer->start());
}

void TestPcExport::cleanup()
{
    PcPort::destroy();
    Storage::setFault(Storage::Fault::None);
    peer.reset();
    UTC::setTimeZone(28800);
    store.reset();
}

bool TestPcExport::exportNow(const LoftInfo &info)
{
    if (!PcPort::open())
        return false;
    struct Closer {
        ~Closer() { PcPort::close(); }
    } closer;
    return PcExport::run(info, Storage::instance(), [](const QByteArray &line) { return PcPort::write(line); });
}

void TestPcExport::seedArrivals(int count)
{
    saveRace(QStringLiteral("BIG"), kBase);
    Storage *storage = Storage::instance();
    storage->_beginTransaction();
    for (int i = 0; i < count; ++i)
        saveRecord(QStringLiteral("P%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("E%1").arg(i),
                   QStringLiteral("BIG"), kBase - kMinute, kBase + i * 1000, i + 1);
    storage->_commit();
}

void TestPcExport::lines_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<int>("zone");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("empty database") << int(Seed::Empty) << "Ann" << 28800 << QByteArrayList{kStartL100, kEnd};
    QTest::newRow("races by liberation then code, arrivals by ring time")
        << int(Seed::Order) << "Ann" << 28800
        << QByteArrayList{kStartL100,
                          recordLine("A1", 1, "01/05/2025 18:01:00", "R1", "record"),
                          recordLine("A3", 2, "01/05/2025 18:02:00", "R1", "record"),
                          recordLine("A2", 3, "01/05/2025 18:03:00", "R1", "record"),
                          recordLine("B1", 1, "01/05/2025 18:00:30", "R2", "record"),
                          recordLine("C1", 1, "01/05/2025 19:00:00", "A9", "record"), kEnd};
    QTest::newRow("training arrivals of ringed pigeons only")
        << int(Seed::Training) << "Ann" << 28800
        << QByteArrayList{kStartL100, recordLine("T2", 1, "01/05/2025 18:01:00", "0", "t-record"),
                          recordLine("T4", 3, "01/05/2025 18:02:00", "0", "t-record"),
                          recordLine("T1", 2, "01/05/2025 18:03:00", "0", "t-record"), kEnd};
    // Only the seven escapes; U+0001 and non-ASCII raw (never \u00XX).
    QTest::newRow("owner name escapes")
        << int(Seed::Empty) << QString::fromUtf8("O'B \"Q\" \\ \b\f\n\r\t\x01 Z\xc3\xbcrich \xe9\xb8\xbd") << 28800
        << QByteArrayList{QByteArray("{\"LoftNum\":\"L100\",\"OwnerName\":\"O'B \\\"Q\\\" \\\\ \\b\\f\\n\\r\\t\x01 "
                                     "Z\xc3\xbcrich \xe9\xb8\xbd\",\"TimeZone\":28800,\"Type\":\"start\"}"),
                          kEnd};
    QTest::newRow("race code with a quote")
        << int(Seed::Quote) << "Ann" << 28800
        << QByteArrayList{kStartL100, recordLine("Q'1", 1, "01/05/2025 18:01:00", "R'1", "record"), kEnd};
    QTest::newRow("zone 0") << int(Seed::ZoneUtc) << "Ann" << 0
                            << QByteArrayList{R"({"LoftNum":"L100","OwnerName":"Ann","TimeZone":0,"Type":"start"})",
                                              recordLine("Z1", 1, "01/05/2025 10:01:00", "R1", "record"), kEnd};
    QTest::newRow("zone west") << int(Seed::ZoneWest) << "Ann" << -36000
                               << QByteArrayList{R"({"LoftNum":"L100","OwnerName":"Ann","TimeZone":-36000,"Type":"start"})",
                                                 recordLine("Z1", 1, "01/05/2025 00:01:00", "R1", "record"), kEnd};
    QTest::newRow("zone east past midnight")
        << int(Seed::ZoneEast) << "Ann" << 50400
        << QByteArrayList{R"({"LoftNum":"L100","OwnerName":"Ann","TimeZone":50400,"Type":"start"})",
                          recordLine("Z1", 1, "02/05/2025 00:01:00", "R1", "record"), kEnd};
}

void TestPcExport::lines()
{
    QFETCH(int, seed);
    QFETCH(QString, owner);
    QFETCH(int, zone);
    QFETCH(QByteArrayList, expected);
    UTC::setTimeZone(zone);

    switch (Seed(seed)) {
    case Seed::Empty:
        break;
    case Seed::Order:
        // R1 and R2 share a liberation time (code decides), R0 earlier without
        // arrivals, A9 later; arrivals stored out of time order; a basketed
        // pigeon not yet home and an arrival without a basketing give no line.
        saveRace(QStringLiteral("R2"), kBase);
        saveRace(QStringLiteral("A9"), kBase + 60 * kMinute);
        saveRace(QStringLiteral("R1"), kBase);
        saveRace(QStringLiteral("R0"), kBase - 60 * kMinute);
        saveRecord(QStringLiteral("A2"), QStringLiteral("E2"), QStringLiteral("R1"), kBase - kMinute, kBase + 3 * kMinute, 3);
        saveRecord(QStringLiteral("A1"), QStringLiteral("E1"), QStringLiteral("R1"), kBase - kMinute, kBase + kMinute, 1);
        saveRecord(QStringLiteral("A3"), QStringLiteral("E3"), QStringLiteral("R1"), kBase - kMinute, kBase + 2 * kMinute, 2);
        saveRecord(QStringLiteral("A4"), QStringLiteral("E4"), QStringLiteral("R1"), kBase - kMinute, 0, 0);
        saveRecord(QStringLiteral("B1"), QStringLiteral("E5"), QStringLiteral("R2"), kBase - kMinute, kBase + kMinute / 2, 1);
        saveRecord(QStringLiteral("B2"), QStringLiteral("E6"), QStringLiteral("R0"), kBase - kMinute, 0, 0);
        saveRecord(QStringLiteral("C1"), QStringLiteral("E7"), QStringLiteral("A9"), kBase, kBase + 60 * kMinute, 1);
        break;
    case Seed::Training:
        saveRecord(QStringLiteral("T1"), QStringLiteral("E1"), QStringLiteral("train"), 0, kBase + 3 * kMinute, 2);
        saveRecord(QStringLiteral("T2"), QStringLiteral("E2"), QStringLiteral("train"), 0, kBase + kMinute, 1);
        saveRecord(QStringLiteral("T3"), QString(), QStringLiteral("train"), 0, kBase + kMinute, 4);
        // Not basketed, yet still holding a race code: a training arrival.
        saveRecord(QStringLiteral("T4"), QStringLiteral("E4"), QStringLiteral("R9"), 0, kBase + 2 * kMinute, 3);
        saveRecord(QStringLiteral("T5"), QStringLiteral("E5"), QStringLiteral("train"), 0, 0, 0);
        break;
    case Seed::Quote:
        saveRace(QStringLiteral("R'1"), kBase);
        saveRecord(QStringLiteral("Q'1"), QStringLiteral("E1"), QStringLiteral("R'1"), kBase - kMinute, kBase + kMinute, 1);
        break;
    case Seed::ZoneEast:
    case Seed::ZoneUtc:
    case Seed::ZoneWest:
        saveRace(QStringLiteral("R1"), kBase);
        saveRecord(QStringLiteral("Z1"), QStringLiteral("E1"), QStringLiteral("R1"), kBase - kMinute, kBase + kMinute, 1);
        break;
    }

    QVERIFY(exportNow(loft(owner, zone)));
    QVERIFY(peer->waitForCloses(1, kWaitMs));
    QByteArray wanted;
    for (const QByteArray &line : expected)
        wanted += line + "\r\n";
    QTRY_COMPARE_WITH_TIMEOUT(peer->received().size(), wanted.size(), kWaitMs);
    QCOMPARE(peer->received(), wanted);
    // Every line is a JSON object a PC-side parser reads.
    const QList<QByteArray> got = peer->lines();
    QCOMPARE(got.size(), expected.size());
    for (const QByteArray &line : got) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        QVERIFY2(error.error == QJsonParseError::NoError || line.contains('\x01'), line.constData());
        if (error.error == QJsonParseError::NoError)
            QVERIFY(doc.isObject());
    }
}

void TestPcExport::twoExportsSameBytesPortClosed()
{
    saveRace(QStringLiteral("R1"), kBase);
    saveRecord(QStringLiteral("A1"), QStringLiteral("E1"), QStringLiteral("R1"), kBase - kMinute, kBase + kMinute, 1);
    QVERIFY(exportNow(loft(QStringLiteral("Ann"), 28800)));
    QVERIFY(peer->waitForCloses(1, kWaitMs));
    QVERIFY(!PcPort::isOpen());
    QTRY_COMPARE_WITH_TIMEOUT(peer->lines().size(), 3, kWaitMs);
    const QByteArray first = peer->received();
    peer->clear();
    QVERIFY(exportNow(loft(QStringLiteral("Ann"), 28800)));
    QVERIFY(peer->waitForCloses(2, kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(peer->received(), first, kWaitMs);
    QCOMPARE(peer->openCount(), 2);
    QVERIFY(!PcPort::isOpen());
}

void TestPcExport::thousandLinesArriveWhole()
{
    seedArrivals(1000);
    QVERIFY(exportNow(loft(QStringLiteral("Ann"), 28800)));
    QVERIFY(peer->waitForCloses(1, kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(peer->lines().size(), 1002, kWaitMs);
    QVERIFY(peer->unfinished().isEmpty());
    const QList<QByteArray> got = peer->lines();
    QCOMPARE(got.last(), kEnd);
    for (int i = 1; i <= 1000; ++i) {
        const QJsonObject object = QJsonDocument::fromJson(got.at(i)).object();
        QCOMPARE(object.value(QStringLiteral("BackOrder")).toInt(), i);
    }
}

void TestPcExport::pcReadingOnceASecond_wholeExportArrives()
{
    // The PC takes a second's bytes of a 9600-baud line once a second: the
    // driver fills, then makes room for the next line only as the PC takes
    // what it held, a second apart.
    seedArrivals(kPastTheQueueLines);
    peer->setPaced(true, kPcReadPeriodMs);
    QVERIFY(exportNow(loft(QStringLiteral("Ann"), 28800)));
    QVERIFY(!PcPort::isOpen());
    // What the driver still held goes out after the close (at most the
    // whole export's line time, 10 bits a byte).
    const int lineTimeMs = kPastTheQueueLines * kLineBytesAtMost * 10 * 1000 / PcPortPeer::kLineBaud;
    QVERIFY(peer->waitForCloses(1, lineTimeMs + kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(peer->lines().size(), kPastTheQueueLines + 2, kWaitMs);
    QVERIFY(peer->unfinished().isEmpty());
    const QList<QByteArray> got = peer->lines();
    QCOMPARE(got.first(), kStartL100);
    QCOMPARE(got.last(), kEnd);
    for (int i = 1; i <= kPastTheQueueLines; ++i) {
        const QJsonObject object = QJsonDocument::fromJson(got.at(i)).object();
        QCOMPARE(object.value(QStringLiteral("BackOrder")).toInt(), i);
    }
}

void TestPcExport::missingLink_writesNothing()
{
    QFile::remove(pcNode());
    QVERIFY(!exportNow(loft(QStringLiteral("Ann"), 28800)));
    QVERIFY(!PcPort::isOpen());
    QCOMPARE(peer->openCount(), 0);
    QVERIFY(peer->received().isEmpty());
}

void TestPcExport::peerStopsReading_exportGivesUp()
{
    // Far more than the line's buffers hold.
    seedArrivals(1000);
    peer->setReading(false);
    QVERIFY(!exportNow(loft(QStringLiteral("Ann"), 28800)));
    QVERIFY(!PcPort::isOpen());
    QVERIFY(peer->waitForCloses(1, kWaitMs));
    // Seen while the clock waited on the line.
    QVERIFY(peer->lastSettings().fits(PcPortPeer::kLineBaud));
}

void TestPcExport::peerHangsUp_exportEndsClosed()
{
    // Far more than the line's buffers hold, so the hang-up meets a write.
    seedArrivals(1000);
    peer->hangUpAfter(500);
    QVERIFY(!exportNow(loft(QStringLiteral("Ann"), 28800)));
    QVERIFY(!PcPort::isOpen());
    QVERIFY(peer->hungUp());
    QCOMPARE(peer->received().size(), 500);
}

void TestPcExport::databaseFailure_isThrownAfterStartLine()
{
    saveRace(QStringLiteral("R1"), kBase);
    saveRecord(QStringLiteral("A1"), QStringLiteral("E1"), QStringLiteral("R1"), kBase - kMinute, kBase + kMinute, 1);
    // The count and the race page pass; the race's arrival query fails.
    Storage::setFault(Storage::Fault::FailStatement, 3);
    QVERIFY_THROWS_EXCEPTION(DBException, exportNow(loft(QStringLiteral("Ann"), 28800)));
    QVERIFY(!PcPort::isOpen());
    QVERIFY(peer->waitForCloses(1, kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(peer->lines(), QList<QByteArray>{kStartL100}, kWaitMs);
}

QTEST_GUILESS_MAIN(TestPcExport)
#include "tst_pcexport.moc"
