#include "httpendpoint.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QMutexLocker>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr int kStartWaitMs = 5000;
constexpr int kStopWaitMs = 5000;
}

HttpEndpoint::HttpEndpoint(QObject *parent)
    : QThread(parent)
{
}

HttpEndpoint::~HttpEndpoint()
{
    quit();
    wait(kStopWaitMs);
}

bool HttpEndpoint::begin()
{
    start();
    QMutexLocker lock(&mutex);
    QDeadlineTimer deadline(kStartWaitMs);
    while (!ready) {
        if (!changed.wait(&mutex, deadline))
            break;
    }
    return listenPort != 0;
}

quint16 HttpEndpoint::port() const
{
    QMutexLocker lock(&mutex);
    return listenPort;
}

void HttpEndpoint::setReply(const QList<QByteArray> &p, int gapMs, bool closeAfter)
{
    QMutexLocker lock(&mutex);
    replyPieces = p;
    replyGapMs = gapMs;
    replyClose = closeAfter;
}

QByteArray HttpEndpoint::okReply(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QList<QByteArray> HttpEndpoint::pieces(const QByteArray &bytes, int pieceBytes)
{
    QList<QByteArray> out;
    for (int i = 0; i < bytes.size(); i += pieceBytes)
        out << bytes.mid(i, pieceBytes);
    return out;
}

QList<QByteArray> HttpEndpoint::requests() const
{
    QMutexLocker lock(&mutex);
    return received;
}

bool HttpEndpoint::waitForRequests(int count, int timeoutMs) const
{
    QMutexLocker lock(&mutex);
    QDeadlineTimer deadline(timeoutMs);
    while (received.size() < count || (count > 0 && !complete(received.at(count - 1)))) {
        if (!changed.wait(&mutex, deadline))
            return false;
    }
    return true;
}

void HttpEndpoint::clear()
{
    QMutexLocker lock(&mutex);
    received.clear();
}

void HttpEndpoint::run()
{
    QTcpServer server;
    const bool listening = server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, &server, [this, &server] { onConnection(&server); });
    {
        QMutexLocker lock(&mutex);
        listenPort = listening ? server.serverPort() : 0;
        ready = true;
        changed.wakeAll();
    }
    if (listening)
        exec();
}

void HttpEndpoint::onConnection(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        int index = 0;
        {
            QMutexLocker lock(&mutex);
            index = int(received.size());
            received << QByteArray();
        }
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, index] { onReadable(socket, index); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpEndpoint::onReadable(QTcpSocket *socket, int index)
{
    bool done = false;
    {
        QMutexLocker lock(&mutex);
        QByteArray &request = received[index];
        const bool wasComplete = complete(request);
        request += socket->readAll();
        done = !wasComplete && complete(request);
        changed.wakeAll();
    }
    if (done)
        answer(socket);
}

void HttpEndpoint::answer(QTcpSocket *socket)
{
    QList<QByteArray> p;
    int gapMs = 0;
    bool closeAfter = true;
    {
        QMutexLocker lock(&mutex);
        p = replyPieces;
        gapMs = replyGapMs;
        closeAfter = replyClose;
    }
    QPointer<QTcpSocket> guard(socket);
    for (int i = 0; i < p.size(); ++i) {
        const QByteArray piece = p.at(i);
        const bool last = i + 1 == p.size();
        QTimer::singleShot(gapMs * i, socket, [guard, piece, last, closeAfter] {
            if (!guard)
                return;
            guard->write(piece);
            guard->flush();
            if (last && closeAfter)
                guard->disconnectFromHost();
        });
    }
}

// A request is complete with its head and as many body bytes as it announced.
bool HttpEndpoint::complete(const QByteArray &request)
{
    const int headEnd = int(request.indexOf("\r\n\r\n"));
    if (headEnd < 0)
        return false;
    int length = 0;
    for (const QByteArray &line : request.left(headEnd).split('\n')) {
        const int colon = int(line.indexOf(':'));
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            length = line.mid(colon + 1).trimmed().toInt();
    }
    return request.size() - (headEnd + 4) >= length;
}
