#include "core/locationinfo.h"
#include "core/myapp.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"
#include "ui/formhome.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formnomination.h"
#include "ui/marking/formtrain.h"
#include "ui/race/formhomeracedetail.h"

#include "guifixture.h"
#include "innermodulepeer.h"
#include "loftseed.h"
#include "messagecapture.h"
#include "promptqueue.h"
#include "reportfixture.h"
#include "runningengine.h"
#include "screendriver.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

#include <climits>
#include <memory>

namespace {

constexpr qint64 kNowMs = 1780000000000;        // the host's system clock in these tests
constexpr int kZoneSeconds = 7200;              // the device's zone, not the host's
// 05/06/2026 12:03:27 UTC, 14:03:27 in the device's zone.
const qint64 kBackMs = UTC(2026, 6, 5, 12, 3, 27, 0).value();

using Rows = QList<QStringList>;

Rows tableRows(const QTableWidget *table)
{
    Rows rows;
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < table->columnCount(); ++c)
            row << (table->item(r, c) ? table->item(r, c)->text() : QStringLiteral("<none>"));
        rows << row;
    }
    return rows;
}

void emitFromPlainThread(PigeonBo *bo, const PigeonRecord &record)
{
    std::unique_ptr<QThread> thread(QThread::create([bo, record] { emit bo->pigeonBack(record); }));
    thread->start();
    thread->wait();
}

PigeonRecord raceReturn(const QString &assocNum, const QString &raceCode)
{
    PigeonRecord r;
    r.assocNum = assocNum;
    r.raceCode = raceCode;
    r.markTime = kNowMs - 3600000;
    r.backTimeEring = kBackMs;
    return r;
}

} // namespace

// The home screen: loft summary, race table, position and channel lines, the
// latest return followed live, and the ways into the race detail, training
// and nominations.
class TestFormHome : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void raceTable_countsByStateInRaceOrder();
    void emptyTable_clickDoesNothing();
    void gpsLine_data();
    void gpsLine();
    void channelCounts_data();
    void channelCounts();
    void nominationFlag_data();
    void nominationFlag();
    void goTraining_hiddenWhileAuthorised();
    void noServices_loftFromStorageAndNeutralLines();
    void returnPanel_data();
    void returnPanel();
    void arrival_coveredHomeAndDetailBothUpdate();
    void arrival_afterClosingNeverShows();
    void arrivalBurst_oneRebuildSamePanel();
    void rowClick_opensThatRace();
    void rowClick_deletedRaceOpensNothing();
    void rowClick_failingOpenShowsErrorAndStays();
    void buttons_data();
    void buttons();
    void liveRoad_arrivalsAndChannelsFromTheModule();

private:
    void publishEngine();
    FormHome *openHome();
    QString text(const char *name) const;
    QTableWidget *table() const;

    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PigeonBo> bo;
    FormHome *home = nullptr;
};

void TestFormHome::init()
{
    Platform::setSystemClock([] { return kNowMs; });
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = 0;
    sound = std::make_unique<PromptQueue>();
    gui = std::make_unique<GuiFixture>();
    // The loft number is stored only by a device initialisation (the loft
    // settings' save keeps it as it is).
    Storage::instance()->formatDevice(QStringLiteral("L100"), QStringLiteral("secret"));
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    loft.ownerName = QStringLiteral("Ann Smith");
    loft.timeZone = kZoneSeconds;
    Storage::instance()->saveLoftInfo(&loft);
    UTC::setTimeZone(kZoneSeconds);
    home = gui->window()->formHome;
}

void TestFormHome::cleanup()
{
    gui.reset();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    bo.reset();
    sound.reset();
    Platform::setSystemClock({});
}

void TestFormHome::publishEngine()
{
    bo = std::make_unique<PigeonBo>();
    bo->reflushCache();
    ServiceFactory::getInstance()->pigeonBo = bo.get();
}

FormHome *TestFormHome::openHome()
{
    gui->push(home);
    return home;
}

QString TestFormHome::text(const char *name) const
{
    return home->findChild<QLabel *>(QLatin1String(name))->text();
}

QTableWidget *TestFormHome::table() const
{
    return home->findChild<QTableWidget *>(QStringLiteral("tableRaceInfo"));
}

void TestFormHome::raceTable_countsByStateInRaceOrder()
{
    publishEngine();
    const qint64 day = 86400000;
    // Liberation times give the order; R1 and R3 share one, so the code decides.
    const struct { const char *code; int state; qint64 liber; int marked; int arrived; } races[] = {
        {"R4", 4, kNowMs + 3 * day, 2, 2},
        {"R3", 3, kNowMs + 2 * day, 4, 1},
        {"R1", 1, kNowMs + 2 * day, 5, 0},
        {"R12", 12, kNowMs + day, 3, 3},
        {"Q'é", 3, kNowMs + 4 * day, 1, 1},
    };
    int bird = 0;
    for (const auto &r : races) {
        LoftSeed::race(QString::fromUtf8(r.code), r.state, r.liber);
        for (int i = 0; i < r.marked; ++i) {
            const QString assocNum = QStringLiteral("P%1").arg(++bird);
            LoftSeed::pigeon(assocNum, QStringLiteral("E%1").arg(bird), bird % 3);
            LoftSeed::basket(assocNum, QString::fromUtf8(r.code), kNowMs - 1000 * bird);
            if (i < r.arrived)
                LoftSeed::arrive(assocNum, QString::fromUtf8(r.code), kNowMs - 500 * bird, i + 1);
        }
    }
    // A pigeon of no race counts for the summary only.
    LoftSeed::pigeon(QStringLiteral("LONE"));
    openHome();

    const Rows expected = {
        {"R12", "", "--", "3"},
        {"R1", "", "*5", "0"},
        {"R3", "", "4", "1"},
        {"R4", "", "--", "2"},
        {QString::fromUtf8("Q'é"), "", "1", "1"},
    };
    Rows shown = tableRows(table());
    for (QStringList &row : shown)
        row[1] = QString(); // the place is the seed's; only its column matters here
    QCOMPARE(shown, expected);
    QCOMPARE(text("txtTotalPigeon"), QStringLiteral("16"));
    QCOMPARE(text("txtLoftNum"), QStringLiteral("L100"));
    QCOMPARE(text("txtOwner"), QStringLiteral("Ann Smith"));
    QCOMPARE(table()->horizontalHeaderItem(2)->text(), QStringLiteral("Marked"));
    QVERIFY(!ScreenDriver(home, QStringLiteral("tst_formhome")).shot(QStringLiteral("races")).isEmpty());
}

void TestFormHome::emptyTable_clickDoesNothing()
{
    publishEngine();
    openHome();
    QCOMPARE(table()->rowCount(), 0);
    const int prompts = sound->size();
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, QPoint(100, 60));
    // The slot itself, as a click that found an index would call it.
    QMetaObject::invokeMethod(home, "on_tableRaceInfo_clicked", Q_ARG(QModelIndex, QModelIndex()));
    QCOMPARE(sound->size(), prompts);
    QCOMPARE(gui->top(), home);
    QVERIFY(!gui->boxShown());
}

void TestFormHome::gpsLine_data()
{
    QTest::addColumn<LocationInfo>("fix");
    QTest::addColumn<QString>("shown");
    const qint64 onlineBound = kNowMs - 90000;
    const qint64 validBound = kNowMs - 900000;
    LocationInfo online;
    online.time = onlineBound;
    online.lo = 433110500;
    online.la = -113652000;
    QTest::newRow("online: the example position") << online << QString::fromUtf8("E120°18'30\",S31°34'12\"");
    LocationInfo lastValid;
    lastValid.time = onlineBound - 1;
    lastValid.lo = 999;
    lastValid.validTime = validBound;
    lastValid.validLo = -3000;
    lastValid.validLa = 2000;
    QTest::newRow("only the last valid fix") << lastValid << QString::fromUtf8("W0°00'03\",N0°00'01\"");
    LocationInfo stale = lastValid;
    stale.validTime = validBound - 1;
    QTest::newRow("neither online nor valid") << stale << QString();
    QTest::newRow("never a fix") << LocationInfo() << QString();
    LocationInfo extremes;
    extremes.time = kNowMs;
    extremes.lo = INT_MIN;
    extremes.la = INT_MAX;
    QTest::newRow("32-bit extremes") << extremes << QString::fromUtf8("W596°31'23\",N596°31'23\"");
}

void TestFormHome::gpsLine()
{
    QFETCH(LocationInfo, fix);
    QFETCH(QString, shown);
    publishEngine();
    LocationInfo first;
    first.time = kNowMs;
    first.lo = 3600000;
    first.la = 3600000;
    LocationInfo current = first;
    bo->setPositionSource([&current] { return current; });
    openHome();
    QCOMPARE(text("txtGpsCordination"), QString::fromUtf8("E1°00'00\",N1°00'00\""));
    // The tick follows the fix.
    current = fix;
    gui->tick();
    QCOMPARE(text("txtGpsCordination"), shown);
    bo->setPositionSource({});
}

void TestFormHome::channelCounts_data()
{
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<QString>("normal");
    QTest::addColumn<QString>("abnormal");
    QTest::newRow("no channel") << QList<int>{} << "Normal 0" << "Abnormal 0";
    QTest::newRow("bit 0x80 alone decides") << QList<int>{0x00, 0x80, 0x7f, 0xff} << "Normal 2" << "Abnormal 2";
    QList<int> many;
    for (int i = 0; i < 300; ++i)
        many << (i % 3 == 0 ? 0x81 : 0x01);
    QTest::newRow("300 channels") << many << "Normal 200" << "Abnormal 100";
}

void TestFormHome::channelCounts()
{
    QFETCH(QList<int>, statuses);
    QFETCH(QString, normal);
    QFETCH(QString, abnormal);
    publishEngine();
    QList<LFCHANNEL_INFO> channels;
    for (int status : statuses) {
        LFCHANNEL_INFO channel;
        channel.status = quint8(status);
        channels << channel;
    }
    bo->cacheChannels({LFCHANNEL_INFO()});
    openHome();
    QCOMPARE(text("txtCanOk"), QStringLiteral("Normal 1"));
    bo->cacheChannels(channels);
    gui->tick();
    QCOMPARE(text("txtCanOk"), normal);
    QCOMPARE(text("txtCanErr"), abnormal);
}

void TestFormHome::nominationFlag_data()
{
    QTest::addColumn<unsigned int>("flags");
    QTest::addColumn<bool>("nomination");
    QTest::addColumn<int>("trainX");
    QTest::newRow("flag 0x0400 clear") << 0u << false << 120;
    QTest::newRow("flag 0x0400 set") << 0x0400u << true << 10;
}

void TestFormHome::nominationFlag()
{
    QFETCH(unsigned int, flags);
    QFETCH(bool, nomination);
    QFETCH(int, trainX);
    publishEngine();
    HardwareControl::init(flags);
    openHome();
    auto *train = home->findChild<QPushButton *>(QStringLiteral("btnGoToTrain"));
    auto *nominate = home->findChild<QPushButton *>(QStringLiteral("btnNomination"));
    QVERIFY(train->isVisible());
    QCOMPARE(train->geometry(), QRect(trainX, 660, 201, 39));
    QCOMPARE(nominate->isVisible(), nomination);
    QCOMPARE(nominate->geometry(), QRect(250, 660, 201, 39));
    const QString name = nomination ? QStringLiteral("with-nomination") : QStringLiteral("training-alone");
    QVERIFY(!ScreenDriver(home, QStringLiteral("tst_formhome")).shot(name).isEmpty());
    HardwareControl::init(0);
}

void TestFormHome::goTraining_hiddenWhileAuthorised()
{
    // The club link, authorised by the router peer, with its database as ours.
    gui.reset();
    ReportFixture club;
    QVERIFY(club.startClub());
    gui = std::make_unique<GuiFixture>(&club.store());
    // Gone before the database it stands on, also when a check fails.
    const auto dropWindow = qScopeGuard([this] { gui.reset(); });
    home = gui->window()->formHome;
    publishEngine();
    openHome();
    auto *train = home->findChild<QPushButton *>(QStringLiteral("btnGoToTrain"));
    QVERIFY(train->isVisible()); // the focus gain shows it until the next tick
    gui->tick();
    QVERIFY(!train->isVisible());
    // Back from another screen: shown again, hidden again at the tick.
    gui->push(gui->window()->formTrain);
    gui->window()->popSubForm(SubWindow::DeactiveHide);
    QCOMPARE(gui->top(), home);
    QVERIFY(train->isVisible());
    gui->tick();
    QVERIFY(!train->isVisible());
}

void TestFormHome::noServices_loftFromStorageAndNeutralLines()
{
    MessageCapture capture;
    openHome();
    QCOMPARE(gui->top(), home);
    QCOMPARE(text("txtLoftNum"), QStringLiteral("L100"));
    QCOMPARE(text("txtOwner"), QStringLiteral("Ann Smith"));
    QCOMPARE(text("txtGpsCordination"), QString());
    QCOMPARE(text("txtCanOk"), QStringLiteral("Normal 0"));
    QCOMPARE(text("txtCanErr"), QStringLiteral("Abnormal 0"));
    QVERIFY(capture.contains(QStringLiteral("FormHome: no race engine")));
    gui->tick();
    QVERIFY(home->findChild<QPushButton *>(QStringLiteral("btnGoToTrain"))->isVisible());
    QVERIFY(!gui->boxShown());
}

void TestFormHome::returnPanel_data()
{
    QTest::addColumn<PigeonRecord>("record");
    QTest::addColumn<QStringList>("shown"); // assoc, time, type, code, place
    QTest::addColumn<QString>("raceCount");  // arrived count of R1 after the return
    const QString time = QStringLiteral("05/06/2026 14:03:27");
    QTest::newRow("race arrival") << raceReturn(QStringLiteral("P1"), QStringLiteral("R1"))
                                  << QStringList{"P1", time, "Race", "R1", "Calais"} << "1";
    PigeonRecord training = raceReturn(QStringLiteral("P2"), QStringLiteral("train"));
    training.markTime = 0;
    QTest::newRow("training arrival") << training << QStringList{"P2", time, "Training", "---", "---"} << "1";
    QTest::newRow("race deleted meanwhile: place kept")
        << raceReturn(QString::fromUtf8("P'ü"), QStringLiteral("GONE"))
        << QStringList{QString::fromUtf8("P'ü"), time, "Race", "GONE", "Calais"} << "1";
}

void TestFormHome::returnPanel()
{
    QFETCH(PigeonRecord, record);
    QFETCH(QStringList, shown);
    QFETCH(QString, raceCount);
    publishEngine();
    RaceInfo race = LoftSeed::race(QStringLiteral("R1"), 3, kNowMs);
    race.liberName = QStringLiteral("Calais");
    Storage::instance()->saveRace(&race);
    LoftSeed::pigeon(QStringLiteral("P1"), QStringLiteral("E1"));
    LoftSeed::basket(QStringLiteral("P1"), QStringLiteral("R1"), kNowMs - 3600000);
    openHome();
    QCOMPARE(text("txtAssocNum"), QStringLiteral("---"));
    // A first race return sets the place the deleted race's return keeps.
    emitFromPlainThread(bo.get(), raceReturn(QStringLiteral("P0"), QStringLiteral("R1")));
    QTRY_COMPARE(text("txtAssocNum"), QStringLiteral("P0"));
    // The stored arrival the signal announces.
    LoftSeed::arrive(QStringLiteral("P1"), QStringLiteral("R1"), kBackMs, 1);
    emitFromPlainThread(bo.get(), record);
    QTRY_COMPARE(text("txtAssocNum"), record.assocNum);
    const QStringList panel = {text("txtAssocNum"), text("txtArrivalTime"), text("txtRaceType"),
                               text("txtRaceCode"), text("txtLibSite")};
    QCOMPARE(panel, shown);
    QCOMPARE(table()->item(0, 3)->text(), raceCount);
    if (record.markTime != 0 && record.raceCode == QLatin1String("R1"))
        QVERIFY(!ScreenDriver(home, QStringLiteral("tst_formhome")).shot(QStringLiteral("return")).isEmpty());
}

void TestFormHome::arrival_coveredHomeAndDetailBothUpdate()
{
    publishEngine();
    LoftSeed::race(QStringLiteral("R1"), 3, kNowMs);
    LoftSeed::pigeon(QStringLiteral("P1"), QStringLiteral("E1"));
    LoftSeed::basket(QStringLiteral("P1"), QStringLiteral("R1"), kNowMs - 3600000);
    openHome();
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualItemRect(table()->item(0, 0)).center());
    FormHomeRaceDetail *detail = gui->window()->formHomeRaceDetail;
    QCOMPARE(gui->top(), detail);
    QCOMPARE(detail->findChild<QLabel *>(QStringLiteral("labelTotalBack"))->text(), QStringLiteral("0"));

    LoftSeed::arrive(QStringLiteral("P1"), QStringLiteral("R1"), kBackMs, 1);
    emitFromPlainThread(bo.get(), raceReturn(QStringLiteral("P1"), QStringLiteral("R1")));
    QTRY_COMPARE(text("txtAssocNum"), QStringLiteral("P1"));
    QTRY_COMPARE(detail->findChild<QLabel *>(QStringLiteral("labelTotalBack"))->text(), QStringLiteral("1"));
    QCOMPARE(table()->item(0, 3)->text(), QStringLiteral("1"));
}

void TestFormHome::arrival_afterClosingNeverShows()
{
    publishEngine();
    openHome();
    // Queued before the closing: delivered after it, and ignored.
    emitFromPlainThread(bo.get(), raceReturn(QStringLiteral("EARLY"), QStringLiteral("R1")));
    gui->window()->popSubForm(SubWindow::DeactiveHide);
    QVERIFY(!home->isActive());
    emitFromPlainThread(bo.get(), raceReturn(QStringLiteral("LATE"), QStringLiteral("R1")));
    // A marker queued behind both: once it ran, both were delivered.
    bool drained = false;
    QMetaObject::invokeMethod(home, [&drained] { drained = true; }, Qt::QueuedConnection);
    QTRY_VERIFY(drained);
    QCOMPARE(text("txtAssocNum"), QStringLiteral("---"));
}

void TestFormHome::arrivalBurst_oneRebuildSamePanel()
{
    publishEngine();
    for (const auto &[code, place] : {std::pair{"R1", "Calais"}, std::pair{"R2", "Dover"}}) {
        RaceInfo race = LoftSeed::race(QLatin1String(code), 3, kNowMs);
        race.liberName = QLatin1String(place);
        Storage::instance()->saveRace(&race);
    }
    openHome();
    // Queued together, as a burst from the engine's thread arrives.
    std::unique_ptr<QThread> sender(QThread::create([this] {
        emit bo->pigeonBack(raceReturn(QStringLiteral("P1"), QStringLiteral("R1")));
        emit bo->pigeonBack(raceReturn(QStringLiteral("P2"), QStringLiteral("R2")));
        emit bo->pigeonBack(raceReturn(QStringLiteral("P3"), QStringLiteral("GONE")));
    }));
    const quint64 before = Storage::statementCount();
    sender->start();
    sender->wait();
    QTRY_COMPARE(text("txtAssocNum"), QStringLiteral("P3"));
    // As one by one: the gone race keeps the place of the return before it.
    QCOMPARE(text("txtLibSite"), QStringLiteral("Dover"));
    QCOMPARE(text("txtRaceCode"), QStringLiteral("GONE"));
    // One rebuild (the races, two counts each) and one lookup per return.
    QCOMPARE(Storage::statementCount() - before, quint64(1 + 2 * 2 + 3));
}

void TestFormHome::rowClick_opensThatRace()
{
    publishEngine();
    LoftSeed::race(QStringLiteral("R1"), 3, kNowMs);
    LoftSeed::race(QString::fromUtf8("R'2é"), 4, kNowMs + 1);
    openHome();
    const int prompts = sound->size();
    // A click on any column of the second row opens its race.
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualItemRect(table()->item(1, 2)).center());
    FormHomeRaceDetail *detail = gui->window()->formHomeRaceDetail;
    QCOMPARE(gui->top(), detail);
    QCOMPARE(sound->prompts().mid(prompts), QStringList{QStringLiteral("keyPress")});
    QCOMPARE(detail->findChild<QLabel *>(QStringLiteral("labelRaceCode"))->text(), QString::fromUtf8("R'2é"));
}

void TestFormHome::rowClick_deletedRaceOpensNothing()
{
    publishEngine();
    LoftSeed::race(QStringLiteral("R1"), 3, kNowMs);
    openHome();
    Storage::instance()->deleteRace(QStringLiteral("R1"));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualItemRect(table()->item(0, 0)).center());
    QCOMPARE(gui->top(), home);
    QVERIFY(!gui->boxShown());
}

void TestFormHome::rowClick_failingOpenShowsErrorAndStays()
{
    publishEngine();
    LoftSeed::race(QStringLiteral("R1"), 3, kNowMs);
    openHome();
    // The race is found (statement 1); the detail's first read fails.
    Storage::setFault(Storage::Fault::FailStatement, 2);
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualItemRect(table()->item(0, 0)).center());
    Storage::setFault(Storage::Fault::None);
    QCOMPARE(gui->top(), home);
    QVERIFY(!gui->window()->formHomeRaceDetail->isActive());
    QVERIFY(gui->boxShown());
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    gui->answerBox(QMessageBox::Ok);
    // The home screen goes on: the row opens the race now.
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualItemRect(table()->item(0, 0)).center());
    QCOMPARE(gui->top(), gui->window()->formHomeRaceDetail);
}

void TestFormHome::buttons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("screen");
    QTest::newRow("Go Training") << "btnGoToTrain" << "formTrain";
    QTest::newRow("Go Nomination") << "btnNomination" << "formNomination";
}

void TestFormHome::buttons()
{
    QFETCH(QString, button);
    QFETCH(QString, screen);
    publishEngine();
    HardwareControl::init(0x0400);
    openHome();
    const int prompts = sound->size();
    QTest::mouseClick(home->findChild<QPushButton *>(button), Qt::LeftButton);
    SubWindow *expected = screen == QLatin1String("formTrain") ? static_cast<SubWindow *>(gui->window()->formTrain)
                                                              : static_cast<SubWindow *>(gui->window()->formNomination);
    QCOMPARE(gui->top(), expected);
    QCOMPARE(sound->prompts().mid(prompts).value(0), QStringLiteral("dong"));
    HardwareControl::init(0);
}

void TestFormHome::liveRoad_arrivalsAndChannelsFromTheModule()
{
    // The whole road: module peer, the real polling thread and the real
    // engine in its own thread, on the real clock.
    Platform::setSystemClock({});
    const qint64 markMs = UTC::now().value() - 3600000;
    RaceInfo race = LoftSeed::race(QStringLiteral("R1"), 3, markMs);
    race.liberName = QStringLiteral("Calais");
    race.markDeviceTime = markMs - 60000;
    race.markReaderTime = markMs - 60000;
    Storage::instance()->saveRace(&race);
    Storage::instance()->saveRace(&race);
    LoftSeed::pigeon(QStringLiteral("NL-1"), QStringLiteral("A0000001"));
    LoftSeed::basket(QStringLiteral("NL-1"), QStringLiteral("R1"), markMs);
    LoftSeed::pigeon(QStringLiteral("T-1"), QStringLiteral("D0000001"));
    gui->root().setGpio(51, 1); // mains present
    gui->root().setGpio(40, 0);
    InnerModulePeer peer;
    peer.linkUnder(gui->root().root(), QStringLiteral("/dev/ttyS3"));
    peer.start();
    RunningEngine engine;
    QVERIFY(engine.startEngine());
    RFIDService rfid(QStringLiteral("/dev/ttyS3"), 0x311);
    rfid.setTiming({20, 200});
    rfid.start();
    openHome();

    InnerModulePeer::Channel broken;
    broken.status = 0x80;
    peer.setChannels({InnerModulePeer::Channel(), InnerModulePeer::Channel(), broken});
    QTRY_VERIFY_WITH_TIMEOUT((gui->tick(), text("txtCanErr") == QLatin1String("Abnormal 1")), 15000);
    QCOMPARE(text("txtCanOk"), QStringLiteral("Normal 2"));

    peer.presentTag(QStringLiteral("A0000001"));
    QTRY_COMPARE_WITH_TIMEOUT(text("txtAssocNum"), QStringLiteral("NL-1"), 15000);
    QCOMPARE(text("txtRaceType"), QStringLiteral("Race"));
    QCOMPARE(text("txtRaceCode"), QStringLiteral("R1"));
    QCOMPARE(text("txtLibSite"), QStringLiteral("Calais"));
    QCOMPARE(table()->item(0, 3)->text(), QStringLiteral("1"));
    QVERIFY(!ScreenDriver(home, QStringLiteral("tst_formhome")).shot(QStringLiteral("live-return")).isEmpty());

    peer.presentTag(QStringLiteral("D0000001"));
    QTRY_COMPARE_WITH_TIMEOUT(text("txtAssocNum"), QStringLiteral("T-1"), 15000);
    QCOMPARE(text("txtRaceType"), QStringLiteral("Training"));
    QCOMPARE(text("txtRaceCode"), QStringLiteral("---"));

    rfid.requestExit();
    QVERIFY(rfid.wait(5000));
    engine.quit();
    QVERIFY(engine.wait(5000));
}

BRELLIUM_GUI_TEST_MAIN(TestFormHome)
#include "tst_formhome.moc"
