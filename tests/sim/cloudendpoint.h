#pragma once

#include "cloudcall.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class QTcpServer;
class QTcpSocket;

// How the endpoint misbehaves, for the next calls or for all.
enum class CloudFault {
    ErrorText,     // an "error" member with the text <value>, and the right id
    ErrorObject,   // an "error" member that is an object
    WrongId,       // the id plus one
    MissingId,     // no "id" member
    RawBody,       // the body <value> as it is, under status 200
    Status,        // the status line "HTTP/1.1 <value>" (for example "500 Server Error")
    Chunked,       // the normal answer in chunks, without Content-Length
    Late,          // the answer <delayMs> late
    Silence,       // no answer; the connection stays open
    CloseMidReply, // the head and half the body, then the connection closes
    RawReply,      // the bytes <value> as the whole reply (head included), then the connection closes
    GarbledChunk,  // the normal answer as one chunk, then a chunk-size line that is not hexadecimal
};

struct CloudFaultRule
{
    CloudFault kind = CloudFault::Silence;
    int times = -1; // calls it still applies to; -1: for ever
    QByteArray value;
    int delayMs = 0;
};

// The cloud service's JSON-RPC endpoint: HTTP/1.1 on 127.0.0.1 with its own
// request reader and reply writer, one request per connection. It checks and
// records every call (CloudCall) and answers with the request's id and a
// "result", or with an "error" when a check failed; on demand it misbehaves.
// Runs its own event loop on its own thread; every public call is
// thread-safe. In-process for tests; brellium_cloudpeer runs it as a process.
class CloudEndpoint : public QThread
{
    Q_OBJECT
public:
    explicit CloudEndpoint(QObject *parent = nullptr);
    ~CloudEndpoint() override;

    // Starts listening on port (0: one the system chooses); false when it cannot.
    bool begin(quint16 port = 0);
    quint16 port() const;

    void setLoft(const QString &loftNum, const QString &password);
    void addFault(CloudFault kind, int times = -1, const QByteArray &value = QByteArray(), int delayMs = 0);
    void clearFaults();
    // The endpoint goes away (connections to its port are refused) and
    // comes back on the same port; false when the port cannot be had again.
    void goAway();
    bool comeBack();

    QList<CloudCall> calls() const;
    // Calls of one method only.
    QList<CloudCall> calls(const QString &method) const;
    bool waitForCalls(int count, int timeoutMs) const;
    void clear();

protected:
    void run() override;

private:
    void onConnection(QTcpServer *server);
    void onReadable(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const CloudCall &call);
    bool takeFault(CloudFaultRule *rule);
    bool setWantListening(bool on);
    void applyWantListening(QTcpServer *server);
    static QByteArray replyBody(const CloudCall &call, const CloudFaultRule *fault);

    mutable QMutex mutex;
    mutable QWaitCondition changed;
    quint16 wantedPort = 0;
    quint16 listenPort = 0;
    bool ready = false;
    QMap<QString, QString> lofts;
    QList<CloudFaultRule> faults;
    QList<CloudCall> received;
    bool wantListening = true;
    bool isListening = false;
    // The endpoint's thread only: what each connection sent so far.
    QHash<QTcpSocket *, QByteArray> pending;
};
