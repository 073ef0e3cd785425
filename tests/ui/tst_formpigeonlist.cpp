#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/formkeyboard.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formaddpigeon.h"
#include "ui/pigeon/formlistassignment.h"
#include "ui/pigeon/formpigeonlist.h"

#include "guifixture.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "runningengine.h"
#include "screendriver.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>

#include <memory>

namespace {
constexpr qint64 kNowMs = 1700000000000;
constexpr qint64 kMarkMs = kNowMs - 3600000;
constexpr int kStopMs = 5000;
constexpr int kUnset = -1; // "userMode" not stored
const char kSuite[] = "tst_formpigeonlist";
const QString kRace = QStringLiteral("R1");

enum Entry { User, Manage, RaceView, RaceUnmark };
enum Kind { Plain, Ringed, Marked };

// What a button shows: "" hidden, "-" shown but disabled, else its text.
QString look(const QPushButton *button)
{
    if (button->isHidden())
        return QString();
    return button->isEnabled() ? button->text() : QStringLiteral("-") + button->text();
}
} // namespace

// The pigeon list in its four uses: buttons by mode and pigeon, search, the
// race lists, and what each confirmation and each opened screen continues
// with, in the database and on the screen.
class TestFormPigeonList : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void buttonsOnOpening_data();
    void buttonsOnOpening();
    void buttonsBySelection_data();
    void buttonsBySelection();
    void deleteWithoutRowOnlyDongs();
    void raceLists_data();
    void raceLists();
    void search_data();
    void search();
    void addAppendsUnderFilter();
    void deleteRow_data();
    void deleteRow();
    void ringAssigned();
    void unassign();
    void unmark_data();
    void unmark();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void oddNumbers_data();
    void oddNumbers();
    void unassignOfVanishedPigeon();
    void deleteRefused();
    void loadFailureLeavesEmptyList();
    void keyboard();

private:
    void open(Entry entry);
    void setUserMode(int userMode) const;
    QPushButton *button(const char *name) const { return screen->findChild<QPushButton *>(QLatin1String(name)); }
    QString text(const char *name) const { return driver->text(name); }
    QTableWidget *table() const { return screen->findChild<QTableWidget *>(QStringLiteral("tablePigeons")); }
    QStringList listed() const;
    QString current() const;
    bool warningShown() const { return !screen->findChild<QLabel *>(QStringLiteral("labelWarning"))->isHidden(); }
    void confirm(QMessageBox::StandardButton answer, const QString &expected);
    void seed(const QString &assocNum, Kind kind) const;

    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<ScreenDriver> driver;
    FormPigeonList *screen = nullptr;
    mutable int rings = 0;
};

void TestFormPigeonList::init()
{
    Platform::setSystemClock([] { return kNowMs; });
    gui = std::make_unique<GuiFixture>();
    sound = std::make_unique<PromptQueue>();
    QVERIFY(QTest::qWaitForWindowActive(gui->window()));
    screen = gui->window()->formPigeonList;
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
    LoftSeed::race(kRace, LoftSeed::kRaceNew);
}

void TestFormPigeonList::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    driver.reset();
    sound.reset();
    gui.reset();
    Platform::setSystemClock({});
}

void TestFormPigeonList::open(Entry entry)
{
    switch (entry) {
    case User:
        screen->doUserActions();
        break;
    case Manage:
        screen->doManageActions();
        break;
    case RaceView:
        QVERIFY(gui->store().exec(QStringLiteral("update Race set Valid=3 where RaceCode='R1'")));
        screen->showMarking(kRace);
        break;
    case RaceUnmark:
        screen->showMarking(kRace);
        break;
    }
    QCOMPARE(gui->top(), screen);
}

void TestFormPigeonList::setUserMode(int userMode) const
{
    if (userMode != kUnset)
        ServiceFactory::setParamInt32(QStringLiteral("userMode"), userMode);
}

QStringList TestFormPigeonList::listed() const
{
    QStringList numbers;
    for (int row = 0; row < table()->rowCount(); ++row) {
        if (table()->item(row, 0)->text() != QString::number(row + 1))
            return {QStringLiteral("bad row number")};
        numbers << table()->item(row, 1)->text();
    }
    return numbers;
}

QString TestFormPigeonList::current() const
{
    const QList<QTableWidgetItem *> selected = table()->selectedItems();
    if (selected.isEmpty())
        return QString();
    if (table()->currentRow() != selected.first()->row())
        return QStringLiteral("current row is not the selected one");
    return table()->item(selected.first()->row(), 1)->text();
}

void TestFormPigeonList::confirm(QMessageBox::StandardButton answer, const QString &expected)
{
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Warning"));
    QCOMPARE(GuiFixture::boxText(), expected);
    GuiFixture::answerBox(answer);
}

// A pigeon without ring, with a ring, or with a ring and basketed for R1.
void TestFormPigeonList::seed(const QString &assocNum, Kind kind) const
{
    const QString ring =
        kind == Plain ? QString() : QStringLiteral("0000%1").arg(++rings, 4, 16, QLatin1Char('0')).toUpper();
    LoftSeed::pigeon(assocNum, ring, 1, QStringLiteral("Blue"), 2022);
    if (kind == Marked)
        LoftSeed::basket(assocNum, kRace, kMarkMs);
}

void TestFormPigeonList::buttonsOnOpening_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("userMode");
    QTest::addColumn<QString>("add");
    QTest::addColumn<QString>("assign");
    QTest::addColumn<QString>("remove");

    QTest::newRow("user, view only") << int(User) << 0 << "" << "" << "";
    QTest::newRow("user, no rings") << int(User) << 1 << "Add" << "" << "Delete";
    QTest::newRow("user, all") << int(User) << 2 << "Add" << "Assign" << "Delete";
    QTest::newRow("user, not set") << int(User) << kUnset << "Add" << "Assign" << "Delete";
    QTest::newRow("user, other value") << int(User) << 7 << "Add" << "Assign" << "Delete";
    QTest::newRow("manage") << int(Manage) << 0 << "Add" << "" << "Delete";
    QTest::newRow("race view") << int(RaceView) << 2 << "" << "" << "";
    QTest::newRow("race unmark") << int(RaceUnmark) << 2 << "" << "" << "Unmark";
}

void TestFormPigeonList::buttonsOnOpening()
{
    QFETCH(int, entry);
    QFETCH(int, userMode);
    QFETCH(QString, add);
    QFETCH(QString, assign);
    QFETCH(QString, remove);

    setUserMode(userMode);
    open(Entry(entry));
    QCOMPARE(look(button("btnAddPigeon")), add);
    QCOMPARE(look(button("btnAssigment")), assign);
    QCOMPARE(look(button("btnDelete")), remove);
    QVERIFY(warningShown());
    QCOMPARE(text("labelWarning"), QStringLiteral("No Pigeons"));
    if (entry == User && userMode == 2)
        driver->shot(QStringLiteral("empty"));
}

void TestFormPigeonList::buttonsBySelection_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("userMode");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("afterRaceView");
    QTest::addColumn<QString>("add");
    QTest::addColumn<QString>("assign");
    QTest::addColumn<QString>("remove");

    QTest::newRow("user 0, plain") << int(User) << 0 << int(Plain) << false << "" << "" << "";
    QTest::newRow("user 0, marked") << int(User) << 0 << int(Marked) << false << "" << "" << "";
    QTest::newRow("user 1, ringed") << int(User) << 1 << int(Ringed) << false << "Add" << "" << "";
    QTest::newRow("user 1, plain") << int(User) << 1 << int(Plain) << false << "Add" << "" << "Delete";
    QTest::newRow("user 1, plain, after a race view") << int(User) << 1 << int(Plain) << true << "Add" << "" << "Delete";
    QTest::newRow("user 2, marked") << int(User) << 2 << int(Marked) << false << "Add" << "-Assign" << "-Unassign";
    QTest::newRow("user 2, ringed") << int(User) << 2 << int(Ringed) << false << "Add" << "-Assign" << "Unassign";
    QTest::newRow("user 2, plain") << int(User) << 2 << int(Plain) << false << "Add" << "Assign" << "Delete";
    QTest::newRow("user 2, plain, after a race view") << int(User) << 2 << int(Plain) << true << "Add" << "Assign"
                                                      << "Delete";
    QTest::newRow("manage, marked") << int(Manage) << 2 << int(Marked) << false << "Add" << "" << "-Delete";
    QTest::newRow("manage, ringed") << int(Manage) << 2 << int(Ringed) << false << "Add" << "" << "Unassign";
    QTest::newRow("manage, plain") << int(Manage) << 2 << int(Plain) << false << "Add" << "" << "Delete";
    QTest::newRow("race view, marked") << int(RaceView) << 2 << int(Marked) << false << "" << "" << "";
    QTest::newRow("race unmark, marked") << int(RaceUnmark) << 2 << int(Marked) << false << "" << "" << "Unmark";
}

void TestFormPigeonList::buttonsBySelection()
{
    QFETCH(int, entry);
    QFETCH(int, userMode);
    QFETCH(int, kind);
    QFETCH(bool, afterRaceView);
    QFETCH(QString, add);
    QFETCH(QString, assign);
    QFETCH(QString, remove);

    seed(QStringLiteral("NL-1"), Kind(kind));
    if (afterRaceView) {
        seed(QStringLiteral("NL-0"), Marked);
        open(RaceView);
        QVERIFY(!button("btnDelete")->isEnabled());
        QVERIFY(gui->key(Qt::Key_Escape));
        QVERIFY(QTest::qWaitForWindowActive(gui->window()));
        QVERIFY(gui->store().exec(QStringLiteral("delete from Pigeon where AssocNum='NL-0'")));
    }
    setUserMode(userMode);
    open(Entry(entry));
    QCOMPARE(listed(), QStringList{QStringLiteral("NL-1")});
    QCOMPARE(current(), QStringLiteral("NL-1"));
    QVERIFY(!warningShown());
    QCOMPARE(look(button("btnAddPigeon")), add);
    QCOMPARE(look(button("btnAssigment")), assign);
    QCOMPARE(look(button("btnDelete")), remove);
    // The details follow the row in every mode.
    QCOMPARE(text("labColor"), QStringLiteral("Blue"));
    QCOMPARE(text("labSex"), QStringLiteral("Cock"));
    QCOMPARE(text("labYear"), QStringLiteral("2022"));
    QCOMPARE(text("labUpdateTime"), UTC::format(UTC::clubTime().value(), QStringLiteral("dd/MM/yyyy hh:mm:ss")));
    if (QTest::currentDataTag() == QByteArray("race unmark, marked"))
        driver->shot(QStringLiteral("unmark-mode"));
}

void TestFormPigeonList::deleteWithoutRowOnlyDongs()
{
    seed(QStringLiteral("NL-1"), Plain);
    open(User);
    screen->findChild<QLineEdit *>(QStringLiteral("txtEring"))->setText(QStringLiteral("ZZZ"));
    QVERIFY(driver->click("btnSearch"));
    QCOMPARE(current(), QString());
    const QString before = gui->store().dump();
    QVERIFY(driver->click("btnDelete"));
    QCOMPARE(sound->prompts(), (QStringList{QStringLiteral("dong"), QStringLiteral("dong")}));
    QVERIFY(!GuiFixture::boxShown());
    QCOMPARE(gui->store().dump(), before);
}

void TestFormPigeonList::raceLists_data()
{
    QTest::addColumn<QString>("raceCode");
    QTest::addColumn<int>("state"); // 0: no such race
    QTest::addColumn<QString>("remove");
    QTest::addColumn<QStringList>("listed");

    const QStringList in{QStringLiteral("IN-1"), QStringLiteral("IN-2")};
    QTest::newRow("unknown race") << "R9" << 0 << "" << QStringList();
    QTest::newRow("new race") << "R1" << 1 << "Unmark" << in;
    QTest::newRow("basketing closed") << "R1" << 3 << "" << in;
    QTest::newRow("stopped") << "R1" << 4 << "" << in;
    QTest::newRow("uploaded") << "R1" << 12 << "" << in;
    QTest::newRow("other state") << "R1" << 5 << "Unmark" << in;
}

void TestFormPigeonList::raceLists()
{
    QFETCH(QString, raceCode);
    QFETCH(int, state);
    QFETCH(QString, remove);
    QFETCH(QStringList, listed);

    QVERIFY(gui->store().exec(QStringLiteral("update Race set Valid=%1 where RaceCode='R1'").arg(state)));
    LoftSeed::race(QStringLiteral("R2"), LoftSeed::kRaceNew);
    seed(QStringLiteral("IN-2"), Marked);
    seed(QStringLiteral("IN-1"), Marked);
    seed(QStringLiteral("OTHER"), Ringed);
    LoftSeed::basket(QStringLiteral("OTHER"), QStringLiteral("R2"), kMarkMs);
    seed(QStringLiteral("CASE"), Ringed);
    LoftSeed::basket(QStringLiteral("CASE"), QStringLiteral("r1"), kMarkMs);
    seed(QStringLiteral("UNMARKED"), Ringed);
    LoftSeed::basket(QStringLiteral("UNMARKED"), kRace, 0);
    seed(QStringLiteral("TRAINED"), Ringed);
    LoftSeed::arrive(QStringLiteral("TRAINED"), QString(), kMarkMs, 1);
    seed(QStringLiteral("NORECORD"), Ringed);
    QVERIFY(gui->store().exec(QStringLiteral("delete from Record where AssocNum='NORECORD'")));

    screen->showMarking(raceCode);
    QCOMPARE(gui->top(), screen);
    QCOMPARE(this->listed(), listed);
    QCOMPARE(look(button("btnAddPigeon")), QString());
    QCOMPARE(look(button("btnAssigment")), QString());
    QCOMPARE(look(button("btnDelete")), remove);
    QCOMPARE(warningShown(), listed.isEmpty());
}

void TestFormPigeonList::search_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("empty") << "" << QStringList{"BE-120", "NL-12-1", "NL-2", "O'HARA", "X 12"};
    QTest::newRow("12 anywhere") << "12" << QStringList{"BE-120", "NL-12-1", "X 12"};
    QTest::newRow("lower case") << "nl" << QStringList{"NL-12-1", "NL-2"};
    QTest::newRow("blank used as typed") << " 12" << QStringList{"X 12"};
    QTest::newRow("quote") << "'" << QStringList{"O'HARA"};
    QTest::newRow("quote closing the text") << "A') or ('1'='1" << QStringList();
    QTest::newRow("no match") << "ZZZ" << QStringList();
}

void TestFormPigeonList::search()
{
    QFETCH(QString, text);
    QFETCH(QStringList, listed);

    for (const char *number : {"NL-2", "NL-12-1", "BE-120", "O'HARA", "X 12"})
        seed(QLatin1String(number), Plain);
    QVERIFY(gui->store().exec(QStringLiteral("update Pigeon set Color='Red' where AssocNum='BE-120'")));
    open(User);
    QCOMPARE(current(), QStringLiteral("BE-120"));
    QCOMPARE(this->text("labColor"), QStringLiteral("Red"));

    screen->findChild<QLineEdit *>(QStringLiteral("txtEring"))->setText(text);
    QVERIFY(driver->click("btnSearch"));
    QVERIFY(!GuiFixture::boxShown());
    QCOMPARE(this->listed(), listed);
    QCOMPARE(current(), listed.value(0));
    QCOMPARE(warningShown(), listed.isEmpty());
    if (listed.isEmpty())
        QCOMPARE(this->text("labColor"), QStringLiteral("Red")); // the details stay
}

void TestFormPigeonList::addAppendsUnderFilter()
{
    seed(QStringLiteral("A-1"), Plain);
    seed(QStringLiteral("B-1"), Plain);
    seed(QStringLiteral("A-2"), Plain);
    open(User);
    screen->findChild<QLineEdit *>(QStringLiteral("txtEring"))->setText(QStringLiteral("A"));
    QVERIFY(driver->click("btnSearch"));
    QCOMPARE(listed(), (QStringList{QStringLiteral("A-1"), QStringLiteral("A-2")}));

    QVERIFY(driver->click("btnAddPigeon"));
    FormAddPigeon *add = gui->window()->formAddPigeon;
    QCOMPARE(gui->top(), add);
    add->findChild<QLineEdit *>(QStringLiteral("editAssocCode"))->setText(QStringLiteral("b-0"));
    add->findChild<QLineEdit *>(QStringLiteral("editColor"))->setText(QStringLiteral("Grey"));
    ScreenDriver(add, QLatin1String(kSuite)).click("btnAddPigeon");

    QCOMPARE(gui->top(), screen);
    QCOMPARE(listed(), (QStringList{QStringLiteral("A-1"), QStringLiteral("A-2"), QStringLiteral("B-0")}));
    QCOMPARE(current(), QStringLiteral("B-0"));
    QCOMPARE(text("labColor"), QStringLiteral("Grey"));
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from Pigeon where AssocNum='B-0'")).toInt(), 1);
}

void TestFormPigeonList::deleteRow_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QString>("selected");

    QTest::newRow("middle row") << 3 << 1 << QStringList{"P-1", "P-3"} << "P-3";
    QTest::newRow("last row") << 3 << 2 << QStringList{"P-1", "P-2"} << "";
    QTest::newRow("only row") << 1 << 0 << QStringList() << "";
}

void TestFormPigeonList::deleteRow()
{
    QFETCH(int, count);
    QFETCH(int, row);
    QFETCH(QStringList, left);
    QFETCH(QString, selected);

    for (int n = 1; n <= count; ++n)
        seed(QStringLiteral("P-%1").arg(n), Plain);
    open(User);
    table()->selectRow(row);
    const QString gone = QStringLiteral("P-%1").arg(row + 1);
    QCOMPARE(current(), gone);
    QVERIFY(driver->click("btnDelete"));
    if (row == 1)
        driver->shot(QStringLiteral("confirm-delete"));
    confirm(QMessageBox::Ok, QStringLiteral("Please confirm you want to delete this pigeon!"));

    QCOMPARE(sound->prompts(), (QStringList{QStringLiteral("dong"), QStringLiteral("ok")}));
    QCOMPARE(listed(), left);
    QCOMPARE(current(), selected);
    QCOMPARE(warningShown(), left.isEmpty());
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from Pigeon where AssocNum='%1'").arg(gone)).toInt(), 0);
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from Record where AssocNum='%1'").arg(gone)).toInt(), 0);
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from Pigeon")).toInt(), count - 1);
}

void TestFormPigeonList::ringAssigned()
{
    RunningEngine engine;
    QVERIFY(engine.startEngine());
    seed(QStringLiteral("P-1"), Plain);
    seed(QStringLiteral("P-2"), Plain);
    open(User);
    table()->selectRow(1);
    QVERIFY(driver->click("btnAssigment"));
    FormListAssignment *assignment = gui->window()->formListAssignment;
    QCOMPARE(gui->top(), assignment);

    LFTAG_INFO tag;
    tag.eRing = QStringLiteral("0000ABCD");
    tag.uid = QStringLiteral("99887766");
    PigeonBo *bo = engine.engine();
    std::unique_ptr<QThread> reader(QThread::create([bo, &tag] { bo->notifyTagScaned(&tag); }));
    reader->start();
    QVERIFY(reader->wait(kStopMs));
    QCoreApplication::sendPostedEvents(assignment, QEvent::MetaCall);
    ScreenDriver(assignment, QLatin1String(kSuite)).click("btnAssign");

    QCOMPARE(gui->top(), screen);
    QCOMPARE(table()->item(1, 2)->text(), QStringLiteral("0000ABCD"));
    QCOMPARE(current(), QStringLiteral("P-2"));
    QCOMPARE(look(button("btnAssigment")), QStringLiteral("-Assign"));
    QCOMPARE(look(button("btnDelete")), QStringLiteral("Unassign"));
    engine.quit();
    QVERIFY(engine.wait(kStopMs));
}

void TestFormPigeonList::unassign()
{
    seed(QStringLiteral("P-1"), Plain);
    seed(QStringLiteral("P-2"), Ringed);
    LoftSeed::arrive(QStringLiteral("P-2"), QString(), kMarkMs, 1); // a training arrival to be reset
    const QString shownTime = UTC::format(UTC::clubTime().value(), QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    open(User);
    table()->selectRow(1);
    QCOMPARE(look(button("btnDelete")), QStringLiteral("Unassign"));
    Platform::setSystemClock([] { return kNowMs + 60000; });
    QVERIFY(driver->click("btnDelete"));
    confirm(QMessageBox::Ok, QStringLiteral("Please confirm you want to unassign this pigeon!"));

    QVERIFY(!GuiFixture::boxShown());
    QCOMPARE(sound->prompts(), (QStringList{QStringLiteral("dong"), QStringLiteral("ok")}));
    QCOMPARE(gui->store().rows(QStringLiteral(
                 "select EringNum, Uid is null, UpdateTime from Pigeon where AssocNum='P-2'")),
             (QList<QVariantList>{{QStringLiteral(""), 1, kNowMs + 60000}}));
    QCOMPARE(gui->store().rows(QStringLiteral(
                 "select ifnull(RaceCode,''), BackTimeEring, BackOrder, ifnull(UidBack,'') from Record "
                 "where AssocNum='P-2'")),
             (QList<QVariantList>{{QStringLiteral(""), 0, 0, QStringLiteral("")}}));
    const QList<QVariantList> logs = gui->store().rows(QStringLiteral("select LogInfo from Log where LogType=9"));
    QCOMPARE(logs.size(), 1);
    QVERIFY2(logs.first().first().toString().contains(QStringLiteral("\"eringNum\":\"\"")),
             qPrintable(logs.first().first().toString()));
    QCOMPARE(table()->item(1, 2)->text(), QString());
    QCOMPARE(look(button("btnDelete")), QStringLiteral("Delete"));
    QCOMPARE(look(button("btnAssigment")), QStringLiteral("Assign"));
    QCOMPARE(text("labUpdateTime"), shownTime); // the details are not rewritten
    QCOMPARE(current(), QStringLiteral("P-2"));
}

void TestFormPigeonList::unmark_data()
{
    QTest::addColumn<bool>("recordGone");
    QTest::newRow("basketed and arrived") << false;
    QTest::newRow("record gone meanwhile") << true;
}

void TestFormPigeonList::unmark()
{
    QFETCH(bool, recordGone);
    seed(QStringLiteral("M-1"), Marked);
    seed(QStringLiteral("M-2"), Marked);
    LoftSeed::arrive(QStringLiteral("M-1"), kRace, kNowMs - 1000, 1);
    QVERIFY(gui->store().exec(QStringLiteral("update Record set GpsValid=1, NeedSms=1, BackHomeLat=5, "
                                             "RandNumberBack=4 where AssocNum='M-1'")));
    open(RaceUnmark);
    QCOMPARE(listed(), (QStringList{QStringLiteral("M-1"), QStringLiteral("M-2")}));
    QCOMPARE(current(), QStringLiteral("M-1"));
    QVERIFY(driver->click("btnDelete"));
    if (recordGone)
        QVERIFY(gui->store().exec(QStringLiteral("delete from Record where AssocNum='M-1'")));
    const QString before = gui->store().dump();
    confirm(QMessageBox::Ok, QStringLiteral("Please confirm you want to unmark this pigeon!"));

    QVERIFY(!GuiFixture::boxShown());
    QCOMPARE(listed(), QStringList{QStringLiteral("M-2")});
    QCOMPARE(current(), QStringLiteral("M-2"));
    if (recordGone) {
        QCOMPARE(gui->store().dump(), before);
        return;
    }
    const QString ring = gui->store().value(QStringLiteral("select EringNum from Pigeon where AssocNum='M-1'")).toString();
    QCOMPARE(gui->store().rows(QStringLiteral(
                 "select AssocNum, EringNum, UidMarked, ifnull(RaceCode,''), MarkTime, RandNumMarked, "
                 "ifnull(MarkReaderId,''), BackTimeEring, BackTimeUid, BackOrder, "
                 "BackHomeLat, GpsValid, NeedSms, RandNumberBack, ifnull(UidBack,'') from Record where AssocNum='M-1'")),
             (QList<QVariantList>{{QStringLiteral("M-1"), ring, QStringLiteral("UMM-1"), QStringLiteral(""), 0, 0,
                                   QStringLiteral(""), 0, 0, 0, 0, 0, 0, 0, QStringLiteral("")}}));
    const QList<QVariantList> logs = gui->store().rows(QStringLiteral("select LogInfo from Log where LogType=7"));
    QCOMPARE(logs.size(), 1);
    const QString info = logs.first().first().toString();
    QVERIFY2(info.contains(QStringLiteral("\"raceCode\":\"\"")), qPrintable(info));
    // M-2 is untouched.
    QCOMPARE(gui->store().value(QStringLiteral("select MarkTime from Record where AssocNum='M-2'")).toLongLong(),
             kMarkMs);
}

void TestFormPigeonList::cancelChangesNothing_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("question");
    QTest::newRow("delete") << int(User) << int(Plain) << "Please confirm you want to delete this pigeon!";
    QTest::newRow("unassign") << int(Manage) << int(Ringed) << "Please confirm you want to unassign this pigeon!";
    QTest::newRow("unmark") << int(RaceUnmark) << int(Marked) << "Please confirm you want to unmark this pigeon!";
}

void TestFormPigeonList::cancelChangesNothing()
{
    QFETCH(int, entry);
    QFETCH(int, kind);
    QFETCH(QString, question);
    seed(QStringLiteral("C-1"), Kind(kind));
    open(Entry(entry));
    const QString before = gui->store().dump();
    QVERIFY(driver->click("btnDelete"));
    confirm(QMessageBox::Cancel, question);
    QCOMPARE(gui->store().dump(), before);
    QCOMPARE(listed(), QStringList{QStringLiteral("C-1")});
    QCOMPARE(sound->prompts(), QStringList{QStringLiteral("dong")});
}

void TestFormPigeonList::oddNumbers_data()
{
    QTest::addColumn<QString>("number");
    QTest::newRow("quote") << "O'B";
    QTest::newRow("percent") << "50%";
    QTest::newRow("underscore") << "A_B";
    QTest::newRow("64 characters") << QString(64, QLatin1Char('Q'));
}

// Numbers the PC may store: listed, deleted, unassigned and unmarked with
// no SQL error, touching no other pigeon.
void TestFormPigeonList::oddNumbers()
{
    QFETCH(QString, number);
    seed(QStringLiteral("AXB"), Marked);
    seed(QStringLiteral("50X"), Ringed);
    seed(number, Marked);
    const auto others = [this] {
        return gui->store().rows(QStringLiteral(
            "select p.AssocNum, p.EringNum, r.MarkTime from Pigeon p join Record r on r.AssocNum=p.AssocNum "
            "where p.AssocNum in ('AXB','50X') order by p.AssocNum"));
    };
    const QList<QVariantList> untouched = others();

    open(RaceUnmark);
    table()->selectRow(listed().indexOf(number));
    QCOMPARE(current(), number);
    QVERIFY(driver->click("btnDelete"));
    confirm(QMessageBox::Ok, QStringLiteral("Please confirm you want to unmark this pigeon!"));
    QVERIFY(!GuiFixture::boxShown());
    QVERIFY(gui->key(Qt::Key_Escape));

    open(Manage);
    table()->selectRow(listed().indexOf(number));
    QCOMPARE(current(), number);
    QVERIFY(driver->click("btnDelete"));
    confirm(QMessageBox::Ok, QStringLiteral("Please confirm you want to unassign this pigeon!"));
    QVERIFY(!GuiFixture::boxShown());
    QVERIFY(driver->click("btnDelete"));
    confirm(QMessageBox::Ok, QStringLiteral("Please confirm you want to delete this pigeon!"));
    QVERIFY(!GuiFixture::boxShown());
    QVERIFY(!listed().contains(number));
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from Pigeon where AssocNum=%1")
                                    .arg(Storage::quoted(number))).toInt(), 0);
    QCOMPARE(others(), untouched);
}

void TestFormPigeonList::unassignOfVanishedPigeon()
{
    seed(QStringLiteral("V-1"), Ringed);
    seed(QStringLiteral("V-2"), Ringed);
    open(Manage);
    QVERIFY(driver->click("btnDelete"));
    QVERIFY(gui->store().exec(QStringLiteral("delete from Pigeon where AssocNum='V-1'")));
    confirm(QMessageBox::Ok, QStringLiteral("Please confirm you want to unassign this pigeon!"));
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Pigeon not exists!"));
    QCOMPARE(sound->prompts().last(), QStringLiteral("error"));
    QCOMPARE(listed(), QStringList{QStringLiteral("V-2")});
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from Log where LogType=9")).toInt(), 0);
}

void TestFormPigeonList::deleteRefused()
{
    seed(QStringLiteral("D-1"), Plain);
    seed(QStringLiteral("D-2"), Plain);
    QVERIFY(gui->store().failOn(QStringLiteral("DELETE"), QStringLiteral("Pigeon")));
    open(User);
    const QString before = gui->store().dump();
    QVERIFY(driver->click("btnDelete"));
    confirm(QMessageBox::Ok, QStringLiteral("Please confirm you want to delete this pigeon!"));
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(listed(), (QStringList{QStringLiteral("D-1"), QStringLiteral("D-2")}));
    QCOMPARE(current(), QStringLiteral("D-1"));
    QCOMPARE(gui->store().dump(), before);
}

void TestFormPigeonList::loadFailureLeavesEmptyList()
{
    seed(QStringLiteral("F-1"), Plain);
    ServiceFactory::setParamInt32(QStringLiteral("userMode"), 2);
    // The first statement reads the user mode, the second the pigeons.
    Storage::setFault(Storage::Fault::FailStatement, 2);
    open(User);
    Storage::setFault(Storage::Fault::None);
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(gui->top(), screen);
    QCOMPARE(listed(), QStringList());
    QVERIFY(warningShown());
    GuiFixture::answerBox(QMessageBox::Ok);
    QVERIFY(driver->click("btnSearch"));
    QCOMPARE(listed(), QStringList{QStringLiteral("F-1")});
}

void TestFormPigeonList::keyboard()
{
    seed(QStringLiteral("K-12"), Plain);
    seed(QStringLiteral("K-3"), Plain);
    open(User);
    auto *board = screen->findChild<FormKeyBoard *>();
    auto *field = screen->findChild<QLineEdit *>(QStringLiteral("txtEring"));
    QVERIFY(board);
    QVERIFY(board->isHidden());
    QVERIFY(!screen->hasSubWidget());

    const auto focusField = [&] {
        field->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(!board->isHidden());
    };
    focusField();
    QCOMPARE(board->geometry().bottom(), screen->height() - 1);
    QVERIFY(field->mapTo(screen, QPoint(0, field->height())).y() < board->y());
    QVERIFY(driver->type(QStringLiteral("k-1\b1")));
    QCOMPARE(field->text(), QStringLiteral("k-1"));
    driver->shot(QStringLiteral("user-keyboard"));
    QVERIFY(driver->click("btnSearch"));
    QVERIFY(board->isHidden());
    QCOMPARE(listed(), QStringList{QStringLiteral("K-12")});

    for (const char *name : {"btnAssigment", "btnDelete"}) {
        focusField();
        QVERIFY(driver->click(name));
        QVERIFY2(board->isHidden(), name);
        if (GuiFixture::boxShown()) {
            GuiFixture::answerBox(QMessageBox::Cancel);
            // The box was the active window; typing goes to the main one.
            gui->window()->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(gui->window()));
        }
        if (gui->top() != screen)
            QVERIFY(gui->key(Qt::Key_Escape));
        QCOMPARE(gui->top(), screen);
    }
    focusField();
    QVERIFY(driver->click("btnAddPigeon"));
    QVERIFY(board->isHidden());
    QVERIFY(gui->key(Qt::Key_Escape));
    QCOMPARE(gui->top(), screen);

    // Escape closes the keyboard first, then the screen.
    focusField();
    QVERIFY(gui->key(Qt::Key_Escape));
    QVERIFY(board->isHidden());
    QCOMPARE(gui->top(), screen);
    QVERIFY(gui->key(Qt::Key_Escape));
    QVERIFY(gui->top() != screen);
}

BRELLIUM_GUI_TEST_MAIN(TestFormPigeonList)
#include "tst_formpigeonlist.moc"
