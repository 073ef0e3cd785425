#pragma once

#include "gsm/gsmhttp.h"
#include "gsm/gsmmodule.h"
#include "gsm/socketaddress.h"
#include "gsmtestclock.h"
#include "httpendpoint.h"
#include "modemfixture.h"
#include "modempeer.h"
#include "scriptedmodem.h"
#include "testroot.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTest>

#include <functional>
#include <memory>

// One upload as the modem service makes it, and what came of it.
struct Upload
{
    bool opened = false;
    bool done = false;
    QByteArray body;
};

// The commands by which a family's driver opens a socket, sends and reads:
// what the tables both families run are written in.
struct ModemCommands
{
    QByteArray (*openLine)(const QByteArray &host, int port) = nullptr; // the whole open command
    QByteArray open;     // the prefixes the peer's faults are keyed on
    QByteArray send;
    QByteArray read;
    int lateReadMs = 0;  // how late the peer answers a read in the late-answer row
};

// A JSON-RPC request to the endpoint's "/rpc" with the given body.
inline GsmHttpRequest jsonRpcRequest(const QByteArray &body)
{
    GsmHttpRequest r;
    r.path = "/rpc";
    r.host = "cloud.test:9080";
    r.contentType = "application/json-rpc";
    r.charset = "UTF-8";
    r.body = body;
    return r;
}

// A family's modem driver against the modem peer of that family: a simulated
// root, an HTTP endpoint on 127.0.0.1 that answers with one reply, the peer
// on the family's node bridged to it, and a clock that runs the driver's
// waits kScale times faster. A suite derives from it beside QObject, starts
// it in init() and stops it in cleanup(); all in the test's thread.
template <typename Driver>
class ModemPeerFixture
{
public:
    static constexpr int kScale = 20;

protected:
    // False when the endpoint or the peer's link cannot be set up.
    bool startPeer(const QString &family, const QString &node, const QByteArray &replyBody)
    {
        nodeName = node;
        root = std::make_unique<TestRoot>();
        root->activate();
        endpoint = std::make_unique<HttpEndpoint>();
        if (!endpoint->begin())
            return false;
        endpoint->setReply({HttpEndpoint::okReply(replyBody)});
        peer = std::make_unique<ModemPeer>(family);
        QDir().mkpath(root->path(QStringLiteral("/dev")));
        if (!peer->linkAt(root->path(node)))
            return false;
        peer->setEndpoint(endpoint->port());
        peer->start();
        return true;
    }

    void stopPeer()
    {
        peer.reset();
        endpoint.reset();
        root.reset();
    }

    // Opened on the node with the fast clock and echo off, without init (the
    // families' start-up has tests of its own); the peer's record is cleared.
    std::unique_ptr<Driver> openModem()
    {
        auto modem = std::make_unique<Driver>();
        modem->open(nodeName);
        modem->setClock(&fast);
        modem->echoOff();
        peer->clearRecord();
        return modem;
    }

    // What the modem service does for one upload: the context when it is
    // not active, a socket, the HTTP exchange, and the socket closed again.
    static Upload upload(GsmModule &modem, const GsmHttpRequest &request)
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

    // The table of checkOpenCommand: what the socket address parser accepts,
    // written as the family's open command, and what it refuses.
    static void addOpenCommandRows(const ModemCommands &family)
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("command"); // empty: refused before anything is sent
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<int>("port");

        const auto accepted = [&](const char *name, const QByteArray &address, const QByteArray &host, int port) {
            QTest::newRow(name) << address << family.openLine(host, port) << host << port;
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

    // A data-driven openSocket in an active context: refused with nothing
    // sent, or the row's one command and connect. The opened driver is
    // handed out for the family's own checks; null when refused or failed.
    void checkOpenCommand(std::unique_ptr<Driver> *opened)
    {
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, host);
        QFETCH(int, port);
        auto modem = openModem();
        QVERIFY(modem->activeNet());
        peer->clearRecord();
        QCOMPARE(modem->openSocket(address), !command.isEmpty());
        if (command.isEmpty()) {
            QVERIFY(peer->commands().isEmpty());
            return;
        }
        QCOMPARE(peer->commands(), QList<QByteArray>{command});
        QCOMPARE(peer->record().connects, (QList<QPair<QByteArray, int>>{{host, port}}));
        *opened = std::move(modem);
    }

    // The table of checkSend, the same for every family: the prompt never
    // comes (Ctrl-Z, then false) or the acknowledgement after the data.
    static void addSendRows()
    {
        QTest::addColumn<int>("fault"); // -1: none
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<int>("minMs"); // scaled time the call takes at least

        QTest::newRow("prompt, then the acknowledgement") << -1 << true << true << 0;
        QTest::newRow("no prompt: Ctrl-Z, false") << int(ModemFault::NoPrompt) << false << false << 1000 + 500;
        QTest::newRow("no acknowledgement after the data") << int(ModemFault::SilenceMidSend) << false << false << 5000;
    }

    // A data-driven test of sendTcpData on an open socket, its rows from
    // columns fault (-1: none), result, delivered and minMs: the command
    // written (commandPrefix and the byte count), the time it took, and the
    // bytes the socket got; with awaitEndpoint, the endpoint's request too.
    void checkSend(const QByteArray &faultCommand, const QByteArray &commandPrefix, int socket,
                   const GsmHttpRequest &request, bool awaitEndpoint)
    {
        QFETCH(int, fault);
        QFETCH(bool, result);
        QFETCH(bool, delivered);
        QFETCH(int, minMs);
        auto modem = openModem();
        QVERIFY(modem->activeNet());
        QVERIFY(modem->openSocket("h:80"));
        peer->clearRecord();
        if (fault >= 0)
            peer->addFault(ModemFault(fault), faultCommand);
        const QByteArray data = request.createHttpPacket();
        const qint64 start = fast.tickMs();
        QCOMPARE(modem->sendTcpData(data), result);
        QVERIFY(fast.tickMs() - start >= minMs);
        QCOMPARE(peer->commands().value(0), commandPrefix + QByteArray::number(data.size()));
        QCOMPARE(peer->socketBytes(socket), delivered ? data : QByteArray());
        if (fault == int(ModemFault::NoPrompt))
            QCOMPARE(peer->commands().value(1), QByteArray("\x1A"));
        if (awaitEndpoint && delivered)
            QVERIFY(endpoint->waitForRequests(1, 5000));
    }

    // The table of checkExchangeFaults: each fault on the family's open,
    // send or read command.
    static void addExchangeFaultRows(const ModemCommands &family)
    {
        QTest::addColumn<int>("fault"); // -1: none
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<int>("outcome"); // 1 done, 0 false, else the error code

        const auto row = [](const char *name, ModemFault fault, const QByteArray &command, int value, bool opened,
                            int outcome) {
            QTest::newRow(name) << int(fault) << command << value << opened << outcome;
        };
        QTest::newRow("healthy") << -1 << QByteArray() << 0 << true << 1;
        row("read answers in pieces", ModemFault::Split, family.read, 4, true, 1);
        row("unsolicited lines before the read", ModemFault::UnsolicitedFirst, family.read, 3, true, 1);
        row("late read answers", ModemFault::Late, family.read, family.lateReadMs, true, 1);
        row("read count out of range", ModemFault::WrongByteCount, family.read, 5000, true, 769);
        row("read silent", ModemFault::Silence, family.read, 0, true, 0);
        row("read ERROR", ModemFault::Error, family.read, 0, true, 0);
        row("no data prompt", ModemFault::NoPrompt, family.send, 0, true, 0);
        row("send ERROR", ModemFault::Error, family.send, 0, true, 0);
        row("connection refused", ModemFault::RefuseConnect, family.open, 0, false, 0);
        row("open ERROR", ModemFault::Error, family.open, 0, false, 0);
        row("open silent", ModemFault::Silence, family.open, 0, false, 0);
    }

    // A data-driven upload with the row's fault on the peer's command: the
    // error code thrown, or whether the socket opened and the exchange was
    // done with the endpoint's reply.
    void checkExchangeFaults(const GsmHttpRequest &request, const QByteArray &replyBody)
    {
        QFETCH(int, fault);
        QFETCH(QByteArray, command);
        QFETCH(int, value);
        QFETCH(bool, opened);
        QFETCH(int, outcome);
        auto modem = openModem();
        if (fault >= 0)
            peer->addFault(ModemFault(fault), command, -1, value);
        Upload u;
        const int code = thrownCode([&] { u = upload(*modem, request); });
        QCOMPARE(code, outcome > 1 ? outcome : 0);
        if (code != 0)
            return;
        QCOMPARE(u.opened, opened);
        QCOMPARE(u.done, outcome == 1);
        if (u.done) {
            QCOMPARE(u.body, replyBody);
            QCOMPARE(endpoint->requests(), QList<QByteArray>{request.createHttpPacket()});
        }
    }

    // Two uploads in a row on one driver, the reply coming in pieces: both
    // done with the reply, afterEach checking the driver after each one.
    // The caller checks QTest::currentTestFailed() before going on.
    void checkTwoUploads(const GsmHttpRequest &request, const QByteArray &replyBody,
                         const std::function<void(Driver &)> &afterEach)
    {
        endpoint->setReply(HttpEndpoint::pieces(HttpEndpoint::okReply(replyBody), 16), 30);
        auto modem = openModem();
        for (int i = 0; i < 2; ++i) {
            const Upload u = upload(*modem, request);
            QVERIFY2(u.done, qPrintable(QStringLiteral("upload %1").arg(i + 1)));
            QCOMPARE(u.body, replyBody);
            afterEach(*modem);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(endpoint->requests().size(), 2);
    }

    // An upload whose endpoint closes the connection after the reply's first
    // 30 bytes: the socket opens and the exchange fails. *tookMs: the scaled
    // time the upload took. The caller checks QTest::currentTestFailed().
    void checkReplyCutShort(const GsmHttpRequest &request, const QByteArray &replyBody, qint64 *tookMs)
    {
        endpoint->setReply({HttpEndpoint::okReply(replyBody).left(30)}, 0, true);
        auto modem = openModem();
        const qint64 start = fast.tickMs();
        const Upload u = upload(*modem, request);
        *tookMs = fast.tickMs() - start;
        QVERIFY(u.opened);
        QVERIFY(!u.done);
    }

    std::unique_ptr<TestRoot> root;
    std::unique_ptr<HttpEndpoint> endpoint;
    std::unique_ptr<ModemPeer> peer;
    ScaledClock fast{kScale};

private:
    QString nodeName;
};
