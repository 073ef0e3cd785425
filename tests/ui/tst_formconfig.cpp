#include "core/myapp.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/formconfig.h"

#include "guifixture.h"
#include "promptqueue.h"
#include "screenshot.h"
#include "storagefixture.h"
#include "testroot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
const char kConfig[] = "/app/main_program.config";
const unsigned int kBits[] = {0x0001, 0x0002, 0x0004, 0x0008, 0x0010, 0x0020,
                              0x0040, 0x0080, 0x0100, 0x0200, 0x0400};

QCheckBox *boxOf(FormConfig *form, unsigned int bit)
{
    return form->findChild<QCheckBox *>(QStringLiteral("chkConfig%1").arg(bit, 4, 16, QLatin1Char('0')));
}

QJsonObject objectOf(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}
} // namespace

// The configuration screen: the word in force shown, saved into the file
// with the other members kept, and the restart that applies it.
class TestFormConfig : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void showsWordInForce_data();
    void showsWordInForce();
    void save_data();
    void save();
    void saveFails_data();
    void saveFails();
    void escapeDiscardsChanges();

private:
    void open(unsigned int word);
    int restartEntries() const;
    void clickSave();

    std::unique_ptr<GuiFixture> gui;
    StorageFixture *store = nullptr;
    TestRoot *root = nullptr;
    MainWindow *window = nullptr;
    FormConfig *form = nullptr;
};

void TestFormConfig::init()
{
    gui = std::make_unique<GuiFixture>();
    store = &gui->store();
    root = &gui->root();
    window = gui->window();
    form = window->formConfig;
}

void TestFormConfig::cleanup()
{
    gui.reset();
}

void TestFormConfig::open(unsigned int word)
{
    HardwareControl::init(word);
    window->resetSubForms();
    window->pushSubForm(form);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(form));
}

int TestFormConfig::restartEntries() const
{
    return store->value(QStringLiteral("select count(*) from Log where LogType=15 and LogInfo like '%Manual restart%'"))
        .toInt();
}

void TestFormConfig::clickSave()
{
    QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("btnButtonReset")), Qt::LeftButton);
}

void TestFormConfig::showsWordInForce_data()
{
    QTest::addColumn<unsigned int>("word");
    QTest::addColumn<QString>("modem");
    QTest::newRow("nothing") << 0u << "UBLOX";
    QTest::newRow("EC25 and close upload") << 0x0801u << "EC25";
    QTest::newRow("TELIT, no SMS, prenom") << 0x1500u << "TELIT";
    QTest::newRow("both modem bits") << 0x1800u << "UBLOX";
    QTest::newRow("every flag and bits above") << 0xFFFFE7FFu << "UBLOX";
}

void TestFormConfig::showsWordInForce()
{
    QFETCH(unsigned int, word);
    QFETCH(QString, modem);
    // Edited since start: not in force, not shown.
    root->setConfig("{\"userSettings\":2047}");
    open(word);
    for (unsigned int bit : kBits)
        QCOMPARE(boxOf(form, bit)->isChecked(), bool(word & bit));
    QCOMPARE(form->findChild<QComboBox *>(QStringLiteral("cmbConfig1800"))->currentText(), modem);
    // Saving keeps only the boxes and the modem field.
    const unsigned int expected = (word & 0x07FF) | (modem == "EC25" ? 0x0800 : modem == "TELIT" ? 0x1000 : 0);
    QCOMPARE(form->shownWord(), expected);
    if (QTest::currentDataTag() == QLatin1String("EC25 and close upload"))
        Screenshot::save(QStringLiteral("tst_formconfig/formconfig"));
}

void TestFormConfig::save_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QList<int>>("toggle"); // boxes to click, by bit
    QTest::addColumn<int>("modemIndex");
    QTest::addColumn<unsigned int>("word");
    QTest::newRow("missing file") << QByteArray() << QList<int>{0x0001, 0x0400} << 0 << 1025u;
    QTest::newRow("members kept")
        << QByteArray("{\"zeta\":[1,{\"b\":null}],\"apn\":\"cmnet\",\"userSettings\":\"7\",\"big\":12345678901234}")
        << QList<int>{0x0040} << 2 << 0x1040u;
    QTest::newRow("garbage") << QByteArray("\xff{{") << QList<int>{} << 1 << 0x0800u;
    QTest::newRow("array") << QByteArray("[1,2]") << QList<int>{0x0100, 0x0200} << 0 << 0x0300u;
}

void TestFormConfig::save()
{
    QFETCH(QByteArray, old);
    QFETCH(QList<int>, toggle);
    QFETCH(int, modemIndex);
    QFETCH(unsigned int, word);
    if (old.isEmpty())
        QVERIFY(QFile::remove(root->path(QLatin1String(kConfig))));
    else
        root->setConfig(old);
    open(0);
    for (int bit : toggle)
        QTest::mouseClick(boxOf(form, bit), Qt::LeftButton, {}, QPoint(12, 19));
    form->findChild<QComboBox *>(QStringLiteral("cmbConfig1800"))->setCurrentIndex(modemIndex);
    root->clearBoardCommands();
    PromptQueue sound;
    clickSave();

    const QByteArray text = root->readFile(QLatin1String(kConfig));
    QCOMPARE(MyApp::parseUserSettings(text), word);
    QJsonObject expected = objectOf(old);
    expected.insert(QStringLiteral("userSettings"), qint64(word));
    QCOMPARE(objectOf(text), expected);
    QCOMPARE(root->boardCommands(), QStringList{"sync"});
    QCOMPARE(sound.prompts(), QStringList{"dong"});
    QCOMPARE(restartEntries(), 1);
    QVERIFY(MainWindow::isExitRequested());
    QVERIFY(!FormMessage::instance()->isActived());
}

void TestFormConfig::saveFails_data()
{
    QTest::addColumn<QString>("broken");
    QTest::newRow("folder in the file's place") << QStringLiteral("folder");
    QTest::newRow("app folder missing") << QStringLiteral("no app");
}

void TestFormConfig::saveFails()
{
    QFETCH(QString, broken);
    const QString file = root->path(QLatin1String(kConfig));
    open(0x0801);
    if (broken == QLatin1String("folder")) {
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().mkpath(file));
    } else {
        // The database lies in app/work: move it aside with the folder.
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().rename(root->path(QStringLiteral("/app")), root->path(QStringLiteral("/aside"))));
    }
    const int before = store->value(QStringLiteral("select count(*) from Log")).toInt();
    root->clearBoardCommands();
    PromptQueue sound;
    clickSave();
    QCOMPARE(sound.prompts(), QStringList{"error"});
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Error"));
    QCOMPARE(box->text(), QStringLiteral("Configuration not saved!"));
    QVERIFY(!MainWindow::isExitRequested());
    QVERIFY(root->boardCommands().isEmpty());
    if (broken == QLatin1String("folder")) {
        QVERIFY(QFileInfo(file).isDir());
        QCOMPARE(store->value(QStringLiteral("select count(*) from Log")).toInt(), before);
        Screenshot::save(QStringLiteral("tst_formconfig/formconfig-not-saved"));
    } else {
        QVERIFY(!QFileInfo::exists(root->path(QStringLiteral("/app"))));
        QVERIFY(QDir().rename(root->path(QStringLiteral("/aside")), root->path(QStringLiteral("/app"))));
        QCOMPARE(store->value(QStringLiteral("select count(*) from Log")).toInt(), before);
    }
}

void TestFormConfig::escapeDiscardsChanges()
{
    open(0x1021);
    QTest::mouseClick(boxOf(form, 0x0001), Qt::LeftButton, {}, QPoint(12, 19));
    QTest::mouseClick(boxOf(form, 0x0400), Qt::LeftButton, {}, QPoint(12, 19));
    form->findChild<QComboBox *>(QStringLiteral("cmbConfig1800"))->setCurrentIndex(1);
    QCOMPARE(form->shownWord(), 0x0C20u);
    QTest::keyClick(form, Qt::Key_Escape);
    QCOMPARE(window->topSubForm(), nullptr);
    window->pushSubForm(form);
    QCOMPARE(form->shownWord(), 0x1021u);
    QVERIFY(!MainWindow::isExitRequested());
}

BRELLIUM_GUI_TEST_MAIN(TestFormConfig)

#include "tst_formconfig.moc"
