// HTTP over the modem: one exchange through the u-blox modem peer at
// 115200-baud pacing, as a ratio to the time its bytes need on the line, and
// the reply parser on 1 MB fed in 1500-byte pieces against byte by byte.
#include "gsm/gsmhttp.h"
#include "gsm/ubloxgsmmodule.h"

#include "httpendpoint.h"
#include "modempeer.h"
#include "testroot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>

namespace {

constexpr int kBaud = 115200;
constexpr int kRuns = 3;
constexpr int kPieceBytes = 1500;

double lineMs(qint64 bytes)
{
    return bytes * 10.0 * 1000.0 / kBaud;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

bool exchange(int bodyBytes, QTextStream &out)
{
    TestRoot root;
    root.activate();
    HttpEndpoint endpoint;
    if (!endpoint.begin())
        return false;
    const QByteArray replyBody = "{\"id\":1,\"result\":\"" + QByteArray(160, 'r') + "\"}";
    const QByteArray reply = HttpEndpoint::okReply(replyBody);
    endpoint.setReply({reply}, 0);
    ModemPeer peer;
    peer.linkAt(root.path(QStringLiteral("/dev/ttyUSB1")));
    peer.setEndpoint(endpoint.port());
    peer.setPacing(kBaud);
    peer.start();

    GsmHttpRequest request;
    request.path = "/rpc";
    request.host = "cloud.example:9080";
    request.contentType = "application/json-rpc";
    request.charset = "UTF-8";
    request.body = QByteArray(bodyBytes, 'b');
    const qint64 wireBytes = request.createHttpPacket().size() + reply.size();

    QList<double> times;
    for (int run = 0; run < kRuns; ++run) {
        UbloxGsmModule modem;
        modem.open(QStringLiteral("/dev/ttyUSB1"));
        modem.init();
        if (!modem.activeNet() || !modem.openSocket("cloud.example:9080"))
            return false;
        GsmHttpResponse response;
        QElapsedTimer timer;
        timer.start();
        const bool ok = modem.requestHttp(request, response);
        times << double(timer.nsecsElapsed()) / 1e6;
        if (!ok || response.getBody() != replyBody)
            return false;
        modem.closeSocket();
    }
    const double ms = median(times);
    out << "http_exchange_ublox body_bytes=" << bodyBytes << " wire_bytes=" << wireBytes
        << " time_ms=" << QString::number(ms, 'f', 1) << " line_ms=" << QString::number(lineMs(wireBytes), 'f', 1)
        << " ratio=" << QString::number(ms / lineMs(wireBytes), 'f', 2) << Qt::endl;
    return true;
}

double pushMs(const QByteArray &reply, int pieceBytes)
{
    QList<double> times;
    for (int run = 0; run < kRuns; ++run) {
        GsmHttpResponse response;
        response.reset();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < reply.size(); i += pieceBytes) {
            QByteArray piece = reply.mid(i, pieceBytes);
            response.push(piece);
        }
        times << double(timer.nsecsElapsed()) / 1e6;
        if (!response.isFinished())
            return -1;
    }
    return median(times);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    bool ok = true;
    for (int body : {2 * 1024, 20 * 1024})
        ok = exchange(body, out) && ok;

    const QByteArray body(GsmHttpResponse::kMaxBodyBytes, 'p');
    const QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    const double pieces = pushMs(reply, kPieceBytes);
    const double bytes = pushMs(reply, 1);
    ok = ok && pieces >= 0 && bytes >= 0;
    out << "http_push_1mb pieces_ms=" << QString::number(pieces, 'f', 2) << " bytewise_ms=" << QString::number(bytes, 'f', 2)
        << " ratio=" << QString::number(bytes / qMax(pieces, 0.001), 'f', 1) << Qt::endl;
    if (!ok)
        out << "FAILED" << Qt::endl;
    return ok ? 0 : 1;
}
