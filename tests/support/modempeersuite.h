#pragma once

#include "gsm/gsmhttp.h"
#include "gsmtestclock.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class GsmModule;
class HttpEndpoint;
class ModemPeer;
class TestRoot;

// One upload as the modem service makes it, and what came of it.
struct Upload
{
    bool opened = false;
    bool done = false;
    QByteArray body;
};

// What the cases every family runs alike need to know of a family: its
// peer, the node its driver opens, the upload they make, and the commands
// by which its driver opens a socket, sends and reads. Written in the order
// of its fields.
struct DriverFamily
{
    QString peerFamily;
    QString node;
    QByteArray replyBody;  // what the endpoint answers with
    GsmHttpRequest request;
    QByteArray (*openLine)(const QByteArray &host, int port) = nullptr; // the whole open command
    QByteArray open;       // the prefixes the peer's faults are keyed on
    QByteArray send;
    QByteArray read;
    QByteArray sendLine;   // the send command before the byte count
    int socket = 0;        // the peer's socket the sent bytes reach
    bool awaitsEndpoint = false; // whether a send is followed until the endpoint has the request
    int lateReadMs = 0;    // how late the peer answers a read in the late-answer row
};

// A family's modem driver against the modem peer of that family: a simulated
// root, an HTTP endpoint on 127.0.0.1 that answers with the family's reply,
// the peer on the family's node bridged to it, and a clock that runs the
// driver's waits kScale times faster; fresh for every test function. Its
// own test functions are the cases every family runs alike: the socket
// address table, the send and the upload faults, each on the family's
// commands. A family's suite derives from ModemPeerFixture<Driver>, which
// opens its driver, and adds its own cases. All in the test's thread.
class ModemPeerSuite : public QObject
{
    Q_OBJECT
public:
    static constexpr int kScale = 20;

    ModemPeerSuite();
    ~ModemPeerSuite() override;

protected:
    virtual DriverFamily family() const = 0;
    // Opened on the family's node with the fast clock and echo off, without
    // init (the families' start-up has tests of its own); the peer's record
    // is cleared.
    virtual std::unique_ptr<GsmModule> openDriver() = 0;
    // The family's own checks of a socket that the address table opened.
    virtual void checkOpened(GsmModule &modem) = 0;

    // What the modem service does for one upload: the context when it is
    // not active, a socket, the HTTP exchange, and the socket closed again.
    static Upload upload(GsmModule &modem, const GsmHttpRequest &request);
    // An upload whose endpoint closes the connection after the reply's first
    // 30 bytes: the socket opens and the exchange fails. *tookMs: the scaled
    // time the upload took. The caller checks QTest::currentTestFailed().
    void checkReplyCutShort(qint64 *tookMs);

    std::unique_ptr<TestRoot> root;
    std::unique_ptr<HttpEndpoint> endpoint;
    std::unique_ptr<ModemPeer> peer;
    ScaledClock fast{kScale};

private slots:
    void init();
    void cleanup();

    void openCommand_data();
    void openCommand();
    void send_data();
    void send();
    void exchangeFaults_data();
    void exchangeFaults();
};
