#include "cloudendpoint.h"

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
constexpr int kMaxRequestBytes = 1 << 20;
// How often the endpoint's thread looks whether it should go away or come back.
constexpr int kListenCheckMs = 10;

struct Request
{
    bool complete = false;
    bool bad = false;
    QByteArray path;
    QByteArray host;
    QByteArray contentType;
    QByteArray body;
};

// The request bytes so far: complete once the head and as many body bytes
// as Content-Length announced have come.
Request parseRequest(const QByteArray &bytes)
{
    Request request;
    const int headEnd = int(bytes.indexOf("\r\n\r\n"));
    if (headEnd < 0) {
        request.bad = bytes.size() > kMaxRequestBytes;
        return request;
    }
    const QList<QByteArray> lines = bytes.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.path = requestLine.value(1);
    int length = -1;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = int(line.indexOf(':'));
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            length = value.toInt();
        else if (name == "content-type")
            request.contentType = value;
        else if (name == "host")
            request.host = value;
    }
    if (requestLine.value(0) != "POST" || requestLine.value(2) != "HTTP/1.1" || length < 0) {
        request.bad = true;
        request.complete = true;
        return request;
    }
    const QByteArray body = bytes.mid(headEnd + 4);
    if (body.size() < length)
        return request;
    request.body = body.left(length);
    request.complete = true;
    return request;
}

QByteArray jsonText(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

QByteArray head(const QByteArray &status, const QByteArray &extra)
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/json-rpc\r\nConnection: close\r\n" + extra + "\r\n";
}

} // namespace

CloudEndpoint::CloudEndpoint(QObject *parent)
    : QThread(parent)
{
}

CloudEndpoint::~CloudEndpoint()
{
    quit();
    wait(kStopWaitMs);
}

bool CloudEndpoint::begin(quint16 p)
{
    {
        QMutexLocker lock(&mutex);
        wantedPort = p;
    }
    start();
    QMutexLocker lock(&mutex);
    QDeadlineTimer deadline(kStartWaitMs);
    while (!ready) {
        if (!changed.wait(&mutex, deadline))
            break;
    }
    return listenPort != 0;
}

quint16 CloudEndpoint::port() const
{
    QMutexLocker lock(&mutex);
    return listenPort;
}

void CloudEndpoint::setLoft(const QString &loftNum, const QString &password)
{
    QMutexLocker lock(&mutex);
    lofts.insert(loftNum, password);
}

void CloudEndpoint::addFault(CloudFault kind, int times, const QByteArray &value, int delayMs)
{
    QMutexLocker lock(&mutex);
    faults << CloudFaultRule{kind, times, value, delayMs};
}

void CloudEndpoint::clearFaults()
{
    QMutexLocker lock(&mutex);
    faults.clear();
}

// The server lives on the endpoint's thread, which applies the wanted state
// at its next check; the caller waits for it there, bounded.
void CloudEndpoint::goAway()
{
    setWantListening(false);
}

bool CloudEndpoint::comeBack()
{
    return setWantListening(true);
}

bool CloudEndpoint::setWantListening(bool on)
{
    QMutexLocker lock(&mutex);
    wantListening = on;
    QDeadlineTimer deadline(kStartWaitMs);
    while (isListening != on) {
        if (!changed.wait(&mutex, deadline))
            return false;
    }
    return true;
}

// The endpoint's thread: closes or reopens the server (on its first port) as wanted.
void CloudEndpoint::applyWantListening(QTcpServer *server)
{
    QMutexLocker lock(&mutex);
    if (wantListening == isListening)
        return;
    if (wantListening) {
        if (!server->listen(QHostAddress::LocalHost, listenPort))
            return; // tried again at the next check; the caller's wait is bounded
    } else {
        server->close();
    }
    isListening = wantListening;
    changed.wakeAll();
}

QList<CloudCall> CloudEndpoint::calls() const
{
    QMutexLocker lock(&mutex);
    return received;
}

QList<CloudCall> CloudEndpoint::calls(const QString &method) const
{
    QList<CloudCall> out;
    for (const CloudCall &call : calls()) {
        if (call.method == method)
            out << call;
    }
    return out;
}

bool CloudEndpoint::waitForCalls(int count, int timeoutMs) const
{
    QMutexLocker lock(&mutex);
    QDeadlineTimer deadline(timeoutMs);
    while (received.size() < count) {
        if (!changed.wait(&mutex, deadline))
            return false;
    }
    return true;
}

void CloudEndpoint::clear()
{
    QMutexLocker lock(&mutex);
    received.clear();
}

void CloudEndpoint::run()
{
    QTcpServer listener;
    quint16 p = 0;
    {
        QMutexLocker lock(&mutex);
        p = wantedPort;
    }
    const bool listening = listener.listen(QHostAddress::LocalHost, p);
    connect(&listener, &QTcpServer::newConnection, &listener, [this, &listener] { onConnection(&listener); });
    QTimer listenCheck;
    connect(&listenCheck, &QTimer::timeout, &listener, [this, &listener] { applyWantListening(&listener); });
    listenCheck.start(kListenCheckMs);
    {
        QMutexLocker lock(&mutex);
        listenPort = listening ? listener.serverPort() : 0;
        isListening = listening;
        wantListening = listening;
        ready = true;
        changed.wakeAll();
    }
    if (listening)
        exec();
    pending.clear();
}

void CloudEndpoint::onConnection(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        pending.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { onReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { pending.remove(socket); },
                Qt::DirectConnection);
    }
}

void CloudEndpoint::onReadable(QTcpSocket *socket)
{
    auto it = pending.find(socket);
    if (it == pending.end())
        return; // answered already: later bytes are not another request
    it.value() += socket->readAll();
    const Request request = parseRequest(it.value());
    if (!request.complete && !request.bad)
        return;
    pending.erase(it);
    if (request.bad) {
        socket->write(head("400 Bad Request", "Content-Length: 0\r\n"));
        socket->disconnectFromHost();
        return;
    }
    QMap<QString, QString> table;
    {
        QMutexLocker lock(&mutex);
        table = lofts;
    }
    CloudCall call = CloudCall::inspect(request.contentType, request.body, table);
    call.path = request.path;
    call.host = request.host;
    {
        QMutexLocker lock(&mutex);
        received << call;
        changed.wakeAll();
    }
    answer(socket, call);
}

bool CloudEndpoint::takeFault(CloudFaultRule *rule)
{
    QMutexLocker lock(&mutex);
    for (int i = 0; i < faults.size(); ++i) {
        CloudFaultRule &f = faults[i];
        if (f.times == 0)
            continue;
        *rule = f;
        if (f.times > 0)
            --f.times;
        return true;
    }
    return false;
}

QByteArray CloudEndpoint::replyBody(const CloudCall &call, const CloudFaultRule *fault)
{
    const QByteArray id = call.idText.isEmpty() ? QByteArray("null") : call.idText;
    if (!call.isValid())
        return "{\"error\":" + jsonText(call.problems.join(QStringLiteral(", "))) + ",\"id\":" + id + '}';
    const QByteArray result = "\"OK\"";
    if (!fault)
        return "{\"id\":" + id + ",\"result\":" + result + '}';
    switch (fault->kind) {
    case CloudFault::ErrorText:
        return "{\"error\":" + jsonText(QString::fromUtf8(fault->value)) + ",\"id\":" + id + '}';
    case CloudFault::ErrorObject:
        return "{\"error\":{\"code\":-32000,\"message\":\"refused\"},\"id\":" + id + '}';
    case CloudFault::WrongId:
        return "{\"id\":" + QByteArray::number(call.id + 1) + ",\"result\":" + result + '}';
    case CloudFault::MissingId:
        return "{\"result\":" + result + '}';
    case CloudFault::RawBody:
        return fault->value;
    default:
        return "{\"id\":" + id + ",\"result\":" + result + '}';
    }
}

void CloudEndpoint::answer(QTcpSocket *socket, const CloudCall &call)
{
    CloudFaultRule rule;
    const bool faulty = takeFault(&rule);
    const CloudFaultRule *fault = faulty ? &rule : nullptr;
    if (fault && fault->kind == CloudFault::Silence)
        return;
    const QByteArray body = replyBody(call, fault);
    QByteArray reply;
    if (fault && fault->kind == CloudFault::Status) {
        reply = head(fault->value, "Content-Length: " + QByteArray::number(body.size()) + "\r\n") + body;
    } else if (fault && fault->kind == CloudFault::RawReply) {
        reply = fault->value;
    } else if (fault && fault->kind == CloudFault::GarbledChunk) {
        // The whole answer arrives before the garbled line: only a reader
        // that takes that line for the end would see a complete reply.
        reply = head("200 OK", "Transfer-Encoding: chunked\r\n");
        reply += QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n";
        reply += "g;\r\n}\r\n0\r\n\r\n";
    } else if (fault && fault->kind == CloudFault::Chunked) {
        const int half = int(body.size() / 2);
        reply = head("200 OK", "Transfer-Encoding: chunked\r\n");
        for (const QByteArray &chunk : {body.left(half), body.mid(half)})
            reply += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
        reply += "0\r\n\r\n";
    } else {
        reply = head("200 OK", "Content-Length: " + QByteArray::number(body.size()) + "\r\n") + body;
    }
    if (fault && fault->kind == CloudFault::CloseMidReply)
        reply.chop(body.size() - body.size() / 2);
    const int delayMs = fault && fault->kind == CloudFault::Late ? fault->delayMs : 0;
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(delayMs, socket, [guard, reply] {
        if (!guard)
            return;
        guard->write(reply);
        guard->flush();
        guard->disconnectFromHost();
    });
}
