#include "club/morlanprotolprocess.h"
#include "core/vexexception.h"
#include "print/racemarkreport.h"
#include "ui/busyhold.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/subwindow.h"

#include "clubportpeer.h"
#include "guifixture.h"
#include "reportfixture.h"

#include <QDialog>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

namespace {

// A screen whose action holds the busy hold for its whole length, as the
// screens do around a print or a club call.
class WorkScreen : public SubWindow
{
public:
    using SubWindow::SubWindow;
    bool run(const std::function<void()> &work)
    {
        return guardedCall("WorkScreen::run", this, [this, &work] {
            BusyHold hold(this);
            work();
        });
    }
};

struct StackState
{
    int count = 0;
    SubWindow *top = nullptr;
    bool operator==(const StackState &o) const { return count == o.count && top == o.top; }
};

} // namespace

// While a screen's print or club call runs, nothing the fancier presses can
// take the screen away; once it ends, by answer or by time-out, Home works.
class TestBusyHold : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void navigationHeldDuringCall_data();
    void navigationHeldDuringCall();
    void holdEndsWithItsScreen();
    void modalDialogKeepsKeys_data();
    void modalDialogKeepsKeys();

private:
    StackState stack() const;
    // Home, Back, Escape, and Return on a box followed by Home; each must
    // leave the stack as it was.
    void tryToLeave(WorkScreen *screen, int *attempts);

    std::unique_ptr<ReportFixture> report;
    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<WorkScreen> under;
    std::unique_ptr<WorkScreen> screen;
};

void TestBusyHold::init()
{
    report = std::make_unique<ReportFixture>();
    QVERIFY(report->startClub());
    gui = std::make_unique<GuiFixture>(&report->store());
    under = std::make_unique<WorkScreen>(gui->window());
    screen = std::make_unique<WorkScreen>(gui->window());
    gui->push(under.get());
    gui->push(screen.get());
}

void TestBusyHold::cleanup()
{
    if (gui)
        gui->window()->resetSubForms();
    screen.reset();
    under.reset();
    gui.reset();
    report.reset();
}

StackState TestBusyHold::stack() const
{
    return StackState{gui->window()->subFormCount(), gui->top()};
}

void TestBusyHold::tryToLeave(WorkScreen *busy, int *attempts)
{
    ++*attempts;
    QVERIFY(busy->isBusy());
    const StackState before = stack();
    gui->key(Qt::Key_Home);
    QVERIFY(stack() == before);
    auto *back = gui->window()->findChild<QPushButton *>(QStringLiteral("pushButtonBack"));
    QVERIFY(back);
    QTest::mouseClick(back, Qt::LeftButton);
    QVERIFY(stack() == before);
    gui->key(Qt::Key_Escape);
    QVERIFY(stack() == before);
    // A box the screen shows meanwhile stays on Return, and Home after it
    // still finds the screen busy.
    FormMessage::information(busy, QStringLiteral("Print"), QStringLiteral("Printing..."), QMessageBox::Ok, nullptr);
    gui->key(Qt::Key_Return);
    QVERIFY(GuiFixture::boxShown());
    gui->key(Qt::Key_Home);
    QVERIFY(stack() == before);
}

void TestBusyHold::navigationHeldDuringCall_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("routerSilent");
    QTest::newRow("print answered") << "print" << false;
    QTest::newRow("print, router falls silent") << "print" << true;
    QTest::newRow("club call timing out") << "time" << true;
}

void TestBusyHold::navigationHeldDuringCall()
{
    QFETCH(QString, call);
    QFETCH(bool, routerSilent);
    if (routerSilent) {
        report->link().setSyncTimeoutMs(400);
        ClubPortPeer::Fault silence;
        silence.kind = ClubPortPeer::Fault::Silence;
        report->peer().setNextFaults(1000, silence);
    }
    const StackState start = stack();
    QCOMPARE(start.count, 2);
    int attempts = 0;
    bool failed = false;

    // A call that fails still fails under the hold: the keys pressed while
    // it waited are tried before its error reaches the screen.
    const auto underHold = [&](const std::function<void()> &work) {
        return screen->run([&] {
            try {
                work();
            } catch (const VexException &) {
                tryToLeave(screen.get(), &attempts);
                throw;
            }
        });
    };
    if (call == QLatin1String("print")) {
        StateRecorder recorder(report.get());
        // Keys arrive between the lines of the print.
        recorder.hook = [&](ReportPrinter *, int state) {
            if (state == IPrinterNotify::PrintPageTopicEnd)
                tryToLeave(screen.get(), &attempts);
        };
        RaceMarkReport list;
        list.loadReport(ReportFixture::clockNo(), ReportFixture::loft(), ReportFixture::raceCodes(), {});
        list.bindNotify(&recorder);
        failed = !underHold([&] { list.printAll(); });
    } else {
        failed = !underHold([&] { report->link().getTimeSync(); });
    }
    QVERIFY(!QTest::currentTestFailed());
    QVERIFY(attempts > 0);
    QCOMPARE(failed, routerSilent);
    QVERIFY(!screen->isBusy());
    QVERIFY(stack() == start);

    // Once the call has ended, every way out works again.
    if (GuiFixture::boxShown())
        GuiFixture::answerBox(QMessageBox::Ok);
    QVERIFY(gui->key(Qt::Key_Escape));
    QCOMPARE(gui->top(), static_cast<SubWindow *>(under.get()));
    gui->push(screen.get());
    gui->key(Qt::Key_Home);
    QCOMPARE(gui->window()->subFormCount(), 0);
}

void TestBusyHold::holdEndsWithItsScreen()
{
    // A hold that outlives its screen (a member the screen forgot to reset)
    // neither crashes nor keeps the stack held.
    auto gone = std::make_unique<WorkScreen>(gui->window());
    gui->push(gone.get());
    auto hold = std::make_unique<BusyHold>(gone.get());
    QVERIFY(gui->window()->isStackBusy());
    gui->window()->popSubForm(SubWindow::DeactiveHide);
    gone.reset();
    QVERIFY(!hold->isHeld());
    QVERIFY(!gui->window()->isStackBusy());
    hold.reset();
    gui->key(Qt::Key_Home);
    QCOMPARE(gui->window()->subFormCount(), 0);
}

void TestBusyHold::modalDialogKeepsKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Home") << int(Qt::Key_Home);
}

void TestBusyHold::modalDialogKeepsKeys()
{
    QFETCH(int, key);
    FormMessage::information(screen.get(), QStringLiteral("Calibrate"), QStringLiteral("Touch the cross"),
                             QMessageBox::Ok, nullptr);
    QDialog dialog(gui->window());
    dialog.setModal(true);
    dialog.show();
    QTRY_VERIFY(QApplication::activeModalWidget() == &dialog);
    const StackState before = stack();

    QVERIFY(!gui->key(key)); // left to the dialog
    QVERIFY(stack() == before);
    QVERIFY(GuiFixture::boxShown());

    dialog.close();
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY(gui->key(Qt::Key_Return));
    QVERIFY(!GuiFixture::boxShown());
    gui->key(Qt::Key_Home);
    QCOMPARE(gui->window()->subFormCount(), 0);
}

BRELLIUM_GUI_TEST_MAIN(TestBusyHold)
#include "tst_busyhold.moc"
