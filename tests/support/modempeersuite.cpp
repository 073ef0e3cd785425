#include "modempeersuite.h"

#include "gsm/gsmmodule.h"
#include "gsm/socketaddress.h"

#include "httpendpoint.h"
#include "modempeer.h"
#include "scriptedmodem.h"
#include "testroot.h"

#include <QDir>
#include <QTest>

namespace {

constexpr int kEndpointWaitMs = 5000;

} // namespace

ModemPeerSuite::ModemPeerSuite() = default;

ModemPeerSuite::~ModemPeerSuite() = default;

void ModemPeerSuite::init()
{
    const DriverFamily f = family();
    root = std::make_unique<TestRoot>();
    root->activate();
    endpoint = std::make_unique<HttpEndpoint>();
    QVERIFY(endpoint->begin());
    endpoint->setReply({HttpEndpoint::okReply(f.replyBody)});
    peer = std::make_unique<ModemPeer>(f.peerFamily);
    QDir().mkpath(root->path(QStringLiteral("/dev")));
    QVERIFY(peer->linkAt(root->path(f.node)));
    peer->setEndpoint(endpoint->port());
    peer->start();
}

void ModemPeerSuite::cleanup()
{
    peer.reset();
    endpoint.reset();
    root.reset();
}

Upload ModemPeerSuite::upload(GsmModule &modem, const GsmHttpRequest &request)
{
    Upload u;
    if (!(modem.getState().flags & 0x008))
        modem.activeNet();
    u.opened = modem.openSocket("cloud.test:9080");
    if (u.opened) {
        GsmHttpResponse response;
        u.done = modem.requestHttp(request, response);
        u.body = response.getBody();
    }
    modem.closeSocket();
    return u;
}

void ModemPeerSuite::checkReplyCutShort(qint64 *tookMs)
{
    const DriverFamily f = family();
    endpoint->setReply({HttpEndpoint::okReply(f.replyBody).left(30)}, 0, true);
    auto modem = openDriver();
    const qint64 start = fast.tickMs();
    const Upload u = upload(*modem, f.request);
    *tookMs = fast.tickMs() - start;
    QVERIFY(u.opened);
    QVERIFY(!u.done);
}

// What the socket address parser accepts, written as the family's open
// command, and what it refuses before anything is sent.
void ModemPeerSuite::openCommand_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("command"); // empty: refused before anything is sent
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("port");

    const DriverFamily f = family();
    const auto accepted = [&](const char *name, const QByteArray &address, const QByteArray &host, int port) {
        QTest::newRow(name) << address << f.openLine(host, port) << host << port;
    };
    accepted("host and port", "h:8080", "h", 8080);
    accepted("blanks around the host", "  up.example  :8080", "up.example", 8080);
    accepted("host alone", "up.example", "up.example", 80);
    accepted("empty: the default endpoint", QByteArray(), SocketAddress::kDefaultCloudHost, 9080);
    const auto refused = [](const char *name, const QByteArray &address) {
        QTest::newRow(name) << address << QByteArray() << QByteArray() << 0;
    };
    refused("quote in the host", "h\",1,\"x:80");
    refused("quote and line end in the host", "h\",0,0\r:80");
    refused("port not a number", "h:8o");
    refused("line break in the port", "h:80\r\nAT");
    refused("port out of range", "h:65536");
}

// openSocket in an active context: refused with nothing sent, or the row's
// one command and connect, then the family's own checks.
void ModemPeerSuite::openCommand()
{
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, host);
    QFETCH(int, port);
    auto modem = openDriver();
    QVERIFY(modem->activeNet());
    peer->clearRecord();
    QCOMPARE(modem->openSocket(address), !command.isEmpty());
    if (command.isEmpty()) {
        QVERIFY(peer->commands().isEmpty());
        return;
    }
    QCOMPARE(peer->commands(), QList<QByteArray>{command});
    QCOMPARE(peer->record().connects, (QList<QPair<QByteArray, int>>{{host, port}}));
    checkOpened(*modem);
}

// The same for every family: the prompt never comes (Ctrl-Z, then false)
// or the acknowledgement after the data does not.
void ModemPeerSuite::send_data()
{
    QTest::addColumn<int>("fault"); // -1: none
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("delivered");
    QTest::addColumn<int>("minMs"); // scaled time the call takes at least

    QTest::newRow("prompt, then the acknowledgement") << -1 << true << true << 0;
    QTest::newRow("no prompt: Ctrl-Z, false") << int(ModemFault::NoPrompt) << false << false << 1000 + 500;
    QTest::newRow("no acknowledgement after the data") << int(ModemFault::SilenceMidSend) << false << false << 5000;
}

// sendTcpData on an open socket: the command written (the family's send
// line and the byte count), the time it took, and the bytes the socket got.
void ModemPeerSuite::send()
{
    QFETCH(int, fault);
    QFETCH(bool, result);
    QFETCH(bool, delivered);
    QFETCH(int, minMs);
    const DriverFamily f = family();
    auto modem = openDriver();
    QVERIFY(modem->activeNet());
    QVERIFY(modem->openSocket("h:80"));
    peer->clearRecord();
    if (fault >= 0)
        peer->addFault(ModemFault(fault), f.send);
    const QByteArray data = f.request.createHttpPacket();
    const qint64 start = fast.tickMs();
    QCOMPARE(modem->sendTcpData(data), result);
    QVERIFY(fast.tickMs() - start >= minMs);
    QCOMPARE(peer->commands().value(0), f.sendLine + QByteArray::number(data.size()));
    QCOMPARE(peer->socketBytes(f.socket), delivered ? data : QByteArray());
    if (fault == int(ModemFault::NoPrompt))
        QCOMPARE(peer->commands().value(1), QByteArray("\x1A"));
    if (f.awaitsEndpoint && delivered)
        QVERIFY(endpoint->waitForRequests(1, kEndpointWaitMs));
}

// Each fault on the family's open, send or read command.
void ModemPeerSuite::exchangeFaults_data()
{
    QTest::addColumn<int>("fault"); // -1: none
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<int>("outcome"); // 1 done, 0 false, else the error code

    const DriverFamily f = family();
    const auto row = [](const char *name, ModemFault fault, const QByteArray &command, int value, bool opened,
                        int outcome) { QTest::newRow(name) << int(fault) << command << value << opened << outcome; };
    QTest::newRow("healthy") << -1 << QByteArray() << 0 << true << 1;
    row("read answers in pieces", ModemFault::Split, f.read, 4, true, 1);
    row("unsolicited lines before the read", ModemFault::UnsolicitedFirst, f.read, 3, true, 1);
    row("late read answers", ModemFault::Late, f.read, f.lateReadMs, true, 1);
    row("read count out of range", ModemFault::WrongByteCount, f.read, 5000, true, 769);
    row("read silent", ModemFault::Silence, f.read, 0, true, 0);
    row("read ERROR", ModemFault::Error, f.read, 0, true, 0);
    row("no data prompt", ModemFault::NoPrompt, f.send, 0, true, 0);
    row("send ERROR", ModemFault::Error, f.send, 0, true, 0);
    row("connection refused", ModemFault::RefuseConnect, f.open, 0, false, 0);
    row("open ERROR", ModemFault::Error, f.open, 0, false, 0);
    row("open silent", ModemFault::Silence, f.open, 0, false, 0);
}

// An upload with the row's fault on the peer's command: the error code
// thrown, or whether the socket opened and the exchange was done with the
// endpoint's reply.
void ModemPeerSuite::exchangeFaults()
{
    QFETCH(int, fault);
    QFETCH(QByteArray, command);
    QFETCH(int, value);
    QFETCH(bool, opened);
    QFETCH(int, outcome);
    const DriverFamily f = family();
    auto modem = openDriver();
    if (fault >= 0)
        peer->addFault(ModemFault(fault), command, -1, value);
    Upload u;
    const int code = thrownCode([&] { u = upload(*modem, f.request); });
    QCOMPARE(code, outcome > 1 ? outcome : 0);
    if (code != 0)
        return;
    QCOMPARE(u.opened, opened);
    QCOMPARE(u.done, outcome == 1);
    if (u.done) {
        QCOMPARE(u.body, f.replyBody);
        QCOMPARE(endpoint->requests(), QList<QByteArray>{f.request.createHttpPacket()});
    }
}
