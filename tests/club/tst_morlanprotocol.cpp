#include "club/morlanprotocol.h"
#include "core/vexexception.h"

#include "clubframes.h"
#include "memorycommport.h"

#include <QElapsedTimer>
#include <QTest>

#include <functional>

namespace {

// The in-memory port, counting the polls that found nothing: the parsers'
// time-outs are counts of those.
class CountingPort : public MemoryCommPort
{
public:
    bool receiveByte(unsigned char *b) override
    {
        const bool got = MemoryCommPort::receiveByte(b);
        if (!got)
            ++emptyPolls;
        return got;
    }
    int emptyPolls = 0;
};

// Hands out one byte only after `gap` empty polls since the last one: an
// answer trickling in at a slow line's pace.
class TricklePort : public MemoryCommPort
{
public:
    explicit TricklePort(int gapPolls)
        : gap(gapPolls)
    {
    }
    bool receiveByte(unsigned char *b) override
    {
        if (inputWaiting() > 0 && sinceByte >= gap) {
            sinceByte = 0;
            return MemoryCommPort::receiveByte(b);
        }
        ++sinceByte;
        ++emptyPolls;
        return false;
    }
    int emptyPolls = 0;

private:
    int gap = 0;
    int sinceByte = 0;
};

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray withSum(QByteArray bytes)
{
    bytes.append(char(ClubFrames::checkByte(bytes)));
    return bytes;
}

// Runs f; returns the code of the VexException it threw (0: none) and
// checks that the description is the untranslated message.
int codeOf(const std::function<void()> &f, QString *message = nullptr)
{
    try {
        f();
    } catch (const VexException &e) {
        if (message)
            *message = e.getErrorMessage();
        if (e.getErrorDesc() != e.getErrorMessage())
            return -1;
        return e.getErrorCode();
    }
    return 0;
}

} // namespace

class TestMorlanProtocol : public QObject
{
    Q_OBJECT
private slots:
    void checkByte_examples_data();
    void checkByte_examples();
    void requestPush_completesAtItsLength_data();
    void requestPush_completesAtItsLength();
    void requestFetch_data();
    void requestFetch();
    void requestFetch_abandonedFrame_nextCallStartsAtNextStart();
    void responsePush_lengthByte_data();
    void responsePush_lengthByte();
    void responseFetch_data();
    void responseFetch();
    void responseFetch_paceOfTheBody_data();
    void responseFetch_paceOfTheBody();
    void requestSend_data();
    void requestSend();
    void responseSend_data();
    void responseSend();
};

void TestMorlanProtocol::checkByte_examples_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<quint8>("sum");
    MorlanRequestPacket request;
    request.start = 0x6C;
    request.command = 0x5F;
    request.data = hex("0000");
    MorlanResponsePacket response;
    response.start = 0x33;
    response.command = 0x5F;
    QTest::newRow("product request") << request.toByteArray() << quint8(0xCD);
    QTest::newRow("product response") << response.toByteArray() << quint8(0x93);
    QTest::newRow("peer request") << ClubFrames::request(0, 0x5F, hex("0000")) << quint8(0xCD);
    QTest::newRow("peer answer") << ClubFrames::answer(0, 0x5F, 0, {}) << quint8(0x93);
}

void TestMorlanProtocol::checkByte_examples()
{
    QFETCH(QByteArray, frame);
    QFETCH(quint8, sum);
    QCOMPARE(quint8(frame.back()), sum);
    QCOMPARE(morlanSum(frame, int(frame.size()) - 1), sum);
}

void TestMorlanProtocol::requestPush_completesAtItsLength_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("last");
    QTest::newRow("no data: five bytes") << withSum(hex("6c015f00")) << 0;
    QTest::newRow("two data bytes") << withSum(hex("6c015f02aabb")) << 0;
    QTest::newRow("bad sum") << hex("6c015f02aabb00") << 1;
}

void TestMorlanProtocol::requestPush_completesAtItsLength()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, last);
    MemoryCommPort port;
    MorlanRequestParser parser(&port);
    for (int i = 0; i < frame.size() - 1; ++i)
        QCOMPARE(parser.push(quint8(frame.at(i))), 3);
    QCOMPARE(parser.push(quint8(frame.back())), last);
}

void TestMorlanProtocol::requestFetch_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("code");       // 0: no exception
    QTest::addColumn<bool>("fetched");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("emptyPolls");
    QTest::addColumn<int>("leftover");   // input bytes still waiting

    const QByteArray frame = withSum(hex("6c42a103010203"));
    QTest::newRow("frame") << frame << 0 << true << hex("010203") << 0 << 0;
    QTest::newRow("noise before the start byte is skipped")
        << hex("0011ff33") + frame + hex("99") << 0 << true << hex("010203") << 0 << 1;
    QTest::newRow("idle line: false at the first poll") << QByteArray() << 0 << false << QByteArray() << 1 << 0;
    QTest::newRow("body stops: false after 300 empty polls")
        << hex("6c42a10301") << 0 << false << QByteArray() << 300 << 0;
    QTest::newRow("bad sum drops what else is waiting")
        << hex("6c42a1030102030000aabbcc") << 0x503 << false << QByteArray() << 0 << 0;
    // A stream with no start byte gives the line back after 300 bytes, so the
    // link thread still notices a mode change.
    QTest::newRow("no start byte: at most 300 dropped")
        << QByteArray(400, '\x11') << 0 << false << QByteArray() << 0 << 100;
}

void TestMorlanProtocol::requestFetch()
{
    QFETCH(QByteArray, input);
    QFETCH(int, code);
    QFETCH(bool, fetched);
    QFETCH(QByteArray, data);
    QFETCH(int, emptyPolls);
    QFETCH(int, leftover);

    CountingPort port;
    port.queueInput(input);
    MorlanRequestParser parser(&port);
    MorlanRequestPacket packet;
    bool result = false;
    QString message;
    QCOMPARE(codeOf([&] { result = parser.fetchPacket(&packet); }, &message), code);
    if (code == 0x503)
        QCOMPARE(message, QStringLiteral("Morlan crc error!"));
    QCOMPARE(result, fetched);
    QCOMPARE(port.emptyPolls, emptyPolls);
    QCOMPARE(port.inputWaiting(), leftover);
    if (fetched) {
        QCOMPARE(packet.start, quint8(0x6C));
        QCOMPARE(packet.address, quint8(0x42));
        QCOMPARE(packet.command, quint8(0xA1));
        QCOMPARE(packet.data, data);
    }
}

void TestMorlanProtocol::requestFetch_abandonedFrame_nextCallStartsAtNextStart()
{
    CountingPort port;
    MorlanRequestParser parser(&port);
    MorlanRequestPacket packet;
    port.queueInput(hex("6c01a105aabb"));
    QVERIFY(!parser.fetchPacket(&packet));
    // The rest of the abandoned frame is noise now; the next frame is whole.
    port.queueInput(hex("ccddee") + withSum(hex("6c02b100")));
    QVERIFY(parser.fetchPacket(&packet));
    QCOMPARE(packet.address, quint8(2));
    QCOMPARE(packet.command, quint8(0xB1));
    QVERIFY(packet.data.isEmpty());
}

void TestMorlanProtocol::responsePush_lengthByte_data()
{
    QTest::addColumn<int>("lengthByte");
    QTest::addColumn<int>("completesAt"); // 0: never
    QTest::addColumn<int>("dataBytes");
    QTest::newRow("0: six-byte frame, status only") << 0 << 6 << 0;
    QTest::newRow("1: status only") << 1 << 6 << 0;
    QTest::newRow("250: a frame of 255 bytes") << 250 << 255 << 249;
    QTest::newRow("251: never") << 251 << 0 << 0;
    QTest::newRow("255: never") << 255 << 0 << 0;
}

void TestMorlanProtocol::responsePush_lengthByte()
{
    QFETCH(int, lengthByte);
    QFETCH(int, completesAt);
    QFETCH(int, dataBytes);

    QByteArray frame = hex("33015f");
    frame.append(char(lengthByte));
    frame.append(char(0x07)); // status
    while (frame.size() < (completesAt ? completesAt - 1 : 300))
        frame.append(char(frame.size()));
    frame = withSum(frame);

    MemoryCommPort port;
    MorlanResponseParser parser(&port);
    int result = 3;
    int at = 0;
    while (at < frame.size() && result == 3)
        result = parser.push(quint8(frame.at(at++)));
    if (completesAt == 0) {
        QCOMPARE(result, 2);
        QCOMPARE(at, 256);
        return;
    }
    QCOMPARE(result, 0);
    QCOMPARE(at, completesAt);
    MorlanResponsePacket packet(frame);
    QCOMPARE(packet.status, quint8(0x07));
    QCOMPARE(packet.length, quint8(dataBytes));
    QCOMPARE(packet.data, frame.mid(5, dataBytes));
}

void TestMorlanProtocol::responseFetch_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("emptyPolls");
    QTest::addColumn<int>("leftover");

    const QByteArray good = withSum(hex("33015f0400aabbcc"));
    QTest::newRow("frame") << good + hex("77") << 50 << 0 << QString() << 0 << 1;
    QTest::newRow("first byte not 0x33, good frame after it")
        << hex("34") + good << 50 << 0x500 << "Morlan response exception!" << 0 << int(good.size());
    QTest::newRow("no first byte") << QByteArray() << 7 << 0x506 << "Morlan no response!" << 7 << 0;
    QTest::newRow("time-out 0") << good << 0 << 0x506 << "Morlan no response!" << 0 << int(good.size());
    QTest::newRow("body stalls: 100 empty polls")
        << hex("33015f0400aa") << 50 << 0x508 << "Morlan response overtime!" << 100 << 0;
    QTest::newRow("bad sum drops what else is waiting")
        << hex("33015f0400aabbcc00") + good << 50 << 0x503 << "Response crc error!" << 0 << 0;
    QByteArray endless = hex("33015ffb00");
    endless.append(QByteArray(300, '\x01'));
    QTest::newRow("length byte 251") << endless << 50 << 0x508 << "Morlan response exception!" << 0
                                     << int(endless.size() - 256);
}

void TestMorlanProtocol::responseFetch()
{
    QFETCH(QByteArray, input);
    QFETCH(int, timeoutMs);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(int, emptyPolls);
    QFETCH(int, leftover);

    CountingPort port;
    port.queueInput(input);
    MorlanResponseParser parser(&port);
    MorlanResponsePacket packet;
    QString thrown;
    QCOMPARE(codeOf([&] { QVERIFY(parser.fetchPacket(&packet, timeoutMs)); }, &thrown), code);
    QCOMPARE(thrown, message);
    QCOMPARE(port.emptyPolls, emptyPolls);
    QCOMPARE(port.inputWaiting(), leftover);
    if (code == 0) {
        QCOMPARE(packet.address, quint8(1));
        QCOMPARE(packet.command, quint8(0x5F));
        QCOMPARE(packet.status, quint8(0));
        QCOMPARE(packet.data, hex("aabbcc"));
    }
}

void TestMorlanProtocol::responseFetch_paceOfTheBody_data()
{
    QTest::addColumn<int>("gapPolls");
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("emptyPolls");

    // About one empty poll a byte is the pace of 9600 baud: the longest
    // answer (255 bytes) takes far more than 100 polls in all and is still
    // received whole. The counts include the polls before the first byte.
    QTest::newRow("9600 baud, the longest answer") << 1 << 249 << 0 << 255;
    QTest::newRow("pauses of 99 polls") << 99 << 0 << 0 << 99 * 6;
    QTest::newRow("a pause of 100 polls") << 100 << 3 << 0x508 << 100 + 100;
    // Bytes that keep trickling end the exchange at the body's bound.
    QTest::newRow("trickling past the body's bound") << 90 << 249 << 0x508 << 90 + 640;
}

void TestMorlanProtocol::responseFetch_paceOfTheBody()
{
    QFETCH(int, gapPolls);
    QFETCH(int, dataBytes);
    QFETCH(int, code);
    QFETCH(int, emptyPolls);

    TricklePort port(gapPolls);
    const QByteArray frame = ClubFrames::answer(0x00, 0xBD, 0, QByteArray(dataBytes, '\x5a'));
    port.queueInput(frame);
    MorlanResponseParser parser(&port);
    MorlanResponsePacket packet;
    QString thrown;
    QCOMPARE(codeOf([&] { QVERIFY(parser.fetchPacket(&packet, 5000)); }, &thrown), code);
    QCOMPARE(port.emptyPolls, emptyPolls);
    if (code == 0) {
        QCOMPARE(packet.data, QByteArray(dataBytes, '\x5a'));
    } else {
        QCOMPARE(thrown, QStringLiteral("Morlan response overtime!"));
    }
}

void TestMorlanProtocol::requestSend_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("lengthField");
    QTest::addColumn<int>("writeLimit");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("length field disagrees: the data size is written")
        << hex("0102") << 9 << -1 << 0 << ClubFrames::request(0x54, 0x70, hex("0102"));
    QTest::newRow("255 data bytes") << QByteArray(255, 'x') << 0 << -1 << 0
                                    << ClubFrames::request(0x54, 0x70, QByteArray(255, 'x'));
    QTest::newRow("256 data bytes: refused, nothing written")
        << QByteArray(256, 'x') << 0 << -1 << 0x105 << QByteArray();
    QTest::newRow("port takes fewer bytes") << hex("0102") << 2 << 4 << 0x105 << hex("6c547002");
}

void TestMorlanProtocol::requestSend()
{
    QFETCH(QByteArray, data);
    QFETCH(int, lengthField);
    QFETCH(int, writeLimit);
    QFETCH(int, code);
    QFETCH(QByteArray, written);

    MemoryCommPort port;
    port.setWriteLimit(writeLimit);
    // A late answer to an earlier request must not be taken for this one's.
    port.queueInput(withSum(hex("33547001 00")));
    MorlanRequestParser parser(&port);
    MorlanRequestPacket packet;
    packet.start = 0x6C;
    packet.address = 0x54;
    packet.command = 0x70;
    packet.length = quint8(lengthField);
    packet.data = data;
    QString message;
    QCOMPARE(codeOf([&] { parser.sendPacket(packet); }, &message), code);
    if (code)
        QCOMPARE(message, QStringLiteral("Communication send failed!"));
    QCOMPARE(port.written(), written);
    // Stale input goes whenever the frame goes out.
    QCOMPARE(port.inputWaiting(), data.size() > 255 ? 6 : 0);
}

void TestMorlanProtocol::responseSend_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("writeLimit");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("status and data") << hex("0a0b") << -1 << 0 << ClubFrames::answer(0x31, 0xC1, 3, hex("0a0b"));
    QTest::newRow("254 data bytes") << QByteArray(254, 'y') << -1 << 0
                                    << ClubFrames::answer(0x31, 0xC1, 3, QByteArray(254, 'y'));
    QTest::newRow("255 data bytes: refused, nothing written") << QByteArray(255, 'y') << -1 << 0x105 << QByteArray();
    QTest::newRow("port takes fewer bytes") << hex("0a0b") << 3 << 0x105 << hex("3331c1");
}

void TestMorlanProtocol::responseSend()
{
    QFETCH(QByteArray, data);
    QFETCH(int, writeLimit);
    QFETCH(int, code);
    QFETCH(QByteArray, written);

    MemoryCommPort port;
    port.setWriteLimit(writeLimit);
    port.queueInput(hex("6c6c6c")); // the master's pending input
    MorlanResponseParser parser(&port);
    MorlanResponsePacket packet;
    packet.start = 0x33;
    packet.address = 0x31;
    packet.command = 0xC1;
    packet.status = 3;
    packet.data = data;
    QCOMPARE(codeOf([&] { parser.sendPacket(packet); }), code);
    QCOMPARE(port.written(), written);
    QCOMPARE(port.inputWaiting(), data.size() > 254 ? 3 : 0);
}

QTEST_GUILESS_MAIN(TestMorlanProtocol)
#include "tst_morlanprotocol.moc"
