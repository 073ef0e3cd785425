#pragma once

#include "clubframes.h"
#include "peerline.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class ClubRouter;
class ConnectorReader;

// The far end of the clock's club line: a pseudo-terminal answered by a thread
// of its own. It takes its role from the line settings the clock sets, as a
// real device would answer only at its own speed: at 115200 baud it is the
// club connector reader (a hosted ConnectorReader), at 9600 baud the club
// router (a hosted ClubRouter); a test may pin the role. It records every frame received with its
// time and line settings, and each open and close of the clock's end.
// Configuration and records may be used from any thread.
class ClubPortPeer
{
public:
    enum class Role { Auto, Connector, Router };

    static constexpr int kConnectorBaud = 115200;
    static constexpr int kRouterBaud = 9600;

    // A fault applied to a router answer instead of the normal one.
    struct Fault
    {
        enum Kind { None, Refuse, Silence, Late, WrongEcho, BadSum, CutOff, WrongStart, Raw };
        Kind kind = None;
        int value = 0;   // Refuse: the status; Late: ms; CutOff: bytes sent
        QByteArray raw;  // Raw: the bytes sent instead of the answer
    };

    struct Frame
    {
        qint64 timeMs = 0; // PeerLine::nowMs() when its last byte came
        PeerLine::Settings line;
        Role role = Role::Auto;
        QByteArray raw;
        quint8 address = 0;
        quint8 command = 0;
        QByteArray data;
        bool sumOk = false;
    };

    struct LineEvent
    {
        qint64 timeMs = 0;
        bool opened = false;
    };

    ClubPortPeer();
    ~ClubPortPeer();
    ClubPortPeer(const ClubPortPeer &) = delete;
    ClubPortPeer &operator=(const ClubPortPeer &) = delete;

    bool start();
    void stop();
    bool isValid() const;
    QString slavePath() const;
    // Links the node the clock opens to the line; the last path linked is
    // the one hangUp() removes and comeBack() restores.
    bool linkAt(const QString &linkPath);

    // The router unplugged: the line hangs up under the clock's open end (its
    // reads and writes fail) and the node is gone, so an open fails too. The
    // router's state and the records are kept.
    void hangUp();
    // Plugged in again: a fresh line behind the same node, answering as before.
    // Both are called from the thread that drives the test, while no other
    // thread asks the peer about its line.
    bool comeBack();

    void setRole(Role role);
    // Real line pacing (each byte in its slot at the line's speed); on by default.
    void setPacing(bool on);

    // Router role: a fixed status and data answered to a command instead of
    // the router's own answer (which changes nothing in the router) ...
    void setAnswer(quint8 command, quint8 status, const QByteArray &data);
    void clearAnswer(quint8 command);
    // A fault for every answer to one command (Fault::None clears it), from
    // its fromNth request on, counted from this call (a printer that fails
    // part-way through a page) ...
    void setCommandFault(quint8 command, const Fault &fault, int fromNth = 1);
    // ... or for the next `count` answers, whatever their command.
    void setNextFaults(int count, const Fault &fault);
    void clearFaults();

    // The hosted connector reader and router; each guards its own state.
    ConnectorReader &connector();
    ClubRouter &router();
    // Answers written so far, in either role (spoilt ones included).
    int answersSent() const;

    // What the kernel says now about the clock's end.
    bool clockEndOpen() const;
    PeerLine::Settings lineSettings() const;

    QList<Frame> frames() const;
    QList<Frame> framesOf(quint8 command) const;
    void clearFrames();
    QList<LineEvent> lineEvents() const;
    int openCount() const;
    int closeCount() const;
    // Bytes that crossed the line so far, each way.
    qint64 bytesReceived() const { return bytesIn; }
    qint64 bytesSent() const { return bytesOut; }

private:
    void run();
    void noteLineEvents();
    Role roleFor(const PeerLine::Settings &line) const;
    void handleBytes(const QByteArray &bytes);
    bool answerRouter(const ClubFrames::Request &request, PeerReply *reply);
    void send(const PeerReply &reply, int baud);

    std::unique_ptr<PeerLine> line;
    QString linkedAt;
    std::unique_ptr<ConnectorReader> reader;
    std::unique_ptr<ClubRouter> clubRouter;
    ClubFrames::RequestReader requestReader;
    Role lastRole = Role::Auto;

    mutable std::mutex mutex; // guards everything below
    Role pinnedRole = Role::Auto;
    bool pacing = true;
    QHash<quint8, QPair<quint8, QByteArray>> answers;
    QHash<quint8, Fault> commandFaults;
    QHash<quint8, int> commandFaultSkips; // requests still answered before the fault
    Fault nextFault;
    int nextFaultCount = 0;
    QList<Frame> received;
    QList<LineEvent> events;
    int sentAnswers = 0;

    std::atomic<qint64> bytesIn{0};
    std::atomic<qint64> bytesOut{0};
    std::atomic<bool> stopping{false};
    std::thread worker;
};
