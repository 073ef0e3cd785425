#include "club/morlanmaster.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/serialcommport.h"

#include "clubframes.h"
#include "clubportpeer.h"
#include "clubrouter.h"
#include "errorcode.h"
#include "memorycommport.h"

#include <QDateTime>
#include <QSerialPort>
#include <QTest>

#include <functional>
#include <memory>

namespace {

// The in-memory port as a router that answers each request with the next
// scripted frame. The answer is queued after the request was written: a
// request drops whatever was waiting before it.
class ScriptedPort : public MemoryCommPort
{
public:
    void script(const QList<QByteArray> &answers) { replies = answers; }
    bool sendBytes(QByteArray bytes) override
    {
        const bool ok = MemoryCommPort::sendBytes(bytes);
        if (!replies.isEmpty())
            queueInput(replies.takeFirst());
        return ok;
    }
    bool receiveByte(unsigned char *b) override
    {
        const bool got = MemoryCommPort::receiveByte(b);
        if (!got)
            ++emptyPolls;
        return got;
    }
    int emptyPolls = 0;

private:
    QList<QByteArray> replies;
};

// The request frames written so far, as the router would decode them.
QList<ClubFrames::Request> requestsIn(const QByteArray &written)
{
    QList<ClubFrames::Request> out;
    ClubFrames::RequestReader reader;
    ClubFrames::Request request;
    for (char c : written) {
        if (reader.feed(quint8(c), &request))
            out << request;
    }
    return out;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

qint64 utcMs(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC).toMSecsSinceEpoch();
}

enum Op {
    Authorise,
    Initialise,
    ReadTagText,
    ReadTagBlock,
    WriteTag,
    SetRandom,
    ReadParams,
    SetDigout,
    ReadTime,
    ReadTimeEx,
    TestTime,
    SetTime,
    Print,
};

// Runs one operation; the outputs start as sentinels so that a refusal shows
// whether they were touched.
struct Outputs
{
    quint8 code = 0xEE;
    QByteArray bytes = "keep";
    QString text = QStringLiteral("keep");
    QString uid = QStringLiteral("keep");
    quint8 b0 = 0xEE;
    quint8 b1 = 0xEE;
    qint64 ms = -1;
    quint8 timeStatus = 0xEE;
};

int run(MorlanMasterHandler &handler, int op, Outputs *out)
{
    switch (op) {
    case Authorise:
        handler.sendAuthorizeReq();
        return handler.getAuthorizeResp(&out->code, &out->bytes);
    case Initialise:
        handler.sendInitReq();
        return handler.getInitResp();
    case ReadTagText:
        return handler.readTransponder(&out->text, &out->b0, &out->uid);
    case ReadTagBlock:
        return handler.readTransponder(&out->bytes, &out->b0, &out->b1, 0x01, 0x02);
    case WriteTag:
        return handler.writeTransponder(hex("1122334455"), 0x00, 0x04);
    case SetRandom:
        return handler.setRandom(&out->bytes);
    case ReadParams:
        handler.sendReadParamReq(0x00, 0x07);
        return handler.getReadParamResp(&out->bytes);
    case SetDigout:
        handler.sendSetDigoutReq(0x03);
        return handler.getSetDigoutResp(&out->b0);
    case ReadTime:
        return handler.readTime(&out->ms);
    case ReadTimeEx:
        return handler.readTimeEx(&out->ms, &out->timeStatus);
    case TestTime:
        out->text = handler.testTime();
        return 0;
    case SetTime:
        return handler.setTime(utcMs(2026, 3, 9, 12, 34, 56));
    case Print:
        return handler.print(QStringLiteral("Hi"), MorlanMasterHandler::kSecondPrinterAddress);
    default:
        return -1;
    }
}

} // namespace

// The master command set: the bytes of each request, the decoding of each
// answer, refusals and garbled answers; against the club-port peer as the
// router over a real line, and against scripted answers in memory.
class TestMorlanMaster : public QObject
{
    Q_OBJECT
private slots:
    void commands_reachTheRouter_data();
    void commands_reachTheRouter();
    void router_answersDecoded();
    void answerFromAnotherAddress_accepted();
    void readTransponder_shortBlock();
    void getTime_flags_data();
    void getTime_flags();
    void getTime_badText_data();
    void getTime_badText();
    void timeStatus_data();
    void timeStatus();
    void print_latin1();
    void print_longText_inFramePieces_data();
    void print_longText_inFramePieces();
    void wrongEcho_data();
    void wrongEcho();
    void refusal_outputsUnchanged_data();
    void refusal_outputsUnchanged();
    void testTime_data();
    void testTime();
    void answerTimeouts_data();
    void answerTimeouts();
};

void TestMorlanMaster::commands_reachTheRouter_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<quint8>("address");
    QTest::addColumn<quint8>("command");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("authorise") << int(Authorise) << quint8(0x00) << quint8(0x5F) << hex("0000");
    QTest::newRow("initialise") << int(Initialise) << quint8(0x00) << quint8(0xA0) << hex("0000");
    QTest::newRow("read transponder") << int(ReadTagText) << quint8(0x00) << quint8(0xB7) << hex("0005");
    QTest::newRow("read transponder, block form") << int(ReadTagBlock) << quint8(0x00) << quint8(0xB7) << hex("0102");
    QTest::newRow("write transponder") << int(WriteTag) << quint8(0x00) << quint8(0xB8) << hex("00041122334455");
    QTest::newRow("set random") << int(SetRandom) << quint8(0x00) << quint8(0xBA) << hex("0000");
    QTest::newRow("read parameters") << int(ReadParams) << quint8(0x00) << quint8(0xBD) << hex("0007");
    QTest::newRow("set digital output") << int(SetDigout) << quint8(0x00) << quint8(0xAF) << hex("0003");
    QTest::newRow("get time") << int(ReadTime) << quint8(0x56) << quint8(0x52) << hex("0000");
    QTest::newRow("test time") << int(TestTime) << quint8(0x56) << quint8(0x52) << hex("0000");
    QTest::newRow("set time 2026-03-09 12:34:56") << int(SetTime) << quint8(0x56) << quint8(0xC2)
                                                 << hex("1a03090c22380000");
    QTest::newRow("print") << int(Print) << quint8(0x22) << quint8(0x50) << QByteArray("Hi");
}

void TestMorlanMaster::commands_reachTheRouter()
{
    QFETCH(int, op);
    QFETCH(quint8, address);
    QFETCH(quint8, command);
    QFETCH(QByteArray, data);
    ClubPortPeer peer;
    peer.setPacing(false);
    peer.router().presentRing(hex("0000c0de"), 7);
    QVERIFY(peer.start());
    QSerialPort serial(peer.slavePath());
    serial.setBaudRate(9600);
    QVERIFY(serial.open(QIODevice::ReadWrite));
    SerialCommPort port(&serial);
    MorlanMasterHandler handler(&port);
    Outputs out;
    QCOMPARE(run(handler, op, &out), 0);
    const QList<ClubPortPeer::Frame> frames = peer.frames();
    QCOMPARE(frames.size(), 1);
    QVERIFY(frames[0].sumOk);
    QCOMPARE(frames[0].address, address);
    QCOMPARE(frames[0].command, command);
    QCOMPARE(frames[0].data.toHex(), data.toHex());
}

void TestMorlanMaster::router_answersDecoded()
{
    ClubPortPeer peer;
    peer.setPacing(false);
    ClubRouter &router = peer.router();
    router.presentRing(hex("00c0ffee"), 0x2A);
    router.setAuthorisation(0x05, hex("0123abcd"));
    router.setRouterId(hex("deadbeef"));
    router.setNextRandom(0x33);
    router.setTimeStatus(0x04);
    QVERIFY(peer.start());
    QSerialPort serial(peer.slavePath());
    serial.setBaudRate(9600);
    QVERIFY(serial.open(QIODevice::ReadWrite));
    SerialCommPort port(&serial);
    MorlanMasterHandler handler(&port);

    Outputs out;
    QCOMPARE(run(handler, Authorise, &out), 0);
    QCOMPARE(out.code, quint8(0x05));
    QCOMPARE(out.bytes, hex("0123abcd"));
    QCOMPARE(run(handler, ReadParams, &out), 0);
    QCOMPARE(out.bytes.mid(4, 4), hex("deadbeef"));
    QCOMPARE(run(handler, ReadTagText, &out), 0);
    QCOMPARE(out.text, QStringLiteral("00C0FFEE"));
    QCOMPARE(out.b0, quint8(0x2A));
    QVERIFY(out.uid.isEmpty());
    QCOMPARE(run(handler, SetRandom, &out), 0);
    QCOMPARE(out.bytes, hex("00c0ffee33"));
    QCOMPARE(run(handler, SetDigout, &out), 0);
    QCOMPARE(router.digitalOutputs(), QList<quint8>{0x03});
    QCOMPARE(run(handler, WriteTag, &out), 0);
    QCOMPARE(router.writtenBlocks(), QList<QByteArray>{hex("1122334455")});

    // Set time, then read it back through the one-hour flag.
    QCOMPARE(run(handler, SetTime, &out), 0);
    router.setOneHourFlag(true);
    QCOMPARE(run(handler, ReadTimeEx, &out), 0);
    QVERIFY2(qAbs(out.ms - utcMs(2026, 3, 9, 12, 34, 56)) <= 1000, qPrintable(QString::number(out.ms)));
    QCOMPARE(out.timeStatus, quint8(0x04));
    QCOMPARE(run(handler, Print, &out), 0);
    QCOMPARE(router.printed().size(), 1);
    QCOMPARE(router.printed()[0].address, quint8(0x22));

    router.takeRingAway();
    out = Outputs();
    QCOMPARE(run(handler, ReadTagText, &out), int(ClubRouter::kNoRing));
    QCOMPARE(out.text, QStringLiteral("keep"));
}

void TestMorlanMaster::answerFromAnotherAddress_accepted()
{
    ScriptedPort port;
    port.script({ClubFrames::answer(0x31, 0xBD, 0, hex("0102030411223344"))});
    MorlanMasterHandler handler(&port);
    Outputs out;
    QCOMPARE(run(handler, ReadParams, &out), 0);
    QCOMPARE(out.bytes, hex("0102030411223344"));
}

void TestMorlanMaster::readTransponder_shortBlock()
{
    ScriptedPort port;
    port.script({ClubFrames::answer(0, 0xB7, 0, hex("0005aabbcc"))});
    MorlanMasterHandler handler(&port);
    QString eRing;
    quint8 rand = 0x77;
    QString uid = QStringLiteral("x");
    QCOMPARE(handler.readTransponder(&eRing, &rand, &uid), 0);
    QCOMPARE(eRing, QStringLiteral("AABBCC"));
    QCOMPARE(rand, quint8(0));
    QVERIFY(uid.isEmpty());
}

void TestMorlanMaster::getTime_flags_data()
{
    QTest::addColumn<quint8>("flags");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("one-hour bit: an hour less") << quint8(0x02) << utcMs(2026, 3, 9, 11, 34, 56);
    QTest::newRow("no flags") << quint8(0x00) << utcMs(2026, 3, 9, 12, 34, 56);
    QTest::newRow("other bits only") << quint8(0xFD) << utcMs(2026, 3, 9, 12, 34, 56);
}

void TestMorlanMaster::getTime_flags()
{
    QFETCH(quint8, flags);
    QFETCH(qint64, expected);
    ScriptedPort port;
    port.script({ClubFrames::answer(0x56, 0x52, 0, QByteArray("123456/090326") + char(flags))});
    MorlanMasterHandler handler(&port);
    qint64 ms = 0;
    QCOMPARE(handler.readTime(&ms), 0);
    QCOMPARE(ms, expected);
}

void TestMorlanMaster::getTime_badText_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("12 bytes") << QByteArray("123456/09032");
    QTest::newRow("no data") << QByteArray();
    QTest::newRow("a non-digit") << QByteArray("12x456/090326") + char(0);
    QTest::newRow("a non-digit in the year") << QByteArray("123456/09032 ") + char(0);
    QTest::newRow("month 13") << QByteArray("123456/091326") + char(0);
    QTest::newRow("30 February") << QByteArray("123456/300226") + char(0);
    QTest::newRow("hour 24") << QByteArray("243456/090326") + char(0);
}

void TestMorlanMaster::getTime_badText()
{
    QFETCH(QByteArray, data);
    ScriptedPort port;
    port.script({ClubFrames::answer(0x56, 0x52, 0, data), ClubFrames::answer(0x56, 0x52, 0, data)});
    MorlanMasterHandler handler(&port);
    qint64 ms = -1;
    QString message;
    QCOMPARE(errorCodeOf([&] { handler.readTime(&ms); }, &message), 0x500);
    QCOMPARE(message, QStringLiteral("Morlan response exception!"));
    QCOMPARE(ms, qint64(-1));
    // Asking only for the time status does not read the text.
    quint8 status = 0xEE;
    QCOMPARE(handler.readTimeEx(nullptr, &status), 0);
    QCOMPARE(status, quint8(0));
}

void TestMorlanMaster::timeStatus_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint8>("status");
    QTest::newRow("14 data bytes: 0") << QByteArray("123456/090326") + char(2) << quint8(0);
    QTest::newRow("15 data bytes: d[14]") << QByteArray("123456/090326") + char(2) + char(9) << quint8(9);
}

void TestMorlanMaster::timeStatus()
{
    QFETCH(QByteArray, data);
    QFETCH(quint8, status);
    ScriptedPort port;
    port.script({ClubFrames::answer(0x56, 0x52, 0, data)});
    MorlanMasterHandler handler(&port);
    qint64 ms = 0;
    quint8 timeStatus = 0xEE;
    QCOMPARE(handler.readTimeEx(&ms, &timeStatus), 0);
    QCOMPARE(timeStatus, status);
    QCOMPARE(ms, utcMs(2026, 3, 9, 11, 34, 56));
}

void TestMorlanMaster::print_latin1()
{
    ScriptedPort port;
    port.script({ClubFrames::answer(0x54, 0x50, 0, {}), ClubFrames::answer(0x54, 0x50, 0, {})});
    MorlanMasterHandler handler(&port);
    QCOMPARE(handler.print(QStringLiteral("Ärger"), 0x54), 0);
    QCOMPARE(handler.print(QStringLiteral("5 €"), 0x54), 0);
    const auto requests = requestsIn(port.written());
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].data.toHex(), QByteArray("c472676572"));
    QCOMPARE(requests[1].data.toHex(), QByteArray("35203f"));
}

void TestMorlanMaster::print_longText_inFramePieces_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("refusedPiece"); // -1: none
    QTest::addColumn<QList<int>>("pieces");
    QTest::addColumn<int>("status");
    QTest::newRow("empty: one request") << 0 << -1 << QList<int>{0} << 0;
    QTest::newRow("255: one frame") << 255 << -1 << QList<int>{255} << 0;
    QTest::newRow("256: two") << 256 << -1 << QList<int>{255, 1} << 0;
    QTest::newRow("600: three") << 600 << -1 << QList<int>{255, 255, 90} << 0;
    QTest::newRow("600, second refused: the rest not sent") << 600 << 1 << QList<int>{255, 255} << 6;
}

void TestMorlanMaster::print_longText_inFramePieces()
{
    QFETCH(int, length);
    QFETCH(int, refusedPiece);
    QFETCH(QList<int>, pieces);
    QFETCH(int, status);
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar(u'a' + i % 26);
    QList<QByteArray> answers;
    for (int i = 0; i < 3; ++i)
        answers << ClubFrames::answer(0x22, 0x50, i == refusedPiece ? 6 : 0, {});
    ScriptedPort port;
    port.script(answers);
    MorlanMasterHandler handler(&port);
    QCOMPARE(handler.print(text, 0x22), status);
    const auto requests = requestsIn(port.written());
    QList<int> sizes;
    QByteArray joined;
    for (const auto &request : requests) {
        QCOMPARE(request.address, quint8(0x22));
        QCOMPARE(request.command, quint8(0x50));
        sizes << int(request.data.size());
        joined += request.data;
    }
    QCOMPARE(sizes, pieces);
    if (status == 0)
        QCOMPARE(joined, text.toLatin1());
}

void TestMorlanMaster::wrongEcho_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<quint8>("answered");
    QTest::addColumn<QString>("message");
    QTest::newRow("authorise") << int(Authorise) << quint8(0xA0) << "error morlan cmd received!";
    QTest::newRow("initialise") << int(Initialise) << quint8(0x5F) << "error morlan cmd!";
    QTest::newRow("print") << int(Print) << quint8(0x51) << "error morlan cmd!";
    QTest::newRow("get time") << int(ReadTime) << quint8(0xC2) << "error morlan cmd!";
}

void TestMorlanMaster::wrongEcho()
{
    QFETCH(int, op);
    QFETCH(quint8, answered);
    QFETCH(QString, message);
    ScriptedPort port;
    port.script({ClubFrames::answer(0, answered, 0, QByteArray("123456/090326"))});
    MorlanMasterHandler handler(&port);
    Outputs out;
    QString got;
    QCOMPARE(errorCodeOf([&] { run(handler, op, &out); }, &got), 0x501);
    QCOMPARE(got, message);
}

void TestMorlanMaster::refusal_outputsUnchanged_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<quint8>("command");
    for (auto row : {std::make_pair("authorise", Authorise), std::make_pair("read transponder", ReadTagText),
                     std::make_pair("read transponder, block", ReadTagBlock), std::make_pair("set random", SetRandom),
                     std::make_pair("read parameters", ReadParams), std::make_pair("set digital output", SetDigout),
                     std::make_pair("get time", ReadTimeEx)}) {
        static const QHash<int, quint8> commands{{Authorise, 0x5F}, {ReadTagText, 0xB7}, {ReadTagBlock, 0xB7},
                                                 {SetRandom, 0xBA}, {ReadParams, 0xBD}, {SetDigout, 0xAF},
                                                 {ReadTimeEx, 0x52}};
        QTest::newRow(row.first) << int(row.second) << commands.value(row.second);
    }
}

void TestMorlanMaster::refusal_outputsUnchanged()
{
    QFETCH(int, op);
    QFETCH(quint8, command);
    ScriptedPort port;
    // A refusal that still carries data: none of it may reach the outputs.
    port.script({ClubFrames::answer(0, command, 0x17, QByteArray("123456/090326\x02\x05"))});
    MorlanMasterHandler handler(&port);
    Outputs out;
    QCOMPARE(run(handler, op, &out), 0x17);
    const Outputs untouched;
    QCOMPARE(out.code, untouched.code);
    QCOMPARE(out.bytes, untouched.bytes);
    QCOMPARE(out.text, untouched.text);
    QCOMPARE(out.uid, untouched.uid);
    QCOMPARE(out.b0, untouched.b0);
    QCOMPARE(out.b1, untouched.b1);
    QCOMPARE(out.ms, untouched.ms);
    QCOMPARE(out.timeStatus, untouched.timeStatus);
}

void TestMorlanMaster::testTime_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << 7 << QByteArray() << "STATUS:7";
    QTest::newRow("answered") << 0 << (QByteArray("12") + char(0xAB) + char(0x0F)) << "PARAMS:3132AB0F";
    // A diagnostic: a text that is no time is shown, not refused.
    QTest::newRow("answered, not a time") << 0 << QByteArray("zz") << "PARAMS:7A7A";
}

void TestMorlanMaster::testTime()
{
    QFETCH(int, status);
    QFETCH(QByteArray, data);
    QFETCH(QString, text);
    ScriptedPort port;
    port.script({ClubFrames::answer(0x56, 0x52, quint8(status), data)});
    MorlanMasterHandler handler(&port);
    QCOMPARE(handler.testTime(), text);
}

void TestMorlanMaster::answerTimeouts_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("authorise") << int(Authorise) << 5000;
    QTest::newRow("initialise") << int(Initialise) << 5000;
    QTest::newRow("read transponder") << int(ReadTagText) << 5000;
    QTest::newRow("write transponder") << int(WriteTag) << 5000;
    QTest::newRow("set random") << int(SetRandom) << 5000;
    QTest::newRow("read parameters") << int(ReadParams) << 2000;
    QTest::newRow("set digital output") << int(SetDigout) << 5000;
    QTest::newRow("get time") << int(ReadTime) << 2000;
    QTest::newRow("set time") << int(SetTime) << 2000;
    QTest::newRow("print") << int(Print) << 5000;
}

// A silent router: the first-byte wait is the command's time-out, counted in
// empty polls (divided by the test seam, so that it costs milliseconds).
void TestMorlanMaster::answerTimeouts()
{
    QFETCH(int, op);
    QFETCH(int, timeoutMs);
    constexpr int kDivisor = 100;
    ScriptedPort port;
    MorlanMasterHandler handler(&port);
    handler.setTimeoutDivisor(kDivisor);
    Outputs out;
    QString message;
    QCOMPARE(errorCodeOf([&] { run(handler, op, &out); }, &message), 0x506);
    QCOMPARE(message, QStringLiteral("Morlan no response!"));
    QCOMPARE(port.emptyPolls, timeoutMs / kDivisor);
}

QTEST_GUILESS_MAIN(TestMorlanMaster)
#include "tst_morlanmaster.moc"
