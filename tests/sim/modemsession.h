#pragma once

#include "modemfamily.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <deque>
#include <functional>

// Misbehaviour a test asks of the modem, for one command or for all.
enum class ModemFault {
    Silence,          // no answer at all
    Error,            // "ERROR" instead of the answer
    CmeError,         // "+CME ERROR: <value>"
    Late,             // the answer <value> ms late
    Split,            // the answer in <value> pieces, 20 ms apart
    UnsolicitedFirst, // <value> unsolicited lines before the answer
    Flood,            // <value> bytes without a line end instead of the answer
    NoPrompt,         // no data or text prompt; the command is dropped
    SilenceMidSend,   // the prompt and the data are taken, then nothing
    WrongSocketId,    // a created socket is reported as <value> (negative: "X")
    WrongByteCount,   // a socket read reports <value> bytes more than it gives
    UnquotedData,     // socket data without its double quotes
    RefuseConnect,    // the connect command fails
    CmsError,         // "+CMS ERROR: <value>" instead of the answer
    Garbled,          // the answer with its bytes flipped (line ends kept), as line noise gives it
    Truncated,        // only the first <value> bytes of the answer; the rest never comes
};

struct ModemFaultRule
{
    ModemFault kind = ModemFault::Silence;
    QByteArray command; // upper-case prefix of the command line; empty: every command
    int times = -1;     // commands it still applies to; -1: for ever
    int value = 0;
};

struct PeerSms
{
    QByteArray number;
    QString text;
    QByteArray raw;         // the bytes as the program sent them (text mode) or the PDU hex
    QByteArray mode;        // "text" or "pdu"
    int announcedLength = 0; // PDU mode: the length given in AT+CMGS
    int tpduLength = 0;      // PDU mode: the length the PDU really has
    bool pduOk = true;
};

// What a test sets, and what the program set through its commands.
struct ModemState
{
    bool echo = true;
    int smsMode = 0;
    int registration = 1;           // +CREG status
    QByteArray lac = "1A2B";
    QByteArray cellId = "00C3D4E5";
    QByteArray cregAnswer;          // whole "+CREG:" answer when set
    int csq = 20;
    QByteArray clock;               // "+CCLK:" text (yy/MM/dd,hh:mm:ss+zz); empty: host clock, zone +00
    QByteArray gpsSentence;         // the fix as an RMC sentence; empty: no fix
    QByteArray cellLocation;        // "+UULOC:" text; empty: the service refuses
    bool activationSucceeds = true;
    bool connectSucceeds = true;
    QList<QByteArray> refusedSmsNumbers;
    int nextSocketId = 0;
    QString endpointHost = QStringLiteral("127.0.0.1");
    quint16 endpointPort = 0;       // 0: no endpoint, connects fail

    QByteArray apn, apnUser, apnPassword, operatorCode;
    bool contextActive = false;
    bool gpsOn = false;
};

struct ModemRecord
{
    QList<QByteArray> commands;            // every command line as written
    QList<PeerSms> sms;
    QMap<int, QByteArray> socketBytes;     // bytes the program wrote to each socket
    QList<QPair<QByteArray, int>> connects; // host and port of each connect command
};

// The modem's side of the AT port, without threads or descriptors: the line
// parser, the answers of the core and family tables, the faults, the timed
// output queue and the TCP sockets bridged to a local endpoint. ModemPeer
// pumps bytes through it under its lock; the family tables call the
// operations below from their handlers.
class ModemSession
{
public:
    explicit ModemSession(const ModemFamily &family);
    ~ModemSession();
    ModemSession(const ModemSession &) = delete;
    ModemSession &operator=(const ModemSession &) = delete;

    ModemState state;
    ModemRecord record;
    QList<ModemFaultRule> faults;

    // --- pump ---
    void input(const QByteArray &bytes, qint64 nowMs);
    // Output due by now, at most maxBytes; unsend() puts back what the line refused.
    QByteArray output(qint64 nowMs, int maxBytes);
    void unsend(const QByteArray &bytes);
    bool outputDue(qint64 nowMs) const;
    qint64 nextOutputMs() const; // -1 when nothing waits
    void pumpSockets(qint64 nowMs);
    QList<int> socketDescriptors() const;
    void resetLine(); // the port went away: forget a half-received command
    // Power cycled: what the program set is gone (echo back on, no APN, no
    // data context, GPS off, sockets closed, nothing left to send); what the
    // test set (network, clock, faults) stays.
    void reboot();

    // --- for the handlers ---
    void send(const QByteArray &bytes);
    void line(const QByteArray &text); // CR LF, text, CR LF
    void ok();
    void error();
    void cmeError(int code);
    void cmsError(int code);
    void announce(const QByteArray &text, int delayMs = 0); // a URC, sent while the port is idle
    // Sends the prompt and takes exactly count raw bytes (count >= 0), or text
    // up to Ctrl-Z or ESC (count < 0), then calls done. NoPrompt drops it all;
    // SilenceMidSend takes the bytes and answers nothing.
    void prompt(const QByteArray &promptBytes, int count,
                std::function<void(ModemSession &, const QByteArray &data, bool sent)> done);
    bool fault(ModemFault kind, int *value = nullptr) const;
    // A socket write "<socket>,<count>": the prompt, then done with the
    // bytes taken; ERROR when the socket does not exist or count < 0.
    void promptSocketData(const QByteArray &args, const QByteArray &promptBytes,
                          std::function<void(ModemSession &, int socket, int count, const QByteArray &data)> done);
    // A socket read "<socket>,<most bytes>": false, after ERROR, when the
    // socket does not exist; else the bytes taken and the count to report
    // (with WrongByteCount's extra).
    bool takeSocketRead(const QByteArray &args, int *socket, QByteArray *data, int *count);
    // Online (transparent) mode on a connected socket: the command's answer so
    // far goes out, then the program's bytes go straight to the endpoint and
    // the endpoint's straight back, until "+++" arrives with a quiet line
    // after it (answered "OK", the socket stays open) or the endpoint closes
    // ("NO CARRIER").
    void goOnline(int socket);
    bool isOnline() const { return mode == Mode::Online; }
    static QList<QByteArray> fields(const QByteArray &args); // split at commas, quotes removed
    qint64 now() const { return nowMs; }

    int createSocket(); // -1 when none is free
    int createSocket(int id); // that socket; -1 when it exists or is out of range
    bool connectSocket(int id, const QByteArray &host, int port);
    bool writeSocket(int id, const QByteArray &bytes);
    QByteArray readSocket(int id, int maxBytes);
    bool socketExists(int id) const;
    void closeSocket(int id);

private:
    struct Out
    {
        qint64 atMs = 0;
        QByteArray bytes;
        bool whenIdle = false; // an unsolicited line waits for a quiet port
    };
    struct Socket
    {
        int fd = -1;
        QByteArray pending;
        bool announced = false;
        bool remoteClosed = false;
        bool closedAnnounced = false;
    };
    enum class Mode { Command, Data, Text, Online };

    void commandLine(const QByteArray &line);
    const ModemCommand *find(const QByteArray &upper) const;
    void finishAnswer();
    void completeData(bool sent);
    void enqueue(const QByteArray &bytes, qint64 atMs);
    bool idle() const;
    QByteArray onlineInput(const QByteArray &bytes);
    void pumpOnline();

    ModemFamily family;
    ModemFamily core;
    std::deque<Out> queue;
    QList<Out> later; // late answers and unsolicited lines, by time
    QByteArray answer;
    QList<ModemFaultRule> active;
    QByteArray lineBuffer;
    QByteArray dataBuffer;
    Mode mode = Mode::Command;
    int dataCount = 0;
    bool dropAnswer = false;
    std::function<void(ModemSession &, const QByteArray &, bool)> dataDone;
    QMap<int, Socket> sockets;
    qint64 nowMs = 0;
    qint64 lastInputMs = 0;
    int onlineSocket = -1;
    QByteArray escapeHeld; // trailing '+' of online input that may be the escape
};
