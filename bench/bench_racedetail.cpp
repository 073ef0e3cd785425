// The race detail screen on the database of a busy loft (race "R0001": 5,000
// basketed, 4,500 home): the time from opening the screen (doRaceActions,
// which runs onActive) to its first paint, against a raw select of the same
// rows on a plain connection in the same run, and the statements one opening
// runs. Target: an opening under 500 ms.
// Runs offscreen on a simulated root in a temporary directory.
// Usage: bench_racedetail [openings]   (default 9)

#include "benchrow.h"
#include "calltiming.h"
#include "loftdatabase.h"

#include "core/myapp.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "testroot.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/race/formracedetail.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kDefaultOpenings = 9;
constexpr double kTargetMs = 500.0;
const char kRawConnection[] = "bench-racedetail-raw";

double medianMs(const std::function<void()> &call, int times)
{
    return CallTiming::of(call, times).medianMs;
}

// The rows the screen lists, every column read, as the storage layer would.
int rawSelect()
{
    QSqlQuery q(QSqlDatabase::database(QLatin1String(kRawConnection)));
    q.setForwardOnly(true);
    const QString sql = QStringLiteral("select * from Record where raceCode=%1 AND markTime<>0 "
                                       "order by backTimeEring,AssocNum")
                            .arg(Storage::quoted(QLatin1String(LoftDatabase::kRace)));
    if (!q.exec(sql)) {
        std::fprintf(stderr, "raw: %s\n", qPrintable(q.lastError().text()));
        return 0;
    }
    const int columns = q.record().count();
    int rows = 0;
    while (q.next()) {
        for (int c = 0; c < columns; ++c)
            (void)q.value(c);
        ++rows;
    }
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MyApp::registerMetaTypes();
    const int openings = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultOpenings;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    TestRoot root;
    if (!root.isValid())
        return 1;
    root.activate();
    root.writeFile(QStringLiteral("/app/brellium/version"), "8.9.30");
    try {
        Storage::init();
        if (!LoftDatabase::fill())
            return 1;
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kRawConnection));
            raw.setDatabaseName(QLatin1String(Storage::kDatabaseFile));
            raw.open();
        }
        HardwareControl::init(0);
        MainWindow *window = MainWindow::instance();
        window->findChild<QTimer *>()->stop();
        window->show();
        window->resetSubForms();
        FormRaceDetail *screen = window->formRaceDetail;
        const QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(QLatin1String(LoftDatabase::kRace));
        if (!race)
            return 1;

        quint64 statements = 0;
        const double openMs = medianMs(
            [&] {
                window->resetSubForms();
                const quint64 before = Storage::statementCount();
                screen->doRaceActions(race, nullptr);
                screen->repaint();
                statements = Storage::statementCount() - before;
            },
            openings);
        int rows = 0;
        const double rawMs = medianMs([&] { rows = rawSelect(); }, openings);
        std::printf("race detail opening: %d rows listed; to first paint median %.2f ms; raw select median %.2f ms; "
                    "%llu statements per opening\n",
                    rows, openMs, rawMs, static_cast<unsigned long long>(statements));
        BenchRow row;
        row.figure = QStringLiteral("race detail: opening to first paint (5,000 basketed)");
        row.value = BenchRow::ms(openMs);
        row.reference = BenchRow::ms(rawMs) + QStringLiteral(" raw select");
        row.ratio = rawMs > 0 ? openMs / rawMs : -1;
        row.target = QStringLiteral("< 500 ms");
        row.met = BenchRow::meets(openMs < kTargetMs);
        row.print();
        BenchRow count;
        count.figure = QStringLiteral("race detail: statements per opening");
        count.value = QString::number(statements);
        count.print();
        window->resetSubForms();
        MainWindow::destroyInstance();
        FormMessage::destroyInstance();
    } catch (const VexException &e) {
        std::fprintf(stderr, "bench_racedetail: %s\n", qPrintable(e.getErrorMessage()));
        return 1;
    }
    Storage::destroy();
    QSqlDatabase::removeDatabase(QLatin1String(kRawConnection));
    return 0;
}
