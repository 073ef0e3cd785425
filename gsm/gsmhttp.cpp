#include "gsm/gsmhttp.h"

#include "core/vexexception.h"

namespace {
constexpr int kHttpProtocolError = 4101;
}

QByteArray GsmHttpRequest::createHttpPacket() const
{
    // An empty target would give "POST  HTTP/1.1", which servers refuse.
    QByteArray packet = "POST " + (path.isEmpty() ? QByteArray("/") : path) + " HTTP/1.1\r\n";
    packet += "Host:" + host + "\r\n";
    packet += "Content-Type:" + contentType + ";charset=" + charset + "\r\n";
    packet += "Content-Length:" + QByteArray::number(body.size()) + "\r\n";
    packet += "\r\n";
    packet += body;
    return packet;
}

GsmHttpResponse::GsmHttpResponse(QObject *parent)
    : QObject(parent)
{
}

void GsmHttpResponse::reset()
{
    parseState = kStatusLine;
    line.clear();
    lineBytes = 0;
    body.clear();
    contentLength = -1;
    chunkRemaining = 0;
}

bool GsmHttpResponse::isFinished() const
{
    return parseState == kFinished;
}

void GsmHttpResponse::protocolError()
{
    throw VexException(kHttpProtocolError, QStringLiteral("HTTP protocol error!"), QString());
}

void GsmHttpResponse::push(QByteArray &data)
{
    const char *bytes = data.constData();
    const int size = int(data.size());
    int i = 0;
    while (i < size && parseState != kFinished) {
        if (parseState == kBody) {
            i += takeBody(bytes + i, size - i);
            continue;
        }
        const char c = bytes[i++];
        if (c == '\n') {
            parseLine();
            line.clear();
            lineBytes = 0;
            continue;
        }
        // A line that never ends must not grow without bound.
        if (++lineBytes > kMaxLineBytes)
            protocolError();
        const uchar u = uchar(c);
        if (u > 0x20 && u < 0x7F)
            line.append(char(u >= 'a' && u <= 'z' ? u - 0x20 : u));
    }
}

// Copies as much of the body as the current length or chunk allows; the body
// is the bulk of a reply, so it is taken in one piece rather than byte by byte.
int GsmHttpResponse::takeBody(const char *data, int size)
{
    // A known length counts the body; a chunked body (length -1 until its
    // end) counts down the current chunk.
    const bool chunked = contentLength < 0;
    const int want = chunked ? chunkRemaining : contentLength - int(body.size());
    const int n = qMin(size, want);
    body.append(data, n);
    if (chunked) {
        chunkRemaining -= n;
        if (chunkRemaining == 0)
            parseState = kChunkSize;
    } else if (body.size() >= contentLength) {
        parseState = kFinished;
    }
    return n;
}

void GsmHttpResponse::parseLine()
{
    switch (parseState) {
    case kStatusLine:
        if (!line.startsWith("HTTP/1.1200"))
            protocolError();
        parseState = kHeaders;
        break;
    case kHeaders:
        if (!line.isEmpty()) {
            parseHead();
        } else if (contentLength < 0) {
            parseState = kChunkSize;
        } else if (contentLength == 0) {
            parseState = kFinished;
        } else {
            parseState = kBody;
        }
        break;
    case kChunkSize:
        if (!line.isEmpty())
            beginChunk();
        break;
    default:
        break;
    }
}

void GsmHttpResponse::parseHead()
{
    static const QByteArray kContentLength("CONTENT-LENGTH:");
    if (!line.startsWith(kContentLength))
        return;
    bool ok = false;
    const int value = line.mid(kContentLength.size()).toInt(&ok, 10);
    // A negative or unreadable length could never be reached, and one past
    // the body limit would only be refused later.
    if (!ok || value < 0 || value > kMaxBodyBytes)
        protocolError();
    contentLength = value;
    chunkRemaining = value;
}

void GsmHttpResponse::beginChunk()
{
    // Only the hex digits before any ";" are the size: read together with a
    // chunk extension they would end a cut body as if it were complete.
    const QByteArray digits = line.left(line.indexOf(';') < 0 ? line.size() : line.indexOf(';'));
    bool ok = false;
    const qlonglong size = digits.toLongLong(&ok, 16);
    // A size line that is not a number is a garbled reply, not its end:
    // taken as the last chunk it would pass a cut body off as complete.
    if (!ok)
        protocolError();
    if (size == 0) {
        parseState = kFinished;
        contentLength = int(body.size());
        return;
    }
    if (size < 0 || size > kMaxBodyBytes - body.size())
        protocolError();
    chunkRemaining = int(size);
    parseState = kBody;
}
