#include "core/myapp.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/formlcdtest.h"

#include "guifixture.h"
#include "promptqueue.h"
#include "screenshot.h"
#include "storagefixture.h"
#include "testroot.h"

#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
constexpr int kScreenTop = 40;   // the screen's place in the window
constexpr int kScreenHeight = 700;
constexpr int kEdge = 3;         // rows in from the edge where colours are sampled
constexpr int kTolerance = 8;

struct Colours
{
    QColor top;
    QColor bottom;
};

// What each step shows at the top and bottom edges.
const Colours kSteps[] = {
    {Qt::red, Qt::red}, {Qt::black, Qt::red}, {Qt::blue, Qt::black}, {Qt::black, Qt::green}, {Qt::red, Qt::cyan},
};

bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= kTolerance && qAbs(a.green() - b.green()) <= kTolerance
        && qAbs(a.blue() - b.blue()) <= kTolerance;
}
} // namespace

// The LCD test: five colour sheets in a ring, a step per press anywhere on
// the screen, red again on every opening.
class TestFormLcdTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void presses_data();
    void presses();
    void doubleTapIsOneStep();
    void reopenedRed();

private:
    void checkColours(int step) const;

    std::unique_ptr<GuiFixture> gui;
    StorageFixture *store = nullptr;
    MainWindow *window = nullptr;
    FormLcdTest *form = nullptr;
};

void TestFormLcdTest::init()
{
    gui = std::make_unique<GuiFixture>();
    store = &gui->store();
    window = gui->window();
    form = window->formLcdTest;
    window->pushSubForm(form);
}

void TestFormLcdTest::cleanup()
{
    gui.reset();
}

void TestFormLcdTest::checkColours(int step) const
{
    const QImage screen = Screenshot::grabScreen();
    for (int x : {5, 240, 470}) {
        const QColor top = screen.pixelColor(x, kScreenTop + kEdge);
        const QColor bottom = screen.pixelColor(x, kScreenTop + kScreenHeight - 1 - kEdge);
        QVERIFY2(near(top, kSteps[step].top), qPrintable(QStringLiteral("step %1 top %2").arg(step).arg(top.name())));
        QVERIFY2(near(bottom, kSteps[step].bottom),
                 qPrintable(QStringLiteral("step %1 bottom %2").arg(step).arg(bottom.name())));
    }
}

void TestFormLcdTest::presses_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("frame") << "frameWidget";
    QTest::newRow("labels") << "label";
}

void TestFormLcdTest::presses()
{
    QFETCH(QString, target);
    QWidget *widget = form->findChild<QWidget *>(target);
    QVERIFY(widget);
    QWidget *other = form->findChild<QLabel *>(QStringLiteral("label_2"));
    checkColours(0);
    if (target == QLatin1String("frameWidget"))
        Screenshot::save(QStringLiteral("tst_formlcdtest/formlcdtest-0"));
    const int expected[] = {1, 2, 3, 4, 0, 1};
    PromptQueue sound;
    for (int i = 0; i < 6; ++i) {
        // Labels in turn with the frame, at a point inside each.
        QWidget *pressed = (target == QLatin1String("label") && i % 2) ? other : widget;
        QTest::mouseClick(pressed, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(form->step(), expected[i]);
        checkColours(expected[i]);
        if (target == QLatin1String("frameWidget") && i < 4)
            Screenshot::save(QStringLiteral("tst_formlcdtest/formlcdtest-%1").arg(expected[i]));
    }
    QCOMPARE(sound.prompts(), QStringList(6, QStringLiteral("dong")));
}

void TestFormLcdTest::doubleTapIsOneStep()
{
    QWidget *frame = form->findChild<QWidget *>(QStringLiteral("frameWidget"));
    // A quick double tap: press and release, then a double click and release.
    const QPoint at(100, 100);
    QTest::mouseClick(frame, Qt::LeftButton, {}, at);
    QMouseEvent second(QEvent::MouseButtonDblClick, at, frame->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                       Qt::NoModifier);
    QCoreApplication::sendEvent(frame, &second);
    QTest::mouseRelease(frame, Qt::LeftButton, {}, at);
    QCOMPARE(form->step(), 1);
}

void TestFormLcdTest::reopenedRed()
{
    for (int i = 0; i < 3; ++i)
        form->onClick();
    QCOMPARE(form->step(), 3);
    window->popSubForm(SubWindow::DeactiveHide);
    window->pushSubForm(form);
    QCOMPARE(form->step(), 0);
    checkColours(0);
}

BRELLIUM_GUI_TEST_MAIN(TestFormLcdTest)

#include "tst_formlcdtest.moc"
