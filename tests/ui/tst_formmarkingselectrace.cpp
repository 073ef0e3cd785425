#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formmarking.h"
#include "ui/marking/formmarkingselectrace.h"

#include "clubportpeer.h"
#include "guifixture.h"
#include "clubrouter.h"
#include "promptqueue.h"
#include "reportfixture.h"
#include "screendriver.h"
#include "storagefixture.h"

#include <QAbstractButton>
#include <QLabel>
#include <QHeaderView>
#include <QTableWidget>
#include <QTest>

#include <memory>

// The race selection for basketing: paging over the races in states 1 and 3,
// and the checks of a row click (race closed, club system not authorised,
// no club time) before the basketing screen opens.

namespace {

// Races "R01".. in liberation order, all in the given state.
void seedRaces(int count, int valid)
{
    for (int i = 1; i <= count; ++i) {
        RaceInfo race;
        race.raceCode = QStringLiteral("R%1").arg(i, 2, 10, QLatin1Char('0'));
        race.liberName = QStringLiteral("Site %1").arg(i);
        race.liberTime = ReportFixture::kDeviceMs + i * 3600000LL;
        race.valid = valid;
        Storage::instance()->saveRace(&race);
    }
}

// The selection screen over the kit's window, with its table at hand.
struct Selection
{
    explicit Selection(StorageFixture *store)
        : gui(store)
        , screen(gui.window()->formMarkingSelectRace)
        , drive(screen, QStringLiteral("tst_formmarkingselectrace"))
        , table(drive.find<QTableWidget>("tableRaces"))
    {
    }
    QStringList column(int c) const
    {
        QStringList cells;
        for (int row = 0; row < table->rowCount(); ++row)
            cells << (table->item(row, c) ? table->item(row, c)->text() : QString());
        return cells;
    }
    void clickRow(int row) const
    {
        const QRect cell = table->visualRect(table->model()->index(row, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }
    MainWindow *window() const { return gui.window(); }
    GuiFixture gui;
    FormMarkingSelectRace *screen = nullptr;
    ScreenDriver drive;
    QTableWidget *table = nullptr;
};

} // namespace

class TestFormMarkingSelectRace : public QObject
{
    Q_OBJECT
private slots:
    void paging_data();
    void paging();
    void shrunkList_reopensOnLastPage();
    void rowClick_refused_data();
    void rowClick_refused();
    void rowClick_opensBasketing_data();
    void rowClick_opensBasketing();
    void backFromBasketing_rewritesClickedCount();
};

void TestFormMarkingSelectRace::paging_data()
{
    QTest::addColumn<int>("races");
    QTest::addColumn<QString>("presses"); // n next, p previous
    QTest::addColumn<QStringList>("pages"); // the page text after opening and after each press
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("none") << 0 << "np" << QStringList{"1/0", "1/0", "1/0"} << QList<int>{0, 0, 0};
    QTest::newRow("23 races") << 23 << "nnnpp" << QStringList{"1/23", "11/23", "21/23", "21/23", "11/23", "1/23"}
                              << QList<int>{10, 10, 3, 3, 10, 10};
    QTest::newRow("20 races: two pages") << 20 << "nnp" << QStringList{"1/20", "11/20", "11/20", "1/20"}
                                         << QList<int>{10, 10, 10, 10};
}

void TestFormMarkingSelectRace::paging()
{
    QFETCH(int, races);
    QFETCH(QString, presses);
    QFETCH(QStringList, pages);
    QFETCH(QList<int>, rows);
    StorageFixture store;
    seedRaces(races, 1);
    // Races in states 4 and 12 are not listed.
    RaceInfo stopped;
    stopped.raceCode = QStringLiteral("X'4");
    stopped.valid = 4;
    Storage::instance()->saveRace(&stopped);
    stopped.raceCode = QStringLiteral("X12");
    stopped.valid = 12;
    Storage::instance()->saveRace(&stopped);
    Selection gui(&store);
    PromptQueue sound;
    gui.window()->pushSubForm(gui.screen);
    QCOMPARE(gui.drive.text("racesText"), pages.at(0));
    QCOMPARE(gui.table->rowCount(), rows.at(0));
    if (races > 0) {
        QCOMPARE(gui.column(0).first(), QStringLiteral("R01"));
        QCOMPARE(gui.column(3).first(), QStringLiteral("0"));
        gui.drive.shot(QStringLiteral("selection"));
    }
    for (int i = 0; i < presses.size(); ++i) {
        gui.drive.click(presses.at(i) == QLatin1Char('n') ? "btnNextPage" : "btnPrePage");
        QCOMPARE(gui.drive.text("racesText"), pages.at(i + 1));
        QCOMPARE(gui.table->rowCount(), rows.at(i + 1));
    }
    if (races == 0) {
        gui.clickRow(0);
        QVERIFY(!FormMessage::instance()->isActived());
    }
    QCOMPARE(sound.prompts(), QStringList());
    QCOMPARE(gui.window()->topSubForm(), static_cast<SubWindow *>(gui.screen));
}

// The page is kept between visits and brought down when the list shrank.
void TestFormMarkingSelectRace::shrunkList_reopensOnLastPage()
{
    StorageFixture store;
    seedRaces(23, 3);
    Selection gui(&store);
    gui.window()->pushSubForm(gui.screen);
    gui.drive.click("btnNextPage");
    gui.drive.click("btnNextPage");
    QCOMPARE(gui.drive.text("racesText"), QStringLiteral("21/23"));
    gui.window()->popSubForm(SubWindow::DeactiveHide);
    QVERIFY(store.exec(QStringLiteral("update Race set Valid=4 where RaceCode>'R15'")));
    gui.window()->pushSubForm(gui.screen);
    QCOMPARE(gui.drive.text("racesText"), QStringLiteral("11/15"));
    QCOMPARE(gui.table->rowCount(), 5);
}

void TestFormMarkingSelectRace::rowClick_refused_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("text"); // empty: the link's own description
    QTest::addColumn<bool>("timeAsked");
    QTest::newRow("race stopped since listed") << "stopped" << "Race is close!" << false;
    QTest::newRow("race deleted since listed") << "deleted" << "Race is close!" << false;
    QTest::newRow("not authorised") << "unauthorised" << "Club system is not authed!" << false;
    QTest::newRow("get time refused") << "refused" << "Morlan unknown exception!" << true;
    QTest::newRow("router silent") << "silent" << "" << true;
}

// Each refusal: an "Error" box, no sound, the basketing screen not opened.
void TestFormMarkingSelectRace::rowClick_refused()
{
    QFETCH(QString, setting);
    QFETCH(QString, text);
    QFETCH(bool, timeAsked);
    ReportFixture fixture;
    seedRaces(2, 1);
    if (setting != QLatin1String("unauthorised"))
        QVERIFY(fixture.startClub());
    fixture.link().setSyncTimeoutMs(500);
    Selection gui(&fixture.store());
    gui.window()->pushSubForm(gui.screen);
    if (setting == QLatin1String("stopped"))
        QVERIFY(fixture.store().exec(QStringLiteral("update Race set Valid=12 where RaceCode='R02'")));
    if (setting == QLatin1String("deleted"))
        QVERIFY(fixture.store().exec(QStringLiteral("delete from Race where RaceCode='R02'")));
    ClubPortPeer::Fault fault;
    fault.kind = setting == QLatin1String("silent") ? ClubPortPeer::Fault::Silence : ClubPortPeer::Fault::Refuse;
    fault.value = 0x01;
    if (setting == QLatin1String("refused") || setting == QLatin1String("silent"))
        fixture.peer().setCommandFault(ClubRouter::GetTime, fault);
    fixture.peer().clearFrames();
    PromptQueue sound;
    gui.clickRow(1);
    QVERIFY(FormMessage::instance()->isActived());
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    if (!text.isEmpty())
        QCOMPARE(FormMessage::instance()->text(), text);
    else
        QVERIFY(!FormMessage::instance()->text().isEmpty());
    QCOMPARE(fixture.peer().framesOf(ClubRouter::GetTime).isEmpty(), !timeAsked);
    QCOMPARE(sound.prompts(), QStringList());
    QCOMPARE(gui.window()->topSubForm(), static_cast<SubWindow *>(gui.screen));
    QCOMPARE(fixture.store().value(QStringLiteral("select count(*) from Race where MarkReaderId<>''")).toInt(), 0);
}

void TestFormMarkingSelectRace::rowClick_opensBasketing_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("buttonText");
    QTest::newRow("new race: reading") << 1 << "Stop";
    QTest::newRow("closed race: stopped") << 3 << "Start";
}

void TestFormMarkingSelectRace::rowClick_opensBasketing()
{
    QFETCH(int, state);
    QFETCH(QString, buttonText);
    ReportFixture fixture;
    seedRaces(1, state);
    QVERIFY(fixture.startClub());
    Selection gui(&fixture.store());
    gui.window()->pushSubForm(gui.screen);
    PromptQueue sound;
    gui.clickRow(0);
    QCOMPARE(sound.prompts(), QStringList{"dong"});
    FormMarking *marking = gui.window()->formMarking;
    QCOMPARE(gui.window()->topSubForm(), static_cast<SubWindow *>(marking));
    QCOMPARE(ScreenDriver(marking, QString()).text("btnStop"), buttonText);
    QCOMPARE(ScreenDriver(marking, QString()).text("txtRaceCode"), QStringLiteral("R01"));
    QCOMPARE(fixture.peer().framesOf(ClubRouter::GetTime).size(), 1);
}

// Back from basketing only the clicked row's count is read again.
void TestFormMarkingSelectRace::backFromBasketing_rewritesClickedCount()
{
    ReportFixture fixture;
    seedRaces(2, 3);
    QVERIFY(fixture.startClub());
    Selection gui(&fixture.store());
    gui.window()->pushSubForm(gui.screen);
    QCOMPARE(gui.column(3), (QStringList{"0", "0"}));
    gui.clickRow(1);
    QCOMPARE(gui.window()->topSubForm(), static_cast<SubWindow *>(gui.window()->formMarking));
    QVERIFY(fixture.store().exec(QStringLiteral(
        "insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values('A','EA','R01',5),('B','EB','R02',6),"
        "('C','EC','R02',7)")));
    gui.window()->popSubForm(SubWindow::DeactiveHide);
    QCOMPARE(gui.window()->topSubForm(), static_cast<SubWindow *>(gui.screen));
    QCOMPARE(gui.column(3), (QStringList{"0", "2"}));
}

BRELLIUM_GUI_TEST_MAIN(TestFormMarkingSelectRace)
#include "tst_formmarkingselectrace.moc"
