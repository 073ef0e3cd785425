// Ring assignment by the club reader through the real screen and link
// against the club router peer paced at 9600 baud: the time from a ring
// presented at the reader to "Click <OK> to assign!" beside one bare read
// exchange of the link measured in the same run, and, over a minute of empty
// reads, the reads sent per answer the screen took (one chain gives 1).
#include "club/clubreads.h"
#include "club/morlanprotolprocess.h"
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formassigment.h"

#include "benchrow.h"
#include "calltiming.h"
#include "clubportpeer.h"
#include "clubrouter.h"
#include "guifixture.h"
#include "peerline.h"
#include "reportfixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kPigeons = 20;
constexpr int kBareReads = 20;
constexpr int kFoundLimitMs = 20000;
constexpr int kEmptyWindowMs = 60000;
constexpr int kWaitStepMs = 2;

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

QString ringOf(int i)
{
    return QStringLiteral("0000C%1").arg(i, 3, 10, QLatin1Char('0'));
}

// Runs the event loop until the test holds or the bound passes.
bool waitFor(const std::function<bool()> &done, int limitMs)
{
    return ::waitFor(done, limitMs, kWaitStepMs);
}

// One read of the link with a ring at the reader, asked and answered
// without any screen: the floor of what the screen can do.
std::vector<double> bareReadsMs(MorlanProtocolProcess *link)
{
    std::vector<double> times;
    ClubReads reads(link);
    bool answered = false;
    QObject::connect(&reads, &ClubReads::readTagEnd, [&answered](QString, quint8, QString) { answered = true; });
    for (int i = 0; i < kBareReads; ++i) {
        answered = false;
        QElapsedTimer timer;
        timer.start();
        reads.readTag();
        if (!waitFor([&answered] { return answered; }, kFoundLimitMs))
            break;
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return times;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    MyApp app(argc, argv);
    MyApp::registerMetaTypes();
    qInstallMessageHandler(quiet);

    ReportFixture fixture;
    fixture.peer().setPacing(true);
    for (int i = 0; i < kPigeons; ++i) {
        PigeonInfo pigeon;
        pigeon.assocNum = QStringLiteral("P%1").arg(i);
        pigeon.eringNum = QStringLiteral("");
        pigeon.color = QStringLiteral("Blue");
        Storage::instance()->savePigeon(&pigeon);
    }
    if (!fixture.startClub()) {
        std::printf("the router did not authorise the clock\n");
        return 1;
    }
    // Built as the screen suites build it: a window made with the link
    // published would take the link out of club mode at its reset.
    auto gui = std::make_unique<GuiFixture>(&fixture.store());
    MainWindow *window = gui->window();
    FormAssigment *screen = window->formAssigment;
    QLabel *tip = screen->findChild<QLabel *>(QStringLiteral("labTipInfo"));
    QPushButton *ok = screen->findChild<QPushButton *>(QStringLiteral("btnAssign"));
    const QString found = QStringLiteral("Click <OK> to assign!");

    fixture.peer().router().presentRing(QByteArray::fromHex("0000C999"), 1);
    const std::vector<double> bare = bareReadsMs(&fixture.link());
    fixture.peer().router().takeRingAway();

    std::vector<double> latency;
    int assigned = 0;
    for (int i = 0; i < kPigeons; ++i) {
        screen->showForm(QStringLiteral("P%1").arg(i), nullptr);
        QElapsedTimer presented;
        presented.start();
        fixture.peer().router().presentRing(QByteArray::fromHex(ringOf(i).toLatin1()), 1);
        if (!waitFor([tip, &found] { return tip->text() == found; }, kFoundLimitMs))
            break;
        latency.push_back(double(presented.nsecsElapsed()) / 1e6);
        ok->click();
        fixture.peer().router().takeRingAway();
        ++assigned;
    }

    // A minute of empty reads: every answer the screen takes asks once more.
    screen->showForm(QStringLiteral("P0"), nullptr);
    int answers = 0;
    const ClubReads *reads = screen->findChild<ClubReads *>();
    if (reads)
        QObject::connect(reads, &ClubReads::readTagEnd, [&answers](QString, quint8, QString) { ++answers; });
    const int readsBefore = fixture.peer().framesOf(ClubRouter::ReadTransponder).size();
    QEventLoop idle;
    QTimer::singleShot(kEmptyWindowMs, &idle, &QEventLoop::quit);
    idle.exec();
    const int readsSent = fixture.peer().framesOf(ClubRouter::ReadTransponder).size() - readsBefore
        + fixture.link().queuedCommandCount();
    window->resetSubForms();

    const double bareP50 = percentile(bare, 0.5);
    std::printf("rings %d of %d found; ring presented to found: p50 %.1f ms, p99 %.1f ms; bare read exchange "
                "p50 %.1f ms; empty minute: %d reads sent, %d answers taken\n",
                assigned, kPigeons, percentile(latency, 0.5), percentile(latency, 0.99), bareP50, readsSent,
                answers);

    BenchRow row;
    row.figure = QStringLiteral("club-reader assignment: ring presented to found, p50");
    row.value = BenchRow::ms(percentile(latency, 0.5));
    row.reference = BenchRow::ms(bareP50) + QStringLiteral(" bare read exchange");
    row.ratio = bareP50 > 0 ? percentile(latency, 0.5) / bareP50 : -1.0;
    row.met = BenchRow::meets(assigned == kPigeons);
    row.target = QStringLiteral("all %1 found").arg(kPigeons);
    row.print();
    row = BenchRow();
    row.figure = QStringLiteral("club-reader assignment: ring presented to found, p99");
    row.value = BenchRow::ms(percentile(latency, 0.99));
    row.reference = BenchRow::ms(percentile(bare, 0.99)) + QStringLiteral(" bare read exchange");
    row.print();
    row = BenchRow();
    row.figure = QStringLiteral("club-reader assignment: reads sent per answer taken over a minute");
    row.value = QString::number(double(readsSent) / std::max(1, answers), 'f', 2);
    row.reference = QStringLiteral("one chain = 1 (plus the one outstanding)");
    row.ratio = double(readsSent) / std::max(1, answers);
    row.met = BenchRow::meets(answers > 0 && readsSent <= answers + 1);
    row.target = QStringLiteral("at most one read per answer");
    row.print();

    gui.reset();
    return assigned == kPigeons ? 0 : 1;
}
