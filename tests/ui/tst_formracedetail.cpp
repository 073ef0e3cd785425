#include "club/morlanprotolprocess.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "print/racepigeonsreport.h"
#include "print/reportprinter.h"
#include "race/pigeonbo.h"
#include "storage/nomination.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/formmessagehandler.h"
#include "ui/mainwindow.h"
#include "ui/race/formracedetail.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "clubside.h"
#include "guifixture.h"
#include "networkrig.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "reportfixture.h"
#include "screendriver.h"

#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QThread>
#include <QTableWidget>
#include <QTest>

#include <functional>
#include <memory>

namespace {

const char kSuite[] = "tst_formracedetail";
// Device clock as the printed lists' tests use it: club time 125 s ahead.
constexpr qint64 kDeviceMs = ReportFixture::kDeviceMs;
constexpr qint64 kClubDiffMs = ReportFixture::kClubDiffMs;
constexpr qint64 kClubNowMs = kDeviceMs + kClubDiffMs;
// Basketed five hours ago through the club system: the loft time on the
// club time line, the club's own clock 300 ms ahead of it.
constexpr qint64 kMarkDeviceMs = kClubNowMs - 5 * 3600000;
constexpr qint64 kMarkReaderMs = kMarkDeviceMs + 300;
constexpr qint64 kStopReaderMs = kClubNowMs - 60000;
constexpr int kRandomMs = 77;
// What the link adds to the router's whole seconds.
constexpr qint64 kHalfSecondMs = 500;
constexpr int kSyncBoundMs = 1500;
constexpr int kClubTimeLocked = 0x02; // bit of the engine's time mode

enum Pair { NoPair, DeviceOnly, BothTimes };

// Every answer the screen gives its opener.
class Recorder : public FormMessageHandler
{
public:
    void onFormMessage(QMessageBox::StandardButton button, void *data) override
    {
        const auto *race = static_cast<RaceInfo *>(data);
        calls << (button == QMessageBox::Ok ? (race ? race->raceCode : QStringLiteral("null")) : QStringLiteral("?"));
        if (race)
            seen = *race;
        if (hook)
            hook();
    }
    QStringList calls;
    RaceInfo seen;
    std::function<void()> hook;
};

// The screen's world for one test: the window on a fresh database, the
// club router authorised on the link, a fixed device clock, the race
// engine published (not started) and the prompts kept in a queue.
struct World
{
    explicit World(bool authorise = true)
    {
        Platform::setSystemClock([] { return kDeviceMs; });
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = kClubDiffMs;
        UTC::setTimeZone(ReportFixture::kZoneSeconds);
        ReportPrinter::setPauseFunction([this](int) {
            ++pauses;
            if (onPause)
                onPause();
        });
        FormRaceDetail::setRandomTerm([] { return kRandomMs; });
        LoftSeed::loft();
        bo.reflushCache();
        ServiceFactory::getInstance()->pigeonBo = &bo;
        club.link().setSyncTimeoutMs(kSyncBoundMs);
        authorised = !authorise || club.startClub();
        // The router's clock as the clock's own club time.
        club.peer().router().setClock(kClubNowMs);
    }
    ~World()
    {
        ServiceFactory::getInstance()->pigeonBo = nullptr;
        FormRaceDetail::setRandomTerm({});
        ReportPrinter::setPauseFunction({});
        UTC::_clubTimeDiff = 0;
        Platform::setSystemClock({});
    }

    FormRaceDetail *screen() { return gui.window()->formRaceDetail; }
    // The race as stored, read back through a fresh query.
    QSharedPointer<RaceInfo> stored(const QString &code) { return Storage::instance()->findRaceById(code); }
    // Holds the router's clock at utcMs (whole seconds; the link adds 500 ms).
    void holdRouterTime(qint64 utcMs)
    {
        club.peer().setAnswer(ClubRouter::GetTime, 0,
                              ClubRouter::timeText(utcMs) + QByteArray(1, '\0') + QByteArray(1, '\x01'));
    }
    void open(const QSharedPointer<RaceInfo> &race) { screen()->doRaceActions(race, &opener); }
    QPushButton *button(const char *name) { return screen()->findChild<QPushButton *>(QLatin1String(name)); }
    void click(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    // Enabled on the screen itself: a box over it disables the whole screen.
    bool enabled(const char *name) { return button(name)->isEnabledTo(screen()); }
    QString label(const char *name) { return ScreenDriver(screen(), QLatin1String(kSuite)).text(name); }
    void shot(const QString &name) { ScreenDriver(screen(), QLatin1String(kSuite)).shot(name); }
    int logRows(int type)
    {
        return gui.store().value(QStringLiteral("select count(*) from Log where LogType=%1").arg(type)).toInt();
    }
    QString raceRows() { return gui.store().dump(); }

    GuiFixture gui;
    ClubSide club{gui.root()};
    PromptQueue sound;
    PigeonBo bo;
    Recorder opener;
    bool authorised = false;
    int pauses = 0;
    std::function<void()> onPause;
};

// A race as the race list hands it over: stored, then loaded.
QSharedPointer<RaceInfo> seedRace(const QString &code, int valid, Pair pair, qint64 stopReaderMs = 0,
                                  bool printed = false, int printCount = 1)
{
    RaceInfo race = LoftSeed::race(code, valid);
    race.liberName = QStringLiteral("Orleans");
    race.clubCode = QStringLiteral("CLUB7");
    race.markDeviceTime = pair == NoPair ? 0 : kMarkDeviceMs;
    race.markReaderTime = pair == BothTimes ? kMarkReaderMs : 0;
    race.raceStopReaderTime = stopReaderMs;
    race.raceStopDeviceTime = stopReaderMs ? stopReaderMs - kClubDiffMs : 0;
    race.backPrintFlag = printed;
    race.printCount = printCount;
    Storage::instance()->saveRace(&race);
    return Storage::instance()->findRaceById(code);
}

// Pigeons of a race: the arrived ones home at the given offsets after the
// mark, in that order of the list; the others basketed only.
void seedPigeons(const QString &code, const QStringList &arrived, const QList<qint64> &backOffsetsMs,
                 const QStringList &notArrived)
{
    int order = 0;
    for (int i = 0; i < arrived.size(); ++i) {
        LoftSeed::pigeon(arrived.at(i), QStringLiteral("E") + arrived.at(i));
        LoftSeed::basket(arrived.at(i), code, kMarkDeviceMs + 1000 * (i + 1));
        LoftSeed::arrive(arrived.at(i), code, kMarkDeviceMs + backOffsetsMs.at(i), ++order);
    }
    for (int i = 0; i < notArrived.size(); ++i) {
        LoftSeed::pigeon(notArrived.at(i), QStringLiteral("E") + notArrived.at(i));
        LoftSeed::basket(notArrived.at(i), code, kMarkDeviceMs + 100000 + 1000 * i);
    }
}

// The upload's world: the network rig (modem peer, modem thread, cloud
// endpoint, race engine) on its own database, the window on that one, and a
// link published but not started with its authorisation set: the screen
// only reads that flag here.
struct UploadWorld
{
    UploadWorld()
    {
        ServiceFactory::getInstance()->pigeonBo = &rig.engine;
        rig.engine.setMailboxWait({kMailboxPolls, kMailboxPollMs});
        club.link().authed = true;
        rig.gate.allow(TurnGate::Gprs, -1);
        rig.start();
    }
    ~UploadWorld() { ServiceFactory::getInstance()->pigeonBo = nullptr; }
    bool online() const { return rig.service.getGSMState().flags & 0x8; }
    FormRaceDetail *screen() { return gui.window()->formRaceDetail; }
    void click() { QTest::mouseClick(screen()->findChild<QPushButton *>(QStringLiteral("btnUpload")), Qt::LeftButton); }
    QString boxText() const { return FormMessage::instance()->text(); }
    // Race "R1", closed through the club, opened as the race list would.
    QSharedPointer<RaceInfo> openClosedRace()
    {
        NetworkRig::addRace(QStringLiteral("R1"), 4);
        const auto race = NetworkRig::race(QStringLiteral("R1"));
        race->markDeviceTime = kMarkDeviceMs;
        race->markReaderTime = kMarkReaderMs;
        race->raceStopReaderTime = kStopReaderMs;
        Storage::instance()->saveRace(race.data());
        screen()->doRaceActions(race, &opener);
        return race;
    }

    static constexpr int kMailboxPolls = 500;
    static constexpr int kMailboxPollMs = 10;
    NetworkRig rig;
    GuiFixture gui{&rig.db};
    ClubSide club{rig.db.root()};
    PromptQueue sound;
    Recorder opener;
};

// A blocking upload of another screen, on a thread of its own.
struct OtherPoster
{
    explicit OtherPoster(const std::function<void()> &post)
    {
        thread.reset(QThread::create([post] {
            try {
                post();
            } catch (const VexException &) {
            }
            Storage::destroy();
        }));
        thread->start();
    }
    ~OtherPoster() { thread->wait(NetworkRig::kWaitMs); }
    std::unique_ptr<QThread> thread;
};

// Every text the message box paints, in order, once each time it changes.
class BoxTexts : public QObject
{
public:
    explicit BoxTexts(QLabel *label)
        : watched(label)
    {
        watched->installEventFilter(this);
    }
    ~BoxTexts() override { watched->removeEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && (texts.isEmpty() || texts.last() != watched->text()))
            texts << watched->text();
        return false;
    }
    QStringList texts;

private:
    QLabel *watched;
};

QStringList column(QTableWidget *table, int col)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, col) ? table->item(row, col)->text() : QStringLiteral("<none>"));
    return texts;
}

QString fullTime(qint64 ms)
{
    return UTC::format(ms, QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

} // namespace

// The race detail screen against the club router peer: its buttons by the
// link and the race, the two lists, and Arrive, Close, Print, Upload and
// Delete with what they store, log, print and tell the race list.
class TestFormRaceDetail : public QObject
{
    Q_OBJECT
private slots:
    void buttons_data();
    void buttons();
    void buttons_hiddenUntilNextOpening();
    void opening_showsRaceAndLists();
    void opening_raceWithoutPigeons();
    void opening_nullRaceOpensNothing();
    void arrive_storesReconciledPair_data();
    void arrive_storesReconciledPair();
    void arrive_failedReadChangesNothing_data();
    void arrive_failedReadChangesNothing();
    void close_data();
    void close();
    void close_questionShowsBothTimes();
    void close_failedSaveKeepsStoredRace();
    void delete_removesRace_data();
    void delete_removesRace();
    void delete_answerAfterHomeChangesNothing();
    void print_data();
    void print();
    void print_refusalMidPage();
    void print_inputDuringPrintStartsNothing();
    void upload_offline();
    void upload_closesAndRepeats();
    void upload_failureChangesNothing_data();
    void upload_failureChangesNothing();
    void clubOrder_arriveClosePrintUploadDelete();
};

void TestFormRaceDetail::buttons_data()
{
    QTest::addColumn<int>("valid");
    QTest::addColumn<int>("pair");
    QTest::addColumn<qint64>("stopReader");
    QTest::addColumn<bool>("printed");
    // Enabled states of Arrive, Print, Delete/Close, Upload, and the text of btnDelete.
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<QString>("deleteText");

    QTest::newRow("no sync pair, open") << 1 << int(NoPair) << qint64(0) << false << "0010" << "Delete";
    QTest::newRow("no sync pair, state 3") << 3 << int(NoPair) << kStopReaderMs << false << "0010" << "Delete";
    QTest::newRow("open, no stop pair") << 3 << int(BothTimes) << qint64(0) << false << "1010" << "Close";
    QTest::newRow("open, stop pair") << 3 << int(BothTimes) << kStopReaderMs << false << "1110" << "Close";
    QTest::newRow("open, loft time only") << 1 << int(DeviceOnly) << qint64(0) << false << "1010" << "Close";
    QTest::newRow("closed, not printed") << 4 << int(BothTimes) << kStopReaderMs << false << "0101" << "Delete";
    QTest::newRow("closed, printed") << 4 << int(BothTimes) << kStopReaderMs << true << "0111" << "Delete";
    QTest::newRow("uploaded, printed") << 12 << int(BothTimes) << kStopReaderMs << true << "0111" << "Delete";
    QTest::newRow("closed without arrival") << 4 << int(DeviceOnly) << qint64(0) << false << "0001" << "Delete";
    // Bit 0x8 cleared: 13 judged as 5, an open race.
    QTest::newRow("state 13") << 13 << int(BothTimes) << qint64(0) << false << "1010" << "Close";
}

void TestFormRaceDetail::buttons()
{
    QFETCH(int, valid);
    QFETCH(int, pair);
    QFETCH(qint64, stopReader);
    QFETCH(bool, printed);
    QFETCH(QString, enabled);
    QFETCH(QString, deleteText);
    World world;
    QVERIFY(world.authorised);
    world.open(seedRace(QStringLiteral("R1"), valid, Pair(pair), stopReader, printed));
    QCOMPARE(world.gui.window()->topSubForm(), world.screen());

    QString shown;
    for (const char *name : {"btnArriveRace", "btnPrint", "btnDelete", "btnUpload"}) {
        QVERIFY(world.button(name)->isVisible());
        shown += world.enabled(name) ? QLatin1Char('1') : QLatin1Char('0');
    }
    QCOMPARE(shown, enabled);
    QCOMPARE(world.button("btnDelete")->text(), deleteText);
    world.shot(QStringLiteral("buttons-%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')).remove(QLatin1Char(','))));
}

void TestFormRaceDetail::buttons_hiddenUntilNextOpening()
{
    World world(false); // link published, never started: not authorised
    const auto race = seedRace(QStringLiteral("R1"), 3, BothTimes);
    world.open(race);
    for (const char *name : {"btnArriveRace", "btnPrint", "btnDelete", "btnUpload"})
        QVERIFY2(!world.button(name)->isVisible(), name);
    QCOMPARE(world.label("labelRaceCode"), QStringLiteral("R1")); // the data stays usable
    world.shot(QStringLiteral("not-authorised"));
    world.gui.window()->popSubForm(SubWindow::DeactiveHide);

    QVERIFY(world.club.startClub());
    world.open(race);
    for (const char *name : {"btnArriveRace", "btnPrint", "btnDelete", "btnUpload"})
        QVERIFY2(world.button(name)->isVisible(), name);
    QCOMPARE(world.button("btnDelete")->text(), QStringLiteral("Close"));
}

void TestFormRaceDetail::opening_showsRaceAndLists()
{
    World world;
    const auto race = seedRace(QStringLiteral("R5"), 3, BothTimes, kStopReaderMs, false, 3);
    // Arrived out of name order: P3 first, then P1, then P2.
    seedPigeons(QStringLiteral("R5"), {QStringLiteral("P3"), QStringLiteral("P1"), QStringLiteral("P2")},
                {3600000, 3700000, 3800000}, {QStringLiteral("P5"), QStringLiteral("P4")});
    world.open(race);

    QCOMPARE(world.label("labelRaceCode"), QStringLiteral("R5"));
    QCOMPARE(world.label("labelLibName"), QStringLiteral("Orleans"));
    QCOMPARE(world.label("labelLibTime"), fullTime(race->liberTime));
    QCOMPARE(world.label("labelClubId"), QStringLiteral("CLUB7"));
    QCOMPARE(world.label("labelTotalPigeons"), QStringLiteral("5"));
    QCOMPARE(world.label("labelTotalBack"), QStringLiteral("3"));
    QCOMPARE(world.label("labMarkTime"), fullTime(kMarkReaderMs));
    QCOMPARE(world.label("labArriveTime"), fullTime(kStopReaderMs));
    QCOMPARE(world.button("btnPrint")->text(), QStringLiteral("Print(3)"));

    auto *table = world.screen()->findChild<QTableWidget *>(QStringLiteral("tableRecords"));
    QCOMPARE(column(table, 0), QStringList({"1", "2", "3"}));
    QCOMPARE(column(table, 1), QStringList({"P3", "P1", "P2"}));
    QCOMPARE(column(table, 2).first(), UTC::format(kMarkDeviceMs + 3600000, QStringLiteral("dd/MM hh:mm:ss")));
    QVERIFY(world.button("btnArrival")->styleSheet().contains(QLatin1String("Total-Of-Marking.png")));
    QVERIFY(world.button("btnNotArrival")->styleSheet().contains(QLatin1String("Total-Of-Arrived.png")));
    world.shot(QStringLiteral("list-arrived"));

    const int prompts = world.sound.size();
    world.click("btnNotArrival");
    QCOMPARE(column(table, 0), QStringList({"1", "2"}));
    QCOMPARE(column(table, 1), QStringList({"P4", "P5"}));
    QCOMPARE(column(table, 2), QStringList({"--", "--"}));
    QVERIFY(world.button("btnNotArrival")->styleSheet().contains(QLatin1String("Total-Of-Marking.png")));
    QVERIFY(world.button("btnArrival")->styleSheet().contains(QLatin1String("Total-Of-Arrived.png")));
    world.click("btnNotArrival"); // already shown: no sound, nothing
    QCOMPARE(world.sound.prompts().mid(prompts), QStringList({"keyPress"}));
    world.shot(QStringLiteral("list-not-arrived"));
}

void TestFormRaceDetail::opening_raceWithoutPigeons()
{
    World world;
    world.open(seedRace(QStringLiteral("R0"), 1, NoPair));
    auto *table = world.screen()->findChild<QTableWidget *>(QStringLiteral("tableRecords"));
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(world.label("labelTotalPigeons"), QStringLiteral("0"));
    QCOMPARE(world.label("labelTotalBack"), QStringLiteral("0"));
    QCOMPARE(world.label("labMarkTime"), QString());
    QCOMPARE(world.label("labArriveTime"), QString());
}

void TestFormRaceDetail::opening_nullRaceOpensNothing()
{
    World world;
    world.screen()->doRaceActions({}, &world.opener);
    QCOMPARE(world.gui.window()->topSubForm(), nullptr);
}

void TestFormRaceDetail::arrive_storesReconciledPair_data()
{
    QTest::addColumn<qint64>("routerMs");
    QTest::addColumn<qint64>("expectedDevice");
    const qint64 inStep = kClubNowMs - 1000; // the link adds 500 ms: 800 ms apart
    QTest::newRow("in step: club line + random")
        << inStep << kMarkDeviceMs + (inStep + kHalfSecondMs - kMarkReaderMs) + kRandomMs;
    // Five hours since basketing: tolerance 4833 ms; 3.8 s off takes the fixed 1900 ms.
    const qint64 threeOff = kClubNowMs - 4000;
    QTest::newRow("3.8 s apart: club line + 1900")
        << threeOff << kMarkDeviceMs + (threeOff + kHalfSecondMs - kMarkReaderMs) + 1900;
    QTest::newRow("a minute apart: own club time") << kClubNowMs - 60000 << kClubNowMs;
}

void TestFormRaceDetail::arrive_storesReconciledPair()
{
    QFETCH(qint64, routerMs);
    QFETCH(qint64, expectedDevice);
    World world;
    world.club.peer().router().setRouterId(QByteArray::fromHex("00A1B2C3"));
    const auto race = seedRace(QStringLiteral("R1"), 3, BothTimes, 0, true);
    world.open(race);
    world.holdRouterTime(routerMs);

    world.click("btnArriveRace");
    QCOMPARE(world.gui.box()->title(), QStringLiteral("Warning"));
    QCOMPARE(world.gui.boxText(), QStringLiteral("Please confirm arrival process for this race!\nRace Code:R1\n"));
    world.shot(QStringLiteral("arrive-question"));
    world.gui.answerBox(QMessageBox::Ok);

    const auto stored = world.stored(QStringLiteral("R1"));
    QCOMPARE(stored->raceStopReaderTime, routerMs + kHalfSecondMs);
    QCOMPARE(stored->raceStopDeviceTime, expectedDevice);
    QCOMPARE(stored->backPrintFlag, false);
    QCOMPARE(stored->backPrintReaderId, world.club.link().getRouterId());
    QCOMPARE(stored->backPrintAuthKey, world.club.link().getAuthKey());
    QVERIFY(!stored->backPrintReaderId.isEmpty());
    QCOMPARE(stored->valid, 3);
    // The race list's copy follows.
    QCOMPARE(race->raceStopDeviceTime, expectedDevice);
    QCOMPARE(world.opener.calls, QStringList({"R1"}));
    QCOMPARE(world.label("labArriveTime"), fullTime(routerMs + kHalfSecondMs));
    QVERIFY(world.sound.prompts().contains(QStringLiteral("ok")));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(world.enabled("btnPrint"));
    QVERIFY(!world.gui.boxShown());
}

void TestFormRaceDetail::arrive_failedReadChangesNothing_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("text");
    QTest::newRow("get time refused (club time 0)")
        << int(ClubPortPeer::Fault::Refuse) << QStringLiteral("Morlan unknown exception!");
    QTest::newRow("silent router") << int(ClubPortPeer::Fault::Silence) << QStringLiteral("Morlan no response!");
    // The link left club mode after the screen opened: no authorisation.
    QTest::newRow("authorisation lost") << -1 << QStringLiteral("Semaphore timeout!");
}

void TestFormRaceDetail::arrive_failedReadChangesNothing()
{
    QFETCH(int, fault);
    QFETCH(QString, text);
    World world;
    const auto race = seedRace(QStringLiteral("R1"), 3, BothTimes, kStopReaderMs, true);
    world.open(race);
    const QString before = world.raceRows();
    if (fault < 0) {
        world.club.link().switchWorkMode(MorlanProtocolProcess::Normal, true);
        QVERIFY(!world.club.link().isAuthed());
    } else {
        ClubPortPeer::Fault spoil;
        spoil.kind = ClubPortPeer::Fault::Kind(fault);
        spoil.value = 1;
        world.club.peer().setCommandFault(ClubRouter::GetTime, spoil);
    }

    world.click("btnArriveRace");
    world.gui.answerBox(QMessageBox::Ok);

    QVERIFY(world.gui.boxShown());
    QCOMPARE(world.gui.box()->title(), QStringLiteral("Error"));
    QCOMPARE(world.gui.boxText(), text);
    world.shot(QStringLiteral("arrive-error-%1").arg(fault + 1));
    QCOMPARE(world.raceRows(), before);
    QCOMPARE(race->raceStopReaderTime, kStopReaderMs);
    QCOMPARE(race->backPrintFlag, true);
    QVERIFY(world.opener.calls.isEmpty());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void TestFormRaceDetail::close_data()
{
    QTest::addColumn<int>("pair");
    QTest::addColumn<bool>("otherActive");
    QTest::addColumn<bool>("reconciled");
    QTest::addColumn<bool>("unlocked");
    QTest::newRow("through the club, last active race") << int(BothTimes) << false << true << true;
    QTest::newRow("through the club, another race active") << int(BothTimes) << true << true << false;
    QTest::newRow("loft time only") << int(DeviceOnly) << false << false << true;
}

void TestFormRaceDetail::close()
{
    QFETCH(int, pair);
    QFETCH(bool, otherActive);
    QFETCH(bool, reconciled);
    QFETCH(bool, unlocked);
    World world;
    if (otherActive)
        seedRace(QStringLiteral("R2"), 3, BothTimes);
    // Basketing locked the club time (the clock already on it: no change).
    world.bo.lockClubTime(UTC::now().value());
    UTC::_clubTimeDiff = kClubDiffMs;
    QVERIFY(world.bo.getTimeMode() & kClubTimeLocked);
    const auto race = seedRace(QStringLiteral("R1"), 3, Pair(pair), 0, true);
    world.open(race);
    world.holdRouterTime(kClubNowMs - 1000);

    world.click("btnDelete");
    QCOMPARE(world.gui.boxText(), QStringLiteral(" Please confirm you want to stop this race!\n"));
    world.gui.answerBox(QMessageBox::Ok);

    const auto stored = world.stored(QStringLiteral("R1"));
    QCOMPARE(stored->valid, 4);
    QCOMPARE(stored->raceStopReaderTime, reconciled ? kClubNowMs - 1000 + kHalfSecondMs : 0);
    QCOMPARE(stored->backPrintFlag, !reconciled);
    QCOMPARE(race->valid, 4);
    QCOMPARE(world.opener.calls, QStringList({"R1"}));
    QCOMPARE(world.bo.getTimeMode() & kClubTimeLocked, unlocked ? 0 : kClubTimeLocked);
    QCOMPARE(ServiceFactory::getParamInt64(QStringLiteral("time_mode"), -1) & kClubTimeLocked,
             unlocked ? 0 : kClubTimeLocked);
    QCOMPARE(world.button("btnDelete")->text(), QStringLiteral("Delete"));
    QCOMPARE(world.enabled("btnUpload"), true);
    QCOMPARE(world.enabled("btnPrint"), reconciled);
}

void TestFormRaceDetail::close_questionShowsBothTimes()
{
    World world;
    HardwareControl::init(0x0010);
    const auto race = seedRace(QStringLiteral("R1"), 3, BothTimes);
    world.open(race);
    world.holdRouterTime(kClubNowMs - 2000);
    world.click("btnDelete");
    QCOMPARE(world.gui.boxText(), QStringLiteral(" Please confirm you want to stop this race!\nLoftTime:%1\nClubTime:%2")
                                      .arg(fullTime(kDeviceMs), fullTime(kClubNowMs - 2000 + kHalfSecondMs)));
    world.shot(QStringLiteral("stop-question-both-times"));
    world.gui.answerBox(QMessageBox::Cancel);

    // A failed read: the error, and nothing asked.
    ClubPortPeer::Fault refuse;
    refuse.kind = ClubPortPeer::Fault::Refuse;
    refuse.value = 1;
    world.club.peer().setCommandFault(ClubRouter::GetTime, refuse);
    world.click("btnDelete");
    QCOMPARE(world.gui.box()->title(), QStringLiteral("Error"));
    QCOMPARE(world.gui.boxText(), QStringLiteral("Morlan unknown exception!"));
    world.gui.answerBox(QMessageBox::Ok);
    QCOMPARE(world.stored(QStringLiteral("R1"))->valid, 3);
    QVERIFY(world.opener.calls.isEmpty());
    HardwareControl::init(0);
}

void TestFormRaceDetail::close_failedSaveKeepsStoredRace()
{
    World world;
    const auto race = seedRace(QStringLiteral("R1"), 3, BothTimes, kStopReaderMs, true);
    world.open(race);
    world.holdRouterTime(kClubNowMs - 1000);
    QVERIFY(world.gui.store().failOn(QStringLiteral("UPDATE"), QStringLiteral("Race")));
    const QString labelBefore = world.label("labArriveTime");

    world.click("btnDelete");
    world.gui.answerBox(QMessageBox::Ok);
    QCOMPARE(world.gui.box()->title(), QStringLiteral("Error"));
    QCOMPARE(race->valid, 3);
    QCOMPARE(race->raceStopReaderTime, kStopReaderMs);
    QCOMPARE(race->backPrintFlag, true);
    QCOMPARE(world.label("labArriveTime"), labelBefore);
    QCOMPARE(world.button("btnDelete")->text(), QStringLiteral("Close"));
    QVERIFY(world.opener.calls.isEmpty());
}

void TestFormRaceDetail::delete_removesRace_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("valid");
    QTest::addColumn<int>("pair");
    QTest::newRow("no sync pair, open") << QStringLiteral("R1") << 1 << int(NoPair);
    QTest::newRow("closed and printed") << QStringLiteral("R1") << 4 << int(BothTimes);
    QTest::newRow("code with a quote") << QStringLiteral("R'1") << 12 << int(BothTimes);
}

void TestFormRaceDetail::delete_removesRace()
{
    QFETCH(QString, code);
    QFETCH(int, valid);
    QFETCH(int, pair);
    World world;
    const auto race = seedRace(code, valid, Pair(pair), kStopReaderMs, true);
    seedPigeons(code, {QStringLiteral("P1")}, {3600000}, {QStringLiteral("P2")});
    // A race whose code the quoted one starts with keeps its pigeons.
    seedRace(QStringLiteral("R"), 3, BothTimes);
    seedPigeons(QStringLiteral("R"), {QStringLiteral("Q1")}, {3600000}, {QStringLiteral("Q2")});
    world.open(race);

    world.click("btnDelete");
    QCOMPARE(world.gui.box()->title(), QStringLiteral("Warning"));
    QCOMPARE(world.gui.boxText(), QStringLiteral(" Please confirm you want to delete this race!"));
    world.shot(QStringLiteral("delete-question"));
    world.gui.answerBox(QMessageBox::Ok);

    QVERIFY(!world.stored(code));
    QVERIFY(world.stored(QStringLiteral("R")));
    QCOMPARE(Storage::instance()->getMarkedPigeonCount(QStringLiteral("R")), 2);
    QCOMPARE(Storage::instance()->getMarkedPigeonCount(code), 0);
    QCOMPARE(world.logRows(11), 1);
    QCOMPARE(world.opener.calls, QStringList({"null"}));
    QCOMPARE(world.gui.window()->topSubForm(), nullptr);
    QVERIFY(world.sound.prompts().contains(QStringLiteral("ok")));
}

void TestFormRaceDetail::delete_answerAfterHomeChangesNothing()
{
    World world;
    world.open(seedRace(QStringLiteral("R1"), 1, NoPair));
    world.click("btnDelete");
    QVERIFY(world.gui.boxShown());
    world.gui.key(Qt::Key_Home); // the box stays, the screen goes
    QCOMPARE(world.gui.window()->topSubForm(), nullptr);
    world.gui.answerBox(QMessageBox::Ok);
    QVERIFY(world.stored(QStringLiteral("R1")));
    QCOMPARE(world.logRows(11), 0);
    QVERIFY(world.opener.calls.isEmpty());
}

void TestFormRaceDetail::print_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("nominated");
    QTest::newRow("one copy") << QStringLiteral("R7") << 1 << false;
    QTest::newRow("two copies, nominated") << QStringLiteral("R7") << 2 << true;
    QTest::newRow("no copy") << QStringLiteral("R7") << 0 << false;
    QTest::newRow("code with a quote") << QStringLiteral("R'7") << 1 << false;
}

void TestFormRaceDetail::print()
{
    QFETCH(QString, code);
    QFETCH(int, copies);
    QFETCH(bool, nominated);
    World world;
    auto race = seedRace(code, 4, BothTimes, kStopReaderMs, false, copies);
    // Arrived in the order P2, P1; not arrived P3, P4 by name, P4, P3 by nomination.
    seedPigeons(code, {QStringLiteral("P2"), QStringLiteral("P1")}, {3600000, 3700000},
                {QStringLiteral("P3"), QStringLiteral("P4")});
    seedRace(QStringLiteral("R"), 3, BothTimes);
    seedPigeons(QStringLiteral("R"), {QStringLiteral("Q1")}, {3600000}, {QStringLiteral("Q2")});
    if (nominated) {
        race->otherData.insert(QStringLiteral("nomination"), 1);
        Storage::instance()->saveRace(race.data());
        auto nom = [&](const QString &assoc, int n) {
            auto item = QSharedPointer<Nomination>::create();
            item->assocNum = assoc;
            item->raceCode = code;
            item->nom = n;
            return item;
        };
        Storage::instance()->saveRaceNoms(code, {nom(QStringLiteral("P4"), 1), nom(QStringLiteral("P3"), 2),
                                                 nom(QStringLiteral("P2"), 3), nom(QStringLiteral("P1"), 4)});
    }
    world.open(race);
    BoxTexts progressTexts(FormMessage::instance()->findChild<QLabel *>(QStringLiteral("labInfo")));
    int piecesWhenTold = -1;
    world.opener.hook = [&] { piecesWhenTold = world.club.peer().router().printed().size(); };
    bool printedFlagFirst = false;
    world.onPause = [&] {
        if (world.pauses == 1)
            printedFlagFirst = world.stored(code)->backPrintFlag;
        if (world.pauses == 5)
            world.shot(QStringLiteral("print-progress"));
    };
    const int before = world.sound.size();

    world.click("btnPrint");

    QCOMPARE(world.gui.box()->title(), QStringLiteral("Success"));
    QCOMPARE(world.gui.boxText(), QStringLiteral("Print OK!"));
    world.shot(QStringLiteral("print-ok"));
    QCOMPARE(world.sound.prompts().mid(before), QStringList({"dong", "dong"}));
    QCOMPARE(world.opener.calls, QStringList({code}));
    QVERIFY(world.opener.seen.backPrintFlag);
    QCOMPARE(piecesWhenTold, 0);
    QVERIFY(world.stored(code)->backPrintFlag);
    QVERIFY(world.enabled("btnDelete"));
    QVERIFY(world.enabled("btnPrint"));
    QString problem;
    const QList<QStringList> printed = ReportFixture::pagesOf(
        QString::fromLatin1(world.club.peer().router().printedBytes()), &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    if (copies == 0) {
        QVERIFY(printed.isEmpty());
        return;
    }
    QVERIFY(printedFlagFirst);
    // Each copy: the head, the records as they are handled, the tailer; the
    // last record's number shows on the lines after the tailer.
    const QStringList oneCopy{"Printing....\nReport head", "Print...\nReport record 1", "Print...\nReport record 2",
                              "Print...\nReport record 3", "Printing....\nReport tailer", "Print...\nReport record 4"};
    QStringList expectedTexts{"Printing..."};
    for (int copy = 0; copy < copies; ++copy)
        expectedTexts += oneCopy;
    expectedTexts << QStringLiteral("Print OK!");
    QCOMPARE(progressTexts.texts, expectedTexts);

    // The same report loaded by hand with the two lists.
    auto record = [](const char *assoc) {
        return Storage::instance()->findRecordById(QLatin1String(assoc));
    };
    QList<QSharedPointer<PigeonRecord>> arrived{record("P2"), record("P1")};
    QList<QSharedPointer<PigeonRecord>> notArrived =
        nominated ? QList<QSharedPointer<PigeonRecord>>{record("P4"), record("P3")}
                  : QList<QSharedPointer<PigeonRecord>>{record("P3"), record("P4")};
    PigeonRecord::fillMarkOrder(arrived);
    PigeonRecord::fillMarkOrder(notArrived);
    world.club.peer().router().clearRecords();
    world.onPause = {};
    RacePigeonsReport report;
    report.loadReport(world.bo.getSystemId(), world.bo.getLoftInfo(), *world.stored(code), arrived, notArrived);
    report.printAll();
    QList<QStringList> expected = ReportFixture::pagesOf(
        QString::fromLatin1(world.club.peer().router().printedBytes()), &problem);
    QVERIFY(!expected.isEmpty());
    QList<QStringList> all;
    for (int copy = 0; copy < copies; ++copy)
        all += expected;
    QCOMPARE(printed, all);
}

void TestFormRaceDetail::print_refusalMidPage()
{
    World world;
    const auto race = seedRace(QStringLiteral("R7"), 4, BothTimes, kStopReaderMs, false);
    seedPigeons(QStringLiteral("R7"), {QStringLiteral("P1")}, {3600000}, {QStringLiteral("P2")});
    world.open(race);
    ClubPortPeer::Fault refuse;
    refuse.kind = ClubPortPeer::Fault::Refuse;
    refuse.value = 3;
    world.club.peer().setCommandFault(ClubRouter::Print, refuse, 8);

    world.click("btnPrint");
    QCOMPARE(world.gui.box()->title(), QStringLiteral("Error"));
    QVERIFY(!world.gui.boxText().isEmpty());
    world.shot(QStringLiteral("print-error"));
    // Marked printed before the first line: Delete is offered.
    QVERIFY(world.stored(QStringLiteral("R7"))->backPrintFlag);
    QVERIFY(world.enabled("btnDelete"));
    QCOMPARE(world.gui.window()->topSubForm(), world.screen());
}

void TestFormRaceDetail::print_inputDuringPrintStartsNothing()
{
    World world;
    const auto race = seedRace(QStringLiteral("R7"), 4, BothTimes, kStopReaderMs, true);
    seedPigeons(QStringLiteral("R7"), {QStringLiteral("P1")}, {3600000}, {QStringLiteral("P2")});
    world.open(race);
    world.onPause = [&] {
        if (world.pauses != 3)
            return;
        world.gui.key(Qt::Key_Return);
        world.click("btnDelete");
        world.click("btnArriveRace");
        world.gui.key(Qt::Key_Home);
        world.gui.key(Qt::Key_Escape);
    };

    world.click("btnPrint");
    QCOMPARE(world.gui.boxText(), QStringLiteral("Print OK!"));
    QCOMPARE(world.gui.window()->topSubForm(), world.screen());
    QVERIFY(world.stored(QStringLiteral("R7")));
    QCOMPARE(world.opener.calls, QStringList({"R7"}));
}

void TestFormRaceDetail::upload_offline()
{
    World world; // no modem service published: flag 0x8 clear
    const auto race = seedRace(QStringLiteral("R1"), 4, BothTimes, kStopReaderMs, true);
    world.open(race);
    const int before = world.sound.size();
    world.click("btnUpload");
    QCOMPARE(world.gui.box()->title(), QStringLiteral("Error"));
    QCOMPARE(world.gui.boxText(), QStringLiteral("GSM is offline, upload failed!"));
    world.shot(QStringLiteral("upload-offline"));
    QCOMPARE(world.sound.size(), before);
    QCOMPARE(world.stored(QStringLiteral("R1"))->valid, 4);
    QCOMPARE(world.logRows(17), 0);
}

void TestFormRaceDetail::upload_closesAndRepeats()
{
    UploadWorld world;
    QVERIFY(world.rig.isReady());
    const auto race = world.openClosedRace();
    QTRY_VERIFY_WITH_TIMEOUT(world.online(), NetworkRig::kWaitMs);

    world.click();
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Success"));
    QCOMPARE(world.boxText(), QStringLiteral("Upload OK!"));
    ScreenDriver(world.screen(), QLatin1String(kSuite)).shot(QStringLiteral("upload-ok"));
    QCOMPARE(world.rig.endpoint.calls(QStringLiteral("uploadArriveData")).size(), 1);
    QCOMPARE(NetworkRig::race(QStringLiteral("R1"))->valid, 12);
    QCOMPARE(race->valid, 12);
    QCOMPARE(world.rig.logRows(17), 1);
    QVERIFY(world.sound.prompts().contains(QStringLiteral("dong")));
    QVERIFY(world.opener.calls.isEmpty()); // an upload is not reported
    FormMessage::instance()->deactive();

    world.click(); // again at 12: sent and logged again
    QCOMPARE(world.boxText(), QStringLiteral("Upload OK!"));
    QCOMPARE(world.rig.endpoint.calls(QStringLiteral("uploadArriveData")).size(), 2);
    QCOMPARE(NetworkRig::race(QStringLiteral("R1"))->valid, 12);
    QCOMPARE(world.rig.logRows(17), 2);
}

void TestFormRaceDetail::upload_failureChangesNothing_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("text");
    QTest::newRow("endpoint error") << 0 << QStringLiteral("Net error!");
    QTest::newRow("no answer in time") << 1 << QStringLiteral("timeout!");
    QTest::newRow("mailbox held by another thread") << 2 << QStringLiteral("Last command is running!");
}

void TestFormRaceDetail::upload_failureChangesNothing()
{
    QFETCH(int, fault);
    QFETCH(QString, text);
    UploadWorld world;
    QVERIFY(world.rig.isReady());
    const auto race = world.openClosedRace();
    QTRY_VERIFY_WITH_TIMEOUT(world.online(), NetworkRig::kWaitMs);
    std::unique_ptr<OtherPoster> other;
    if (fault == 0) {
        world.rig.endpoint.addFault(CloudFault::ErrorText, 1, "refused");
    } else if (fault == 1) {
        world.rig.endpoint.addFault(CloudFault::Silence, 1);
        world.rig.engine.setMailboxWait({30, 10});
    } else {
        // Another screen's upload is in flight, answered late.
        world.rig.endpoint.addFault(CloudFault::Late, 1, QByteArray(), 2000);
        const RaceInfo copy = *race;
        other = std::make_unique<OtherPoster>([&world, copy] { world.rig.engine.uploadArriveData(&copy); });
        QVERIFY(world.rig.endpoint.waitForCalls(1, NetworkRig::kWaitMs));
    }

    world.click();
    QCOMPARE(world.boxText(), text);
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    ScreenDriver(world.screen(), QLatin1String(kSuite)).shot(QStringLiteral("upload-error-%1").arg(fault));
    QCOMPARE(NetworkRig::race(QStringLiteral("R1"))->valid, 4);
    QCOMPARE(race->valid, 4);
    QCOMPARE(world.rig.logRows(17), 0);
}

void TestFormRaceDetail::clubOrder_arriveClosePrintUploadDelete()
{
    UploadWorld world;
    QVERIFY(world.rig.isReady());
    ReportPrinter::setPauseFunction([](int) {});
    const auto unpause = qScopeGuard([] { ReportPrinter::setPauseFunction({}); });
    QVERIFY(world.club.startClub());
    const qint64 nowMs = UTC::clubTime().value();
    RaceInfo seeded = LoftSeed::race(QStringLiteral("W1"), 3);
    seeded.markDeviceTime = nowMs - 3600000;
    seeded.markReaderTime = nowMs - 3600000;
    Storage::instance()->saveRace(&seeded);
    for (const char *assoc : {"W-1", "W-2"}) {
        LoftSeed::pigeon(QLatin1String(assoc), QStringLiteral("E") + QLatin1String(assoc));
        LoftSeed::basket(QLatin1String(assoc), QStringLiteral("W1"), nowMs - 3600000);
    }
    LoftSeed::arrive(QStringLiteral("W-1"), QStringLiteral("W1"), nowMs - 60000, 1);
    const auto race = Storage::instance()->findRaceById(QStringLiteral("W1"));
    world.screen()->doRaceActions(race, &world.opener);
    ScreenDriver driver(world.screen(), QLatin1String(kSuite));
    auto answerOk = [] {
        QTest::mouseClick(FormMessage::instance()->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    };
    const qint64 heldMs = nowMs / 1000 * 1000;
    world.club.peer().setAnswer(ClubRouter::GetTime, 0,
                                ClubRouter::timeText(heldMs) + QByteArray(1, '\0') + QByteArray(1, '\x01'));

    driver.click("btnArriveRace");
    answerOk();
    QCOMPARE(Storage::instance()->findRaceById(QStringLiteral("W1"))->raceStopReaderTime, heldMs + kHalfSecondMs);

    driver.click("btnDelete"); // Close
    answerOk();
    QCOMPARE(Storage::instance()->findRaceById(QStringLiteral("W1"))->valid, 4);
    QVERIFY(!driver.find<QPushButton>("btnDelete")->isEnabledTo(world.screen())); // not printed since
    QVERIFY(driver.find<QPushButton>("btnPrint")->isEnabledTo(world.screen()));

    driver.click("btnPrint");
    QCOMPARE(world.boxText(), QStringLiteral("Print OK!"));
    QVERIFY(!world.club.peer().router().printedBytes().isEmpty());
    answerOk();
    QVERIFY(driver.find<QPushButton>("btnDelete")->isEnabledTo(world.screen()));

    QTRY_VERIFY_WITH_TIMEOUT(world.online(), NetworkRig::kWaitMs);
    driver.click("btnUpload");
    QCOMPARE(world.boxText(), QStringLiteral("Upload OK!"));
    answerOk();
    QCOMPARE(Storage::instance()->findRaceById(QStringLiteral("W1"))->valid, 12);
    const QList<CloudCall> calls = world.rig.endpoint.calls(QStringLiteral("uploadArriveData"));
    QCOMPARE(calls.size(), 1);
    QCOMPARE(qint64(NetworkRig::payloadField(calls.first(), QStringLiteral("clubArriveTime")).toDouble()),
             heldMs + kHalfSecondMs);
    QCOMPARE(world.rig.logRows(17), 1);

    driver.click("btnDelete");
    answerOk();
    QVERIFY(!Storage::instance()->findRaceById(QStringLiteral("W1")));
    QCOMPARE(world.rig.logRows(11), 1);
    QCOMPARE(world.opener.calls, QStringList({"W1", "W1", "W1", "null"}));
    QCOMPARE(world.gui.top(), nullptr);
}

BRELLIUM_GUI_TEST_MAIN(TestFormRaceDetail)
#include "tst_formracedetail.moc"
