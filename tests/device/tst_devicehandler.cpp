#include "core/platform.h"
#include "core/vexexception.h"
#include "device/DeviceComm.h"

#include "ptypair.h"
#include "ringreaderpeer.h"
#include "ringwire.h"
#include "testroot.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

#include <ctime>
#include <poll.h>

Q_DECLARE_METATYPE(RingFault)

namespace {
constexpr int kFrameWaitMs = 2000;
const QByteArray kDevNo = QByteArray::fromHex("0a1b2c3d"); // 0x1B travels escaped
const QString kDevNoText = QStringLiteral("0A1B2C3D");

struct Outcome
{
    int code = 0; // 0: no exception
    QString message;
};

Outcome run(const std::function<void()> &call)
{
    try {
        call();
    } catch (const VexException &e) {
        return {e.getErrorCode(), e.getErrorMessage()};
    }
    return {};
}

qint64 threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The product's side as the reader's owner thread has it: a QSerialPort made
// and used in this thread, on the node of a simulated device, and a handler on
// it; the peer answers on the other end of the line in its own thread.
struct Link
{
    Link()
    {
        root.activate();
        peer.setDevNo(kDevNo);
        peer.linkUnder(root.root(), QStringLiteral("/dev/ttyS3"));
        peer.start();
        serial.setPortName(Platform::path(QStringLiteral("/dev/ttyS3")));
        serial.setBaudRate(115200);
        opened = serial.open(QIODevice::ReadWrite);
    }

    TestRoot root;
    RingReaderPeer peer;
    QSerialPort serial;
    DeviceHandler handler{&serial};
    bool opened = false;
};

_CMDPACKET command(quint8 group, quint8 cmd, const QByteArray &data)
{
    _CMDPACKET c{};
    c.group = group;
    c.cmd = cmd;
    c.dataLen = quint16(data.size());
    memcpy(c.data, data.constData(), size_t(qMin<qsizetype>(data.size(), sizeof c.data)));
    return c;
}

QByteArray payloadOf(const _CMDPACKET &c)
{
    QByteArray p;
    p.append(char(c.group)).append(char(c.cmd));
    p.append(char(c.dataLen & 0xFF)).append(char(c.dataLen >> 8));
    p.append(reinterpret_cast<const char *>(c.data), c.dataLen);
    return p;
}
} // namespace

// The ring-reader link against a peer written from the wire format: what goes
// out, every way an answer can fail, and the group-0 commands. After every
// failure the same handler must carry on with the next command.
class TestDeviceHandler : public QObject
{
    Q_OBJECT
private slots:
    void send_framesAndEscapes_data();
    void send_framesAndEscapes();
    void send_largestCommand_andOneTooMany();
    void send_isCompleteWhenSendCmdReturns();
    void invalidPort_throws268_data();
    void invalidPort_throws268();
    void send_discardsInputWaitingBefore();

    void receive_failures_data();
    void receive_failures();
    void receive_peerHangsUpMidFrame_failsWithoutSpinning();
    void readBytes_countsUpToFirstMissing();

    void group0_data();
    void group0();
    void initDev_longWaitStaysForNextCommand();

    void badInput_randomStreams_endInTabledOutcomes();
};

void TestDeviceHandler::send_framesAndEscapes_data()
{
    QTest::addColumn<int>("baseAddr"); // -1: left at its default
    QTest::addColumn<int>("devAddr");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("wirePart"); // must appear in the raw frame

    QTest::newRow("defaults are 0xFFFF") << -1 << -1 << QByteArray("\x01", 1)
                                         << QByteArray::fromHex("1affffffff21");
    QTest::newRow("0x1A escaped") << -1 << -1 << QByteArray("\x1a", 1) << QByteArray::fromHex("1b9a");
    QTest::newRow("0x17 escaped") << -1 << -1 << QByteArray("\x17", 1) << QByteArray::fromHex("1b97");
    QTest::newRow("0x1B escaped") << -1 << -1 << QByteArray("\x1b", 1) << QByteArray::fromHex("1b9b");
    QTest::newRow("0x9A unchanged") << -1 << -1 << QByteArray("\x00\x9a\x00", 3) << QByteArray::fromHex("009a00");
    QTest::newRow("addresses low byte first, escaped inside")
        << 0x171A << 0x021B << QByteArray() << QByteArray::fromHex("1a1b9a1b971b9b02");
}

void TestDeviceHandler::send_framesAndEscapes()
{
    QFETCH(int, baseAddr);
    QFETCH(int, devAddr);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wirePart);
    Link link;
    QVERIFY(link.opened);
    if (baseAddr >= 0)
        link.handler.setBaseAddr(quint16(baseAddr));
    if (devAddr >= 0)
        link.handler.selectDevAddr(quint16(devAddr));
    // Group 7 is unknown to the peer, which records it without answering.
    const _CMDPACKET cmd = command(7, 3, data);
    link.handler.sendCmd(&cmd);
    QVERIFY(link.peer.waitForFrames(1, kFrameWaitMs));

    const RingWire::Frame f = link.peer.frames().at(0);
    const quint16 base = baseAddr >= 0 ? quint16(baseAddr) : 0xFFFF;
    const quint16 dev = devAddr >= 0 ? quint16(devAddr) : 0xFFFF;
    QVERIFY(f.commandOk());
    QCOMPARE(f.baseAddr, base);
    QCOMPARE(f.devAddr, dev);
    QCOMPARE(f.reserved, quint8(0));
    QCOMPARE(f.group, quint8(7));
    QCOMPARE(f.command, quint8(3));
    QCOMPARE(f.data, data);
    QCOMPARE(f.raw, RingWire::frame(RingWire::body(base, dev, RingWire::kCommandType, payloadOf(cmd))));
    QVERIFY2(f.raw.contains(wirePart), f.raw.toHex().constData());
    // Nothing but the one frame went out.
    QCOMPARE(link.peer.rawInput(), f.raw);
}

void TestDeviceHandler::send_largestCommand_andOneTooMany()
{
    Link link;
    QVERIFY(link.opened);
    QByteArray data(116, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(0x10 + i); // includes 0x17, 0x1A, 0x1B

    const _CMDPACKET tooMany = command(7, 1, data);
    const Outcome refused = run([&] { link.handler.sendCmd(&tooMany); });
    QCOMPARE(refused.code, 1025);
    QCOMPARE(refused.message, QStringLiteral("Packet parameters error!"));

    const _CMDPACKET largest = command(7, 1, data.left(115));
    link.handler.sendCmd(&largest);
    QVERIFY(link.peer.waitForFrames(1, kFrameWaitMs));
    const RingWire::Frame f = link.peer.frames().at(0);
    QCOMPARE(f.body.size(), 128);
    QVERIFY(f.commandOk());
    QCOMPARE(f.data, data.left(115));
    // The refused command wrote nothing: the peer's input is this frame alone.
    QCOMPARE(link.peer.rawInput(), f.raw);
}

void TestDeviceHandler::send_isCompleteWhenSendCmdReturns()
{
    PtyPair pty; // no peer thread: the line is read only below
    QSerialPort serial;
    serial.setPortName(pty.slavePath());
    QVERIFY(serial.open(QIODevice::ReadWrite));
    serial.setBaudRate(9600);
    DeviceHandler handler(&serial);
    const _CMDPACKET cmd = command(0, 9, QByteArray(8, '\x1a'));
    handler.sendCmd(&cmd);
    // No Qt call follows: bytes still queued inside Qt would never arrive.
    const QByteArray expected = RingWire::frame(RingWire::body(0xFFFF, 0xFFFF, 0x21, payloadOf(cmd)));
    QCOMPARE(pty.readExactly(int(expected.size()), kFrameWaitMs), expected);
}

void TestDeviceHandler::invalidPort_throws268_data()
{
    QTest::addColumn<bool>("nullPort");
    QTest::newRow("no port") << true;
    QTest::newRow("closed port") << false;
}

void TestDeviceHandler::invalidPort_throws268()
{
    QFETCH(bool, nullPort);
    Link link;
    QVERIFY(link.opened);
    if (nullPort)
        link.handler.bind(nullptr);
    else
        link.serial.close();
    QVERIFY(!link.handler.isValid());
    link.handler.clear(); // no effect, no exception
    const _CMDPACKET cmd = command(0, 8, {});
    _RESPONSEPACKET rsp{};
    for (const Outcome &o : {run([&] { link.handler.sendCmd(&cmd); }), run([&] { link.handler.receiveRsp(&rsp); }),
                             run([&] { link.handler.getTime(); })}) {
        QCOMPARE(o.code, 268);
        QCOMPARE(o.message, QStringLiteral("Deivce port is invalid!"));
    }
    QVERIFY(link.peer.rawInput().isEmpty());
}

void TestDeviceHandler::send_discardsInputWaitingBefore()
{
    Link link;
    QVERIFY(link.opened);
    // Some junk already fetched into Qt's own buffer, some still in the driver.
    QVERIFY(link.peer.inject(QByteArray::fromHex("1a0102171a")));
    QVERIFY(link.serial.waitForReadyRead(kFrameWaitMs));
    QVERIFY(link.serial.bytesAvailable() > 0);
    QVERIFY(link.peer.inject(QByteArray::fromHex("5555")));
    pollfd pfd{int(link.serial.handle()), POLLIN, 0};
    QVERIFY(::poll(&pfd, 1, kFrameWaitMs) > 0);
    QCOMPARE(link.handler.getDevNo(), kDevNoText);
}

void TestDeviceHandler::receive_failures_data()
{
    QTest::addColumn<RingFault>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const QString packetFormat = QStringLiteral("Packet format error!");
    RingFault f;
    f.silent = true;
    QTest::newRow("silence") << f << 259 << QStringLiteral("Nothing received!");
    f = {};
    f.delayMs = 400;
    QTest::newRow("answer after the first-byte wait") << f << 259 << QStringLiteral("Nothing received!");
    f = {};
    f.garbageBefore = QByteArray::fromHex("55");
    QTest::newRow("garbage first byte") << f << 263 << QStringLiteral("STB error!");
    f = {};
    f.cut = RingFault::Cut::MidFrame;
    QTest::newRow("stall mid-frame") << f << 259 << QStringLiteral("Data not received!");
    f = {};
    f.cut = RingFault::Cut::AfterEscape;
    QTest::newRow("stall after an escape") << f << 259 << QStringLiteral("Data format error!");
    f = {};
    f.bodyBytes = 129;
    QTest::newRow("129-byte body") << f << 262 << QStringLiteral("Comm buffer out!");
    f = {};
    f.bodyBytes = 3;
    QTest::newRow("3-byte body") << f << 263 << packetFormat;
    f = {};
    f.bodyBytes = 0;
    QTest::newRow("empty body") << f << 263 << packetFormat;
    for (int len : {4, 7, 8}) {
        f = {};
        f.bodyBytes = len;
        QTest::addRow("%d-byte body has no room for its length", len) << f << 260 << packetFormat;
    }
    f = {};
    f.lengthByte = 100;
    QTest::newRow("length byte larger than the body") << f << 260 << packetFormat;
    f = {};
    f.lengthByte = 255;
    QTest::newRow("length byte 255") << f << 260 << packetFormat;
    f = {};
    f.wrongCrc = true;
    QTest::newRow("wrong CRC only") << f << 266 << packetFormat;
    f = {};
    f.type = 0x51;
    QTest::newRow("type 0x51") << f << 263 << QStringLiteral("Response packet format error!");
    f = {};
    f.version = 2;
    QTest::newRow("second byte 2") << f << 263 << QStringLiteral("Response packet format error!");
    f = {};
    f.type = 0x6F;
    QTest::newRow("type 0x6F is a response") << f << 0 << QString();
    f = {};
    f.byteGapMs = 80;
    QTest::newRow("bytes 80 ms apart") << f << 0 << QString();
    f = {};
    f.junkAfter = QByteArray::fromHex("1a17551b");
    QTest::newRow("junk after the answer") << f << 0 << QString();
}

void TestDeviceHandler::receive_failures()
{
    QFETCH(RingFault, fault);
    QFETCH(int, code);
    QFETCH(QString, message);
    Link link;
    QVERIFY(link.opened);
    link.peer.pushFault(fault);

    QElapsedTimer timer;
    timer.start();
    QString devNo;
    const Outcome o = run([&] { devNo = link.handler.getDevNo(); });
    const qint64 elapsedMs = timer.elapsed();
    QCOMPARE(o.code, code);
    QCOMPARE(o.message, message);
    if (code == 0)
        QCOMPARE(devNo, kDevNoText);
    if (message == QLatin1String("Nothing received!")) {
        // Not before the first-byte wait of 100 ms (how soon after is a
        // figure of the benchmarks).
        QVERIFY2(elapsedMs >= 100, qPrintable(QString::number(elapsedMs)));
    }

    // The same handler carries on; the next send discards what is left.
    QVERIFY(link.peer.waitForFrames(1, kFrameWaitMs));
    if (fault.delayMs > 0)
        QVERIFY(link.peer.waitForAnswers(1, kFrameWaitMs)); // let the late answer land first
    QCOMPARE(link.handler.getDevNo(), kDevNoText);
}

void TestDeviceHandler::receive_peerHangsUpMidFrame_failsWithoutSpinning()
{
    Link link;
    QVERIFY(link.opened);
    RingFault fault;
    fault.cut = RingFault::Cut::MidFrame;
    fault.hangUpAfterMs = 30; // the reader has taken the first half by then
    link.peer.pushFault(fault);

    QElapsedTimer timer;
    timer.start();
    const qint64 cpuBefore = threadCpuMs();
    const Outcome o = run([&] { link.handler.getDevNo(); });
    const qint64 cpuMs = threadCpuMs() - cpuBefore;
    const qint64 elapsedMs = timer.elapsed();
    QCOMPARE(o.code, 259);
    QCOMPARE(o.message, QStringLiteral("Data not received!"));
    // The byte wait is kept on a dead line (which Qt reports at once), so a
    // caller polling in a loop never spins (how long it stays is a figure of
    // the benchmarks).
    QVERIFY2(elapsedMs >= 100, qPrintable(QString::number(elapsedMs)));
    // A dead line is waited out, not polled in a tight loop.
    QVERIFY2(cpuMs * 2 < elapsedMs + 10, qPrintable(QStringLiteral("cpu %1 ms of %2 ms").arg(cpuMs).arg(elapsedMs)));
    // With the line gone the next exchange fails on its write, before any wait.
    const Outcome next = run([&] { link.handler.getDevNo(); });
    QCOMPARE(next.code, 269);
    QCOMPARE(next.message, QStringLiteral("Write data error!"));
}

void TestDeviceHandler::readBytes_countsUpToFirstMissing()
{
    Link link;
    QVERIFY(link.opened);
    unsigned char buf[4] = {};
    QCOMPARE(link.handler.readBytes(buf, 0), 0u);
    QVERIFY(link.peer.inject(QByteArray::fromHex("a1a2a3")));
    QCOMPARE(link.handler.readBytes(buf, 3), 0u); // all came
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buf), 3), QByteArray::fromHex("a1a2a3"));
    QCOMPARE(link.handler.readBytes(buf, 2), 0u); // the first did not come
    QVERIFY(link.peer.inject(QByteArray::fromHex("b1")));
    QCOMPARE(link.handler.readBytes(buf, 3), 1u);
    QCOMPARE(buf[0], static_cast<unsigned char>(0xB1));
}

void TestDeviceHandler::group0_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<RingFault>("fault");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const QByteArray settings = QByteArray::fromHex("0102031a171b0708");
    const QByteArray time = QByteArray::fromHex("1b171a0090010000"); // 0x190001a171b, low byte first
    const QString lengthError = QStringLiteral("Response length error!");
    const QString responseError = QStringLiteral("Response error!");
    const RingFault normal;
    RingFault status5;
    status5.status = 5;
    RingFault underFour;
    underFour.payloadBytes = 2;
    RingFault shortData;
    shortData.dataBytes = 3;
    RingFault lengthFieldTooLarge;
    lengthFieldTooLarge.dataBytes = 5;
    lengthFieldTooLarge.dataLengthField = 8;

    QTest::newRow("getDevNo") << "getDevNo" << normal << 0 << QByteArray("\x01") << 0 << QString();
    QTest::newRow("getDevType") << "getDevType" << normal << 0 << QByteArray("\x04") << 0 << QString();
    QTest::newRow("getInitParams") << "getInitParams" << normal << 0 << QByteArray("\x06") << 0 << QString();
    QTest::newRow("initDev") << "initDev" << normal << 2 << QByteArray("KORVAND0") + settings << 0 << QString();
    QTest::newRow("getTime") << "getTime" << normal << 8 << QByteArray() << 0 << QString();
    QTest::newRow("setTime") << "setTime" << normal << 9 << time << 0 << QString();
    QTest::newRow("rebootDev") << "rebootDev" << normal << 10 << QByteArray() << 0 << QString();

    QTest::newRow("getTime, status 5") << "getTime" << status5 << 8 << QByteArray() << 5 << responseError;
    QTest::newRow("setTime, status 5 passes") << "setTime" << status5 << 9 << time << 0 << QString();
    QTest::newRow("setTime, payload under 4 passes") << "setTime" << underFour << 9 << time << 0 << QString();
    QTest::newRow("initDev, status 5") << "initDev" << status5 << 2 << QByteArray("KORVAND0") + settings << 5
                                       << responseError;
    QTest::newRow("rebootDev, status 5") << "rebootDev" << status5 << 10 << QByteArray() << 5 << responseError;
    QTest::newRow("getDevNo, short data") << "getDevNo" << shortData << 0 << QByteArray("\x01") << 263 << lengthError;
    QTest::newRow("getDevNo, payload under 4") << "getDevNo" << underFour << 0 << QByteArray("\x01") << 263
                                               << lengthError;
    QTest::newRow("rebootDev, payload under 4") << "rebootDev" << underFour << 10 << QByteArray() << 263 << lengthError;
    QTest::newRow("initDev, payload under 4") << "initDev" << underFour << 2 << QByteArray("KORVAND0") + settings
                                              << 263 << lengthError;
    QTest::newRow("getTime, length field larger than data") << "getTime" << lengthFieldTooLarge << 8 << QByteArray()
                                                            << 263 << lengthError;
    RingFault fifteen;
    fifteen.dataBytes = 15;
    QTest::newRow("getInitParams, 15 bytes") << "getInitParams" << fifteen << 0 << QByteArray("\x06") << 263
                                             << lengthError;
    RingFault oneByte;
    oneByte.dataBytes = 1;
    QTest::newRow("getDevType, 1 byte") << "getDevType" << oneByte << 0 << QByteArray("\x04") << 263 << lengthError;
}

void TestDeviceHandler::group0()
{
    QFETCH(QString, op);
    QFETCH(RingFault, fault);
    QFETCH(int, command);
    QFETCH(QByteArray, request);
    QFETCH(int, code);
    QFETCH(QString, message);

    const QByteArray params = QByteArray::fromHex("1a1b17030405060708090a0b0c0d0e0f");
    const qint64 clock = 0x190001A171BLL;
    Link link;
    QVERIFY(link.opened);
    link.peer.setDevType(0x1A17);
    link.peer.setInitParams(params);
    link.peer.setClock(clock);
    link.peer.pushFault(fault);

    const unsigned char settings[8] = {1, 2, 3, 0x1A, 0x17, 0x1B, 7, 8};
    const Outcome o = run([&] {
        if (op == QLatin1String("getDevNo")) {
            QCOMPARE(link.handler.getDevNo(), kDevNoText);
        } else if (op == QLatin1String("getDevType")) {
            QCOMPARE(link.handler.getDevType(), quint16(0x1A17));
        } else if (op == QLatin1String("getInitParams")) {
            unsigned char out[17];
            memset(out, 0xEE, sizeof out);
            link.handler.getInitParams(out);
            QCOMPARE(QByteArray(reinterpret_cast<char *>(out), 16), params);
            QCOMPARE(out[16], static_cast<unsigned char>(0xEE));
        } else if (op == QLatin1String("initDev")) {
            link.handler.initDev(settings);
        } else if (op == QLatin1String("getTime")) {
            QCOMPARE(link.handler.getTime(), clock);
        } else if (op == QLatin1String("setTime")) {
            link.handler.setTime(0x190001A171BLL);
        } else {
            link.handler.rebootDev();
        }
    });
    QCOMPARE(o.code, code);
    QCOMPARE(o.message, message);

    QVERIFY(link.peer.waitForFrames(1, kFrameWaitMs));
    const RingWire::Frame f = link.peer.frames().at(0);
    QVERIFY(f.commandOk());
    QCOMPARE(f.group, quint8(0));
    QCOMPARE(int(f.command), command);
    QCOMPARE(f.data, request);
    if (op == QLatin1String("setTime"))
        QCOMPARE(link.peer.clock(), 0x190001A171BLL);

    QCOMPARE(link.handler.getDevNo(), kDevNoText);
}

void TestDeviceHandler::initDev_longWaitStaysForNextCommand()
{
    Link link;
    QVERIFY(link.opened);
    RingFault late;
    late.delayMs = 1500;
    link.peer.setFault(late);
    const unsigned char settings[8] = {};
    link.handler.initDev(settings);
    QCOMPARE(link.handler.getDevNo(), kDevNoText);
    link.peer.setFault({});
    link.handler.setTimeout(100);
    link.peer.pushFault(late);
    QCOMPARE(run([&] { link.handler.getDevNo(); }).code, 259);
}

void TestDeviceHandler::badInput_randomStreams_endInTabledOutcomes()
{
    Link link;
    QVERIFY(link.opened);
    link.handler.setTimeout(50);
    const QSet<QPair<int, QString>> tabled = {
        {259, QStringLiteral("Nothing received!")},  {259, QStringLiteral("Data not received!")},
        {259, QStringLiteral("Data format error!")}, {262, QStringLiteral("Comm buffer out!")},
        {263, QStringLiteral("STB error!")},         {263, QStringLiteral("Packet format error!")},
        {260, QStringLiteral("Packet format error!")}, {266, QStringLiteral("Packet format error!")},
        {263, QStringLiteral("Response packet format error!")}, {263, QStringLiteral("Response length error!")},
    };
    QRandomGenerator rng(31337);
    const QByteArray good =
        RingWire::frame(RingWire::body(0xFFFF, 0xFFFF, 0x61, RingWire::responsePayload(0, kDevNo)));
    const QByteArray specials = QByteArray::fromHex("171a1b");
    for (int round = 0; round < 60; ++round) {
        QByteArray stream;
        switch (round % 3) {
        case 0: { // a valid answer, bytes changed, dropped or inserted
            stream = good;
            const int edits = 1 + int(rng.bounded(4));
            for (int e = 0; e < edits; ++e) {
                const int at = int(rng.bounded(int(stream.size())));
                const char b = rng.bounded(2) ? specials.at(int(rng.bounded(3))) : char(rng.bounded(256));
                switch (rng.bounded(3)) {
                case 0: stream[at] = b; break;
                case 1: stream.insert(at, b); break;
                default: stream.remove(at, 1); break;
                }
            }
            break;
        }
        case 1: { // a frame with a random body of any length up to past the limit
            QByteArray body(int(rng.bounded(140)), '\0');
            for (char &c : body)
                c = char(rng.bounded(256));
            stream = RingWire::frame(body);
            break;
        }
        default: { // noise with the framing bytes mixed in
            stream.resize(1 + int(rng.bounded(200)));
            for (char &c : stream)
                c = rng.bounded(3) ? char(rng.bounded(256)) : specials.at(int(rng.bounded(3)));
            stream.prepend(RingWire::kStart);
        }
        }
        RingFault fault;
        fault.replaceWith = stream;
        link.peer.pushFault(fault);
        const Outcome o = run([&] { link.handler.getDevNo(); });
        const bool fine = o.code == 0 || o.message == QLatin1String("Response error!")
            || tabled.contains({o.code, o.message});
        QVERIFY2(fine, qPrintable(QStringLiteral("%1 %2 after %3").arg(o.code).arg(o.message, stream.toHex())));
        QVERIFY(link.peer.waitForAnswers(2 * round + 1, kFrameWaitMs));
        QCOMPARE(link.handler.getDevNo(), kDevNoText);
    }
}

QTEST_GUILESS_MAIN(TestDeviceHandler)
#include "tst_devicehandler.moc"
