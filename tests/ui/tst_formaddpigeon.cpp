#include "core/platform.h"
#include "core/utc.h"
#include "storage/storage.h"
#include "ui/formkeyboard.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formaddpigeon.h"

#include "guifixture.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "recordinghandler.h"
#include "screendriver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include <memory>

namespace {
constexpr qint64 kNowMs = 1700000000000;
constexpr qint64 kClubDiffMs = 4321;
const char kSuite[] = "tst_formaddpigeon";

const QString kPigeonRows = QStringLiteral(
    "select AssocNum, EringNum, ifnull(Uid,'<null>'), Valid, Test, Color, Year, Sex, UpdateTime from Pigeon");
} // namespace

// Adding a pigeon: the keys of the screen's keyboard, the checks of Add in
// their order, what is stored and when the opener hears of it.
class TestFormAddPigeon : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void add_data();
    void add();
    void storeFailure_data();
    void storeFailure();
    void leavingStoresNothing_data();
    void leavingStoresNothing();
    void keys();
    void yearAndSexKeptAcrossUses();

private:
    void open();
    void fill(const QString &assocNum, const QString &color);
    template<class T> T *find(const char *name) const { return screen->findChild<T *>(QLatin1String(name)); }

    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<RecordingHandler> handler;
    std::unique_ptr<ScreenDriver> driver;
    FormAddPigeon *screen = nullptr;
};

void TestFormAddPigeon::init()
{
    Platform::setSystemClock([] { return kNowMs; });
    UTC::_clubTimeDiff = kClubDiffMs;
    gui = std::make_unique<GuiFixture>();
    sound = std::make_unique<PromptQueue>();
    QVERIFY(QTest::qWaitForWindowActive(gui->window()));
    screen = gui->window()->formAddPigeon;
    handler = std::make_unique<RecordingHandler>(screen);
    driver = std::make_unique<ScreenDriver>(screen, QLatin1String(kSuite));
}

void TestFormAddPigeon::cleanup()
{
    Storage::setFault(Storage::Fault::None);
    driver.reset();
    handler.reset();
    sound.reset();
    gui.reset();
    UTC::_clubTimeDiff = 0;
    Platform::setSystemClock({});
}

void TestFormAddPigeon::open()
{
    screen->showForm(handler.get());
    QCOMPARE(gui->top(), screen);
}

void TestFormAddPigeon::fill(const QString &assocNum, const QString &color)
{
    find<QLineEdit>("editAssocCode")->setText(assocNum);
    find<QLineEdit>("editColor")->setText(color);
}

void TestFormAddPigeon::add_data()
{
    QTest::addColumn<QString>("assocNum");
    QTest::addColumn<QString>("color");
    QTest::addColumn<bool>("existing"); // AB12 stored beforehand
    QTest::addColumn<QString>("warning"); // empty: stored
    QTest::addColumn<QStringList>("prompts");

    const QStringList refused{QStringLiteral("dong"), QStringLiteral("error")};
    const QString incomplete = QStringLiteral("Some information not complete!");
    QTest::newRow("trimmed and upper-cased") << " ab12 " << " red " << false << QString()
                                             << QStringList{QStringLiteral("dong"), QStringLiteral("ok")};
    QTest::newRow("blanks only") << "   " << "red" << false << incomplete << refused;
    QTest::newRow("colour empty") << "AB12" << "" << false << incomplete << refused;
    QTest::newRow("both empty") << "" << " " << false << incomplete << refused;
    // Completeness comes before the duplicate check.
    QTest::newRow("existing, colour empty") << "AB12" << "" << true << incomplete << refused;
    QTest::newRow("existing in lower case with blanks")
        << " ab12 " << "red" << true << QStringLiteral("Pigeon already exists!") << refused;
}

void TestFormAddPigeon::add()
{
    QFETCH(QString, assocNum);
    QFETCH(QString, color);
    QFETCH(bool, existing);
    QFETCH(QString, warning);
    QFETCH(QStringList, prompts);

    if (existing)
        LoftSeed::pigeon(QStringLiteral("AB12"), QString(), 1, QStringLiteral("Grey"), 2020);
    const QString before = gui->store().dump();
    open();
    find<QSpinBox>("editYear")->setValue(2021);
    find<QComboBox>("comboBoxSex")->setCurrentIndex(1);
    fill(assocNum, color);
    QVERIFY(driver->click("btnAddPigeon"));
    QCOMPARE(sound->prompts(), prompts);

    if (!warning.isEmpty()) {
        QVERIFY(GuiFixture::boxShown());
        QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Warning"));
        QCOMPARE(GuiFixture::boxText(), warning);
        QCOMPARE(gui->store().dump(), before);
        QCOMPARE(gui->top(), screen);
        QCOMPARE(find<QLineEdit>("editAssocCode")->text(), assocNum); // input kept
        QCOMPARE(find<QLineEdit>("editColor")->text(), color);
        QCOMPARE(handler->calls(), 0);
        if (QTest::currentDataTag() == QByteArray("existing in lower case with blanks"))
            driver->shot(QStringLiteral("warning-exists"));
        return;
    }
    QVERIFY(!GuiFixture::boxShown());
    const qint64 added = UTC::clubTime().value(); // the clock stands still
    const QList<QVariantList> rows = gui->store().rows(kPigeonRows);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first(), (QVariantList{QStringLiteral("AB12"), QStringLiteral(""), QStringLiteral("<null>"), 1, 0,
                                         QStringLiteral("red"), 2021, 1, added}));
    QCOMPARE(gui->store().rows(QStringLiteral("select AssocNum, EringNum, MarkTime, ifnull(RaceCode, '') from Record")),
             (QList<QVariantList>{{QStringLiteral("AB12"), QStringLiteral(""), 0, QStringLiteral("")}}));
    QCOMPARE(handler->calls(), 1);
    QCOMPARE(handler->buttons.first(), QMessageBox::Ok);
    QVERIFY(!handler->openedStillOnTop.first());
    const PigeonInfo &handed = handler->pigeons.first();
    QCOMPARE(handed.assocNum, QStringLiteral("AB12"));
    QVERIFY(handed.eringNum.isEmpty());
    QVERIFY(handed.uid.isNull());
    QVERIFY(!handed.valid);
    QVERIFY(!handed.test);
    QCOMPARE(handed.updateTime, added);
    QVERIFY(gui->top() != screen);
}

void TestFormAddPigeon::storeFailure_data()
{
    QTest::addColumn<bool>("insertFails"); // else the duplicate look-up fails
    QTest::addColumn<QStringList>("prompts");
    QTest::newRow("insert refused") << true
                                    << QStringList{QStringLiteral("dong"), QStringLiteral("ok"), QStringLiteral("error")};
    QTest::newRow("look-up fails") << false << QStringList{QStringLiteral("dong"), QStringLiteral("error")};
}

void TestFormAddPigeon::storeFailure()
{
    QFETCH(bool, insertFails);
    QFETCH(QStringList, prompts);

    if (insertFails)
        QVERIFY(gui->store().failOn(QStringLiteral("INSERT"), QStringLiteral("Pigeon")));
    const QString before = gui->store().dump();
    open();
    fill(QStringLiteral("NL-1"), QStringLiteral("Blue"));
    if (!insertFails)
        Storage::setFault(Storage::Fault::FailStatement, 1);
    QVERIFY(driver->click("btnAddPigeon"));
    Storage::setFault(Storage::Fault::None);

    QCOMPARE(sound->prompts(), prompts);
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QVERIFY(!GuiFixture::boxText().isEmpty());
    QCOMPARE(gui->top(), screen);
    QCOMPARE(find<QLineEdit>("editAssocCode")->text(), QStringLiteral("NL-1"));
    QCOMPARE(handler->calls(), 0);
    QCOMPARE(gui->store().dump(), before);
}

void TestFormAddPigeon::leavingStoresNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Home") << int(Qt::Key_Home);
}

void TestFormAddPigeon::leavingStoresNothing()
{
    QFETCH(int, key);
    const QString before = gui->store().dump();
    open();
    fill(QStringLiteral("NL-2"), QStringLiteral("Blue"));
    QVERIFY(gui->key(key));
    QVERIFY(gui->top() != screen);
    QVERIFY(!screen->isVisible());
    QCOMPARE(handler->calls(), 0);
    QCOMPARE(gui->store().dump(), before);
}

void TestFormAddPigeon::keys()
{
    open();
    auto *assoc = find<QLineEdit>("editAssocCode");
    auto *color = find<QLineEdit>("editColor");
    auto *year = find<QSpinBox>("editYear");
    auto *sex = find<QComboBox>("comboBoxSex");
    auto *keyboard = screen->findChild<FormKeyBoard *>();
    QVERIFY(keyboard);
    QVERIFY(keyboard->isVisible());
    QCOMPARE(keyboard->geometry().bottom(), screen->height() - 1);
    // The fields lie above the keyboard.
    QVERIFY(color->mapTo(screen, QPoint(0, color->height())).y() < keyboard->y());

    // Keys go to the number first, letters upper-cased whatever the caps.
    QVERIFY(driver->type(QStringLiteral("nl-a1")));
    QCOMPARE(assoc->text(), QStringLiteral("NL-A1"));
    QVERIFY(driver->type(QStringLiteral("\b")));
    QCOMPARE(assoc->text(), QStringLiteral("NL-A"));

    // The colour takes the letters as typed.
    color->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(color->hasFocus());
    QVERIFY(driver->type(QStringLiteral("aB.")));
    QCOMPARE(color->text(), QStringLiteral("aB."));

    // The sex box keeps the keys going to the last edit.
    sex->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(sex->hasFocus());
    QVERIFY(driver->type(QStringLiteral("c")));
    QCOMPARE(color->text(), QStringLiteral("aB.c"));
    driver->shot(QStringLiteral("keyboard"));

    // With the year focused the keys change nothing.
    year->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(year->hasFocus() || year->findChild<QLineEdit *>()->hasFocus());
    QVERIFY(driver->type(QStringLiteral("9x\b")));
    QCOMPARE(year->value(), 2015);
    QCOMPARE(assoc->text(), QStringLiteral("NL-A"));
    QCOMPARE(color->text(), QStringLiteral("aB.c"));

    // The limits: 20 characters for the number, 10 for the colour.
    color->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(color->hasFocus());
    QVERIFY(driver->type(QStringLiteral("DEFGHIJKLM")));
    QCOMPARE(color->text(), QStringLiteral("aB.cDEFGHI"));
    assoc->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(assoc->hasFocus());
    QVERIFY(driver->type(QStringLiteral("1234567890123456789")));
    QCOMPARE(assoc->text(), QStringLiteral("NL-A1234567890123456"));

    QVERIFY(driver->click("btnAddPigeon"));
    QCOMPARE(gui->store().value(QStringLiteral("select Color from Pigeon where AssocNum='NL-A1234567890123456'")),
             QVariant(QStringLiteral("aB.cDEFGHI")));
}

void TestFormAddPigeon::yearAndSexKeptAcrossUses()
{
    open();
    QCOMPARE(find<QSpinBox>("editYear")->value(), 2015);
    QCOMPARE(find<QComboBox>("comboBoxSex")->currentIndex(), 0);
    QCOMPARE(find<QComboBox>("comboBoxSex")->currentText(), QStringLiteral("Hen"));
    QCOMPARE(find<QComboBox>("comboBoxSex")->count(), 3);
    find<QSpinBox>("editYear")->setValue(2023);
    find<QComboBox>("comboBoxSex")->setCurrentIndex(2);
    fill(QStringLiteral("NL-3"), QStringLiteral("Red"));
    QVERIFY(driver->click("btnAddPigeon"));
    QCOMPARE(handler->calls(), 1);

    open();
    QCOMPARE(find<QLineEdit>("editAssocCode")->text(), QString());
    QCOMPARE(find<QLineEdit>("editColor")->text(), QString());
    QCOMPARE(find<QSpinBox>("editYear")->value(), 2023);
    QCOMPARE(find<QComboBox>("comboBoxSex")->currentText(), QStringLiteral("Unknown"));
    fill(QStringLiteral("NL-4"), QStringLiteral("Red"));
    QVERIFY(driver->click("btnAddPigeon"));
    QCOMPARE(gui->store().rows(QStringLiteral("select Year, Sex from Pigeon where AssocNum='NL-4'")),
             (QList<QVariantList>{{2023, 2}}));
}

BRELLIUM_GUI_TEST_MAIN(TestFormAddPigeon)
#include "tst_formaddpigeon.moc"
