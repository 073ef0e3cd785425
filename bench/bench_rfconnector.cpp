#include "core/platform.h"
#include "device/rfconnector.h"

#include "clubportpeer.h"
#include "connectorreader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>

#include <cstdio>

// Draining the connector reader's backlog through syncStatus, against the
// connector peer pacing its answers at the real 115200 baud: records per
// second, and the time as a ratio to the line time of the bytes exchanged
// (both directions; the pseudo-terminal carries the clock's requests at once).
namespace {

constexpr int kBaud = 115200;

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

void drain(int backlog)
{
    ClubPortPeer peer;
    peer.setRole(ClubPortPeer::Role::Connector);
    peer.start();
    for (int i = 0; i < backlog; ++i)
        peer.connector().addRecord(QByteArray::fromHex("00ab") + char(i >> 8) + char(i), quint16(i));
    QSerialPort serial(peer.slavePath());
    RFConnector connector(&serial);
    if (!connector.initPort()) {
        std::printf("cannot open %s\n", qPrintable(peer.slavePath()));
        return;
    }
    connector.connect();
    const qint64 in0 = peer.bytesReceived();
    const qint64 out0 = peer.bytesSent();
    QElapsedTimer timer;
    timer.start();
    QList<LFCHANNEL_INFO> channels;
    QList<LFTAG_INFO> tags;
    connector.syncStatus(channels, tags);
    connector.removeRecords();
    const double ms = timer.nsecsElapsed() / 1e6;
    const qint64 bytes = peer.bytesReceived() - in0 + peer.bytesSent() - out0;
    const double lineMs = bytes * 10.0 * 1000.0 / kBaud;
    std::printf("backlog %5d: %5d delivered in %7.1f ms, %7.0f records/s; %7lld bytes, line %7.1f ms, "
                "time/line %.2f\n",
                backlog, int(tags.size()), ms, tags.size() * 1000.0 / ms, static_cast<long long>(bytes), lineMs,
                ms / lineMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    for (int backlog : {100, 1000})
        drain(backlog);
    return 0;
}
