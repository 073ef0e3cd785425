#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formmarkingselectrace.h"
#include "ui/pigeon/formmorlanconnect.h"
#include "ui/pigeon/formpcconnect.h"
#include "ui/pigeon/formpigeonlist.h"
#include "ui/pigeon/formpigeonsassignment.h"
#include "ui/race/formrace.h"
#include "ui/settings/formtime.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "guifixture.h"
#include "loftseed.h"
#include "messagecapture.h"
#include "promptqueue.h"
#include "reportfixture.h"
#include "screendriver.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// The club-system hub against the real link and the club router peer: what
// it shows for each state of the router, the work modes it requests as it
// gains and loses the focus and is left, and where its buttons lead.

namespace {

const char kSuite[] = "tst_formmorlanconnect";
// The router watch, shortened through the link's seam.
constexpr int kWatchMs = 100;
constexpr int kRaceModeDefault = 0x311;
constexpr int kRaceModeChannel = 0x111;
const char *const kButtons[] = {"btnSetTime", "btnConnectToPc", "btnAssignment",
                                "btnMarking", "btnAddPigeon", "btnAddRace"};
const QString kAuthorised = QStringLiteral("You have connected to club system.\nAuthorization passed!");
const QString kConnected = QStringLiteral("You have connected to Quarvelo club system.\nPlease present your key\n");
const QString kNone = QStringLiteral("No club system connected.");

ClubPortPeer::Fault faultOf(ClubPortPeer::Fault::Kind kind)
{
    ClubPortPeer::Fault fault;
    fault.kind = kind;
    fault.value = 0x01;
    return fault;
}

// The device at the club: the fixture's database, router peer and link
// (started idle), a race engine and a ring reader published but not
// started, and the window over them.
struct Hub
{
    Hub()
    {
        fixture.link().setRouterWatchMs(kWatchMs);
        engine.reflushCache();
        ServiceFactory::getInstance()->pigeonBo = &engine;
        ServiceFactory::getInstance()->rfidService = &reader;
        fixture.link().start();
        gui = std::make_unique<GuiFixture>(&fixture.store());
        screen = gui->window()->formMorlanConnect;
        drive = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
    }
    ~Hub()
    {
        drive.reset();
        gui.reset();
        ServiceFactory::getInstance()->rfidService = nullptr;
        ServiceFactory::getInstance()->pigeonBo = nullptr;
        Storage::setConnectOptions(QString());
        HardwareControl::init(0);
    }
    MorlanProtocolProcess &link() { return fixture.link(); }
    ClubPortPeer &peer() { return fixture.peer(); }
    QString warning() const { return drive->text("labelWarning"); }
    // "1" for each enabled button, in the order of kButtons.
    QString enabled() const
    {
        QString states;
        for (const char *name : kButtons)
            states += drive->find<QPushButton>(name)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return states;
    }
    // One window tick, then the text shown.
    QString tickWarning()
    {
        gui->tick();
        return warning();
    }
    // Pushes the hub and ticks until the router has authorised the device.
    bool enterAuthorised()
    {
        gui->push(screen);
        if (!QTest::qWaitFor([this] { return link().isAuthed(); }))
            return false;
        gui->tick();
        return warning() == kAuthorised;
    }

    ReportFixture fixture;
    PigeonBo engine;
    RFIDService reader{_serialPort_lfInner, kRaceModeChannel, nullptr};
    std::unique_ptr<GuiFixture> gui;
    FormMorlanConnect *screen = nullptr;
    std::unique_ptr<ScreenDriver> drive;
};

} // namespace

class TestFormMorlanConnect : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void states_followTheRouter_data();
    void states_followTheRouter();
    void timeStatus_silentRouter_pausesReads();
    void modes_followFocusAndScreens();
    void leaving_returnsToRaceWork_data();
    void leaving_returnsToRaceWork();
    void lockedDatabase_modeRequestsFollow();
    void buttons_openTheirScreens_data();
    void buttons_openTheirScreens();
    void setTime_refusedWhileRacing_data();
    void setTime_refusedWhileRacing();
    void noServices_showsNoClubSystem();
};

void TestFormMorlanConnect::cleanup()
{
    qunsetenv("BRELLIUM_TIME_SCALE");
}

void TestFormMorlanConnect::states_followTheRouter_data()
{
    QTest::addColumn<QString>("router");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("enabled");
    QTest::newRow("no peer on the line") << "unplugged" << 0xC << kNone << "000000";
    QTest::newRow("authorisation refused") << "refuses" << 0xC << kConnected << "000000";
    QTest::newRow("authorised, no flag") << "answers" << 0 << kAuthorised << "011111";
    QTest::newRow("authorised, 0x4") << "answers" << 0x4 << kAuthorised << "111111";
    QTest::newRow("authorised, 0x8, basketing locked") << "locked" << 0x8 << kAuthorised << "011011";
    QTest::newRow("authorised, 0x8, status refused") << "status refused" << 0x8 << kAuthorised << "011111";
}

void TestFormMorlanConnect::states_followTheRouter()
{
    QFETCH(QString, router);
    QFETCH(int, flags);
    QFETCH(QString, warning);
    QFETCH(QString, enabled);
    Hub hub;
    HardwareControl::init(flags);
    if (router == QLatin1String("unplugged"))
        hub.peer().hangUp();
    if (router == QLatin1String("refuses"))
        hub.peer().setCommandFault(ClubRouter::Authorise, faultOf(ClubPortPeer::Fault::Refuse));
    if (router == QLatin1String("locked"))
        hub.peer().router().setTimeStatus(0x4);
    if (router == QLatin1String("status refused"))
        hub.peer().setCommandFault(ClubRouter::GetTime, faultOf(ClubPortPeer::Fault::Refuse));
    QSignalSpy authed(&hub.link(), &MorlanProtocolProcess::routerAuthed);
    hub.gui->push(hub.screen);
    if (router == QLatin1String("unplugged")) {
        // The link tries the line, finds no router and keeps trying.
        QTRY_COMPARE(hub.link().getWorkMode(), int(MorlanProtocolProcess::ClubMaster));
        QCOMPARE(hub.tickWarning(), warning);
    } else {
        QTRY_COMPARE(hub.tickWarning(), warning);
    }
    QCOMPARE(hub.enabled(), enabled);
    QVERIFY(!GuiFixture::boxShown());
    const QByteArray tag = QTest::currentDataTag();
    if (tag == "no peer on the line")
        hub.drive->shot(QStringLiteral("hub-none"));
    if (tag == "authorisation refused")
        hub.drive->shot(QStringLiteral("hub-connected"));
    if (tag == "authorised, 0x4")
        hub.drive->shot(QStringLiteral("hub-authorised"));
    if (tag == "authorised, 0x8, basketing locked") {
        hub.drive->shot(QStringLiteral("hub-marking-disabled"));
        // The lock lifted: enabled at the next tick.
        hub.peer().router().setTimeStatus(0);
        hub.gui->tick();
        QCOMPARE(hub.enabled(), QStringLiteral("011111"));
    }
    if (tag == "authorisation refused") {
        QCOMPARE(authed.count(), 0);
        hub.peer().setCommandFault(ClubRouter::Authorise, ClubPortPeer::Fault());
        QTRY_COMPARE(authed.count(), 1);
        QCOMPARE(hub.tickWarning(), kAuthorised);
        QCOMPARE(hub.enabled(), QStringLiteral("111111"));
    }
}

// A router that leaves the status unanswered blocks one tick for the link's
// answer time; then it is not asked for the (scaled) pause while
// "Race Marking" stays disabled, and no box comes up.
void TestFormMorlanConnect::timeStatus_silentRouter_pausesReads()
{
    qputenv("BRELLIUM_TIME_SCALE", "0.02"); // the 15 s pause becomes 300 ms
    Hub hub;
    HardwareControl::init(0x8);
    QVERIFY(hub.enterAuthorised());
    QCOMPARE(hub.enabled(), QStringLiteral("011111"));
    hub.peer().setCommandFault(ClubRouter::GetTime, faultOf(ClubPortPeer::Fault::Silence));
    hub.peer().clearFrames();
    MessageCapture log;
    hub.gui->tick();
    QCOMPARE(hub.peer().framesOf(ClubRouter::GetTime).size(), 1);
    QCOMPARE(hub.enabled(), QStringLiteral("011011"));
    QCOMPARE(log.count(QStringLiteral("FormMorlanConnect::refreshForm time status VexException!")), 1);
    QVERIFY(!GuiFixture::boxShown());
    QVERIFY(hub.link().isAuthed()); // a failed call with a waiter keeps the link
    hub.gui->tick(3);
    QCOMPARE(hub.peer().framesOf(ClubRouter::GetTime).size(), 1);
    QCOMPARE(hub.enabled(), QStringLiteral("011011"));
    // After the pause the router is asked again; answering, it enables.
    hub.peer().setCommandFault(ClubRouter::GetTime, ClubPortPeer::Fault());
    QTRY_VERIFY((hub.gui->tick(), hub.peer().framesOf(ClubRouter::GetTime).size() >= 2));
    QCOMPARE(hub.enabled(), QStringLiteral("011111"));
    QVERIFY(!GuiFixture::boxShown());
}

// One visit: entering, the router vanishing while the hub has the focus,
// the time screen and the PC screen on top, and Back to the hub.
void TestFormMorlanConnect::modes_followFocusAndScreens()
{
    Hub hub;
    HardwareControl::init(0x4);
    QVERIFY(hub.fixture.store().exec(QStringLiteral("update LOFTINFO set TimeZone=3600")));
    UTC::setTimeZone(0);
    hub.gui->push(hub.screen);
    QCOMPARE(hub.reader.getRaceMode(), 0);
    QCOMPARE(UTC::_timezone.load(), 3600); // the loft reloaded before club mode
    QCOMPARE(hub.link().getWorkMode(), int(MorlanProtocolProcess::ClubMaster));
    QTRY_COMPARE(hub.peer().lineSettings().baud, ClubPortPeer::kRouterBaud);
    QTRY_VERIFY(!hub.peer().framesOf(ClubRouter::Initialise).isEmpty());
    QTRY_COMPARE(hub.tickWarning(), kAuthorised);

    // First visit: the router falls silent. The hub keeps the watch on while
    // it has the focus, so the link finds the router gone.
    hub.peer().setNextFaults(1000000, faultOf(ClubPortPeer::Fault::Silence));
    QTRY_COMPARE(hub.tickWarning(), kNone);
    QCOMPARE(hub.enabled(), QStringLiteral("000000"));
    hub.peer().clearFaults();
    QTRY_COMPARE(hub.tickWarning(), kAuthorised);

    // The time screen on top: the watch off, club mode kept on the same line.
    const int opens = hub.peer().openCount();
    PromptQueue sound;
    hub.drive->click("btnSetTime");
    QCOMPARE(hub.gui->top(), static_cast<SubWindow *>(hub.gui->window()->formTime));
    QVERIFY(!hub.link().routerWatch);
    QCOMPARE(hub.link().getWorkMode(), int(MorlanProtocolProcess::ClubMaster));
    hub.gui->key(Qt::Key_Escape);
    QCOMPARE(hub.gui->top(), static_cast<SubWindow *>(hub.screen));
    QVERIFY(hub.link().routerWatch);
    QCOMPARE(hub.peer().openCount(), opens);

    // The PC screen: comm mode while shown; on leaving the loft reloaded and
    // race work requested; back on the hub club mode returns, the reader
    // keeping the word from "channelMode".
    hub.drive->click("btnConnectToPc");
    QCOMPARE(hub.gui->top(), static_cast<SubWindow *>(hub.gui->window()->formPcConnect));
    QCOMPARE(hub.link().getWorkMode(), int(MorlanProtocolProcess::CommSlave));
    QVERIFY(!hub.link().routerWatch);
    QVERIFY(hub.fixture.store().exec(QStringLiteral("update LOFTINFO set TimeZone=7200")));
    QTRY_VERIFY(!hub.link().isConnected()); // the router is no longer served
    hub.gui->key(Qt::Key_Escape);
    QCOMPARE(hub.gui->top(), static_cast<SubWindow *>(hub.screen));
    QCOMPARE(UTC::_timezone.load(), 7200);
    QCOMPARE(hub.reader.getRaceMode(), kRaceModeDefault);
    QCOMPARE(hub.link().getWorkMode(), int(MorlanProtocolProcess::ClubMaster));
    QVERIFY(hub.link().routerWatch);
    QTRY_COMPARE(hub.tickWarning(), kAuthorised);
    QCOMPARE(sound.prompts(), (QStringList{"dong", "dong"}));
    UTC::setTimeZone(ReportFixture::kZoneSeconds);
}

void TestFormMorlanConnect::leaving_returnsToRaceWork_data()
{
    QTest::addColumn<int>("channelMode");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("raceMode");
    QTest::newRow("Back, channel 0") << 0 << "back" << kRaceModeDefault;
    QTest::newRow("Back, channel 1") << 1 << "back" << kRaceModeChannel;
    QTest::newRow("Home over the time screen") << 0 << "home over time" << kRaceModeDefault;
    QTest::newRow("Home over the PC screen") << 1 << "home over pc" << kRaceModeChannel;
}

void TestFormMorlanConnect::leaving_returnsToRaceWork()
{
    QFETCH(int, channelMode);
    QFETCH(QString, how);
    QFETCH(int, raceMode);
    Hub hub;
    HardwareControl::init(0x4);
    ServiceFactory::setParamInt32(QStringLiteral("channelMode"), channelMode);
    QVERIFY(hub.enterAuthorised());
    if (how == QLatin1String("home over time"))
        hub.drive->click("btnSetTime");
    if (how == QLatin1String("home over pc"))
        hub.drive->click("btnConnectToPc");
    hub.gui->key(how == QLatin1String("back") ? Qt::Key_Escape : Qt::Key_Home);
    QCOMPARE(hub.gui->top(), nullptr);
    QVERIFY(!hub.screen->isActive());
    QCOMPARE(hub.enabled(), QStringLiteral("000000"));
    QCOMPARE(hub.warning(), QStringLiteral("Disconnect from club..."));
    QCOMPARE(hub.reader.getRaceMode(), raceMode);
    QCOMPARE(hub.link().getWorkMode(), int(MorlanProtocolProcess::Normal));
    QVERIFY(!hub.link().routerWatch);
    QTRY_COMPARE(hub.peer().lineSettings().baud, ClubPortPeer::kConnectorBaud);
    QVERIFY(!GuiFixture::boxShown());
}

// Another connection holds the database past the busy time as the hub gains
// the focus: the failed reload is shown, club mode is requested all the same.
void TestFormMorlanConnect::lockedDatabase_modeRequestsFollow()
{
    Hub hub;
    QVERIFY(hub.fixture.store().hold(true));
    hub.gui->push(hub.screen);
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(hub.link().getWorkMode(), int(MorlanProtocolProcess::ClubMaster));
    // Leaving under the same lock: "channelMode" cannot be read, yet race
    // work follows with the default channel's word.
    GuiFixture::answerBox(QMessageBox::Ok);
    hub.gui->key(Qt::Key_Escape);
    QVERIFY(hub.fixture.store().releaseHold());
    QCOMPARE(hub.gui->top(), nullptr);
    QCOMPARE(hub.reader.getRaceMode(), kRaceModeDefault);
    QCOMPARE(hub.link().getWorkMode(), int(MorlanProtocolProcess::Normal));
}

void TestFormMorlanConnect::buttons_openTheirScreens_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("screen");
    QTest::newRow("Set Time") << "btnSetTime" << "FormTime";
    QTest::newRow("Ring Assignment") << "btnAssignment" << "FormPigeonsAssignment";
    QTest::newRow("Race Marking") << "btnMarking" << "FormMarkingSelectRace";
    QTest::newRow("Race Manager") << "btnAddRace" << "FormRace";
    QTest::newRow("Connect To PC") << "btnConnectToPc" << "FormPcConnect";
    QTest::newRow("Pigeon Manager") << "btnAddPigeon" << "FormPigeonList";
}

void TestFormMorlanConnect::buttons_openTheirScreens()
{
    QFETCH(QString, button);
    QFETCH(QString, screen);
    Hub hub;
    HardwareControl::init(0x4);
    QVERIFY(hub.enterAuthorised());
    PromptQueue sound;
    hub.drive->click(button.toLatin1().constData());
    QVERIFY(!GuiFixture::boxShown());
    QVERIFY(hub.gui->top());
    QCOMPARE(QString::fromLatin1(hub.gui->top()->metaObject()->className()), screen);
    QCOMPARE(sound.prompts().value(0), QStringLiteral("dong"));
    if (button == QLatin1String("btnAddRace")) {
        auto *add = hub.gui->top()->findChild<QPushButton *>(QStringLiteral("btnAdd"));
        QVERIFY(add && add->isVisible());
    }
    QVERIFY(hub.screen->isActive());
}

void TestFormMorlanConnect::setTime_refusedWhileRacing_data()
{
    QTest::addColumn<int>("valid"); // 0: no race
    QTest::addColumn<qint64>("markReaderTime");
    QTest::addColumn<bool>("refused");
    QTest::newRow("no race") << 0 << 0LL << false;
    QTest::newRow("basketing closed") << 3 << 0LL << true;
    QTest::newRow("new, marked at the club reader") << 1 << 1773480000000LL << true;
    QTest::newRow("new, not marked") << 1 << 0LL << false;
}

void TestFormMorlanConnect::setTime_refusedWhileRacing()
{
    QFETCH(int, valid);
    QFETCH(qint64, markReaderTime);
    QFETCH(bool, refused);
    Hub hub;
    HardwareControl::init(0x4);
    if (valid != 0) {
        RaceInfo race = LoftSeed::race(QStringLiteral("R1"), valid);
        race.markReaderTime = markReaderTime;
        Storage::instance()->saveRace(&race);
    }
    QVERIFY(hub.enterAuthorised());
    PromptQueue sound;
    hub.drive->click("btnSetTime");
    if (!refused) {
        QCOMPARE(hub.gui->top(), static_cast<SubWindow *>(hub.gui->window()->formTime));
        QCOMPARE(sound.prompts(), QStringList{"dong"});
        return;
    }
    QCOMPARE(hub.gui->top(), static_cast<SubWindow *>(hub.screen));
    QCOMPARE(sound.prompts(), QStringList{"error"});
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Find some pigeons are racing!"));
}

// Services not started, as the menu suite pushes the hub: no link, nothing
// to switch, every button disabled.
void TestFormMorlanConnect::noServices_showsNoClubSystem()
{
    GuiFixture gui;
    FormMorlanConnect *screen = gui.window()->formMorlanConnect;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    gui.push(screen);
    gui.tick(2);
    QCOMPARE(drive.text("labelWarning"), kNone);
    for (const char *name : kButtons)
        QVERIFY(!drive.find<QPushButton>(name)->isEnabled());
    QVERIFY(gui.key(Qt::Key_Escape));
    QCOMPARE(gui.top(), nullptr);
    QVERIFY(!GuiFixture::boxShown());
}

BRELLIUM_GUI_TEST_MAIN(TestFormMorlanConnect)
#include "tst_formmorlanconnect.moc"
