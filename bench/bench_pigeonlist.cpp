// The pigeon list on a busy loft (5,000 ringed pigeons, all basketed for
// "R0001"): the time from the entry operation to the list shown and the
// statements one opening runs, in user mode and in the race unmark mode,
// against the pigeon query alone in the same run. The race modes read one
// record per pigeon on top of the query.
// Usage: bench_pigeonlist [runs]   (default 5)
#include "benchrow.h"
#include "loftdatabase.h"

#include "core/myapp.h"
#include "core/version.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "storage/pigeoninfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "testroot.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formpigeonlist.h"

#include <QElapsedTimer>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kDefaultRuns = 5;
constexpr int kRaceNew = 1;

struct Figure
{
    double medianMs = 0;
    quint64 statements = 0; // of one run
    int rows = 0;
};

// Runs open() runs times; the median time and the statements of the last run.
Figure measure(int runs, const std::function<int()> &open)
{
    std::vector<double> times;
    Figure figure;
    for (int i = 0; i < runs; ++i) {
        const quint64 before = Storage::statementCount();
        QElapsedTimer timer;
        timer.start();
        figure.rows = open();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        figure.statements = Storage::statementCount() - before;
    }
    std::sort(times.begin(), times.end());
    figure.medianMs = times[times.size() / 2];
    return figure;
}

void report(const QString &what, const Figure &list, const Figure &query)
{
    std::printf("%s: %.1f ms, %llu statements, %d rows (query alone %.1f ms, %llu statements)\n", qPrintable(what),
                list.medianMs, static_cast<unsigned long long>(list.statements), list.rows, query.medianMs,
                static_cast<unsigned long long>(query.statements));
    BenchRow time;
    time.figure = QStringLiteral("pigeon list shown, ") + what;
    time.value = BenchRow::ms(list.medianMs);
    time.reference = BenchRow::ms(query.medianMs) + QStringLiteral(" queryPigeons(\"\") alone");
    time.ratio = query.medianMs > 0 ? list.medianMs / query.medianMs : -1;
    time.print();
    BenchRow statements;
    statements.figure = QStringLiteral("statements per opening, ") + what;
    statements.value = QString::number(list.statements);
    statements.reference = QString::number(query.statements) + QStringLiteral(" for the query alone");
    statements.ratio = query.statements > 0 ? double(list.statements) / double(query.statements) : -1;
    statements.print();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int runs = kDefaultRuns;
    if (argc > 1)
        runs = std::max(1, QString::fromLocal8Bit(argv[1]).toInt());
    // The storage layer's debug lines would drown the report.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    TestRoot root;
    if (!root.isValid())
        return 1;
    root.activate();
    root.writeFile(QStringLiteral("/app/brellium/version"), ProgramVersion::kText);
    MyApp app(argc, argv);
    MyApp::registerMetaTypes();
    try {
        Storage::init();
        if (!LoftDatabase::fill())
            return 1;
        Storage *storage = Storage::instance();
        // The unmark mode is the one of a race still new.
        QSharedPointer<RaceInfo> race = storage->findRaceById(QLatin1String(LoftDatabase::kRace));
        if (!race)
            return 1;
        race->valid = kRaceNew;
        storage->saveRace(race.data());

        HardwareControl::init(0);
        MainWindow *window = MainWindow::instance();
        window->findChild<QTimer *>()->stop();
        window->show();
        FormPigeonList *list = window->formPigeonList;
        auto *table = list->findChild<QTableWidget *>(QStringLiteral("tablePigeons"));
        const auto opened = [&](const std::function<void()> &entry) {
            window->resetSubForms();
            entry();
            return table->rowCount();
        };
        const Figure query = measure(runs, [storage] { return int(storage->queryPigeons(QString()).size()); });
        const Figure user = measure(runs, [&] { return opened([list] { list->doUserActions(); }); });
        const Figure unmark = measure(runs, [&] {
            return opened([list] { list->showMarking(QLatin1String(LoftDatabase::kRace)); });
        });
        report(QStringLiteral("user mode"), user, query);
        report(QStringLiteral("race unmark mode"), unmark, query);
        window->resetSubForms();
    } catch (const VexException &e) {
        std::fprintf(stderr, "bench_pigeonlist: %s\n", qPrintable(e.getErrorMessage()));
        return 1;
    }
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    Storage::destroy();
    return 0;
}
