#include "core/myapp.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/dialogcalibrate.h"
#include "ui/settings/formconfig.h"
#include "ui/settings/formlcdtest.h"
#include "ui/settings/formlogs.h"
#include "ui/settings/formringtest.h"
#include "ui/settings/formsmstest.h"
#include "ui/settings/formtest.h"

#include "guifixture.h"
#include "promptqueue.h"
#include "screenshot.h"
#include "storagefixture.h"
#include "testroot.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace {
const char kMarker[] = "/mnt/sdcard/calibrate";
const char kPointerCal[] = "/etc/pointercal";
const char *const kRing[] = {"btnCalibrate", "btnLcdTest", "btnRingTest", "btnSmsTest", "btnLogs"};
// The hidden entry, as the service staff press it.
const QStringList kEntry = {"Red", "Blue", "Grey", "Green"};

int calibrateEntries(StorageFixture &store)
{
    return store.value(QStringLiteral("select count(*) from Log where LogType=15 and LogInfo like '%Calibrate%'")).toInt();
}
} // namespace

// The test menu: the hidden entry, the key ring, the screens it opens, the
// recalibration question and the touch test dialog.
class TestFormTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void hiddenEntry_data();
    void hiddenEntry();
    void entryLastsUntilPushedAnew();
    void keyRing_data();
    void keyRing();
    void returnAfterConstruction();
    void noSmsFlag();
    void opens_data();
    void opens();
    void recalibration_data();
    void recalibration();
    void touchTestDialog();
    void keysUnderDialog_data();
    void keysUnderDialog();

private:
    QPushButton *button(const QString &name) const;
    void press(const QStringList &keys);
    // Clicks Calibrate with the marker present and runs during the dialog;
    // returns whether a dialog came.
    bool duringDialog(const std::function<void(DialogCalibrate *)> &during);

    std::unique_ptr<GuiFixture> gui;
    StorageFixture *store = nullptr;
    TestRoot *root = nullptr;
    MainWindow *window = nullptr;
    FormTest *form = nullptr;
};

void TestFormTest::init()
{
    gui = std::make_unique<GuiFixture>();
    store = &gui->store();
    root = &gui->root();
    window = gui->window();
    form = window->formTest;
    window->pushSubForm(form);
}

void TestFormTest::cleanup()
{
    gui.reset();
}

QPushButton *TestFormTest::button(const QString &name) const
{
    auto *found = form->findChild<QPushButton *>(name);
    if (!found)
        qWarning("no button %s", qPrintable(name));
    return found;
}

void TestFormTest::press(const QStringList &keys)
{
    for (const QString &colour : keys)
        QTest::mouseClick(button(QStringLiteral("btnKey") + colour), Qt::LeftButton);
}

bool TestFormTest::duringDialog(const std::function<void(DialogCalibrate *)> &during)
{
    root->writeFile(QLatin1String(kMarker), "");
    bool came = false;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<DialogCalibrate *>(QApplication::activeModalWidget());
        came = dialog != nullptr;
        if (!dialog)
            return;
        during(dialog);
        if (dialog->isVisible())
            QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    QTest::mouseClick(button(QStringLiteral("btnCalibrate")), Qt::LeftButton);
    return came;
}

void TestFormTest::hiddenEntry_data()
{
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<bool>("shown");
    QTest::newRow("the order") << kEntry << true;
    QTest::newRow("a wrong first press, then the order") << (QStringList{"Blue"} + kEntry) << false;
    QTest::newRow("three right, one wrong, then the order")
        << (kEntry.mid(0, 3) + QStringList{"Red"} + kEntry) << false;
    QTest::newRow("the order backwards") << QStringList{"Green", "Grey", "Blue", "Red"} << false;
    QTest::newRow("a repeated key") << QStringList{"Red", "Red", "Blue", "Grey", "Green"} << false;
}

void TestFormTest::hiddenEntry()
{
    QFETCH(QStringList, presses);
    QFETCH(bool, shown);
    PromptQueue sound;
    QVERIFY(button(QStringLiteral("btnInit"))->isHidden());
    press(presses);
    QCOMPARE(button(QStringLiteral("btnInit"))->isVisible(), shown);
    QVERIFY(sound.prompts().isEmpty()); // no feedback at all
    Screenshot::save(shown ? QStringLiteral("tst_formtest/formtest-init") : QStringLiteral("tst_formtest/formtest"));
}

void TestFormTest::entryLastsUntilPushedAnew()
{
    QPushButton *init = button(QStringLiteral("btnInit"));
    press(kEntry);
    press({"Blue", "Green"});
    QVERIFY(init->isVisible());
    QTest::mouseClick(init, Qt::LeftButton);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(window->formConfig));
    QVERIFY(gui->key(Qt::Key_Escape));
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(form));
    QVERIFY(init->isVisible());
    window->resetSubForms();
    window->pushSubForm(form);
    QVERIFY(init->isHidden());
    // A dead sequence stays dead across an opened screen too.
    press({"Green"});
    QTest::mouseClick(button(QStringLiteral("btnLogs")), Qt::LeftButton);
    QVERIFY(gui->key(Qt::Key_Escape));
    press(kEntry);
    QVERIFY(init->isHidden());
}

void TestFormTest::keyRing_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QString>("highlighted");
    QTest::newRow("Down from btnLogs wraps")
        << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down} << "btnCalibrate";
    QTest::newRow("Up from btnCalibrate wraps") << QList<int>{Qt::Key_Up} << "btnLogs";
    QTest::newRow("down and up") << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Up} << "btnLcdTest";
}

void TestFormTest::keyRing()
{
    QFETCH(QList<int>, keys);
    QFETCH(QString, highlighted);
    for (int k : keys)
        QVERIFY(gui->key(k));
    QCOMPARE(form->highlighted()->objectName(), highlighted);
    for (const char *name : kRing)
        QCOMPARE(button(QLatin1String(name))->font().bold(), highlighted == QLatin1String(name));
    QVERIFY(!gui->key(Qt::Key_Left));
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(form));
}

void TestFormTest::returnAfterConstruction()
{
    // The highlight starts on Calibrate, not drawn bold until moved.
    QVERIFY(!button(QStringLiteral("btnCalibrate"))->font().bold());
    PromptQueue sound;
    QVERIFY(gui->key(Qt::Key_Return));
    QCOMPARE(sound.prompts(), QStringList{"dong"});
    QVERIFY(gui->boxShown());
    QCOMPARE(gui->boxText(), QStringLiteral(" Please confirm you want to calibrate!"));
}

void TestFormTest::noSmsFlag()
{
    HardwareControl::init(0x0100);
    window->resetSubForms();
    window->pushSubForm(form);
    QVERIFY(!button(QStringLiteral("btnSmsTest"))->isEnabled());
    for (int i = 0; i < 3; ++i)
        gui->key(Qt::Key_Down);
    QCOMPARE(form->highlighted()->objectName(), QStringLiteral("btnSmsTest"));
    PromptQueue sound;
    QVERIFY(gui->key(Qt::Key_Return));
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(form));
    QVERIFY(sound.prompts().isEmpty());
}

void TestFormTest::opens_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("prompts");
    const QStringList dong{"dong"};
    QTest::newRow("Ring") << "btnRingTest" << dong;
    QTest::newRow("SMS") << "btnSmsTest" << dong;
    QTest::newRow("Logs") << "btnLogs" << dong;
    QTest::newRow("Init") << "btnInit" << dong;
    QTest::newRow("LCD") << "btnLcdTest" << QStringList{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
}

void TestFormTest::opens()
{
    QFETCH(QString, name);
    QFETCH(QStringList, prompts);
    press(kEntry);
    SubWindow *const expected = name == "btnRingTest"  ? static_cast<SubWindow *>(window->formRingTest)
                                : name == "btnSmsTest" ? static_cast<SubWindow *>(window->formSmsTest)
                                : name == "btnLogs"    ? static_cast<SubWindow *>(window->formLogs)
                                : name == "btnInit"    ? static_cast<SubWindow *>(window->formConfig)
                                                       : static_cast<SubWindow *>(window->formLcdTest);
    PromptQueue sound;
    QTest::mouseClick(button(name), Qt::LeftButton);
    QCOMPARE(sound.prompts(), prompts);
    QCOMPARE(window->topSubForm(), expected);
    QVERIFY(expected->isVisible());
}

void TestFormTest::recalibration_data()
{
    QTest::addColumn<QString>("pointerCal"); // "file", "none" or "folder"
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("restarts");
    QTest::newRow("Cancel") << "file" << int(QMessageBox::Cancel) << false;
    QTest::newRow("Ok") << "file" << int(QMessageBox::Ok) << true;
    QTest::newRow("Ok without pointercal") << "none" << int(QMessageBox::Ok) << true;
    QTest::newRow("pointercal a folder") << "folder" << int(QMessageBox::Ok) << false;
}

void TestFormTest::recalibration()
{
    QFETCH(QString, pointerCal);
    QFETCH(int, answer);
    QFETCH(bool, restarts);
    const QString path = root->path(QLatin1String(kPointerCal));
    if (pointerCal == "file")
        root->writeFile(QLatin1String(kPointerCal), "1 0 0 0 1 0 1\n");
    else if (pointerCal == "folder")
        QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    PromptQueue sound;
    QTest::mouseClick(button(QStringLiteral("btnCalibrate")), Qt::LeftButton);
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Warning"));
    QCOMPARE(box->text(), QStringLiteral(" Please confirm you want to calibrate!"));
    if (QTest::currentDataTag() == QLatin1String("Ok"))
        Screenshot::save(QStringLiteral("tst_formtest/formtest-calibrate-question"));
    const char *answerButton = answer == QMessageBox::Ok ? "btnOK" : "btnCancel";
    QTest::mouseClick(box->findChild<QPushButton *>(QLatin1String(answerButton)), Qt::LeftButton);

    QCOMPARE(MainWindow::isExitRequested(), restarts);
    QCOMPARE(calibrateEntries(*store), restarts ? 1 : 0);
    if (pointerCal == "folder") {
        QCOMPARE(sound.prompts(), (QStringList{"dong", "error"}));
        QVERIFY(box->isActived());
        QCOMPARE(box->title(), QStringLiteral("Error"));
        QCOMPARE(box->text(), QStringLiteral("Can not remove calibration file!"));
        QVERIFY(QFileInfo(path).isDir());
    } else {
        QCOMPARE(sound.prompts(), QStringList{"dong"});
        QCOMPARE(QFileInfo::exists(path), pointerCal == "file" && !restarts);
    }
}

void TestFormTest::touchTestDialog()
{
    const QString pointerCal = root->path(QLatin1String(kPointerCal));
    root->writeFile(QLatin1String(kPointerCal), "kept");
    PromptQueue sound;
    QStringList seen;
    int promptsAfterHits = -1;
    bool frameless = false;
    const bool came = duringDialog([&](DialogCalibrate *dialog) {
        auto *info = dialog->findChild<QLabel *>(QStringLiteral("labInfo"));
        seen << info->text();
        frameless = dialog->windowFlags().testFlag(Qt::FramelessWindowHint)
            && dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint) && dialog->geometry() == QRect(0, 40, 480, 800);
        const char *const targets[] = {"pushButton", "pushButton_2", "pushButton_3", "pushButton_4", "pushButton_4"};
        for (const char *target : targets) {
            QTest::mouseClick(dialog->findChild<QPushButton *>(QLatin1String(target)), Qt::LeftButton);
            seen << info->text();
        }
        QTest::mouseClick(dialog, Qt::LeftButton, {}, QPoint(240, 400)); // a miss
        seen << info->text();
        promptsAfterHits = sound.size();
        Screenshot::save(dialog->grab().toImage(), QStringLiteral("tst_formtest/dialogcalibrate"));
    });
    QVERIFY(came);
    QCOMPARE(seen, (QStringList{"---", "Click 1", "Click 2", "Click 3", "Click 4", "Click 4", "Click 4"}));
    QVERIFY(frameless);
    QCOMPARE(promptsAfterHits, 6); // Calibrate's own, then one per hit
    QCOMPARE(sound.prompts(), QStringList(6, QStringLiteral("dong")));
    QVERIFY(!FormMessage::instance()->isActived());
    QVERIFY(!MainWindow::isExitRequested());
    QCOMPARE(root->readFile(QLatin1String(kPointerCal)), QByteArray("kept"));
    QCOMPARE(calibrateEntries(*store), 0);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    // Opened again: from the start.
    QString again;
    QVERIFY(duringDialog([&](DialogCalibrate *dialog) {
        again = dialog->findChild<QLabel *>(QStringLiteral("labInfo"))->text();
    }));
    QCOMPARE(again, QStringLiteral("---"));
    QVERIFY(QFileInfo::exists(pointerCal));
}

void TestFormTest::keysUnderDialog_data()
{
    QTest::addColumn<int>("qtKey");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Home") << int(Qt::Key_Home);
    QTest::newRow("Up") << int(Qt::Key_Up);
    QTest::newRow("Down") << int(Qt::Key_Down);
}

void TestFormTest::keysUnderDialog()
{
    QFETCH(int, qtKey);
    window->pushSubForm(window->formLogs);
    window->popSubForm(SubWindow::DeactiveHide);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(form));
    bool stillOpen = false;
    int dialogs = 0;
    QWidget *top = nullptr;
    QVERIFY(duringDialog([&](DialogCalibrate *dialog) {
        // The keys arrive as the keyboard sends them: to the focused dialog.
        QTest::keyClick(dialog, Qt::Key(qtKey));
        QTest::keyClick(dialog, Qt::Key(qtKey));
        stillOpen = dialog->isVisible();
        const QWidgetList windows = QApplication::topLevelWidgets();
        dialogs = int(std::count_if(windows.cbegin(), windows.cend(), [](QWidget *w) {
            return qobject_cast<DialogCalibrate *>(w) && w->isVisible();
        }));
        top = window->topSubForm();
    }));
    QVERIFY(stillOpen);
    QCOMPARE(dialogs, 1);
    QCOMPARE(top, static_cast<QWidget *>(form));
    QCOMPARE(form->highlighted()->objectName(), QStringLiteral("btnCalibrate"));
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(form));
}

BRELLIUM_GUI_TEST_MAIN(TestFormTest)

#include "tst_formtest.moc"
