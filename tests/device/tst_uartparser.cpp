#include "device/DeviceComm.h"

#include "ringwire.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
QByteArray responseBody(const QByteArray &data)
{
    return RingWire::body(0x1A17, 0x001B, RingWire::kResponseType, RingWire::responsePayload(0, data));
}

// Feeds bytes and returns what push() returned for each.
QList<int> feed(UartParser &parser, const QByteArray &bytes)
{
    QList<int> results;
    for (char c : bytes)
        results << parser.push(static_cast<unsigned char>(c));
    return results;
}

QByteArray held(const UartParser &parser)
{
    return QByteArray(reinterpret_cast<const char *>(parser.buf), parser.count);
}
} // namespace

// The byte-at-a-time receiver: frames from the peer's encoder complete, and
// no damaged stream either completes or makes it read past what it holds.
class TestUartParser : public QObject
{
    Q_OBJECT
private slots:
    void validFrame_completesAndStaysUntilReset();
    void damagedFrame_returnsToIdle_data();
    void damagedFrame_returnsToIdle();
    void lengthBeyondHeld_neverUsesStaleBytes();
    void startByteMidFrame_restarts();
    void randomStreams_completeOnlyCheckedFrames();
};

void TestUartParser::validFrame_completesAndStaysUntilReset()
{
    // Every byte that needs escaping, in the addresses and in the data.
    const QByteArray body = responseBody(QByteArray::fromHex("1a171b9a00ff"));
    const QByteArray wire = RingWire::frame(body);
    QVERIFY(wire.size() > body.size() + 2);

    UartParser parser;
    const QList<int> results = feed(parser, wire);
    QCOMPARE(results.count(1), 1);
    QCOMPARE(results.last(), 1);
    QCOMPARE(parser.state, static_cast<unsigned char>(UartParser::Complete));
    QCOMPARE(held(parser), body);

    // Held until its owner resets it, whatever comes next.
    QCOMPARE(feed(parser, QByteArray::fromHex("1a1b17ff")), (QList<int>{1, 1, 1, 1}));
    QCOMPARE(held(parser), body);

    parser.state = UartParser::Idle;
    const QByteArray second = responseBody(QByteArray::fromHex("0102"));
    QCOMPARE(feed(parser, RingWire::frame(second)).last(), 1);
    QCOMPARE(held(parser), second);
}

void TestUartParser::damagedFrame_returnsToIdle_data()
{
    QTest::addColumn<QByteArray>("wire");

    QByteArray wrongCrc = responseBody("abcd");
    wrongCrc[wrongCrc.size() - 1] = char(wrongCrc.at(wrongCrc.size() - 1) ^ 1);
    QTest::newRow("wrong CRC") << RingWire::frame(wrongCrc);

    QByteArray tooLong = responseBody(QByteArray(115, 'x'));
    QCOMPARE(tooLong.size(), 128);
    QTest::newRow("129th byte") << RingWire::frame(tooLong + 'y');
    QTest::newRow("129th byte escaped") << RingWire::frame(tooLong + '\x1a');

    QByteArray claimsMore = responseBody("abcd");
    claimsMore[7] = char(claimsMore.at(7) + 1); // one byte beyond the CRC
    QTest::newRow("length byte claims more than held") << RingWire::frame(claimsMore);
    QByteArray claims255 = responseBody("abcd");
    claims255[7] = char(0xFF);
    QTest::newRow("length byte 255") << RingWire::frame(claims255);

    for (int len : {0, 3, 8}) {
        // A body of len bytes whose length byte (if any) says 0 and whose
        // next byte would be a valid CRC if it had been sent.
        const QByteArray full = RingWire::body(0xFFFF, 0xFFFF, 0x61, QByteArray());
        QTest::addRow("%d-byte body", len) << RingWire::frame(full.left(len));
    }
    QTest::newRow("end byte right after an escape")
        << RingWire::frame(responseBody("abcd")).chopped(1) + QByteArray::fromHex("1b17");
}

void TestUartParser::damagedFrame_returnsToIdle()
{
    QFETCH(QByteArray, wire);
    UartParser parser;
    const QList<int> results = feed(parser, wire);
    QCOMPARE(results.count(1), 0);
    QCOMPARE(parser.state, static_cast<unsigned char>(UartParser::Idle));
    // Bytes outside a frame are ignored; the next frame is taken.
    feed(parser, QByteArray::fromHex("17551b"));
    QCOMPARE(parser.state, static_cast<unsigned char>(UartParser::Idle));
    const QByteArray good = responseBody("ok");
    QCOMPARE(feed(parser, RingWire::frame(good)).last(), 1);
    QCOMPARE(held(parser), good);
}

void TestUartParser::lengthBeyondHeld_neverUsesStaleBytes()
{
    // A long valid frame leaves its bytes, CRC included, in the buffer...
    const QByteArray longBody = responseBody(QByteArray(96, 'q'));
    UartParser parser;
    QCOMPARE(feed(parser, RingWire::frame(longBody)).last(), 1);
    parser.state = UartParser::Idle;
    // ...and a short frame with the same start and length byte points at
    // that stale CRC: it must not complete from bytes it never received.
    QCOMPARE(feed(parser, RingWire::frame(longBody.left(12))).count(1), 0);
    QCOMPARE(parser.state, static_cast<unsigned char>(UartParser::Idle));
}

void TestUartParser::startByteMidFrame_restarts()
{
    const QByteArray first = RingWire::frame(responseBody("first frame"));
    const QByteArray second = responseBody("second");
    UartParser parser;
    const QList<int> results = feed(parser, first.left(first.size() / 2) + RingWire::frame(second));
    QCOMPARE(results.count(1), 1);
    QCOMPARE(held(parser), second);
}

void TestUartParser::randomStreams_completeOnlyCheckedFrames()
{
    QRandomGenerator rng(4242);
    const QByteArray specials = QByteArray::fromHex("171a1b");
    UartParser parser;
    int completed = 0;
    for (int round = 0; round < 2000; ++round) {
        QByteArray stream;
        if (round % 2) {
            QByteArray body(int(rng.bounded(140)), '\0');
            for (char &c : body)
                c = char(rng.bounded(256));
            if (body.size() > 8 && rng.bounded(2)) {
                body[7] = char(rng.bounded(body.size() - 8)); // a length that fits...
                body[8 + quint8(body.at(7))] = char(RingWire::crc8(body.mid(4, 4 + quint8(body.at(7)))));
            }
            stream = RingWire::frame(body);
        } else {
            stream.resize(int(rng.bounded(300)));
            for (char &c : stream)
                c = rng.bounded(4) ? char(rng.bounded(256)) : specials.at(int(rng.bounded(3)));
        }
        for (char c : stream) {
            const int r = parser.push(static_cast<unsigned char>(c));
            QVERIFY(r == 0 || r == 1);
            if (r == 0)
                continue;
            // A completed frame holds its CRC byte and it checks.
            const QByteArray body = held(parser);
            QCOMPARE(parser.state, static_cast<unsigned char>(UartParser::Complete));
            QVERIFY(body.size() > 8);
            const int n = quint8(body.at(7));
            QVERIFY(body.size() >= n + 9);
            QCOMPARE(quint8(body.at(n + 8)), RingWire::crc8(body.mid(4, n + 4)));
            parser.state = UartParser::Idle;
            ++completed;
        }
        const QByteArray good = responseBody(QByteArray::number(round));
        QCOMPARE(feed(parser, RingWire::frame(good)).last(), 1);
        QCOMPARE(held(parser), good);
        parser.state = UartParser::Idle;
    }
    QVERIFY(completed > 100); // the well-formed half did complete
}

QTEST_GUILESS_MAIN(TestUartParser)
#include "tst_uartparser.moc"
