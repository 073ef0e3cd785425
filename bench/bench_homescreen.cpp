// Home screen and home race detail on a busy loft: the GUI thread's time per
// arrival (pigeonBack) on each screen, with the detail showing the race every
// pigeon is basketed for, against a bare select of the rows the screen shows,
// the statements each refresh runs, and the time until the GUI thread is idle
// again after a burst of 100 arrivals with both screens open.
// Usage: bench_homescreen
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/formhome.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/race/formhomeracedetail.h"

#include "benchrow.h"
#include "loftdatabase.h"
#include "testroot.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int kRounds = 20;
constexpr int kBurst = 100;
constexpr int kIdleLimitMs = 600000;

struct Cost
{
    double meanMs = 0;
    double statements = 0;
};

// The mean GUI-thread time and statement count of one call of action,
// with the work it posts to the GUI thread's queue done.
Cost measure(const std::function<void()> &action)
{
    action(); // warm the page cache and the prepared statements
    QCoreApplication::processEvents();
    const quint64 before = Storage::statementCount();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kRounds; ++i) {
        action();
        QCoreApplication::processEvents();
    }
    return {clock.nsecsElapsed() / 1e6 / kRounds, double(Storage::statementCount() - before) / kRounds};
}

void row(const QString &figure, const Cost &screen, const Cost &bare)
{
    BenchRow r;
    r.figure = figure;
    r.value = BenchRow::ms(screen.meanMs) + QStringLiteral(", %1 statements").arg(screen.statements);
    r.reference = QStringLiteral("bare select ") + BenchRow::ms(bare.meanMs);
    r.ratio = bare.meanMs > 0 ? screen.meanMs / bare.meanMs : -1;
    r.print();
}

PigeonRecord arrival()
{
    PigeonRecord record;
    record.assocNum = LoftDatabase::assocNum(1);
    record.raceCode = QLatin1String(LoftDatabase::kRace);
    record.markTime = 1;
    record.backTimeEring = 2;
    return record;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("BRELLIUM_CLOSE_PORT", "0");
    TestRoot root;
    root.writeFile(QStringLiteral("/app/brellium/version"), "8.9.30"); // no upgrade notice
    root.activate();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    MyApp::init();
    MyApp app(argc, argv);
    MyApp::registerMetaTypes();
    if (!LoftDatabase::fill())
        return 1;

    // The engine published but not started: the bench emits its signal.
    PigeonBo bo;
    bo.reflushCache();
    ServiceFactory::getInstance()->pigeonBo = &bo;
    MainWindow *window = MainWindow::instance();
    window->findChild<QTimer *>()->stop();
    window->show();
    window->resetSubForms();
    Storage *db = Storage::instance();
    const QString race = QLatin1String(LoftDatabase::kRace);
    const PigeonRecord record = arrival();

    window->pushSubForm(window->formHome);
    const Cost home = measure([&] {
        QMetaObject::invokeMethod(window->formHome, "onPigeonBack", Qt::DirectConnection, Q_ARG(PigeonRecord, record));
    });
    const Cost homeBare = measure([&] { db->queryRaces(QString()); });
    row(QStringLiteral("home screen: GUI time per pigeonBack (200 races)"), home, homeBare);

    window->formHomeRaceDetail->showRaceDetail(db->findRaceById(race), nullptr);
    const Cost detail = measure([&] {
        QMetaObject::invokeMethod(window->formHomeRaceDetail, "onPigeonBack", Qt::DirectConnection,
                                  Q_ARG(PigeonRecord, record));
    });
    const Cost detailBare =
        measure([&] { db->findRecordsByRaceCode(race, QStringLiteral("backTimeEring,AssocNum")); });
    row(QStringLiteral("home race detail: GUI time per pigeonBack (5,000 basketed)"), detail, detailBare);

    // A burst queued from another thread, as the engine's thread sends it,
    // with the detail on top and the home screen open beneath it.
    const quint64 statementsBefore = Storage::statementCount();
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QThread> sender(QThread::create([&bo, record] {
        for (int i = 0; i < kBurst; ++i)
            emit bo.pigeonBack(record);
    }));
    sender->start();
    sender->wait();
    bool idle = false;
    QTimer::singleShot(0, &app, [&idle] { idle = true; });
    while (!idle && clock.elapsed() < kIdleLimitMs)
        app.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 10);
    BenchRow burst;
    burst.figure = QStringLiteral("GUI thread idle after 100 arrivals (home and detail open)");
    burst.value = BenchRow::ms(clock.nsecsElapsed() / 1e6)
        + QStringLiteral(", %1 statements").arg(Storage::statementCount() - statementsBefore);
    // A burst already queued costs one refresh of each screen.
    burst.reference = QStringLiteral("one arrival on each ") + BenchRow::ms(home.meanMs + detail.meanMs);
    burst.ratio = (clock.nsecsElapsed() / 1e6) / (home.meanMs + detail.meanMs);
    burst.print();

    window->resetSubForms();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    return 0;
}
