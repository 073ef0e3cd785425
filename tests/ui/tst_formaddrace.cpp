#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessagehandler.h"
#include "ui/mainwindow.h"
#include "ui/race/formaddrace.h"

#include "guifixture.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "screendriver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <limits>
#include <memory>

namespace {

const char kSuite[] = "tst_formaddrace";
constexpr qint64 kClubDiffMs = 125000;
constexpr int kZoneSeconds = 8 * 3600;
constexpr unsigned int kNominationFlag = 0x0400;
// The club clock stays where the fixture put it.
constexpr qint64 kClockKept = std::numeric_limits<qint64>::min();
const char kCheckedImage[] = "btn_Checkbox_pressed.png";
const char kUncheckedImage[] = "btn_Checkbox_normal.png";

// 9 December 2026, 12:00:00 UTC: 20:00:00 on the device's zone.
qint64 clubNowMs()
{
    return UTC(2026, 12, 9, 12, 0, 0, 0).value();
}

void setClubTime(qint64 clubMs)
{
    Platform::setSystemClock([clubMs] { return clubMs - kClubDiffMs; });
}

qint64 localMs(int year, int month, int day, int hour)
{
    UTC t;
    t.loadFromLocal(year, month, day, hour, 0, 0, 0);
    return t.value();
}

// The screen that opened the new race screen: each answer, the race copied
// while the call lasts, and whether the new race screen had left by then.
class RaceRecorder : public FormMessageHandler
{
public:
    void onFormMessage(QMessageBox::StandardButton button, void *context) override
    {
        buttons << button;
        const auto *race = static_cast<const QSharedPointer<RaceInfo> *>(context);
        races << (race && *race ? **race : RaceInfo());
        addStillOnTop << (MainWindow::instance()->topSubForm() == MainWindow::instance()->formAddRace);
    }
    QList<QMessageBox::StandardButton> buttons;
    QList<RaceInfo> races;
    QList<bool> addStillOnTop;
};

} // namespace

// The new race screen: its defaults, its keyboard, the checks of Add in
// their order, the race it stores and the answer to its opener.
class TestFormAddRace : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void add_data();
    void add();
    void defaults_data();
    void defaults();
    void keyboard();
    void preNom();
    void storageFailure_data();
    void storageFailure();
    void escape_answersNothing();

private:
    void open();
    void setDate(const QString &date) const;
    void touch(const char *name) const;
    template<class T> T *find(const char *name) const { return screen->findChild<T *>(QLatin1String(name)); }
    QString text(const char *name) const { return driver->text(name); }
    QStringList entries() const;

    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<ScreenDriver> driver;
    std::unique_ptr<PigeonBo> engine;
    RaceRecorder opener;
    FormAddRace *screen = nullptr;
};

void TestFormAddRace::init()
{
    setClubTime(clubNowMs());
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = kClubDiffMs;
    UTC::setTimeZone(kZoneSeconds);
    gui = std::make_unique<GuiFixture>();
    sound = std::make_unique<PromptQueue>();
    QVERIFY(QTest::qWaitForWindowActive(gui->window()));
    LoftSeed::loft();
    screen = gui->window()->formAddRace;
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
    opener = RaceRecorder();
}

void TestFormAddRace::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    engine.reset();
    driver.reset();
    sound.reset();
    gui.reset();
    HardwareControl::init(0);
    UTC::_clubTimeDiff = 0;
    UTC::setTimeZone(0);
    Platform::setSystemClock({});
}

void TestFormAddRace::open()
{
    screen->showForm(&opener);
    QCOMPARE(gui->top(), screen);
}

void TestFormAddRace::setDate(const QString &date) const
{
    const QStringList parts = date.split(QLatin1Char('/'));
    find<QComboBox>("comboBoxDay")->setCurrentIndex(parts.at(0).toInt() - 1);
    find<QComboBox>("comboBoxMonth")->setCurrentIndex(parts.at(1).toInt() - 1);
    QComboBox *years = find<QComboBox>("comboBoxYear");
    years->setCurrentIndex(years->findText(parts.at(2)));
    QCOMPARE(years->currentText(), parts.at(2));
}

// A finger on the right end of a field's text, as the fancier touches it.
void TestFormAddRace::touch(const char *name) const
{
    QWidget *field = find<QWidget>(name);
    if (auto *spin = qobject_cast<QSpinBox *>(field))
        field = spin->findChild<QLineEdit *>();
    QTest::mouseClick(field, Qt::LeftButton, Qt::NoModifier, QPoint(field->width() - 4, field->height() / 2));
}

QStringList TestFormAddRace::entries() const
{
    return {text("editAssocCode"), text("editClubCode"), text("editLibCode"),
            text("editLibSite"), QString::number(find<QSpinBox>("editPrintCount")->value())};
}

void TestFormAddRace::add_data()
{
    QTest::addColumn<QStringList>("texts"); // assoc, club, liberation code, site
    QTest::addColumn<QString>("date");      // empty: the default day
    QTest::addColumn<qint64>("clubAfterLiberMs");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("preNom");
    QTest::addColumn<QString>("warning"); // empty: stored
    QTest::addColumn<QString>("raceCode");
    QTest::addColumn<int>("nomination");

    const QStringList valid{"RA", "RC", "9999", "RACE_1"};
    const QString timeError = QStringLiteral("Race liber time error!");
    const qint64 keep = kClockKept;
    QTest::newRow("blanks around every text") << QStringList{" RA ", "  RC", "12 ", " Orleans "} << QString() << keep
                                              << 0 << false << QString() << "121210" << 0;
    QTest::newRow("assoc and liberation code empty") << QStringList{"", "RC", "", "X"} << QString() << keep << 0
                                                     << false << "Please input assoc code!" << QString() << 0;
    QTest::newRow("assoc blanks") << QStringList{"   ", "RC", "9999", "X"} << QString() << keep << 0 << false
                                  << "Please input assoc code!" << QString() << 0;
    QTest::newRow("liberation code blanks") << QStringList{"RA", "RC", "  ", "X"} << QString() << keep << 0 << false
                                            << "Please input liber code!" << QString() << 0;
    QTest::newRow("site empty") << QStringList{"RA", "", "9999", ""} << QString() << keep << 0 << false
                                << "Please input liber site!" << QString() << 0;
    QTest::newRow("site blanks") << QStringList{"RA", "RC", "9999", "   "} << QString() << keep << 0 << false
                                 << "Please input liber site!" << QString() << 0;
    QTest::newRow("club empty") << QStringList{"RA", "", "9999", "X"} << QString() << keep << 0 << false
                                << "Please input club code!" << QString() << 0;
    QTest::newRow("club blanks, date no date") << QStringList{"RA", "  ", "9999", "X"} << "31/04/2027" << keep << 0
                                               << false << "Please input club code!" << QString() << 0;
    QTest::newRow("31 April") << valid << "31/04/2027" << keep << 0 << false << timeError << QString() << 0;
    QTest::newRow("30 February") << valid << "30/02/2028" << keep << 0 << false << timeError << QString() << 0;
    QTest::newRow("29 February, common year") << valid << "29/02/2027" << keep << 0 << false << timeError
                                              << QString() << 0;
    QTest::newRow("29 February, leap year") << valid << "29/02/2028" << keep << 0 << false << QString()
                                            << "99990229" << 0;
    QTest::newRow("1 ms before the club time") << valid << QString() << qint64(1) << 0 << false << timeError
                                               << QString() << 0;
    QTest::newRow("equal to the club time") << valid << QString() << qint64(0) << 0 << false << QString()
                                            << "99991210" << 0;
    QTest::newRow("same code and day, another year") << valid << "10/12/2027" << keep << 0 << false
                                                     << "Race already exists!" << QString() << 0;
    QTest::newRow("PreNom checked") << valid << QString() << keep << int(kNominationFlag) << true << QString()
                                    << "99991210" << 1;
    QTest::newRow("PreNom unchecked") << valid << QString() << keep << int(kNominationFlag) << false << QString()
                                      << "99991210" << 0;
    QTest::newRow("without nomination") << valid << QString() << keep << 0 << false << QString() << "99991210" << 0;
}

void TestFormAddRace::add()
{
    QFETCH(QStringList, texts);
    QFETCH(QString, date);
    QFETCH(qint64, clubAfterLiberMs);
    QFETCH(int, flags);
    QFETCH(bool, preNom);
    QFETCH(QString, warning);
    QFETCH(QString, raceCode);
    QFETCH(int, nomination);

    // Last season's race on 10 December, same liberation code.
    if (QLatin1String(QTest::currentDataTag()) == QLatin1String("same code and day, another year"))
        LoftSeed::race(QStringLiteral("99991210"), LoftSeed::kRaceStopped, localMs(2025, 12, 10, 4));
    HardwareControl::init(flags);
    open();
    find<QLineEdit>("editAssocCode")->setText(texts.at(0));
    find<QLineEdit>("editClubCode")->setText(texts.at(1));
    find<QLineEdit>("editLibCode")->setText(texts.at(2));
    find<QLineEdit>("editLibSite")->setText(texts.at(3));
    find<QSpinBox>("editPrintCount")->setValue(5);
    if (!date.isEmpty())
        setDate(date);
    if (preNom)
        QVERIFY(driver->click("btnPreNom"));
    const qint64 liberMs = date.isEmpty() ? localMs(2026, 12, 10, 4) : 0;
    if (clubAfterLiberMs != kClockKept)
        setClubTime(liberMs + clubAfterLiberMs);
    const QString before = gui->store().dump();
    const QStringList shown = entries();

    QVERIFY(driver->click("btnAddRace"));

    if (!warning.isEmpty()) {
        QVERIFY(GuiFixture::boxShown());
        QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Warning"));
        QCOMPARE(GuiFixture::boxText(), warning);
        QCOMPARE(sound->prompts().last(), QStringLiteral("error"));
        QCOMPARE(gui->store().dump(), before);
        QCOMPARE(gui->top(), screen);
        QCOMPARE(entries(), shown);
        QVERIFY(opener.buttons.isEmpty());
        if (QLatin1String(QTest::currentDataTag()) == QLatin1String("31 April"))
            driver->shot(QStringLiteral("warning"));
        return;
    }
    QVERIFY(!GuiFixture::boxShown());
    QCOMPARE(sound->prompts().last(), QStringLiteral("ok"));
    QCOMPARE(gui->top(), nullptr);
    QCOMPARE(opener.buttons, QList<QMessageBox::StandardButton>({QMessageBox::Ok}));
    QCOMPARE(opener.addStillOnTop, QList<bool>({false}));
    QCOMPARE(opener.races.first().raceCode, raceCode);

    const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(raceCode);
    QVERIFY(stored);
    QCOMPARE(stored->valid, 1);
    QCOMPARE(stored->assocCode, texts.at(0).trimmed());
    QCOMPARE(stored->clubCode, texts.at(1).trimmed());
    QCOMPARE(stored->liberCode, texts.at(2).trimmed());
    QCOMPARE(stored->liberName, texts.at(3).trimmed());
    QCOMPARE(stored->raceName, QString());
    QCOMPARE(stored->printCount, 5);
    QCOMPARE(stored->getField(QStringLiteral("nomination")).toInt(), nomination);
    QCOMPARE(stored->getField(QStringLiteral("markUploadFlag")), QVariant(false));
    QCOMPARE(stored->markDeviceTime, 0);
    QCOMPARE(stored->raceStopDeviceTime, 0);
    if (date.isEmpty())
        QCOMPARE(stored->liberTime, liberMs);
    else
        QCOMPARE(UTC::format(stored->liberTime, QStringLiteral("dd/MM/yyyy hh:mm:ss")), date + " 04:00:00");
}

void TestFormAddRace::defaults_data()
{
    QTest::addColumn<qint64>("clubMs");
    QTest::addColumn<bool>("withEngine");
    QTest::addColumn<QString>("assocShown");
    QTest::addColumn<QString>("dayMonthYear");
    QTest::addColumn<QString>("lastYear");
    QTest::addColumn<QString>("stored"); // Add with the defaults; empty: not pressed

    // The engine's cached loft row, with blanks around the codes, against
    // the row as stored since.
    QTest::newRow("9 December 2026, engine's loft copy")
        << clubNowMs() << true << " RA " << "10/12/2026" << "2036" << "99991210";
    QTest::newRow("9 December 2026, stored loft row")
        << clubNowMs() << false << "STORED" << "10/12/2026" << "2036" << "99991210";
    QTest::newRow("31 December 2024") << UTC(2024, 12, 31, 2, 0, 0, 0).value() << false << "STORED" << "01/01/2025"
                                      << "2034" << "99990101";
    // 17:30 UTC is already 01:30 on the 15th at +8 hours.
    QTest::newRow("next day by the device's zone") << UTC(2026, 3, 14, 17, 30, 0, 0).value() << false << "STORED"
                                                   << "16/03/2026" << "2036" << "99990316";
    // A year before the list: its last entry.
    QTest::newRow("club clock before 2015") << UTC(2013, 6, 1, 0, 0, 0, 0).value() << false << "STORED"
                                            << "02/06/2025" << "2025" << QString();
}

void TestFormAddRace::defaults()
{
    QFETCH(qint64, clubMs);
    QFETCH(bool, withEngine);
    QFETCH(QString, assocShown);
    QFETCH(QString, dayMonthYear);
    QFETCH(QString, lastYear);
    QFETCH(QString, stored);

    QVERIFY(gui->store().exec(QStringLiteral("update LOFTINFO set AssocCode=' RA ', ClubCode='RC  '")));
    if (withEngine) {
        engine = std::make_unique<PigeonBo>();
        engine->reflushCache();
        ServiceFactory::getInstance()->pigeonBo = engine.get();
        UTC::setTimeZone(kZoneSeconds); // the cached loft row carries a zone of its own
    }
    QVERIFY(gui->store().exec(QStringLiteral("update LOFTINFO set AssocCode='STORED'")));
    setClubTime(clubMs);
    open();
    QCOMPARE(entries(), QStringList({assocShown, "RC  ", "9999", "RACE_1", "2"}));
    QCOMPARE(QStringList({text("comboBoxDay"), text("comboBoxMonth"), text("comboBoxYear")}).join('/'),
             dayMonthYear);
    QCOMPARE(QStringList({text("comboBoxHour"), text("comboBoxMinute"), text("comboBoxSecond")}).join(':'),
             QStringLiteral("04:00:00"));
    QComboBox *years = find<QComboBox>("comboBoxYear");
    QCOMPARE(years->itemText(0), QStringLiteral("2015"));
    QCOMPARE(years->itemText(years->count() - 1), lastYear);
    QCOMPARE(years->count(), lastYear.toInt() - 2015 + 1);
    QCOMPARE(find<QComboBox>("comboBoxDay")->count(), 31);
    if (stored.isEmpty())
        return;
    QVERIFY(driver->click("btnAddRace"));
    QVERIFY(!GuiFixture::boxShown());
    const QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(stored);
    QVERIFY(race);
    QCOMPARE(race->assocCode, assocShown.trimmed());
    QCOMPARE(race->clubCode, QStringLiteral("RC"));
    QCOMPARE(race->printCount, 2);
}

void TestFormAddRace::keyboard()
{
    open();
    const QStringList fresh = entries();
    // Nothing touched yet: the keys go nowhere.
    QVERIFY(driver->type(QStringLiteral("AB7\b")));
    QCOMPARE(entries(), fresh);

    touch("editLibSite");
    QVERIFY(driver->type(QStringLiteral("Xy-.\b")));
    QCOMPARE(text("editLibSite"), QStringLiteral("RACE_1Xy-"));
    driver->shot(QStringLiteral("new-race"));

    touch("editLibCode");
    QVERIFY(driver->type(QStringLiteral("5")));
    QCOMPARE(text("editLibCode"), QStringLiteral("9999")); // a fifth character is dropped
    QVERIFY(driver->type(QStringLiteral("\b\b\bAB")));
    QCOMPARE(text("editLibCode"), QStringLiteral("9AB"));

    touch("editPrintCount");
    QSpinBox *count = find<QSpinBox>("editPrintCount");
    QVERIFY(driver->type(QStringLiteral("0A\b-")));
    QCOMPARE(count->value(), 2);
    QVERIFY(driver->type(QStringLiteral("7")));
    QCOMPARE(count->value(), 7);
    QVERIFY(driver->type(QStringLiteral("3")));
    QCOMPARE(count->value(), 3); // the whole value, never appended
    QCOMPARE(text("editLibCode"), QStringLiteral("9AB"));

    // Reopened: the print count stays, and so does the field typed into.
    QVERIFY(gui->key(Qt::Key_Escape));
    QCOMPARE(gui->top(), nullptr);
    open();
    QCOMPARE(count->value(), 3);
    QVERIFY(driver->type(QStringLiteral("4")));
    QCOMPARE(count->value(), 4);
    QCOMPARE(entries(), QStringList({"RA", "RC", "9999", "RACE_1", "4"}));

    // The count chosen stays for the next race, also after one was stored.
    QVERIFY(driver->click("btnAddRace"));
    QCOMPARE(Storage::instance()->findRaceById(QStringLiteral("99991210"))->printCount, 4);
    open();
    QCOMPARE(count->value(), 4);
    touch("editClubCode");
    QVERIFY(driver->type(QStringLiteral("1")));
    QCOMPARE(text("editClubCode"), QStringLiteral("RC1"));
}

void TestFormAddRace::preNom()
{
    HardwareControl::init(kNominationFlag);
    open();
    QPushButton *button = find<QPushButton>("btnPreNom");
    QPushButton *image = find<QPushButton>("imgVoiceChecked");
    QVERIFY(button->isVisible());
    QVERIFY(image->isVisible());
    QVERIFY(!button->isChecked());
    QVERIFY(image->styleSheet().contains(QLatin1String(kUncheckedImage)));

    QVERIFY(driver->click("btnPreNom"));
    QVERIFY(button->isChecked());
    QVERIFY(image->styleSheet().contains(QLatin1String(kCheckedImage)));
    driver->shot(QStringLiteral("prenom-checked"));
    // The check image itself is part of the button: a touch on it, routed
    // by the window as a finger's is.
    QWidget *window = gui->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      image->mapTo(window, image->rect().center()));
    QVERIFY(!button->isChecked());
    QVERIFY(image->styleSheet().contains(QLatin1String(kUncheckedImage)));
    QVERIFY(driver->click("btnPreNom"));

    // Every opening starts unchecked.
    QVERIFY(gui->key(Qt::Key_Escape));
    open();
    QVERIFY(!button->isChecked());
    QVERIFY(image->styleSheet().contains(QLatin1String(kUncheckedImage)));

    QVERIFY(gui->key(Qt::Key_Escape));
    HardwareControl::init(0);
    open();
    QVERIFY(!button->isVisible());
    QVERIFY(!image->isVisible());
}

void TestFormAddRace::storageFailure_data()
{
    QTest::addColumn<bool>("failSave"); // else the existence check fails
    QTest::newRow("the save") << true;
    QTest::newRow("the existence check") << false;
}

void TestFormAddRace::storageFailure()
{
    QFETCH(bool, failSave);
    open();
    find<QLineEdit>("editLibSite")->setText(QStringLiteral("Orleans"));
    const QStringList shown = entries();
    if (failSave)
        QVERIFY(gui->store().failOn(QStringLiteral("INSERT"), QStringLiteral("Race")));
    else
        Storage::setFault(Storage::Fault::FailStatement, 1);
    const QString before = gui->store().dump();

    QVERIFY(driver->click("btnAddRace"));
    Storage::setFault(Storage::Fault::None);

    QCOMPARE(sound->prompts(), QStringList({"dong", "error"}));
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    // The failure's own description, not a text of the screen.
    QVERIFY2(GuiFixture::boxText().startsWith(QLatin1String("injected")), qPrintable(GuiFixture::boxText()));
    QCOMPARE(gui->top(), screen);
    QCOMPARE(entries(), shown);
    QVERIFY(opener.buttons.isEmpty());
    QCOMPARE(gui->store().dump(), before);
}

void TestFormAddRace::escape_answersNothing()
{
    open();
    find<QLineEdit>("editLibSite")->setText(QStringLiteral("Orleans"));
    QVERIFY(gui->key(Qt::Key_Escape));
    QCOMPARE(gui->top(), nullptr);
    QVERIFY(opener.buttons.isEmpty());
    QCOMPARE(Storage::instance()->getRacesCount(QString()), 0);
}

BRELLIUM_GUI_TEST_MAIN(TestFormAddRace)
#include "tst_formaddrace.moc"
