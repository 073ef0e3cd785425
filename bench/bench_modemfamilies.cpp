// One complete HTTP exchange (socket open, request, reply, close) through
// each modem family's peer at 115200-baud pacing, for 2 KB and 20 KB
// requests, on the program's own clock. Reported as time and as a ratio to
// the u-blox family measured in the same run.
#include "gsm/ec25gsmmodule.h"
#include "gsm/gsmhttp.h"
#include "gsm/telitgsmmodule.h"
#include "gsm/ubloxgsmmodule.h"

#include "httpendpoint.h"
#include "modempeer.h"
#include "testroot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>
#include <memory>

namespace {

constexpr int kBaud = 115200;
constexpr int kRuns = 3;

struct Family
{
    const char *name;
    const char *node;
};

constexpr Family kFamilies[] = {{"ublox", "/dev/ttyUSB1"}, {"ec25", "/dev/ttyUSB2"}, {"telit", "/dev/ttyUSB4"}};

std::unique_ptr<GsmModule> makeDriver(const QString &family)
{
    if (family == QLatin1String("ec25"))
        return std::make_unique<Ec25GsmModule>();
    if (family == QLatin1String("telit"))
        return std::make_unique<TelitGsmModule>();
    return std::make_unique<UbloxGsmModule>();
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// The median time of one exchange in ms, or -1 when one failed.
double exchangeMs(const Family &family, int bodyBytes)
{
    TestRoot root;
    root.activate();
    HttpEndpoint endpoint;
    if (!endpoint.begin())
        return -1;
    const QByteArray replyBody = "{\"id\":1,\"result\":\"" + QByteArray(160, 'r') + "\"}";
    endpoint.setReply({HttpEndpoint::okReply(replyBody)}, 0);
    const QString node = QString::fromLatin1(family.node);
    ModemPeer peer(QString::fromLatin1(family.name));
    peer.linkAt(root.path(node));
    peer.setEndpoint(endpoint.port());
    peer.setPacing(kBaud);
    peer.start();

    GsmHttpRequest request;
    request.path = "/rpc";
    request.host = "cloud.example:9080";
    request.contentType = "application/json-rpc";
    request.charset = "UTF-8";
    request.body = QByteArray(bodyBytes, 'b');

    QList<double> times;
    for (int run = 0; run < kRuns; ++run) {
        std::unique_ptr<GsmModule> modem = makeDriver(QString::fromLatin1(family.name));
        modem->open(node);
        // The start-up (ten seconds on a Telit) is not part of an exchange.
        modem->echoOff();
        if (!(modem->getState().flags & 0x008) && !modem->activeNet())
            return -1;
        GsmHttpResponse response;
        QElapsedTimer timer;
        timer.start();
        const bool ok = modem->openSocket("cloud.example:9080") && modem->requestHttp(request, response);
        modem->closeSocket();
        times << double(timer.nsecsElapsed()) / 1e6;
        if (!ok || response.getBody() != replyBody)
            return -1;
        modem->deactiveNet();
    }
    return median(times);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    bool ok = true;
    for (int body : {2 * 1024, 20 * 1024}) {
        double ubloxMs = -1;
        for (const Family &family : kFamilies) {
            const double ms = exchangeMs(family, body);
            if (ms < 0) {
                out << "modem_exchange family=" << family.name << " body_bytes=" << body << " FAILED" << Qt::endl;
                ok = false;
                continue;
            }
            if (QLatin1String(family.name) == QLatin1String("ublox"))
                ubloxMs = ms;
            out << "modem_exchange family=" << family.name << " body_bytes=" << body
                << " time_ms=" << QString::number(ms, 'f', 1)
                << " ratio_to_ublox=" << QString::number(ubloxMs > 0 ? ms / ubloxMs : 0, 'f', 2) << Qt::endl;
        }
    }
    return ok ? 0 : 1;
}
