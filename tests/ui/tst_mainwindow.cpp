#include "core/myapp.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "print/reportprinter.h"
#include "race/pigeonbo.h"
#include "ui/formkeyboard.h"
#include "ui/formmessage.h"
#include "ui/formmessagehandler.h"
#include "ui/mainwindow.h"
#include "ui/menu.h"
#include "ui/pigeon/formmember.h"
#include "ui/pigeon/formpcconnect.h"
#include "ui/statusbar.h"
#include "ui/subwindow.h"

#include "messagecapture.h"
#include "promptqueue.h"
#include "screenshot.h"
#include "storagefixture.h"
#include "testroot.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

namespace {

const QMessageBox::StandardButtons kQuestion = QMessageBox::Ok | QMessageBox::Cancel;

// A screen of the test: counts its ticks, may throw from them, consumes Up
// and lets Down through to its focused field.
class TestScreen : public SubWindow
{
public:
    explicit TestScreen(QWidget *parent)
        : SubWindow(parent)
        , edit(new QLineEdit(this))
    {
        edit->setGeometry(10, 100, 200, 30);
    }
    void onTimeTick(int ms) override
    {
        ticks << ms;
        if (throwOnTick)
            throw VexException(0x1201, QStringLiteral("Semaphore timeout!"), QString());
    }
    void onFocus(bool focus) override
    {
        if (focus)
            edit->setFocus();
    }
    bool doKeyPress(QKeyEvent *e) override
    {
        keys << e->key();
        return e->key() == Qt::Key_Up;
    }
    QList<int> ticks;
    QList<int> keys;
    bool throwOnTick = false;
    QLineEdit *edit;
};

class RecordingHandler : public FormMessageHandler
{
public:
    void onFormMessage(QMessageBox::StandardButton button, void *) override { answers << int(button); }
    QList<int> answers;
};

// Counts the key presses that reach a widget by normal delivery.
class KeyCounter : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress)
            keys << static_cast<QKeyEvent *>(event)->key();
        return false;
    }
    QList<int> keys;
};

QString styleOf(MainWindow *w, const char *name)
{
    QWidget *widget = w->findChild<QWidget *>(QLatin1String(name));
    return widget ? widget->styleSheet() : QStringLiteral("<missing>");
}

QLabel *label(MainWindow *w, const char *name)
{
    return w->findChild<QLabel *>(QLatin1String(name));
}

void tick(MainWindow *w)
{
    QVERIFY(QMetaObject::invokeMethod(w, "onTickTimeOut", Qt::DirectConnection));
}

StatusSnapshot modem(quint32 flags, int csq)
{
    StatusSnapshot s;
    s.gsmFlags = flags;
    s.csq = csq;
    return s;
}

} // namespace

// The main window: what it builds and shows at start, the tick over the
// services' snapshot, the keys under MyApp, the close datagram and the
// bounded shutdown step. Each case builds a fresh window on a simulated board.
class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void versionFile_data();
    void versionFile();
    void versionDirectory_noticeAndStartGoesOn();
    void versionText_data();
    void versionText();
    void emptyLoftNumber_pushesPcLinkBehindNotice();
    void noSmsRule_data();
    void noSmsRule();
    void noSmsRule_atStart_data();
    void noSmsRule_atStart();
    void loftNumberSet_menuShows();
    void screens_builtInOrderUnderStatusBar();

    void gsmIcon_data();
    void gsmIcon();
    void gsmIcon_failedModem_showsTheError();
    void dataLinkIcon_data();
    void dataLinkIcon();
    void gpsIcon_data();
    void gpsIcon();
    void readerIcon_data();
    void readerIcon();
    void tick_unpublishedServicesReadNeutral();
    void tick_powerWarningFollowsMainsFile();
    void tick_reachesTopScreenOnly();
    void tick_throwingScreenIsLoggedAndTicksGoOn();
    void watchdog_data();
    void watchdog();
    void watchdog_firstTickFeeds();

    void keys_escapeOnMenuConsumed();
    void keys_upDownReachMenu();
    void keys_homeWithConfirmationKeepsBox();
    void keys_homeUnderLockedBoxDoesNothing();
    void keys_returnWithBoxActsAsOk();
    void keys_topScreenThenFocusedWidget();
    void buttons_playDongAndNavigate();

    void closeDatagram_data();
    void closeDatagram();
    void closePortTaken_windowRunsOn();
    void closeDatagram_logUnwritable_stillCloses();
    void heldArrivals_errorShownOncePerEpisode();
    void stopStep_givesUpAtItsBound();
    void exit_heldWhilePrinting();
    void looks();

private:
    MainWindow *build(const QByteArray &version = "8.9.30", unsigned int flags = 0);
    void waitForDatagrams(MainWindow *w, const QList<QByteArray> &datagrams);
    std::unique_ptr<StorageFixture> store;
    TestRoot *root = nullptr;
};

void TestMainWindow::init()
{
    store = std::make_unique<StorageFixture>();
    root = &store->root();
    MainWindow::resetExitRequest();
}

void TestMainWindow::cleanup()
{
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    MainWindow::resetExitRequest();
    Platform::setSystemClock({});
    qunsetenv("BRELLIUM_TIME_SCALE");
    root = nullptr;
    store.reset();
}

MainWindow *TestMainWindow::build(const QByteArray &version, unsigned int flags)
{
    if (!version.isNull())
        root->writeFile(QStringLiteral("/app/brellium/version"), version);
    root->setConfig(QByteArrayLiteral("{\"userSettings\":") + QByteArray::number(flags) + '}');
    HardwareControl::init(flags);
    MainWindow *w = MainWindow::instance();
    // The tests tick by hand: a running timer could act on an exit request
    // and end the test process.
    w->findChild<QTimer *>()->stop();
    w->show();
    return w;
}

void TestMainWindow::versionFile_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("notice");
    QTest::newRow("missing") << false << QByteArray() << true;
    QTest::newRow("exact") << true << QByteArray("8.9.30") << false;
    QTest::newRow("newline-ended") << true << QByteArray("8.9.30\n") << true;
    QTest::newRow("other version") << true << QByteArray("8.9.29") << true;
    QTest::newRow("empty") << true << QByteArray("") << true;
    QTest::newRow("longer") << true << QByteArray("8.9.300") << true;
}

void TestMainWindow::versionFile()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(bool, notice);
    QDir().mkpath(root->path(QStringLiteral("/app/brellium")));
    if (!present)
        QFile::remove(root->path(QStringLiteral("/app/brellium/version")));
    root->clearBoardCommands();
    MainWindow *w = build(present ? content : QByteArray());
    FormMessage *box = FormMessage::instance();
    QCOMPARE(box->isActived(), notice);
    QCOMPARE(root->readFile(QStringLiteral("/app/brellium/version")), QByteArray("8.9.30"));
    QCOMPARE(root->boardCommands().contains(QStringLiteral("sync")), notice);
    if (notice) {
        QCOMPARE(box->title(), QStringLiteral("Success"));
        QCOMPARE(box->text(), QStringLiteral("Upgrade to v8.9.30(0000)-ublox"));
        QVERIFY(!w->isEnabled()); // the window is the notice's parent
    }
}

void TestMainWindow::versionDirectory_noticeAndStartGoesOn()
{
    QDir().mkpath(root->path(QStringLiteral("/app/brellium/version")));
    MessageCapture capture;
    MainWindow *w = build(QByteArray());
    QVERIFY(FormMessage::instance()->isActived());
    QVERIFY(capture.contains(QStringLiteral("MainWindow: version file not written")));
    QVERIFY(w->formNomination); // every screen was built
    QVERIFY(QFileInfo(root->path(QStringLiteral("/app/brellium/version"))).isDir());
}

void TestMainWindow::versionText_data()
{
    QTest::addColumn<int>("osType");
    QTest::addColumn<uint>("gsmType");
    QTest::addColumn<uint>("settings");
    QTest::addColumn<QString>("text");
    QTest::newRow("board 1") << 1 << 0u << 0x0001u << "v8.9.30(0001)-ti";
    QTest::newRow("board 2 u-blox") << 2 << 0u << 0x0001u << "v8.9.30(0001)-ublox";
    QTest::newRow("board 3 EC25") << 3 << 0x800u << 0x0900u << "v8.9.30(0900)-ec25";
    QTest::newRow("board 2 Telit") << 2 << 0x1000u << 0x1000u << "v8.9.30(1000)";
    QTest::newRow("unknown board") << 0 << 0u << 0xABCDu << "v8.9.30(ABCD)";
    QTest::newRow("board 4") << 4 << 0x800u << 0u << "v8.9.30(0000)";
}

void TestMainWindow::versionText()
{
    QFETCH(int, osType);
    QFETCH(uint, gsmType);
    QFETCH(uint, settings);
    QFETCH(QString, text);
    QCOMPARE(MainWindow::versionText(osType, gsmType, settings), text);
}

void TestMainWindow::emptyLoftNumber_pushesPcLinkBehindNotice()
{
    MainWindow *w = build(QByteArray("old"));
    QCOMPARE(w->topSubForm(), static_cast<SubWindow *>(w->formPcConnect));
    QVERIFY(w->formPcConnect->isVisible());
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived() && box->isVisible());
    QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!Screenshot::save(QStringLiteral("start-pc-link-behind-notice")).isEmpty());
}

void TestMainWindow::noSmsRule_data()
{
    QTest::addColumn<int>("upload");
    QTest::addColumn<int>("notify");
    QTest::addColumn<int>("uploadAfter");
    QTest::addColumn<int>("notifyAfter");
    QTest::addColumn<bool>("saved");
    QTest::newRow("upload 6, notify 1") << 6 << 1 << 0 << 0 << true;
    QTest::newRow("upload 6, notify 0") << 6 << 0 << 0 << 0 << true;
    QTest::newRow("upload 2, notify 1") << 2 << 1 << 2 << 0 << true;
    QTest::newRow("upload 2, notify 0") << 2 << 0 << 2 << 0 << false;
    QTest::newRow("upload 0, notify 3") << 0 << 3 << 0 << 0 << true;
}

void TestMainWindow::noSmsRule()
{
    QFETCH(int, upload);
    QFETCH(int, notify);
    QFETCH(int, uploadAfter);
    QFETCH(int, notifyAfter);
    QFETCH(bool, saved);
    QCOMPARE(MainWindow::applyNoSmsRule(&upload, &notify), saved);
    QCOMPARE(upload, uploadAfter);
    QCOMPARE(notify, notifyAfter);
}

void TestMainWindow::noSmsRule_atStart_data()
{
    QTest::addColumn<uint>("flags");
    QTest::addColumn<int>("upload");
    QTest::addColumn<int>("notify");
    QTest::addColumn<int>("uploadAfter");
    QTest::addColumn<int>("notifyAfter");
    QTest::newRow("no SMS, upload 6") << 0x100u << 6 << 1 << 0 << 0;
    QTest::newRow("no SMS, upload 2") << 0x100u << 2 << 1 << 2 << 0;
    QTest::newRow("no SMS, nothing to clear") << 0x101u << 2 << 0 << 2 << 0;
    QTest::newRow("SMS allowed") << 0x001u << 6 << 1 << 6 << 1;
}

void TestMainWindow::noSmsRule_atStart()
{
    QFETCH(uint, flags);
    QFETCH(int, upload);
    QFETCH(int, notify);
    QFETCH(int, uploadAfter);
    QFETCH(int, notifyAfter);
    QVERIFY(store->exec(QStringLiteral("update LOFTINFO set UploadMode=%1, NotifyMode=%2, OwnerName='Jan' where Id=1")
                            .arg(upload)
                            .arg(notify)));
    build("8.9.30", flags);
    const QList<QVariantList> row = store->rows(QStringLiteral("select UploadMode, NotifyMode, OwnerName from LOFTINFO"));
    QCOMPARE(row.size(), 1);
    QCOMPARE(row.first().at(0).toInt(), uploadAfter);
    QCOMPARE(row.first().at(1).toInt(), notifyAfter);
    QCOMPARE(row.first().at(2).toString(), QStringLiteral("Jan")); // the rest of the row kept
}

void TestMainWindow::loftNumberSet_menuShows()
{
    QVERIFY(store->exec(QStringLiteral("update LOFTINFO set LoftNum='NL-2041' where Id=1")));
    MainWindow *w = build();
    QCOMPARE(w->topSubForm(), nullptr);
    QVERIFY(!FormMessage::instance()->isActived());
    QVERIFY(w->isEnabled());
}

void TestMainWindow::screens_builtInOrderUnderStatusBar()
{
    MainWindow *w = build();
    const QStringList expected{
        "FormAddPigeon", "FormAssigment", "FormListAssignment", "FormCommunication", "FormHome", "FormLcdTest",
        "FormMarking", "FormMarkingSelectRace", "FormMember", "FormPcConnect", "FormRace", "FormRaceDetail",
        "FormHomeRaceDetail", "FormAddRace", "FormRingTest", "FormSmsTest", "FormSystem", "FormTest", "FormTime",
        "FormTrain", "FormTrainStart", "FormMorlanConnect", "FormPigeonList", "FormPigeonsAssignment",
        "FormLogs", "FormConfig", "FormNomination"};
    w->resetSubForms();
    QStringList built;
    int menuIndex = -1;
    int firstScreen = -1;
    const QObjectList children = w->children();
    for (int i = 0; i < children.size(); ++i) {
        if (children.at(i) == w->mainMenu())
            menuIndex = i;
        if (auto *screen = qobject_cast<SubWindow *>(children.at(i))) {
            if (firstScreen < 0)
                firstScreen = i;
            built << QLatin1String(screen->metaObject()->className());
            QVERIFY(screen->isHidden());
            QCOMPARE(screen->geometry(), QRect(0, 40, 480, 700));
        }
    }
    // The PC-link screen was pushed at start, which raised it above its
    // siblings; the others stand in the order they were built.
    QCOMPARE(built.takeLast(), QStringLiteral("FormPcConnect"));
    QStringList others = expected;
    others.removeAll(QStringLiteral("FormPcConnect"));
    QCOMPARE(built, others);
    QVERIFY(menuIndex >= 0 && menuIndex < firstScreen);
    QCOMPARE(w->mainMenu()->geometry(), QRect(0, 40, 480, 700));
    QCOMPARE(w->geometry(), QRect(0, 0, 480, 800));
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
}

void TestMainWindow::gsmIcon_data()
{
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<int>("csq");
    QTest::addColumn<QString>("picture");
    const quint32 ready = StatusBar::ModemReady;
    const QList<std::pair<int, const char *>> bands = {
        {-1, "gsmSignal0"}, {0, "gsmSignal0"}, {2, "gsmSignal0"}, {3, "gsmSignal1"}, {4, "gsmSignal1"},
        {5, "gsmSignal2"}, {9, "gsmSignal2"}, {10, "gsmSignal3"}, {16, "gsmSignal3"}, {17, "gsmSignal4"},
        {24, "gsmSignal4"}, {25, "gsmSignal5"}, {31, "gsmSignal5"}, {32, "gsmSignal0"}, {98, "gsmSignal0"},
        {99, "gsmSignal0"}, {100000, "gsmSignal0"}};
    for (const auto &band : bands)
        QTest::addRow("csq %d", band.first) << ready << band.first << QString::fromLatin1(band.second);
    QTest::newRow("not initialised, csq 31") << quint32(0x408) << 31 << "GsmSignalError";
    QTest::newRow("not initialised, csq 99") << quint32(0) << 99 << "GsmSignalError";
}

void TestMainWindow::gsmIcon()
{
    QFETCH(quint32, flags);
    QFETCH(int, csq);
    QFETCH(QString, picture);
    const StatusLook look = StatusBar::look(modem(flags, csq));
    QCOMPARE(look.gsmStyle,
             QStringLiteral("border:none;background:url(:/image/topIcons/image/%1.png) no-repeat;").arg(picture));
    QCOMPARE(look.gprsKept, !(flags & StatusBar::ModemReady));
}

// A modem that failed its starts over and over shows the error picture,
// whatever its last cycle got as far as.
void TestMainWindow::gsmIcon_failedModem_showsTheError()
{
    StatusSnapshot s = modem(StatusBar::ModemReady | StatusBar::DataContext, 27);
    s.modemFailed = true;
    QCOMPARE(StatusBar::look(s).gsmStyle,
             QStringLiteral("border:none;background:url(:/image/topIcons/image/GsmSignalError.png) no-repeat;"));
}

void TestMainWindow::dataLinkIcon_data()
{
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<QString>("style");
    QTest::newRow("socket and context") << quint32(0x418) << "background: url(:/image/topIcons/image/SocketOpen.png) no-repeat;";
    QTest::newRow("context only") << quint32(0x18) << "background: url(:/image/topIcons/image/GprsOpen.png) no-repeat;";
    QTest::newRow("socket without context") << quint32(0x410) << "";
    QTest::newRow("neither") << quint32(0x10) << "";
}

void TestMainWindow::dataLinkIcon()
{
    QFETCH(quint32, flags);
    QFETCH(QString, style);
    MainWindow *w = build();
    w->applyStatus(StatusBar::look(modem(StatusBar::ModemReady | StatusBar::DataContext | StatusBar::SocketOpen, 20)));
    w->applyStatus(StatusBar::look(modem(flags, 20)));
    QCOMPARE(styleOf(w, "labelGPRS"), style);
    // A modem that is not initialised leaves the picture as it was.
    w->applyStatus(StatusBar::look(modem(0, 20)));
    QCOMPARE(styleOf(w, "labelGPRS"), style);
}

void TestMainWindow::gpsIcon_data()
{
    QTest::addColumn<bool>("error");
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("text");
    QTest::newRow("error wins") << true << true << true << "gps_invalid" << "before";
    QTest::newRow("online") << false << true << true << "gps_online" << "GPS";
    QTest::newRow("valid only") << false << false << true << "gps_online" << "Gps";
    QTest::newRow("no fix") << false << false << false << "gps_offline" << "before";
}

void TestMainWindow::gpsIcon()
{
    QFETCH(bool, error);
    QFETCH(bool, online);
    QFETCH(bool, valid);
    QFETCH(QString, picture);
    QFETCH(QString, text);
    MainWindow *w = build();
    label(w, "labelGpsText")->setText(QStringLiteral("before"));
    StatusSnapshot s;
    s.gpsError = error;
    s.gpsOnline = online;
    s.gpsValid = valid;
    w->applyStatus(StatusBar::look(s));
    QCOMPARE(styleOf(w, "labelGps"),
             QStringLiteral("border:none;background:url(:/image/topIcons/image/%1.png) no-repeat;").arg(picture));
    QCOMPARE(label(w, "labelGpsText")->text(), text);
}

void TestMainWindow::readerIcon_data()
{
    QTest::addColumn<int>("channelMode");
    QTest::addColumn<bool>("connector");
    QTest::addColumn<bool>("reader");
    QTest::addColumn<QString>("picture");
    QTest::newRow("own reader valid") << 0 << true << true << "rf_online";
    QTest::newRow("own reader invalid, connector ready") << 0 << true << false << "rf_invalid";
    QTest::newRow("boards, connector ready") << 1 << true << false << "rf_online";
    QTest::newRow("boards, reader only") << 2 << false << true << "rf_disable";
    QTest::newRow("boards, nothing") << 1 << false << false << "rf_invalid";
    QTest::newRow("negative mode counts as boards") << -1 << false << true << "rf_disable";
}

void TestMainWindow::readerIcon()
{
    QFETCH(int, channelMode);
    QFETCH(bool, connector);
    QFETCH(bool, reader);
    QFETCH(QString, picture);
    StatusSnapshot s;
    s.channelMode = channelMode;
    s.connectorReady = connector;
    s.readerValid = reader;
    QCOMPARE(StatusBar::look(s).rfStyle,
             QStringLiteral("border:none;background: url(:/image/topIcons/image/%1.png) no-repeat;").arg(picture));
}

void TestMainWindow::tick_unpublishedServicesReadNeutral()
{
    Platform::setSystemClock([] { return qint64(1700000000000); });
    const StatusSnapshot s = StatusBar::gather(HardwareControl::IsPowerAcSupply());
    QCOMPARE(s.gsmFlags, 0u);
    QVERIFY(!s.gpsError && !s.gpsOnline && !s.gpsValid);
    QVERIFY(!s.readerValid && !s.connectorReady);
    QCOMPARE(s.channelMode, 0);
    QCOMPARE(s.loftTimeMs, qint64(1700000000000));
    QVERIFY(s.mainsPresent);

    MainWindow *w = build();
    tick(w);
    QVERIFY(styleOf(w, "labelGsm").contains(QLatin1String("GsmSignalError.png")));
    QVERIFY(styleOf(w, "labelGps").contains(QLatin1String("gps_offline.png")));
    QVERIFY(styleOf(w, "labelRF").contains(QLatin1String("rf_invalid.png")));
    QCOMPARE(label(w, "labelTime")->text(), StatusBar::timeText(1700000000000));
}

void TestMainWindow::tick_powerWarningFollowsMainsFile()
{
    MainWindow *w = build();
    tick(w);
    QVERIFY(label(w, "labelPowerOff")->isHidden());
    root->setGpio(51, 0);
    tick(w);
    QVERIFY(label(w, "labelPowerOff")->isVisible());
    QVERIFY(!Screenshot::save(QStringLiteral("status-mains-cut")).isEmpty());
    root->setGpio(51, 1);
    tick(w);
    QVERIFY(label(w, "labelPowerOff")->isHidden());
}

void TestMainWindow::tick_reachesTopScreenOnly()
{
    MainWindow *w = build();
    auto *a = new TestScreen(w);
    auto *b = new TestScreen(w);
    w->pushSubForm(a);
    w->pushSubForm(b);
    tick(w);
    tick(w);
    QCOMPARE(b->ticks, (QList<int>{300, 300}));
    QVERIFY(a->ticks.isEmpty());
    w->resetSubForms();
    tick(w);
    QCOMPARE(b->ticks.size(), 2);
}

void TestMainWindow::tick_throwingScreenIsLoggedAndTicksGoOn()
{
    MainWindow *w = build();
    auto *a = new TestScreen(w);
    w->pushSubForm(a);
    a->throwOnTick = true;
    Platform::setSystemClock([] { return qint64(1700000000000); });
    MessageCapture capture;
    tick(w);
    QCOMPARE(capture.count(QStringLiteral("MainWindow::onTickTimeOut VexException!")), 1);
    QCOMPARE(label(w, "labelTime")->text(), StatusBar::timeText(1700000000000));
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Error"));
    QCOMPARE(box->text(), QStringLiteral("Semaphore timeout!"));

    a->throwOnTick = false;
    tick(w);
    QCOMPARE(a->ticks.size(), 2);
}

void TestMainWindow::watchdog_data()
{
    QTest::addColumn<qint64>("last");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<bool>("due");
    const qint64 t = 1700000000000;
    QTest::newRow("first tick") << qint64(0) << t << true;
    QTest::newRow("same time") << t << t << false;
    QTest::newRow("5000 ms later") << t << t + 5000 << false;
    QTest::newRow("5001 ms later") << t << t + 5001 << true;
    QTest::newRow("set back 5000 ms") << t << t - 5000 << false;
    QTest::newRow("set back 5001 ms") << t << t - 5001 << true;
}

void TestMainWindow::watchdog()
{
    QFETCH(qint64, last);
    QFETCH(qint64, now);
    QFETCH(bool, due);
    QCOMPARE(MainWindow::isWatchdogDue(now, last), due);
}

void TestMainWindow::watchdog_firstTickFeeds()
{
    qint64 clock = 1700000000000;
    Platform::setSystemClock([&clock] { return clock; });
    MainWindow *w = build();
    // On a slow machine the window's own timer may tick once while it is
    // built; that tick feeds at the same instant as the first one here.
    QVERIFY(w->lastWatchdogMs() == 0 || w->lastWatchdogMs() == clock);
    tick(w);
    QCOMPARE(w->lastWatchdogMs(), clock);
    clock += 4700;
    tick(w);
    QCOMPARE(w->lastWatchdogMs(), qint64(1700000000000));
    clock -= 20000; // the clock was set back
    tick(w);
    QCOMPARE(w->lastWatchdogMs(), clock);
}

void TestMainWindow::keys_escapeOnMenuConsumed()
{
    MainWindow *w = build();
    w->resetSubForms();
    KeyCounter counter;
    w->mainMenu()->installEventFilter(&counter);
    w->mainMenu()->setFocus();
    QTest::keyClick(w->mainMenu(), Qt::Key_Escape);
    QVERIFY(counter.keys.isEmpty());
    QCOMPARE(w->topSubForm(), nullptr);
    QTest::keyClick(w->mainMenu(), Qt::Key_Left); // not a key of the window
    QCOMPARE(counter.keys, QList<int>{Qt::Key_Left});
}

void TestMainWindow::keys_upDownReachMenu()
{
    MainWindow *w = build();
    w->resetSubForms();
    QTest::keyClick(w, Qt::Key_Down);
    QTest::keyClick(w, Qt::Key_Down);
    QTest::keyClick(w, Qt::Key_Up);
    QCOMPARE(w->mainMenu()->selectedItem(), 1);
}

void TestMainWindow::keys_homeWithConfirmationKeepsBox()
{
    MainWindow *w = build();
    auto *a = new TestScreen(w);
    w->pushSubForm(a);
    RecordingHandler handler;
    FormMessage::information(a, QStringLiteral("Warning"), QStringLiteral("Delete?"), kQuestion, &handler);
    QTest::keyClick(FormMessage::instance(), Qt::Key_Home);
    QCOMPARE(w->topSubForm(), nullptr);
    QVERIFY(FormMessage::instance()->isActived());
    QVERIFY(handler.answers.isEmpty());
}

void TestMainWindow::keys_homeUnderLockedBoxDoesNothing()
{
    MainWindow *w = build();
    auto *a = new TestScreen(w);
    w->pushSubForm(a);
    FormMessage::information(a, QStringLiteral("Print"), QStringLiteral("Printing..."), QMessageBox::NoButton, nullptr);
    QTest::keyClick(FormMessage::instance(), Qt::Key_Home);
    QTest::keyClick(FormMessage::instance(), Qt::Key_Escape);
    QTest::mouseClick(w->findChild<QWidget *>(QStringLiteral("pushButtonHome")), Qt::LeftButton);
    QCOMPARE(w->topSubForm(), a);
    QVERIFY(a->isActive());
    QVERIFY(FormMessage::instance()->isActived());
}

void TestMainWindow::keys_returnWithBoxActsAsOk()
{
    MainWindow *w = build();
    auto *a = new TestScreen(w);
    w->pushSubForm(a);
    RecordingHandler handler;
    FormMessage::information(a, QStringLiteral("Warning"), QStringLiteral("Stop?"), kQuestion, &handler);
    QTest::keyClick(FormMessage::instance(), Qt::Key_Return);
    QCOMPARE(handler.answers, QList<int>{int(QMessageBox::Ok)});
    QVERIFY(!FormMessage::instance()->isActived());
    QVERIFY(a->keys.isEmpty()); // the box took it, not the screen
}

void TestMainWindow::keys_topScreenThenFocusedWidget()
{
    MainWindow *w = build();
    w->resetSubForms();
    auto *a = new TestScreen(w);
    w->pushSubForm(a);
    KeyCounter counter;
    a->edit->installEventFilter(&counter);
    QTest::keyClick(a->edit, Qt::Key_Up);
    QTest::keyClick(a->edit, Qt::Key_Down);
    QCOMPARE(a->keys, (QList<int>{Qt::Key_Up, Qt::Key_Down}));
    QCOMPARE(counter.keys, QList<int>{Qt::Key_Down});
    QTest::keyClick(a->edit, Qt::Key_Escape);
    QCOMPARE(w->topSubForm(), nullptr);
}

void TestMainWindow::buttons_playDongAndNavigate()
{
    MainWindow *w = build();
    w->resetSubForms();
    auto *a = new TestScreen(w);
    auto *b = new TestScreen(w);
    w->pushSubForm(a);
    w->pushSubForm(b);
    PromptQueue sound;
    QTest::keyClick(b->edit, Qt::Key_Escape); // hardware keys play nothing
    QCOMPARE(w->topSubForm(), a);
    QVERIFY(sound.prompts().isEmpty());
    w->pushSubForm(b);
    QTest::mouseClick(w->findChild<QWidget *>(QStringLiteral("pushButtonBack")), Qt::LeftButton);
    QCOMPARE(w->topSubForm(), a);
    QCOMPARE(sound.prompts(), QStringList{"dong"});
    QTest::mouseClick(w->findChild<QWidget *>(QStringLiteral("pushButtonHome")), Qt::LeftButton);
    QCOMPARE(w->topSubForm(), nullptr);
    QCOMPARE(sound.prompts(), (QStringList{"dong", "dong"}));
}

void TestMainWindow::waitForDatagrams(MainWindow *w, const QList<QByteArray> &datagrams)
{
    QUdpSocket *port = w->findChild<QUdpSocket *>();
    QVERIFY(port && port->state() == QAbstractSocket::BoundState);
    QUdpSocket sender;
    for (const QByteArray &datagram : datagrams)
        QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, port->localPort()), qint64(datagram.size()));
    // The last datagram is a marker nobody acts on: once it is read, all
    // before it were handled.
    const QByteArray marker("marker");
    sender.writeDatagram(marker, QHostAddress::LocalHost, port->localPort());
    QTRY_VERIFY_WITH_TIMEOUT(!port->hasPendingDatagrams() && port->bytesAvailable() == 0, 5000);
    QTest::qWait(0);
}

void TestMainWindow::closeDatagram_data()
{
    QTest::addColumn<QList<QByteArray>>("datagrams");
    QTest::addColumn<bool>("closes");
    const QByteArray command("brellium:close");
    QByteArray longest(65507, 'x');
    QByteArray longestCommand = command + QByteArray(1, '\0') + QByteArray(65507 - command.size() - 1, 'y');
    QList<QByteArray> burst;
    for (int i = 0; i < 40; ++i)
        burst << QByteArray("noise ") + QByteArray::number(i);
    QTest::newRow("command") << QList<QByteArray>{command} << true;
    QTest::newRow("capitals") << QList<QByteArray>{"BRELLIUM:Close"} << true;
    QTest::newRow("newline-ended") << QList<QByteArray>{command + '\n'} << false;
    QTest::newRow("leading blank") << QList<QByteArray>{" " + command} << false;
    QTest::newRow("cut by a zero byte") << QList<QByteArray>{command + QByteArray("\0junk", 5)} << true;
    QTest::newRow("zero byte inside") << QList<QByteArray>{QByteArray("brellium\0:close", 15)} << false;
    QTest::newRow("empty") << QList<QByteArray>{QByteArray()} << false;
    QTest::newRow("maximum length") << QList<QByteArray>{longest} << false;
    QTest::newRow("maximum length, command first") << QList<QByteArray>{longestCommand} << true;
    QTest::newRow("after a burst") << (burst + QList<QByteArray>{command}) << true;
    QTest::newRow("burst only") << burst << false;
}

void TestMainWindow::closeDatagram()
{
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(bool, closes);
    MainWindow *w = build();
    waitForDatagrams(w, datagrams);
    QCOMPARE(MainWindow::isExitRequested(), closes);
    // One power-off event for the command, none for anything else.
    QCOMPARE(store->value(QStringLiteral("select count(*) from Log where LogType=15")).toInt(), closes ? 1 : 0);
    QCOMPARE(store->value(QStringLiteral("select count(*) from Log")).toInt(), closes ? 1 : 0);
    if (closes)
        QCOMPARE(store->value(QStringLiteral("select LogInfo from Log")).toString(),
                 QStringLiteral("{\"reason\":\"Watchdog\"}"));
}

// A full disk must not keep the program from closing in order.
void TestMainWindow::closeDatagram_logUnwritable_stillCloses()
{
    MainWindow *w = build();
    QVERIFY(store->failOn(QStringLiteral("INSERT"), QStringLiteral("Log")));
    waitForDatagrams(w, {QByteArray("brellium:close")});
    QVERIFY(MainWindow::isExitRequested());
    QCOMPARE(store->value(QStringLiteral("select count(*) from Log")).toInt(), 0);
}

// Arrivals that cannot be stored are held by the engine; the window says so
// once when holding starts (the box keeps its place under a newer error),
// and again only for the next episode.
void TestMainWindow::heldArrivals_errorShownOncePerEpisode()
{
    MainWindow *w = build();
    PromptQueue sound;
    PigeonBo bo;
    bo.setArrivalRetry({60000}); // tried again only when the test says so
    ServiceFactory::getInstance()->pigeonBo = &bo;
    const auto unpublish = qScopeGuard([] { ServiceFactory::getInstance()->pigeonBo = nullptr; });
    bo.start();
    QVERIFY(store->exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('NL-1','0A0B0C0D')")));
    QVERIFY(store->exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) "
                                       "values('NL-1','0A0B0C0D','train',0)")));
    QVERIFY(store->failOn(QStringLiteral("INSERT"), QStringLiteral("Log")));
    LFTAG_INFO tag;
    tag.eRing = QStringLiteral("0A0B0C0D");
    tag.time = 1700000000000;
    bo.notifyTagScaned(&tag); // same thread: handled at once
    QCOMPARE(bo.heldArrivals(), 1);
    tick(w);
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Error"));
    QVERIFY(box->text().startsWith(QStringLiteral("Arrivals cannot be stored: 1 held.")));
    QVERIFY(!Screenshot::save(QStringLiteral("arrivals-held")).isEmpty());
    box->deactive();
    tick(w);
    QVERIFY(!box->isActived()); // once per episode
    bo.requestExit();
    QMetaObject::invokeMethod(&bo, "onTickTime", Qt::DirectConnection);
    QCOMPARE(bo.heldArrivals(), 0);
}

void TestMainWindow::closePortTaken_windowRunsOn()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
    qputenv("BRELLIUM_CLOSE_PORT", QByteArray::number(holder.localPort()));
    MessageCapture capture;
    MainWindow *w = build();
    qputenv("BRELLIUM_CLOSE_PORT", "0");
    QVERIFY(capture.contains(QStringLiteral("MainWindow: udp bind failed")));
    QVERIFY(w->formNomination);
    tick(w);
    QVERIFY(!MainWindow::isExitRequested());
}

void TestMainWindow::stopStep_givesUpAtItsBound()
{
    qputenv("BRELLIUM_TIME_SCALE", "0.01");
    QCOMPARE(MainWindow::scaledMs(8000), 80);
    MainWindow *w = build();
    MessageCapture capture;
    QVERIFY(!w->stopStep(QStringLiteral("Stop RF Service..."), [] { return false; }));
    QVERIFY(capture.contains(QStringLiteral("MainWindow: Stop RF Service... timeout!")));
    int polls = 0;
    QVERIFY(w->stopStep(QStringLiteral("Stop GSM Service..."), [&polls] { return ++polls == 3; }));
    QCOMPARE(polls, 3);
    QVERIFY(capture.contains(QStringLiteral("Stop GSM Service...")));
}

namespace {
// A report that lets the main window tick inside its page topic, as a
// listener's event pump does between lines, then fails as a broken link would.
class TickingReport : public ReportPrinter
{
public:
    std::function<void()> onTopic;

protected:
    void printPageTopic() override
    {
        onTopic();
        throw VexException(0x506, QStringLiteral("Morlan no response!"), QString());
    }
    void printPageBottom() override {}
    int getMaxRecordLines() override { return 0; }
    int getRecordCount() override { return 0; }
    void printReportTopic() override {}
    void printReportBottom() override {}
};
} // namespace

void TestMainWindow::exit_heldWhilePrinting()
{
    // A shutdown begun under the print would end this process (ctest then
    // misses the totals line and fails the suite).
    MainWindow *w = build();
    MainWindow::requestExit();
    TickingReport report;
    bool ticked = false;
    report.onTopic = [&] {
        QVERIFY(ReportPrinter::isPrinting());
        tick(w);
        QVERIFY(w->isEnabled());
        ticked = true;
    };
    QVERIFY_THROWS_EXCEPTION(VexException, report.printAll());
    QVERIFY(ticked);
    QVERIFY(!ReportPrinter::isPrinting());
    // Still asked for: the next tick outside printing shuts down.
    QVERIFY(MainWindow::isExitRequested());
}

// Only makes the pictures, for a person to look at: what the status bar
// shows is asserted by the status suites, not here.
void TestMainWindow::looks()
{
    MainWindow *w = build();
    w->resetSubForms();
    Platform::setSystemClock([] { return qint64(1765400000000); });
    StatusSnapshot s = modem(StatusBar::ModemReady | StatusBar::DataContext | StatusBar::SocketOpen, 27);
    s.gpsOnline = true;
    s.readerValid = true;
    s.loftTimeMs = 1765400000000;
    w->applyStatus(StatusBar::look(s));
    QVERIFY(!Screenshot::save(QStringLiteral("menu-all-online")).isEmpty());

    StatusSnapshot weak = modem(StatusBar::ModemReady | StatusBar::DataContext, 4);
    weak.gpsValid = true;
    weak.channelMode = 1;
    weak.readerValid = true;
    weak.loftTimeMs = 1765400000000;
    w->mainMenu()->doKeyPress(std::make_unique<QKeyEvent>(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier).get());
    w->applyStatus(StatusBar::look(weak));
    QVERIFY(!Screenshot::save(QStringLiteral("menu-weak-signal")).isEmpty());

    StatusSnapshot none;
    none.loftTimeMs = 1765400000000;
    none.gpsError = true;
    w->applyStatus(StatusBar::look(none));
    QVERIFY(!Screenshot::save(QStringLiteral("menu-no-services")).isEmpty());

    w->pushSubForm(w->formMember);
    auto *keyboard = new FormKeyBoard(w->formMember);
    keyboard->move(0, 700 - keyboard->height());
    keyboard->show();
    QVERIFY(!Screenshot::save(QStringLiteral("screen-with-keyboard")).isEmpty());
    FormMessage::information(w->formMember, QStringLiteral("Warning"), QStringLiteral("Save the loft data?"), kQuestion, nullptr);
    QVERIFY(!Screenshot::save(QStringLiteral("screen-with-question")).isEmpty());
    FormMessage::information(w->formMember, QStringLiteral("Print"), QStringLiteral("Printing page 1 ..."), QMessageBox::NoButton, nullptr);
    QVERIFY(!Screenshot::save(QStringLiteral("screen-with-progress")).isEmpty());
    FormMessage::information(w->formMember, QStringLiteral("Error"), QStringLiteral("Semaphore timeout!"), QMessageBox::Ok, nullptr);
    QVERIFY(!Screenshot::save(QStringLiteral("screen-with-error")).isEmpty());
    FormMessage::instance()->deactive();

    // The shutdown line as the shutdown shows it.
    w->resetSubForms();
    w->mainMenu()->close();
    w->setEnabled(false);
    QLabel *tip = label(w, "labTipInfo");
    tip->show();
    qputenv("BRELLIUM_TIME_SCALE", "0.01");
    w->stopStep(QStringLiteral("Stop GSM Service..."), [] { return true; });
    QCOMPARE(tip->text(), QStringLiteral("Stop GSM Service..."));
    QVERIFY(!Screenshot::save(QStringLiteral("shutdown-line")).isEmpty());
}

int main(int argc, char *argv[])
{
    MyApp app(argc, argv);
    TestMainWindow test;
    const int status = QTest::qExec(&test, argc, argv);
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    return status;
}
#include "tst_mainwindow.moc"
