#include "core/myapp.h"
#include "core/servicefactory.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/formsmstest.h"
#include "ui/settings/formtest.h"

#include "guifixture.h"
#include "networkrig.h"
#include "promptqueue.h"
#include "screenshot.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
constexpr int kWaitMs = NetworkRig::kWaitMs;
const QString kSend = QStringLiteral("pushButtonSend");

int cregPolls(const NetworkRig &rig)
{
    int polls = 0;
    for (const QByteArray &command : rig.peer.commands())
        polls += command.startsWith("AT+CREG?") ? 1 : 0;
    return polls;
}
} // namespace

// The SMS test: the digit pad, the refusals, and the number handed to the
// race engine for the modem thread's next SMS turn.
class TestFormSmsTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void send_data();
    void send();
    void pad();
    void noServices();
    void secondSendReplacesFirst();

private:
    void build(bool services);
    void click(const QString &name);
    void type(const QString &digits);
    void registration(int status);
    QString field() const;

    std::unique_ptr<NetworkRig> rig;
    std::unique_ptr<GuiFixture> gui;
    MainWindow *window = nullptr;
    FormSmsTest *form = nullptr;
};

void TestFormSmsTest::init()
{
    build(true);
}

void TestFormSmsTest::build(bool services)
{
    rig = std::make_unique<NetworkRig>();
    QVERIFY(rig->isReady());
    if (services)
        ServiceFactory::getInstance()->pigeonBo = &rig->engine;
    else
        ServiceFactory::getInstance()->gsmService = nullptr;
    gui = std::make_unique<GuiFixture>(&rig->db);
    window = gui->window();
    form = window->formSmsTest;
    window->pushSubForm(form);
}

void TestFormSmsTest::cleanup()
{
    gui.reset();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    rig.reset();
}

void TestFormSmsTest::click(const QString &name)
{
    auto *button = form->findChild<QPushButton *>(name);
    QVERIFY2(button, qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

void TestFormSmsTest::type(const QString &digits)
{
    for (const QChar digit : digits)
        click(QStringLiteral("pushButton") + digit);
}

QString TestFormSmsTest::field() const
{
    return form->findChild<QLineEdit *>(QStringLiteral("txtPhoneCode"))->text();
}

// Sets the registration at the modem and waits until the modem thread has
// asked for it twice since.
void TestFormSmsTest::registration(int status)
{
    rig->start();
    const int before = cregPolls(*rig);
    rig->peer.update([status](ModemState &s) { s.registration = status; });
    QTRY_VERIFY_WITH_TIMEOUT(cregPolls(*rig) >= before + 2, kWaitMs);
    const bool registered = status == 1 || status == 5;
    QTRY_COMPARE_WITH_TIMEOUT(bool(rig->service.getGSMState().flags & 0x40), registered, kWaitMs);
}

void TestFormSmsTest::send_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("blank field") << "" << 1 << "Error" << "Please input phonecode!";
    QTest::newRow("searching") << "4917" << 2 << "Error" << "Gsm is not online!";
    QTest::newRow("not registered") << "4917" << 0 << "Error" << "Gsm is not online!";
    QTest::newRow("home") << "4917" << 1 << "Success" << "Sms has sent!";
    QTest::newRow("roaming") << "0049170" << 5 << "Success" << "Sms has sent!";
}

void TestFormSmsTest::send()
{
    QFETCH(QString, number);
    QFETCH(int, status);
    QFETCH(QString, title);
    QFETCH(QString, text);
    registration(status);
    type(number);
    PromptQueue sound;
    click(kSend);
    const bool sent = title == QLatin1String("Success");
    QCOMPARE(sound.prompts(), QStringList{sent ? "ok" : "error"});
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), title);
    QCOMPARE(box->text(), text);
    QCOMPARE(field(), number); // a refusal leaves the field
    if (QTest::currentDataTag() == QLatin1String("home"))
        Screenshot::save(QStringLiteral("tst_formsmstest/formsmstest-sent"));
    // The SMS itself leaves on the modem thread's turn, which runs only
    // while the modem is registered.
    if (status != 1 && status != 5)
        return;
    QCOMPARE(rig->runTurn(TurnGate::Sms), sent ? 0 : 1);
    QCOMPARE(rig->peer.sms().size(), sent ? 1 : 0);
    if (sent)
        QCOMPARE(rig->peer.sms().first().number, number.toLatin1());
}

void TestFormSmsTest::pad()
{
    // The prompt queue holds ten: a fresh one per step.
    {
        PromptQueue sound;
        click(QStringLiteral("pushButtonDel")); // on empty: the click only
        QCOMPARE(field(), QString());
        QCOMPARE(sound.prompts(), QStringList{"keyPress"});
    }
    {
        PromptQueue sound;
        type(QStringLiteral("0123456789"));
        QCOMPARE(sound.prompts(), QStringList(10, QStringLiteral("keyPress")));
    }
    PromptQueue sound;
    click(QStringLiteral("pushButtonDel"));
    click(QStringLiteral("pushButtonDel"));
    type(QStringLiteral("7"));
    QCOMPARE(field(), QStringLiteral("012345677"));
    QCOMPARE(sound.prompts(), QStringList(3, QStringLiteral("keyPress")));
    Screenshot::save(QStringLiteral("tst_formsmstest/formsmstest"));
    // Kept across leaving and returning.
    window->popSubForm(SubWindow::DeactiveHide);
    window->pushSubForm(window->formTest);
    window->pushSubForm(form);
    QCOMPARE(field(), QStringLiteral("012345677"));
    QVERIFY(!FormMessage::instance()->isActived());
}

void TestFormSmsTest::noServices()
{
    cleanup();
    build(false);
    type(QStringLiteral("4917"));
    PromptQueue sound;
    click(kSend);
    QCOMPARE(sound.prompts(), QStringList{"error"});
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Gsm is not online!"));
}

void TestFormSmsTest::secondSendReplacesFirst()
{
    registration(1);
    type(QStringLiteral("111"));
    click(kSend);
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Sms has sent!"));
    FormMessage::instance()->deactive();
    click(QStringLiteral("pushButtonDel"));
    type(QStringLiteral("2"));
    click(kSend);
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Sms has sent!"));
    QCOMPARE(rig->runTurn(TurnGate::Sms), 0);
    QCOMPARE(rig->peer.sms().size(), 1);
    QCOMPARE(rig->peer.sms().first().number, QByteArray("112"));
}

BRELLIUM_GUI_TEST_MAIN(TestFormSmsTest)

#include "tst_formsmstest.moc"
