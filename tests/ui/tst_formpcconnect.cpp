#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formpcconnect.h"

#include "guifixture.h"
#include "pcpeer.h"
#include "screendriver.h"

#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// The PC connection screen pushed on its own, as at start for an empty loft
// number, with the PC peer plugged into the club line: the link serves it in
// comm mode, its tips show as sent, and leaving reloads the loft settings
// the PC changed and returns the device to race work.

namespace {

const char kSuite[] = "tst_formpcconnect";
constexpr int kClockOpenMs = 5000;
constexpr unsigned long kStopMs = 5000;
constexpr int kRaceModeDefault = 0x311;

// The device's side: database, race engine (not started), ring reader
// (published, not started), the link thread on the club node with the PC
// peer's line behind it, and the window. Services are withdrawn before they die.
struct PcStay
{
    PcStay()
    {
        QDir().mkpath(store.root().path(QStringLiteral("/dev")));
        line.linkAt(store.root().path(QStringLiteral("/dev/ttyS2")));
        peer.setAnswerTimeoutMs(3000);
        engine.reflushCache();
        ServiceFactory *factory = ServiceFactory::getInstance();
        factory->pigeonBo = &engine;
        factory->rfidService = &reader;
        factory->protocolProcess = &link;
        link.start();
        gui = std::make_unique<GuiFixture>(&store);
        screen = gui->window()->formPcConnect;
        drive = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
    }
    ~PcStay()
    {
        drive.reset();
        gui.reset();
        ServiceFactory *factory = ServiceFactory::getInstance();
        factory->protocolProcess = nullptr;
        factory->rfidService = nullptr;
        factory->pigeonBo = nullptr;
        link.requestExit();
        link.wait(kStopMs);
        Storage::setConnectOptions(QString());
    }
    // Pushes the screen and waits until the link has the line open for the PC.
    bool enter()
    {
        gui->push(screen);
        return link.getWorkMode() == MorlanProtocolProcess::CommSlave && line.waitForClock(kClockOpenMs);
    }
    QLabel *tip() const { return drive->find<QLabel>("labTip"); }

    StorageFixture store;
    PcLineTransport line;
    PcPeer peer{&line};
    PigeonBo engine;
    RFIDService reader{_serialPort_lfInner, 0x111, nullptr};
    MorlanProtocolProcess link{_serialPort_miniDin};
    std::unique_ptr<GuiFixture> gui;
    FormPcConnect *screen = nullptr;
    std::unique_ptr<ScreenDriver> drive;
};

} // namespace

class TestFormPcConnect : public QObject
{
    Q_OBJECT
private slots:
    void tips_showAsSent_data();
    void tips_showAsSent();
    void leaving_reloadsLoftAndReturnsToRaceWork();
    void leaving_withDatabaseLocked_stillReturnsToRaceWork();
    void noServices_screenStillOpensAndCloses();
};

void TestFormPcConnect::tips_showAsSent_data()
{
    QTest::addColumn<QList<QByteArray>>("tips");
    QTest::addColumn<QString>("shown");
    const QByteArray longTip = "Reading pigeons 1 to 250 of the club's list, please keep the cable plugged in";
    QTest::newRow("one tip") << QList<QByteArray>{"Reading loft"} << "Reading loft";
    QTest::newRow("the next replaces it") << QList<QByteArray>{"Reading loft", "Writing races"} << "Writing races";
    QTest::newRow("zero byte cuts") << QList<QByteArray>{QByteArray("Done\0hidden", 11)} << "Done";
    QTest::newRow("markup as typed") << QList<QByteArray>{"<b>bold</b> &amp;"} << "<b>bold</b> &amp;";
    QTest::newRow("UTF-8") << QList<QByteArray>{"Duivenmelker M\xc3\xbcller"} << QString::fromUtf8("Duivenmelker Müller");
    QTest::newRow("empty clears") << QList<QByteArray>{"Reading loft", ""} << "";
    QTest::newRow("long tip wraps") << QList<QByteArray>{longTip} << QString::fromLatin1(longTip);
}

void TestFormPcConnect::tips_showAsSent()
{
    QFETCH(QList<QByteArray>, tips);
    QFETCH(QString, shown);
    PcStay stay;
    QVERIFY(stay.enter());
    QSignalSpy sent(&stay.link, &MorlanProtocolProcess::showTip);
    for (const QByteArray &text : tips) {
        const int count = sent.count() + 1;
        QVERIFY(stay.peer.showTip(text).isEmpty()); // a tip gets no answer
        QTRY_COMPARE(sent.count(), count);
    }
    QTRY_COMPARE(stay.tip()->text(), shown);
    QCOMPARE(stay.tip()->textFormat(), Qt::PlainText);
    QVERIFY(stay.tip()->wordWrap());
    const QByteArray tag = QTest::currentDataTag();
    if (tag == "long tip wraps") {
        // More than one line, all of it inside the label.
        const QFontMetrics metrics(stay.tip()->font());
        QVERIFY(metrics.horizontalAdvance(shown) > stay.tip()->width());
        QVERIFY(stay.tip()->heightForWidth(stay.tip()->width()) <= stay.tip()->height());
        stay.drive->shot(QStringLiteral("pc-long-tip"));
    }
    if (tag == "the next replaces it")
        stay.drive->shot(QStringLiteral("pc-tip"));
    QVERIFY(!GuiFixture::boxShown());
}

// The PC changes the language, the loft's phone and, straight in the
// database, the zone and the notify phones; on Back the engine and the
// device zone follow, and the line is back in normal mode. The next visit
// shows the last tip until a new one comes.
void TestFormPcConnect::leaving_reloadsLoftAndReturnsToRaceWork()
{
    PcStay stay;
    QCOMPARE(stay.store.value(QStringLiteral("select count(*) from LOFTINFO")).toInt(), 1);
    UTC::setTimeZone(0);
    QVERIFY(stay.enter());
    QCOMPARE(stay.peer.authenticate(QByteArray::fromHex("C0FFEE01")).status, quint8(0));
    const PcPeer::JsonReply saved =
        stay.peer.call(R"({"method":"setLoftInfo","language":"NL","phoneNo":"+31 20 555"})");
    QVERIFY(saved.ok());
    QVERIFY(stay.store.exec(QStringLiteral("update LOFTINFO set TimeZone=7200")));
    QVERIFY(stay.store.exec(QStringLiteral("insert into Phone(phonecode) values('0612345678')")));
    QVERIFY(stay.peer.showTip("Loft saved").isEmpty());
    QTRY_COMPARE(stay.tip()->text(), QStringLiteral("Loft saved"));
    QCOMPARE(stay.engine.getLoftInfo().language, QStringLiteral("EN"));
    QCOMPARE(UTC::_timezone.load(), 0);

    stay.gui->key(Qt::Key_Escape);
    QCOMPARE(stay.gui->top(), nullptr);
    QCOMPARE(stay.engine.getLoftInfo().language, QStringLiteral("NL"));
    QCOMPARE(stay.engine.getLoftInfo().phoneNo, QStringLiteral("+31 20 555"));
    QCOMPARE(stay.engine.getNotifyPhones(), QList<QString>{QStringLiteral("0612345678")});
    QCOMPARE(ServiceFactory::lang(), QStringLiteral("NL"));
    QCOMPARE(UTC::_timezone.load(), 7200);
    QCOMPARE(stay.link.getWorkMode(), int(MorlanProtocolProcess::Normal));
    QCOMPARE(stay.reader.getRaceMode(), kRaceModeDefault);
    // A tip after leaving reaches nobody.
    stay.peer.showTip("too late");

    QVERIFY(stay.enter());
    QCOMPARE(stay.tip()->text(), QStringLiteral("Loft saved"));
    QVERIFY(stay.peer.showTip("Second stay").isEmpty());
    QTRY_COMPARE(stay.tip()->text(), QStringLiteral("Second stay"));
    ServiceFactory::setLang(QStringLiteral("EN"));
    UTC::setTimeZone(28800);
}

// A reload that fails on a locked database is shown after the switch: the
// device returns to race work with the default channel's word.
void TestFormPcConnect::leaving_withDatabaseLocked_stillReturnsToRaceWork()
{
    PcStay stay;
    QVERIFY(stay.enter());
    QVERIFY(stay.store.hold(true));
    stay.gui->key(Qt::Key_Escape);
    QVERIFY(stay.store.releaseHold());
    QCOMPARE(stay.gui->top(), nullptr);
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(stay.link.getWorkMode(), int(MorlanProtocolProcess::Normal));
    QCOMPARE(stay.reader.getRaceMode(), kRaceModeDefault);
}

// As at start with no service running: nothing to switch or reload.
void TestFormPcConnect::noServices_screenStillOpensAndCloses()
{
    GuiFixture gui;
    gui.push(gui.window()->formPcConnect);
    QCOMPARE(gui.top(), static_cast<SubWindow *>(gui.window()->formPcConnect));
    gui.key(Qt::Key_Escape);
    QCOMPARE(gui.top(), nullptr);
    QVERIFY(!GuiFixture::boxShown());
}

BRELLIUM_GUI_TEST_MAIN(TestFormPcConnect)
#include "tst_formpcconnect.moc"
