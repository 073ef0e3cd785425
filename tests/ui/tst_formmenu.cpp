#include "core/myapp.h"
#include "device/hardware_control.h"
#include "ui/formhome.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formtrain.h"
#include "ui/menu.h"
#include "ui/pigeon/formmember.h"
#include "ui/pigeon/formmorlanconnect.h"
#include "ui/pigeon/formpigeonlist.h"
#include "ui/settings/formcommunication.h"
#include "ui/settings/formsystem.h"
#include "ui/settings/formtest.h"

#include "promptqueue.h"
#include "storagefixture.h"
#include "testroot.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

bool press(FormMenu *menu, int key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    return menu->doKeyPress(&event);
}

const char *const kButtons[] = {"pushButtonHome", "pushButtonMember", "pushButtonPigeon", "pushButtonTraining",
                                "pushButtonComm", "pushButtonClub", "pushButtonSystem", "pushButtonTest"};

// Notes how many prompts were queued when a screen first showed.
class ShowWatch : public QObject
{
public:
    explicit ShowWatch(const PromptQueue *queue)
        : sound(queue)
    {
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show && queuedAtShow < 0)
            queuedAtShow = sound->size();
        return false;
    }
    const PromptQueue *sound;
    int queuedAtShow = -1;
};

} // namespace

// The main menu: selection by Up and Down, opening by Return and by touch,
// and exactly one highlighted item whatever happens.
class TestFormMenu : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void keys_data();
    void keys();
    void touch_data();
    void touch();
    void returnOpensSelectedItem();
    void selectionSurvivesClosing();

private:
    SubWindow *screenOf(int item) const;
    void checkOneHighlight() const;
    std::unique_ptr<StorageFixture> store;
    TestRoot *root = nullptr;
    MainWindow *window = nullptr;
    FormMenu *menu = nullptr;
};

void TestFormMenu::init()
{
    store = std::make_unique<StorageFixture>();
    root = &store->root();
    root->writeFile(QStringLiteral("/app/brellium/version"), "8.9.30");
    HardwareControl::init(0);
    MainWindow::resetExitRequest();
    window = MainWindow::instance();
    window->findChild<QTimer *>()->stop();
    window->show();
    window->resetSubForms();
    menu = window->mainMenu();
}

void TestFormMenu::cleanup()
{
    checkOneHighlight();
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    root = nullptr;
    store.reset();
}

SubWindow *TestFormMenu::screenOf(int item) const
{
    SubWindow *const screens[] = {window->formHome, window->formMember, window->formPigeonList,
                                  window->formTrain, window->formCommunication, window->formMorlanConnect,
                                  window->formSystem, window->formTest};
    return screens[item];
}

void TestFormMenu::checkOneHighlight() const
{
    int highlighted = 0;
    for (int i = 0; i < 8; ++i) {
        const QString sheet = menu->findChild<QWidget *>(QStringLiteral("widgetFrame%1").arg(i))->styleSheet();
        if (sheet.isEmpty())
            continue;
        ++highlighted;
        QCOMPARE(i, menu->selectedItem());
        QCOMPARE(sheet, QStringLiteral("#widgetFrame%1{border-image: url(:/image/menu/image/btn_menu_greyBG.png);}").arg(i));
    }
    QCOMPARE(highlighted, 1);
}

void TestFormMenu::keys_data()
{
    QTest::addColumn<QList<int>>("sequence");
    QTest::addColumn<int>("selected");
    const int up = Qt::Key_Up;
    const int down = Qt::Key_Down;
    QTest::newRow("Up at 0") << QList<int>{up} << 0;
    QTest::newRow("Down twice") << QList<int>{down, down} << 2;
    QTest::newRow("Down to 7 and one more") << QList<int>{down, down, down, down, down, down, down, down} << 7;
    QTest::newRow("down and up") << QList<int>{down, down, down, up} << 2;
}

void TestFormMenu::keys()
{
    QFETCH(QList<int>, sequence);
    QFETCH(int, selected);
    for (int key : sequence)
        QVERIFY(press(menu, key)); // consumed also where nothing changes
    QCOMPARE(menu->selectedItem(), selected);
    QVERIFY(!press(menu, Qt::Key_Left));
    QVERIFY(!press(menu, Qt::Key_Escape));
    QCOMPARE(window->topSubForm(), nullptr);
}

void TestFormMenu::touch_data()
{
    QTest::addColumn<int>("item");
    for (int i = 0; i < 8; ++i)
        QTest::addRow("%s", kButtons[i]) << i;
}

void TestFormMenu::touch()
{
    QFETCH(int, item);
    auto *button = menu->findChild<QPushButton *>(QLatin1String(kButtons[item]));
    QVERIFY(button);
    PromptQueue sound;
    ShowWatch watch(&sound);
    screenOf(item)->installEventFilter(&watch);
    QTest::mouseClick(button, Qt::LeftButton);
    screenOf(item)->removeEventFilter(&watch);
    QCOMPARE(sound.prompts(), QStringList{"dong"});
    QCOMPARE(watch.queuedAtShow, 1); // the sound first, then the screen
    QCOMPARE(menu->selectedItem(), item);
    QCOMPARE(window->topSubForm(), screenOf(item));
    QVERIFY(screenOf(item)->isVisible() && screenOf(item)->isActive());
}

void TestFormMenu::returnOpensSelectedItem()
{
    PromptQueue sound;
    press(menu, Qt::Key_Down);
    press(menu, Qt::Key_Down);
    QVERIFY(press(menu, Qt::Key_Return));
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(window->formPigeonList));
    window->popSubForm(SubWindow::DeactiveHide);
    press(menu, Qt::Key_Down);
    QVERIFY(press(menu, Qt::Key_Enter));
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(window->formTrain));
    QVERIFY(sound.prompts().isEmpty()); // keys open silently
}

void TestFormMenu::selectionSurvivesClosing()
{
    QTest::mouseClick(menu->findChild<QPushButton *>(QStringLiteral("pushButtonClub")), Qt::LeftButton);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(window->formMorlanConnect));
    QTest::keyClick(window->formMorlanConnect, Qt::Key_Escape);
    QCOMPARE(window->topSubForm(), nullptr);
    QCOMPARE(menu->selectedItem(), 5);
    checkOneHighlight();
    QTest::keyClick(window, Qt::Key_Return);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(window->formMorlanConnect));
}

int main(int argc, char *argv[])
{
    MyApp app(argc, argv);
    TestFormMenu test;
    const int status = QTest::qExec(&test, argc, argv);
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    return status;
}
#include "tst_formmenu.moc"
