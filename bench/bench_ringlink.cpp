#include "core/vexexception.h"
#include "device/DeviceComm.h"

#include "ringreaderpeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <ctime>

// The ring-reader link's timing, as ratios that hold on any machine:
// (1) a group-0 exchange against a peer pacing its bytes at 9600 baud, as a
//     multiple of the line time of the bytes that crossed (the 10 ms poll of
//     the receiver should add little);
// (2) the receiving thread's CPU time while it waits out a silent peer at the
//     2000 ms first-byte wait, as a share of the wall time (near zero: the
//     receiver sleeps between polls).
namespace {
constexpr int kBaud = 9600;
constexpr int kExchanges = 20;
constexpr int kSilentWaits = 2;
const QByteArray kDevNo = QByteArray::fromHex("0a1b2c3d");

qint64 threadCpuUs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet); // each exception logs a line; not wanted here

    RingReaderPeer peer;
    peer.setDevNo(kDevNo);
    RingFault paced;
    paced.baud = kBaud;
    peer.setFault(paced);
    peer.start();
    QSerialPort serial;
    serial.setPortName(peer.slavePath());
    if (!serial.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(peer.slavePath()));
        return 1;
    }
    serial.setBaudRate(kBaud);
    DeviceHandler handler(&serial);

    std::vector<double> ms;
    for (int i = 0; i < kExchanges; ++i) {
        QElapsedTimer timer;
        timer.start();
        handler.getDevNo();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    // A pseudo-terminal carries the command at once; only the peer's answer is
    // paced, so the answer's bytes are the line time to compare with.
    const QByteArray answer = RingWire::frame(
        RingWire::body(0xFFFF, 0xFFFF, RingWire::kResponseType, RingWire::responsePayload(0, kDevNo)));
    const int commandBytes = int(peer.frames().last().raw.size());
    const double lineMs = answer.size() * 10.0 * 1000.0 / kBaud;
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf("ringlink exchange @%d baud: n=%d median=%.1f ms min=%.1f ms max=%.1f ms; answer %d bytes "
                "(command %d) line=%.1f ms; exchange/line=%.2f\n",
                kBaud, kExchanges, median, ms.front(), ms.back(), int(answer.size()), commandBytes, lineMs,
                median / lineMs);

    RingFault silent;
    silent.silent = true;
    peer.setFault(silent);
    handler.setTimeout(2000);
    for (int i = 0; i < kSilentWaits; ++i) {
        QElapsedTimer timer;
        timer.start();
        const qint64 cpuBefore = threadCpuUs();
        bool failed = false;
        try {
            handler.getDevNo();
        } catch (const VexException &) {
            failed = true;
        }
        const double wallMs = timer.nsecsElapsed() / 1e6;
        const double cpuMs = (threadCpuUs() - cpuBefore) / 1000.0;
        std::printf("ringlink silent wait 2000 ms: wall=%.0f ms cpu=%.2f ms cpu/wall=%.4f%s\n", wallMs, cpuMs,
                    cpuMs / wallMs, failed ? "" : " (unexpected answer)");
    }
    peer.stop();
    return 0;
}
