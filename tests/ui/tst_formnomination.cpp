#include "core/myapp.h"
#include "device/hardware_control.h"
#include "storage/nomination.h"
#include "storage/pigeoninfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formnomination.h"

#include "guifixture.h"
#include "messagecapture.h"
#include "promptqueue.h"
#include "screendriver.h"
#include "storagefixture.h"

#include <QComboBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr qint64 kBase = 1746093600000LL;

// nomination: -1 leaves the key out.
void saveRace(const QString &code, int valid, int nomination, qint64 liberTime = kBase)
{
    RaceInfo race;
    race.raceCode = code;
    race.valid = valid;
    race.liberTime = liberTime;
    if (nomination >= 0)
        race.otherData.insert(QStringLiteral("nomination"), nomination);
    Storage::instance()->saveRace(&race);
}

void savePigeon(const QString &assocNum)
{
    PigeonInfo pigeon;
    pigeon.assocNum = assocNum;
    Storage::instance()->savePigeon(&pigeon);
}

} // namespace

// The nomination screen on the real main window and database: which races
// it offers, its buttons, every edit checked in the table and in the stored
// rows, no race offered, and failing statements.
class TestFormNomination : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void compareNomOrder();
    void combo_data();
    void combo();
    void buttons();
    void noSelection_warns_data();
    void noSelection_warns();
    void edits_data();
    void edits();
    void noRaceOffered_data();
    void noRaceOffered();
    void quotes();
    void saveFailure_tableEqualsStorage();
    void loadFailure_emptyDisabled();

private:
    void push();
    void nominate(const QString &assocNum, const QString &race, int nom);
    QTableWidget *table() const;
    QComboBox *raceBox() const;
    QPushButton *button(const char *name) const;
    QStringList rows() const;
    QStringList stored(const QString &race) const;
    QString enabledButtons() const;
    void press(const QString &op);

    std::unique_ptr<GuiFixture> gui;
    StorageFixture *store = nullptr;
    MainWindow *window = nullptr;
    FormNomination *screen = nullptr;
};

void TestFormNomination::init()
{
    gui = std::make_unique<GuiFixture>();
    store = &gui->store();
    HardwareControl::init(0x400);
    window = gui->window();
    screen = window->formNomination;
}

void TestFormNomination::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    store = nullptr;
    gui.reset();
}

void TestFormNomination::push()
{
    window->resetSubForms();
    window->pushSubForm(screen);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(screen));
}

void TestFormNomination::nominate(const QString &assocNum, const QString &race, int nom)
{
    QVERIFY(store->exec(QStringLiteral("insert into Nomination(AssocNum,EringNum,RaceCode,Nom) values(%1,'',%2,%3)")
                            .arg(Storage::quoted(assocNum), Storage::quoted(race))
                            .arg(nom)));
}

QTableWidget *TestFormNomination::table() const
{
    return screen->findChild<QTableWidget *>(QStringLiteral("tablePigeons"));
}

QComboBox *TestFormNomination::raceBox() const
{
    return screen->findChild<QComboBox *>(QStringLiteral("cmbRace"));
}

QPushButton *TestFormNomination::button(const char *name) const
{
    return screen->findChild<QPushButton *>(QLatin1String(name));
}

// "No. AssocNum Race Nom" per row, blanks between the cells.
QStringList TestFormNomination::rows() const
{
    QStringList out;
    for (int row = 0; row < table()->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < 4; ++column)
            cells << (table()->item(row, column) ? table()->item(row, column)->text() : QStringLiteral("?"));
        out << cells.join(QLatin1Char(' ')).trimmed();
    }
    return out;
}

// "AssocNum:Nom" of the race's stored rows, by number.
QStringList TestFormNomination::stored(const QString &race) const
{
    QStringList out;
    const auto found = store->rows(QStringLiteral("select AssocNum,Nom from Nomination where RaceCode=%1 order by Nom")
                                       .arg(Storage::quoted(race)));
    for (const QVariantList &row : found)
        out << row.at(0).toString() + QLatin1Char(':') + row.at(1).toString();
    return out;
}

QString TestFormNomination::enabledButtons() const
{
    QStringList out;
    for (const char *name : {"btnNom", "btnDeleteNom", "btnUp", "btnDown"}) {
        if (button(name)->isEnabled())
            out << QLatin1String(name);
    }
    return out.join(QLatin1Char(','));
}

// "row N" selects a row, "none" leaves no current row; the others press a
// button's slot (also when the button is disabled).
void TestFormNomination::press(const QString &op)
{
    if (op.startsWith(QLatin1String("row "))) {
        table()->setCurrentCell(op.mid(4).toInt(), 0);
        return;
    }
    if (op == QLatin1String("none")) {
        table()->setCurrentCell(-1, -1);
        return;
    }
    const QHash<QString, const char *> handlers = {{"nom", "on_btnNom_clicked"},
                                                {"delete", "on_btnDeleteNom_clicked"},
                                                {"up", "on_btnUp_clicked"},
                                                {"down", "on_btnDown_clicked"}};
    QVERIFY2(handlers.contains(op), qPrintable(op));
    QVERIFY(QMetaObject::invokeMethod(screen, handlers.value(op)));
}

void TestFormNomination::compareNomOrder()
{
    auto entry = [](const char *assoc, int nom) {
        auto n = QSharedPointer<Nomination>::create();
        n->assocNum = QLatin1String(assoc);
        n->nom = nom;
        return n;
    };
    QVERIFY(compareNom(entry("Z", 5), entry("A", 0)));
    QVERIFY(!compareNom(entry("A", 0), entry("Z", 5)));
    QVERIFY(compareNom(entry("Z", 2), entry("A", 10)));
    QVERIFY(!compareNom(entry("A", 10), entry("Z", 2)));
    QVERIFY(compareNom(entry("B", 0), entry("a", 0))); // code units, case-sensitive
    QVERIFY(!compareNom(entry("B", 0), entry("B", 0)));
}

void TestFormNomination::combo_data()
{
    QTest::addColumn<QStringList>("offered");
    // Liberation times put N1c before N1a; only nomination 1 in state 1.
    QTest::newRow("nomination 1 in state 1, by liberation time") << QStringList{"N1c", "N1a"};
}

void TestFormNomination::combo()
{
    QFETCH(QStringList, offered);
    saveRace(QStringLiteral("N1a"), 1, 1, kBase + 2000);
    saveRace(QStringLiteral("N1c"), 1, 1, kBase + 1000);
    saveRace(QStringLiteral("N0"), 1, 0);
    saveRace(QStringLiteral("N2"), 1, 2);
    saveRace(QStringLiteral("Nx"), 1, -1);
    saveRace(QStringLiteral("N1s3"), 3, 1);
    saveRace(QStringLiteral("N1s4"), 4, 1);
    for (const char *assoc : {"P1", "P2", "P3"})
        savePigeon(QLatin1String(assoc));
    nominate(QStringLiteral("P1"), QStringLiteral("N1a"), 1);
    nominate(QStringLiteral("P2"), QStringLiteral("N1c"), 1);
    push();
    QStringList items;
    for (int i = 0; i < raceBox()->count(); ++i)
        items << raceBox()->itemText(i);
    QCOMPARE(items, offered);
    QCOMPARE(raceBox()->currentText(), QStringLiteral("N1c"));
    QCOMPARE(rows(), (QStringList{"1 P2 N1c √", "2 P3"}));
    QCOMPARE(table()->currentRow(), 0);
    raceBox()->setCurrentIndex(1);
    QCOMPARE(rows(), (QStringList{"1 P1 N1a √", "2 P3"}));
    QCOMPARE(table()->currentRow(), 0);
}

void TestFormNomination::buttons()
{
    saveRace(QStringLiteral("R1"), 1, 1);
    savePigeon(QStringLiteral("P1"));
    savePigeon(QStringLiteral("P2"));
    nominate(QStringLiteral("P1"), QStringLiteral("R1"), 1);
    push();
    QCOMPARE(enabledButtons(), QStringLiteral("btnDeleteNom,btnUp,btnDown"));
    press(QStringLiteral("row 1"));
    QCOMPARE(enabledButtons(), QStringLiteral("btnNom"));
    QVERIFY(QTest::qWaitForWindowExposed(screen));
    QVERIFY(!ScreenDriver(screen, QStringLiteral("formnomination")).shot(QStringLiteral("rows")).isEmpty());
    press(QStringLiteral("none"));
    QCOMPARE(enabledButtons(), QString());
}

void TestFormNomination::noSelection_warns_data()
{
    QTest::addColumn<QString>("op");
    QTest::newRow("Nomination") << "nom";
    QTest::newRow("Delete") << "delete";
}

void TestFormNomination::noSelection_warns()
{
    QFETCH(QString, op);
    saveRace(QStringLiteral("R1"), 1, 1);
    savePigeon(QStringLiteral("P1"));
    push();
    press(QStringLiteral("none"));
    PromptQueue sound;
    press(op);
    QCOMPARE(sound.prompts(), QStringList{"error"});
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Warining"));
    QCOMPARE(box->text(), QStringLiteral("Please select pingeon!"));
    QVERIFY(stored(QStringLiteral("R1")).isEmpty());
}

void TestFormNomination::edits_data()
{
    QTest::addColumn<QStringList>("ops");
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<int>("current");
    QTest::addColumn<QStringList>("storedR1");
    QTest::addColumn<QStringList>("prompts");
    // Start: R1 holds P1 1, P2 2, P3 3; P4 and P5 free; P6 nominated in R2.
    const QStringList start{"1 P1 R1 √", "2 P2 R1 √", "3 P3 R1 √", "4 P4", "5 P5"};
    const QStringList startStored{"P1:1", "P2:2", "P3:3"};
    QTest::newRow("nominate after 1, 2, 3")
        << QStringList{"row 3", "nom"} << QStringList{"1 P1 R1 √", "2 P2 R1 √", "3 P3 R1 √", "4 P4 R1 √", "5 P5"} << 4
        << QStringList{"P1:1", "P2:2", "P3:3", "P4:4"} << QStringList{"dong"};
    QTest::newRow("nominate the last row leaves no current row")
        << QStringList{"row 3", "nom", "nom"}
        << QStringList{"1 P1 R1 √", "2 P2 R1 √", "3 P3 R1 √", "4 P4 R1 √", "5 P5 R1 √"} << -1
        << QStringList{"P1:1", "P2:2", "P3:3", "P4:4", "P5:5"} << QStringList{"dong", "dong"};
    QTest::newRow("delete number 2")
        << QStringList{"row 1", "delete"} << QStringList{"1 P1 R1 √", "2 P3 R1 √", "3 P2", "4 P4", "5 P5"} << 1
        << QStringList{"P1:1", "P3:2"} << QStringList{"dong"};
    QTest::newRow("up on the second row")
        << QStringList{"row 1", "up"} << QStringList{"1 P2 R1 √", "2 P1 R1 √", "3 P3 R1 √", "4 P4", "5 P5"} << 0
        << QStringList{"P2:1", "P1:2", "P3:3"} << QStringList{};
    QTest::newRow("up on the first row") << QStringList{"row 0", "up"} << start << 0 << startStored
                                         << QStringList{"error"};
    QTest::newRow("down on the first row")
        << QStringList{"row 0", "down"} << QStringList{"1 P2 R1 √", "2 P1 R1 √", "3 P3 R1 √", "4 P4", "5 P5"} << 1
        << QStringList{"P2:1", "P1:2", "P3:3"} << QStringList{};
    QTest::newRow("down beside a free row") << QStringList{"row 2", "down"} << start << 2 << startStored
                                            << QStringList{};
    QTest::newRow("down on the last row") << QStringList{"row 4", "down"} << start << 4 << startStored
                                          << QStringList{"error"};
    QTest::newRow("up below a free row") << QStringList{"row 4", "up"} << start << 4 << startStored << QStringList{};
}

void TestFormNomination::edits()
{
    QFETCH(QStringList, ops);
    QFETCH(QStringList, table);
    QFETCH(int, current);
    QFETCH(QStringList, storedR1);
    QFETCH(QStringList, prompts);
    saveRace(QStringLiteral("R1"), 1, 1);
    saveRace(QStringLiteral("R2"), 1, 1, kBase + 1000);
    for (const char *assoc : {"P5", "P4", "P3", "P2", "P1", "P6"})
        savePigeon(QLatin1String(assoc));
    nominate(QStringLiteral("P1"), QStringLiteral("R1"), 1);
    nominate(QStringLiteral("P2"), QStringLiteral("R1"), 2);
    nominate(QStringLiteral("P3"), QStringLiteral("R1"), 3);
    nominate(QStringLiteral("P6"), QStringLiteral("R2"), 1);
    push();
    QCOMPARE(raceBox()->currentText(), QStringLiteral("R1"));
    PromptQueue sound;
    for (const QString &op : ops)
        press(op);
    QCOMPARE(rows(), table);
    QCOMPARE(this->table()->currentRow(), current);
    QCOMPARE(stored(QStringLiteral("R1")), storedR1);
    QCOMPARE(stored(QStringLiteral("R2")), QStringList{"P6:1"});
    QCOMPARE(sound.prompts(), prompts);
    QVERIFY(!FormMessage::instance()->isActived());
    // What the screen shows is what a fresh opening reads.
    push();
    QCOMPARE(rows(), table);
}

void TestFormNomination::noRaceOffered_data()
{
    QTest::addColumn<bool>("offeredBefore");
    QTest::addColumn<QStringList>("table");
    QTest::newRow("the last race basketed") << true << QStringList{"1 P1 R1 √", "2 P2"};
    QTest::newRow("none ever") << false << QStringList{};
}

void TestFormNomination::noRaceOffered()
{
    QFETCH(bool, offeredBefore);
    QFETCH(QStringList, table);
    saveRace(QStringLiteral("R1"), 1, 1);
    savePigeon(QStringLiteral("P1"));
    savePigeon(QStringLiteral("P2"));
    nominate(QStringLiteral("P1"), QStringLiteral("R1"), 1);
    if (offeredBefore)
        push();
    QVERIFY(store->exec(QStringLiteral("update Race set Valid=3")));
    push();
    QCOMPARE(raceBox()->count(), 0);
    QCOMPARE(rows(), table);
    QCOMPARE(enabledButtons(), QString());
    if (offeredBefore)
        QVERIFY(!ScreenDriver(screen, QStringLiteral("formnomination")).shot(QStringLiteral("norace")).isEmpty());
    for (const char *op : {"row 0", "up", "down", "delete", "row 1", "nom", "up", "down"})
        press(QLatin1String(op));
    FormMessage::instance()->deactive();
    QCOMPARE(store->value(QStringLiteral("select count(*) from Nomination where RaceCode='' or RaceCode is null")).toInt(), 0);
    QCOMPARE(stored(QStringLiteral("R1")), QStringList{"P1:1"});
}

void TestFormNomination::quotes()
{
    saveRace(QStringLiteral("R'1"), 1, 1);
    savePigeon(QStringLiteral("P'1"));
    savePigeon(QStringLiteral("P\"2"));
    push();
    QCOMPARE(raceBox()->currentText(), QStringLiteral("R'1"));
    press(QStringLiteral("row 0"));
    press(QStringLiteral("nom"));
    press(QStringLiteral("nom"));
    QCOMPARE(rows(), (QStringList{"1 P\"2 R'1 √", "2 P'1 R'1 √"}));
    QCOMPARE(stored(QStringLiteral("R'1")), (QStringList{"P\"2:1", "P'1:2"}));
    press(QStringLiteral("row 1"));
    press(QStringLiteral("up"));
    QCOMPARE(stored(QStringLiteral("R'1")), (QStringList{"P'1:1", "P\"2:2"}));
}

void TestFormNomination::saveFailure_tableEqualsStorage()
{
    saveRace(QStringLiteral("R1"), 1, 1);
    savePigeon(QStringLiteral("P1"));
    savePigeon(QStringLiteral("P2"));
    nominate(QStringLiteral("P1"), QStringLiteral("R1"), 1);
    push();
    QVERIFY(store->failOn(QStringLiteral("INSERT"), QStringLiteral("Nomination")));
    press(QStringLiteral("row 1"));
    press(QStringLiteral("nom"));
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Error"));
    QCOMPARE(stored(QStringLiteral("R1")), QStringList{"P1:1"});
    QCOMPARE(rows(), (QStringList{"1 P1 R1 √", "2 P2"}));
}

void TestFormNomination::loadFailure_emptyDisabled()
{
    saveRace(QStringLiteral("R1"), 1, 1);
    savePigeon(QStringLiteral("P1"));
    Storage::setFault(Storage::Fault::FailStatement, 1);
    push();
    Storage::setFault(Storage::Fault::None);
    QVERIFY(FormMessage::instance()->isActived());
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    QCOMPARE(rows(), QStringList{});
    QCOMPARE(enabledButtons(), QString());
}

BRELLIUM_GUI_TEST_MAIN(TestFormNomination)
#include "tst_formnomination.moc"
