#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/lfmodule.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"
#include "ui/formkeyboard.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/formcommunication.h"

#include "clubportpeer.h"
#include "connectorreader.h"
#include "guifixture.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "screendriver.h"

#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const char kSuite[] = "tst_formcommunication";
constexpr int kWaitMs = 10000;
constexpr unsigned int kNoSmsFlag = 0x0100;
constexpr int kParamsChangedLog = 13;
constexpr int kPowerOffLog = 15;
const int kNotStored = -99;

struct Stored
{
    int notify = 0;
    int upload = 0;
    int voice = 100;
    QString apn = QStringLiteral("cmnet");
    int notifyNum = kNotStored;
    int channel = kNotStored;
    int pageSize = kNotStored;
    int speed = kNotStored;
    QStringList phones;
};

void store(const Stored &s)
{
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    loft.notifyMode = s.notify;
    loft.uploadMode = s.upload;
    loft.voiceMode = s.voice;
    loft.apn = s.apn;
    loft.hostSmsCode = QStringLiteral("+3247000111");
    loft.hostIp = QStringLiteral("upload.club.example");
    Storage::instance()->saveLoftInfo(&loft);
    const QList<QPair<const char *, int>> params = {
        {"cmbSMSNotifyNum", s.notifyNum}, {"channelMode", s.channel}, {"cmbPrintPageSize", s.pageSize},
        {"cmbPrintSpeed", s.speed}};
    for (const auto &param : params) {
        if (param.second != kNotStored)
            ServiceFactory::setParamInt32(QLatin1String(param.first), param.second);
    }
    Storage::instance()->savePhoneCodes(s.phones);
}

LoftInfo storedLoft()
{
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    return loft;
}

QString param(const char *key)
{
    return Storage::instance()->getParam(QLatin1String(key));
}

} // namespace

// The communication settings on the real main window and database: what
// loads, what each Save stores (and what it leaves alone), the keyboard and
// the reset; the connector switch on the real club link and its peer.
class TestFormCommunication : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void load_data();
    void load();
    void noSmsFlag_smsUnreachableNotifyDisabled();
    void save_data();
    void save();
    void save_blankCombo_keepsStoredValue_data();
    void save_blankCombo_keepsStoredValue();
    void save_withEngine_cachedCopiesFollow();
    void save_connector_switchesLinkAndReader();
    void save_underLock_errorBoxEarlierWritesKept();
    void keyboard_placesAndTargets();
    void keyboard_backClosesItFirst();
    void clearButtons();
    void deviceReset();
    void entry_underLock_menuShowsError();

private:
    void push();
    QList<QVariantList> logs(int type) const;
    QStringList phoneTexts() const;
    template<class T> T *find(const char *name) const { return screen->findChild<T *>(QLatin1String(name)); }
    FormKeyBoard *keyboard() const { return screen->findChild<FormKeyBoard *>(); }

    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<ScreenDriver> driver;
    std::unique_ptr<PromptQueue> sound;
    FormCommunication *screen = nullptr;
};

void TestFormCommunication::init()
{
    gui = std::make_unique<GuiFixture>();
    QVERIFY(QTest::qWaitForWindowActive(gui->window()));
    MainWindow::resetExitRequest();
    screen = gui->window()->formCommunication;
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
    sound = std::make_unique<PromptQueue>();
    LoftSeed::loft();
}

void TestFormCommunication::cleanup()
{
    // A test that failed early leaves no engine of its stack published.
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    Storage::setConnectOptions(QString());
    if (gui)
        gui->window()->resetSubForms();
    sound.reset();
    driver.reset();
    gui.reset();
    HardwareControl::init(0);
    UTC::setTimeZone(28800);
    MainWindow::resetExitRequest();
}

void TestFormCommunication::push()
{
    gui->push(screen);
    QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
}

QList<QVariantList> TestFormCommunication::logs(int type) const
{
    return gui->store().rows(QStringLiteral("select LogInfo from Log where LogType=%1 order by LogId").arg(type));
}

QStringList TestFormCommunication::phoneTexts() const
{
    QStringList out;
    for (int row = 1; row <= 5; ++row)
        out << screen->findChild<QLineEdit *>(QStringLiteral("editPhone%1").arg(row))->text();
    return out;
}

void TestFormCommunication::load_data()
{
    QTest::addColumn<int>("notify");
    QTest::addColumn<int>("upload");
    QTest::addColumn<int>("voice");
    QTest::addColumn<int>("notifyNum");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QStringList>("phones");
    QTest::addColumn<QStringList>("shown"); // notify, number, upload, connector, page, speed
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QStringList>("phoneRows");
    QTest::newRow("every value set") << 3 << 112 << 356 << -1 << 2 << 1 << 2 << QStringList{"111"}
                                     << QStringList{"Race&Training", "All", "DATA with Status", "Channel 2",
                                                    "Letter size", "Slow"}
                                     << true << QStringList{"111", "", "", "", ""};
    QTest::newRow("parameters never stored") << 0 << 0 << 100 << kNotStored << kNotStored << kNotStored
                                             << kNotStored << QStringList{}
                                             << QStringList{"Disable", "1", "Disable", "Disable", "A4", "Medium"}
                                             << false << QStringList{"", "", "", "", ""};
    QTest::newRow("upload 2 and voice 200: blank, unticked")
        << 1 << 2 << 200 << 5 << 1 << 0 << 0 << QStringList{"1", "2"}
        << QStringList{"Training", "5", "", "Channel 1", "A4", "Fast"} << false
        << QStringList{"1", "2", "", "", ""};
    QTest::newRow("7 phones show the first five")
        << 2 << 6 << 100 << 3 << 0 << 0 << 1 << QStringList{"1", "2", "3", "4", "5", "6", "7"}
        << QStringList{"Race", "3", "SMS", "Disable", "A4", "Medium"} << false
        << QStringList{"1", "2", "3", "4", "5"};
}

void TestFormCommunication::load()
{
    QFETCH(int, notify);
    QFETCH(int, upload);
    QFETCH(int, voice);
    QFETCH(int, notifyNum);
    QFETCH(int, channel);
    QFETCH(int, pageSize);
    QFETCH(int, speed);
    QFETCH(QStringList, phones);
    QFETCH(QStringList, shown);
    QFETCH(bool, ticked);
    QFETCH(QStringList, phoneRows);
    Stored s;
    s.notify = notify;
    s.upload = upload;
    s.voice = voice;
    s.notifyNum = notifyNum;
    s.channel = channel;
    s.pageSize = pageSize;
    s.speed = speed;
    s.phones = phones;
    store(s);
    push();
    const char *combos[] = {"cmbSMSNotify", "cmbSMSNotifyNum", "cmbDataTransfer", "cmbChannelMode",
                            "cmbPrintPageSize", "cmbPrintSpeed"};
    QStringList texts;
    for (const char *name : combos)
        texts << find<QComboBox>(name)->currentText();
    QCOMPARE(texts, shown);
    QCOMPARE(find<QPushButton>("btnVoiceMode")->isChecked(), ticked);
    QCOMPARE(phoneTexts(), phoneRows);
    QCOMPARE(find<QLineEdit>("editApn")->text(), QStringLiteral("cmnet"));
    QCOMPARE(find<QLineEdit>("editSMSCenter")->text(), QStringLiteral("+3247000111"));
    QCOMPARE(find<QLineEdit>("editHost")->text(), QStringLiteral("upload.club.example"));
    QVERIFY(!find<QLineEdit>("editSMSCenter")->isEnabled());
    QVERIFY(!find<QLineEdit>("editHost")->isEnabled());
}

void TestFormCommunication::noSmsFlag_smsUnreachableNotifyDisabled()
{
    HardwareControl::init(kNoSmsFlag);
    Stored s;
    s.phones = {QStringLiteral("0470123456")};
    store(s);
    push();
    auto *upload = find<QComboBox>("cmbDataTransfer");
    QCOMPARE(upload->currentText(), QStringLiteral("Disable"));
    // Not offered in the list either.
    const int smsRow = upload->findText(QStringLiteral("SMS"));
    QVERIFY(smsRow >= 0);
    auto *list = qobject_cast<QListView *>(upload->view());
    QVERIFY(list && list->isRowHidden(smsRow));
    upload->setFocus();
    QTRY_VERIFY(upload->hasFocus());
    // Down is passed to the focused combo: it must step over the SMS row.
    QTest::keyClick(upload, Qt::Key_Down);
    QCOMPARE(upload->currentText(), QStringLiteral("DATA"));
    QTest::keyClick(upload, Qt::Key_Up);
    QCOMPARE(upload->currentText(), QStringLiteral("Disable"));
    QVERIFY(!find<QComboBox>("cmbSMSNotify")->isEnabled());
    QVERIFY(!find<QComboBox>("cmbSMSNotifyNum")->isEnabled());
    for (int row = 1; row <= 5; ++row)
        QVERIFY(!screen->findChild<QLineEdit *>(QStringLiteral("editPhone%1").arg(row))->isEnabled());
    QVERIFY(find<QLineEdit>("editApn")->isEnabled());
    QVERIFY(find<QComboBox>("cmbPrintSpeed")->isEnabled());
    driver->shot(QStringLiteral("no-sms"));
    find<QComboBox>("cmbPrintSpeed")->setCurrentIndex(2);
    upload->setCurrentIndex(2);
    driver->click("btnButtonSave");
    QCOMPARE(storedLoft().uploadMode, 96);
    QCOMPARE(param("cmbPrintSpeed"), QStringLiteral("2"));
    // Disabled rows still hold what was stored, and Save keeps it.
    QCOMPARE(Storage::instance()->queryPhoneCode(), QList<QString>{QStringLiteral("0470123456")});
}

enum Change {
    PrintSpeedOnly,
    ApnTyped,
    TickOff,
    LeaveUnticked,
    BlankUploadSpeedChanged,
    NotifyNumFirstSave,
    NotifyNumAll,
    Row1Cleared,
    Row3Alone,
    LongTexts,
};

void TestFormCommunication::save_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<int>("voice");  // stored before
    QTest::addColumn<int>("upload"); // stored before
    QTest::addColumn<int>("notifyNum"); // stored before, kNotStored for none
    QTest::addColumn<QStringList>("phones"); // stored before
    QTest::addColumn<bool>("loftSaved");
    QTest::addColumn<QString>("apn");
    QTest::addColumn<int>("voiceAfter");
    QTest::addColumn<int>("uploadAfter");
    QTest::addColumn<QString>("notifyNumAfter");
    QTest::addColumn<QString>("speedAfter");
    QTest::addColumn<QStringList>("phonesAfter");
    const QStringList two{QStringLiteral("0470111"), QStringLiteral("0470222")};
    QTest::newRow("print speed only") << int(PrintSpeedOnly) << 100 << 96 << 1 << two << false << "cmnet" << 100 << 96
                                      << "1" << "2" << two;
    const QStringList seven{"1", "2", "3", "4", "5", "6", "7"};
    QTest::newRow("7 phones, print speed only") << int(PrintSpeedOnly) << 100 << 96 << 1 << seven << false << "cmnet"
                                                << 100 << 96 << "1" << "2" << seven.mid(0, 5);
    QTest::newRow("APN typed") << int(ApnTyped) << 100 << 96 << 1 << two << true << "WEB.NET" << 100 << 96 << "1" << ""
                               << two;
    QTest::newRow("tick off with 356") << int(TickOff) << 356 << 96 << 1 << two << true << "cmnet" << 100 << 96 << "1"
                                       << "" << two;
    QTest::newRow("200 left unticked") << int(LeaveUnticked) << 200 << 96 << 1 << two << true << "cmnet" << 100 << 96
                                       << "1" << "" << two;
    QTest::newRow("upload blank, speed changed") << int(BlankUploadSpeedChanged) << 100 << 2 << 1 << two << false
                                                 << "cmnet" << 100 << 2 << "1" << "2" << two;
    QTest::newRow("notify number never stored") << int(NotifyNumFirstSave) << 100 << 96 << kNotStored << two << false
                                                << "cmnet" << 100 << 96 << "1" << "" << two;
    QTest::newRow("notify number All") << int(NotifyNumAll) << 100 << 96 << 1 << two << false << "cmnet" << 100 << 96
                                       << "-1" << "" << two;
    QTest::newRow("two phones, row 1 cleared") << int(Row1Cleared) << 100 << 96 << 1 << two << false << "cmnet" << 100
                                               << 96 << "1" << "" << QStringList{QStringLiteral("0470222")};
    QTest::newRow("a number in row 3 alone") << int(Row3Alone) << 100 << 96 << 1 << QStringList{} << false << "cmnet"
                                             << 100 << 96 << "1" << "" << QStringList{QStringLiteral("0470333")};
    // Nothing limits the lengths: what was typed is stored whole.
    QTest::newRow("long APN and phone") << int(LongTexts) << 100 << 96 << 1 << QStringList{} << true
                                        << QString(300, QLatin1Char('A')) << 100 << 96 << "1" << ""
                                        << QStringList{QString(100, QLatin1Char('9'))};
}

void TestFormCommunication::save()
{
    QFETCH(int, change);
    QFETCH(int, voice);
    QFETCH(int, upload);
    QFETCH(int, notifyNum);
    QFETCH(QStringList, phones);
    QFETCH(bool, loftSaved);
    QFETCH(QString, apn);
    QFETCH(int, voiceAfter);
    QFETCH(int, uploadAfter);
    QFETCH(QString, notifyNumAfter);
    QFETCH(QString, speedAfter);
    QFETCH(QStringList, phonesAfter);
    Stored s;
    s.voice = voice;
    s.upload = upload;
    s.notifyNum = notifyNum;
    s.phones = phones;
    store(s);
    const int paramLogs = logs(kParamsChangedLog).size();
    // A loft save where none is due would hit this and show an "Error" box.
    if (!loftSaved)
        QVERIFY(gui->store().failOn(QStringLiteral("UPDATE"), QStringLiteral("LOFTINFO")));
    // Not started: a connector switch would only show in its word.
    RFIDService reader(QStringLiteral("/dev/ttyS3"), 0x311);
    ServiceFactory::getInstance()->rfidService = &reader;
    const auto unpublish = qScopeGuard([] { ServiceFactory::getInstance()->rfidService = nullptr; });
    push();
    switch (Change(change)) {
    case PrintSpeedOnly:
    case BlankUploadSpeedChanged:
        find<QComboBox>("cmbPrintSpeed")->setCurrentIndex(2);
        break;
    case ApnTyped:
        find<QLineEdit>("editApn")->setFocus();
        QTRY_VERIFY(keyboard()->isVisible());
        driver->click("btnApnClear");
        find<QLineEdit>("editApn")->setText(QStringLiteral("  "));
        QVERIFY(driver->type(QStringLiteral("WEB.NET")));
        find<QLineEdit>("editApn")->insert(QStringLiteral(" "));
        break;
    case TickOff:
        driver->click("btnVoiceMode");
        break;
    case LeaveUnticked:
    case NotifyNumFirstSave:
        break;
    case NotifyNumAll:
        find<QComboBox>("cmbSMSNotifyNum")->setCurrentIndex(3);
        break;
    case Row1Cleared:
        driver->click("btnPhone1Clear");
        break;
    case Row3Alone:
        find<QLineEdit>("editPhone3")->setText(QStringLiteral(" 0470333 "));
        break;
    case LongTexts:
        find<QLineEdit>("editApn")->setText(QString(300, QLatin1Char('A')));
        find<QLineEdit>("editPhone1")->setText(QString(100, QLatin1Char('9')));
        break;
    }
    sound.reset();
    sound = std::make_unique<PromptQueue>();
    driver->click("btnButtonSave");
    QVERIFY2(!GuiFixture::boxShown(), qPrintable(GuiFixture::boxText()));
    QCOMPARE(sound->prompts().value(0), QStringLiteral("ok"));
    QVERIFY(!keyboard()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    const LoftInfo loft = storedLoft();
    QCOMPARE(loft.apn, apn);
    QCOMPARE(loft.voiceMode, voiceAfter);
    QCOMPARE(loft.uploadMode, uploadAfter);
    QCOMPARE(logs(kParamsChangedLog).size() - paramLogs, loftSaved ? 1 : 0);
    QCOMPARE(param("cmbSMSNotifyNum"), notifyNumAfter);
    QCOMPARE(param("cmbPrintSpeed"), speedAfter);
    QCOMPARE(Storage::instance()->queryPhoneCode(), QList<QString>(phonesAfter));
    // No connector switch: the parameter was never written, the word kept.
    QCOMPARE(param("channelMode"), QString());
    QCOMPARE(reader.getRaceMode(), 0x311);
}

void TestFormCommunication::save_blankCombo_keepsStoredValue_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("stored"); // a value none of its items carries
    QTest::newRow("notify mode") << "cmbSMSNotify" << 9;
    QTest::newRow("connector") << "cmbChannelMode" << 7;
    QTest::newRow("notify number") << "cmbSMSNotifyNum" << 4;
    QTest::newRow("page size") << "cmbPrintPageSize" << 3;
    QTest::newRow("print speed") << "cmbPrintSpeed" << 5;
}

// A value the PC program wrote shows as a blank combo; Save leaves it as it
// is instead of storing 0 (no loft save, no entry, no connector switch).
void TestFormCommunication::save_blankCombo_keepsStoredValue()
{
    QFETCH(QString, combo);
    QFETCH(int, stored);
    Stored s;
    s.notify = combo == QLatin1String("cmbSMSNotify") ? stored : 0;
    s.channel = combo == QLatin1String("cmbChannelMode") ? stored : kNotStored;
    s.notifyNum = combo == QLatin1String("cmbSMSNotifyNum") ? stored : 1;
    s.pageSize = combo == QLatin1String("cmbPrintPageSize") ? stored : kNotStored;
    s.speed = combo == QLatin1String("cmbPrintSpeed") ? stored : kNotStored;
    store(s);
    const int paramLogs = logs(kParamsChangedLog).size();
    QVERIFY(gui->store().failOn(QStringLiteral("UPDATE"), QStringLiteral("LOFTINFO")));
    // The word a stored connector 7 gives; storing 0 would switch it to 0x311.
    RFIDService reader(QStringLiteral("/dev/ttyS3"), 0x111);
    ServiceFactory::getInstance()->rfidService = &reader;
    const auto unpublish = qScopeGuard([] { ServiceFactory::getInstance()->rfidService = nullptr; });
    push();
    QCOMPARE(screen->findChild<QComboBox *>(combo)->currentIndex(), -1);
    driver->click("btnButtonSave");
    QVERIFY2(!GuiFixture::boxShown(), qPrintable(GuiFixture::boxText()));
    QCOMPARE(storedLoft().notifyMode, s.notify);
    QCOMPARE(logs(kParamsChangedLog).size(), paramLogs);
    QCOMPARE(reader.getRaceMode(), 0x111);
    const QString key = combo == QLatin1String("cmbChannelMode") ? QStringLiteral("channelMode") : combo;
    if (combo != QLatin1String("cmbSMSNotify"))
        QCOMPARE(param(qPrintable(key)), QString::number(stored));
}

void TestFormCommunication::save_withEngine_cachedCopiesFollow()
{
    Stored s;
    s.phones = {QStringLiteral("0470111")};
    store(s);
    PigeonBo engine;
    engine.reflushCache();
    ServiceFactory::getInstance()->pigeonBo = &engine;
    push();
    find<QComboBox>("cmbSMSNotify")->setCurrentIndex(2);
    find<QLineEdit>("editPhone2")->setText(QStringLiteral("0470222"));
    driver->click("btnButtonSave");
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    QCOMPARE(engine.getLoftInfo().notifyMode, 2);
    QCOMPARE(storedLoft().notifyMode, 2);
    QCOMPARE(engine.getNotifyPhones(), (QList<QString>{QStringLiteral("0470111"), QStringLiteral("0470222")}));
    QCOMPARE(logs(kParamsChangedLog).size(), 1);
    const QJsonObject entry = QJsonDocument::fromJson(logs(kParamsChangedLog).first().first().toByteArray()).object();
    QCOMPARE(entry.value(QStringLiteral("notifyMode")).toInt(), 2);
}

void TestFormCommunication::save_connector_switchesLinkAndReader()
{
    store(Stored{});
    QDir().mkpath(gui->root().path(QStringLiteral("/dev")));
    ClubPortPeer peer;
    peer.setPacing(false);
    QVERIFY(peer.linkAt(gui->root().path(QStringLiteral("/dev/ttyS2"))));
    QVERIFY(peer.start());
    PigeonBo engine;
    engine.reflushCache();
    engine.cacheChannels({LFCHANNEL_INFO{}});
    RFIDService reader(QStringLiteral("/dev/ttyS3"), 0x311); // not started: only its word is read
    MorlanProtocolProcess link(_serialPort_miniDin);
    ServiceFactory *factory = ServiceFactory::getInstance();
    factory->pigeonBo = &engine;
    factory->rfidService = &reader;
    factory->protocolProcess = &link;
    // Whatever fails below, the next test finds nothing of this one published.
    const auto unpublish = qScopeGuard([factory, &link] {
        factory->protocolProcess = nullptr;
        factory->rfidService = nullptr;
        factory->pigeonBo = nullptr;
        link.requestExit();
        link.wait(kWaitMs);
    });
    link.start(QThread::InheritPriority);
    link.switchWorkMode(MorlanProtocolProcess::Normal, true);
    QVERIFY(peer.clockEndOpen());
    // The peer notes the opening on its own thread, a moment after the clock's end opened.
    QTRY_VERIFY_WITH_TIMEOUT(!peer.lineEvents().isEmpty() && peer.lineEvents().constLast().opened, kWaitMs);
    const int eventsBefore = peer.lineEvents().size();
    QSignalSpy channels(&engine, &PigeonBo::channelsChanged);

    push();
    find<QComboBox>("cmbChannelMode")->setCurrentIndex(1);
    driver->click("btnButtonSave");
    // The word is in place at once, the channel list emptied before the return.
    QCOMPARE(reader.getRaceMode(), 0x111);
    QCOMPARE(param("channelMode"), QStringLiteral("1"));
    QVERIFY(engine.getChannels().isEmpty());
    QCOMPARE(channels.size(), 1);
    QVERIFY(!GuiFixture::boxShown());
    // The line went idle (closed) and came back for the connector at 115200.
    QTRY_VERIFY_WITH_TIMEOUT(peer.lineEvents().size() >= eventsBefore + 2, kWaitMs);
    const auto events = peer.lineEvents().mid(eventsBefore);
    QVERIFY(!events.at(0).opened);
    QVERIFY(events.at(1).opened);
    QTRY_VERIFY_WITH_TIMEOUT(!peer.connector().receivedOf(ConnectorReader::Status).isEmpty(), kWaitMs);
    QVERIFY(peer.lineSettings().fits(ClubPortPeer::kConnectorBaud));
}

void TestFormCommunication::save_underLock_errorBoxEarlierWritesKept()
{
    Stored s;
    s.phones = {QStringLiteral("0470111")};
    store(s);
    push();
    find<QComboBox>("cmbPrintSpeed")->setCurrentIndex(0);
    find<QLineEdit>("editApn")->setText(QStringLiteral("other"));
    // The phones fail: the loft row and its entry, written before, stay.
    for (const char *kind : {"INSERT", "UPDATE", "DELETE"})
        QVERIFY(gui->store().failOn(QLatin1String(kind), QStringLiteral("Phone")));
    driver->click("btnButtonSave");
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(storedLoft().apn, QStringLiteral("other"));
    QCOMPARE(logs(kParamsChangedLog).size(), 1);
    QCOMPARE(Storage::instance()->queryPhoneCode(), QList<QString>{QStringLiteral("0470111")});
    QCOMPARE(param("cmbPrintSpeed"), QString());
    GuiFixture::answerBox(QMessageBox::Ok);

    // Another connection holds the database beyond the busy time.
    QVERIFY(gui->store().hold(false));
    find<QLineEdit>("editApn")->setText(QStringLiteral("third"));
    driver->click("btnButtonSave");
    QVERIFY(gui->store().releaseHold());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QVERIFY(GuiFixture::boxText().contains(QStringLiteral("lock"), Qt::CaseInsensitive));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(storedLoft().apn, QStringLiteral("other"));
}

void TestFormCommunication::keyboard_placesAndTargets()
{
    store(Stored{});
    push();
    FormKeyBoard *keys = keyboard();
    QVERIFY(!keys->isVisible());
    auto *apn = find<QLineEdit>("editApn");
    apn->setFocus();
    QTRY_VERIFY(keys->isVisible());
    QCOMPARE(keys->pos(), QPoint(0, 700 - keys->height()));
    apn->end(false);
    screen->onKeyPress('.');
    screen->onKeyPress('X');
    screen->onKeyPress(Qt::Key_Backspace);
    screen->onKeyPress('-');
    QCOMPARE(apn->text(), QStringLiteral("cmnet.-"));
    driver->shot(QStringLiteral("keyboard-bottom"));

    auto *phone = find<QLineEdit>("editPhone2");
    auto *row = find<QWidget>("widgetPhone2");
    phone->setFocus();
    QTRY_COMPARE(keys->pos(), QPoint(0, 0));
    QVERIFY(keys->isVisible());
    QVERIFY(row->styleSheet().contains(QStringLiteral("btn_phone-number_normal.png")));
    QVERIFY(find<QWidget>("btnPhone2Clear")->styleSheet().contains(QStringLiteral("btn_phone-number-delete_normal.png")));
    QVERIFY(driver->type(QStringLiteral("04.7")));
    QCOMPARE(phone->text(), QStringLiteral("047"));
    QCOMPARE(apn->text(), QStringLiteral("cmnet.-"));
    driver->shot(QStringLiteral("keyboard-top"));

    // Focus elsewhere: the row goes dark, keys reach nothing, the keyboard stays.
    find<QComboBox>("cmbPrintSpeed")->setFocus();
    QTRY_VERIFY(row->styleSheet().isEmpty());
    screen->onKeyPress('9');
    QCOMPARE(phone->text(), QStringLiteral("047"));
    QVERIFY(keys->isVisible());
}

void TestFormCommunication::keyboard_backClosesItFirst()
{
    store(Stored{});
    push();
    find<QLineEdit>("editApn")->setFocus();
    QTRY_VERIFY(keyboard()->isVisible());
    auto *back = gui->window()->findChild<QPushButton *>(QStringLiteral("pushButtonBack"));
    QTest::mouseClick(back, Qt::LeftButton);
    QVERIFY(!keyboard()->isVisible());
    QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
    QTest::mouseClick(back, Qt::LeftButton);
    QVERIFY(gui->top() != screen);
}

void TestFormCommunication::clearButtons()
{
    Stored s;
    s.phones = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5")};
    store(s);
    push();
    for (int row = 1; row <= 5; ++row) {
        sound.reset();
        sound = std::make_unique<PromptQueue>();
        driver->click(qPrintable(QStringLiteral("btnPhone%1Clear").arg(row)));
        auto *edit = screen->findChild<QLineEdit *>(QStringLiteral("editPhone%1").arg(row));
        QVERIFY(edit->text().isEmpty());
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(keyboard()->pos(), QPoint(0, 0));
        QCOMPARE(sound->prompts(), QStringList{QStringLiteral("keyPress")});
    }
    sound.reset();
    sound = std::make_unique<PromptQueue>();
    driver->click("btnApnClear");
    QVERIFY(find<QLineEdit>("editApn")->text().isEmpty());
    QVERIFY(find<QLineEdit>("editPhone5")->hasFocus());
    QCOMPARE(sound->prompts(), QStringList{QStringLiteral("dong")});
}

void TestFormCommunication::deviceReset()
{
    store(Stored{});
    push();
    find<QComboBox>("cmbPrintSpeed")->setCurrentIndex(0);
    driver->click("btnButtonReset");
    QCOMPARE(sound->prompts(), QStringList{QStringLiteral("dong")});
    const auto entries = logs(kPowerOffLog);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(entries.first().first().toByteArray()).object().value(QStringLiteral("reason")).toString(),
             QStringLiteral("Manual restart"));
    QVERIFY(MainWindow::isExitRequested());
    QVERIFY(!GuiFixture::boxShown());
    // Unsaved choices are lost.
    QCOMPARE(param("cmbPrintSpeed"), QString());
}

// Entering reads the stored settings; when that fails the screen is not
// pushed and the menu shows the failure.
void TestFormCommunication::entry_underLock_menuShowsError()
{
    store(Stored{});
    QVERIFY(gui->clickMenuWhileLocked(QStringLiteral("pushButtonComm")));
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QVERIFY(gui->top() != screen);
    QVERIFY(!screen->isActive());
    QVERIFY(!QGuiApplication::overrideCursor());
}

BRELLIUM_GUI_TEST_MAIN(TestFormCommunication)
#include "tst_formcommunication.moc"
