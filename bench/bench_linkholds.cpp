#include "core/platform.h"
#include "core/vexexception.h"
#include "device/DeviceComm.h"
#include "device/serialcommport.h"
#include "gsm/telitgsmmodule.h"
#include "gsm/ubloxgsmmodule.h"

#include "benchrow.h"
#include "guiheartbeat.h"
#include "memorycommport.h"
#include "modempeer.h"
#include "networkrig.h"
#include "ptypair.h"
#include "ringreaderpeer.h"
#include "scriptport.h"
#include "testroot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

// How long the links hold whoever waits on them while the far end
// misbehaves, against the bounds they promise:
// (1) the screens' reads of the modem state on the GUI thread (a 10 ms
//     heartbeat) while the modem is silent or its node goes away: one read
//     stays under the driver's shortest answer wait (4 s) and the beat under
//     its longest (15 s), both at the rig's scale of a twentieth;
// (2) how long the modem thread takes to stop in the middle of its cycle and
//     with a silent modem, and a driver's initialisation to end on an exit
//     request from another thread (one 10 ms step or poll);
// (3) how long after its node goes a driver's answer wait ends;
// (4) the ring reader's handler: how long "nothing received" takes on a
//     silent reader (its first-byte wait is 100 ms), a hang-up mid-frame,
//     and the failing write on a line that is gone;
// (5) the byte port: a read with nothing waiting (at once, far below one
//     poll period), and how long past its bound a send gives up on a line
//     nobody reads.
namespace {

constexpr int kRuns = 3;
constexpr int kHeartbeatMs = 10;
constexpr int kFaultWindowMs = 6000;
constexpr int kStateReadTargetMs = 4000 / NetworkRig::kModemScale;
constexpr int kGuiBeatTargetMs = 15000 / NetworkRig::kModemScale;
constexpr int kModemExitTargetMs = 1500;
constexpr int kDriverExitTargetMs = 1000;
constexpr int kVanishAfterMs = 300;
constexpr int kVanishTargetMs = 2700;
constexpr int kHandlerTargetMs = 1000;
constexpr int kEmptyReads = 1000;
constexpr int kEmptyReadTargetMs = 50;
constexpr int kSendSlackTargetMs = 1000;
constexpr int kStopMs = 20000;

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

void printRow(const QString &figure, double valueMs, int targetMs, bool ok = true)
{
    BenchRow row;
    row.figure = figure;
    row.value = BenchRow::ms(valueMs);
    row.target = QStringLiteral("< %1 ms").arg(targetMs);
    row.met = BenchRow::meets(ok && valueMs < targetMs);
    row.print();
}

// Turns this thread's event loop for ms.
void turn(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kHeartbeatMs);
        QThread::msleep(1);
    }
}

void modemStateReads()
{
    qint64 longestRead = 0;
    qint64 longestGap = 0;
    for (const char *trouble : {"silence", "node gone"}) {
        NetworkRig rig;
        if (!rig.isReady()) {
            std::printf("the network rig did not come up\n");
            return;
        }
        GuiHeartbeat heartbeat(
            [&rig] {
                rig.service.getGSMState();
                rig.service.getCurrentGPS();
            },
            kHeartbeatMs);
        rig.start();
        rig.gate.allow(TurnGate::Sms, -1);
        rig.gate.allow(TurnGate::Gprs, -1);
        if (QByteArray(trouble) == "silence") {
            rig.peer.addFault(ModemFault::Silence, QByteArray(), -1, 0);
        } else {
            QElapsedTimer waited;
            waited.start();
            while (!(rig.service.getGSMState().flags & 0x040) && waited.elapsed() < NetworkRig::kWaitMs)
                turn(kHeartbeatMs);
            rig.peer.removeNode();
        }
        turn(kFaultWindowMs);
        std::printf("modem %s: longest state read %lld ms, longest beat gap %lld ms, %d beats\n", trouble,
                    static_cast<long long>(heartbeat.longestReadMs()),
                    static_cast<long long>(heartbeat.longestGapMs()), heartbeat.beats());
        longestRead = std::max(longestRead, heartbeat.longestReadMs());
        longestGap = std::max(longestGap, heartbeat.longestGapMs());
    }
    printRow(QStringLiteral("modem: longest GUI state read, modem silent or gone"), double(longestRead),
             kStateReadTargetMs);
    printRow(QStringLiteral("modem: longest GUI heartbeat gap, modem silent or gone"), double(longestGap),
             kGuiBeatTargetMs);
}

// The time a started modem thread takes to stop, `silent` with every
// command unanswered.
double modemThreadExit(bool silent)
{
    double worst = 0;
    for (int run = 0; run < kRuns; ++run) {
        NetworkRig rig;
        if (!rig.isReady())
            return -1;
        if (silent)
            rig.peer.addFault(ModemFault::Silence, QByteArray(), -1, 0);
        rig.start();
        rig.gate.allow(TurnGate::Sms, -1);
        rig.gate.allow(TurnGate::Gprs, -1);
        if (silent)
            QThread::msleep(300); // into the answer waits
        else
            rig.gate.waitResults(TurnGate::Sms, 1, NetworkRig::kWaitMs);
        QElapsedTimer timer;
        timer.start();
        rig.service.requestExit();
        if (!rig.service.wait(kStopMs))
            return -1;
        worst = std::max(worst, timer.nsecsElapsed() / 1e6);
    }
    return worst;
}

double driverInitExit()
{
    double worst = 0;
    for (int run = 0; run < kRuns; ++run) {
        TelitGsmModule modem;
        auto owned = std::make_unique<ScriptPort>();
        owned->answer("\r\nOK\r\n");
        modem.attachPort(std::move(owned));
        std::unique_ptr<QThread> thread(QThread::create([&modem] {
            try {
                modem.init();
            } catch (const VexException &) {
            }
        }));
        thread->start();
        QThread::msleep(50);
        QElapsedTimer timer;
        timer.start();
        modem.requestExit();
        if (!thread->wait(kStopMs))
            return -1;
        worst = std::max(worst, timer.nsecsElapsed() / 1e6);
    }
    return worst;
}

double vanishedNode()
{
    double worst = 0;
    for (int run = 0; run < kRuns; ++run) {
        TestRoot root;
        root.activate();
        ModemPeer peer;
        if (!peer.linkAt(root.path(QStringLiteral("/dev/ttyUSB1"))))
            return -1;
        peer.start();
        UbloxGsmModule modem;
        try {
            modem.open(QStringLiteral("/dev/ttyUSB1"));
            modem.init();
        } catch (const VexException &) {
            return -1;
        }
        peer.addFault(ModemFault::Silence, "AT+CSQ", -1, 0);
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QThread> remover(QThread::create([&peer] {
            QThread::msleep(kVanishAfterMs);
            peer.removeNode();
        }));
        remover->start();
        try {
            modem.getCsq();
        } catch (const VexException &) {
        }
        worst = std::max(worst, timer.nsecsElapsed() / 1e6 - kVanishAfterMs);
        remover->wait();
        modem.close();
    }
    return worst;
}

void modemFigures()
{
    const double cycling = modemThreadExit(false);
    const double silent = modemThreadExit(true);
    const double init = driverInitExit();
    const double vanished = vanishedNode();
    std::printf("modem thread stop: cycling %.1f ms, modem silent %.1f ms; driver init exit %.1f ms; "
                "answer wait past a vanished node %.1f ms (worst of %d)\n",
                cycling, silent, init, vanished, kRuns);
    printRow(QStringLiteral("modem: thread stops mid-cycle"), cycling, kModemExitTargetMs, cycling >= 0);
    printRow(QStringLiteral("modem: thread stops, modem silent"), silent, kModemExitTargetMs, silent >= 0);
    printRow(QStringLiteral("modem: driver init ends on an exit request"), init, kDriverExitTargetMs, init >= 0);
    printRow(QStringLiteral("modem: answer wait ends after the node went"), vanished, kVanishTargetMs,
             vanished >= 0);
}

// The ring reader's handler on a simulated device node, in this thread.
struct ReaderLink
{
    ReaderLink()
    {
        root.activate();
        peer.setDevNo(QByteArray::fromHex("0a1b2c3d"));
        peer.linkUnder(root.root(), QStringLiteral("/dev/ttyS3"));
        peer.start();
        serial.setPortName(Platform::path(QStringLiteral("/dev/ttyS3")));
        serial.setBaudRate(115200);
        opened = serial.open(QIODevice::ReadWrite);
    }

    TestRoot root;
    RingReaderPeer peer;
    QSerialPort serial;
    DeviceHandler handler{&serial};
    bool opened = false;
};

double timeCall(const std::function<void()> &call)
{
    QElapsedTimer timer;
    timer.start();
    try {
        call();
    } catch (const VexException &) {
    }
    return timer.nsecsElapsed() / 1e6;
}

void handlerFigures()
{
    double nothing = 0;
    double hangUp = 0;
    double deadWrite = 0;
    bool ok = true;
    for (int run = 0; run < kRuns; ++run) {
        {
            ReaderLink link;
            ok = ok && link.opened;
            RingFault silent;
            silent.silent = true;
            link.peer.pushFault(silent);
            nothing = std::max(nothing, timeCall([&link] { link.handler.getDevNo(); }));
        }
        ReaderLink link;
        ok = ok && link.opened;
        RingFault cut;
        cut.cut = RingFault::Cut::MidFrame;
        cut.hangUpAfterMs = 30;
        link.peer.pushFault(cut);
        hangUp = std::max(hangUp, timeCall([&link] { link.handler.getDevNo(); }));
        deadWrite = std::max(deadWrite, timeCall([&link] { link.handler.getDevNo(); }));
    }
    std::printf("ring reader handler: nothing received %.1f ms, hang-up mid-frame %.1f ms, write on a dead line "
                "%.1f ms (worst of %d)\n",
                nothing, hangUp, deadWrite, kRuns);
    printRow(QStringLiteral("ring reader: \"nothing received\" on a silent reader"), nothing, kHandlerTargetMs, ok);
    printRow(QStringLiteral("ring reader: read fails after a hang-up mid-frame"), hangUp, kHandlerTargetMs, ok);
    printRow(QStringLiteral("ring reader: write fails on a line that is gone"), deadWrite, kHandlerTargetMs, ok);
}

double worstEmptyRead(CommPort *port)
{
    double worst = 0;
    for (int i = 0; i < kEmptyReads; ++i) {
        unsigned char b = 0;
        QByteArray buffer;
        worst = std::max(worst, timeCall([&] {
                             port->receiveByte(&b);
                             port->receiveBytes(&buffer, 4);
                         }));
    }
    return worst;
}

void portFigures()
{
    MemoryCommPort memory;
    const double memoryRead = worstEmptyRead(&memory);
    PtyPair pty;
    QSerialPort serial;
    serial.setPortName(pty.slavePath());
    const bool opened = serial.open(QIODevice::ReadWrite);
    SerialCommPort adapter(&serial);
    const double serialRead = worstEmptyRead(&adapter);

    // A fast line keeps the send's bound (line time plus 500 ms) short.
    constexpr int kBaud = 4000000;
    adapter.setBaudRate(kBaud);
    const QByteArray large(256 * 1024, 'x');
    const double boundMs = double(large.size()) * 10 * 1000 / kBaud + 500;
    bool refused = false;
    const double sendMs = timeCall([&] { refused = !adapter.sendBytes(large); });
    std::printf("byte port, nothing waiting: worst of %d reads in memory %.3f ms, on a serial line %.3f ms; "
                "stalled send gave up after %.0f ms against a bound of %.0f ms\n",
                kEmptyReads, memoryRead, serialRead, sendMs, boundMs);
    printRow(QStringLiteral("byte port: read with nothing waiting (worst of %1)").arg(kEmptyReads),
             std::max(memoryRead, serialRead), kEmptyReadTargetMs, opened);
    printRow(QStringLiteral("byte port: stalled send gives up past its bound"), sendMs - boundMs, kSendSlackTargetMs,
             opened && refused);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    modemStateReads();
    modemFigures();
    handlerFigures();
    portFigures();
    return 0;
}
