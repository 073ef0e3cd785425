#include "ui/basewindow.h"
#include "ui/formmessage.h"
#include "ui/formmessagehandler.h"

#include "screenshot.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

class RecordingHandler : public FormMessageHandler
{
public:
    void onFormMessage(QMessageBox::StandardButton button, void *data) override
    {
        answers << int(button);
        nullData = nullData && data == nullptr;
    }
    QList<int> answers;
    bool nullData = true;
};

class StubWindow : public BaseWindow
{
public:
    bool doKeyPress(QKeyEvent *) override { return false; }
};

QPushButton *button(const char *name)
{
    return FormMessage::instance()->findChild<QPushButton *>(QLatin1String(name));
}

bool key(int k)
{
    QKeyEvent event(QEvent::KeyPress, k, Qt::NoModifier);
    return FormMessage::instance()->doKeyPress(&event);
}

constexpr int kNone = -1;
const QMessageBox::StandardButtons kQuestion = QMessageBox::Ok | QMessageBox::Cancel;

} // namespace

// The one message box: refilling, parents disabled and enabled again on
// every closing path, answers to the handler, and the locked progress box.
class TestFormMessage : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void look_threeKinds();
    void closingPath_data();
    void closingPath();
    void sameParent_refillsInPlace();
    void otherParent_reenablesFirst();
    void progressBox_ignoresEscapeUntilNextBox();
    void unknownButtons_keepPreviousPlacement();

private:
    std::unique_ptr<StubWindow> window;
    SubWindow *a = nullptr;
    SubWindow *b = nullptr;
};

void TestFormMessage::init()
{
    window = std::make_unique<StubWindow>();
    window->resize(480, 800);
    window->show();
    a = new SubWindow(window.get());
    b = new SubWindow(window.get());
}

void TestFormMessage::cleanup()
{
    FormMessage::destroyInstance();
    window.reset();
}

void TestFormMessage::look_threeKinds()
{
    struct Kind
    {
        const char *name;
        QMessageBox::StandardButtons buttons;
        const char *title;
        const char *text;
    };
    const Kind kinds[] = {
        {"box-notice", QMessageBox::Ok, "Success", "Race saved."},
        {"box-question", kQuestion, "Warning", "Delete the race\nand all its arrivals?"},
        {"box-progress", QMessageBox::NoButton, "Print", "Printing page 2 of 5 ..."},
    };
    for (const Kind &kind : kinds) {
        FormMessage::information(a, QLatin1String(kind.title), QLatin1String(kind.text), kind.buttons, nullptr);
        QImage image = FormMessage::instance()->grab().toImage();
        QCOMPARE(image.size(), QSize(480, 240));
        QVERIFY(!Screenshot::save(image, QLatin1String(kind.name)).isEmpty());
    }
    QCOMPARE(FormMessage::instance()->pos(), QPoint(0, 240));
    QVERIFY(FormMessage::instance()->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(FormMessage::instance()->windowFlags() & Qt::WindowStaysOnTopHint);
}

void TestFormMessage::closingPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("answer");
    QTest::newRow("OK button") << "ok" << int(QMessageBox::Ok);
    QTest::newRow("Cancel button") << "cancel" << int(QMessageBox::Cancel);
    QTest::newRow("Return") << "return" << int(QMessageBox::Ok);
    QTest::newRow("Enter") << "enter" << int(QMessageBox::Ok);
    QTest::newRow("Escape (stack pop)") << "escape" << kNone;
    QTest::newRow("deactive") << "deactive" << kNone;
}

void TestFormMessage::closingPath()
{
    QFETCH(QString, path);
    QFETCH(int, answer);
    RecordingHandler handler;
    window->pushSubForm(a);
    FormMessage::information(a, QStringLiteral("Warning"), QStringLiteral("Sure?"), kQuestion, &handler);
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived() && box->isVisible() && !a->isEnabled());
    QCOMPARE(button("btnOK")->pos(), QPoint(70, 180));
    QCOMPARE(button("btnCancel")->pos(), QPoint(260, 180));

    if (path == QLatin1String("ok"))
        QTest::mouseClick(button("btnOK"), Qt::LeftButton);
    else if (path == QLatin1String("cancel"))
        QTest::mouseClick(button("btnCancel"), Qt::LeftButton);
    else if (path == QLatin1String("return"))
        QVERIFY(key(Qt::Key_Return));
    else if (path == QLatin1String("enter"))
        QVERIFY(key(Qt::Key_Enter));
    else if (path == QLatin1String("escape"))
        window->popSubForm(SubWindow::DeactiveHide);
    else
        box->deactive();

    QVERIFY(!box->isActived() && box->isHidden());
    QVERIFY(a->isEnabled());
    QCOMPARE(window->topSubForm(), a);
    QCOMPARE(handler.answers, answer == kNone ? QList<int>() : QList<int>{answer});
    QVERIFY(handler.nullData);
    QVERIFY(!key(Qt::Key_Escape)); // other keys go on to normal delivery
}

void TestFormMessage::sameParent_refillsInPlace()
{
    RecordingHandler first;
    RecordingHandler second;
    FormMessage::information(a, QStringLiteral("Warning"), QStringLiteral("Stop the race?"), kQuestion, &first);
    FormMessage::information(a, QStringLiteral("Success"), QStringLiteral("Stopped."), QMessageBox::Ok, &second);
    FormMessage *box = FormMessage::instance();
    QCOMPARE(box->title(), QStringLiteral("Success"));
    QCOMPARE(box->text(), QStringLiteral("Stopped."));
    QVERIFY(button("btnCancel")->isHidden());
    QCOMPARE(button("btnOK")->pos(), QPoint(160, 180));
    QVERIFY(!a->isEnabled());

    QTest::mouseClick(button("btnOK"), Qt::LeftButton);
    QVERIFY(first.answers.isEmpty());
    QCOMPARE(second.answers, QList<int>{int(QMessageBox::Ok)});
    QVERIFY(a->isEnabled());
}

void TestFormMessage::otherParent_reenablesFirst()
{
    FormMessage::information(a, QStringLiteral("Warning"), QStringLiteral("A"), QMessageBox::Ok, nullptr);
    QVERIFY(!a->isEnabled());
    FormMessage::information(b, QStringLiteral("Warning"), QStringLiteral("B"), QMessageBox::Ok, nullptr);
    QVERIFY(a->isEnabled());
    QVERIFY(!b->isEnabled());
    FormMessage::instance()->deactive();
    QVERIFY(b->isEnabled());
}

void TestFormMessage::progressBox_ignoresEscapeUntilNextBox()
{
    window->pushSubForm(a);
    window->pushSubForm(b);
    FormMessage::information(b, QStringLiteral("Print"), QStringLiteral("Printing..."), QMessageBox::NoButton, nullptr);
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isLocked());
    QVERIFY(button("btnOK")->isHidden() && button("btnCancel")->isHidden());

    window->popSubForm(SubWindow::DeactiveHide); // Escape or Back
    QVERIFY(box->isActived());
    QCOMPARE(window->topSubForm(), b);

    box->setText(QStringLiteral("Page 2"));
    QCOMPARE(box->text(), QStringLiteral("Page 2"));
    QCOMPARE(box->title(), QStringLiteral("Print"));
    QVERIFY(box->isLocked() && button("btnOK")->isHidden());

    QVERIFY(key(Qt::Key_Return));
    QVERIFY(!box->isActived() && box->isHidden());
    QVERIFY(box->isLocked());
    QVERIFY(b->isEnabled());
    window->popSubForm(SubWindow::DeactiveHide); // still dead
    QCOMPARE(window->topSubForm(), b);

    FormMessage::information(b, QStringLiteral("Success"), QStringLiteral("Print OK!"), QMessageBox::Ok, nullptr);
    QVERIFY(!box->isLocked());
    window->popSubForm(SubWindow::DeactiveHide); // closes the notice
    QVERIFY(!box->isActived());
    window->popSubForm(SubWindow::DeactiveHide); // and now the screen
    QCOMPARE(window->topSubForm(), a);
}

void TestFormMessage::unknownButtons_keepPreviousPlacement()
{
    FormMessage::information(a, QStringLiteral("Warning"), QStringLiteral("Sure?"), kQuestion, nullptr);
    FormMessage::information(a, QStringLiteral("Warning"), QStringLiteral("Again?"), QMessageBox::Yes, nullptr);
    QCOMPARE(button("btnOK")->pos(), QPoint(70, 180));
    QVERIFY(!button("btnCancel")->isHidden());
    QVERIFY(!FormMessage::instance()->isLocked());
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Again?"));
}

QTEST_MAIN(TestFormMessage)
#include "tst_formmessage.moc"
