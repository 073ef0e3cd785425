#include "core/myapp.h"
#include "core/servicefactory.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/formringtest.h"

#include "guifixture.h"
#include "innermodulepeer.h"
#include "loftseed.h"
#include "promptqueue.h"
#include "runningengine.h"
#include "screenshot.h"
#include "storagefixture.h"
#include "testroot.h"

#include <QLabel>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {
constexpr int kTickMs = 300;
constexpr int kWaitMs = 15000;
constexpr int kGpioMains = 51;
constexpr int kGpioRf = 40;
const RFIDService::Timing kFast{20, 200};
const QString kNone = QStringLiteral("--------");
const QString kWaiting = QStringLiteral("Waiting for ring...");
const QString kChecked = QStringLiteral("Check successfully!");

LFTAG_INFO tagOf(const QString &ring, int stored = 0)
{
    LFTAG_INFO tag;
    tag.eRing = ring;
    tag.uid = QStringLiteral("1234ABCD");
    tag.stored = stored;
    return tag;
}
} // namespace

// The ring test: live readings from the race engine shown with the pigeon
// carrying the ring, the return to waiting, and readings it must ignore.
class TestFormRingTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void reading_data();
    void reading();
    void ringAtTheAntenna();
    void revertsOnFourthTick_data();
    void revertsOnFourthTick();
    void readingQueuedBeforeLeaving();
    void pigeonTableGone();
    void withoutEngine();

private:
    // Emits the readings from a thread of their own, as a reader does, and
    // delivers what that queued for the screen.
    void scan(const QList<LFTAG_INFO> &tags, bool deliver = true);
    QString text(const char *label) const;
    void checkWaiting() const;

    std::unique_ptr<GuiFixture> gui;
    StorageFixture *store = nullptr;
    std::unique_ptr<PigeonBo> engine;
    MainWindow *window = nullptr;
    FormRingTest *form = nullptr;
};

void TestFormRingTest::init()
{
    gui = std::make_unique<GuiFixture>();
    store = &gui->store();
    engine = std::make_unique<PigeonBo>();
    ServiceFactory::getInstance()->pigeonBo = engine.get();
    LoftSeed::pigeon(QStringLiteral("NL-24-1001"), QStringLiteral("0A0B0C0D"));
    LoftSeed::pigeon(QStringLiteral("NL-24-1002")); // no ring yet
    window = gui->window();
    form = window->formRingTest;
    window->pushSubForm(form);
}

void TestFormRingTest::cleanup()
{
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    engine.reset();
    gui.reset();
}

void TestFormRingTest::scan(const QList<LFTAG_INFO> &tags, bool deliver)
{
    PigeonBo *bo = engine.get();
    std::unique_ptr<QThread> reader(QThread::create([bo, tags] {
        for (const LFTAG_INFO &tag : tags)
            emit bo->tagScaned(tag);
    }));
    reader->start();
    QVERIFY(reader->wait(10000));
    if (deliver)
        QCoreApplication::sendPostedEvents(form, QEvent::MetaCall);
}

QString TestFormRingTest::text(const char *label) const
{
    return form->findChild<QLabel *>(QLatin1String(label))->text();
}

void TestFormRingTest::checkWaiting() const
{
    QCOMPARE(text("labelRingNum"), kNone);
    QCOMPARE(text("labAssocNum"), kNone);
    QCOMPARE(text("labelWarning"), kWaiting);
}

void TestFormRingTest::reading_data()
{
    QTest::addColumn<QString>("ring");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("assocNum"); // empty: the reading changes nothing
    QTest::newRow("ring of a pigeon") << "0A0B0C0D" << 0 << "NL-24-1001";
    QTest::newRow("unknown ring") << "0A0B0C0E" << 0 << kNone;
    QTest::newRow("lower case, as read") << "0a0b0c0d" << 0 << kNone;
    QTest::newRow("with a quote") << "0A'0C0D" << 0 << kNone;
    // Looked up, it would find the pigeon without a ring.
    QTest::newRow("empty ring") << "" << 0 << kNone;
    QTest::newRow("replayed record") << "0A0B0C0D" << 1 << "";
}

void TestFormRingTest::reading()
{
    QFETCH(QString, ring);
    QFETCH(int, stored);
    QFETCH(QString, assocNum);
    checkWaiting();
    if (QTest::currentDataTag() == QLatin1String("unknown ring"))
        Screenshot::save(QStringLiteral("tst_formringtest/formringtest-waiting"));
    PromptQueue sound;
    scan({tagOf(ring, stored)});
    if (assocNum.isEmpty()) {
        checkWaiting();
        QVERIFY(sound.prompts().isEmpty());
        return;
    }
    QCOMPARE(sound.prompts(), QStringList{"pigeonTest"});
    QCOMPARE(text("labelRingNum"), ring);
    QCOMPARE(text("labAssocNum"), assocNum);
    QCOMPARE(text("labelWarning"), kChecked);
    QVERIFY(!FormMessage::instance()->isActived());
    if (QTest::currentDataTag() == QLatin1String("ring of a pigeon"))
        Screenshot::save(QStringLiteral("tst_formringtest/formringtest-reading"));
}

// The whole road: a ring at the landing antenna, read by the real reader
// thread, handed on by the running race engine.
void TestFormRingTest::ringAtTheAntenna()
{
    window->popSubForm(SubWindow::DeactiveHide);
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    store->root().setGpio(kGpioMains, 1);
    store->root().setGpio(kGpioRf, 0);
    InnerModulePeer peer;
    peer.linkUnder(store->root().root(), QStringLiteral("/dev/ttyS3"));
    peer.start();
    RunningEngine running;
    QVERIFY(running.startEngine());
    RFIDService reader(QStringLiteral("/dev/ttyS3"), 0x311);
    reader.setTiming(kFast);
    reader.start();
    window->pushSubForm(form);
    QTRY_VERIFY_WITH_TIMEOUT(reader.isValid(), kWaitMs);
    PromptQueue sound;
    peer.presentTag(QStringLiteral("0A0B0C0D"), QStringLiteral("1234ABCD"), 7);
    QTRY_COMPARE_WITH_TIMEOUT(text("labelRingNum"), QStringLiteral("0A0B0C0D"), kWaitMs);
    QCOMPARE(text("labAssocNum"), QStringLiteral("NL-24-1001"));
    QCOMPARE(text("labelWarning"), kChecked);
    QVERIFY(sound.prompts().contains(QStringLiteral("pigeonTest")));
    window->popSubForm(SubWindow::DeactiveHide);
    reader.requestExit();
    QVERIFY(reader.wait(kWaitMs));
    running.quit();
    QVERIFY(running.wait(kWaitMs));
}

void TestFormRingTest::revertsOnFourthTick_data()
{
    QTest::addColumn<int>("ticksBetween"); // -1: one reading only
    QTest::newRow("one reading") << -1;
    QTest::newRow("second reading after two ticks") << 2;
}

void TestFormRingTest::revertsOnFourthTick()
{
    QFETCH(int, ticksBetween);
    scan({tagOf(QStringLiteral("0A0B0C0D"))});
    if (ticksBetween >= 0) {
        for (int i = 0; i < ticksBetween; ++i)
            form->onTimeTick(kTickMs);
        scan({tagOf(QStringLiteral("0A0B0C0E"))});
        QCOMPARE(text("labelRingNum"), QStringLiteral("0A0B0C0E"));
    }
    for (int i = 0; i < 3; ++i) {
        form->onTimeTick(kTickMs);
        QCOMPARE(text("labelWarning"), kChecked);
    }
    form->onTimeTick(kTickMs);
    checkWaiting();
}

void TestFormRingTest::readingQueuedBeforeLeaving()
{
    // Opened twice: connected once, one prompt per reading.
    window->popSubForm(SubWindow::DeactiveHide);
    window->pushSubForm(form);
    PromptQueue sound;
    scan({tagOf(QStringLiteral("0A0B0C0D"))});
    QCOMPARE(sound.prompts(), QStringList{"pigeonTest"});

    scan({tagOf(QStringLiteral("0A0B0C0E"))}, false);
    window->popSubForm(SubWindow::DeactiveHide);
    QCoreApplication::sendPostedEvents(form, QEvent::MetaCall);
    scan({tagOf(QStringLiteral("0A0B0C0E"))}); // after leaving: not connected
    QCOMPARE(sound.prompts(), QStringList{"pigeonTest"});
    window->pushSubForm(form);
    checkWaiting();
}

void TestFormRingTest::pigeonTableGone()
{
    QVERIFY(store->exec(QStringLiteral("alter table Pigeon rename to PigeonAway")));
    scan({tagOf(QStringLiteral("0A0B0C0D"))});
    FormMessage *box = FormMessage::instance();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Error"));
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(form));
}

void TestFormRingTest::withoutEngine()
{
    window->popSubForm(SubWindow::DeactiveHide);
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    window->pushSubForm(form);
    checkWaiting();
    form->onTimeTick(kTickMs);
    window->popSubForm(SubWindow::DeactiveHide);
    QCOMPARE(window->topSubForm(), nullptr);
}

BRELLIUM_GUI_TEST_MAIN(TestFormRingTest)

#include "tst_formringtest.moc"
