// Main-window costs: one status tick with every service published, style
// sheets rewritten per idle tick, idle CPU with the menu showing, and the
// time from MainWindow::instance() to its first paint.
// Usage: bench_mainwindow [idle-seconds]   (default 60)
#include "club/morlanprotolprocess.h"
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "device/SoundThread.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "gsm/gsmservice.h"
#include "race/pigeonbo.h"
#include "storage/pigeoninfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <time.h>

namespace {

constexpr int kPigeons = 5000;
constexpr int kRaces = 200;
constexpr int kTicks = 2000;
constexpr double kTickPeriodMs = 300.0;
constexpr int kIdleTicks = 100;
constexpr int kDefaultIdleSec = 60;
constexpr int kFirstPaintLimitMs = 10000;

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

// A simulated board 2 with the version file in place, so that no notice
// covers the menu.
void makeRoot(const QString &root)
{
    writeFile(root + QStringLiteral("/proc/version"), "Linux version 3.0.35-OmbrixaW5BR #1 PREEMPT\n");
    for (int n : {7, 22, 40, 41, 51, 54, 55})
        writeFile(root + QStringLiteral("/sys/class/gpio/gpio%1/value").arg(n), "1");
    writeFile(root + QStringLiteral("/app/brellium/version"), "8.9.30");
    writeFile(root + QStringLiteral("/app/main_program.config"), "{\"userSettings\":0}");
    QDir().mkpath(root + QStringLiteral("/app/work"));
    QDir().mkpath(root + QStringLiteral("/var/log"));
}

// The database of a busy loft, written in one transaction.
void fillDatabase()
{
    Storage *storage = Storage::instance();
    storage->_beginTransaction();
    for (int i = 0; i < kPigeons; ++i) {
        PigeonInfo pigeon;
        pigeon.assocNum = QStringLiteral("NL-2025-%1").arg(i, 6, 10, QLatin1Char('0'));
        pigeon.eringNum = QStringLiteral("E%1").arg(i, 9, 10, QLatin1Char('0'));
        pigeon.year = 2025;
        storage->_insertPigeon(&pigeon);
    }
    for (int i = 0; i < kRaces; ++i) {
        RaceInfo race;
        race.raceCode = QStringLiteral("R%1").arg(i, 4, 10, QLatin1Char('0'));
        race.raceName = QStringLiteral("Race %1").arg(i);
        race.valid = 4;
        race.liberTime = 1735689600000LL + i * 86400000LL;
        storage->_insertRace(&race);
    }
    storage->_commit();
    storage->setParam(QStringLiteral("channelMode"), QStringLiteral("1"));
}

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

class PaintWatch : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
    bool painted = false;
};

class StyleChangeCounter : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::StyleChange)
            ++changes;
        return false;
    }
    int changes = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("BRELLIUM_CLOSE_PORT", "0");
    QTemporaryDir dir;
    makeRoot(dir.path());
    qputenv("CLOCK_ROOT", dir.path().toLocal8Bit());
    QDir::setCurrent(dir.path() + QStringLiteral("/app/work"));
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    MyApp::init();
    MyApp app(argc, argv);
    fillDatabase();
    const int idleSec = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : kDefaultIdleSec;

    // Every service published, none started: the tick reads their states.
    ServiceFactory *factory = ServiceFactory::getInstance();
    PigeonBo bo;
    MorlanProtocolProcess link(QStringLiteral("/dev/ttyS2"));
    RFIDService rfid(QStringLiteral("/dev/ttyS3"), 0x311);
    GSMService gsm(&bo);
    SoundThread sound;
    factory->pigeonBo = &bo;
    factory->protocolProcess = &link;
    factory->rfidService = &rfid;
    factory->gsmService = &gsm;
    factory->soundThread = &sound;

    QElapsedTimer clock;
    clock.start();
    MainWindow *window = MainWindow::instance();
    PaintWatch paint;
    window->installEventFilter(&paint);
    window->show();
    while (!paint.painted && clock.elapsed() < kFirstPaintLimitMs)
        app.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 10);
    const qint64 firstPaintMs = clock.elapsed();
    window->findChild<QTimer *>()->stop();
    window->resetSubForms();

    std::vector<double> costs;
    costs.reserve(kTicks);
    for (int i = 0; i < kTicks; ++i) {
        QElapsedTimer one;
        one.start();
        QMetaObject::invokeMethod(window, "onTickTimeOut", Qt::DirectConnection);
        costs.push_back(one.nsecsElapsed() / 1e6);
    }
    std::sort(costs.begin(), costs.end());
    double sum = 0;
    for (double c : costs)
        sum += c;
    const double mean = sum / costs.size();
    const double p99 = costs[size_t(costs.size() * 0.99)];

    StyleChangeCounter styles;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *w : widgets)
        w->installEventFilter(&styles);
    for (int i = 0; i < kIdleTicks; ++i)
        QMetaObject::invokeMethod(window, "onTickTimeOut", Qt::DirectConnection);
    for (QWidget *w : widgets)
        w->removeEventFilter(&styles);

    window->findChild<QTimer *>()->start();
    const double cpuBefore = processCpuMs();
    QElapsedTimer idle;
    idle.start();
    QTimer::singleShot(idleSec * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double idleShare = (processCpuMs() - cpuBefore) / double(idle.elapsed());

    std::printf("tick cost: mean %.3f ms (%.4f of 300 ms), p99 %.3f ms (%.4f of 300 ms), %d ticks\n", mean,
                mean / kTickPeriodMs, p99, p99 / kTickPeriodMs, kTicks);
    std::printf("style-sheet changes per idle tick: %.3f (%d over %d ticks)\n", double(styles.changes) / kIdleTicks,
                styles.changes, kIdleTicks);
    std::printf("idle CPU with the menu showing: %.4f of one core over %d s\n", idleShare, idleSec);
    std::printf("MainWindow::instance() to first paint: %lld ms\n", static_cast<long long>(firstPaintMs));

    factory->soundThread = nullptr;
    factory->gsmService = nullptr;
    factory->rfidService = nullptr;
    factory->protocolProcess = nullptr;
    factory->pigeonBo = nullptr;
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    Storage::destroy();
    return 0;
}
