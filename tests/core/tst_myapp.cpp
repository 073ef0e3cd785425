#include "core/myapp.h"
#include "core/servicefactory.h"

#include "messagecapture.h"
#include "testroot.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

class TestMyApp : public QObject
{
    Q_OBJECT
private slots:
    void userSettings_data();
    void userSettings();
    void init_withoutConfig_logsEmptyText();
    void navigationKey_data();
    void navigationKey();
    void escapeNotConsumed_reachesFocusedWidget();
    void raceMode_data();
    void raceMode();
    void tickCount_isMonotonicSixtyFourBit();
};

void TestMyApp::userSettings_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<uint>("flags");
    QTest::newRow("value") << QByteArray("{\"userSettings\":2049}") << 2049u;
    QTest::newRow("largest") << QByteArray("{\"userSettings\":4294967295}") << 4294967295u;
    QTest::newRow("missing key") << QByteArray("{\"other\":5}") << 0u;
    QTest::newRow("empty text") << QByteArray() << 0u;
    QTest::newRow("not json") << QByteArray("userSettings=5") << 0u;
    QTest::newRow("array") << QByteArray("[5]") << 0u;
    QTest::newRow("string value") << QByteArray("{\"userSettings\":\"5\"}") << 0u;
    QTest::newRow("negative") << QByteArray("{\"userSettings\":-1}") << 0u;
    QTest::newRow("too large") << QByteArray("{\"userSettings\":4294967296}") << 0u;
    QTest::newRow("fraction") << QByteArray("{\"userSettings\":1.5}") << 0u;
    QTest::newRow("truncated") << QByteArray("{\"userSettings\":12") << 0u;
}

void TestMyApp::userSettings()
{
    QFETCH(QByteArray, config);
    QFETCH(uint, flags);
    QCOMPARE(MyApp::parseUserSettings(config), flags);
}

void TestMyApp::init_withoutConfig_logsEmptyText()
{
    TestRoot root;
    QFile::remove(root.path(QStringLiteral("/app/main_program.config")));
    root.activate();
    MessageCapture capture;
    MyApp::init();
    QVERIFY(capture.contains(QStringLiteral("main app config: \"\"")));
}

void TestMyApp::navigationKey_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("navigation");
    QTest::newRow("Escape") << int(Qt::Key_Escape) << true;
    QTest::newRow("Return") << int(Qt::Key_Return) << true;
    QTest::newRow("Enter") << int(Qt::Key_Enter) << true;
    QTest::newRow("Home") << int(Qt::Key_Home) << true;
    QTest::newRow("Up") << int(Qt::Key_Up) << true;
    QTest::newRow("Down") << int(Qt::Key_Down) << true;
    QTest::newRow("Left") << int(Qt::Key_Left) << false;
    QTest::newRow("Right") << int(Qt::Key_Right) << false;
    QTest::newRow("Tab") << int(Qt::Key_Tab) << false;
    QTest::newRow("End") << int(Qt::Key_End) << false;
    QTest::newRow("Shift (past the range)") << int(Qt::Key_Shift) << false;
    QTest::newRow("letter A") << int(Qt::Key_A) << false;
}

void TestMyApp::navigationKey()
{
    QFETCH(int, key);
    QFETCH(bool, navigation);
    QCOMPARE(MyApp::isNavigationKey(key), navigation);
}

void TestMyApp::escapeNotConsumed_reachesFocusedWidget()
{
    // The main window stands aside for keys it does not consume: Escape and
    // Left both arrive at the focused widget.
    struct KeyCounter : QObject
    {
        QList<int> keys;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::KeyPress)
                keys << static_cast<QKeyEvent *>(event)->key();
            return false;
        }
    } counter;
    TestRoot root; // the main window's close port then follows BRELLIUM_CLOSE_PORT
    root.activate();
    QLineEdit edit;
    edit.installEventFilter(&counter);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.setFocus();
    QTest::keyClick(&edit, Qt::Key_Escape);
    QTest::keyClick(&edit, Qt::Key_Left);
    QCOMPARE(counter.keys, (QList<int>{Qt::Key_Escape, Qt::Key_Left}));
}

void TestMyApp::raceMode_data()
{
    QTest::addColumn<int>("channelMode");
    QTest::addColumn<int>("raceMode");
    QTest::newRow("0") << 0 << 0x311;
    QTest::newRow("1") << 1 << 0x111;
    QTest::newRow("-3") << -3 << 0x111;
}

void TestMyApp::raceMode()
{
    QFETCH(int, channelMode);
    QFETCH(int, raceMode);
    QCOMPARE(ServiceFactory::raceModeFor(channelMode), raceMode);
}

void TestMyApp::tickCount_isMonotonicSixtyFourBit()
{
    const qint64 first = ServiceFactory::getTickCount();
    QVERIFY(first >= 0);
    QVERIFY(ServiceFactory::getTickCount() >= first);
}

int main(int argc, char *argv[])
{
    MyApp app(argc, argv);
    TestMyApp test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_myapp.moc"
