#include "club/clubreads.h"
#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "print/reportprinter.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formassigment.h"
#include "ui/pigeon/formpigeonsassignment.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "guifixture.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "reportfixture.h"
#include "screendriver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
constexpr int kRouterMs = 10000;
const char kSuite[] = "tst_formpigeonsassignment";
const char kRace[] = "R1";
const QString kConfirm = QStringLiteral("Please confirm you want to unassign this pigeon!");
// 14/03/2026 09:26:53 UTC, shown in the fixture's zone (UTC+8).
constexpr qint64 kUpdatedMs = 1773480413000;
const QString kUpdatedText = QStringLiteral("14/03/2026 17:26:53");
using Fault = ClubPortPeer::Fault;

// Which pigeon a selection case shows, and how it is stored.
enum class Record { Plain, Basketed, Missing, LookupFails };
} // namespace

Q_DECLARE_METATYPE(Record)

// The assigned-rings list: which buttons a selected pigeon allows and what
// it shows, unassigning after the confirmation, assigning through the club
// reader screen, and printing the assigned rings on the router's printer.
class TestFormPigeonsAssignment : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void selection_data();
    void selection();
    void emptyList_keepsButtons();
    void unassign_data();
    void unassign();
    void assign_rowFollows();
    void print_data();
    void print();
    void print_refused_thenSucceeds_data();
    void print_refused_thenSucceeds();
    void print_holdsTapsAndKeys();
    void router_assignUnassignPrint();

private:
    void open();
    void publishEngine();
    QTableWidget *table() const { return screen->findChild<QTableWidget *>(QStringLiteral("tablePigeons")); }
    QString cell(int row, int column) const;
    bool enabled(const char *name) const { return driver->find<QPushButton>(name)->isEnabled(); }
    // Presses Print and notes each text the box shows until the print ends;
    // `atRecord` runs once, at the first record line.
    QStringList printWatched(const std::function<void()> &atRecord = {});

    QString progressTitle; // the box's title while printing
    std::unique_ptr<ReportFixture> fixture;
    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<PigeonBo> engine;
    std::unique_ptr<ScreenDriver> driver;
    FormPigeonsAssignment *screen = nullptr;
};

void TestFormPigeonsAssignment::init()
{
    fixture = std::make_unique<ReportFixture>();
    gui = std::make_unique<GuiFixture>(&fixture->store());
    sound = std::make_unique<PromptQueue>();
    screen = gui->window()->formPigeonsAssignment;
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
}

void TestFormPigeonsAssignment::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    driver.reset();
    gui->window()->resetSubForms();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    engine.reset();
    sound.reset();
    gui.reset();
    fixture.reset();
}

void TestFormPigeonsAssignment::open()
{
    screen->doAssignActions();
    QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
}

// The race engine published, not started: the print's clock number and loft.
void TestFormPigeonsAssignment::publishEngine()
{
    engine = std::make_unique<PigeonBo>();
    engine->reflushCache();
    ServiceFactory::getInstance()->pigeonBo = engine.get();
}

QString TestFormPigeonsAssignment::cell(int row, int column) const
{
    const QTableWidgetItem *item = table()->item(row, column);
    return item ? item->text() : QString();
}

void TestFormPigeonsAssignment::selection_data()
{
    QTest::addColumn<QString>("ring");
    QTest::addColumn<int>("sex");
    QTest::addColumn<Record>("record");
    QTest::addColumn<bool>("assign");
    QTest::addColumn<bool>("unassign");
    QTest::addColumn<QString>("sexText");
    QTest::addColumn<bool>("errorBox");

    QTest::newRow("unringed hen") << "" << 0 << Record::Plain << true << false << "Hen" << false;
    QTest::newRow("ringed cock") << "0000C001" << 1 << Record::Plain << false << true << "Cock" << false;
    QTest::newRow("basketed without ring") << "" << 2 << Record::Basketed << false << false << "Unknown" << false;
    QTest::newRow("basketed with ring") << "0000C001" << 0 << Record::Basketed << false << false << "Hen" << false;
    QTest::newRow("no Record row, unringed") << "" << 0 << Record::Missing << true << false << "Hen" << false;
    QTest::newRow("no Record row, ringed") << "0000C001" << 0 << Record::Missing << false << true << "Hen" << false;
    QTest::newRow("record look-up failing") << "0000C001" << 7 << Record::LookupFails << false << false << "Unknown"
                                            << true;
}

void TestFormPigeonsAssignment::selection()
{
    QFETCH(QString, ring);
    QFETCH(int, sex);
    QFETCH(Record, record);
    QFETCH(bool, assign);
    QFETCH(bool, unassign);
    QFETCH(QString, sexText);
    QFETCH(bool, errorBox);
    // Row 0 is an unringed pigeon; the case is the pigeon of row 1.
    LoftSeed::pigeon(QStringLiteral("A'0"));
    LoftSeed::pigeon(QStringLiteral("B'1"), ring, sex, QStringLiteral("Red Chequer"), 2024);
    QVERIFY(fixture->store().exec(QStringLiteral("update Pigeon set UpdateTime=%1 where AssocNum='B''1'").arg(kUpdatedMs)));
    if (record == Record::Basketed) {
        LoftSeed::race(QLatin1String(kRace), LoftSeed::kRaceNew);
        LoftSeed::basket(QStringLiteral("B'1"), QLatin1String(kRace), kUpdatedMs);
    } else if (record == Record::Missing) {
        QVERIFY(fixture->store().exec(QStringLiteral("delete from Record where AssocNum='B''1'")));
    }
    open();
    QCOMPARE(table()->rowCount(), 2);
    QCOMPARE(table()->currentRow(), 0);
    QCOMPARE(cell(1, 0), QStringLiteral("2"));
    QCOMPARE(cell(1, 1), QStringLiteral("B'1"));
    QCOMPARE(cell(1, 2), ring);
    if (record == Record::LookupFails)
        Storage::setFault(Storage::Fault::FailStatement, 1);
    table()->selectRow(1);
    Storage::setFault(Storage::Fault::None);
    QCOMPARE(GuiFixture::boxShown(), errorBox);
    if (errorBox) {
        QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
        QCOMPARE(sound->prompts(), QStringList{QStringLiteral("error")});
        driver->shot(QStringLiteral("selection-error"));
        GuiFixture::answerBox(QMessageBox::Ok);
    }
    QCOMPARE(enabled("btnAssign"), assign);
    QCOMPARE(enabled("btnUnassign"), unassign);
    QCOMPARE(driver->text("labColor"), QStringLiteral("Red Chequer"));
    QCOMPARE(driver->text("labSex"), sexText);
    QCOMPARE(driver->text("labYear"), QStringLiteral("2024"));
    QCOMPARE(driver->text("labUpdateTime"), kUpdatedText);
    if (QTest::currentDataTag() == QLatin1String("ringed cock"))
        driver->shot(QStringLiteral("list"));
}

// With no pigeons nothing is selected; the buttons keep their state and
// only play the dong prompt.
void TestFormPigeonsAssignment::emptyList_keepsButtons()
{
    open();
    QCOMPARE(table()->rowCount(), 0);
    QVERIFY(enabled("btnAssign"));
    QVERIFY(enabled("btnUnassign"));
    driver->click("btnAssign");
    driver->click("btnUnassign");
    QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
    QVERIFY(!GuiFixture::boxShown());
    QCOMPARE(sound->prompts(), (QStringList{QStringLiteral("dong"), QStringLiteral("dong")}));
}

void TestFormPigeonsAssignment::unassign_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("deletedMeanwhile");
    QTest::addColumn<bool>("storeFails");
    QTest::newRow("Cancel") << QMessageBox::Cancel << false << false;
    QTest::newRow("Ok") << QMessageBox::Ok << false << false;
    QTest::newRow("Ok, pigeon deleted meanwhile") << QMessageBox::Ok << true << false;
    QTest::newRow("Ok, storing fails") << QMessageBox::Ok << false << true;
}

void TestFormPigeonsAssignment::unassign()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, deletedMeanwhile);
    QFETCH(bool, storeFails);
    LoftSeed::pigeon(QStringLiteral("A'0"), QStringLiteral("0000C000"));
    LoftSeed::pigeon(QStringLiteral("O'Brien"), QStringLiteral("0000C001"));
    QVERIFY(fixture->store().exec(QStringLiteral("update Record set UidMarked='UM',BackOrder=4 where AssocNum='O''Brien'")));
    open();
    table()->selectRow(1);
    driver->click("btnUnassign");
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Warning"));
    QCOMPARE(GuiFixture::boxText(), kConfirm);
    if (answer == QMessageBox::Cancel)
        driver->shot(QStringLiteral("unassign-confirmation"));
    if (deletedMeanwhile)
        QVERIFY(fixture->store().exec(QStringLiteral("delete from Pigeon where AssocNum='O''Brien'")));
    const QString before = fixture->store().dump();
    // The pigeon is found (first statement), its ring is not taken off.
    if (storeFails)
        Storage::setFault(Storage::Fault::FailStatement, 2);
    GuiFixture::answerBox(answer);
    Storage::setFault(Storage::Fault::None);

    if (storeFails) {
        // Nothing stored, so the row keeps the ring the database holds.
        QVERIFY(GuiFixture::boxShown());
        QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
        QCOMPARE(fixture->store().dump(), before);
        QCOMPARE(table()->rowCount(), 2);
        QCOMPARE(cell(1, 1), QStringLiteral("O'Brien"));
        QCOMPARE(cell(1, 2), QStringLiteral("0000C001"));
        GuiFixture::answerBox(QMessageBox::Ok);
        QVERIFY(enabled("btnUnassign"));
        QVERIFY(!enabled("btnAssign"));
        return;
    }
    if (answer == QMessageBox::Cancel) {
        QCOMPARE(fixture->store().dump(), before);
        QCOMPARE(cell(1, 2), QStringLiteral("0000C001"));
        QVERIFY(enabled("btnUnassign"));
        QVERIFY(!enabled("btnAssign"));
        return;
    }
    if (deletedMeanwhile) {
        QVERIFY(GuiFixture::boxShown());
        QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(cell(0, 1), QStringLiteral("A'0"));
        QCOMPARE(fixture->store().value(QStringLiteral("select count(*) from Log where LogType=9")).toInt(), 0);
        return;
    }
    const QList<QVariantList> rows = fixture->store().rows(QStringLiteral(
        "select p.EringNum, ifnull(p.Uid,'<null>'), r.UidMarked, r.BackOrder from Pigeon p join Record r "
        "on r.AssocNum=p.AssocNum where p.AssocNum='O''Brien'"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(0).toString(), QString());
    QCOMPARE(rows.first().at(1).toString(), QStringLiteral("<null>"));
    QVERIFY(rows.first().at(2).toString().isEmpty());
    QCOMPARE(rows.first().at(3).toInt(), 0);
    // The entry is logged as changed: the ring it lost is not in it.
    const QList<QVariantList> logs = fixture->store().rows(QStringLiteral("select LogInfo from Log where LogType=9"));
    QCOMPARE(logs.size(), 1);
    const QJsonObject logged = QJsonDocument::fromJson(logs.first().first().toString().toUtf8()).object();
    QCOMPARE(logged.value(QStringLiteral("assocNum")).toString(), QStringLiteral("O'Brien"));
    QVERIFY(logged.contains(QStringLiteral("eringNum")));
    QCOMPARE(logged.value(QStringLiteral("eringNum")).toString(), QString());
    QCOMPARE(cell(1, 2), QString());
    QCOMPARE(table()->currentRow(), 1);
    QVERIFY(enabled("btnAssign"));
    QVERIFY(!enabled("btnUnassign"));
    QCOMPARE(sound->prompts().last(), QStringLiteral("ok"));
}

// Assign opens the club-reader screen for the selected pigeon; its result
// comes back into the same row, which stays selected.
void TestFormPigeonsAssignment::assign_rowFollows()
{
    MorlanProtocolProcess link(_serialPort_miniDin); // not started: the test answers
    ServiceFactory::getInstance()->protocolProcess = &link;
    const auto unpublish = qScopeGuard([this] { ServiceFactory::getInstance()->protocolProcess = &fixture->link(); });
    LoftSeed::pigeon(QStringLiteral("A'0"), QStringLiteral("0000C000"));
    LoftSeed::pigeon(QStringLiteral("B'1"));
    LoftSeed::pigeon(QStringLiteral("C'2"));
    open();
    table()->selectRow(1);
    driver->click("btnAssign");
    FormAssigment *reader = gui->window()->formAssigment;
    QCOMPARE(gui->top(), static_cast<SubWindow *>(reader));
    MorlanCmdItem item;
    QVERIFY(link.takeQueuedCommand(&item));
    std::unique_ptr<QThread> thread(
        QThread::create([&item] { item.ticket->answerReadTag(QStringLiteral("0000A001"), 0, QString()); }));
    thread->start();
    thread->wait();
    QTRY_VERIFY(reader->findChild<QPushButton *>(QStringLiteral("btnAssign"))->isEnabled());
    QTest::mouseClick(reader->findChild<QPushButton *>(QStringLiteral("btnAssign")), Qt::LeftButton);
    QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
    QCOMPARE(table()->rowCount(), 3);
    QCOMPARE(table()->currentRow(), 1);
    QCOMPARE(cell(1, 2), QStringLiteral("0000A001"));
    QVERIFY(!enabled("btnAssign"));
    QVERIFY(enabled("btnUnassign"));
    QCOMPARE(fixture->store().value(QStringLiteral("select EringNum from Pigeon where AssocNum='B''1'")).toString(),
             QStringLiteral("0000A001"));
}

QStringList TestFormPigeonsAssignment::printWatched(const std::function<void()> &atRecord)
{
    QStringList progress;
    bool recordSeen = false;
    // Runs whenever the print pumps events; gone with this function.
    QTimer watcher;
    watcher.setInterval(0);
    connect(&watcher, &QTimer::timeout, screen, [&] {
        const QString shown = FormMessage::instance()->text();
        if (progress.isEmpty())
            progressTitle = FormMessage::instance()->title() + (FormMessage::instance()->isLocked() ? " (locked)" : "");
        if (progress.isEmpty() || progress.last() != shown)
            progress << shown;
        if (!recordSeen && shown.contains(QStringLiteral("Report record"))) {
            recordSeen = true;
            if (atRecord)
                atRecord();
        }
    });
    watcher.start();
    driver->click("btnPrint");
    watcher.stop();
    const QString last = FormMessage::instance()->text();
    if (progress.isEmpty() || progress.last() != last)
        progress << last;
    return progress;
}

void TestFormPigeonsAssignment::print_data()
{
    QTest::addColumn<QStringList>("rings"); // of pigeons P0, P1, ... ("" none)
    QTest::addColumn<bool>("withEngine");
    QTest::newRow("two ringed of three") << QStringList{"0000C001", "", "0000C003"} << true;
    QTest::newRow("none ringed") << QStringList{"", ""} << true;
    QTest::newRow("no race engine: stored loft, clock 00000000") << QStringList{"0000C001"} << false;
}

void TestFormPigeonsAssignment::print()
{
    QFETCH(QStringList, rings);
    QFETCH(bool, withEngine);
    LoftSeed::loft(QStringLiteral("L'77"));
    for (int i = 0; i < rings.size(); ++i)
        LoftSeed::pigeon(QStringLiteral("P'%1").arg(i), rings.at(i));
    QVERIFY(fixture->startClub());
    if (withEngine)
        publishEngine();
    open();
    fixture->clearPrinted();
    const bool anyRinged = !rings.join(QString()).isEmpty();
    QString picture;
    const QStringList progress = printWatched([&] { picture = driver->shot(QStringLiteral("printing")); });
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Success"));
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Print OK!"));
    QCOMPARE(progressTitle, QStringLiteral("Pigeons Assignment (locked)"));
    QCOMPARE(progress.first(), QStringLiteral("Printing..."));
    QVERIFY(progress.contains(QStringLiteral("Printing...\nReport head")));
    QVERIFY(progress.contains(QStringLiteral("Printing...\nReport tailer")));
    QCOMPARE(progress.last(), QStringLiteral("Print OK!"));
    // Record numbers rise from 1.
    int lastRecord = 0;
    for (const QString &text : progress) {
        if (!text.startsWith(QStringLiteral("Printing...\nReport record ")))
            continue;
        const int n = text.section(QLatin1Char(' '), -1).toInt();
        QVERIFY2(n >= 1 && n >= lastRecord, qPrintable(text));
        lastRecord = n;
    }
    QCOMPARE(lastRecord > 0, anyRinged);
    QCOMPARE(picture.isEmpty(), !anyRinged);
    if (anyRinged)
        driver->shot(QStringLiteral("printed"));

    QString problem;
    const QList<QStringList> pages = fixture->printedPages(&problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pages.size(), 1);
    const QString text = pages.first().join(QLatin1Char('\n'));
    QVERIFY(text.contains(QStringLiteral("L'77")));
    const QString clockNo = withEngine ? engine->getSystemId() : QStringLiteral("00000000");
    QVERIFY2(text.contains(clockNo), qPrintable(clockNo));
    for (int i = 0; i < rings.size(); ++i) {
        const QString assocNum = QStringLiteral("P'%1").arg(i);
        QCOMPARE(text.contains(assocNum), !rings.at(i).isEmpty());
        if (!rings.at(i).isEmpty())
            QVERIFY(text.contains(rings.at(i)));
    }
}

void TestFormPigeonsAssignment::print_refused_thenSucceeds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("refused from the 5th piece") << int(Fault::Refuse) << "Print failed!error=3";
    QTest::newRow("printer silent from the 5th piece") << int(Fault::Silence) << "Morlan no response!";
}

void TestFormPigeonsAssignment::print_refused_thenSucceeds()
{
    QFETCH(int, kind);
    QFETCH(QString, message);
    LoftSeed::pigeon(QStringLiteral("P'0"), QStringLiteral("0000C001"));
    QVERIFY(fixture->startClub());
    publishEngine();
    open();
    fixture->peer().setCommandFault(ClubRouter::Print, Fault{Fault::Kind(kind), 3, {}}, 5);
    driver->click("btnPrint");
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QVERIFY2(GuiFixture::boxText().contains(message), qPrintable(GuiFixture::boxText()));
    driver->shot(QStringLiteral("print-error"));
    GuiFixture::answerBox(QMessageBox::Ok);
    QVERIFY(!ReportPrinter::isPrinting());
    QVERIFY(!screen->isBusy());

    fixture->peer().clearFaults();
    QTRY_VERIFY_WITH_TIMEOUT(fixture->link().isAuthed(), kRouterMs);
    driver->click("btnPrint");
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Success"));
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Print OK!"));
}

// Taps, Back, Home and Return while the list prints change nothing and
// start no second print.
void TestFormPigeonsAssignment::print_holdsTapsAndKeys()
{
    LoftSeed::pigeon(QStringLiteral("P'0"), QStringLiteral("0000C001"));
    LoftSeed::pigeon(QStringLiteral("P'1"));
    QVERIFY(fixture->startClub());
    publishEngine();
    open();
    table()->selectRow(1);
    fixture->clearPrinted();
    const int dongs = sound->prompts().count(QStringLiteral("dong"));
    printWatched([&] {
        gui->key(Qt::Key_Return);
        gui->key(Qt::Key_Escape);
        gui->key(Qt::Key_Home);
        QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
        // Slots reached despite the box: none may act while printing.
        for (const char *slot : {"on_btnAssign_clicked", "on_btnUnassign_clicked", "on_btnPrint_clicked"})
            QMetaObject::invokeMethod(screen, slot);
        QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
    });
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Print OK!"));
    QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
    // The dong of the one Print pressed, nothing of the refused taps.
    QCOMPARE(sound->prompts().count(QStringLiteral("dong")), dongs + 1);
    QString problem;
    QCOMPARE(fixture->printedPages(&problem).size(), 1);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// Against the router: a ring presented at the club reader is assigned to a
// pigeon, taken off again, and the list prints.
void TestFormPigeonsAssignment::router_assignUnassignPrint()
{
    LoftSeed::pigeon(QStringLiteral("P'0"));
    QVERIFY(fixture->startClub());
    publishEngine();
    fixture->peer().router().takeRingAway();
    open();
    driver->click("btnAssign");
    FormAssigment *reader = gui->window()->formAssigment;
    QCOMPARE(gui->top(), static_cast<SubWindow *>(reader));
    fixture->peer().router().presentRing(QByteArray::fromHex("0000a101"), 1);
    QPushButton *ok = reader->findChild<QPushButton *>(QStringLiteral("btnAssign"));
    QTRY_VERIFY_WITH_TIMEOUT(ok->isEnabled(), kRouterMs);
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(gui->top(), static_cast<SubWindow *>(screen));
    QCOMPARE(cell(0, 2), QStringLiteral("0000A101"));

    fixture->clearPrinted();
    driver->click("btnPrint");
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Print OK!"));
    QVERIFY(fixture->printedText().contains(QStringLiteral("0000A101")));
    GuiFixture::answerBox(QMessageBox::Ok);

    driver->click("btnUnassign");
    GuiFixture::answerBox(QMessageBox::Ok);
    QCOMPARE(cell(0, 2), QString());
    QCOMPARE(fixture->store().value(QStringLiteral("select EringNum from Pigeon where AssocNum='P''0'")).toString(),
             QString());
}

BRELLIUM_GUI_TEST_MAIN(TestFormPigeonsAssignment)
#include "tst_formpigeonsassignment.moc"
