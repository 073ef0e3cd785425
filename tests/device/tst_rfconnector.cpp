#include "core/platform.h"
#include "core/vexexception.h"
#include "device/rfconnector.h"

#include "clubportpeer.h"
#include "connectorreader.h"
#include "errorcode.h"
#include "messagecapture.h"

#include <QSerialPort>
#include <QTest>

#include <functional>
#include <limits>
#include <memory>

namespace {

// Club time during the tests: the device clock's seam holds it still, so
// offsets and record times are exact.
constexpr qint64 kClubNow = 1700000000000;

QByteArray ring(quint32 n)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[3 - i] = char(n >> (8 * i));
    return bytes;
}

QString ringText(quint32 n)
{
    return QString::asprintf("%08X", n);
}

QStringList ringsOf(const QList<LFTAG_INFO> &tags)
{
    QStringList out;
    for (const LFTAG_INFO &tag : tags)
        out.append(tag.eRing);
    return out;
}

QStringList ringTexts(std::initializer_list<quint32> numbers)
{
    QStringList out;
    for (quint32 n : numbers)
        out.append(ringText(n));
    return out;
}

quint32 indexIn(const ConnectorReader::Received &request)
{
    quint32 index = 0;
    for (int i = 0; i < 4; ++i)
        index |= quint32(quint8(request.data.at(1 + i))) << (8 * i);
    return index;
}

} // namespace

// RFConnector against the connector-reader peer on a pseudo-terminal; the
// port is opened by initPort in the test's thread, as the club-link thread
// opens its own.
class TestRFConnector : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firstStatus_takesTheOffset_recordInClubTime();
    void backlog_thenOnlyNewRecords_thenRemoval();
    void noRecords_firstSyncStillDone();
    void readers_readInOrder_onlyWhenTheirVersionMoves();
    void removeRecords_beforeAnyFetch_sendsNothing();
    void memoryCleared_recordsFromTheNewFirstIndex();
    void failedRecordRequest_advancesNothing();
    void clockEqualToClubTime_offsetStoredAsOne();
    void refusals_data();
    void refusals();
    void connect_resetsTheSynchronisation();
    void requests_carryTheAddressExceptTheReaderRequest();
    void badInput_data();
    void badInput();
    void endIndex_doesNotWrap();

private:
    int sync(QList<LFCHANNEL_INFO> *channels = nullptr, QList<LFTAG_INFO> *tags = nullptr);

    std::unique_ptr<ClubPortPeer> peer;
    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<RFConnector> connector;
};

void TestRFConnector::init()
{
    Platform::setSystemClock([] { return kClubNow; });
    peer = std::make_unique<ClubPortPeer>();
    peer->setRole(ClubPortPeer::Role::Connector);
    peer->setPacing(false);
    peer->connector().setClubClock([] { return kClubNow; });
    peer->connector().setAddress(1);
    QVERIFY(peer->start());
    port = std::make_unique<QSerialPort>(peer->slavePath());
    connector = std::make_unique<RFConnector>(port.get());
    connector->address = 1;
    QVERIFY(connector->initPort());
    QCOMPARE(peer->lineSettings().baud, 115200);
    QVERIFY(peer->lineSettings().fits(115200));
    connector->connect();
    QCOMPARE(connector->getDeviceNo(), QStringLiteral("C0FFEE01"));
}

void TestRFConnector::cleanup()
{
    connector.reset();
    port.reset();
    peer.reset();
    Platform::setSystemClock({});
}

int TestRFConnector::sync(QList<LFCHANNEL_INFO> *channels, QList<LFTAG_INFO> *tags)
{
    QList<LFCHANNEL_INFO> c;
    QList<LFTAG_INFO> t;
    const int flags = connector->syncStatus(c, t);
    if (channels)
        *channels = c;
    if (tags)
        *tags = t;
    return flags;
}

void TestRFConnector::firstStatus_takesTheOffset_recordInClubTime()
{
    peer->connector().setClockOffset(-1000);
    peer->connector().addRecordAt(5000, ring(0x12345678), 0xBEEF, QByteArray::fromHex("a1b2c3d4"),
                                  QByteArray::fromHex("0000fe01"));
    QList<LFTAG_INFO> tags;
    QVERIFY(sync(nullptr, &tags) & RFConnector::kRecordsHeld);
    QCOMPARE(tags.size(), 1);
    QCOMPARE(tags[0].eRing, QStringLiteral("12345678"));
    QCOMPARE(tags[0].uid, QStringLiteral("A1B2C3D4"));
    QCOMPARE(tags[0].randNum, 0xBEEF);
    QCOMPARE(tags[0].extId, QStringLiteral("0000FE01"));
    QCOMPARE(tags[0].time, qint64(6000));
}

void TestRFConnector::backlog_thenOnlyNewRecords_thenRemoval()
{
    peer->connector().renumber(7);
    for (quint32 n : {7, 8, 9})
        peer->connector().addRecord(ring(n), 0);
    QList<LFTAG_INFO> tags;
    QVERIFY(sync(nullptr, &tags) & RFConnector::kRecordsHeld);
    QCOMPARE(ringsOf(tags), ringTexts({7, 8, 9}));
    for (const LFTAG_INFO &tag : tags)
        QCOMPARE(tag.stored, 1);

    for (quint32 n : {10, 11})
        peer->connector().addRecord(ring(n), 0);
    QVERIFY(sync(nullptr, &tags) & RFConnector::kRecordsHeld);
    QCOMPARE(ringsOf(tags), ringTexts({10, 11}));
    for (const LFTAG_INFO &tag : tags)
        QCOMPARE(tag.stored, 0);

    connector->removeRecords();
    const auto removals = peer->connector().receivedOf(ConnectorReader::Remove);
    QCOMPARE(removals.size(), 1);
    QCOMPARE(indexIn(removals[0]), 11u);
    QCOMPARE(peer->connector().recordCount(), 0);
    QCOMPARE(peer->connector().firstIndex(), 12u);
}

void TestRFConnector::noRecords_firstSyncStillDone()
{
    QList<LFTAG_INFO> tags;
    QVERIFY(!(sync(nullptr, &tags) & RFConnector::kRecordsHeld));
    QVERIFY(tags.isEmpty());
    peer->connector().addRecord(ring(1), 0);
    QVERIFY(sync(nullptr, &tags) & RFConnector::kRecordsHeld);
    QCOMPARE(ringsOf(tags), ringTexts({1}));
    QCOMPARE(tags[0].stored, 0);
}

void TestRFConnector::readers_readInOrder_onlyWhenTheirVersionMoves()
{
    for (quint8 i = 0; i < 3; ++i) {
        ConnectorReader::ReaderEntry reader;
        reader.id = QByteArray::fromHex("0a0b0c00") + char(i);
        reader.id = reader.id.right(4);
        reader.type = quint16(0x1010 + i);
        reader.major = 2;
        reader.minor = quint8(5 + i);
        reader.attr = quint8(0x40 + i);
        peer->connector().addReader(reader);
    }
    peer->connector().setReaderStatus(1, 0x80);

    QList<LFCHANNEL_INFO> channels;
    QVERIFY(sync(&channels) & RFConnector::kReadersRead);
    QCOMPARE(channels.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(channels[i].id, QStringLiteral("0B0C000%1").arg(i));
        QCOMPARE(channels[i].type, quint16(0x1010 + i));
        QCOMPARE(channels[i].version, QStringLiteral("2.0%1").arg(5 + i));
        QCOMPARE(channels[i].attr, quint8(0x40 + i));
        QCOMPARE(channels[i].status, quint8(i == 1 ? 0x80 : 0));
    }
    // The same version again: no list, no flag.
    QVERIFY(!(sync(&channels) & RFConnector::kReadersRead));
    QVERIFY(channels.isEmpty());
    QCOMPARE(peer->connector().receivedOf(ConnectorReader::Reader).size(), 3);
}

void TestRFConnector::removeRecords_beforeAnyFetch_sendsNothing()
{
    connector->removeRecords();
    sync();
    connector->removeRecords();
    QVERIFY(peer->connector().receivedOf(ConnectorReader::Remove).isEmpty());
}

void TestRFConnector::memoryCleared_recordsFromTheNewFirstIndex()
{
    peer->connector().renumber(48);
    for (quint32 n : {48, 49, 50})
        peer->connector().addRecord(ring(n), 0);
    QList<LFTAG_INFO> tags;
    sync(nullptr, &tags);
    QCOMPARE(tags.size(), 3);
    // The reader lost its memory and starts again at 1.
    peer->connector().renumber(1);
    for (quint32 n : {1, 2, 3})
        peer->connector().addRecord(ring(100 + n), 0);
    sync(nullptr, &tags);
    QCOMPARE(ringsOf(tags), ringTexts({101, 102, 103}));
    connector->removeRecords();
    QCOMPARE(indexIn(peer->connector().receivedOf(ConnectorReader::Remove).last()), 3u);
}

void TestRFConnector::failedRecordRequest_advancesNothing()
{
    peer->connector().renumber(7);
    for (quint32 n = 7; n <= 11; ++n)
        peer->connector().addRecord(ring(n), 0);
    ConnectorReader::Fault once;
    once.status = 5;
    once.times = 1;
    once.atIndex = 9;
    peer->connector().setFault(ConnectorReader::Record, once);
    QCOMPARE(errorCodeOf([&] { sync(); }), 5);
    connector->removeRecords(); // nothing fetched yet: nothing removed
    QVERIFY(peer->connector().receivedOf(ConnectorReader::Remove).isEmpty());

    QList<LFTAG_INFO> tags;
    sync(nullptr, &tags);
    QCOMPARE(ringsOf(tags), ringTexts({7, 8, 9, 10, 11}));
    QCOMPARE(tags[0].stored, 1); // still the first synchronisation
}

void TestRFConnector::clockEqualToClubTime_offsetStoredAsOne()
{
    peer->connector().addRecordAt(kClubNow - 300, ring(5), 0);
    QList<LFTAG_INFO> tags;
    sync(nullptr, &tags);
    QCOMPARE(tags.value(0).time, kClubNow - 300 + 1);
}

void TestRFConnector::refusals_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("status 5") << 5 << -1 << 5 << "Response error!";
    QTest::newRow("status 5 with no data") << 5 << 0 << 5 << "Response error!";
    QTest::newRow("19 bytes") << -1 << 19 << 263 << "Response length error!";
}

void TestRFConnector::refusals()
{
    QFETCH(int, status);
    QFETCH(int, dataBytes);
    QFETCH(int, code);
    QFETCH(QString, message);
    ConnectorReader::Fault fault;
    fault.status = status;
    fault.dataBytes = dataBytes;
    peer->connector().setFault(ConnectorReader::Status, fault);
    QString thrown;
    QCOMPARE(errorCodeOf([&] { sync(); }, &thrown), code);
    QCOMPARE(thrown, message);
}

void TestRFConnector::connect_resetsTheSynchronisation()
{
    peer->connector().setClockOffset(-1000);
    peer->connector().addRecordAt(5000, ring(1), 0);
    QList<LFTAG_INFO> tags;
    sync(nullptr, &tags);
    QCOMPARE(tags.value(0).time, qint64(6000));

    // resetTime alone: a new offset at the next status.
    peer->connector().setClockOffset(-4000);
    connector->resetTime();
    peer->connector().addRecordAt(5000, ring(2), 0);
    sync(nullptr, &tags);
    QCOMPARE(ringsOf(tags), ringTexts({2}));
    QCOMPARE(tags[0].time, qint64(9000));
    QCOMPARE(tags[0].stored, 0);

    // A reconnection: the backlog comes again, stored, with a fresh offset.
    peer->connector().setClockOffset(-2000);
    connector->disconnect();
    QVERIFY(connector->getDeviceNo().isEmpty());
    connector->connect();
    QCOMPARE(connector->getDeviceNo(), QStringLiteral("C0FFEE01"));
    QList<LFCHANNEL_INFO> channels;
    QVERIFY(sync(&channels, &tags) & RFConnector::kReadersRead);
    QCOMPARE(ringsOf(tags), ringTexts({1, 2}));
    QCOMPARE(tags[0].stored, 1);
    QCOMPARE(tags[0].time, qint64(7000));
}

void TestRFConnector::requests_carryTheAddressExceptTheReaderRequest()
{
    ConnectorReader::ReaderEntry reader;
    reader.id = QByteArray::fromHex("01020304");
    peer->connector().addReader(reader);
    peer->connector().addRecord(ring(1), 0);
    sync();
    connector->removeRecords();
    const auto status = peer->connector().receivedOf(ConnectorReader::Status);
    const auto record = peer->connector().receivedOf(ConnectorReader::Record);
    const auto removal = peer->connector().receivedOf(ConnectorReader::Remove);
    const auto readers = peer->connector().receivedOf(ConnectorReader::Reader);
    QCOMPARE(status.value(0).data, QByteArray::fromHex("01"));
    QCOMPARE(record.value(0).data, QByteArray::fromHex("0101000000"));
    QCOMPARE(removal.value(0).data, QByteArray::fromHex("0101000000"));
    QCOMPARE(readers.value(0).data, QByteArray::fromHex("0000"));
    const auto devNo = peer->connector().receivedOf(ConnectorReader::DeviceNumber);
    QCOMPARE(devNo.value(0).data, QByteArray::fromHex("01"));
}

void TestRFConnector::badInput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::newRow("silence") << "silence" << 259;
    QTest::newRow("bad CRC") << "crc" << 266;
    QTest::newRow("a count of 65535 the memory does not hold") << "count" << int(ConnectorReader::kNoSuchRecord);
    QTest::newRow("a record vanishes after the status") << "vanish" << int(ConnectorReader::kNoSuchRecord);
    QTest::newRow("status for another address") << "address" << int(ConnectorReader::kWrongAddress);
}

void TestRFConnector::badInput()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    ConnectorReader &reader = peer->connector();
    reader.renumber(20);
    for (quint32 n : {20, 21, 22})
        reader.addRecord(ring(n), 0);
    ConnectorReader::Fault once;
    once.times = 1;
    if (kind == QLatin1String("silence")) {
        once.silent = true;
        reader.setFault(ConnectorReader::Record, once);
    } else if (kind == QLatin1String("crc")) {
        once.badCrc = true;
        reader.setFault(ConnectorReader::Record, once);
    } else if (kind == QLatin1String("count")) {
        reader.forceRecordCount(65535);
    } else if (kind == QLatin1String("vanish")) {
        reader.afterNextStatus([](ConnectorReader &r) { r.removeUpTo(21); });
    } else {
        reader.setAddress(0);
    }
    QCOMPARE(errorCodeOf([&] { sync(); }), code);
    // Nothing advanced: once the reader behaves, what it holds comes whole.
    reader.forceRecordCount(-1);
    reader.setAddress(1);
    QList<LFTAG_INFO> tags;
    sync(nullptr, &tags);
    QCOMPARE(ringsOf(tags).last(), ringText(22));
    QCOMPARE(tags[0].stored, 1);
}

void TestRFConnector::endIndex_doesNotWrap()
{
    ConnectorReader &reader = peer->connector();
    // The reader's clock at the bottom of the range and a record time at the
    // top: offset and record time stop at the ends of the range, never wrap.
    reader.setClubClock([] { return qint64(0); });
    reader.setClockOffset(std::numeric_limits<qint64>::min() + 10);
    reader.renumber(0xFFFFFFFE);
    reader.addRecordAt(std::numeric_limits<qint64>::max() - 5, ring(1), 0);
    reader.addRecordAt(0, ring(2), 0);
    reader.addRecordAt(0, ring(3), 0); // index 0 after the wrap: not reachable
    QList<LFTAG_INFO> tags;
    sync(nullptr, &tags);
    QCOMPARE(ringsOf(tags), ringTexts({1, 2}));
    QCOMPARE(tags[0].time, std::numeric_limits<qint64>::max());
    connector->removeRecords();
    QCOMPARE(indexIn(reader.receivedOf(ConnectorReader::Remove).last()), 0xFFFFFFFFu);
}

QTEST_GUILESS_MAIN(TestRFConnector)
#include "tst_rfconnector.moc"
