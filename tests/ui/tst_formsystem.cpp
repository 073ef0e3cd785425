#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/lfmodule.h"
#include "device/pcport.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/formsystem.h"

#include "guifixture.h"
#include "innermodulepeer.h"
#include "loftseed.h"
#include "messagecapture.h"
#include "pcportpeer.h"
#include "screendriver.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

const char kSuite[] = "tst_formsystem";
constexpr int kWaitMs = 10000;
constexpr unsigned int kLabelFlag = 0x0002;
constexpr unsigned int kZoneFlag = 0x0020;
constexpr int kGpioRf = 40;
// 2026-12-11 04:00 UTC; noon at the default +8 h.
constexpr qint64 kNowMs = 1796961600000LL;
const RFIDService::Timing kFast{20, 200};

const QByteArray kHead = "^XA^MNA^FO240,50,^BC,40,N,N,N,N^FD";
const QByteArray kMiddle = "^FS^FO350,105^ADN,^AD,26^FD";
const QByteArray kTail = "^FS^XZ";

QByteArray zplLabel(const QByteArray &code)
{
    return kHead + code + kMiddle + code + kTail;
}

void storeLoft(int timeZone, const QString &language)
{
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    loft.timeZone = timeZone;
    loft.language = language;
    Storage::instance()->saveLoftInfo(&loft);
}

LoftInfo storedLoft()
{
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    return loft;
}

LFCHANNEL_INFO channel(const QString &id, quint16 type, const QString &version, quint8 status = 0)
{
    LFCHANNEL_INFO info;
    info.id = id;
    info.type = type;
    info.version = version;
    info.status = status;
    return info;
}

} // namespace

// The system information screen on the real main window and database: the
// zone, language and unit with Save, the version line, the live board table,
// the log table and the barcode label on the PC port's peer.
class TestFormSystem : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void zoneAccess_data();
    void zoneAccess();
    void zone_data();
    void zone();
    void language_data();
    void language();
    void unit_yardSavedAsOne();
    void save_boxLoftRowNoLogZoneAtOnce();
    void versionText_data();
    void versionText();
    void boardTable_liveWhileActiveOnly();
    void logTable_twentyNewestOldestOnTop();
    void label_data();
    void label();
    void label_eachEntryPrintsFlagClearNone();
    void label_portMissing_noLabelNoBox();
    void label_portLeftOpen_setUpAgain();
    void label_moduleIdAfterConstruction();
    void save_underLock_errorBoxZoneKept();
    void entry_underLock_menuShowsError();

private:
    void push();
    void leave();
    QStringList column(const char *table, int column) const;
    template<class T> T *find(const char *name) const { return screen->findChild<T *>(QLatin1String(name)); }
    void publishEngine();

    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<ScreenDriver> driver;
    std::unique_ptr<PigeonBo> engine;
    std::unique_ptr<InnerModulePeer> modulePeer;
    std::unique_ptr<RFIDService> reader;
    FormSystem *screen = nullptr;
};

void TestFormSystem::init()
{
    Platform::setSystemClock([] { return kNowMs; });
    UTC::_timeBase = 0;
    gui = std::make_unique<GuiFixture>();
    UTC::setTimeZone(28800);
    QVERIFY(QTest::qWaitForWindowActive(gui->window()));
    screen = gui->window()->formSystem;
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
    LoftSeed::loft();
}

void TestFormSystem::cleanup()
{
    Storage::setConnectOptions(QString());
    if (gui)
        gui->window()->resetSubForms();
    ServiceFactory::getInstance()->rfidService = nullptr;
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    if (reader) {
        reader->requestExit();
        QVERIFY(reader->wait(kWaitMs));
    }
    reader.reset();
    modulePeer.reset();
    engine.reset();
    PcPort::destroy();
    driver.reset();
    gui.reset();
    HardwareControl::init(0);
    UTC::setTimeZone(28800);
    Platform::setSystemClock({});
}

void TestFormSystem::push()
{
    gui->push(screen);
    QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
}

void TestFormSystem::leave()
{
    gui->window()->popSubForm(SubWindow::DeactiveHide);
    QVERIFY(gui->top() != screen);
}

QStringList TestFormSystem::column(const char *table, int col) const
{
    QStringList out;
    const auto *widget = find<QTableWidget>(table);
    for (int row = 0; row < widget->rowCount(); ++row)
        out << (widget->item(row, col) ? widget->item(row, col)->text() : QStringLiteral("<none>"));
    return out;
}

void TestFormSystem::publishEngine()
{
    engine = std::make_unique<PigeonBo>();
    engine->reflushCache();
    ServiceFactory::getInstance()->pigeonBo = engine.get();
}

void TestFormSystem::zoneAccess_data()
{
    QTest::addColumn<unsigned int>("flags");
    QTest::addColumn<bool>("race");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("flag clear") << 0u << false << false;
    QTest::newRow("flag set, no race") << kZoneFlag << false << true;
    QTest::newRow("flag set, one race") << kZoneFlag << true << false;
}

void TestFormSystem::zoneAccess()
{
    QFETCH(unsigned int, flags);
    QFETCH(bool, race);
    QFETCH(bool, enabled);
    HardwareControl::init(flags);
    if (race)
        LoftSeed::race(QStringLiteral("R1"), 12);
    push();
    QCOMPARE(find<QComboBox>("cmbTimeZone")->isEnabled(), enabled);
}

void TestFormSystem::zone_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("open"); // flag set and no race
    QTest::addColumn<int>("choose"); // index chosen before Save; -1 none
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("saved");
    QTest::newRow("16200") << 16200 << true << -1 << "UTC+04:30" << 16200;
    QTest::newRow("14400") << 14400 << true << -1 << "UTC+04:00" << 14400;
    QTest::newRow("unlisted, enabled") << 12345 << true << -1 << "" << 12345;
    QTest::newRow("unlisted, disabled") << 12345 << false << -1 << "" << 12345;
    QTest::newRow("chosen while enabled") << 28800 << true << 15 << "UTC+08:00" << 3600;
    QTest::newRow("disabled combo moved") << 28800 << false << 15 << "UTC+08:00" << 28800;
}

void TestFormSystem::zone()
{
    QFETCH(int, stored);
    QFETCH(bool, open);
    QFETCH(int, choose);
    QFETCH(QString, shown);
    QFETCH(int, saved);
    HardwareControl::init(open ? kZoneFlag : 0);
    storeLoft(stored, QStringLiteral("EN"));
    push();
    auto *zones = find<QComboBox>("cmbTimeZone");
    QCOMPARE(zones->count(), 34);
    QCOMPARE(zones->currentText(), shown);
    QCOMPARE(zones->isEnabled(), open);
    if (choose >= 0)
        zones->setCurrentIndex(choose);
    driver->click("btnSave");
    QCOMPARE(storedLoft().timeZone, saved);
    QCOMPARE(UTC::_timezone.load(), saved);
}

void TestFormSystem::language_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("choose"); // empty: leave as shown
    QTest::addColumn<QString>("saved");
    QTest::newRow("stored code") << "DE" << "Deutsch" << "" << "DE";
    QTest::newRow("unknown code") << "XX" << "English" << "" << "EN";
    QTest::newRow("Russian, as stored") << "RU" << QString::fromUtf8(u8"pycc\u043a\u0438\u0439") << "" << "RU";
    QTest::newRow("a new one") << "EN" << "English" << QString::fromUtf8(u8"日本の") << "JP";
}

void TestFormSystem::language()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, choose);
    QFETCH(QString, saved);
    storeLoft(28800, stored);
    const QString langBefore = ServiceFactory::lang();
    push();
    auto *languages = find<QComboBox>("cmbLanguage");
    QCOMPARE(languages->count(), 19);
    QCOMPARE(languages->currentText(), shown);
    if (!choose.isEmpty())
        languages->setCurrentIndex(languages->findText(choose));
    driver->click("btnSave");
    QCOMPARE(storedLoft().language, saved);
    // A new language waits for the next start.
    QCOMPARE(ServiceFactory::lang(), langBefore);
    QCOMPARE(find<QLabel>("label_6")->text(), QStringLiteral("Language:"));
}

void TestFormSystem::unit_yardSavedAsOne()
{
    ServiceFactory::setParamInt32(QStringLiteral("standard"), 5);
    push();
    QCOMPARE(find<QComboBox>("cmbLanguage_2")->currentText(), QStringLiteral("Yard"));
    driver->click("btnSave");
    QCOMPARE(ServiceFactory::getParamInt32(QStringLiteral("standard"), -1), 1);
}

void TestFormSystem::save_boxLoftRowNoLogZoneAtOnce()
{
    HardwareControl::init(kZoneFlag);
    publishEngine();
    push();
    const int logsBefore = gui->store().value(QStringLiteral("select count(*) from LOG")).toInt();
    find<QComboBox>("cmbTimeZone")->setCurrentIndex(find<QComboBox>("cmbTimeZone")->findText(QStringLiteral("UTC+05:45")));
    driver->click("btnSave");
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("System"));
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Save OK!"));
    QCOMPARE(storedLoft().timeZone, 20700);
    QCOMPARE(engine->getLoftInfo().timeZone, 20700);
    QCOMPARE(UTC::_timezone.load(), 20700);
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from LOG")).toInt(), logsBefore);
    QVERIFY(!QGuiApplication::overrideCursor());
    gui->tick();
    driver->shot(QStringLiteral("save-ok"));
    GuiFixture::answerBox(QMessageBox::Ok);
}

void TestFormSystem::versionText_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<unsigned int>("flags");
    QTest::addColumn<QString>("expected");
    QTest::newRow("board 0, flags 0002") << 0 << 0x0002u << "v8.9.30(0002)";
    QTest::newRow("board 0, flags 0802") << 0 << 0x0802u << "v8.9.30(0802)";
    QTest::newRow("board 0, flags 1002") << 0 << 0x1002u << "v8.9.30(1002)";
    QTest::newRow("board 0, flags 1802") << 0 << 0x1802u << "v8.9.30(1802)";
    QTest::newRow("board 1, flags 0002") << 1 << 0x0002u << "v8.9.30(0002)-ti";
    QTest::newRow("board 1, flags 0802") << 1 << 0x0802u << "v8.9.30(0802)-ti";
    QTest::newRow("board 1, flags 1002") << 1 << 0x1002u << "v8.9.30(1002)-ti";
    QTest::newRow("board 1, flags 1802") << 1 << 0x1802u << "v8.9.30(1802)-ti";
    QTest::newRow("board 2, flags 0020") << 2 << 0x0020u << "v8.9.30(0020)-ublox";
    QTest::newRow("board 2, flags 1020") << 2 << 0x1020u << "v8.9.30(1020)-telit";
    QTest::newRow("board 2, flags 1820") << 2 << 0x1820u << "v8.9.30(1820)-ublox";
    QTest::newRow("board 3, flags 0000") << 3 << 0x0000u << "v8.9.30(0000)-ublox";
    QTest::newRow("board 3, flags 0800") << 3 << 0x0800u << "v8.9.30(0800)-ec25";
    QTest::newRow("board 3, flags 1000") << 3 << 0x1000u << "v8.9.30(1000)-telit";
    QTest::newRow("board 3, flags 1FFF") << 3 << 0x1FFFu << "v8.9.30(1FFF)-ublox";
    QTest::newRow("the example") << 2 << 0x0802u << "v8.9.30(0802)-ec25";
    QTest::newRow("small word") << 0 << 0x2u << "v8.9.30(0002)";
    QTest::newRow("wider word") << 1 << 0x1ABCDu << "v8.9.30(1ABCD)-ti";
}

void TestFormSystem::versionText()
{
    QFETCH(int, board);
    QFETCH(unsigned int, flags);
    QFETCH(QString, expected);
    HardwareControl::init(flags);
    QCOMPARE(FormSystem::versionText(board, HardwareControl::gsmType(), flags), expected);
}

void TestFormSystem::boardTable_liveWhileActiveOnly()
{
    publishEngine();
    engine->cacheChannels({channel(QStringLiteral("0000000A"), 0x1011, QStringLiteral("1.05")),
                           channel(QStringLiteral("0000000B"), 0x1010, QStringLiteral("2.00"), 0x80),
                           channel(QStringLiteral("0000000C"), 0x2000, QStringLiteral("9.99"))});
    for (int type : {4, 6, 6, 13, 15})
        Storage::instance()->insertLog(type, QStringLiteral("{}"));
    push();
    QCOMPARE(column("tableCan", 2), (QStringList{"0000000C", "0000000B", "0000000A"}));
    QCOMPARE(column("tableCan", 0), (QStringList{"OK", "ERROR", "OK"}));
    QCOMPARE(column("tableCan", 1), (QStringList{"UNKNOW", "TTF-V2.00", "UID-V1.05"}));
    QCOMPARE(find<QTableWidget>("tableCan")->horizontalHeaderItem(2)->text(), QStringLiteral("Serial No."));

    // Replaced by a reader thread while the screen shows.
    PigeonBo *bo = engine.get();
    std::unique_ptr<QThread> worker(QThread::create([bo] {
        bo->cacheChannels({channel(QStringLiteral("0000000D"), 0x1040, QStringLiteral("1.00"))});
    }));
    worker->start();
    QVERIFY(worker->wait(kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(column("tableCan", 1), (QStringList{"TTF4-V1.00"}), kWaitMs);
    // The status bar's clock in the loft's zone, as the log times.
    gui->tick();
    driver->shot(QStringLiteral("tables"));

    // A rebuild queued just before leaving changes nothing after.
    worker.reset(QThread::create([bo] { bo->cacheChannels({}); }));
    worker->start();
    QVERIFY(worker->wait(kWaitMs));
    leave();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(column("tableCan", 1), (QStringList{"TTF4-V1.00"}));
}

void TestFormSystem::logTable_twentyNewestOldestOnTop()
{
    // 5 h 45 away from UTC: the times must follow the loft's zone.
    storeLoft(20700, QStringLiteral("EN"));
    UTC::setTimeZone(20700);
    gui->store().exec(QStringLiteral("delete from LOG"));
    for (int i = 1; i <= 25; ++i)
        Storage::instance()->insertLog(i % 2 ? 6 : 99, QStringLiteral("not json {"));
    push();
    QStringList ids;
    for (int id = 6; id <= 25; ++id)
        ids << QString::number(id);
    QCOMPARE(column("tableLog", 0), ids);
    QCOMPARE(column("tableLog", 2).first(), QStringLiteral("Unknow")); // 6 is even
    QCOMPARE(column("tableLog", 2).at(1), QStringLiteral("Mark"));
    const QString local = UTC::format(kNowMs, QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    QCOMPARE(local, QStringLiteral("11/12/2026 09:45:00"));
    QCOMPARE(column("tableLog", 1).last(), local);
    QCOMPARE(find<QTableWidget>("tableLog")->item(0, 0)->textAlignment(), int(Qt::AlignCenter));
}

void TestFormSystem::label_data()
{
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<int>("zone");
    QTest::addColumn<bool>("module");
    QTest::addColumn<QByteArray>("code");
    QTest::newRow("December 2026") << kNowMs << 28800 << true << QByteArray("1A2B3C4D-2612");
    QTest::newRow("no module id") << kNowMs << 28800 << false << QByteArray("00000000-2612");
    // 2027-01-01 00:30 at +8 h, still 31 December 16:30 in UTC.
    QTest::newRow("local month, not UTC") << 1798734600000LL << 28800 << false << QByteArray("00000000-2701");
}

void TestFormSystem::label()
{
    QFETCH(qint64, nowMs);
    QFETCH(int, zone);
    QFETCH(bool, module);
    QFETCH(QByteArray, code);
    Platform::setSystemClock([nowMs] { return nowMs; });
    storeLoft(zone, QStringLiteral("EN"));
    UTC::setTimeZone(zone);
    HardwareControl::init(kLabelFlag);
    PcPortPeer peer;
    QVERIFY(peer.linkAt(Platform::path(QStringLiteral("/dev/ttyS1"))));
    QVERIFY(peer.start());
    publishEngine();
    if (module) {
        gui->root().setGpio(kGpioRf, 0);
        modulePeer = std::make_unique<InnerModulePeer>();
        modulePeer->setModuleId(QByteArray::fromHex("1A2B3C4D"));
        QVERIFY(modulePeer->linkUnder(gui->root().root(), QStringLiteral("/dev/ttyS3")));
        modulePeer->start();
        reader = std::make_unique<RFIDService>(QStringLiteral("/dev/ttyS3"), 0x311);
        reader->setTiming(kFast);
        ServiceFactory::getInstance()->rfidService = reader.get();
        reader->start();
        QTRY_VERIFY_WITH_TIMEOUT(!reader->getModuleId().isEmpty(), kWaitMs);
    }
    push();
    // Closed at once, nothing left to send: no byte may have been dropped.
    QVERIFY(!PcPort::isOpen());
    QVERIFY(peer.waitForCloses(1, kWaitMs));
    QVERIFY(peer.waitForBytes(zplLabel(code).size(), kWaitMs));
    QCOMPARE(peer.received(), zplLabel(code));
    QCOMPARE(peer.openCount(), 1);
    QCOMPARE(find<QLabel>("labelSn")->text(), QString::fromLatin1(code.left(8)));
}

void TestFormSystem::label_eachEntryPrintsFlagClearNone()
{
    HardwareControl::init(kLabelFlag);
    PcPortPeer peer;
    QVERIFY(peer.linkAt(Platform::path(QStringLiteral("/dev/ttyS1"))));
    QVERIFY(peer.start());
    for (int i = 0; i < 3; ++i) {
        push();
        leave();
    }
    QVERIFY(peer.waitForCloses(3, kWaitMs));
    const QByteArray one = zplLabel("00000000-2612");
    QVERIFY(peer.waitForBytes(3 * one.size(), kWaitMs));
    QCOMPARE(peer.received(), one + one + one);

    peer.clear();
    HardwareControl::init(0);
    push();
    QVERIFY(!PcPort::isOpen());
    QCOMPARE(peer.openCount(), 3);
    QVERIFY(peer.received().isEmpty());
}

void TestFormSystem::label_portMissing_noLabelNoBox()
{
    HardwareControl::init(kLabelFlag | kZoneFlag);
    MessageCapture log;
    push();
    QVERIFY(log.contains(QStringLiteral("PcPort::open")));
    QVERIFY(!PcPort::isOpen());
    QVERIFY(!GuiFixture::boxShown());
    // The screen goes on working.
    find<QComboBox>("cmbTimeZone")->setCurrentIndex(14);
    driver->click("btnSave");
    QCOMPARE(storedLoft().timeZone, 0);
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Save OK!"));
}

void TestFormSystem::label_portLeftOpen_setUpAgain()
{
    HardwareControl::init(kLabelFlag);
    PcPortPeer peer;
    QVERIFY(peer.linkAt(Platform::path(QStringLiteral("/dev/ttyS1"))));
    QVERIFY(peer.start());
    QVERIFY(PcPort::open()); // as an export would leave it
    QTRY_VERIFY_WITH_TIMEOUT(peer.clockEndOpen(), kWaitMs);
    push();
    QVERIFY(!PcPort::isOpen());
    QVERIFY(peer.waitForCloses(2, kWaitMs));
    QVERIFY(peer.waitForBytes(zplLabel("00000000-2612").size(), kWaitMs));
    QCOMPARE(peer.openCount(), 2);
    QCOMPARE(peer.received(), zplLabel("00000000-2612"));
}

void TestFormSystem::label_moduleIdAfterConstruction()
{
    // The screen was built before any id was known; the next entry shows it.
    QCOMPARE(find<QLabel>("labelSn")->text(), QStringLiteral("00000000"));
    gui->root().setGpio(kGpioRf, 0);
    modulePeer = std::make_unique<InnerModulePeer>();
    modulePeer->setModuleId(QByteArray::fromHex("0F1E2D3C"));
    QVERIFY(modulePeer->linkUnder(gui->root().root(), QStringLiteral("/dev/ttyS3")));
    modulePeer->start();
    reader = std::make_unique<RFIDService>(QStringLiteral("/dev/ttyS3"), 0x311);
    reader->setTiming(kFast);
    publishEngine();
    ServiceFactory::getInstance()->rfidService = reader.get();
    reader->start();
    QTRY_VERIFY_WITH_TIMEOUT(!reader->getModuleId().isEmpty(), kWaitMs);
    push();
    QCOMPARE(find<QLabel>("labelSn")->text(), QStringLiteral("0F1E2D3C"));
}

void TestFormSystem::save_underLock_errorBoxZoneKept()
{
    HardwareControl::init(kZoneFlag);
    storeLoft(28800, QStringLiteral("EN"));
    push();
    find<QComboBox>("cmbTimeZone")->setCurrentIndex(14);
    // Another connection writes (as the engine may) beyond the busy time.
    QVERIFY(gui->store().hold(false));
    driver->click("btnSave");
    QVERIFY(gui->store().releaseHold());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QVERIFY(GuiFixture::boxText() != QStringLiteral("Save OK!"));
    QVERIFY(!GuiFixture::boxText().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(storedLoft().timeZone, 28800);
    QCOMPARE(UTC::_timezone.load(), 28800);
}

// Entering reads the loft, the races and the log; when that fails the screen
// is not pushed, prints nothing and the menu shows the failure.
void TestFormSystem::entry_underLock_menuShowsError()
{
    HardwareControl::init(kLabelFlag | kZoneFlag);
    PcPortPeer peer;
    QVERIFY(peer.linkAt(Platform::path(QStringLiteral("/dev/ttyS1"))));
    QVERIFY(peer.start());
    QVERIFY(gui->clickMenuWhileLocked(QStringLiteral("pushButtonSystem")));
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QVERIFY(gui->top() != screen);
    QVERIFY(!screen->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(peer.openCount(), 0);
}

BRELLIUM_GUI_TEST_MAIN(TestFormSystem)
#include "tst_formsystem.moc"
