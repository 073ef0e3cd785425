// The modem thread idle on a registered modem, with the production timing:
// the u-blox peer (in power mode) answers as a healthy network and the race
// engine never has anything to send. Over a fixed window after the first SMS
// turn it reports the modem thread's CPU time as a share of the wall time
// (measured on that thread's own CPU clock) and the AT commands it sent per
// minute. Usage: bench_gsmservice [seconds]   (default 60)
#include "device/hardware_control.h"
#include "gsm/gsmservice.h"

#include "modempeer.h"
#include "storagefixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>
#include <QThread>

#include <ctime>

namespace {

constexpr int kDefaultSeconds = 60;
constexpr int kBootDelayMs = 300;
constexpr int kRegisterWaitMs = 60000;
constexpr int kPollMs = 100;

qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Nothing to send, ever; each SMS turn samples the modem thread's CPU clock
// (the turns run on that thread) together with the wall time.
class IdleEngine final : public GSMServiceCallback
{
public:
    struct Sample
    {
        qint64 cpuNs = 0;
        qint64 wallNs = 0;
        int commands = 0;
    };

    explicit IdleEngine(const ModemPeer &modem)
        : peer(modem)
    {
        wall.start();
    }
    void onTime(GSMService *, qint64, int) override {}
    int doGprsEvent(GSMService *) override { return 1; }
    int doSmsEvent(GSMService *) override
    {
        Sample s{threadCpuNs(), wall.nsecsElapsed(), int(peer.commands().size())};
        QMutexLocker lock(&mutex);
        if (samples.isEmpty())
            samples << s;
        else if (samples.size() == 1)
            samples << s;
        else
            samples.last() = s;
        return 1;
    }
    QString getHostIP() override { return QString(); }
    QString getSmdPath() override { return QString(); }
    QString getApn() override { return QStringLiteral("internet"); }
    QString getNet() override { return QString(); }

    QList<Sample> taken() const
    {
        QMutexLocker lock(&mutex);
        return samples;
    }

private:
    const ModemPeer &peer;
    QElapsedTimer wall;
    mutable QMutex mutex;
    QList<Sample> samples; // the first and the latest
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int seconds = argc > 1 ? qMax(5, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultSeconds;

    StorageFixture db;
    HardwareControl::init(0);
    db.root().setGpio(41, 0);
    ModemPeer peer(QStringLiteral("ublox"));
    peer.linkAt(db.root().path(QStringLiteral("/dev/ttyUSB1")));
    peer.followPower(db.root().path(QStringLiteral("/sys/class/gpio/gpio41/value")), kBootDelayMs);
    peer.start();

    IdleEngine engine(peer);
    GSMService service(&engine);
    service.start();

    QElapsedTimer waited;
    waited.start();
    while (engine.taken().isEmpty() && waited.elapsed() < kRegisterWaitMs)
        QThread::msleep(kPollMs);
    if (engine.taken().isEmpty()) {
        out << "bench_gsmservice: the modem never registered\n";
        return 1;
    }
    QThread::msleep(ulong(seconds) * 1000);
    service.requestExit();
    service.wait();

    const QList<IdleEngine::Sample> s = engine.taken();
    if (s.size() < 2) {
        out << "bench_gsmservice: too few turns\n";
        return 1;
    }
    const double wallMs = double(s.last().wallNs - s.first().wallNs) / 1e6;
    const double cpuMs = double(s.last().cpuNs - s.first().cpuNs) / 1e6;
    const int commands = s.last().commands - s.first().commands;
    out << QStringLiteral("modem thread idle, registered, production timing, %1 s window\n").arg(wallMs / 1000, 0, 'f', 1);
    out << QStringLiteral("  CPU time: %1 ms, %2 % of the wall time\n").arg(cpuMs, 0, 'f', 1).arg(100.0 * cpuMs / wallMs, 0, 'f', 3);
    out << QStringLiteral("  AT commands: %1, %2 per minute\n").arg(commands).arg(commands * 60000.0 / wallMs, 0, 'f', 1);
    return 0;
}
