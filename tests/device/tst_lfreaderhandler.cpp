#include "core/vexexception.h"
#include "device/LFReaderHandler.h"

#include "clubportpeer.h"
#include "connectorreader.h"
#include "errorcode.h"

#include <QSerialPort>
#include <QTest>

#include <functional>
#include <memory>

namespace {

ConnectorReader::Fault answerFault(int status, int dataBytes, int times = -1)
{
    ConnectorReader::Fault fault;
    fault.status = status;
    fault.dataBytes = dataBytes;
    fault.times = times;
    return fault;
}

} // namespace

// The standalone ring reader at its own interface, against the transponder
// of the connector-reader peer on a pseudo-terminal.
class TestLFReaderHandler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void createTrailer_data();
    void createTrailer();
    void parsUid_reversesFourBytes();
    void reads_data();
    void reads();
    void failures_data();
    void failures();
    void changeHtsID64_writesTheFrameIntoPages4And5();
    void changeHtsID64_page4Fails_page5NeverRequested();
    void lateAnswer_isStillTaken();

private:
    std::unique_ptr<ClubPortPeer> peer;
    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<LFReaderHandler> reader;
};

void TestLFReaderHandler::init()
{
    peer = std::make_unique<ClubPortPeer>();
    peer->setRole(ClubPortPeer::Role::Connector);
    peer->setPacing(false);
    QVERIFY(peer->start());
    port = std::make_unique<QSerialPort>(peer->slavePath());
    port->setBaudRate(115200);
    QVERIFY(port->open(QIODevice::ReadWrite));
    reader = std::make_unique<LFReaderHandler>(port.get());
}

void TestLFReaderHandler::cleanup()
{
    reader.reset();
    port.reset();
    peer.reset();
}

void TestLFReaderHandler::createTrailer_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("01 23 45 67 89") << QByteArray::fromHex("0123456789") << QByteArray::fromHex("ff80653254c7c642");
    QTest::newRow("FF 00 5A A5 3C") << QByteArray::fromHex("ff005aa53c") << QByteArray::fromHex("fffbc002a9451b1e");
}

void TestLFReaderHandler::createTrailer()
{
    QFETCH(QByteArray, id);
    QFETCH(QByteArray, frame);
    unsigned char out[8] = {};
    LFReaderHandler::ID64_CreateTrailer(reinterpret_cast<unsigned char *>(id.data()), out);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), 8), frame);
}

void TestLFReaderHandler::parsUid_reversesFourBytes()
{
    unsigned char uid[5] = {1, 2, 3, 4, 5};
    LFReaderHandler::parsUid(uid);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(uid), 5), QByteArray::fromHex("0403020105"));
}

void TestLFReaderHandler::reads_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("selector");
    QTest::addColumn<QString>("result");
    QTest::newRow("readFDX") << "fdx" << QByteArray::fromHex("00e002") << "0102030405060708";
    QTest::newRow("readFDX, no data") << "fdx-empty" << QByteArray::fromHex("00e002") << "";
    QTest::newRow("readID64") << "id64" << QByteArray::fromHex("00e001") << "FF80653254C7C642";
    QTest::newRow("activeHts: the uid comes reversed")
        << "active" << QByteArray::fromHex("00e100") << "44332211AABBCCDD";
    QTest::newRow("readHtsPage 3") << "page" << QByteArray::fromHex("00e10203") << "CAFEF00D";
}

void TestLFReaderHandler::reads()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, selector);
    QFETCH(QString, result);
    ConnectorReader &transponder = peer->connector();
    transponder.setFdx(QByteArray::fromHex("0102030405060708"));
    transponder.setId64(QByteArray::fromHex("ff80653254c7c642"));
    transponder.setHitagActivation(QByteArray::fromHex("11223344aabbccdd"));
    transponder.setHitagPage(3, QByteArray::fromHex("cafef00d"));
    QString got;
    if (operation == QLatin1String("fdx")) {
        got = reader->readFDX();
    } else if (operation == QLatin1String("fdx-empty")) {
        transponder.setFdx({});
        got = reader->readFDX();
    } else if (operation == QLatin1String("id64")) {
        got = reader->readID64();
    } else if (operation == QLatin1String("active")) {
        got = reader->activeHts();
    } else {
        got = reader->readHtsPage(3);
    }
    QCOMPARE(got, result);
    const auto requests = transponder.receivedOf(ConnectorReader::Transponder);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].data, selector);
}

void TestLFReaderHandler::failures_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("activeHts, 7 bytes and a status: length first")
        << "active" << 5 << 7 << 513 << "active HitagS error!";
    QTest::newRow("activeHts, status") << "active" << 5 << -1 << 514 << "active HitagS error!";
    QTest::newRow("readHtsPage, 4 bytes and a status") << "page" << 5 << 4 << 514 << "read HitagS page error!";
    QTest::newRow("readHtsPage, 3 bytes") << "page" << -1 << 3 << 513 << "read HitagS page error!";
    QTest::newRow("writeHtsPage, 3 bytes") << "write" << -1 << 3 << 513 << "write HitagS page error!";
    QTest::newRow("writeHtsPage, status") << "write" << 7 << -1 << 514 << "write HitagS page error!";
    QTest::newRow("readFDX, status") << "fdx" << 5 << -1 << 514 << "read fdx error!";
    QTest::newRow("readID64, status") << "id64" << 5 << -1 << 514 << "read id64 error!";
}

void TestLFReaderHandler::failures()
{
    QFETCH(QString, operation);
    QFETCH(int, status);
    QFETCH(int, dataBytes);
    QFETCH(int, code);
    QFETCH(QString, message);
    peer->connector().setHitagActivation(QByteArray::fromHex("11223344aabbccdd"));
    peer->connector().setFdx(QByteArray::fromHex("0102"));
    peer->connector().setFault(ConnectorReader::Transponder, answerFault(status, dataBytes));
    unsigned char page[4] = {1, 2, 3, 4};
    QString thrown;
    QCOMPARE(errorCodeOf([&] {
                 if (operation == QLatin1String("active"))
                     reader->activeHts();
                 else if (operation == QLatin1String("page"))
                     reader->readHtsPage(1);
                 else if (operation == QLatin1String("write"))
                     reader->writeHtsPage(1, page);
                 else if (operation == QLatin1String("fdx"))
                     reader->readFDX();
                 else
                     reader->readID64();
             },
                     &thrown),
             code);
    QCOMPARE(thrown, message);
}

void TestLFReaderHandler::changeHtsID64_writesTheFrameIntoPages4And5()
{
    unsigned char id[5] = {0x01, 0x23, 0x45, 0x67, 0x89};
    reader->changeHtsID64(id);
    QCOMPARE(peer->connector().hitagPage(4), QByteArray::fromHex("ff806532"));
    QCOMPARE(peer->connector().hitagPage(5), QByteArray::fromHex("54c7c642"));
    const auto requests = peer->connector().receivedOf(ConnectorReader::Transponder);
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].data, QByteArray::fromHex("00e10304ff806532"));
    QCOMPARE(requests[1].data, QByteArray::fromHex("00e1030554c7c642"));
}

void TestLFReaderHandler::changeHtsID64_page4Fails_page5NeverRequested()
{
    peer->connector().setFault(ConnectorReader::Transponder, answerFault(9, -1, 1));
    unsigned char id[5] = {0x01, 0x23, 0x45, 0x67, 0x89};
    QCOMPARE(errorCodeOf([&] { reader->changeHtsID64(id); }), 514);
    QCOMPARE(peer->connector().receivedOf(ConnectorReader::Transponder).size(), 1);
    QCOMPARE(peer->connector().hitagPage(5), QByteArray(4, '\0'));
}

void TestLFReaderHandler::lateAnswer_isStillTaken()
{
    ConnectorReader::Fault late;
    late.delayMs = 500;
    peer->connector().setFault(ConnectorReader::Transponder, late);
    peer->connector().setFdx(QByteArray::fromHex("beef"));
    QCOMPARE(reader->readFDX(), QStringLiteral("BEEF"));
}

QTEST_GUILESS_MAIN(TestLFReaderHandler)
#include "tst_lfreaderhandler.moc"
