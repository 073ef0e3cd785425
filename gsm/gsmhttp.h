#pragma once

#include <QByteArray>
#include <QObject>

// One HTTP/1.1 POST written directly onto the modem's TCP socket (no TLS, no
// redirects, one request per socket). A plain value on the modem thread.
class GsmHttpRequest
{
public:
    QByteArray path;        // request target; empty is sent as "/"
    QByteArray host;        // Host header, port included when given
    QByteArray contentType; // media type
    QByteArray charset;     // charset parameter of Content-Type
    QByteArray body;

    QByteArray createHttpPacket() const;
};

// Incremental parser of the reply, fed with whatever the modem delivers: a
// 200 status line, headers (only Content-Length is read; without it the body
// is chunked) and the body. Lives on the stack of one exchange on the modem
// thread. A malformed, over-long or non-200 reply throws VexException 4101.
class GsmHttpResponse : public QObject
{
    Q_OBJECT
public:
    explicit GsmHttpResponse(QObject *parent = nullptr);

    void reset();
    void push(QByteArray &data);
    bool isFinished() const;

    int getParseState() const { return parseState; }
    int getContentLength() const { return contentLength; }
    const QByteArray &getBody() const { return body; }

    // A status or header line, and the body, may not grow past these.
    static constexpr int kMaxLineBytes = 8 * 1024;
    static constexpr int kMaxBodyBytes = 1024 * 1024;

    static constexpr int kStatusLine = 0;
    static constexpr int kHeaders = 1;
    static constexpr int kBody = 2;
    static constexpr int kChunkSize = 3;
    static constexpr int kFinished = 16;

private:
    int takeBody(const char *data, int size);
    void parseLine();
    void parseHead();
    void beginChunk();
    [[noreturn]] static void protocolError();

    int parseState = kStatusLine;
    QByteArray line;
    int lineBytes = 0;
    int contentLength = -1;
    int chunkRemaining = 0;
    QByteArray body;
};
