#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/platform.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/lfmodule.h"
#include "device/pcport.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formkeyboard.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/menu.h"
#include "ui/pigeon/formmember.h"

#include "guifixture.h"
#include "messagecapture.h"
#include "pcportpeer.h"
#include "promptqueue.h"
#include "runningengine.h"
#include "screendriver.h"
#include "storagefixture.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

// The PC port's node under the simulated root.
QString pcNode()
{
    return Platform::path(QStringLiteral("/dev/ttyS1"));
}

constexpr int kWaitMs = 10000;
constexpr int kTickMs = 300;
// 2025-05-01 10:00:00 UTC; 18:00 at the default zone.
constexpr qint64 kBase = 1746093600000LL;

enum class Back { No, Arrived, Uploaded };

void saveLoft(const QString &owner)
{
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    loft.loftNum = QStringLiteral("L100");
    loft.ownerName = owner;
    loft.city = QStringLiteral("Gent");
    loft.phoneNo = QStringLiteral("+3212345");
    loft.assocCode = QStringLiteral("KBDB");
    loft.clubCode = QStringLiteral("C07");
    loft.loftLat = QStringLiteral("51.05");
    loft.loftLon = QStringLiteral("3.72");
    Storage::instance()->saveLoftInfo(&loft);
}

void savePigeon(const QString &assocNum, const QString &ring, int sex = 0)
{
    PigeonInfo pigeon;
    pigeon.assocNum = assocNum;
    pigeon.eringNum = ring;
    pigeon.color = QStringLiteral("Blue");
    pigeon.year = 2024;
    pigeon.sex = sex;
    Storage::instance()->savePigeon(&pigeon);
}

void saveRace(const QString &code, int valid)
{
    RaceInfo race;
    race.raceCode = code;
    race.valid = valid;
    race.liberCode = QStringLiteral("LIB-") + code;
    race.liberName = QStringLiteral("Orleans");
    // 20:00 UTC: already the next day at the loft's +8 h.
    race.liberTime = kBase + 10 * 3600000LL;
    Storage::instance()->saveRace(&race);
}

void saveRecord(const QString &assocNum, const QString &ring, const QString &raceCode, bool basketed, Back back,
                bool sms)
{
    PigeonRecord record;
    record.assocNum = assocNum;
    record.eringNum = ring;
    record.raceCode = raceCode;
    record.markTime = basketed ? kBase - 3600000 : 0;
    record.backTimeEring = back == Back::No ? 0 : kBase + 3600000;
    record.backOrder = back == Back::No ? 0 : 1;
    record.eringUploadState = back == Back::Uploaded;
    record.smsSendState = sms;
    Storage::instance()->saveRecord(&record);
}

} // namespace

// The loft and member screen on the real main window and a real database:
// loft labels, ringed pigeons with their status words, details, search with
// its keyboard, re-upload, the periodic refresh and the export button.
class TestFormMember : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void enterFailure_boxNoScreen();
    void status_data();
    void status();
    void details_data();
    void details();
    void loftLabels_plainText();
    void search_data();
    void search();
    void searchNoMatch_keepsDetails();
    void upload_data();
    void upload();
    void uploadFailure_showsErrorChangesNothing();
    void liveRows_followArrivalsWhileShown();
    void periodicRefresh_followsDatabase();
    void periodicRefresh_underLock_logsOnce();
    void keyboard();
    void outputButton_followsFlag();
    void output_databaseFailure_boxPortClosedNextComplete();
    void output_noLink_noBox();

private:
    void push();
    QTableWidget *table() const;
    QString cell(int row, int column) const;
    QString text(const char *name) const;
    QStringList column(int column) const;
    void shot(const QString &name);

    std::unique_ptr<GuiFixture> gui;
    StorageFixture *store = nullptr;
    MainWindow *window = nullptr;
    FormMember *screen = nullptr;
};

void TestFormMember::init()
{
    gui = std::make_unique<GuiFixture>();
    store = &gui->store();
    HardwareControl::init(0x2);
    UTC::setTimeZone(28800);
    window = gui->window();
    QVERIFY(QTest::qWaitForWindowActive(window));
    screen = window->formMember;
    saveLoft(QStringLiteral("Ann"));
    // The loft number is no setting: only formatting the device writes it.
    QVERIFY(store->exec(QStringLiteral("update LOFTINFO set LoftNum='L100'")));
}

void TestFormMember::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    Storage::setConnectOptions(QString());
    PcPort::destroy();
    window = nullptr;
    screen = nullptr;
    store = nullptr;
    gui.reset();
}

void TestFormMember::push()
{
    window->pushSubForm(screen);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(screen));
}

QTableWidget *TestFormMember::table() const
{
    return screen->findChild<QTableWidget *>(QStringLiteral("tablePigeons"));
}

QString TestFormMember::cell(int row, int column) const
{
    const QTableWidgetItem *item = table()->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

QString TestFormMember::text(const char *name) const
{
    return screen->findChild<QLabel *>(QLatin1String(name))->text();
}

QStringList TestFormMember::column(int columnIndex) const
{
    QStringList out;
    for (int row = 0; row < table()->rowCount(); ++row)
        out << cell(row, columnIndex);
    return out;
}

void TestFormMember::shot(const QString &name)
{
    QVERIFY(!ScreenDriver(screen, QStringLiteral("formmember")).shot(name).isEmpty());
}

void TestFormMember::enterFailure_boxNoScreen()
{
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"));
    // The loft read passes; the pigeon list fails.
    Storage::setFault(Storage::Fault::FailStatement, 2);
    QTest::mouseClick(window->mainMenu()->findChild<QPushButton *>(QStringLiteral("pushButtonMember")), Qt::LeftButton);
    Storage::setFault(Storage::Fault::None);
    QCOMPARE(window->topSubForm(), nullptr);
    QVERIFY(FormMessage::instance()->isActived());
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
}

void TestFormMember::status_data()
{
    QTest::addColumn<int>("raceState"); // 0: no such race
    QTest::addColumn<bool>("basketed");
    QTest::addColumn<int>("back");
    QTest::addColumn<bool>("sms");
    QTest::addColumn<bool>("hasRecord");
    QTest::addColumn<QString>("expected");
    const int arrived = int(Back::Arrived);
    const int uploaded = int(Back::Uploaded);
    const int none = int(Back::No);
    QTest::newRow("free, no arrival") << 1 << false << none << false << true << "Train";
    QTest::newRow("free, no arrival, sms") << 1 << false << none << true << true << "Train";
    QTest::newRow("training arrival") << 1 << false << arrived << false << true << "Back";
    QTest::newRow("training arrival uploaded, sms") << 1 << false << uploaded << true << true << "*UpLd";
    QTest::newRow("basketed, state 1") << 1 << true << none << false << true << "Mark";
    QTest::newRow("basketed, state 1, sms") << 1 << true << none << true << true << "Mark";
    QTest::newRow("basketed, state 3") << 3 << true << none << false << true << "Race";
    QTest::newRow("basketed, state 3, sms") << 3 << true << none << true << true << "Race";
    QTest::newRow("basketed, state 4") << 4 << true << none << false << true << "Stop";
    QTest::newRow("basketed, state 12, sms") << 12 << true << none << true << true << "*Stop";
    QTest::newRow("arrived") << 4 << true << arrived << false << true << "Back";
    QTest::newRow("arrived, sms") << 4 << true << arrived << true << true << "*Back";
    QTest::newRow("uploaded") << 12 << true << uploaded << false << true << "UpLd";
    QTest::newRow("uploaded, sms") << 12 << true << uploaded << true << true << "*UpLd";
    QTest::newRow("race gone") << 0 << true << none << true << true << "";
    QTest::newRow("no record") << 1 << false << none << false << false << "";
}

void TestFormMember::status()
{
    QFETCH(int, raceState);
    QFETCH(bool, basketed);
    QFETCH(int, back);
    QFETCH(bool, sms);
    QFETCH(bool, hasRecord);
    QFETCH(QString, expected);
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E0000001"));
    savePigeon(QStringLiteral("A-00"), QString()); // no ring: never listed
    if (raceState != 0)
        saveRace(QStringLiteral("R1"), raceState);
    saveRecord(QStringLiteral("B-01"), QStringLiteral("E0000001"), QStringLiteral("R1"), basketed, Back(back), sms);
    if (!hasRecord)
        QVERIFY(store->exec(QStringLiteral("delete from record where AssocNum='B-01'")));
    push();
    QCOMPARE(table()->rowCount(), 1);
    QCOMPARE(cell(0, 0), QStringLiteral("1"));
    QCOMPARE(cell(0, 1), QStringLiteral("B-01"));
    QCOMPARE(cell(0, 2), QStringLiteral("E0000001"));
    QCOMPARE(cell(0, 3), expected);
}

void TestFormMember::details_data()
{
    QTest::addColumn<int>("sex");
    QTest::addColumn<int>("kind"); // 0 basketed, 1 not basketed, 2 race missing, 3 no record
    QTest::addColumn<QString>("sexWord");
    QTest::addColumn<QStringList>("race"); // code, date, site
    const QStringList none{"--", "--", "--"};
    QTest::newRow("hen, basketed") << 0 << 0 << "Hen" << QStringList{"LIB-R1", "02/05/2025", "Orleans"};
    QTest::newRow("cock, not basketed") << 1 << 1 << "Cock" << none;
    QTest::newRow("sex 7, race missing") << 7 << 2 << "Unknown" << none;
    QTest::newRow("no record") << 0 << 3 << "Hen" << none;
}

void TestFormMember::details()
{
    QFETCH(int, sex);
    QFETCH(int, kind);
    QFETCH(QString, sexWord);
    QFETCH(QStringList, race);
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"), sex);
    if (kind != 2)
        saveRace(QStringLiteral("R1"), 3);
    saveRecord(QStringLiteral("B-01"), QStringLiteral("E1"), QStringLiteral("R1"), kind != 1, Back::No, false);
    if (kind == 3)
        QVERIFY(store->exec(QStringLiteral("delete from record")));
    push();
    QCOMPARE(text("labColor"), QStringLiteral("Blue"));
    QCOMPARE(text("labSex"), sexWord);
    QCOMPARE(text("labYear"), QStringLiteral("2024"));
    QCOMPARE(text("labRaceCode"), race.at(0));
    QCOMPARE(text("labLiberTime"), race.at(1));
    QCOMPARE(text("labRaceSite"), race.at(2));
}

void TestFormMember::loftLabels_plainText()
{
    // No engine runs: the stored loft row is shown.
    QVERIFY(!ServiceFactory::getInstance()->pigeonBo);
    saveLoft(QStringLiteral("<b>Ann</b> & 'Co'"));
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"));
    push();
    QCOMPARE(text("labelOwnerName"), QStringLiteral("<b>Ann</b> & 'Co'"));
    QCOMPARE(screen->findChild<QLabel *>(QStringLiteral("labelOwnerName"))->textFormat(), Qt::PlainText);
    QCOMPARE(text("labelCity"), QStringLiteral("Gent"));
    QCOMPARE(text("labelPhone"), QStringLiteral("+3212345"));
    QCOMPARE(text("labelLoftAssoc"), QStringLiteral("KBDB"));
    QCOMPARE(text("labClubCode"), QStringLiteral("C07"));
    QCOMPARE(text("labelLoftNumber"), QStringLiteral("L100"));
    QCOMPARE(text("labelLoftCordination"), QStringLiteral("51.05 3.72"));
}

void TestFormMember::search_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("empty lists every ringed pigeon")
        << "" << QStringList{"B-01", "B-02", "C'03", "D%04", "X<b>5"};
    QTest::newRow("substring") << "-0" << QStringList{"B-01", "B-02"};
    QTest::newRow("blanks trimmed") << "  02 " << QStringList{"B-02"};
    QTest::newRow("quote") << "'" << QStringList{"C'03"};
    QTest::newRow("markup") << "<b>" << QStringList{"X<b>5"};
}

void TestFormMember::search()
{
    QFETCH(QString, search);
    QFETCH(QStringList, listed);
    for (const char *assoc : {"B-02", "B-01", "C'03", "D%04", "X<b>5"})
        savePigeon(QLatin1String(assoc), QStringLiteral("E-") + QLatin1String(assoc));
    savePigeon(QStringLiteral("B-00"), QString());
    push();
    auto *field = screen->findChild<QLineEdit *>(QStringLiteral("txtEring"));
    field->setText(search);
    PromptQueue sound;
    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("btnSearch")), Qt::LeftButton);
    QCOMPARE(sound.prompts(), QStringList{"keyPress"});
    QVERIFY(!screen->findChild<FormKeyBoard *>()->isVisible());
    QCOMPARE(column(1), listed);
    QVERIFY(!FormMessage::instance()->isActived());
    QVERIFY(!screen->findChild<QLabel *>(QStringLiteral("labelWarning"))->isVisible());
    QCOMPARE(table()->currentRow(), 0);
}

void TestFormMember::searchNoMatch_keepsDetails()
{
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"), 1);
    push();
    QCOMPARE(text("labSex"), QStringLiteral("Cock"));
    screen->findChild<QLineEdit *>(QStringLiteral("txtEring"))->setText(QStringLiteral("ZZ"));
    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("btnSearch")), Qt::LeftButton);
    QCOMPARE(table()->rowCount(), 0);
    auto *warning = screen->findChild<QLabel *>(QStringLiteral("labelWarning"));
    QVERIFY(warning->isVisible());
    QCOMPARE(warning->text(), QStringLiteral("No Pigeons"));
    QCOMPARE(text("labSex"), QStringLiteral("Cock"));
    QCOMPARE(text("labColor"), QStringLiteral("Blue"));
    shot(QStringLiteral("empty"));
    // Found again: the warning goes.
    screen->findChild<QLineEdit *>(QStringLiteral("txtEring"))->setText(QStringLiteral("B"));
    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("btnSearch")), Qt::LeftButton);
    QCOMPARE(table()->rowCount(), 1);
    QVERIFY(!warning->isVisible());
}

void TestFormMember::upload_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QStringList>("statuses");
    QTest::newRow("Ok") << true << QStringList{"Back", "*Back", "Back"};
    QTest::newRow("Cancel") << false << QStringList{"UpLd", "*UpLd", "Back"};
}

void TestFormMember::upload()
{
    QFETCH(bool, confirm);
    QFETCH(QStringList, statuses);
    saveRace(QStringLiteral("R1"), 12);
    for (const char *assoc : {"B-01", "B-02", "B-03"})
        savePigeon(QLatin1String(assoc), QStringLiteral("E") + QLatin1String(assoc));
    saveRecord(QStringLiteral("B-01"), QStringLiteral("EB-01"), QStringLiteral("R1"), true, Back::Uploaded, false);
    saveRecord(QStringLiteral("B-02"), QStringLiteral("EB-02"), QStringLiteral("train"), false, Back::Uploaded, true);
    saveRecord(QStringLiteral("B-03"), QStringLiteral("EB-03"), QStringLiteral("R1"), true, Back::Arrived, false);
    QVERIFY(store->exec(QStringLiteral("update record set UidUploadState=1")));
    push();
    QCOMPARE(column(3), (QStringList{"UpLd", "*UpLd", "Back"}));
    if (confirm)
        shot(QStringLiteral("statuses"));
    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("btnUpload")), Qt::LeftButton);
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Warning"));
    QCOMPARE(box->text(), QStringLiteral(" Please confirm you want to Re-upload!"));
    if (confirm)
        shot(QStringLiteral("question"));
    QTest::mouseClick(box->findChild<QPushButton *>(confirm ? QStringLiteral("btnOK") : QStringLiteral("btnCancel")),
                      Qt::LeftButton);
    QVERIFY(!box->isActived());
    QCOMPARE(column(3), statuses);
    const int left = store->value(QStringLiteral("select count(*) from record where EringUploadState<>0 or UidUploadState<>0")).toInt();
    QCOMPARE(left, confirm ? 0 : 3);
}

void TestFormMember::uploadFailure_showsErrorChangesNothing()
{
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"));
    saveRecord(QStringLiteral("B-01"), QStringLiteral("E1"), QStringLiteral("train"), false, Back::Uploaded, false);
    push();
    QVERIFY(store->failOn(QStringLiteral("UPDATE"), QStringLiteral("Record")));
    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("btnUpload")), Qt::LeftButton);
    FormMessage *box = FormMessage::instance();
    QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Error"));
    QCOMPARE(store->value(QStringLiteral("select EringUploadState from record")).toInt(), 1);
    QCOMPARE(cell(0, 3), QStringLiteral("UpLd"));
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(screen));
}

namespace {
// A ring at the landing antenna, handed in from a reader thread as the
// ring-reader service does.
void present(PigeonBo *engine, const QString &ring)
{
    std::unique_ptr<QThread> reader(QThread::create([engine, ring] {
        LFTAG_INFO tag;
        tag.eRing = ring;
        tag.uid = QStringLiteral("C0DE0001");
        tag.time = UTC::clubTime().value();
        engine->notifyTagScaned(&tag);
    }));
    reader->start();
    reader->wait();
}
} // namespace

void TestFormMember::liveRows_followArrivalsWhileShown()
{
    savePigeon(QStringLiteral("B-01"), QStringLiteral("AAAA0001"));
    savePigeon(QStringLiteral("B-02"), QStringLiteral("AAAA0002"));
    savePigeon(QStringLiteral("C-10"), QStringLiteral("AAAA0010"));
    RunningEngine engine;
    QVERIFY(engine.startEngine());
    push();
    screen->findChild<QLineEdit *>(QStringLiteral("txtEring"))->setText(QStringLiteral("B"));
    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("btnSearch")), Qt::LeftButton);
    QCOMPARE(column(1), (QStringList{"B-01", "B-02"}));
    QCOMPARE(column(3), (QStringList{"Train", "Train"}));
    // A pigeon not listed, then a listed one: only its row changes.
    present(engine.engine(), QStringLiteral("AAAA0010"));
    present(engine.engine(), QStringLiteral("AAAA0002"));
    QVERIFY(engine.waitForArrivals(2, kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(column(3), (QStringList{"Train", "Back"}), kWaitMs);
    QCOMPARE(column(1), (QStringList{"B-01", "B-02"}));
    // After leaving the screen no longer listens.
    window->resetSubForms();
    present(engine.engine(), QStringLiteral("AAAA0001"));
    QVERIFY(engine.waitForArrivals(3, kWaitMs));
    QCoreApplication::processEvents();
    QCOMPARE(column(3), (QStringList{"Train", "Back"}));
    engine.quit();
    QVERIFY(engine.wait(kWaitMs));
}

void TestFormMember::periodicRefresh_followsDatabase()
{
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"));
    push();
    QCOMPARE(cell(0, 3), QStringLiteral("Train"));
    QVERIFY(store->exec(QStringLiteral("update record set BackTimeEring=1, BackOrder=1")));
    // 60 s of 300 ms ticks: the statuses are rebuilt once the 60 s are past.
    for (int i = 0; i < 60000 / kTickMs; ++i)
        screen->onTimeTick(kTickMs);
    QCOMPARE(cell(0, 3), QStringLiteral("Train"));
    screen->onTimeTick(kTickMs);
    QCOMPARE(cell(0, 3), QStringLiteral("Back"));
    // Then every 30 s.
    QVERIFY(store->exec(QStringLiteral("update record set EringUploadState=1")));
    for (int i = 0; i < 30000 / kTickMs; ++i)
        screen->onTimeTick(kTickMs);
    QCOMPARE(cell(0, 3), QStringLiteral("Back"));
    screen->onTimeTick(kTickMs);
    QCOMPARE(cell(0, 3), QStringLiteral("UpLd"));
}

void TestFormMember::periodicRefresh_underLock_logsOnce()
{
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"));
    savePigeon(QStringLiteral("B-02"), QStringLiteral("E2"));
    push();
    QVERIFY(store->exec(QStringLiteral("update record set BackTimeEring=1, BackOrder=1")));
    // Another connection holds the database (as the engine may while it
    // stores an arrival) beyond the screen's short busy time.
    QVERIFY(store->hold(true));
    MessageCapture log;
    for (int i = 0; i <= 60000 / kTickMs; ++i)
        screen->onTimeTick(kTickMs);
    QVERIFY(store->releaseHold());
    QCOMPARE(log.count(QStringLiteral("FormMember::onTimeTick VexException!")), 1);
    QVERIFY(!FormMessage::instance()->isActived());
    QCOMPARE(column(3), (QStringList{"Train", "Train"}));
    for (int i = 0; i <= 30000 / kTickMs; ++i)
        screen->onTimeTick(kTickMs);
    QCOMPARE(column(3), (QStringList{"Back", "Back"}));
}

void TestFormMember::keyboard()
{
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"));
    push();
    auto *keys = screen->findChild<FormKeyBoard *>();
    auto *field = screen->findChild<QLineEdit *>(QStringLiteral("txtEring"));
    QVERIFY(!keys->isVisible());
    QTRY_VERIFY(table()->hasFocus());
    field->setFocus();
    QTRY_VERIFY(keys->isVisible());
    QCOMPARE(keys->geometry().bottom(), screen->height() - 1);
    QCOMPARE(keys->x(), 0);
    // Backspace on an empty field changes nothing; keys insert.
    screen->onKeyPress(Qt::Key_Backspace);
    QCOMPARE(field->text(), QString());
    screen->onKeyPress('B');
    screen->onKeyPress('-');
    screen->onKeyPress(Qt::Key_Backspace);
    QCOMPARE(field->text(), QStringLiteral("B"));
    shot(QStringLiteral("keyboard"));
    // Escape closes the keyboard first, then the screen.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    window->doKeyPress(&escape);
    QVERIFY(!keys->isVisible());
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(screen));
    window->doKeyPress(&escape);
    QCOMPARE(window->topSubForm(), nullptr);
}

void TestFormMember::outputButton_followsFlag()
{
    HardwareControl::init(0);
    push();
    QVERIFY(!screen->findChild<QPushButton *>(QStringLiteral("btnOutput"))->isVisible());
    window->resetSubForms();
    HardwareControl::init(0x2);
    push();
    QVERIFY(screen->findChild<QPushButton *>(QStringLiteral("btnOutput"))->isVisible());
}

void TestFormMember::output_databaseFailure_boxPortClosedNextComplete()
{
    PcPortPeer peer;
    QVERIFY(peer.linkAt(pcNode()));
    QVERIFY(peer.start());
    saveRace(QStringLiteral("R1"), 4);
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"));
    saveRecord(QStringLiteral("B-01"), QStringLiteral("E1"), QStringLiteral("R1"), true, Back::Arrived, false);
    push();
    auto *output = screen->findChild<QPushButton *>(QStringLiteral("btnOutput"));
    // The loft read, the count and the page pass; the race's arrivals fail.
    Storage::setFault(Storage::Fault::FailStatement, 4);
    QTest::mouseClick(output, Qt::LeftButton);
    Storage::setFault(Storage::Fault::None);
    QVERIFY(!PcPort::isOpen());
    QVERIFY(peer.waitForCloses(1, kWaitMs));
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Error"));
    QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    peer.clear();
    QTest::mouseClick(output, Qt::LeftButton);
    QVERIFY(peer.waitForCloses(2, kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(peer.lines().size(), 3, kWaitMs);
    QVERIFY(!box->isActived()); // no message on success
    QCOMPARE(peer.lines().at(1),
             QByteArray(R"({"AssocNum":"B-01","BackOrder":1,"BackTimeEring":"01/05/2025 19:00:00","Racecode":"R1","Type":"record"})"));
}

void TestFormMember::output_noLink_noBox()
{
    savePigeon(QStringLiteral("B-01"), QStringLiteral("E1"));
    push();
    MessageCapture log;
    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("btnOutput")), Qt::LeftButton);
    QVERIFY(!PcPort::isOpen());
    QVERIFY(!FormMessage::instance()->isActived());
    QVERIFY(log.contains(QStringLiteral("PcPort::open")));
}

BRELLIUM_GUI_TEST_MAIN(TestFormMember)
#include "tst_formmember.moc"
