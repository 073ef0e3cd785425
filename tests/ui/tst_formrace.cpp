#include "core/platform.h"
#include "core/utc.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/race/formaddrace.h"
#include "ui/race/formrace.h"
#include "ui/race/formracedetail.h"

#include "clubside.h"
#include "guifixture.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "screendriver.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>

#include <memory>

namespace {

const char kSuite[] = "tst_formrace";
constexpr qint64 kHourMs = 3600000;
constexpr qint64 kClubDiffMs = 125000;
constexpr int kZoneSeconds = 8 * 3600;

// The device clock: 9 December 2026, 12:00:00 UTC.
qint64 deviceMs()
{
    return UTC(2026, 12, 9, 12, 0, 0, 0).value();
}

QString code(int n)
{
    return QStringLiteral("R%1").arg(n, 2, 10, QLatin1Char('0'));
}

// Codes R<first> .. R<last>.
QStringList codes(int first, int last)
{
    QStringList list;
    for (int n = first; n <= last; ++n)
        list << code(n);
    return list;
}

// Races R01 .. R<count>, liberated an hour apart in that order, each at a
// site of its own.
void seedRaces(int count)
{
    for (int n = 1; n <= count; ++n) {
        RaceInfo race = LoftSeed::race(code(n), LoftSeed::kRaceNew, deviceMs() + n * kHourMs);
        race.liberName = QStringLiteral("Site %1").arg(n);
        Storage::instance()->saveRace(&race);
    }
}

// Pigeons P<race>-<i> basketed for the race, the first `arrived` of them home.
void seedBirds(const QString &raceCode, int basketed, int arrived)
{
    for (int i = 0; i < basketed; ++i) {
        const QString assocNum = QStringLiteral("P%1-%2").arg(raceCode).arg(i);
        LoftSeed::pigeon(assocNum);
        LoftSeed::basket(assocNum, raceCode, deviceMs() - kHourMs + i);
        if (i < arrived)
            LoftSeed::arrive(assocNum, raceCode, deviceMs() + i, i + 1);
    }
}

} // namespace

// The race list: its pages, its rows, what it opens, and how the answers of
// the new race and race detail screens change its rows.
class TestFormRace : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pages_data();
    void pages();
    void rows_showRacesInOrderAndLocalTime();
    void answers_data();
    void answers();
    void deleteLastOfPage_keepsPageUntilRefresh();
    void add_appendsAfterFullPage();
    void openRow_opensDetailSilently();
    void keys_moveSelectionOpenNothing();
    void showRaceList_hidesAdd();
    void storageFailure_keepsList_data();
    void storageFailure_keepsList();
    void openingFailure_leavesStack();
    void clubRoad_addDeleteArrive();

private:
    void open();
    void click(const char *name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    void clickRow(int row);
    void pageClicks(const QString &clicks);
    QStringList column(int col) const;
    QString label() const { return find<QLabel>("racesText")->text(); }
    template<class T> T *find(const char *name) const { return screen->findChild<T *>(QLatin1String(name)); }
    QTableWidget *table() const { return find<QTableWidget>("tableRaces"); }

    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<ScreenDriver> driver;
    FormRace *screen = nullptr;
};

void TestFormRace::init()
{
    Platform::setSystemClock([] { return deviceMs(); });
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = kClubDiffMs;
    UTC::setTimeZone(kZoneSeconds);
    gui = std::make_unique<GuiFixture>();
    sound = std::make_unique<PromptQueue>();
    QVERIFY(QTest::qWaitForWindowActive(gui->window()));
    LoftSeed::loft();
    screen = gui->window()->formRace;
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
}

void TestFormRace::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    driver.reset();
    sound.reset();
    gui.reset();
    UTC::_clubTimeDiff = 0;
    UTC::setTimeZone(0);
    Platform::setSystemClock({});
}

void TestFormRace::open()
{
    screen->doRaceActions();
    QCOMPARE(gui->top(), screen);
}

void TestFormRace::clickRow(int row)
{
    QTableWidget *t = table();
    const QRect cell = t->visualRect(t->model()->index(row, 0));
    QTest::mouseClick(t->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

void TestFormRace::pageClicks(const QString &clicks)
{
    for (const QChar c : clicks)
        click(c == QLatin1Char('>') ? "btnNextPage" : "btnPrePage");
}

QStringList TestFormRace::column(int col) const
{
    QStringList texts;
    for (int row = 0; row < table()->rowCount(); ++row)
        texts << (table()->item(row, col) ? table()->item(row, col)->text() : QStringLiteral("<none>"));
    return texts;
}

void TestFormRace::pages_data()
{
    QTest::addColumn<int>("races");
    QTest::addColumn<QString>("clicks");       // page buttons pressed, in order
    QTest::addColumn<int>("deletedWhileClosed"); // the last races deleted elsewhere, then reopened
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("label");

    QTest::newRow("no races") << 0 << "><" << 0 << QStringList() << "1/0";
    QTest::newRow("ten races, one page") << 10 << ">" << 0 << codes(1, 10) << "1/10";
    QTest::newRow("eleven races, page 2") << 11 << ">" << 0 << codes(11, 11) << "11/11";
    QTest::newRow("eleven races, past the last page") << 11 << ">>" << 0 << codes(11, 11) << "11/11";
    QTest::newRow("fifteen races, page 2") << 15 << ">" << 0 << codes(11, 15) << "11/15";
    QTest::newRow("fifteen races, back to page 1") << 15 << "><" << 0 << codes(1, 10) << "1/15";
    QTest::newRow("before the first page") << 15 << "<" << 0 << codes(1, 10) << "1/15";
    QTest::newRow("page kept between openings") << 15 << ">" << -1 << codes(11, 15) << "11/15";
    QTest::newRow("reopened on page 2 after deletes elsewhere") << 15 << ">" << 5 << codes(1, 10) << "1/10";
}

void TestFormRace::pages()
{
    QFETCH(int, races);
    QFETCH(QString, clicks);
    QFETCH(int, deletedWhileClosed);
    QFETCH(QStringList, shown);
    QFETCH(QString, label);

    seedRaces(races);
    open();
    QVERIFY(find<QPushButton>("btnAdd")->isVisible());
    pageClicks(clicks);
    if (deletedWhileClosed != 0) {
        QVERIFY(gui->key(Qt::Key_Escape));
        QCOMPARE(gui->top(), nullptr);
        for (int n = races; n > races - deletedWhileClosed; --n)
            Storage::instance()->deleteRace(code(n));
        open();
    }
    QCOMPARE(column(0), shown);
    QCOMPARE(this->label(), label);
    QVERIFY(!GuiFixture::boxShown());
    QVERIFY(sound->prompts().isEmpty()); // page buttons are silent
    if (races == 10 && clicks == QLatin1String(">"))
        driver->shot(QStringLiteral("full-page"));
    if (races == 0)
        driver->shot(QStringLiteral("empty"));
}

void TestFormRace::rows_showRacesInOrderAndLocalTime()
{
    // 22:30 UTC on 9 December is 06:30 on the 10th at +8 hours, whatever
    // the host's own zone.
    const qint64 libMs = UTC(2026, 12, 9, 22, 30, 0, 0).value();
    RaceInfo later = LoftSeed::race(QStringLiteral("B"), LoftSeed::kRaceNew, libMs);
    RaceInfo same = LoftSeed::race(QStringLiteral("A"), LoftSeed::kRaceNew, libMs);
    // From the PC: quotes in the code and the site.
    RaceInfo quoted = LoftSeed::race(QStringLiteral("R'Q"), LoftSeed::kRaceNew, libMs - kHourMs);
    quoted.liberName = QStringLiteral("Saint 'Jean'");
    Storage::instance()->saveRace(&quoted);
    seedBirds(QStringLiteral("A"), 3, 1);
    seedBirds(QStringLiteral("R'Q"), 2, 2);
    // A race whose code the quoted one starts with has birds of its own.
    LoftSeed::race(QStringLiteral("R"), LoftSeed::kRaceNew, libMs + kHourMs);
    seedBirds(QStringLiteral("R"), 4, 0);

    open();
    QCOMPARE(column(0), QStringList({"R'Q", "A", "B", "R"}));
    QCOMPARE(column(1), QStringList({"Saint 'Jean'", "Paris", "Paris", "Paris"}));
    QCOMPARE(column(2), QStringList({"10/12/2026 05:30:00", "10/12/2026 06:30:00", "10/12/2026 06:30:00",
                                     "10/12/2026 07:30:00"}));
    QCOMPARE(column(3), QStringList({"2/2", "3/1", "0/0", "4/0"}));
    QCOMPARE(label(), QStringLiteral("1/4"));
    QCOMPARE(table()->currentRow(), 0);
}

void TestFormRace::answers_data()
{
    QTest::addColumn<int>("opened");     // row opened; -1: Add pressed; -2: nothing
    QTest::addColumn<QString>("answers"); // d: deleted; c: changed; a: added; n: added, no race; x: Cancel
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("totalOfR03"); // its counts column after the answers

    QStringList added = codes(1, 10);
    added << QStringLiteral("NEW");
    QStringList withoutR05 = codes(1, 10);
    withoutR05.removeAt(4);
    // A rebuilt table asks every row's counts again.
    QTest::newRow("race added on a full page") << -1 << "a" << added << "1/11" << 10 << "2/1";
    QTest::newRow("add answered without a race") << -1 << "n" << codes(1, 10) << "1/10" << 0 << "0/0";
    QTest::newRow("race deleted in the detail") << 4 << "d" << withoutR05 << "1/9" << 4 << "2/1";
    QTest::newRow("last row deleted") << 9 << "d" << codes(1, 9) << "1/9" << -1 << "2/1";
    QTest::newRow("arrival in the detail") << 2 << "c" << codes(1, 10) << "1/10" << 2 << "2/1";
    QTest::newRow("Cancel") << 2 << "x" << codes(1, 10) << "1/10" << 2 << "0/0";
    QTest::newRow("nothing opened") << -2 << "dc" << codes(1, 10) << "1/10" << 0 << "0/0";
    // The current row is gone: the changed answer has no row to draw.
    QTest::newRow("changed, current row off the page") << 9 << "dc" << codes(1, 9) << "1/9" << -1 << "2/1";
}

void TestFormRace::answers()
{
    QFETCH(int, opened);
    QFETCH(QString, answers);
    QFETCH(QStringList, shown);
    QFETCH(QString, label);
    QFETCH(int, selected);
    QFETCH(QString, totalOfR03);

    seedRaces(10);
    open();
    if (opened == -1) {
        QVERIFY(driver->click("btnAdd"));
        QCOMPARE(gui->top(), gui->window()->formAddRace);
    } else if (opened >= 0) {
        clickRow(opened);
        QCOMPARE(gui->top(), gui->window()->formRaceDetail);
    }
    // The opened screen leaves without answering; the answers come by hand.
    if (opened != -2) {
        QVERIFY(gui->key(Qt::Key_Escape));
        QCOMPARE(gui->top(), screen);
    }
    // What the detail changed: two pigeons of R03 basketed, one home.
    seedBirds(code(3), 2, 1);
    auto added = QSharedPointer<RaceInfo>::create(LoftSeed::race(QStringLiteral("NEW"), LoftSeed::kRaceNew));
    for (const QChar answer : answers) {
        switch (answer.toLatin1()) {
        case 'd':
            screen->onFormMessage(QMessageBox::Ok, nullptr);
            break;
        case 'c': {
            // The detail hands over its race; the list redraws the record
            // it shares with the detail.
            RaceInfo changed;
            screen->onFormMessage(QMessageBox::Ok, &changed);
            break;
        }
        case 'a': {
            // Lives only during the call, as the new race screen's does.
            QSharedPointer<RaceInfo> transient = added;
            screen->onFormMessage(QMessageBox::Ok, &transient);
            break;
        }
        case 'n': {
            QSharedPointer<RaceInfo> none;
            screen->onFormMessage(QMessageBox::Ok, &none);
            break;
        }
        case 'x':
            screen->onFormMessage(QMessageBox::Cancel, &added);
            break;
        }
    }
    added.reset();
    QCOMPARE(column(0), shown);
    QCOMPARE(this->label(), label);
    QCOMPARE(table()->currentRow(), selected);
    const int r03 = column(0).indexOf(code(3));
    QCOMPARE(table()->item(r03, 3)->text(), totalOfR03);
    QVERIFY(!GuiFixture::boxShown());
}

void TestFormRace::deleteLastOfPage_keepsPageUntilRefresh()
{
    seedRaces(11);
    open();
    click("btnNextPage");
    clickRow(0);
    QCOMPARE(gui->top(), gui->window()->formRaceDetail);
    QVERIFY(gui->key(Qt::Key_Escape));
    Storage::instance()->deleteRace(code(11));
    screen->onFormMessage(QMessageBox::Ok, nullptr);
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(label(), QStringLiteral("11/10"));
    click("btnNextPage"); // the page count is recomputed only by a refresh
    QCOMPARE(label(), QStringLiteral("11/10"));
    click("btnPrePage");
    QCOMPARE(column(0), codes(1, 10));
    QCOMPARE(label(), QStringLiteral("1/10"));
    click("btnNextPage");
    QCOMPARE(label(), QStringLiteral("1/10"));
}

void TestFormRace::add_appendsAfterFullPage()
{
    seedRaces(12);
    open();
    QVERIFY(driver->click("btnAdd"));
    QCOMPARE(sound->prompts(), QStringList({"dong"}));
    QCOMPARE(gui->top(), gui->window()->formAddRace);
    // The new race screen's defaults: liberation tomorrow at 04:00.
    QVERIFY(ScreenDriver(gui->window()->formAddRace, QLatin1String(kSuite)).click("btnAddRace"));
    QCOMPARE(gui->top(), screen);
    QVERIFY(!GuiFixture::boxShown());

    QStringList shown = codes(1, 10);
    shown << QStringLiteral("99991210");
    QCOMPARE(column(0), shown);
    QCOMPARE(column(2).last(), QStringLiteral("10/12/2026 04:00:00"));
    QCOMPARE(column(3).last(), QStringLiteral("0/0"));
    QCOMPARE(label(), QStringLiteral("1/13"));
    QCOMPARE(table()->currentRow(), 10);
    QScrollBar *bar = table()->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    driver->shot(QStringLiteral("added-eleventh"));

    // The next refresh puts it in its place by liberation time: with R08,
    // at 20:00 UTC, and before it by code.
    click("btnNextPage");
    click("btnPrePage");
    shown = codes(1, 7);
    shown << QStringLiteral("99991210") << code(8) << code(9);
    QCOMPARE(column(0), shown);
    QCOMPARE(label(), QStringLiteral("1/13"));
}

void TestFormRace::openRow_opensDetailSilently()
{
    seedRaces(3);
    open();
    clickRow(1);
    FormRaceDetail *detail = gui->window()->formRaceDetail;
    QCOMPARE(gui->top(), detail);
    QCOMPARE(ScreenDriver(detail, QLatin1String(kSuite)).text("labelRaceCode"), code(2));
    QVERIFY(sound->prompts().isEmpty());

    // A touch below the last row opens nothing.
    QVERIFY(gui->key(Qt::Key_Escape));
    QTableWidget *t = table();
    QTest::mouseClick(t->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, t->viewport()->height() - 5));
    QCOMPARE(gui->top(), screen);
}

void TestFormRace::keys_moveSelectionOpenNothing()
{
    seedRaces(4);
    open();
    QCOMPARE(QApplication::focusWidget(), table());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(table()->currentRow(), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(table()->currentRow(), 1);
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(gui->top(), screen);
    QVERIFY(sound->prompts().isEmpty());
}

void TestFormRace::showRaceList_hidesAdd()
{
    seedRaces(2);
    screen->showRaceList();
    QCOMPARE(gui->top(), screen);
    QVERIFY(!find<QPushButton>("btnAdd")->isVisible());
    QCOMPARE(column(0), codes(1, 2));
    QVERIFY(gui->key(Qt::Key_Escape));
    open();
    QVERIFY(find<QPushButton>("btnAdd")->isVisible());
}

void TestFormRace::storageFailure_keepsList_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("statement"); // the failing statement, counted from the action

    // A page is read as: the count, the page, then two counts per row.
    QTest::newRow("next page: the count") << ">" << 1;
    QTest::newRow("next page: the page") << ">" << 2;
    QTest::newRow("next page: the first row's counts") << ">" << 3;
    QTest::newRow("next page: the last row's counts") << ">" << 12;
    QTest::newRow("added race: its own counts") << "a" << 21;
    QTest::newRow("changed race: its counts") << "c" << 1;
    QTest::newRow("deleted race: another row's counts") << "d" << 1;
    // The opened screens read the storage while they open: they stay off the
    // stack and the list stays as it was.
    QTest::newRow("Add: the new race screen's loft row") << "+" << 1;
    QTest::newRow("row: the race detail's read") << "r" << 1;
}

void TestFormRace::storageFailure_keepsList()
{
    QFETCH(QString, action);
    QFETCH(int, statement);

    seedRaces(15);
    open();
    const bool opens = action == QLatin1String("+") || action == QLatin1String("r");
    if (!opens) {
        if (action == QLatin1String("a"))
            QVERIFY(driver->click("btnAdd"));
        else
            clickRow(3);
        QVERIFY(gui->key(Qt::Key_Escape));
        QCOMPARE(gui->top(), screen);
    }
    const QStringList rows = column(0);
    const QStringList totals = column(3);
    // Two birds of the opened race home meanwhile: a redraw would show them.
    seedBirds(code(4), 2, 2);
    auto added = QSharedPointer<RaceInfo>::create(LoftSeed::race(QStringLiteral("NEW"), LoftSeed::kRaceNew));
    RaceInfo changed;

    Storage::setFault(Storage::Fault::FailStatement, statement);
    if (action == QLatin1String(">"))
        click("btnNextPage");
    else if (action == QLatin1String("a"))
        screen->onFormMessage(QMessageBox::Ok, &added);
    else if (action == QLatin1String("c"))
        screen->onFormMessage(QMessageBox::Ok, &changed);
    else if (action == QLatin1String("d"))
        screen->onFormMessage(QMessageBox::Ok, nullptr);
    else if (action == QLatin1String("+"))
        click("btnAdd");
    else
        clickRow(3);
    Storage::setFault(Storage::Fault::None);

    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(gui->top(), screen);
    QCOMPARE(column(0), rows);
    QCOMPARE(column(3), totals);
    QCOMPARE(label(), QStringLiteral("1/15"));
    if (action == QLatin1String(">"))
        driver->shot(QStringLiteral("page-failure"));
    GuiFixture::answerBox(QMessageBox::Ok);

    // The list works on from the page it kept.
    click("btnNextPage");
    QCOMPARE(column(0), codes(11, 15) << QStringLiteral("NEW"));
    QCOMPARE(label(), QStringLiteral("11/16"));
}

void TestFormRace::openingFailure_leavesStack()
{
    seedRaces(3);
    Storage::setFault(Storage::Fault::FailStatement, 2);
    // The club hub opens the list inside its guard.
    QVERIFY(!guardedCall("hub", gui->window(), [this] { screen->doRaceActions(); }));
    Storage::setFault(Storage::Fault::None);
    QCOMPARE(gui->top(), nullptr);
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    GuiFixture::answerBox(QMessageBox::Ok);
    open();
    QCOMPARE(column(0), codes(1, 3));
}

void TestFormRace::clubRoad_addDeleteArrive()
{
    // The race detail offers Delete only with the club router authorised.
    ClubSide club(gui->root());
    QVERIFY(club.startClub());
    seedRaces(2);
    open();

    QVERIFY(driver->click("btnAdd"));
    FormAddRace *add = gui->window()->formAddRace;
    QCOMPARE(gui->top(), add);
    add->findChild<QLineEdit *>(QStringLiteral("editLibCode"))->setText(QStringLiteral("77"));
    QVERIFY(ScreenDriver(add, QLatin1String(kSuite)).click("btnAddRace"));
    QCOMPARE(gui->top(), screen);
    QCOMPARE(column(0), QStringList({code(1), code(2), "771210"}));
    QVERIFY(Storage::instance()->findRaceById(QStringLiteral("771210")));

    clickRow(2);
    FormRaceDetail *detail = gui->window()->formRaceDetail;
    QCOMPARE(gui->top(), detail);
    ScreenDriver detailDriver(detail, QLatin1String(kSuite));
    QCOMPARE(detailDriver.text("labelRaceCode"), QStringLiteral("771210"));
    QVERIFY(detailDriver.click("btnDelete"));
    QVERIFY(GuiFixture::boxShown());
    GuiFixture::answerBox(QMessageBox::Ok);

    QCOMPARE(gui->top(), screen);
    QVERIFY(!Storage::instance()->findRaceById(QStringLiteral("771210")));
    QCOMPARE(column(0), codes(1, 2));
    QCOMPARE(label(), QStringLiteral("1/2"));
    QCOMPARE(table()->currentRow(), -1);

    // An arrival in the detail of a basketed race redraws its row: two of its
    // birds were basketed and one came home since the row was drawn.
    QSharedPointer<RaceInfo> basketed = Storage::instance()->findRaceById(code(1));
    basketed->valid = LoftSeed::kRaceRunning;
    basketed->markDeviceTime = deviceMs() - 2 * kHourMs;
    basketed->markReaderTime = basketed->markDeviceTime + kClubDiffMs;
    Storage::instance()->saveRace(basketed.data());
    QVERIFY(gui->key(Qt::Key_Escape));
    open();
    QCOMPARE(column(3), QStringList({"0/0", "0/0"}));
    seedBirds(code(1), 2, 1);
    clickRow(0);
    QCOMPARE(gui->top(), detail);
    QVERIFY(detailDriver.click("btnArriveRace"));
    QVERIFY(GuiFixture::boxShown());
    GuiFixture::answerBox(QMessageBox::Ok);
    QVERIFY(!GuiFixture::boxShown());
    QVERIFY(Storage::instance()->findRaceById(code(1))->raceStopReaderTime != 0);
    QVERIFY(gui->key(Qt::Key_Escape));
    QCOMPARE(gui->top(), screen);
    QCOMPARE(column(0), codes(1, 2));
    QCOMPARE(column(3), QStringList({"2/1", "0/0"}));
    QCOMPARE(table()->currentRow(), 0);
}

BRELLIUM_GUI_TEST_MAIN(TestFormRace)
#include "tst_formrace.moc"
