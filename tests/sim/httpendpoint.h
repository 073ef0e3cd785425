#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

class QTcpServer;
class QTcpSocket;

// A small HTTP endpoint on 127.0.0.1 (port chosen by the system) for the
// modem peer's socket bridge: it records each connection's request bytes and,
// once a request is complete (head plus Content-Length body), answers the
// given bytes in the given pieces. Runs its own event loop on its own thread;
// the public calls are thread-safe.
class HttpEndpoint : public QThread
{
    Q_OBJECT
public:
    explicit HttpEndpoint(QObject *parent = nullptr);
    ~HttpEndpoint() override;

    // Starts listening; false when no port could be had.
    bool begin();
    quint16 port() const;

    // The answer to every request, written piece by piece gapMs apart; no
    // pieces means no answer. closeAfter closes the connection after the last piece.
    void setReply(const QList<QByteArray> &pieces, int gapMs = 5, bool closeAfter = true);
    // A whole 200 reply with Content-Length.
    static QByteArray okReply(const QByteArray &body);
    // Splits bytes into pieces of at most pieceBytes.
    static QList<QByteArray> pieces(const QByteArray &bytes, int pieceBytes);

    QList<QByteArray> requests() const;
    bool waitForRequests(int count, int timeoutMs) const;
    void clear();

protected:
    void run() override;

private:
    void onConnection(QTcpServer *server);
    void onReadable(QTcpSocket *socket, int index);
    void answer(QTcpSocket *socket);
    static bool complete(const QByteArray &request);

    mutable QMutex mutex;
    mutable QWaitCondition changed;
    quint16 listenPort = 0;
    bool ready = false;
    QList<QByteArray> received;
    QList<QByteArray> replyPieces;
    int replyGapMs = 5;
    bool replyClose = true;
};
