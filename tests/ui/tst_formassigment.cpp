#include "club/clubreads.h"
#include "club/morlanprotolprocess.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "storage/storage.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formassigment.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "guifixture.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "recordinghandler.h"
#include "reportfixture.h"
#include "screendriver.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

namespace {
constexpr qint64 kNowMs = 1700000000000;
constexpr int kStopMs = 5000;
constexpr int kRouterMs = 10000;
const char kSuite[] = "tst_formassigment";
const QString kScanning = QStringLiteral("Scanning...");
const QString kFound = QStringLiteral("Click <OK> to assign!");
const QString kTaken = QStringLiteral("This e-ring is already assigned!");
const QString kUnauthorized = QStringLiteral("Unauthorized E-ring!");
const QString kValid = QStringLiteral("pigeonValid");
const QString kRepeat = QStringLiteral("pigeonRepeat");
using Fault = ClubPortPeer::Fault;

// Runs f in a plain thread, as the link thread answers, and delivers what
// it posted to the GUI thread.
void fromThread(const std::function<void()> &f)
{
    std::unique_ptr<QThread> thread(QThread::create(f));
    thread->start();
    thread->wait();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

// The lost-read bound as the screen takes it: 15 s scaled by the time-scale
// seam of the simulated root.
class TimeScale
{
public:
    explicit TimeScale(double factor) { qputenv("BRELLIUM_TIME_SCALE", QByteArray::number(factor)); }
    ~TimeScale() { qunsetenv("BRELLIUM_TIME_SCALE"); }
};
} // namespace

// Ring assignment by the club reader: each reading is asked for, at most one
// request of the screen is in the link at any time, and a request the link
// never answers is asked again. Readings come from a link that is not
// started (the test answers its queued requests from a plain thread) or from
// the club router peer.
class TestFormAssigment : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readings_data();
    void readings();
    void ignoredAnswers_data();
    void ignoredAnswers();
    void doubledAnswer_handledOnce();
    void lookupFailure_reportsAndChecksAgain();
    void reopening_keepsOneChain();
    void lostRequest_askedAgainOnce();
    void assign_storesAndHandsBack();
    void withoutLink_waitsScanning();
    void router_assignsPresentedRing();
    void router_readDropped_askedAgain_data();
    void router_readDropped_askedAgain();
    void router_lateReads_cancelAndReopen_oneChain();

private:
    void open(const QString &assocNum);
    // The screen's reads waiting in the link.
    int readsQueued() const;
    // Takes the one queued read and answers it from a plain thread.
    void answer(const QString &ring);
    QString label(const char *name) const { return screen->findChild<QLabel *>(QLatin1String(name))->text(); }
    bool enabled(const char *name) const { return screen->findChild<QPushButton *>(QLatin1String(name))->isEnabled(); }
    void startOnRouter(ReportFixture &fixture);

    std::unique_ptr<ReportFixture> router; // only the router tests
    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<MorlanProtocolProcess> link;
    std::unique_ptr<RecordingHandler> handler;
    std::unique_ptr<ScreenDriver> driver;
    FormAssigment *screen = nullptr;
};

void TestFormAssigment::init()
{
    if (QString::fromLatin1(QTest::currentTestFunction()).startsWith(QLatin1String("router_"))) {
        router = std::make_unique<ReportFixture>();
        gui = std::make_unique<GuiFixture>(&router->store());
    } else {
        Platform::setSystemClock([] { return kNowMs; });
        gui = std::make_unique<GuiFixture>();
        link = std::make_unique<MorlanProtocolProcess>(_serialPort_miniDin);
        ServiceFactory::getInstance()->protocolProcess = link.get();
    }
    sound = std::make_unique<PromptQueue>();
    LoftSeed::pigeon(QStringLiteral("P1"));
    LoftSeed::pigeon(QStringLiteral("P2"), QStringLiteral("0000BEEF"));
    LoftSeed::pigeon(QStringLiteral("O'Hara 7"));
    screen = gui->window()->formAssigment;
    handler = std::make_unique<RecordingHandler>(screen);
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
}

void TestFormAssigment::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    driver.reset();
    gui->window()->resetSubForms();
    if (link)
        ServiceFactory::getInstance()->protocolProcess = nullptr;
    link.reset();
    handler.reset();
    sound.reset();
    gui.reset();
    router.reset();
    HardwareControl::init(0);
    Platform::setSystemClock({});
}

void TestFormAssigment::open(const QString &assocNum)
{
    screen->showForm(assocNum, handler.get());
    QCOMPARE(gui->top(), screen);
}

int TestFormAssigment::readsQueued() const
{
    return int(link->queuedCommandTypes().count(MorlanProtocolProcess::ReadTag));
}

void TestFormAssigment::answer(const QString &ring)
{
    QCOMPARE(link->queuedCommandCount(), 1);
    MorlanCmdItem item;
    QVERIFY(link->takeQueuedCommand(&item));
    QCOMPARE(item.type, int(MorlanProtocolProcess::ReadTag));
    QVERIFY(item.ticket);
    // The club reader gives no uid: the link hands a null text.
    fromThread([&item, ring] { item.ticket->answerReadTag(ring, 0, QString()); });
}

void TestFormAssigment::readings_data()
{
    QTest::addColumn<QString>("pigeon");
    QTest::addColumn<bool>("authorisedOnly");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("ringShown");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<QStringList>("prompts");
    QTest::addColumn<bool>("found"); // OK and Restart enabled, no further request

    const QString p1 = QStringLiteral("P1");
    const QStringList none;
    QTest::newRow("empty, nothing held") << p1 << false << QStringList{""} << "" << kScanning << none << false;
    QTest::newRow("the same rejected ring twice")
        << p1 << false << QStringList{"0000BEEF", "0000BEEF"} << "0000BEEF" << kTaken << QStringList{kRepeat} << false;
    QTest::newRow("rejected, empty, rejected again")
        << p1 << false << QStringList{"0000BEEF", "", "0000BEEF"} << "0000BEEF" << kTaken
        << QStringList{kRepeat, kRepeat} << false;
    QTest::newRow("a held ring, then empty")
        << p1 << false << QStringList{"0000BEEF", ""} << "" << kScanning << QStringList{kRepeat} << false;
    QTest::newRow("flag 0x80: AB") << p1 << true << QStringList{"AB000001"} << "AB000001" << kUnauthorized << none
                                   << false;
    QTest::newRow("flag 0x80: AE of no pigeon")
        << p1 << true << QStringList{"AE000001"} << "AE000001" << kFound << QStringList{kValid} << true;
    QTest::newRow("flag 0x80: AB, then AA") << p1 << true << QStringList{"AB000001", "AA000002"} << "AA000002" << kFound
                                            << QStringList{kValid} << true;
    QTest::newRow("flag clear: AB") << p1 << false << QStringList{"AB000001"} << "AB000001" << kFound
                                    << QStringList{kValid} << true;
    QTest::newRow("ring of another pigeon")
        << p1 << false << QStringList{"0000BEEF"} << "0000BEEF" << kTaken << QStringList{kRepeat} << false;
    QTest::newRow("ring of this pigeon") << QStringLiteral("P2") << false << QStringList{"0000BEEF"} << "0000BEEF"
                                         << kTaken << QStringList{kRepeat} << false;
    QTest::newRow("6 digits") << p1 << false << QStringList{"00BEEF"} << "" << kScanning << none << false;
    QTest::newRow("non-hex") << p1 << false << QStringList{"0000BEEG"} << "" << kScanning << none << false;
    QTest::newRow("9 digits") << p1 << false << QStringList{"0000BEEF1"} << "" << kScanning << none << false;
    QTest::newRow("a held ring, then a short one")
        << p1 << false << QStringList{"0000BEEF", "00BE"} << "" << kScanning << QStringList{kRepeat} << false;
    QTest::newRow("free ring of a quoted number")
        << QStringLiteral("O'Hara 7") << false << QStringList{"0000A001"} << "0000A001" << kFound
        << QStringList{kValid} << true;
}

void TestFormAssigment::readings()
{
    QFETCH(QString, pigeon);
    QFETCH(bool, authorisedOnly);
    QFETCH(QStringList, answers);
    QFETCH(QString, ringShown);
    QFETCH(QString, tip);
    QFETCH(QStringList, prompts);
    QFETCH(bool, found);
    HardwareControl::init(authorisedOnly ? 0x80 : 0);
    open(pigeon);
    QCOMPARE(label("labTipInfo"), kScanning);
    QCOMPARE(label("labAssocNum"), pigeon);
    QVERIFY(!enabled("btnAssign"));
    QVERIFY(!enabled("btnRestart"));
    for (const QString &ring : answers) {
        // Never more than the one request of this screen in the link.
        answer(ring);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(readsQueued() <= 1);
    }
    QCOMPARE(label("labEringNum"), ringShown);
    QCOMPARE(label("labTipInfo"), tip);
    QCOMPARE(sound->prompts(), prompts);
    QCOMPARE(enabled("btnAssign"), found);
    QCOMPARE(enabled("btnRestart"), found);
    QCOMPARE(readsQueued(), found ? 0 : 1);
    QCOMPARE(handler->calls(), 0);
    if (QTest::currentDataTag() == QLatin1String("flag 0x80: AB"))
        driver->shot(QStringLiteral("rejected"));
    else if (QTest::currentDataTag() == QLatin1String("flag 0x80: AE of no pigeon"))
        driver->shot(QStringLiteral("found"));
    else if (QTest::currentDataTag() == QLatin1String("empty, nothing held"))
        driver->shot(QStringLiteral("scanning"));
    if (found) {
        // Restart asks again, from a clean display.
        driver->click("btnRestart");
        QCOMPARE(label("labEringNum"), QString());
        QCOMPARE(label("labTipInfo"), kScanning);
        QVERIFY(!enabled("btnAssign"));
        QVERIFY(!enabled("btnRestart"));
        QCOMPARE(readsQueued(), 1);
    }
}

void TestFormAssigment::ignoredAnswers_data()
{
    QTest::addColumn<bool>("afterCancel"); // else: a broadcast answer while scanning
    QTest::newRow("broadcast answer while scanning") << false;
    QTest::newRow("own answer after Cancel") << true;
}

// An answer that is not to an outstanding request of a scanning screen
// changes nothing and asks for nothing.
void TestFormAssigment::ignoredAnswers()
{
    QFETCH(bool, afterCancel);
    open(QStringLiteral("P1"));
    QCOMPARE(readsQueued(), 1);
    if (afterCancel) {
        driver->click("btnCancel");
        answer(QStringLiteral("0000A001"));
        QCOMPARE(readsQueued(), 0);
    } else {
        MorlanProtocolProcess *process = link.get();
        fromThread([process] { emit process->readTagEnd(QStringLiteral("0000A001"), 0, QString()); });
        QCOMPARE(readsQueued(), 1);
        QCOMPARE(label("labTipInfo"), kScanning);
        QCOMPARE(label("labEringNum"), QString());
    }
    QVERIFY(sound->prompts().isEmpty());
    QCOMPARE(handler->calls(), 0);
    QCOMPARE(gui->store().value(QStringLiteral("select EringNum from Pigeon where AssocNum='P1'")).toString(),
             QString());
}

// The link answering one request twice: the second answer is no reading of
// the request now outstanding and must not be judged as one.
void TestFormAssigment::doubledAnswer_handledOnce()
{
    open(QStringLiteral("P1"));
    MorlanCmdItem item;
    QVERIFY(link->takeQueuedCommand(&item));
    fromThread([&item] { item.ticket->answerReadTag(QString(), 0, QString()); });
    QCOMPARE(readsQueued(), 1);
    fromThread([&item] { item.ticket->answerReadTag(QStringLiteral("0000A001"), 0, QString()); });
    QCOMPARE(label("labEringNum"), QString());
    QCOMPARE(label("labTipInfo"), kScanning);
    QVERIFY(!enabled("btnAssign"));
    QVERIFY(sound->prompts().isEmpty());
    QCOMPARE(readsQueued(), 1);
    // The request outstanding is still answered as usual.
    answer(QStringLiteral("0000A001"));
    QCOMPARE(label("labTipInfo"), kFound);
    QCOMPARE(readsQueued(), 0);
}

void TestFormAssigment::lookupFailure_reportsAndChecksAgain()
{
    open(QStringLiteral("P1"));
    // A verdict on show, which must not stay beside the next ring.
    answer(QStringLiteral("0000BEEF"));
    QCOMPARE(label("labTipInfo"), kTaken);
    MorlanCmdItem item;
    QVERIFY(link->takeQueuedCommand(&item));
    // The look-up is the first statement the answer runs.
    Storage::setFault(Storage::Fault::FailStatement, 1);
    fromThread([&item] { item.ticket->answerReadTag(QStringLiteral("0000A001"), 0, QString()); });
    Storage::setFault(Storage::Fault::None);
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(sound->prompts(), (QStringList{kRepeat, QStringLiteral("error")}));
    QVERIFY(!enabled("btnAssign"));
    // The ring was not judged: it is not shown as held.
    QCOMPARE(label("labEringNum"), QString());
    QCOMPARE(label("labTipInfo"), kScanning);
    QCOMPARE(readsQueued(), 1);
    GuiFixture::answerBox(QMessageBox::Ok);
    // The same ring, still on the reader, is checked again.
    answer(QStringLiteral("0000A001"));
    QCOMPARE(label("labTipInfo"), kFound);
    QVERIFY(enabled("btnAssign"));
    QCOMPARE(readsQueued(), 0);
}

// Cancel with a request outstanding, reopen, then the old answer: the answer
// belongs to the new opening, and never two requests run side by side.
void TestFormAssigment::reopening_keepsOneChain()
{
    open(QStringLiteral("P1"));
    for (int cycle = 0; cycle < 10; ++cycle) {
        QCOMPARE(readsQueued(), 1);
        MorlanCmdItem item;
        QVERIFY(link->takeQueuedCommand(&item)); // the link runs it...
        driver->click("btnCancel");
        open(QStringLiteral("P1"));
        QCOMPARE(readsQueued(), 0); // ...and the reopened screen waits for it
        fromThread([&item] { item.ticket->answerReadTag(QString(), 0, QString()); });
        QCOMPARE(readsQueued(), 1);
    }
    QCOMPARE(link->queuedCommandCount(), 1);
}

void TestFormAssigment::lostRequest_askedAgainOnce()
{
    const TimeScale scale(0.01); // the 15 s bound becomes 150 ms
    open(QStringLiteral("P1"));
    MorlanCmdItem dropped;
    QVERIFY(link->takeQueuedCommand(&dropped)); // taken, never answered
    dropped = MorlanCmdItem();
    QTRY_COMPARE(readsQueued(), 1);
    QCOMPARE(link->queuedCommandCount(), 1);
    QCOMPARE(label("labTipInfo"), kScanning);
    // The request asked again is answered as any other.
    answer(QStringLiteral("0000A001"));
    QCOMPARE(label("labTipInfo"), kFound);
}

void TestFormAssigment::assign_storesAndHandsBack()
{
    LoftSeed::pigeon(QStringLiteral("P9"), QStringLiteral("0000B009"));
    open(QStringLiteral("O'Hara 7"));
    answer(QStringLiteral("0000A001"));
    driver->click("btnAssign");
    const QList<QVariantList> rows = gui->store().rows(QStringLiteral(
        "select EringNum, ifnull(Uid,'<null>'), UpdateTime from Pigeon where AssocNum='O''Hara 7'"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(0).toString(), QStringLiteral("0000A001"));
    QCOMPARE(rows.first().at(1).toString(), QString(""));
    QCOMPARE(rows.first().at(2).toLongLong(), UTC::clubTime().value());
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from Log where LogType=18")).toInt(), 1);
    QVERIFY(gui->top() != screen);
    QCOMPARE(handler->calls(), 1);
    QCOMPARE(handler->buttons.first(), QMessageBox::Ok);
    QCOMPARE(handler->openedStillOnTop.first(), false);
    QCOMPARE(handler->pigeons.first().eringNum, QStringLiteral("0000A001"));
    QCOMPARE(readsQueued(), 0);
}

void TestFormAssigment::withoutLink_waitsScanning()
{
    ServiceFactory::getInstance()->protocolProcess = nullptr;
    open(QStringLiteral("P1"));
    QCOMPARE(label("labTipInfo"), kScanning);
    QCOMPARE(link->queuedCommandCount(), 0);
    driver->click("btnCancel");
    QVERIFY(gui->top() != screen);
}

void TestFormAssigment::startOnRouter(ReportFixture &fixture)
{
    QVERIFY(fixture.startClub());
    link.reset();
}

// With a ring at the reader only after some empty reads, the screen finds it
// and stops asking; OK stores it.
void TestFormAssigment::router_assignsPresentedRing()
{
    startOnRouter(*router);
    ClubPortPeer &peer = router->peer();
    peer.router().takeRingAway();
    open(QStringLiteral("P1"));
    QTRY_VERIFY_WITH_TIMEOUT(peer.framesOf(ClubRouter::ReadTransponder).size() >= 3, kRouterMs);
    QCOMPARE(label("labTipInfo"), kScanning);
    peer.router().presentRing(QByteArray::fromHex("0000a101"), 3);
    QTRY_COMPARE_WITH_TIMEOUT(label("labTipInfo"), kFound, kRouterMs);
    const int reads = peer.framesOf(ClubRouter::ReadTransponder).size();
    // A synchronous command queued now runs after any read queued before.
    router->link().getTimeSync();
    QCOMPARE(peer.framesOf(ClubRouter::ReadTransponder).size(), reads);
    driver->click("btnAssign");
    QCOMPARE(router->store().value(QStringLiteral("select EringNum from Pigeon where AssocNum='P1'")).toString(),
             QStringLiteral("0000A101"));
    QCOMPARE(handler->calls(), 1);
}

void TestFormAssigment::router_readDropped_askedAgain_data()
{
    QTest::addColumn<bool>("leaveClubMode"); // else the router is silent for one read
    QTest::newRow("router silent for one read") << false;
    QTest::newRow("club mode left and entered again") << true;
}

// The link drops a read without an answer (the router falls silent, or club
// mode ends and its queue goes): the screen asks again after its (scaled)
// bound and finds the ring presented meanwhile.
void TestFormAssigment::router_readDropped_askedAgain()
{
    QFETCH(bool, leaveClubMode);
    startOnRouter(*router);
    ClubPortPeer &peer = router->peer();
    MorlanProtocolProcess &process = router->link();
    peer.router().takeRingAway();
    // The link's answer time-out is 500 ms here; the bound a little longer.
    const TimeScale scale(0.06);
    if (leaveClubMode) {
        process.switchWorkMode(MorlanProtocolProcess::Normal, true);
        open(QStringLiteral("P1"));
        QCOMPARE(process.queuedCommandCount(), 1);
        process.switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
        QTRY_VERIFY_WITH_TIMEOUT(process.isAuthed(), kRouterMs);
    } else {
        peer.setCommandFault(ClubRouter::ReadTransponder, Fault{Fault::Silence, 0, {}}, 1);
        open(QStringLiteral("P1"));
        QTRY_COMPARE_WITH_TIMEOUT(peer.framesOf(ClubRouter::ReadTransponder).size(), 1, kRouterMs);
        peer.clearFaults();
    }
    peer.router().presentRing(QByteArray::fromHex("0000a101"), 3);
    QTRY_COMPARE_WITH_TIMEOUT(label("labTipInfo"), kFound, kRouterMs);
    QCOMPARE(label("labEringNum"), QStringLiteral("0000A101"));
}

// Late answers while the screen is left and opened again: one request at a
// time in the link, whatever the reopenings.
void TestFormAssigment::router_lateReads_cancelAndReopen_oneChain()
{
    startOnRouter(*router);
    ClubPortPeer &peer = router->peer();
    peer.router().takeRingAway();
    peer.setCommandFault(ClubRouter::ReadTransponder, Fault{Fault::Late, 200, {}}, 1);
    MorlanProtocolProcess &process = router->link();
    int before = 0;
    for (int cycle = 0; cycle < 5; ++cycle) {
        open(QStringLiteral("P1"));
        QTRY_VERIFY_WITH_TIMEOUT(peer.framesOf(ClubRouter::ReadTransponder).size() > before, kRouterMs);
        QVERIFY(process.queuedCommandCount() <= 1);
        driver->click("btnCancel");
        before = peer.framesOf(ClubRouter::ReadTransponder).size();
    }
    open(QStringLiteral("P1"));
    // Reads follow each other: the next is asked only when the one before
    // was answered, so the screen never waits for two.
    const ClubReads *reads = screen->findChild<ClubReads *>();
    QVERIFY(reads);
    const int start = peer.framesOf(ClubRouter::ReadTransponder).size();
    for (int seen = start; seen < start + 6;) {
        QVERIFY(process.queuedCommandCount() <= 1);
        QVERIFY(reads->pending() <= 1);
        QTRY_VERIFY_WITH_TIMEOUT(peer.framesOf(ClubRouter::ReadTransponder).size() > seen, kRouterMs);
        seen = peer.framesOf(ClubRouter::ReadTransponder).size();
    }
}

BRELLIUM_GUI_TEST_MAIN(TestFormAssigment)
#include "tst_formassigment.moc"
