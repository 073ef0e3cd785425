#include "ui/formkeyboard.h"

#include "promptqueue.h"
#include "screenshot.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

// The on-screen keyboard: the code each key announces in both letter cases,
// the Caps key, and keys that never take the focus from the edited field.
class TestFormKeyBoard : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void key_data();
    void key();
    void caps_switchesLettersAndPicture();
    void keys_leaveFocusOnField();

private:
    QPushButton *keyButton(const QString &name) const;
    std::unique_ptr<QWidget> page;
    FormKeyBoard *keyboard = nullptr;
    QLineEdit *edit = nullptr;
};

void TestFormKeyBoard::init()
{
    page = std::make_unique<QWidget>();
    page->resize(480, 300);
    edit = new QLineEdit(page.get());
    edit->setGeometry(10, 10, 200, 30);
    keyboard = new FormKeyBoard(page.get());
    keyboard->move(0, 59);
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
}

void TestFormKeyBoard::cleanup()
{
    page.reset();
}

QPushButton *TestFormKeyBoard::keyButton(const QString &name) const
{
    return keyboard->findChild<QPushButton *>(name);
}

void TestFormKeyBoard::key_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("caps");
    QTest::addColumn<int>("code");
    QTest::newRow("0") << "btnKey0" << true << int('0');
    QTest::newRow("9") << "btnKey9" << true << int('9');
    QTest::newRow("5 small") << "btnKey5" << false << int('5');
    QTest::newRow("A caps") << "btnKeyA" << true << int('A');
    QTest::newRow("A small") << "btnKeyA" << false << int('a');
    QTest::newRow("Z caps") << "btnKeyZ" << true << int('Z');
    QTest::newRow("Z small") << "btnKeyZ" << false << int('z');
    QTest::newRow("Q small") << "btnKeyQ" << false << int('q');
    QTest::newRow("hyphen") << "btnKey_" << true << int('-');
    QTest::newRow("hyphen small") << "btnKey_" << false << int('-');
    QTest::newRow("point") << "btnKeyNot" << true << int('.');
    QTest::newRow("Backspace") << "btnKeyBack" << true << int(Qt::Key_Backspace);
    QTest::newRow("Backspace small") << "btnKeyBack" << false << int(Qt::Key_Backspace);
}

void TestFormKeyBoard::key()
{
    QFETCH(QString, button);
    QFETCH(bool, caps);
    QFETCH(int, code);
    keyboard->setCaps(caps);
    PromptQueue sound;
    QList<int> queuedAtSignal;
    connect(keyboard, &FormKeyBoard::keyPress, this, [&] { queuedAtSignal << sound.size(); });
    QSignalSpy spy(keyboard, &FormKeyBoard::keyPress);
    QPushButton *key = keyButton(button);
    QVERIFY(key);
    QTest::mouseClick(key, Qt::LeftButton);
    QTest::mouseClick(key, Qt::LeftButton);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.first().first().toInt(), code);
    QVERIFY(code != 8); // never the ASCII backspace
    // One key sound per press, each queued before its signal.
    QCOMPARE(sound.prompts(), (QStringList{"keyPress", "keyPress"}));
    QCOMPARE(queuedAtSignal, (QList<int>{1, 2}));
    disconnect(keyboard, &FormKeyBoard::keyPress, this, nullptr);
}

void TestFormKeyBoard::caps_switchesLettersAndPicture()
{
    QVERIFY(keyboard->isCaps());
    QVERIFY(keyButton(QStringLiteral("btnKeyCaps"))->styleSheet().contains(QLatin1String("shift_on.png")));
    QCOMPARE(keyButton(QStringLiteral("btnKeyM"))->text(), QStringLiteral("M"));
    QVERIFY(!Screenshot::save(keyboard->grab().toImage(), QStringLiteral("keyboard-capitals")).isEmpty());

    PromptQueue sound;
    QSignalSpy spy(keyboard, &FormKeyBoard::keyPress);
    QTest::mouseClick(keyButton(QStringLiteral("btnKeyCaps")), Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(sound.prompts(), QStringList{"keyPress"});
    QVERIFY(!keyboard->isCaps());
    QVERIFY(keyButton(QStringLiteral("btnKeyCaps"))->styleSheet().contains(QLatin1String("shift_off.png")));
    for (char c = 'A'; c <= 'Z'; ++c)
        QCOMPARE(keyButton(QStringLiteral("btnKey") + QLatin1Char(c))->text(), QString(QLatin1Char(char(c + 32))));
    QCOMPARE(keyButton(QStringLiteral("btnKey7"))->text(), QStringLiteral("7"));
    QVERIFY(!Screenshot::save(keyboard->grab().toImage(), QStringLiteral("keyboard-small")).isEmpty());

    QTest::mouseClick(keyButton(QStringLiteral("btnKeyCaps")), Qt::LeftButton);
    QVERIFY(keyboard->isCaps());
    QCOMPARE(keyButton(QStringLiteral("btnKeyM"))->text(), QStringLiteral("M"));
}

void TestFormKeyBoard::keys_leaveFocusOnField()
{
    const QList<QPushButton *> keys = keyboard->findChildren<QPushButton *>();
    QCOMPARE(keys.size(), 40);
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    for (QPushButton *key : keys) {
        QCOMPARE(key->focusPolicy(), Qt::NoFocus);
        QCOMPARE(key->size(), QSize(42, 52));
        QTest::mouseClick(key, Qt::LeftButton);
    }
    QVERIFY(edit->hasFocus());
}

QTEST_MAIN(TestFormKeyBoard)
#include "tst_formkeyboard.moc"
