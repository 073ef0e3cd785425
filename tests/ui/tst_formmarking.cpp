#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formmarking.h"
#include "ui/pigeon/formpigeonlist.h"

#include "clubportpeer.h"
#include "guifixture.h"
#include "loftseed.h"
#include "clubrouter.h"
#include "promptqueue.h"
#include "reportfixture.h"
#include "screendriver.h"
#include "storagefixture.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

// The basketing screen: the reading loop driven by answers handed in on an
// unstarted club link (so the screen's commands stay queued where the test
// reads them), and the close with its printed list against the club router
// peer. What is guarded above all: no mark lost, doubled or given to another
// race, and never two of the screen's commands in the link.

namespace {

const char kRace[] = "R1";
const char kOtherRace[] = "R2";
constexpr qint64 kOtherMarkTime = 1000;

// The loft's pigeons by the last characters of their ring "0000A...".
struct Bird
{
    const char *assocNum;
    const char *ring;
    int sex;
    const char *color;
};
const Bird kBirds[] = {
    {"P101", "0000A101", 0, "Blue"},
    {"P157", "0000A157", 1, "Red"},
    {"P300", "0000A300", 2, "Grey"}, // basketed for the other race
};
const char kStrangerRing[] = "0000BEEF"; // no pigeon wears it

QString ringOf(const QString &shortRing)
{
    return shortRing.size() == 8 ? shortRing : QStringLiteral("0000") + shortRing;
}

// The loft with its voice mode, and its three ringed pigeons.
void seedLoft(int voiceMode)
{
    LoftSeed::loft();
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    loft.voiceMode = voiceMode;
    Storage::instance()->saveLoftInfo(&loft);
    for (const Bird &b : kBirds)
        LoftSeed::pigeon(QLatin1String(b.assocNum), QLatin1String(b.ring), b.sex, QLatin1String(b.color));
}

// Runs f in a thread of its own, as the link thread emits its answers, then
// delivers what it posted to the GUI thread.
void fromThread(const std::function<void()> &f)
{
    std::unique_ptr<QThread> thread(QThread::create(f));
    thread->start();
    thread->wait();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// The link's queue as letters: R a ring read, W a random-number write.
QString queueText(const MorlanProtocolProcess &link)
{
    QString text;
    for (int type : link.queuedCommandTypes())
        text += type == MorlanProtocolProcess::ReadTag ? QLatin1Char('R')
            : type == MorlanProtocolProcess::SetRandom ? QLatin1Char('W')
                                                         : QLatin1Char('?');
    return text;
}

const char kSuite[] = "tst_formmarking";

} // namespace

class TestFormMarking : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readingLoop_data();
    void readingLoop();
    void mark_storesFields_data();
    void mark_storesFields();
    void mark_databaseFailure_writesNeither_data();
    void mark_databaseFailure_writesNeither();
    void opening_data();
    void opening();
    void uploadSwitch_data();
    void uploadSwitch();
    void close_printsList_data();
    void close_printsList();
    void close_clubTimeMissing_data();
    void close_clubTimeMissing();
    void close_printerRefuses_printsAgain();
    void close_reprint_keepsWhatOthersWrote_data();
    void close_reprint_keepsWhatOthersWrote();
    void pigeons_opensListAndRecounts();
    void endToEnd_threeRingsMarkedAndListed();
};

void TestFormMarking::initTestCase()
{
    // At full scale the lost-answer bound (15 s) never passes in a test.
    qunsetenv("BRELLIUM_TIME_SCALE");
}

// The loop over an unstarted link. Steps: "r" an empty read answer, "r=A101"
// a read of that ring, "w=A101/90" a write answer with its random number,
// "w=" an empty write answer; "stop" (then Cancel), "start", "leave",
// "reopen"; "lost" waits out the bound of an answer that never comes.
void TestFormMarking::readingLoop_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("voiceMode");
    QTest::addColumn<QString>("queued");  // every command the screen asked, in order
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QStringList>("prompts"); // queued by the last step
    QTest::addColumn<QString>("marks");       // stored marks, assocNum:raceCode

    const QString other = QStringLiteral("P300:R2");
    const QString marked = QStringLiteral("P101:R1,") + other;
    const QString tenEmpty = QStringLiteral("r r r r r r r r r r");
    QTest::newRow("a new ring is marked")
        << "r=A101 w=A101/90" << 100 << "RWR" << "Pigeon mark is OK!" << QStringList{"pigeonValid"} << marked;
    QTest::newRow("voice 356 spells the last two characters")
        << "r=A157 w=A157/90" << 356 << "RWR" << "Pigeon mark is OK!" << QStringList{"5", "7"}
        << QStringLiteral("P157:R1,") + other;
    QTest::newRow("ten empty reads keep the last ring: silent")
        << QStringLiteral("r=A101 w=A101/90 ") + tenEmpty + QStringLiteral(" r=A101") << 100
        << QStringLiteral("RWR") + QString(11, QLatin1Char('R')) << "Pigeon mark is OK!" << QStringList() << marked;
    QTest::newRow("the eleventh forgets it: refused as marked")
        << QStringLiteral("r=A101 w=A101/90 ") + tenEmpty + QStringLiteral(" r r=A101") << 100
        << QStringLiteral("RWR") + QString(12, QLatin1Char('R')) << "Pigeon already marked!"
        << QStringList{"pigeonRepeat"} << marked;
    QTest::newRow("eleven empty reads show Waiting")
        << QStringLiteral("r ") + tenEmpty << 100 << QString(12, QLatin1Char('R')) << "Waiting..." << QStringList()
        << other;
    QTest::newRow("basketed for another race: refused at every read")
        << "r=A300 r=A300" << 100 << "RRR" << "Pigeon already marked!" << QStringList{"pigeonRepeat"} << other;
    QTest::newRow("a ring of no pigeon: written, invalid, then silent")
        << QStringLiteral("r=%1 w=%1/90 r=%1").arg(QLatin1String(kStrangerRing)) << 100 << "RWRR"
        << "Pigeon number is invalid!" << QStringList() << other;
    QTest::newRow("an empty write answer: read again, not written again")
        << "r=A101 w=" << 100 << "RWR" << "Pigeon is marking..." << QStringList() << other;
    QTest::newRow("write answer for a ring of another race: refused")
        << "r=A101 w=A300/90" << 100 << "RWR" << "Pigeon already marked!" << QStringList{"pigeonRepeat"} << other;
    QTest::newRow("stop and start with a read outstanding: no second read")
        << "stop start" << 100 << "R" << "Press <Start> to mark!" << QStringList{"dong"} << other;
    QTest::newRow("stop and start, then the answer")
        << "stop start r=A101" << 100 << "RW" << "Pigeon is marking..." << QStringList() << other;
    QTest::newRow("an answer while stopped is not handled; Start reads")
        << "stop r=A101 start" << 100 << "RR" << "Press <Start> to mark!" << QStringList{"dong"} << other;
    QTest::newRow("stop with a write outstanding: its answer marks nothing")
        << "r=A101 stop w=A101/90" << 100 << "RW" << "Press <Start> to mark!" << QStringList() << other;
    QTest::newRow("a doubled read answer is handled once")
        << "r=A101 r=A101" << 100 << "RW" << "Pigeon is marking..." << QStringList() << other;
    QTest::newRow("a doubled write answer marks once")
        << "r=A101 w=A101/90 w=A101/90" << 100 << "RWR" << "Pigeon mark is OK!" << QStringList() << marked;
    QTest::newRow("a write answer while a read is awaited is ignored")
        << "w=A101/90" << 100 << "R" << "Waiting..." << QStringList() << other;
    QTest::newRow("reopened with a read outstanding: its answer is the first read")
        << "leave reopen r=A101" << 100 << "RW" << "Pigeon is marking..." << QStringList() << other;
    QTest::newRow("reopened with a write outstanding: it marks nothing, a read follows")
        << "r=A101 leave reopen w=A101/90" << 100 << "RWR" << "Waiting..." << QStringList() << other;
    QTest::newRow("left: a late answer reaches nothing")
        << "leave r=A101" << 100 << "R" << "Waiting..." << QStringList() << other;
    QTest::newRow("no answer within the bound: Waiting and one read")
        << "lost" << 100 << "RR" << "Waiting..." << QStringList() << other;
    QTest::newRow("a lost write: read again, the late answer ignored")
        << "r=A101 lost w=A101/90" << 100 << "RWR" << "Waiting..." << QStringList() << other;
}

void TestFormMarking::readingLoop()
{
    QFETCH(QString, steps);
    QFETCH(int, voiceMode);
    QFETCH(QString, queued);
    QFETCH(QString, warning);
    QFETCH(QStringList, prompts);
    QFETCH(QString, marks);

    StorageFixture store;
    seedLoft(voiceMode);
    LoftSeed::race(QLatin1String(kRace), 1);
    LoftSeed::race(QLatin1String(kOtherRace), 1);
    LoftSeed::basket(QStringLiteral("P300"), QLatin1String(kOtherRace), kOtherMarkTime);
    MorlanProtocolProcess link(_serialPort_miniDin);
    PigeonBo engine;
    engine.reflushCache();
    ServiceFactory::getInstance()->protocolProcess = &link;
    ServiceFactory::getInstance()->pigeonBo = &engine;
    const auto unpublish = qScopeGuard([] {
        ServiceFactory::getInstance()->protocolProcess = nullptr;
        ServiceFactory::getInstance()->pigeonBo = nullptr;
    });
    GuiFixture gui(&store);
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    std::unique_ptr<PromptQueue> sound;

    const qint64 clubTime = UTC::clubTime().value();
    screen->startRaceMark(QLatin1String(kRace), clubTime);
    QCOMPARE(gui.window()->topSubForm(), screen);
    QCOMPARE(queueText(link), QStringLiteral("R"));

    for (const QString &step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        sound.reset(); // withdraws its thread: the new one must be published after
        sound = std::make_unique<PromptQueue>();
        if (step == QLatin1String("r")) {
            fromThread([&link] { emit link.readTagEnd(QString(), 0, QString()); });
        } else if (step.startsWith(QLatin1String("r="))) {
            const QString ring = ringOf(step.mid(2));
            fromThread([&link, ring] { emit link.readTagEnd(ring, 7, QStringLiteral("UID")); });
        } else if (step == QLatin1String("w=")) {
            fromThread([&link] { emit link.setRandomEnd(QString(), 0); });
        } else if (step.startsWith(QLatin1String("w="))) {
            const QStringList parts = step.mid(2).split(QLatin1Char('/'));
            const QString ring = ringOf(parts.at(0));
            const quint8 rand = quint8(parts.at(1).toInt());
            fromThread([&link, ring, rand] { emit link.setRandomEnd(ring, rand); });
        } else if (step == QLatin1String("stop")) {
            drive.click("btnStop");
            QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Print right now?"));
            GuiFixture::answerBox(QMessageBox::Cancel);
        } else if (step == QLatin1String("start")) {
            drive.click("btnStop");
        } else if (step == QLatin1String("leave")) {
            gui.window()->popSubForm(SubWindow::DeactiveHide);
            QVERIFY(!screen->isActive());
        } else if (step == QLatin1String("reopen")) {
            screen->startRaceMark(QLatin1String(kRace), clubTime);
        } else if (step == QLatin1String("lost")) {
            // The bound scaled to 15 ms for this step only: the answer awaited
            // is given up once, and the test looks before the next bound.
            QTimer *bound = screen->findChild<QTimer *>();
            QVERIFY(bound && bound->isActive());
            qputenv("BRELLIUM_TIME_SCALE", "0.001");
            bound->start(MainWindow::scaledMs(bound->interval()));
            qunsetenv("BRELLIUM_TIME_SCALE");
            QSignalSpy passed(bound, &QTimer::timeout);
            QVERIFY(passed.wait());
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }
    QCOMPARE(queueText(link), queued);
    QCOMPARE(drive.text("labelWarning"), warning);
    QCOMPARE(sound->prompts(), prompts);
    QStringList stored;
    for (const QVariantList &row :
         store.rows(QStringLiteral("select AssocNum,RaceCode from Record where MarkTime<>0 order by AssocNum")))
        stored << row.at(0).toString() + QLatin1Char(':') + row.at(1).toString();
    QCOMPARE(stored.join(QLatin1Char(',')), marks);
    // Every mark of this race has its one entry in the event log.
    QCOMPARE(store.value(QStringLiteral("select count(*) from Log where LogType=6")).toInt(),
             stored.filter(QStringLiteral(":R1")).size());
    if (QTest::currentDataTag() == QByteArray("a new ring is marked"))
        drive.shot(QStringLiteral("marked"));
    if (QTest::currentDataTag() == QByteArray("basketed for another race: refused at every read"))
        drive.shot(QStringLiteral("refused"));
}

void TestFormMarking::mark_storesFields_data()
{
    QTest::addColumn<qint64>("readerAheadMs"); // 0: no time pair stamped
    QTest::newRow("time pair not stamped: the club time") << qint64(0);
    QTest::newRow("reader 1000 ms ahead") << qint64(1000);
}

// The mark as stored: race, random number, reader and time; arrival, SMS and
// upload state cleared; ring and uid kept; the screen's total and texts.
void TestFormMarking::mark_storesFields()
{
    QFETCH(qint64, readerAheadMs);
    ReportFixture fixture;
    seedLoft(100);
    RaceInfo race = LoftSeed::race(QLatin1String(kRace), 1);
    if (readerAheadMs != 0) {
        race.markDeviceTime = UTC::clubTime().value() - 60000;
        race.markReaderTime = race.markDeviceTime + readerAheadMs;
        Storage::instance()->saveRace(&race);
    }
    QVERIFY(fixture.store().exec(QStringLiteral(
        "update Record set UidMarked='U101',BackTimeEring=5,RandNumberBack=6,BackTimeUid=7,UidBack='UB',BackOrder=2,"
        "GpsValid=1,GpsOnLine=1,BackHomeLat=8,BackHomeLon=9,NeedSms=1,SmsSendState=1,EringUploadState=1,"
        "UidUploadState=1 where AssocNum='P101'")));
    fixture.peer().router().setRouterId(QByteArray::fromHex("0A0B0C0D"));
    QVERIFY(fixture.startClub());
    PigeonBo engine;
    engine.reflushCache();
    ServiceFactory::getInstance()->pigeonBo = &engine;
    const auto unpublish = qScopeGuard([] { ServiceFactory::getInstance()->pigeonBo = nullptr; });
    GuiFixture gui(&fixture.store());
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    screen->startRaceMark(QLatin1String(kRace), fixture.peer().router().clock());
    // Without a stamped pair the opening locked the club time to the
    // router's; the device clock stands still.
    const qint64 deviceClub = UTC::clubTime().value();
    // The link reads and writes for real: the router hands out the ring.
    fixture.peer().router().setNextRandom(0x5A);
    fixture.peer().router().presentRing(QByteArray::fromHex("0000A101"), 3);
    QTRY_COMPARE(drive.text("labelWarning"), QStringLiteral("Pigeon mark is OK!"));
    fixture.peer().router().takeRingAway();

    const QList<QVariantList> rows = fixture.store().rows(QStringLiteral(
        "select RaceCode,RandNumMarked,MarkReaderId,MarkTime,BackTimeEring,RandNumberBack,BackTimeUid,UidBack,"
        "BackOrder,GpsValid,GpsOnLine,BackHomeLat,BackHomeLon,NeedSms,SmsSendState,EringUploadState,UidUploadState,"
        "EringNum,UidMarked from Record where AssocNum='P101'"));
    QCOMPARE(rows.size(), 1);
    const QVariantList &r = rows.first();
    QCOMPARE(r.at(0).toString(), QLatin1String(kRace));
    QCOMPARE(r.at(1).toInt(), 0x5A);
    QCOMPARE(r.at(2).toString(), QStringLiteral("0A0B0C0D"));
    QCOMPARE(r.at(3).toLongLong(), deviceClub + readerAheadMs);
    for (int column = 4; column <= 16; ++column)
        QVERIFY2(r.at(column).toString().isEmpty() || r.at(column).toLongLong() == 0, qPrintable(QString::number(column)));
    QCOMPARE(r.at(17).toString(), QStringLiteral("0000A101"));
    QCOMPARE(r.at(18).toString(), QStringLiteral("U101"));
    QCOMPARE(drive.text("txtPigeonTotal"), QStringLiteral("1"));
    QCOMPARE(drive.text("txtPigeonAssoc"), QStringLiteral("P101"));
    QCOMPARE(drive.text("txtPigeonSex"), QStringLiteral("Hen"));
    QCOMPARE(drive.text("txtPigeonColor"), QStringLiteral("Blue"));
    QCOMPARE(drive.text("txtPigeonERing"), QStringLiteral("0000A101"));
    QCOMPARE(fixture.store().value(QStringLiteral("select count(*) from Log where LogType=6")).toInt(), 1);
    QCOMPARE(fixture.peer().framesOf(ClubRouter::SetRandom).size(), 1);
}

void TestFormMarking::mark_databaseFailure_writesNeither_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("table");
    QTest::newRow("record update") << "UPDATE" << "Record";
    QTest::newRow("log insert") << "INSERT" << "Log";
}

void TestFormMarking::mark_databaseFailure_writesNeither()
{
    QFETCH(QString, kind);
    QFETCH(QString, table);
    StorageFixture store;
    seedLoft(100);
    LoftSeed::race(QLatin1String(kRace), 1);
    MorlanProtocolProcess link(_serialPort_miniDin);
    ServiceFactory::getInstance()->protocolProcess = &link;
    const auto unpublish = qScopeGuard([] { ServiceFactory::getInstance()->protocolProcess = nullptr; });
    GuiFixture gui(&store);
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    screen->startRaceMark(QLatin1String(kRace), UTC::clubTime().value());
    fromThread([&link] { emit link.readTagEnd(QStringLiteral("0000A101"), 0, QString()); });
    QVERIFY(store.failOn(kind, table));
    const QString before = store.dump();
    fromThread([&link] { emit link.setRandomEnd(QStringLiteral("0000A101"), 9); });
    QVERIFY(FormMessage::instance()->isActived());
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    QCOMPARE(store.dump(), before);
    QCOMPARE(queueText(link), QStringLiteral("RWR"));
}

void TestFormMarking::opening_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("otherActive"); // another race in state 3
    QTest::newRow("new race, no active race: club time locked") << 1 << false;
    QTest::newRow("new race, another in state 3: not locked") << 1 << true;
    QTest::newRow("closed race: shown stopped") << 3 << false;
}

void TestFormMarking::opening()
{
    QFETCH(int, state);
    QFETCH(bool, otherActive);
    ReportFixture fixture;
    seedLoft(100);
    LoftSeed::race(QLatin1String(kRace), state);
    if (otherActive)
        LoftSeed::race(QLatin1String(kOtherRace), 3);
    fixture.peer().router().setRouterId(QByteArray::fromHex("0A0B0C0D"));
    fixture.peer().router().setAuthorisation(0x01, QByteArray::fromHex("11223344"));
    QVERIFY(fixture.startClub());
    PigeonBo engine;
    engine.reflushCache();
    ServiceFactory::getInstance()->pigeonBo = &engine;
    const auto unpublish = qScopeGuard([] { ServiceFactory::getInstance()->pigeonBo = nullptr; });
    GuiFixture gui(&fixture.store());
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    fixture.peer().clearFrames();
    screen->startRaceMark(QLatin1String(kRace), fixture.peer().router().clock());
    QCOMPARE(gui.window()->topSubForm(), screen);

    const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(QLatin1String(kRace));
    const QString timeLogs = QStringLiteral("select count(*) from Log where LogType=5 and LogInfo like '%mark:0A0B0C0D%'");
    if (state == 1) {
        QCOMPARE(stored->markReaderId, QStringLiteral("0A0B0C0D"));
        QCOMPARE(stored->markAuthKey, QStringLiteral("11223344"));
        QCOMPARE(fixture.store().value(timeLogs).toInt(), otherActive ? 0 : 1);
        QCOMPARE(drive.text("btnStop"), QStringLiteral("Stop"));
        QVERIFY(!drive.find<QAbstractButton>("btnPrintMarkingList")->isEnabled());
        QVERIFY(!drive.find<QAbstractButton>("btnPigeons")->isEnabled());
        QTRY_VERIFY(!fixture.peer().framesOf(ClubRouter::ReadTransponder).isEmpty());
    } else {
        QVERIFY(stored->markReaderId.isEmpty());
        QCOMPARE(fixture.store().value(timeLogs).toInt(), 0);
        QCOMPARE(drive.text("labelWarning"), QStringLiteral("Press <Start> to mark!"));
        QCOMPARE(drive.text("btnStop"), QStringLiteral("Start"));
        QVERIFY(drive.find<QAbstractButton>("btnPrintMarkingList")->isEnabled());
        QVERIFY(drive.find<QAbstractButton>("btnPigeons")->isEnabled());
        QCOMPARE(drive.text("btnPrintMarkingList"), QStringLiteral("Print(1)"));
        drive.shot(QStringLiteral("stopped"));
        // Nothing asked of the link.
        QCOMPARE(fixture.link().queuedCommandCount(), 0);
        QVERIFY(fixture.peer().framesOf(ClubRouter::ReadTransponder).isEmpty());
    }
    QCOMPARE(drive.text("txtRaceCode"), QLatin1String(kRace));
    QCOMPARE(drive.text("txtLibName"), QStringLiteral("Paris"));
}

void TestFormMarking::uploadSwitch_data()
{
    QTest::addColumn<QVariant>("flag"); // "markUploadFlag" as stored; invalid: missing
    QTest::addColumn<bool>("checked");
    QTest::newRow("flag true: unchecked") << QVariant(true) << false;
    QTest::newRow("flag false: checked") << QVariant(false) << true;
    QTest::newRow("flag missing: checked") << QVariant() << true;
}

// The switch follows the race at each opening; a change is stored at once,
// also after Stop and Cancel; a closed race refuses it and the switch stays.
void TestFormMarking::uploadSwitch()
{
    QFETCH(QVariant, flag);
    QFETCH(bool, checked);
    StorageFixture store;
    seedLoft(100);
    RaceInfo race = LoftSeed::race(QLatin1String(kRace), 1);
    if (flag.isValid()) {
        race.setField(QStringLiteral("markUploadFlag"), flag);
        race.setField(QStringLiteral("markUploadedCount"), 4);
        Storage::instance()->saveRace(&race);
    }
    MorlanProtocolProcess link(_serialPort_miniDin);
    ServiceFactory::getInstance()->protocolProcess = &link;
    const auto unpublish = qScopeGuard([] { ServiceFactory::getInstance()->protocolProcess = nullptr; });
    GuiFixture gui(&store);
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    screen->startRaceMark(QLatin1String(kRace), UTC::clubTime().value());
    QAbstractButton *upload = drive.find<QAbstractButton>("btnUpload");
    QCOMPARE(upload->isChecked(), checked);

    drive.click("btnStop");
    GuiFixture::answerBox(QMessageBox::Cancel);
    QTest::mouseClick(upload, Qt::LeftButton);
    QCOMPARE(upload->isChecked(), !checked);
    const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(QLatin1String(kRace));
    QCOMPARE(stored->getField(QStringLiteral("markUploadFlag")).toBool(), checked);
    QCOMPARE(stored->getField(QStringLiteral("markUploadedCount")).toInt(), 0);
    QVERIFY(screen->findChild<QLabel *>(QStringLiteral("imgUploadChecked"))
                ->styleSheet()
                .contains(checked ? QStringLiteral("btn_Checkbox_normal") : QStringLiteral("btn_Checkbox_pressed")));

    // Closed elsewhere: refused, the switch as it was, nothing stored.
    QVERIFY(store.exec(QStringLiteral("update Race set Valid=3")));
    const QString before = store.dump();
    QTest::mouseClick(upload, Qt::LeftButton);
    QCOMPARE(upload->isChecked(), !checked);
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Race is running!"));
    QCOMPARE(store.dump(), before);
}

void TestFormMarking::close_printsList_data()
{
    QTest::addColumn<int>("printCount");
    QTest::addColumn<bool>("nominated");
    QTest::addColumn<bool>("otherActive");
    QTest::newRow("one copy") << 1 << false << false;
    QTest::newRow("three copies") << 3 << false << false;
    QTest::newRow("no copy") << 0 << false << false;
    QTest::newRow("nominated race: nomination order") << 1 << true << false;
    QTest::newRow("another race active: pair stamped without a lock") << 1 << false << true;
}

// Stop, Ok: the race stamped and closed (state 3, print flag), the list
// printed printCount times in its order, "Print OK!" once; then Start and
// the switch are refused.
void TestFormMarking::close_printsList()
{
    QFETCH(int, printCount);
    QFETCH(bool, nominated);
    QFETCH(bool, otherActive);
    ReportFixture fixture;
    seedLoft(100);
    RaceInfo race = LoftSeed::race(QLatin1String(kRace), 1);
    race.printCount = printCount;
    if (nominated)
        race.setField(QStringLiteral("nomination"), 1);
    Storage::instance()->saveRace(&race);
    if (otherActive)
        LoftSeed::race(QLatin1String(kOtherRace), 3);
    // Marked in the order P157, P101; nominated the other way round.
    LoftSeed::basket(QStringLiteral("P157"), QLatin1String(kRace), ReportFixture::kDeviceMs - 2000);
    LoftSeed::basket(QStringLiteral("P101"), QLatin1String(kRace), ReportFixture::kDeviceMs - 1000);
    if (nominated) {
        QVERIFY(fixture.store().exec(QStringLiteral("insert into Nomination(AssocNum,EringNum,RaceCode,Nom) values"
                                                    "('P101','','R1',1),('P157','','R1',2)")));
    }
    fixture.peer().router().setRouterId(QByteArray::fromHex("0A0B0C0D"));
    QVERIFY(fixture.startClub());
    PigeonBo engine;
    engine.reflushCache();
    ServiceFactory::getInstance()->pigeonBo = &engine;
    const auto unpublish = qScopeGuard([] { ServiceFactory::getInstance()->pigeonBo = nullptr; });
    GuiFixture gui(&fixture.store());
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    const qint64 routerTime = fixture.peer().router().clock();
    screen->startRaceMark(QLatin1String(kRace), routerTime);
    drive.click("btnStop");
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Print right now?"));
    drive.shot(QStringLiteral("question"));
    fixture.clearPrinted();
    GuiFixture::answerBox(QMessageBox::Ok);
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Print OK!"));
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Success"));

    const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(QLatin1String(kRace));
    QCOMPARE(stored->valid, 3);
    QVERIFY(stored->markPrintFlag);
    QCOMPARE(stored->markReaderId, QStringLiteral("0A0B0C0D"));
    // The router tells its time in whole seconds.
    QVERIFY(stored->markReaderTime >= routerTime - routerTime % 1000);
    if (otherActive)
        QCOMPARE(stored->markDeviceTime, UTC::clubTime().value());
    else
        QCOMPARE(stored->markDeviceTime, stored->markReaderTime);
    QString problem;
    const QList<QStringList> pages = fixture.printedPages(&problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pages.size(), qMax(0, printCount));
    if (printCount > 0) {
        const QString list = pages.first().join(QLatin1Char('\n'));
        const int first = list.indexOf(QStringLiteral("P101"));
        const int second = list.indexOf(QStringLiteral("P157"));
        QVERIFY(first >= 0 && second >= 0);
        QCOMPARE(first < second, nominated);
    }

    GuiFixture::answerBox(QMessageBox::Ok);
    drive.click("btnStop");
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Remark is disabled!"));
    GuiFixture::answerBox(QMessageBox::Ok);
    QAbstractButton *upload = drive.find<QAbstractButton>("btnUpload");
    const bool wasChecked = upload->isChecked();
    QTest::mouseClick(upload, Qt::LeftButton);
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Race is running!"));
    QCOMPARE(upload->isChecked(), wasChecked);
}

void TestFormMarking::close_clubTimeMissing_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("text");
    QTest::newRow("get time refused") << int(ClubPortPeer::Fault::Refuse) << "Morlan unknown exception!";
    QTest::newRow("router silent") << int(ClubPortPeer::Fault::Silence) << "";
}

void TestFormMarking::close_clubTimeMissing()
{
    QFETCH(int, fault);
    QFETCH(QString, text);
    ReportFixture fixture;
    seedLoft(100);
    LoftSeed::race(QLatin1String(kRace), 1);
    QVERIFY(fixture.startClub());
    fixture.link().setSyncTimeoutMs(1000);
    GuiFixture gui(&fixture.store());
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    screen->startRaceMark(QLatin1String(kRace), fixture.peer().router().clock());
    drive.click("btnStop");
    const QString before = fixture.store().dump();
    ClubPortPeer::Fault f;
    f.kind = ClubPortPeer::Fault::Kind(fault);
    f.value = 0x01;
    fixture.peer().setCommandFault(ClubRouter::GetTime, f);
    GuiFixture::answerBox(QMessageBox::Ok);
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    if (!text.isEmpty())
        QCOMPARE(FormMessage::instance()->text(), text);
    else
        QVERIFY(!FormMessage::instance()->text().isEmpty());
    QCOMPARE(fixture.store().dump(), before);
    QCOMPARE(fixture.pieceCount(), 0);
}

// The printer refuses part-way: the error shown, the race stays closed, and
// Print prints the whole list again.
void TestFormMarking::close_printerRefuses_printsAgain()
{
    ReportFixture fixture;
    seedLoft(100);
    LoftSeed::race(QLatin1String(kRace), 1);
    LoftSeed::basket(QStringLiteral("P101"), QLatin1String(kRace), ReportFixture::kDeviceMs - 1000);
    QVERIFY(fixture.startClub());
    GuiFixture gui(&fixture.store());
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    screen->startRaceMark(QLatin1String(kRace), fixture.peer().router().clock());
    drive.click("btnStop");
    ClubPortPeer::Fault refuse;
    refuse.kind = ClubPortPeer::Fault::Refuse;
    refuse.value = 0x01;
    fixture.peer().setCommandFault(ClubRouter::Print, refuse, 3);
    GuiFixture::answerBox(QMessageBox::Ok);
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    QVERIFY(FormMessage::instance()->text().startsWith(QStringLiteral("Print failed!")));
    QCOMPARE(Storage::instance()->findRaceById(QLatin1String(kRace))->valid, 3);
    GuiFixture::answerBox(QMessageBox::Ok);

    fixture.peer().clearFaults();
    fixture.clearPrinted();
    QVERIFY(drive.find<QAbstractButton>("btnPrintMarkingList")->isEnabled());
    drive.click("btnPrintMarkingList");
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Print OK!"));
    QString problem;
    const QList<QStringList> pages = fixture.printedPages(&problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pages.size(), 1);
    QVERIFY(pages.first().join(QLatin1Char('\n')).contains(QStringLiteral("P101")));
}

void TestFormMarking::close_reprint_keepsWhatOthersWrote_data()
{
    QTest::addColumn<bool>("closeFirst");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("uploadedCount");
    QTest::newRow("reprint after the engine raised the uploaded count") << true << 3 << 5;
    QTest::newRow("race stopped elsewhere while open, then Print") << false << 4 << 0;
}

void TestFormMarking::close_reprint_keepsWhatOthersWrote()
{
    QFETCH(bool, closeFirst);
    QFETCH(int, state);
    QFETCH(int, uploadedCount);
    ReportFixture fixture;
    seedLoft(100);
    LoftSeed::race(QLatin1String(kRace), 1);
    QVERIFY(fixture.startClub());
    GuiFixture gui(&fixture.store());
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    screen->startRaceMark(QLatin1String(kRace), fixture.peer().router().clock());
    drive.click("btnStop");
    GuiFixture::answerBox(closeFirst ? QMessageBox::Ok : QMessageBox::Cancel);
    if (closeFirst) {
        QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Print OK!"));
        GuiFixture::answerBox(QMessageBox::Ok);
    }
    // Written elsewhere while the screen holds its copy.
    QSharedPointer<RaceInfo> elsewhere = Storage::instance()->findRaceById(QLatin1String(kRace));
    if (closeFirst)
        elsewhere->setField(QStringLiteral("markUploadedCount"), uploadedCount);
    else
        elsewhere->valid = state;
    Storage::instance()->saveRace(elsewhere.data());

    drive.click("btnPrintMarkingList");
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Print OK!"));
    const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(QLatin1String(kRace));
    QCOMPARE(stored->valid, state);
    QCOMPARE(stored->getField(QStringLiteral("markUploadedCount")).toInt(), uploadedCount);
    QVERIFY(stored->markPrintFlag);
}

// Pigeons opens the race's list on top; a pigeon unmarked there lowers the
// total on the way back.
void TestFormMarking::pigeons_opensListAndRecounts()
{
    StorageFixture store;
    seedLoft(100);
    LoftSeed::race(QLatin1String(kRace), 3);
    LoftSeed::basket(QStringLiteral("P101"), QLatin1String(kRace), 1000);
    LoftSeed::basket(QStringLiteral("P157"), QLatin1String(kRace), 2000);
    GuiFixture gui(&store);
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    screen->startRaceMark(QLatin1String(kRace), UTC::clubTime().value());
    QCOMPARE(drive.text("txtPigeonTotal"), QStringLiteral("2"));
    PromptQueue sound;
    drive.click("btnPigeons");
    QCOMPARE(sound.prompts(), QStringList{"dong"});
    QCOMPARE(gui.window()->topSubForm(), gui.window()->formPigeonList);
    QVERIFY(store.exec(QStringLiteral("update Record set MarkTime=0,RaceCode='' where AssocNum='P101'")));
    gui.window()->popSubForm(SubWindow::DeactiveHide);
    QCOMPARE(gui.window()->topSubForm(), screen);
    QCOMPARE(drive.text("txtPigeonTotal"), QStringLiteral("1"));
}

// The link running against the router peer: three rings presented and taken
// away in turn give three marks with one random-number write each, and Stop
// and Ok print one list of the three.
void TestFormMarking::endToEnd_threeRingsMarkedAndListed()
{
    ReportFixture fixture;
    seedLoft(100);
    LoftSeed::race(QLatin1String(kRace), 1);
    QVERIFY(fixture.startClub());
    GuiFixture gui(&fixture.store());
    FormMarking *screen = gui.window()->formMarking;
    ScreenDriver drive(screen, QLatin1String(kSuite));
    screen->startRaceMark(QLatin1String(kRace), fixture.peer().router().clock());
    int marked = 0;
    for (const Bird &b : kBirds) {
        fixture.peer().router().presentRing(QByteArray::fromHex(b.ring), 1);
        ++marked;
        QTRY_COMPARE(drive.text("txtPigeonTotal"), QString::number(marked));
        QCOMPARE(drive.text("txtPigeonAssoc"), QLatin1String(b.assocNum));
        fixture.peer().router().takeRingAway();
    }
    QCOMPARE(fixture.peer().framesOf(ClubRouter::SetRandom).size(), 3);
    QCOMPARE(fixture.store().value(QStringLiteral("select count(*) from Log where LogType=6")).toInt(), 3);

    drive.click("btnStop");
    fixture.clearPrinted();
    // The progress as the print shows it, pictured at the first record line.
    QStringList progress;
    QString picture;
    std::function<void()> watch = [&] {
        const QString shown = FormMessage::instance()->text();
        if (progress.isEmpty() || progress.last() != shown)
            progress << shown;
        if (picture.isEmpty() && shown.contains(QStringLiteral("Report record"))) {
            picture = drive.shot(QStringLiteral("printing"));
            // Taps reach the screen while the print pumps events (the box
            // disables it, so they are handed straight to its slots): none
            // may start reading, a second print, a switch change or a screen.
            for (const char *slot : {"on_btnStop_clicked", "on_btnPrintMarkingList_clicked", "on_btnPigeons_clicked"})
                QMetaObject::invokeMethod(screen, slot);
            QMetaObject::invokeMethod(screen, "on_btnUpload_clicked", Q_ARG(bool, false));
            // Return then Home: the progress box stays and the screen too.
            gui.key(Qt::Key_Return);
            gui.key(Qt::Key_Home);
            QVERIFY(GuiFixture::boxShown());
            QCOMPARE(gui.top(), static_cast<SubWindow *>(screen));
        }
        if (!shown.startsWith(QStringLiteral("Print OK")))
            QTimer::singleShot(0, screen, watch);
    };
    QTimer::singleShot(0, screen, watch);
    GuiFixture::answerBox(QMessageBox::Ok);
    QCOMPARE(FormMessage::instance()->text(), QStringLiteral("Print OK!"));
    QVERIFY(progress.contains(QStringLiteral("Printing....\nReport head")));
    QVERIFY(progress.contains(QStringLiteral("Print...\nReport record 3")));
    QVERIFY(progress.contains(QStringLiteral("Printing...\nReport tailer")));
    QString problem;
    const QList<QStringList> pages = fixture.printedPages(&problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pages.size(), 1);
    QVERIFY(!picture.isEmpty());
    QCOMPARE(gui.window()->topSubForm(), screen);
    QCOMPARE(drive.text("btnStop"), QStringLiteral("Start"));
    QVERIFY(drive.find<QAbstractButton>("btnUpload")->isChecked());
    const QString list = pages.first().join(QLatin1Char('\n'));
    for (const Bird &b : kBirds)
        QCOMPARE(list.count(QLatin1String(b.assocNum)), 1);
}

BRELLIUM_GUI_TEST_MAIN(TestFormMarking)
#include "tst_formmarking.moc"
