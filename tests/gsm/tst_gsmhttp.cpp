// HTTP over the modem socket: the request text and the incremental reply parser.
#include "gsm/gsmhttp.h"

#include "core/vexexception.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

struct Outcome
{
    int errorCode = 0;
    bool finished = false;
    QByteArray body;
    int contentLength = 0;

    bool operator==(const Outcome &o) const
    {
        return errorCode == o.errorCode && finished == o.finished && body == o.body && contentLength == o.contentLength;
    }
};

Outcome feed(const QList<QByteArray> &pieces)
{
    GsmHttpResponse response;
    response.reset();
    Outcome out;
    try {
        for (QByteArray piece : pieces)
            response.push(piece);
    } catch (const VexException &e) {
        out.errorCode = e.getErrorCode();
        return out;
    }
    out.finished = response.isFinished();
    out.body = response.getBody();
    out.contentLength = response.getContentLength();
    return out;
}

QList<QByteArray> randomPieces(const QByteArray &bytes, quint32 seed)
{
    QRandomGenerator random(seed);
    QList<QByteArray> pieces;
    for (int i = 0; i < bytes.size();) {
        const int n = random.bounded(1, 40);
        pieces << bytes.mid(i, n);
        i += n;
    }
    return pieces;
}

QByteArray head(const QByteArray &lines)
{
    return "HTTP/1.1 200 OK\r\n" + lines + "\r\n";
}

} // namespace

class TestGsmHttp : public QObject
{
    Q_OBJECT
private slots:
    void createHttpPacket_data();
    void createHttpPacket();
    void push_data();
    void push();
    void megabyteBody_isAcceptedInOnePieceOrMany();
};

void TestGsmHttp::createHttpPacket_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("packet");

    QTest::newRow("path, host with port, 10-byte body")
        << QByteArray("/rpc") << QByteArray("h:9080") << QByteArray("0123456789")
        << QByteArray("POST /rpc HTTP/1.1\r\nHost:h:9080\r\nContent-Type:application/json-rpc;charset=UTF-8\r\n"
                      "Content-Length:10\r\n\r\n0123456789");
    QTest::newRow("empty path is sent as /")
        << QByteArray() << QByteArray("h") << QByteArray()
        << QByteArray("POST / HTTP/1.1\r\nHost:h\r\nContent-Type:application/json-rpc;charset=UTF-8\r\n"
                      "Content-Length:0\r\n\r\n");
}

void TestGsmHttp::createHttpPacket()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, packet);
    GsmHttpRequest request;
    request.path = path;
    request.host = host;
    request.contentType = "application/json-rpc";
    request.charset = "UTF-8";
    request.body = body;
    QCOMPARE(request.createHttpPacket(), packet);
}

void TestGsmHttp::push_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("contentLength");

    const QByteArray chunked = head("Transfer-Encoding: chunked\r\n") + "5\r\nhello\r\n6\r\nworld!\r\n0\r\n\r\n";
    QTest::newRow("length") << head("Content-Length: 5\r\n") + "hello" << 0 << true << QByteArray("hello") << 5;
    QTest::newRow("HTTP/1.0") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx") << 4101 << false << QByteArray() << 0;
    QTest::newRow("404") << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx") << 4101 << false << QByteArray() << 0;
    QTest::newRow("header case and blanks") << head("content-length : 12\r\n") + "abcdefghijkl" << 0 << true << QByteArray("abcdefghijkl") << 12;
    QTest::newRow("other headers ignored") << head("Server: x\r\nCONTENT-LENGTH:3\r\nX-A: 1\r\n") + "abc" << 0 << true << QByteArray("abc") << 3;
    QTest::newRow("Content-Length 0") << head("Content-Length: 0\r\n") << 0 << true << QByteArray() << 0;
    QTest::newRow("chunked example") << chunked << 0 << true << QByteArray("helloworld!") << 11;
    QTest::newRow("chunked without Transfer-Encoding") << head("") + "3\r\nabc\r\n0\r\n\r\n" << 0 << true << QByteArray("abc") << 3;
    QTest::newRow("bytes after the end") << head("Content-Length: 5\r\n") + "helloHTTP/1.1 404" << 0 << true << QByteArray("hello") << 5;
    QTest::newRow("bytes after the last chunk") << chunked + "garbage\r\n" << 0 << true << QByteArray("helloworld!") << 11;
    QTest::newRow("body not yet complete") << head("Content-Length: 10\r\n") + "hello" << 0 << false << QByteArray("hello") << 10;
    QTest::newRow("head not yet complete") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n") << 0 << false << QByteArray() << 5;
    QTest::newRow("negative length") << head("Content-Length: -5\r\n") + "hello" << 4101 << false << QByteArray() << 0;
    QTest::newRow("non-numeric length") << head("Content-Length: five\r\n") + "hello" << 4101 << false << QByteArray() << 0;
    QTest::newRow("length over 1 MB") << head("Content-Length: 1048577\r\n") << 4101 << false << QByteArray() << 0;
    QTest::newRow("chunk extension") << head("") + "5;name=value\r\nhello\r\n0\r\n\r\n" << 0 << true << QByteArray("hello") << 5;
    QTest::newRow("chunk extension, cut body stays unfinished") << head("") + "A;x=1\r\nhello" << 0 << false << QByteArray("hello") << -1;
    QTest::newRow("chunk size not hexadecimal") << head("") + "5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n" << 4101 << false << QByteArray() << 0;
    QTest::newRow("chunk size only an extension") << head("") + "3\r\nabc\r\n;x=1\r\n" << 4101 << false << QByteArray() << 0;
    QTest::newRow("chunk data longer than its size") << head("") + "3\r\nabcxyz\r\n0\r\n\r\n" << 4101 << false << QByteArray() << 0;
    QTest::newRow("chunk over 1 MB") << head("") + "100001\r\nabc" << 4101 << false << QByteArray() << 0;
    QTest::newRow("status line over 8 KB") << QByteArray("HTTP/1.1 200 ") + QByteArray(9000, 'x') << 4101 << false << QByteArray() << 0;
    QTest::newRow("header over 8 KB") << "HTTP/1.1 200 OK\r\nX-Pad: " + QByteArray(9000, 'p') + "\r\n" << 4101 << false << QByteArray() << 0;
    QTest::newRow("header of 8 KB passes") << "HTTP/1.1 200 OK\r\nX-Pad:" + QByteArray(8000, 'p') + "\r\nContent-Length: 1\r\n\r\nz"
                                           << 0 << true << QByteArray("z") << 1;
}

void TestGsmHttp::push()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, errorCode);
    QFETCH(bool, finished);
    QFETCH(QByteArray, body);
    QFETCH(int, contentLength);

    Outcome expected;
    expected.errorCode = errorCode;
    if (errorCode == 0) {
        expected.finished = finished;
        expected.body = body;
        expected.contentLength = contentLength;
    }
    QList<QByteArray> bytes;
    for (char c : reply)
        bytes << QByteArray(1, c);
    QCOMPARE(feed({reply}), expected);
    QCOMPARE(feed(bytes), expected);
    for (quint32 seed = 1; seed <= 5; ++seed)
        QCOMPARE(feed(randomPieces(reply, seed)), expected);
}

void TestGsmHttp::megabyteBody_isAcceptedInOnePieceOrMany()
{
    const QByteArray body(GsmHttpResponse::kMaxBodyBytes, 'b');
    const QByteArray reply = head("Content-Length: " + QByteArray::number(body.size()) + "\r\n") + body;
    const Outcome whole = feed({reply});
    QVERIFY(whole.finished);
    QCOMPARE(whole.body.size(), body.size());
    QCOMPARE(feed(randomPieces(reply, 9)), whole);
}

QTEST_GUILESS_MAIN(TestGsmHttp)
#include "tst_gsmhttp.moc"
