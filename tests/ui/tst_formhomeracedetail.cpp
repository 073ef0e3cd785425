#include "core/myapp.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/nomination.h"
#include "storage/storage.h"
#include "ui/formhome.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formtrain.h"
#include "ui/race/formhomeracedetail.h"

#include "guifixture.h"
#include "loftseed.h"
#include "messagecapture.h"
#include "networkrig.h"
#include "promptqueue.h"
#include "screendriver.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

constexpr qint64 kNowMs = 1780000000000;
constexpr int kZoneSeconds = 7200; // the device's zone; the process's TZ is another
const char kSuite[] = "tst_formhomeracedetail";
// 05/06/2026 12:03:27 UTC: 14:03:27 in the device's zone.
const qint64 kBackMs = UTC(2026, 6, 5, 12, 3, 27, 0).value();
const qint64 kMarkMs = UTC(2026, 6, 4, 6, 0, 0, 0).value();
const qint64 kLiberMs = UTC(2026, 6, 5, 5, 30, 0, 0).value();

using Rows = QList<QStringList>;

Rows tableRows(const QTableWidget *table, int columns = 3)
{
    Rows rows;
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < columns; ++c)
            row << (table->item(r, c) ? table->item(r, c)->text() : QStringLiteral("<none>"));
        rows << row;
    }
    return rows;
}

void emitFromPlainThread(PigeonBo *bo, const PigeonRecord &record, int times = 1)
{
    std::unique_ptr<QThread> thread(QThread::create([bo, record, times] {
        for (int i = 0; i < times; ++i)
            emit bo->pigeonBack(record);
    }));
    thread->start();
    thread->wait();
}

RaceInfo storedRace(const QString &code, int state, const std::function<void(RaceInfo &)> &change = {})
{
    RaceInfo race = LoftSeed::race(code, state, kLiberMs);
    race.liberName = QStringLiteral("Calais");
    race.liberCode = QStringLiteral("LC7");
    race.clubCode = QStringLiteral("C1");
    if (change)
        change(race);
    Storage::instance()->saveRace(&race);
    return race;
}

} // namespace

// The race detail opened from the home screen: button states, the two
// lists, the selected pigeon, the upload counter, live arrivals, Delete and
// Close&&UL against the real modem road.
class TestFormHomeRaceDetail : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void buttons_data();
    void buttons();
    void lists_arrivedAndNotArrived();
    void lists_noBasketedPigeon();
    void selectedPigeon_data();
    void selectedPigeon();
    void selectedPigeon_missingPigeonRowKeepsSexAndYear();
    void counter_firstTickThenEveryFifth();
    void counter_failingReloadShowsNoBox();
    void arrivals_reloadListAndSelectionStaysInBounds();
    void arrival_afterClosingIgnored();
    void raceDeletedElsewhere_ticksAndSelectionGoOn();
    void deleteRace_data();
    void deleteRace();
    void delete_answerAfterHomeChangesNothing();
    void closeUpload_data();
    void closeUpload();
    void closeUpload_failingStopUploadsNothing();

private:
    void publishEngine();
    FormHomeRaceDetail *open(const QString &raceCode);
    QString label(const char *name) const;
    QTableWidget *table() const;
    void select(int row);

    std::unique_ptr<PromptQueue> sound;
    std::unique_ptr<GuiFixture> gui;
    std::unique_ptr<PigeonBo> bo;
    FormHomeRaceDetail *detail = nullptr;
};

void TestFormHomeRaceDetail::init()
{
    Platform::setSystemClock([] { return kNowMs; });
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = 0;
    UTC::setTimeZone(kZoneSeconds);
    sound = std::make_unique<PromptQueue>();
    gui = std::make_unique<GuiFixture>();
    LoftSeed::loft(QStringLiteral("L100"), QStringLiteral("secret"));
    detail = gui->window()->formHomeRaceDetail;
}

void TestFormHomeRaceDetail::cleanup()
{
    gui.reset();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    bo.reset();
    sound.reset();
    HardwareControl::init(0);
    Platform::setSystemClock({});
}

void TestFormHomeRaceDetail::publishEngine()
{
    bo = std::make_unique<PigeonBo>();
    bo->reflushCache();
    UTC::setTimeZone(kZoneSeconds);
    ServiceFactory::getInstance()->pigeonBo = bo.get();
}

FormHomeRaceDetail *TestFormHomeRaceDetail::open(const QString &raceCode)
{
    detail->showRaceDetail(Storage::instance()->findRaceById(raceCode), nullptr);
    return detail;
}

QString TestFormHomeRaceDetail::label(const char *name) const
{
    return detail->findChild<QLabel *>(QLatin1String(name))->text();
}

QTableWidget *TestFormHomeRaceDetail::table() const
{
    return detail->findChild<QTableWidget *>(QStringLiteral("tableRecords"));
}

void TestFormHomeRaceDetail::select(int row)
{
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualItemRect(table()->item(row, 1)).center());
}

void TestFormHomeRaceDetail::buttons_data()
{
    QTest::addColumn<unsigned int>("flags");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("closeShown");
    QTest::addColumn<bool>("deleteEnabled");
    for (int state : {1, 3, 4, 12}) {
        QTest::addRow("flag clear, state %d", state) << 0u << state << false << (state == 4 || state == 12);
        QTest::addRow("flag 0x0001, state %d", state) << 1u << state << true << (state == 12);
    }
}

void TestFormHomeRaceDetail::buttons()
{
    QFETCH(unsigned int, flags);
    QFETCH(int, state);
    QFETCH(bool, closeShown);
    QFETCH(bool, deleteEnabled);
    HardwareControl::init(flags);
    publishEngine();
    storedRace(QStringLiteral("R1"), state);
    open(QStringLiteral("R1"));
    QCOMPARE(gui->top(), detail);
    auto *closeUl = detail->findChild<QPushButton *>(QStringLiteral("btnCloseUl"));
    auto *del = detail->findChild<QPushButton *>(QStringLiteral("btnDelete"));
    QCOMPARE(closeUl->isVisible(), closeShown);
    QVERIFY(closeUl->isEnabled());
    QCOMPARE(closeUl->text(), QStringLiteral("Close&&UL"));
    QVERIFY(del->isVisible());
    QCOMPARE(del->isEnabled(), deleteEnabled);
}

void TestFormHomeRaceDetail::lists_arrivedAndNotArrived()
{
    publishEngine();
    storedRace(QStringLiteral("R1"), 3, [](RaceInfo &r) {
        r.markReaderTime = kMarkMs;
        r.markDeviceTime = kMarkMs - 5000;
    });
    // Arrival times out of association-number order; odd codes on purpose.
    const struct { const char *assoc; qint64 back; } birds[] = {
        {"A1", 0}, {"B'2", kBackMs + 60000}, {"C3", kBackMs}, {"D\xc3\xa9" "4", 0}, {"E5", kBackMs + 1000},
    };
    int order = 0;
    for (const auto &b : birds) {
        const QString assoc = QString::fromUtf8(b.assoc);
        LoftSeed::pigeon(assoc, QStringLiteral("R%1").arg(++order));
        LoftSeed::basket(assoc, QStringLiteral("R1"), kMarkMs + order);
        if (b.back)
            LoftSeed::arrive(assoc, QStringLiteral("R1"), b.back, order);
    }
    // Another race's bird and a pigeon of no race stay out.
    storedRace(QStringLiteral("R2"), 3);
    LoftSeed::pigeon(QStringLiteral("X9"), QStringLiteral("R9"));
    LoftSeed::basket(QStringLiteral("X9"), QStringLiteral("R2"), kMarkMs);
    LoftSeed::pigeon(QStringLiteral("Y9"), QStringLiteral("R8"));
    open(QStringLiteral("R1"));

    const Rows arrived = {{"1", "C3", "05/06 14:03:27"}, {"2", "E5", "05/06 14:03:28"}, {"3", "B'2", "05/06 14:04:27"}};
    QCOMPARE(tableRows(table()), arrived);
    QCOMPARE(label("labelTotalPigeons"), QStringLiteral("5"));
    QCOMPARE(label("labelTotalBack"), QStringLiteral("3"));
    QCOMPARE(label("labelRaceCode"), QStringLiteral("R1"));
    QCOMPARE(label("labelLibName"), QStringLiteral("Calais"));
    QCOMPARE(label("labelClubId"), QStringLiteral("C1"));
    QCOMPARE(label("labelLibTime"), QStringLiteral("05/06/2026 07:30:00"));
    QCOMPARE(label("labMarkTime"), QStringLiteral("04/06/2026 08:00:00")); // the club time first
    QCOMPARE(label("labArriveTime"), QString());
    select(1);
    QCOMPARE(label("labNom"), QStringLiteral("5")); // E5 was basketed fifth
    QVERIFY(!ScreenDriver(detail, kSuite).shot(QStringLiteral("arrived-selected")).isEmpty());

    // The switch: a key click and the other list; again on it: nothing.
    int prompts = sound->size();
    ScreenDriver(detail, kSuite).click("btnNotArrival");
    QCOMPARE(sound->prompts().mid(prompts), QStringList{QStringLiteral("keyPress")});
    const Rows notArrived = {{"1", "A1", "--"}, {"2", QString::fromUtf8("Dé4"), "--"}};
    QCOMPARE(tableRows(table()), notArrived);
    QCOMPARE(table()->item(1, 3)->text(), QStringLiteral("1")); // its place in the race's records
    prompts = sound->size();
    ScreenDriver(detail, kSuite).click("btnNotArrival");
    QCOMPARE(sound->size(), prompts);
    QCOMPARE(tableRows(table()), notArrived);
    select(1);
    QCOMPARE(label("labNom"), QStringLiteral("4"));
    QVERIFY(!ScreenDriver(detail, kSuite).shot(QStringLiteral("not-arrived-selected")).isEmpty());

    // Opened again: the arrived list.
    gui->window()->popSubForm(SubWindow::DeactiveHide);
    open(QStringLiteral("R1"));
    QCOMPARE(tableRows(table()), arrived);
}

void TestFormHomeRaceDetail::lists_noBasketedPigeon()
{
    publishEngine();
    storedRace(QStringLiteral("R1"), 1);
    LoftSeed::pigeon(QStringLiteral("A1"), QStringLiteral("R1"));
    open(QStringLiteral("R1"));
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(label("labelTotalPigeons"), QStringLiteral("0"));
    QCOMPARE(label("labelTotalBack"), QStringLiteral("0"));
    QCOMPARE(label("labMarkTime"), QString());
    QCOMPARE(label("labArriveTime"), QString());
    ScreenDriver(detail, kSuite).click("btnNotArrival");
    QCOMPARE(table()->rowCount(), 0);
    // A click on the empty table selects nothing.
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
    QCOMPARE(label("labSex"), QStringLiteral("-"));
}

void TestFormHomeRaceDetail::selectedPigeon_data()
{
    QTest::addColumn<int>("sex");
    QTest::addColumn<bool>("nominated");
    QTest::addColumn<QString>("sexText");
    QTest::addColumn<QString>("nom");
    QTest::newRow("hen, basketing order") << 0 << false << "Hen" << "2";
    QTest::newRow("cock, basketing order") << 1 << false << "Cock" << "2";
    QTest::newRow("sex 2") << 2 << false << "Unknown" << "2";
    QTest::newRow("other sex value") << 7 << false << "Unknown" << "2";
    QTest::newRow("nominated race: nomination number") << 1 << true << "Cock" << "17";
}

void TestFormHomeRaceDetail::selectedPigeon()
{
    QFETCH(int, sex);
    QFETCH(bool, nominated);
    QFETCH(QString, sexText);
    QFETCH(QString, nom);
    publishEngine();
    storedRace(QStringLiteral("R1"), 3, [nominated](RaceInfo &r) {
        if (nominated)
            r.setField(QStringLiteral("nomination"), 1);
    });
    LoftSeed::pigeon(QStringLiteral("A1"), QStringLiteral("R1"));
    LoftSeed::basket(QStringLiteral("A1"), QStringLiteral("R1"), kMarkMs);
    LoftSeed::pigeon(QStringLiteral("B2"), QStringLiteral("R2"), sex, QStringLiteral("Red"), 2023);
    LoftSeed::basket(QStringLiteral("B2"), QStringLiteral("R1"), kMarkMs + 1000);
    if (nominated) {
        auto n = QSharedPointer<Nomination>::create();
        n->assocNum = QStringLiteral("B2");
        n->raceCode = QStringLiteral("R1");
        n->nom = 17;
        Storage::instance()->saveRaceNoms(QStringLiteral("R1"), {n});
    }
    open(QStringLiteral("R1"));
    ScreenDriver(detail, kSuite).click("btnNotArrival");
    select(1);
    QCOMPARE(label("labSex"), sexText);
    QCOMPARE(label("labYear"), QStringLiteral("2023"));
    QCOMPARE(label("labNom"), nom);
    QCOMPARE(label("labRaceCode"), QStringLiteral("LC7"));
    QCOMPARE(label("labLiberTime"), QStringLiteral("05/06/2026"));
    QCOMPARE(label("labRaceSite"), QStringLiteral("Calais"));
}

void TestFormHomeRaceDetail::selectedPigeon_missingPigeonRowKeepsSexAndYear()
{
    publishEngine();
    storedRace(QStringLiteral("R1"), 3);
    LoftSeed::pigeon(QStringLiteral("A1"), QStringLiteral("R1"), 1, QStringLiteral("Blue"), 2021);
    LoftSeed::basket(QStringLiteral("A1"), QStringLiteral("R1"), kMarkMs);
    LoftSeed::pigeon(QStringLiteral("B2"), QStringLiteral("R2"), 0, QStringLiteral("Blue"), 2024);
    LoftSeed::basket(QStringLiteral("B2"), QStringLiteral("R1"), kMarkMs + 1000);
    QVERIFY(gui->store().exec(QStringLiteral("delete from Pigeon where AssocNum='B2'")));
    open(QStringLiteral("R1"));
    ScreenDriver(detail, kSuite).click("btnNotArrival");
    select(0);
    QCOMPARE(label("labSex"), QStringLiteral("Cock"));
    select(1);
    QCOMPARE(label("labSex"), QStringLiteral("Cock"));
    QCOMPARE(label("labYear"), QStringLiteral("2021"));
    QCOMPARE(label("labNom"), QStringLiteral("2"));
    QCOMPARE(label("labRaceCode"), QStringLiteral("LC7"));
    QCOMPARE(label("labRaceSite"), QStringLiteral("Calais"));
}

void TestFormHomeRaceDetail::counter_firstTickThenEveryFifth()
{
    publishEngine();
    RaceInfo race = storedRace(QStringLiteral("R1"), 3, [](RaceInfo &r) {
        r.setField(QStringLiteral("markUploadedCount"), 7);
    });
    storedRace(QStringLiteral("R2"), 3);
    open(QStringLiteral("R1"));
    QCOMPARE(label("labMarkUpload"), QStringLiteral("---"));
    gui->tick();
    QCOMPARE(label("labMarkUpload"), QStringLiteral("7"));
    // Written elsewhere (the engine's basketing uploads): seen at the fifth tick.
    race.setField(QStringLiteral("markUploadedCount"), 9);
    Storage::instance()->saveRace(&race);
    gui->tick(4);
    QCOMPARE(label("labMarkUpload"), QStringLiteral("7"));
    gui->tick();
    QCOMPARE(label("labMarkUpload"), QStringLiteral("9"));
    // Another race without the key: its count is 0 once the countdown,
    // carried over from the last opening, runs out.
    gui->window()->popSubForm(SubWindow::DeactiveHide);
    open(QStringLiteral("R2"));
    QCOMPARE(label("labMarkUpload"), QStringLiteral("9"));
    gui->tick(4);
    QCOMPARE(label("labMarkUpload"), QStringLiteral("9"));
    gui->tick();
    QCOMPARE(label("labMarkUpload"), QStringLiteral("0"));
}

void TestFormHomeRaceDetail::counter_failingReloadShowsNoBox()
{
    publishEngine();
    storedRace(QStringLiteral("R1"), 3, [](RaceInfo &r) { r.setField(QStringLiteral("markUploadedCount"), 3); });
    open(QStringLiteral("R1"));
    gui->tick();
    QCOMPARE(label("labMarkUpload"), QStringLiteral("3"));
    MessageCapture capture;
    for (int round = 0; round < 2; ++round) {
        gui->tick(4);
        Storage::setFault(Storage::Fault::FailStatement, 1);
        gui->tick();
        Storage::setFault(Storage::Fault::None);
    }
    QVERIFY(!gui->boxShown());
    QCOMPARE(label("labMarkUpload"), QStringLiteral("3"));
    QCOMPARE(capture.count(QStringLiteral("FormHomeRaceDetail::onTimeTick VexException!")), 2);
}

void TestFormHomeRaceDetail::arrivals_reloadListAndSelectionStaysInBounds()
{
    publishEngine();
    storedRace(QStringLiteral("R1"), 3);
    for (int i = 1; i <= 6; ++i) {
        const QString assoc = QStringLiteral("P%1").arg(i);
        LoftSeed::pigeon(assoc, QStringLiteral("E%1").arg(i));
        LoftSeed::basket(assoc, QStringLiteral("R1"), kMarkMs + i);
        LoftSeed::arrive(assoc, QStringLiteral("R1"), kBackMs + i * 1000, i);
    }
    open(QStringLiteral("R1"));
    QCOMPARE(table()->rowCount(), 6);
    select(5);
    QCOMPARE(label("labNom"), QStringLiteral("6"));
    // The race shrinks under the selection (basketing taken back elsewhere),
    // then a burst of arrivals of any flight comes in.
    for (int i = 3; i <= 6; ++i)
        QVERIFY(gui->store().exec(QStringLiteral("update Record set MarkTime=0, BackTimeEring=0 where AssocNum='P%1'").arg(i)));
    PigeonRecord training;
    training.assocNum = QStringLiteral("T1");
    training.raceCode = QStringLiteral("train");
    training.backTimeEring = kBackMs;
    emitFromPlainThread(bo.get(), training, 50);
    QTRY_COMPARE(table()->rowCount(), 2);
    QCOMPARE(label("labelTotalBack"), QStringLiteral("2"));
    select(1);
    QCOMPARE(label("labNom"), QStringLiteral("2"));
    QVERIFY(!gui->boxShown());
}

void TestFormHomeRaceDetail::arrival_afterClosingIgnored()
{
    publishEngine();
    storedRace(QStringLiteral("R1"), 3);
    LoftSeed::pigeon(QStringLiteral("P1"), QStringLiteral("E1"));
    LoftSeed::basket(QStringLiteral("P1"), QStringLiteral("R1"), kMarkMs);
    open(QStringLiteral("R1"));
    QCOMPARE(table()->rowCount(), 0);
    LoftSeed::arrive(QStringLiteral("P1"), QStringLiteral("R1"), kBackMs, 1);
    PigeonRecord back;
    back.assocNum = QStringLiteral("P1");
    emitFromPlainThread(bo.get(), back); // queued before the closing
    gui->window()->popSubForm(SubWindow::DeactiveHide);
    bool drained = false;
    QMetaObject::invokeMethod(detail, [&drained] { drained = true; }, Qt::QueuedConnection);
    QTRY_VERIFY(drained);
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(label("labelTotalBack"), QStringLiteral("0"));
}

void TestFormHomeRaceDetail::raceDeletedElsewhere_ticksAndSelectionGoOn()
{
    publishEngine();
    storedRace(QStringLiteral("R1"), 3, [](RaceInfo &r) { r.setField(QStringLiteral("markUploadedCount"), 4); });
    LoftSeed::pigeon(QStringLiteral("P1"), QStringLiteral("E1"), 1);
    LoftSeed::basket(QStringLiteral("P1"), QStringLiteral("R1"), kMarkMs);
    open(QStringLiteral("R1"));
    gui->tick();
    QCOMPARE(label("labMarkUpload"), QStringLiteral("4"));
    ScreenDriver(detail, kSuite).click("btnNotArrival");
    // Deleted by another thread (the PC data service) while open.
    std::unique_ptr<QThread> remover(QThread::create([] {
        Storage::instance()->deleteRace(QStringLiteral("R1"));
        Storage::destroy();
    }));
    remover->start();
    QVERIFY(remover->wait(10000));
    gui->tick(6);
    QCOMPARE(label("labMarkUpload"), QStringLiteral("4"));
    select(0);
    QCOMPARE(label("labSex"), QStringLiteral("Cock"));
    QCOMPARE(label("labRaceCode"), QStringLiteral("--"));
    QCOMPARE(label("labLiberTime"), QStringLiteral("--"));
    QCOMPARE(label("labRaceSite"), QStringLiteral("--"));
    QVERIFY(!gui->boxShown());
    QCOMPARE(gui->top(), detail);
}

void TestFormHomeRaceDetail::deleteRace_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("OK deletes and returns home") << true;
    QTest::newRow("Cancel changes nothing") << false;
}

void TestFormHomeRaceDetail::deleteRace()
{
    QFETCH(bool, confirm);
    publishEngine();
    const QString code = QString::fromUtf8("R'é");
    storedRace(code, 4);
    storedRace(QStringLiteral("R2"), 4);
    LoftSeed::pigeon(QStringLiteral("P1"), QStringLiteral("E1"));
    LoftSeed::basket(QStringLiteral("P1"), code, kMarkMs);
    FormHome *home = gui->window()->formHome;
    gui->push(home);
    open(code);
    const QString before = gui->store().dump();
    int prompts = sound->size();
    ScreenDriver(detail, kSuite).click("btnDelete");
    QVERIFY(gui->boxShown());
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Warning"));
    QCOMPARE(gui->boxText(), QStringLiteral(" Please confirm you want to delete this race!"));
    QCOMPARE(sound->prompts().mid(prompts), QStringList{QStringLiteral("dong")});
    if (confirm)
        QVERIFY(!ScreenDriver(detail, kSuite).shot(QStringLiteral("delete-question")).isEmpty());
    prompts = sound->size();
    gui->answerBox(confirm ? QMessageBox::Ok : QMessageBox::Cancel);
    if (!confirm) {
        QCOMPARE(gui->store().dump(), before);
        QCOMPARE(gui->top(), detail);
        return;
    }
    QCOMPARE(sound->prompts().mid(prompts), QStringList{QStringLiteral("ok")});
    QVERIFY(!Storage::instance()->findRaceById(code));
    QVERIFY(Storage::instance()->findRaceById(QStringLiteral("R2")));
    QCOMPARE(Storage::instance()->findRecordById(QStringLiteral("P1"))->markTime, 0);
    QCOMPARE(gui->store().value(QStringLiteral("select count(*) from Log where LogType=11")).toInt(), 1);
    QVERIFY(gui->store().value(QStringLiteral("select LogInfo from Log where LogType=11")).toString().contains(code));
    QCOMPARE(gui->top(), home);
    const QTableWidget *races = home->findChild<QTableWidget *>(QStringLiteral("tableRaceInfo"));
    QCOMPARE(races->rowCount(), 1);
    QCOMPARE(races->item(0, 0)->text(), QStringLiteral("R2"));
}

void TestFormHomeRaceDetail::delete_answerAfterHomeChangesNothing()
{
    publishEngine();
    storedRace(QStringLiteral("R1"), 4);
    gui->push(gui->window()->formHome);
    open(QStringLiteral("R1"));
    ScreenDriver(detail, kSuite).click("btnDelete");
    QVERIFY(gui->boxShown());
    // Home closes every screen and leaves the question open; another screen
    // is opened under it before it is answered.
    gui->window()->resetSubForms();
    gui->push(gui->window()->formTrain);
    const QString before = gui->store().dump();
    MessageCapture capture;
    gui->answerBox(QMessageBox::Ok);
    QCOMPARE(gui->store().dump(), before);
    QCOMPARE(gui->top(), static_cast<SubWindow *>(gui->window()->formTrain));
    QVERIFY(capture.contains(QStringLiteral("answer after closing ignored")));
}

void TestFormHomeRaceDetail::closeUpload_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("basketSync");
    QTest::addColumn<int>("endState");
    QTest::addColumn<bool>("stamped");
    QTest::addColumn<QString>("box");       // a pattern of the result box's text
    QTest::addColumn<int>("logRows");
    QTest::newRow("state 3 with a basketing sync") << "" << 3 << true << 12 << true << "^Upload OK!$" << 1;
    QTest::newRow("state 3 without a basketing sync") << "" << 3 << false << 12 << false << "^Upload OK!$" << 1;
    QTest::newRow("state 12: uploaded again") << "" << 12 << true << 12 << false << "^Upload OK!$" << 1;
    QTest::newRow("endpoint error") << "endpoint" << 3 << true << 4 << true << "^Net error!$" << 0;
    QTest::newRow("silent modem") << "silence" << 3 << true << 4 << true << "^(Net error!|timeout!)$" << 0;
    QTest::newRow("mailbox held") << "held" << 3 << true << 4 << true << "^Last command is running!$" << 0;
    QTest::newRow("empty host") << "host" << 3 << true << 4 << true << "^timeout!$" << 0;
    QTest::newRow("no data connection") << "offline" << 3 << true << 3 << false
                                        << "^GSM is offline, upload failed!$" << 0;
}

void TestFormHomeRaceDetail::closeUpload()
{
    QFETCH(QString, fault);
    QFETCH(int, state);
    QFETCH(bool, basketSync);
    QFETCH(int, endState);
    QFETCH(bool, stamped);
    QFETCH(QString, box);
    QFETCH(int, logRows);
    // The rig's database and clock replace the fixture's.
    gui.reset();
    Platform::setSystemClock({});
    NetworkRig rig(0x0001);
    QVERIFY(rig.isReady());
    UTC::_clubTimeDiff = 125000;
    ServiceFactory::getInstance()->pigeonBo = &rig.engine;
    gui = std::make_unique<GuiFixture>(&rig.db);
    // Gone before the database it stands on, also when a check fails.
    const auto dropWindow = qScopeGuard([this] { gui.reset(); });
    HardwareControl::init(0x0001); // the fixture starts without flags
    detail = gui->window()->formHomeRaceDetail;
    const qint64 stopBefore = state == 12 ? 1700000500000 : 0;
    RaceInfo race;
    race.raceCode = QStringLiteral("R1");
    race.liberName = QStringLiteral("Calais");
    race.liberTime = 1700000000000;
    race.valid = state;
    race.markReaderTime = basketSync ? NetworkRig::kMarkTime : 0;
    race.markDeviceTime = basketSync ? NetworkRig::kMarkTime : 0;
    race.raceStopReaderTime = stopBefore;
    race.raceStopDeviceTime = stopBefore;
    race.backPrintReaderId = QStringLiteral("ROUTER");
    race.backPrintFlag = true;
    Storage::instance()->saveRace(&race); // inserted as a new race
    Storage::instance()->saveRace(&race); // with its stop and print fields
    rig.engine.lockClubTime(UTC::clubTime().value());
    rig.engine.setMailboxWait({fault == QLatin1String("host") ? 50 : 1500, 10});

    std::unique_ptr<QThread> holder;
    if (fault != QLatin1String("offline")) {
        rig.start();
        rig.gate.allow(TurnGate::Gprs, -1);
        QTRY_VERIFY_WITH_TIMEOUT(rig.service.getGSMState().flags & 0x8, NetworkRig::kWaitMs);
    }
    if (fault == QLatin1String("endpoint"))
        rig.endpoint.addFault(CloudFault::ErrorText, -1, "refused");
    if (fault == QLatin1String("silence"))
        rig.peer.addFault(ModemFault::Silence, "AT+USOWR", -1);
    if (fault == QLatin1String("host"))
        rig.setLoft([](LoftInfo &l) { l.hostIp.clear(); });
    if (fault == QLatin1String("held")) {
        // Another caller's upload in flight, answered late.
        rig.endpoint.addFault(CloudFault::Late, 1, QByteArray(), 600);
        holder.reset(QThread::create([&rig, race] {
            try {
                rig.engine.uploadArriveData(&race);
            } catch (const VexException &) {
            }
            Storage::destroy();
        }));
        holder->start();
        QVERIFY(rig.endpoint.waitForCalls(1, NetworkRig::kWaitMs));
    }

    detail->showRaceDetail(Storage::instance()->findRaceById(QStringLiteral("R1")), nullptr);
    const int callsBefore = rig.endpoint.calls(QStringLiteral("uploadArriveData")).size();
    const PromptQueue prompts;
    const qint64 clubBefore = UTC::clubTime().value();
    QTest::mouseClick(detail->findChild<QPushButton *>(QStringLiteral("btnCloseUl")), Qt::LeftButton);
    if (fault != QLatin1String("offline")) {
        QCOMPARE(FormMessage::instance()->text(), QStringLiteral(" Please confirm you want to stop and upload this race!"));
        QCOMPARE(prompts.prompts(), QStringList{QStringLiteral("dong")});
        if (fault.isEmpty() && state == 3 && basketSync)
            QVERIFY(!ScreenDriver(detail, kSuite).shot(QStringLiteral("close-question")).isEmpty());
        QTest::mouseClick(FormMessage::instance()->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    } else {
        QVERIFY(prompts.prompts().isEmpty());
    }
    // The stop unlocks the club time, which takes its difference away.
    const qint64 clubAfter = UTC::now().value() + 125000;
    if (holder)
        QVERIFY(holder->wait(NetworkRig::kWaitMs));

    QVERIFY(FormMessage::instance()->isActived());
    QVERIFY2(QRegularExpression(box).match(FormMessage::instance()->text()).hasMatch(),
             qPrintable(FormMessage::instance()->text()));
    QCOMPARE(FormMessage::instance()->title(),
             box.contains(QLatin1String("OK")) ? QStringLiteral("Success") : QStringLiteral("Error"));
    const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(QStringLiteral("R1"));
    QCOMPARE(stored->valid, endState);
    QCOMPARE(rig.logRows(17), logRows);
    if (stamped) {
        QVERIFY(stored->raceStopReaderTime >= clubBefore && stored->raceStopReaderTime <= clubAfter);
        QCOMPARE(stored->raceStopDeviceTime, stored->raceStopReaderTime);
        QVERIFY(stored->backPrintReaderId.isEmpty());
        QVERIFY(!stored->backPrintFlag);
        QCOMPARE(detail->findChild<QLabel *>(QStringLiteral("labArriveTime"))->text(),
                 UTC::format(stored->raceStopReaderTime, QStringLiteral("dd/MM/yyyy hh:mm:ss")));
        // No race left running: the clock leaves the club time.
        QCOMPARE(rig.engine.getTimeMode() & 2, 0);
    } else {
        QCOMPARE(stored->raceStopReaderTime, stopBefore);
        QCOMPARE(stored->raceStopDeviceTime, stopBefore);
    }
    const int screenCalls = rig.endpoint.calls(QStringLiteral("uploadArriveData")).size() - callsBefore;
    if (fault.isEmpty())
        QCOMPARE(screenCalls, 1);
    if (fault.isEmpty() && state == 3 && basketSync)
        QVERIFY(!ScreenDriver(detail, kSuite).shot(QStringLiteral("upload-ok")).isEmpty());
    if (fault == QLatin1String("endpoint"))
        QVERIFY(!ScreenDriver(detail, kSuite).shot(QStringLiteral("upload-error")).isEmpty());
    // Delete follows the stored state: enabled once the race is at 12.
    // (the screen itself is disabled under the box)
    QCOMPARE(detail->findChild<QPushButton *>(QStringLiteral("btnDelete"))->isEnabledTo(detail), endState == 12);
    ServiceFactory::getInstance()->pigeonBo = nullptr;
}

void TestFormHomeRaceDetail::closeUpload_failingStopUploadsNothing()
{
    gui.reset();
    Platform::setSystemClock({});
    NetworkRig rig(0x0001);
    QVERIFY(rig.isReady());
    ServiceFactory::getInstance()->pigeonBo = &rig.engine;
    gui = std::make_unique<GuiFixture>(&rig.db);
    // Gone before the database it stands on, also when a check fails.
    const auto dropWindow = qScopeGuard([this] { gui.reset(); });
    HardwareControl::init(0x0001); // the fixture starts without flags
    detail = gui->window()->formHomeRaceDetail;
    NetworkRig::addRace(QStringLiteral("R1"), 3);
    RaceInfo race = *NetworkRig::race(QStringLiteral("R1"));
    race.markReaderTime = NetworkRig::kMarkTime;
    Storage::instance()->saveRace(&race);
    rig.start();
    rig.gate.allow(TurnGate::Gprs, -1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.service.getGSMState().flags & 0x8, NetworkRig::kWaitMs);
    QVERIFY(rig.db.failOn(QStringLiteral("UPDATE"), QStringLiteral("Race")));

    detail->showRaceDetail(NetworkRig::race(QStringLiteral("R1")), nullptr);
    const QString arriveBefore = detail->findChild<QLabel *>(QStringLiteral("labArriveTime"))->text();
    QTest::mouseClick(detail->findChild<QPushButton *>(QStringLiteral("btnCloseUl")), Qt::LeftButton);
    QTest::mouseClick(FormMessage::instance()->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    QVERIFY(rig.endpoint.calls(QStringLiteral("uploadArriveData")).isEmpty());
    QCOMPARE(NetworkRig::race(QStringLiteral("R1"))->valid, 3);
    QCOMPARE(NetworkRig::race(QStringLiteral("R1"))->raceStopReaderTime, 0);
    QCOMPARE(detail->findChild<QLabel *>(QStringLiteral("labArriveTime"))->text(), arriveBefore);
    QCOMPARE(rig.logRows(17), 0);
    ServiceFactory::getInstance()->pigeonBo = nullptr;
}

BRELLIUM_GUI_TEST_MAIN(TestFormHomeRaceDetail)
#include "tst_formhomeracedetail.moc"
