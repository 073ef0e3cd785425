#include "core/platform.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/screenkit.h"

#include "guifixture.h"
#include "promptqueue.h"

#include <QComboBox>
#include <QTest>

namespace {
// The prompts queued when the box first showed: those were heard before it.
class ShowWatch : public QObject
{
public:
    explicit ShowWatch(const PromptQueue *queue)
        : sound(queue)
    {
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !shown) {
            shown = true;
            promptsAtShow = sound->prompts();
        }
        return false;
    }
    const PromptQueue *sound;
    bool shown = false;
    QStringList promptsAtShow;
};
} // namespace

// What the screens share: the year choosers follow the club clock, the sex
// words, and the failure that is heard before it is read.
class TestScreenKit : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void yearList_data();
    void yearList();
    void sexWords_data();
    void sexWords();
    void errorPromptBeforeBox_data();
    void errorPromptBeforeBox();
};

void TestScreenKit::cleanup()
{
    Platform::setSystemClock({});
    UTC::_clubTimeDiff = 0;
    UTC::setTimeZone(0);
}

void TestScreenKit::yearList_data()
{
    QTest::addColumn<qint64>("deviceMs");
    QTest::addColumn<qint64>("clubDiffMs");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("count");
    // 1 June 2014, 10 December 2026 and 1 January 2040 (UTC).
    QTest::newRow("clock set before 2015") << qint64(1401580800000) << qint64(0) << "2025" << 11;
    QTest::newRow("2026") << qint64(1796860800000) << qint64(0) << "2036" << 22;
    QTest::newRow("2040") << qint64(2208988800000) << qint64(0) << "2050" << 36;
    // The club clock is a second into 2027 while the device is still in 2026.
    QTest::newRow("club time ahead across new year") << qint64(1798761599000) << qint64(2000) << "2037" << 23;
}

void TestScreenKit::yearList()
{
    QFETCH(qint64, deviceMs);
    QFETCH(qint64, clubDiffMs);
    QFETCH(QString, last);
    QFETCH(int, count);
    Platform::setSystemClock([deviceMs] { return deviceMs; });
    UTC::_clubTimeDiff = clubDiffMs;

    const QStringList items = ScreenKit::yearItems();
    QCOMPARE(items.size(), count);
    QCOMPARE(items.first(), QStringLiteral("2015"));
    QCOMPARE(items.last(), last);

    QComboBox box;
    box.addItem(QStringLiteral("stale"));
    ScreenKit::fillYears(&box);
    QCOMPARE(box.count(), count);
    QCOMPARE(box.itemText(0), QStringLiteral("2015"));
}

void TestScreenKit::sexWords_data()
{
    QTest::addColumn<int>("sex");
    QTest::addColumn<QString>("text");
    QTest::newRow("hen") << 0 << "Hen";
    QTest::newRow("cock") << 1 << "Cock";
    QTest::newRow("unknown") << 2 << "Unknown";
    QTest::newRow("out of range") << 7 << "Unknown";
    QTest::newRow("negative") << -1 << "Unknown";
}

void TestScreenKit::sexWords()
{
    QFETCH(int, sex);
    QFETCH(QString, text);
    QCOMPARE(ScreenKit::sexText(sex), text);
}

void TestScreenKit::errorPromptBeforeBox_data()
{
    QTest::addColumn<bool>("withPrompt");
    QTest::addColumn<bool>("fails");
    QTest::newRow("plain call, failing") << false << true;
    QTest::newRow("prompted call, failing") << true << true;
    QTest::newRow("prompted call, succeeding") << true << false;
}

void TestScreenKit::errorPromptBeforeBox()
{
    QFETCH(bool, withPrompt);
    QFETCH(bool, fails);
    GuiFixture gui;
    PromptQueue sound;
    const auto action = [&] {
        if (fails)
            throw VexException(7, QStringLiteral("Start failed!"), QString());
    };
    ShowWatch watch(&sound);
    GuiFixture::box()->installEventFilter(&watch);
    const bool done = withPrompt ? guardedCallWithErrorPrompt("TestScreenKit", gui.window(), action)
                                 : guardedCall("TestScreenKit", gui.window(), action);
    GuiFixture::box()->removeEventFilter(&watch);
    const bool boxSeen = GuiFixture::boxShown();
    const QStringList promptsAtBox = watch.promptsAtShow;

    QCOMPARE(done, !fails);
    QCOMPARE(boxSeen, fails);
    if (fails) {
        QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
        QCOMPARE(GuiFixture::boxText(), QStringLiteral("Start failed!"));
    }
    QCOMPARE(promptsAtBox, (withPrompt && fails) ? QStringList{QStringLiteral("error")} : QStringList());
}

BRELLIUM_GUI_TEST_MAIN(TestScreenKit)
#include "tst_screenkit.moc"
