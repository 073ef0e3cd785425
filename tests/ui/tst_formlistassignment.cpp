#include "club/morlanprotolprocess.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formlistassignment.h"

#include "guifixture.h"
#include "innermodulepeer.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "recordinghandler.h"
#include "runningengine.h"
#include "screendriver.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <memory>

namespace {
constexpr qint64 kNowMs = 1700000000000;
constexpr int kStopMs = 5000;
constexpr int kWaitMs = 15000;
constexpr int kGpioMains = 51;
constexpr int kGpioRf = 40;
const RFIDService::Timing kFast{20, 200};
const char kSuite[] = "tst_formlistassignment";
const QString kScanning = QStringLiteral("Scanning...");
const QString kFound = QStringLiteral("Click <OK> to assign!");
const QString kTaken = QStringLiteral("This e-ring is already assigned!");
const QString kUnauthorized = QStringLiteral("Unauthorized E-ring!");

// One reading as a reader thread hands it in; "*" in front marks a reading
// replayed from the reader's memory.
LFTAG_INFO reading(const QString &text)
{
    LFTAG_INFO tag;
    tag.stored = text.startsWith(QLatin1Char('*')) ? 1 : 0;
    tag.eRing = tag.stored ? text.mid(1) : text;
    tag.uid = tag.eRing.isEmpty() ? QString() : QStringLiteral("5A5A") + tag.eRing.right(4);
    tag.time = UTC::clubTime().value();
    return tag;
}
} // namespace

// Ring assignment by the loft antenna: which readings the screen takes,
// what it shows and says, and what OK stores and hands back.
class TestFormListAssignment : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readings_data();
    void readings();
    void restartScansAgain();
    void assignStoresRing();
    void assignRefusedWhenRingedMeanwhile();
    void lookupFailureKeepsScanning();
    void leavingStoresNothing_data();
    void leavingStoresNothing();
    void withoutServices();
    void endToEnd();

private:
    void open(const QString &assocNum);
    void hand(const QString &text);
    QString label(const char *name) const { return screen->findChild<QLabel *>(QLatin1String(name))->text(); }
    bool enabled(const char *name) const { return screen->findChild<QPushButton *>(QLatin1String(name))->isEnabled(); }
    QStringList prompts() const;
    // What this screen may change: the pigeons and the assignment log. The
    // engine handles the same readings in its own thread and may write
    // elsewhere; that is not this screen's doing.
    QList<QVariantList> pigeonRows() const
    {
        return gui->store().rows(QStringLiteral(
            "select AssocNum, EringNum, ifnull(Uid,'<null>'), UpdateTime, "
            "(select count(*) from Log where LogType=18) from Pigeon order by AssocNum"));
    }

    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<RunningEngine> engine;
    std::unique_ptr<MorlanProtocolProcess> link;
    std::unique_ptr<RecordingHandler> handler;
    std::unique_ptr<ScreenDriver> driver;
    FormListAssignment *screen = nullptr;
};

void TestFormListAssignment::init()
{
    Platform::setSystemClock([] { return kNowMs; });
    gui = std::make_unique<GuiFixture>();
    sound = std::make_unique<PromptQueue>();
    QVERIFY(QTest::qWaitForWindowActive(gui->window()));
    LoftSeed::pigeon(QStringLiteral("P1"));
    LoftSeed::pigeon(QStringLiteral("P2"), QStringLiteral("0000BEEF"));
    LoftSeed::pigeon(QStringLiteral("P3"), QStringLiteral("0000CAFE"));
    // Basketed for a race that has not started, the ringed pigeons make no
    // arrival (and no arrival prompt) of the readings the engine sees too.
    LoftSeed::race(QStringLiteral("R0"), LoftSeed::kRaceNew);
    LoftSeed::basket(QStringLiteral("P2"), QStringLiteral("R0"), kNowMs - 3600000);
    LoftSeed::basket(QStringLiteral("P3"), QStringLiteral("R0"), kNowMs - 3600000);
    engine = std::make_unique<RunningEngine>();
    QVERIFY(engine->startEngine());
    link = std::make_unique<MorlanProtocolProcess>(_serialPort_miniDin);
    ServiceFactory::getInstance()->protocolProcess = link.get();
    screen = gui->window()->formListAssignment;
    handler = std::make_unique<RecordingHandler>(screen);
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
}

void TestFormListAssignment::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    driver.reset();
    gui->window()->resetSubForms();
    ServiceFactory::getInstance()->protocolProcess = nullptr;
    link.reset();
    if (engine) {
        engine->quit();
        engine->wait(kStopMs);
        engine.reset();
    }
    handler.reset();
    sound.reset();
    gui.reset();
    HardwareControl::init(0);
    Platform::setSystemClock({});
}

void TestFormListAssignment::open(const QString &assocNum)
{
    screen->showForm(assocNum, handler.get());
    QCOMPARE(gui->top(), screen);
}

// Hands the reading in from a plain thread, as the polling thread does, and
// delivers it: the queued call is posted before the thread ends.
void TestFormListAssignment::hand(const QString &text)
{
    LFTAG_INFO tag = reading(text);
    PigeonBo *bo = engine->engine();
    std::unique_ptr<QThread> reader(QThread::create([bo, &tag] { bo->notifyTagScaned(&tag); }));
    reader->start();
    QVERIFY(reader->wait(kStopMs));
    QCoreApplication::sendPostedEvents(screen, QEvent::MetaCall);
}

QStringList TestFormListAssignment::prompts() const
{
    return sound->prompts();
}

void TestFormListAssignment::readings_data()
{
    QTest::addColumn<QString>("pigeon");
    QTest::addColumn<bool>("authorisedOnly");
    QTest::addColumn<QStringList>("rings");
    QTest::addColumn<QString>("ringShown");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<bool>("found"); // OK and Restart enabled, scanning stopped
    QTest::addColumn<QStringList>("prompts");

    const QString p1 = QStringLiteral("P1");
    const QStringList none;
    const QStringList valid{QStringLiteral("pigeonValid")};
    const QStringList repeat{QStringLiteral("pigeonRepeat")};
    QTest::newRow("replayed free ring") << p1 << false << QStringList{"*0000AAAA"} << "" << kScanning << false << none;
    QTest::newRow("replayed after a free ring was taken")
        << p1 << false << QStringList{"0000AAAA", "*0000BBBB"} << "0000AAAA" << kFound << true << valid;
    QTest::newRow("empty, no ring held") << p1 << false << QStringList{""} << "" << kScanning << false << none;
    QTest::newRow("empty after a rejected ring")
        << p1 << true << QStringList{"AB000001", ""} << "" << kScanning << false << none;
    QTest::newRow("authorised AE") << p1 << true << QStringList{"AE000001"} << "AE000001" << kFound << true << valid;
    QTest::newRow("authorised AA") << p1 << true << QStringList{"AA000001"} << "AA000001" << kFound << true << valid;
    QTest::newRow("lower-case ae") << p1 << true << QStringList{"ae000001"} << "ae000001" << kUnauthorized << false
                                   << none;
    QTest::newRow("mixed Ae") << p1 << true << QStringList{"Ae000001"} << "Ae000001" << kUnauthorized << false << none;
    QTest::newRow("AB with the flag") << p1 << true << QStringList{"AB000001"} << "AB000001" << kUnauthorized << false
                                      << none;
    QTest::newRow("AB without the flag") << p1 << false << QStringList{"AB000001"} << "AB000001" << kFound << true
                                         << valid;
    QTest::newRow("rejected, then a good one")
        << p1 << true << QStringList{"AB000001", "AE000002"} << "AE000002" << kFound << true << valid;
    QTest::newRow("ring of another pigeon") << p1 << false << QStringList{"0000BEEF"} << "0000BEEF" << kTaken << false
                                            << repeat;
    QTest::newRow("ring of this pigeon") << QStringLiteral("P3") << false << QStringList{"0000CAFE"} << "0000CAFE"
                                         << kTaken << false << repeat;
    QTest::newRow("taken ring read twice prompts twice")
        << p1 << false << QStringList{"0000BEEF", "0000BEEF"} << "0000BEEF" << kTaken << false << (repeat + repeat);
    QTest::newRow("free ring, then more readings")
        << p1 << false << QStringList{"0000AAAA", "0000BEEF", "", "0000BBBB"} << "0000AAAA" << kFound << true << valid;
    QTest::newRow("7 digits") << p1 << false << QStringList{"0000AAA"} << "" << kScanning << false << none;
    QTest::newRow("9 digits") << p1 << false << QStringList{"0000AAAA0"} << "" << kScanning << false << none;
    QTest::newRow("not hex") << p1 << false << QStringList{"0000AAAG"} << "" << kScanning << false << none;
    QTest::newRow("quote") << p1 << false << QStringList{"0000'AAA"} << "" << kScanning << false << none;
}

void TestFormListAssignment::readings()
{
    QFETCH(QString, pigeon);
    QFETCH(bool, authorisedOnly);
    QFETCH(QStringList, rings);
    QFETCH(QString, ringShown);
    QFETCH(QString, tip);
    QFETCH(bool, found);
    QFETCH(QStringList, prompts);

    HardwareControl::init(authorisedOnly ? 0x80 : 0);
    const QList<QVariantList> before = pigeonRows();
    open(pigeon);
    QCOMPARE(label("labAssocNum"), pigeon);
    for (const QString &ring : rings)
        hand(ring);

    QCOMPARE(label("labEringNum"), ringShown);
    QCOMPARE(label("labTipInfo"), tip);
    QCOMPARE(enabled("btnAssign"), found);
    QCOMPARE(enabled("btnRestart"), found);
    QCOMPARE(this->prompts(), prompts);
    QVERIFY(!GuiFixture::boxShown());
    QCOMPARE(handler->calls(), 0);
    QCOMPARE(pigeonRows(), before); // a reading alone stores nothing

    const QByteArray tag = QTest::currentDataTag();
    if (tag == "AB with the flag")
        driver->shot(QStringLiteral("rejected"));
    else if (tag == "AB without the flag")
        driver->shot(QStringLiteral("found"));
    else if (tag == "empty, no ring held")
        driver->shot(QStringLiteral("scanning"));
}

void TestFormListAssignment::restartScansAgain()
{
    open(QStringLiteral("P1"));
    QCOMPARE(link->queuedCommandCount(), 1);
    hand(QStringLiteral("0000AAAA"));
    QCOMPARE(label("labTipInfo"), kFound);
    hand(QStringLiteral("0000BBBB")); // not scanning: not shown
    QCOMPARE(label("labEringNum"), QStringLiteral("0000AAAA"));

    QVERIFY(driver->click("btnRestart"));
    QCOMPARE(prompts(), (QStringList{QStringLiteral("pigeonValid"), QStringLiteral("dong")}));
    QCOMPARE(label("labEringNum"), QString());
    QCOMPARE(label("labTipInfo"), kScanning);
    QVERIFY(!enabled("btnAssign"));
    QVERIFY(!enabled("btnRestart"));
    QCOMPARE(link->queuedCommandCount(), 2);

    // Scanning again, and connected once only: one prompt per reading.
    hand(QStringLiteral("0000BBBB"));
    QCOMPARE(label("labEringNum"), QStringLiteral("0000BBBB"));
    QCOMPARE(prompts().count(QStringLiteral("pigeonValid")), 2);
}

void TestFormListAssignment::assignStoresRing()
{
    Platform::setSystemClock([] { return kNowMs; });
    open(QStringLiteral("P1"));
    hand(QStringLiteral("0000AAAA"));
    QVERIFY(driver->click("btnAssign"));

    QCOMPARE(gui->store().rows(QStringLiteral("select EringNum, Uid, UpdateTime from Pigeon where AssocNum='P1'")),
             (QList<QVariantList>{{QStringLiteral("0000AAAA"), QStringLiteral("5A5AAAAA"), UTC::clubTime().value()}}));
    QCOMPARE(gui->store().rows(QStringLiteral("select LogType from Log where LogType=18")),
             (QList<QVariantList>{{18}}));
    QVERIFY(gui->store().value(QStringLiteral("select LogInfo from Log where LogType=18")).toString().contains(
        QStringLiteral("0000AAAA")));
    QVERIFY(gui->top() != screen);
    QCOMPARE(handler->calls(), 1);
    QCOMPARE(handler->buttons.first(), QMessageBox::Ok);
    QVERIFY(!handler->openedStillOnTop.first());
    QCOMPARE(handler->pigeons.first().assocNum, QStringLiteral("P1"));
    QCOMPARE(handler->pigeons.first().eringNum, QStringLiteral("0000AAAA"));
    QCOMPARE(handler->pigeons.first().uid, QStringLiteral("5A5AAAAA"));
    QCOMPARE(prompts().last(), QStringLiteral("ok"));

    // Closed: later readings no longer reach it.
    hand(QStringLiteral("0000BBBB"));
    QCOMPARE(label("labEringNum"), QStringLiteral("0000AAAA"));
}

void TestFormListAssignment::assignRefusedWhenRingedMeanwhile()
{
    open(QStringLiteral("P1"));
    hand(QStringLiteral("0000AAAA"));
    QVERIFY(gui->store().exec(QStringLiteral("update Pigeon set EringNum='0000DDDD' where AssocNum='P1'")));
    const QList<QVariantList> before = pigeonRows();
    QVERIFY(driver->click("btnAssign"));
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Pigeon alread assigned!"));
    QCOMPARE(prompts().mid(1), (QStringList{QStringLiteral("ok"), QStringLiteral("error")}));
    QCOMPARE(gui->top(), screen);
    QCOMPARE(label("labEringNum"), QStringLiteral("0000AAAA"));
    QCOMPARE(handler->calls(), 0);
    QCOMPARE(pigeonRows(), before);
}

void TestFormListAssignment::lookupFailureKeepsScanning()
{
    open(QStringLiteral("P1"));
    // Faults count the statements of every thread: the engine, which would
    // handle the same reading, goes first, and the readings come straight in.
    engine->quit();
    QVERIFY(engine->wait(kStopMs));
    engine.reset();
    Storage::setFault(Storage::Fault::FailStatement, 1);
    screen->onListTagScaned(reading(QStringLiteral("0000AAAA")));
    Storage::setFault(Storage::Fault::None);
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(prompts(), QStringList{QStringLiteral("error")});
    QVERIFY(!enabled("btnAssign"));
    QVERIFY(!enabled("btnRestart"));
    // The ring was not judged: it is not shown as held.
    QCOMPARE(label("labEringNum"), QString());
    QCOMPARE(label("labTipInfo"), kScanning);
    GuiFixture::answerBox(QMessageBox::Ok);

    screen->onListTagScaned(reading(QStringLiteral("0000BBBB")));
    QCOMPARE(label("labTipInfo"), kFound);
    QCOMPARE(label("labEringNum"), QStringLiteral("0000BBBB"));
    QVERIFY(enabled("btnAssign"));
}

void TestFormListAssignment::leavingStoresNothing_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Escape") << true;
}

void TestFormListAssignment::leavingStoresNothing()
{
    QFETCH(bool, byEscape);
    const QList<QVariantList> before = pigeonRows();
    open(QStringLiteral("P1"));
    hand(QStringLiteral("0000AAAA"));
    if (byEscape)
        QVERIFY(gui->key(Qt::Key_Escape));
    else
        QVERIFY(driver->click("btnCancel"));
    QVERIFY(gui->top() != screen);
    QCOMPARE(handler->calls(), 0);
    QCOMPARE(pigeonRows(), before);
    QCOMPARE(prompts(), QStringList{QStringLiteral("pigeonValid")}); // Cancel plays nothing
}

void TestFormListAssignment::withoutServices()
{
    ServiceFactory::getInstance()->protocolProcess = nullptr;
    engine->quit();
    QVERIFY(engine->wait(kStopMs));
    engine.reset();
    QCOMPARE(ServiceFactory::getInstance()->pigeonBo.operator PigeonBo *(), nullptr);
    open(QStringLiteral("P1"));
    QCOMPARE(label("labTipInfo"), kScanning);
    QVERIFY(!enabled("btnAssign"));
    QVERIFY(driver->click("btnCancel"));
    QVERIFY(gui->top() != screen);
}

// The whole road: a ring held to the loft antenna, read by the module peer,
// fetched by the polling thread, handed on by the engine.
void TestFormListAssignment::endToEnd()
{
    Platform::setSystemClock({});
    gui->root().setGpio(kGpioMains, 1);
    gui->root().setGpio(kGpioRf, 0);
    InnerModulePeer peer;
    peer.linkUnder(gui->root().root(), QStringLiteral("/dev/ttyS3"));
    peer.start();
    RFIDService rfid(QStringLiteral("/dev/ttyS3"), 0x311);
    rfid.setTiming(kFast);
    rfid.start();

    open(QStringLiteral("P1"));
    peer.presentTag(QStringLiteral("0000ABCD"), QStringLiteral("11223344"));
    QTRY_COMPARE_WITH_TIMEOUT(label("labTipInfo"), kFound, kWaitMs);
    QCOMPARE(label("labEringNum"), QStringLiteral("0000ABCD"));
    QVERIFY(driver->click("btnAssign"));
    QCOMPARE(gui->store().rows(QStringLiteral("select EringNum, Uid from Pigeon where AssocNum='P1'")),
             (QList<QVariantList>{{QStringLiteral("0000ABCD"), QStringLiteral("11223344")}}));
    QCOMPARE(handler->calls(), 1);

    rfid.requestExit();
    QVERIFY(rfid.wait(kStopMs));
}

BRELLIUM_GUI_TEST_MAIN(TestFormListAssignment)
#include "tst_formlistassignment.moc"
