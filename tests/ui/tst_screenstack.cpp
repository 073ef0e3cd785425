#include "core/vexexception.h"
#include "ui/basewindow.h"
#include "ui/formmessage.h"
#include "ui/formmessagehandler.h"
#include "ui/nofocusdelegate.h"
#include "ui/subwindow.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <memory>

namespace {

// A screen that writes every hook it sees into a shared log.
class RecordingScreen : public SubWindow
{
public:
    RecordingScreen(const QString &screenName, QWidget *parent, QStringList *hookLog)
        : SubWindow(parent)
        , name(screenName)
        , log(hookLog)
    {
    }

    bool canClose() override { return closable; }
    bool hasSubWidget() override { return keyboard && !keyboard->isHidden(); }
    void deactiveSub() override { keyboard->hide(); }
    void onFocus(bool focus) override { *log << name + (focus ? ":focus" : ":unfocus"); }
    void onActive() override
    {
        *log << name + QStringLiteral(":active");
        if (throwOnActive)
            throw VexException(0x1201, QStringLiteral("broken"), QString());
    }
    void onDeactive(_DeactiveMode mode) override { *log << name + QStringLiteral(":deactive%1").arg(mode); }

    QString name;
    QStringList *log;
    bool closable = true;
    bool throwOnActive = false;
    QWidget *keyboard = nullptr;
};

class StubWindow : public BaseWindow
{
public:
    bool doKeyPress(QKeyEvent *) override { return false; }
};

class RecordingHandler : public FormMessageHandler
{
public:
    void onFormMessage(QMessageBox::StandardButton button, void *) override { answers << int(button); }
    QList<int> answers;
};

// Records the state of every item-view cell the style is asked to draw.
class RecordingStyle : public QProxyStyle
{
public:
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        if (element == CE_ItemViewItem) {
            states << option->state;
            if (auto *item = qstyleoption_cast<const QStyleOptionViewItem *>(option))
                alignments << item->displayAlignment;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable QList<QStyle::State> states;
    mutable QList<Qt::Alignment> alignments;
};

bool isAbove(QWidget *upper, QWidget *lower)
{
    const QObjectList siblings = upper->parent()->children();
    return siblings.indexOf(upper) > siblings.indexOf(lower);
}

} // namespace

// The screen stack: hook order, who is shown, enabled and on top, and the
// rules by which the box, a keyboard and canClose hold a screen open.
class TestScreenStack : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pushPopPush_hookOrderAndLooks();
    void popLastAndEmpty_returnNull();
    void pop_hidesKeyboardFirst();
    void pop_withBox_data();
    void pop_withBox();
    void canCloseFalse_onlyResetCloses();
    void reset_closesTopDown();
    void pushTwice_oneEntry();
    void throwingOnActive_restoresStack();
    void noFocusDelegate_dropsOnlyFocus();

private:
    RecordingScreen *screen(const QString &name);
    std::unique_ptr<StubWindow> window;
    QStringList log;
};

void TestScreenStack::init()
{
    log.clear();
    window = std::make_unique<StubWindow>();
    window->resize(480, 800);
    window->show();
}

void TestScreenStack::cleanup()
{
    FormMessage::destroyInstance();
    window.reset();
}

RecordingScreen *TestScreenStack::screen(const QString &name)
{
    return new RecordingScreen(name, window.get(), &log);
}

void TestScreenStack::pushPopPush_hookOrderAndLooks()
{
    RecordingScreen *a = screen(QStringLiteral("A"));
    RecordingScreen *b = screen(QStringLiteral("B"));
    QVERIFY(a->isHidden());
    QCOMPARE(a->geometry(), QRect(0, 40, 480, 700));

    window->pushSubForm(a);
    window->pushSubForm(b);
    QCOMPARE(log, (QStringList{"A:active", "A:focus", "A:unfocus", "B:active", "B:focus"}));
    QVERIFY(a->isVisible() && !a->isEnabled() && a->isActive());
    QVERIFY(b->isVisible() && b->isEnabled() && b->isActive());
    QVERIFY(isAbove(b, a));
    QCOMPARE(window->topSubForm(), b);

    log.clear();
    QCOMPARE(window->popSubForm(SubWindow::DeactiveHide), b);
    QCOMPARE(log, (QStringList{"B:unfocus", "B:deactive1", "A:focus"}));
    QVERIFY(b->isHidden() && !b->isActive());
    QVERIFY(a->isEnabled() && a->isActive());

    log.clear();
    window->pushSubForm(b);
    QCOMPARE(log, (QStringList{"A:unfocus", "B:active", "B:focus"}));
}

void TestScreenStack::popLastAndEmpty_returnNull()
{
    RecordingScreen *a = screen(QStringLiteral("A"));
    window->pushSubForm(a);
    QCOMPARE(window->popSubForm(SubWindow::DeactiveHide), nullptr);
    QCOMPARE(window->topSubForm(), nullptr);
    QVERIFY(a->isHidden());
    log.clear();
    QCOMPARE(window->popSubForm(SubWindow::DeactiveHide), nullptr);
    QVERIFY(log.isEmpty());
    QCOMPARE(window->subFormCount(), 0);
}

void TestScreenStack::pop_hidesKeyboardFirst()
{
    RecordingScreen *a = screen(QStringLiteral("A"));
    a->keyboard = new QWidget(a);
    window->pushSubForm(a);
    a->keyboard->show();
    log.clear();

    window->popSubForm(SubWindow::DeactiveHide);
    QVERIFY(a->keyboard->isHidden());
    QCOMPARE(window->topSubForm(), a);
    QVERIFY(log.isEmpty());

    window->popSubForm(SubWindow::DeactiveHide);
    QCOMPARE(window->topSubForm(), nullptr);
    QCOMPARE(log, (QStringList{"A:unfocus", "A:deactive1"}));
}

void TestScreenStack::pop_withBox_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<bool>("boxStays");
    QTest::newRow("confirmation") << int(QMessageBox::Ok | QMessageBox::Cancel) << false;
    QTest::newRow("notice") << int(QMessageBox::Ok) << false;
    QTest::newRow("locked progress") << int(QMessageBox::NoButton) << true;
}

void TestScreenStack::pop_withBox()
{
    QFETCH(int, buttons);
    QFETCH(bool, boxStays);
    RecordingScreen *a = screen(QStringLiteral("A"));
    window->pushSubForm(a);
    RecordingHandler handler;
    FormMessage::information(a, QStringLiteral("Title"), QStringLiteral("Text"),
                             QMessageBox::StandardButtons(buttons), &handler);
    QVERIFY(!a->isEnabled());
    log.clear();

    QCOMPARE(window->popSubForm(SubWindow::DeactiveHide), nullptr);
    QVERIFY(log.isEmpty());
    QCOMPARE(window->topSubForm(), a);
    QVERIFY(handler.answers.isEmpty());
    QCOMPARE(FormMessage::instance()->isActived(), boxStays);
    QCOMPARE(FormMessage::instance()->isVisible(), boxStays);
    QCOMPARE(a->isEnabled(), !boxStays);
}

void TestScreenStack::canCloseFalse_onlyResetCloses()
{
    RecordingScreen *a = screen(QStringLiteral("A"));
    a->closable = false;
    window->pushSubForm(a);
    log.clear();
    window->popSubForm(SubWindow::DeactiveHide);
    QCOMPARE(window->topSubForm(), a);
    QVERIFY(log.isEmpty());

    window->resetSubForms();
    QCOMPARE(window->topSubForm(), nullptr);
    QCOMPARE(log, (QStringList{"A:unfocus", "A:deactive1"}));
    QVERIFY(a->isHidden());
}

void TestScreenStack::reset_closesTopDown()
{
    RecordingScreen *a = screen(QStringLiteral("A"));
    RecordingScreen *b = screen(QStringLiteral("B"));
    RecordingScreen *c = screen(QStringLiteral("C"));
    window->pushSubForm(a);
    window->pushSubForm(b);
    window->pushSubForm(c);
    log.clear();

    window->resetSubForms();
    QCOMPARE(log, (QStringList{"C:unfocus", "C:deactive1", "B:deactive1", "A:deactive1"}));
    for (RecordingScreen *s : {a, b, c})
        QVERIFY(s->isHidden() && !s->isActive());
    QCOMPARE(window->subFormCount(), 0);
}

void TestScreenStack::pushTwice_oneEntry()
{
    RecordingScreen *a = screen(QStringLiteral("A"));
    window->pushSubForm(a);
    window->pushSubForm(a);
    QCOMPARE(window->subFormCount(), 1);
    QCOMPARE(log, (QStringList{"A:active", "A:focus"}));
    QVERIFY(a->isEnabled());
}

void TestScreenStack::throwingOnActive_restoresStack()
{
    RecordingScreen *a = screen(QStringLiteral("A"));
    RecordingScreen *b = screen(QStringLiteral("B"));
    b->throwOnActive = true;
    window->pushSubForm(a);
    const QCursor *cursorBefore = QGuiApplication::overrideCursor();
    log.clear();

    QVERIFY_THROWS_EXCEPTION(VexException, window->pushSubForm(b));
    QCOMPARE(log, (QStringList{"A:unfocus", "B:active", "A:focus"}));
    QCOMPARE(window->subFormCount(), 1);
    QCOMPARE(window->topSubForm(), a);
    QVERIFY(a->isEnabled());
    QVERIFY(!b->isActive() && b->isHidden());
    QCOMPARE(QGuiApplication::overrideCursor(), cursorBefore);

    b->throwOnActive = false; // the next push opens it as usual
    window->pushSubForm(b);
    QCOMPARE(window->topSubForm(), b);
    QVERIFY(b->isActive());
}

void TestScreenStack::noFocusDelegate_dropsOnlyFocus()
{
    RecordingStyle style;
    QStandardItemModel model(2, 2);
    model.setData(model.index(0, 0), QStringLiteral("cell"));
    QTableView view;
    view.setStyle(&style);
    view.setModel(&model);
    NoFocusDelegate delegate(&view);

    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.widget = &view;
    option.rect = QRect(0, 0, 80, 20);
    option.displayAlignment = Qt::AlignRight | Qt::AlignBottom;
    option.state = QStyle::State_HasFocus | QStyle::State_Selected | QStyle::State_Enabled;
    QImage image(80, 20, QImage::Format_ARGB32);
    QPainter painter(&image);
    delegate.paint(&painter, option, model.index(0, 0));
    painter.end();

    QCOMPARE(style.states.size(), 1);
    QVERIFY(!(style.states.first() & QStyle::State_HasFocus));
    QVERIFY(style.states.first() & QStyle::State_Selected);
    QVERIFY(style.states.first() & QStyle::State_Enabled);
    QCOMPARE(style.alignments.first(), Qt::AlignRight | Qt::AlignBottom);
}

QTEST_MAIN(TestScreenStack)
#include "tst_screenstack.moc"
