#include "club/morlanprotocol.h"
#include "core/vexexception.h"
#include "device/serialcommport.h"

#include "clubframes.h"
#include "clubportpeer.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTest>

#include <memory>

// The club-link frames over a real line: the product's parsers on a
// SerialCommPort at 9600 baud against the club-port peer, which answers as
// the router (it takes the role from the line) with real byte pacing.
class TestMorlanLine : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void answer_ofThirtyBytes_isReadWhole();
    void answer_cutOffHalfWay_isOvertime();
    void silence_isNoResponseAfterTheTimeout();
    void badSum_dropsTheBytesAfterIt();
    void requests_reachThePeerByteForByte_data();
    void requests_reachThePeerByteForByte();

private:
    int exchange(quint8 command, const QByteArray &data, int timeoutMs, MorlanResponsePacket *answer);

    std::unique_ptr<ClubPortPeer> peer;
    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<SerialCommPort> commPort;
};

namespace {
constexpr quint8 kRouter = 0x31;
constexpr quint8 kCommand = 0x5A;
constexpr int kAnswerWaitMs = 2000;
}

void TestMorlanLine::init()
{
    peer = std::make_unique<ClubPortPeer>();
    QVERIFY(peer->start());
    port = std::make_unique<QSerialPort>(peer->slavePath());
    port->setBaudRate(9600);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    QVERIFY2(port->open(QIODevice::ReadWrite), qPrintable(port->errorString()));
    commPort = std::make_unique<SerialCommPort>(port.get());
}

void TestMorlanLine::cleanup()
{
    commPort.reset();
    port.reset();
    peer.reset();
}

int TestMorlanLine::exchange(quint8 command, const QByteArray &data, int timeoutMs, MorlanResponsePacket *answer)
{
    try {
        MorlanRequestPacket request;
        request.start = 0x6C;
        request.address = kRouter;
        request.command = command;
        request.data = data;
        MorlanRequestParser(commPort.get()).sendPacket(request);
        MorlanResponseParser(commPort.get()).fetchPacket(answer, timeoutMs);
    } catch (const VexException &e) {
        return e.getErrorCode();
    }
    return 0;
}

void TestMorlanLine::answer_ofThirtyBytes_isReadWhole()
{
    QByteArray data;
    for (int i = 0; i < 30; ++i)
        data.append(char(0x40 + i));
    peer->setAnswer(kCommand, 0, data);
    MorlanResponsePacket answer;
    QCOMPARE(exchange(kCommand, {}, kAnswerWaitMs, &answer), 0);
    QCOMPARE(answer.address, kRouter);
    QCOMPARE(answer.command, kCommand);
    QCOMPARE(answer.data, data);
    QCOMPARE(peer->frames().value(0).line.baud, 9600);
}

void TestMorlanLine::answer_cutOffHalfWay_isOvertime()
{
    peer->setAnswer(kCommand, 0, QByteArray(30, 'z'));
    peer->setNextFaults(1, ClubPortPeer::Fault{ClubPortPeer::Fault::CutOff, 18, {}});
    MorlanResponsePacket answer;
    QCOMPARE(exchange(kCommand, {}, kAnswerWaitMs, &answer), 0x508);
    // The link is fine for the next exchange.
    QCOMPARE(exchange(kCommand, {}, kAnswerWaitMs, &answer), 0);
    QCOMPARE(answer.data, QByteArray(30, 'z'));
}

void TestMorlanLine::silence_isNoResponseAfterTheTimeout()
{
    peer->setCommandFault(kCommand, ClubPortPeer::Fault{ClubPortPeer::Fault::Silence, 0, {}});
    constexpr int timeoutMs = 40;
    MorlanResponsePacket answer;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(exchange(kCommand, {}, timeoutMs, &answer), 0x506);
    // One 1 ms sleep per empty poll: never sooner (how much later is a
    // figure of the benchmarks).
    QVERIFY2(timer.elapsed() >= timeoutMs, qPrintable(QString::number(timer.elapsed())));
}

void TestMorlanLine::badSum_dropsTheBytesAfterIt()
{
    // A bad-sum answer followed at once by a good-looking one: neither may be
    // taken, now or by the next exchange.
    QByteArray spoilt = ClubFrames::answer(kRouter, kCommand, 0, "stale");
    spoilt.back() = char(quint8(spoilt.back()) + 1);
    spoilt += ClubFrames::answer(kRouter, kCommand, 0, "stale");
    peer->setNextFaults(1, ClubPortPeer::Fault{ClubPortPeer::Fault::Raw, 0, spoilt});
    peer->setPacing(false);
    peer->setAnswer(kCommand, 0, "fresh");
    MorlanResponsePacket answer;
    QCOMPARE(exchange(kCommand, {}, kAnswerWaitMs, &answer), 0x503);
    QCOMPARE(exchange(kCommand, {}, kAnswerWaitMs, &answer), 0);
    QCOMPARE(answer.data, QByteArray("fresh"));
}

void TestMorlanLine::requests_reachThePeerByteForByte_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("no data") << QByteArray();
    QTest::newRow("start bytes in the data") << QByteArray::fromHex("6c336c33");
    QByteArray all;
    for (int i = 0; i < 255; ++i)
        all.append(char(i));
    QTest::newRow("255 data bytes") << all;
}

void TestMorlanLine::requests_reachThePeerByteForByte()
{
    QFETCH(QByteArray, data);
    MorlanResponsePacket answer;
    QCOMPARE(exchange(0x70, data, kAnswerWaitMs, &answer), 0);
    const QList<ClubPortPeer::Frame> frames = peer->frames();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].raw, ClubFrames::request(kRouter, 0x70, data));
    QVERIFY(frames[0].sumOk);
    QVERIFY(frames[0].line.fits(9600));
}

QTEST_GUILESS_MAIN(TestMorlanLine)
#include "tst_morlanline.moc"
