// Basketing through the real screen and link against the club router peer
// paced at 9600 baud: pigeons marked per minute over a scripted series of
// rings (each presented until its mark is stored, then taken away), link
// commands per pigeon, and the time from the router's set-random exchange to
// the mark committed as another connection sees it, against one bare durable
// commit measured in the same run.
#include "club/morlanprotolprocess.h"
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "race/pigeonbo.h"
#include "storage/pigeoninfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formmarking.h"

#include "barecommit.h"
#include "benchrow.h"
#include "calltiming.h"
#include "clubportpeer.h"
#include "clubrouter.h"
#include "dbreader.h"
#include "guifixture.h"
#include "peerline.h"
#include "reportfixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kPigeons = 20;
constexpr int kMarkLimitMs = 20000;
constexpr int kPollMs = 1;
constexpr int kBareCommits = 100;
constexpr int kWaitStepMs = 5;

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

QString ringOf(int i)
{
    return QStringLiteral("0000B%1").arg(i, 3, 10, QLatin1Char('0'));
}

// Watches the database from a connection of its own and notes, in the
// peer's clock, when each pigeon's mark is first seen committed.
class CommitWatch : public QThread
{
public:
    CommitWatch(const QString &databaseFile, int pigeons)
        : file(databaseFile)
        , seenMs(pigeons, 0)
    {
    }
    std::atomic<bool> stop{false};
    QString file;
    std::vector<qint64> seenMs;

protected:
    void run() override
    {
        DbReader db(file);
        while (!stop) {
            for (const QVariantList &row :
                 db.rows(QStringLiteral("select AssocNum from Record where MarkTime<>0 and RaceCode='R1'"))) {
                const int i = row.value(0).toString().mid(1).toInt();
                if (i >= 0 && i < int(seenMs.size()) && seenMs[size_t(i)] == 0)
                    seenMs[size_t(i)] = PeerLine::nowMs();
            }
            QThread::msleep(kPollMs);
        }
    }
};

// Runs the event loop until the test holds or the bound passes.
bool waitFor(const std::function<bool()> &done, int limitMs)
{
    return ::waitFor(done, limitMs, kWaitStepMs);
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
        pigeon.eringNum = ringOf(i);
        pigeon.color = QStringLiteral("Blue");
        Storage::instance()->savePigeon(&pigeon);
    }
    RaceInfo race;
    race.raceCode = QStringLiteral("R1");
    race.valid = 1;
    race.liberTime = ReportFixture::kDeviceMs + 86400000;
    Storage::instance()->saveRace(&race);
    if (!fixture.startClub()) {
        std::printf("the router did not authorise the clock\n");
        return 1;
    }
    PigeonBo engine;
    engine.reflushCache();
    ServiceFactory::getInstance()->pigeonBo = &engine;
    // Built as the screen suites build it: a window made with the link
    // published would take the link out of club mode at its reset.
    auto gui = std::make_unique<GuiFixture>(&fixture.store());
    MainWindow *window = gui->window();

    CommitWatch watch(fixture.store().databasePath(), kPigeons);
    watch.start();
    fixture.peer().clearFrames();
    window->formMarking->startRaceMark(race.raceCode, fixture.peer().router().clock());
    QElapsedTimer series;
    series.start();
    int marked = 0;
    for (int i = 0; i < kPigeons; ++i) {
        fixture.peer().router().presentRing(QByteArray::fromHex(ringOf(i).toLatin1()), 1);
        if (!waitFor([&watch, i] { return watch.seenMs[size_t(i)] != 0; }, kMarkLimitMs))
            break;
        ++marked;
        fixture.peer().router().takeRingAway();
    }
    const double seriesMs = double(series.elapsed());
    watch.stop = true;
    watch.wait();

    const QList<ClubPortPeer::Frame> writes = fixture.peer().framesOf(ClubRouter::SetRandom);
    const int reads = fixture.peer().framesOf(ClubRouter::ReadTransponder).size();
    std::vector<double> latency;
    // Each write's mark is the first one seen after it.
    for (const ClubPortPeer::Frame &write : writes) {
        qint64 best = -1;
        for (qint64 seen : watch.seenMs) {
            if (seen >= write.timeMs && (best < 0 || seen < best))
                best = seen;
        }
        if (best >= 0)
            latency.push_back(double(best - write.timeMs));
    }
    const std::vector<double> bare = bareCommitsMs(fixture.store().root().root(), kBareCommits);
    const double bareP50 = percentile(bare, 0.5);
    std::printf("pigeons %d of %d marked in %.0f ms; commands: %d reads, %d writes; set-random request to "
                "mark seen: p50 %.1f ms, max %.1f ms; bare durable commit p50 %.2f ms\n",
                marked, kPigeons, seriesMs, reads, int(writes.size()), percentile(latency, 0.5),
                percentile(latency, 1.0), bareP50);

    BenchRow row;
    row.figure = QStringLiteral("basketing: pigeons per minute at 9600 baud");
    row.value = QString::number(marked * 60000.0 / std::max(1.0, seriesMs), 'f', 1);
    row.met = BenchRow::meets(marked == kPigeons);
    row.target = QStringLiteral("all %1 marked").arg(kPigeons);
    row.print();
    row = BenchRow();
    row.figure = QStringLiteral("basketing: link commands per pigeon");
    row.value = QString::number(double(reads + writes.size()) / std::max(1, marked), 'f', 1);
    row.reference = QStringLiteral("one read and one write = 2");
    row.ratio = double(reads + writes.size()) / std::max(1, marked) / 2.0;
    row.print();
    row = BenchRow();
    row.figure = QStringLiteral("basketing: set-random request to mark committed, p50");
    row.value = BenchRow::ms(percentile(latency, 0.5));
    row.reference = BenchRow::ms(bareP50) + QStringLiteral(" bare durable commit");
    row.ratio = bareP50 > 0 ? percentile(latency, 0.5) / bareP50 : -1.0;
    row.print();

    window->resetSubForms();
    gui.reset();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    return marked == kPigeons ? 0 : 1;
}
