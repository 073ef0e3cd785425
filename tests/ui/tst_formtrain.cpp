#include "core/myapp.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formtrain.h"

#include "guifixture.h"
#include "innermodulepeer.h"
#include "messagecapture.h"
#include "promptqueue.h"
#include "runningengine.h"
#include "screendriver.h"
#include "storagefixture.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QThread>

#include <memory>

namespace {
constexpr int kZone = 28800;
constexpr int kWaitMs = 15000;
// 1 July 2026 10:00:00 UTC: the liberation of most cases.
constexpr qint64 kLiber = 1782900000000LL;
const QString kArrivedLook = QStringLiteral("Total-Of-Marking.png");

// The arrival time as the loft reads it: UTC shifted by the loft's zone,
// never the host's.
QString loftTime(qint64 ms, const QString &pattern)
{
    return QDateTime::fromMSecsSinceEpoch(ms + kZone * 1000LL, Qt::UTC).toString(pattern);
}

// One pigeon and its record, written on the fixture's connection.
void addPigeon(const StorageFixture &db, const QString &assoc, const QString &ring, const QString &race,
               qint64 markTime, qint64 backTime)
{
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','%2')").arg(assoc, ring)));
    QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime,BackTimeEring) "
                                   "values('%1','%2','%3',%4,%5)")
                        .arg(assoc, ring, race)
                        .arg(markTime)
                        .arg(backTime)));
}

void setParam(const StorageFixture &db, const QString &key, const QString &text)
{
    QVERIFY(db.exec(QStringLiteral("delete from APPPARAMS where id='%1'").arg(key)));
    if (!text.isNull())
        QVERIFY(db.exec(QStringLiteral("insert into APPPARAMS(id,val) values('%1','%2')").arg(key, text)));
}

QString ringOf(int n)
{
    return QStringLiteral("D%1").arg(n, 7, 10, QLatin1Char('0'));
}

// pigeonBack as the engine emits it: from a thread of its own, queued to the
// screen. The thread has ended when this returns, so every signal is queued
// before the test's event loop runs again.
void emitBacks(PigeonBo *engine, int count)
{
    std::unique_ptr<QThread> thread(QThread::create([engine, count] {
        for (int i = 0; i < count; ++i) {
            PigeonRecord record;
            record.assocNum = QStringLiteral("any");
            emit engine->pigeonBack(record);
        }
    }));
    thread->start();
    thread->wait();
}

// Runs the event loop until what is queued now, and what that queues in
// turn, has been delivered.
void drainEvents()
{
    for (int pass = 0; pass < 2; ++pass) {
        bool reached = false;
        QMetaObject::invokeMethod(qApp, [&reached] { reached = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(reached);
    }
}

} // namespace

// The training arrivals: which records each list shows and in what order,
// the speed texts, the two tabs, and the reload on every stored arrival
// while the screen is open.
class TestFormTrain : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lists_data();
    void lists();
    void speed_data();
    void speed();
    void speed_isSinglePrecision();
    void unitChange_changesEveryRow();
    void tabs_data();
    void tabs();
    void shownListKeptAcrossVisits();
    void arrival_reloadsWhileActive_data();
    void arrival_reloadsWhileActive();
    void arrival_afterLeaving_nothingHappens();
    void burst_oneReload();
    void noEngine_listsLoad();
    void failingQuery_boxAndScreenRunsOn_data();
    void failingQuery_boxAndScreenRunsOn();
    void ringAtAntenna_appearsWithSpeed();

private:
    FormTrain *screen() const { return fixture->window()->formTrain; }
    QTableWidget *table() const { return screen()->findChild<QTableWidget *>(QStringLiteral("tablePigeonList")); }
    QString label(const char *name) const { return screen()->findChild<QLabel *>(QLatin1String(name))->text(); }
    QStringList column(int c) const;
    void open();
    void publishEngine();
    void seedLoft() const;

    std::unique_ptr<GuiFixture> fixture;
    std::unique_ptr<ScreenDriver> driver;
    std::unique_ptr<PigeonBo> engine;
};

void TestFormTrain::init()
{
    fixture = std::make_unique<GuiFixture>();
    Platform::setSystemClock([] { return kLiber + 3600000; });
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = 0;
    UTC::setTimeZone(kZone);
    driver = std::make_unique<ScreenDriver>(screen(), QStringLiteral("tst_formtrain"));
}

void TestFormTrain::cleanup()
{
    if (engine) {
        ServiceFactory::getInstance()->pigeonBo = nullptr;
        engine.reset();
    }
    driver.reset();
    fixture.reset();
    Platform::setSystemClock({});
}

QStringList TestFormTrain::column(int c) const
{
    QStringList texts;
    for (int row = 0; row < table()->rowCount(); ++row)
        texts << table()->item(row, c)->text();
    return texts;
}

void TestFormTrain::open()
{
    fixture->push(screen());
    QCOMPARE(fixture->top(), static_cast<SubWindow *>(screen()));
}

// An engine published as the service thread does, never started: the test
// emits its signal.
void TestFormTrain::publishEngine()
{
    engine = std::make_unique<PigeonBo>();
    ServiceFactory::getInstance()->pigeonBo = engine.get();
}

// Every kind of record the lists must sort out.
void TestFormTrain::seedLoft() const
{
    const StorageFixture &db = fixture->store();
    addPigeon(db, QStringLiteral("T-20"), ringOf(20), QStringLiteral("train"), 0, kLiber + 300000);
    addPigeon(db, QStringLiteral("E-3"), ringOf(3), QString(""), 0, kLiber + 100000);
    addPigeon(db, QStringLiteral("O-1"), ringOf(1), QStringLiteral("R9"), 0, kLiber + 200000);
    addPigeon(db, QStringLiteral("N-2"), ringOf(102), QStringLiteral("train"), 0, 0);
    addPigeon(db, QStringLiteral("N-10"), ringOf(110), QStringLiteral("train"), 0, 0);
    addPigeon(db, QStringLiteral("N-1"), ringOf(101), QString(""), 0, 0);
    // Basketed for a race, arrived or not; and without a ring.
    addPigeon(db, QStringLiteral("B-1"), ringOf(201), QStringLiteral("R1"), kLiber - 86400000, kLiber + 50000);
    addPigeon(db, QStringLiteral("B-2"), ringOf(202), QStringLiteral("R1"), kLiber - 86400000, 0);
    addPigeon(db, QStringLiteral("U-1"), QString(""), QStringLiteral("train"), 0, kLiber + 60000);
    addPigeon(db, QStringLiteral("U-2"), QString(""), QStringLiteral("train"), 0, 0);
}

void TestFormTrain::lists_data()
{
    QTest::addColumn<bool>("seeded");
    QTest::addColumn<bool>("arrivedTab");
    QTest::addColumn<QStringList>("assocNums");
    QTest::addColumn<QList<qint64>>("backTimes");

    QTest::newRow("arrived: any race code with mark time 0, earliest first")
        << true << true << QStringList{"E-3", "O-1", "T-20"}
        << QList<qint64>{kLiber + 100000, kLiber + 200000, kLiber + 300000};
    QTest::newRow("not arrived: by association number as text")
        << true << false << QStringList{"N-1", "N-10", "N-2"} << QList<qint64>{0, 0, 0};
    QTest::newRow("arrived, nothing matches") << false << true << QStringList{} << QList<qint64>{};
    QTest::newRow("not arrived, nothing matches") << false << false << QStringList{} << QList<qint64>{};
}

void TestFormTrain::lists()
{
    QFETCH(bool, seeded);
    QFETCH(bool, arrivedTab);
    QFETCH(QStringList, assocNums);
    QFETCH(QList<qint64>, backTimes);
    if (seeded)
        seedLoft();
    setParam(fixture->store(), QStringLiteral("train_libertime"), QString::number(kLiber));
    open();
    if (!arrivedTab)
        driver->click("btnNotArrived");

    QCOMPARE(label("labelTotalPigeon"), QString::number(assocNums.size()));
    QCOMPARE(column(1), assocNums);
    QStringList numbers;
    QStringList times;
    for (int i = 0; i < assocNums.size(); ++i) {
        numbers << QString::number(i + 1);
        times << (arrivedTab ? loftTime(backTimes.at(i), QStringLiteral("dd/MM hh:mm:ss")) : QStringLiteral("--"));
    }
    QCOMPARE(column(0), numbers);
    QCOMPARE(column(2), times);
    if (!arrivedTab)
        QCOMPARE(column(3), QStringList(assocNums.size(), QStringLiteral("--")));
    else if (seeded) // the default 100 km over 100, 200 and 300 s
        QCOMPARE(column(3), (QStringList{"60000.00 m/m", "30000.00 m/m", "20000.00 m/m"}));
    QCOMPARE(label("labLiberTime"), loftTime(kLiber, QStringLiteral("dd/MM/yyyy hh:mm:ss")));
    QCOMPARE(table()->columnCount(), 4);
    QCOMPARE(table()->horizontalHeaderItem(3)->text(), QStringLiteral("Speed"));
    driver->shot(QStringLiteral("%1-%2").arg(arrivedTab ? "arrived" : "notarrived", seeded ? "loft" : "empty"));
    if (seeded) {
        // The columns are wider than the table: the speeds lie to the right.
        table()->horizontalScrollBar()->setValue(table()->horizontalScrollBar()->maximum());
        driver->shot(QStringLiteral("%1-loft-scrolled").arg(arrivedTab ? "arrived" : "notarrived"));
    }
}

void TestFormTrain::speed_data()
{
    QTest::addColumn<QString>("distance"); // stored text; null = never stored
    QTest::addColumn<QString>("standard");
    QTest::addColumn<QString>("liberation");
    QTest::addColumn<qint64>("backTime");
    QTest::addColumn<QString>("expected");

    const QString liber = QString::number(kLiber);
    const QString none;
    QTest::newRow("10 km 1500 m in 1800 s") << "21500" << "0" << liber << kLiber + 1800000 << "383.33 m/m";
    QTest::newRow("10 miles 1500 yards in 1800 s") << "21500" << "1" << liber << kLiber + 1800000 << "636.67 Y/M";
    QTest::newRow("any unit other than 0 is imperial") << "21500" << "-3" << liber << kLiber + 1800000 << "636.67 Y/M";
    QTest::newRow("no distance stored, metric") << none << "0" << liber << kLiber + 3600000 << "1666.67 m/m";
    QTest::newRow("no distance stored, imperial") << none << "1" << liber << kLiber + 3600000 << "2933.33 Y/M";
    QTest::newRow("no unit stored") << "21500" << none << liber << kLiber + 1800000 << "383.33 m/m";
    QTest::newRow("distance not a number") << "far" << "0" << liber << kLiber + 1800000 << "0.00 m/m";
    QTest::newRow("before the liberation") << "21500" << "0" << liber << kLiber - 1 << "--";
    QTest::newRow("at the liberation") << "21500" << "0" << liber << kLiber << "--";
    QTest::newRow("999 ms after") << "21500" << "0" << liber << kLiber + 999 << "--";
    QTest::newRow("1000 ms after: one second") << "21500" << "0" << liber << kLiber + 1000 << "690000.00 m/m";
    QTest::newRow("1999 ms after: still one second") << "21500" << "0" << liber << kLiber + 1999 << "690000.00 m/m";
    QTest::newRow("no liberation stored: from time 0") << none << "0" << none << qint64(3600000) << "1666.67 m/m";
}

void TestFormTrain::speed()
{
    QFETCH(QString, distance);
    QFETCH(QString, standard);
    QFETCH(QString, liberation);
    QFETCH(qint64, backTime);
    QFETCH(QString, expected);
    const StorageFixture &db = fixture->store();
    setParam(db, QStringLiteral("train_distance"), distance);
    setParam(db, QStringLiteral("standard"), standard);
    setParam(db, QStringLiteral("train_libertime"), liberation);
    addPigeon(db, QStringLiteral("S-1"), ringOf(1), QStringLiteral("train"), 0, backTime);
    open();
    QCOMPARE(column(3), QStringList{expected});
    if (liberation.isNull())
        QCOMPARE(label("labLiberTime"), loftTime(0, QStringLiteral("dd/MM/yyyy hh:mm:ss")));
}

// The speed is worked out in single precision, as every clock of the loft's
// federation does; a double result rounds some second decimals differently.
void TestFormTrain::speed_isSinglePrecision()
{
    int metres = 0;
    int seconds = 0;
    QString single;
    for (int m = 10001; m < 20000 && single.isEmpty(); m += 7) {
        for (int s = 61; s < 4000; s += 13) {
            const float f = float(m) / float(s) * 60.0f;
            const QString asFloat = QString::asprintf("%.2f", double(f));
            if (asFloat != QString::asprintf("%.2f", double(m) / double(s) * 60.0)) {
                metres = m;
                seconds = s;
                single = asFloat;
                break;
            }
        }
    }
    QVERIFY2(!single.isEmpty(), "no input where the precisions round apart");
    // Metres below 1000 in whole kilometres plus a remainder: 2000 per km.
    const int distance = (metres / 1000) * 2000 + metres % 1000;
    setParam(fixture->store(), QStringLiteral("train_distance"), QString::number(distance));
    setParam(fixture->store(), QStringLiteral("train_libertime"), QString::number(kLiber));
    addPigeon(fixture->store(), QStringLiteral("S-1"), ringOf(1), QStringLiteral("train"), 0,
              kLiber + seconds * 1000LL);
    open();
    QCOMPARE(column(3), QStringList{single + QStringLiteral(" m/m")});
}

void TestFormTrain::unitChange_changesEveryRow()
{
    const StorageFixture &db = fixture->store();
    setParam(db, QStringLiteral("train_libertime"), QString::number(kLiber));
    setParam(db, QStringLiteral("train_distance"), QStringLiteral("21500"));
    setParam(db, QStringLiteral("standard"), QStringLiteral("0"));
    addPigeon(db, QStringLiteral("S-1"), ringOf(1), QStringLiteral("train"), 0, kLiber + 1800000);
    addPigeon(db, QStringLiteral("S-2"), ringOf(2), QStringLiteral("train"), 0, kLiber + 3600000);
    open();
    QCOMPARE(column(3), (QStringList{"383.33 m/m", "191.67 m/m"}));
    setParam(db, QStringLiteral("standard"), QStringLiteral("1"));
    driver->click("btnNotArrived");
    driver->click("btnArrived");
    QCOMPARE(column(3), (QStringList{"636.67 Y/M", "318.33 Y/M"}));
}

void TestFormTrain::tabs_data()
{
    QTest::addColumn<bool>("startOnArrived");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<bool>("switches");

    QTest::newRow("arrived shown, Arrived") << true << QByteArray("btnArrived") << false;
    QTest::newRow("arrived shown, Not Arrived") << true << QByteArray("btnNotArrived") << true;
    QTest::newRow("not arrived shown, Not Arrived") << false << QByteArray("btnNotArrived") << false;
    QTest::newRow("not arrived shown, Arrived") << false << QByteArray("btnArrived") << true;
}

void TestFormTrain::tabs()
{
    QFETCH(bool, startOnArrived);
    QFETCH(QByteArray, button);
    QFETCH(bool, switches);
    seedLoft();
    open();
    if (!startOnArrived)
        driver->click("btnNotArrived");
    PromptQueue sound;
    const quint64 before = Storage::statementCount();
    driver->click(button.constData());

    const bool arrivedShown = startOnArrived != switches;
    QCOMPARE(sound.prompts(), switches ? QStringList{QStringLiteral("keyPress")} : QStringList{});
    if (!switches)
        QCOMPARE(Storage::statementCount(), before); // no reload
    QCOMPARE(column(1), arrivedShown ? (QStringList{"E-3", "O-1", "T-20"}) : (QStringList{"N-1", "N-10", "N-2"}));
    const auto *arrived = screen()->findChild<QPushButton *>(QStringLiteral("btnArrived"));
    const auto *notArrived = screen()->findChild<QPushButton *>(QStringLiteral("btnNotArrived"));
    QCOMPARE(arrived->styleSheet().contains(kArrivedLook), arrivedShown);
    QCOMPARE(notArrived->styleSheet().contains(kArrivedLook), !arrivedShown);
    QVERIFY(!fixture->boxShown());
}

void TestFormTrain::shownListKeptAcrossVisits()
{
    seedLoft();
    open();
    driver->click("btnNotArrived");
    QVERIFY(fixture->key(Qt::Key_Escape));
    QCOMPARE(fixture->top(), nullptr);
    // An arrival meanwhile: the next visit loads afresh.
    QVERIFY(fixture->store().exec(QStringLiteral("update Record set BackTimeEring=%1 where AssocNum='N-10'")
                                      .arg(kLiber + 400000)));
    open();
    QCOMPARE(column(1), (QStringList{"N-1", "N-2"}));
    QCOMPARE(label("labelTotalPigeon"), QStringLiteral("2"));
}

void TestFormTrain::arrival_reloadsWhileActive_data()
{
    QTest::addColumn<bool>("arrivedTab");
    QTest::addColumn<bool>("startScreenOnTop");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("arrived list") << true << false << QStringList{"E-3", "O-1", "T-20", "N-10"};
    QTest::newRow("not arrived list") << false << false << QStringList{"N-1", "N-2"};
    QTest::newRow("start screen on top") << true << true << QStringList{"E-3", "O-1", "T-20", "N-10"};
}

void TestFormTrain::arrival_reloadsWhileActive()
{
    QFETCH(bool, arrivedTab);
    QFETCH(bool, startScreenOnTop);
    QFETCH(QStringList, after);
    seedLoft();
    publishEngine();
    open();
    if (!arrivedTab)
        driver->click("btnNotArrived");
    if (startScreenOnTop)
        driver->click("btnReset");

    QVERIFY(fixture->store().exec(QStringLiteral("update Record set BackTimeEring=%1 where AssocNum='N-10'")
                                      .arg(kLiber + 400000)));
    emitBacks(engine.get(), 1);
    QTRY_COMPARE(column(1), after);
    QCOMPARE(label("labelTotalPigeon"), QString::number(after.size()));
    if (arrivedTab)
        driver->shot(startScreenOnTop ? QStringLiteral("arrival-under-start") : QStringLiteral("arrival-arrived"));
}

void TestFormTrain::arrival_afterLeaving_nothingHappens()
{
    seedLoft();
    publishEngine();
    open();
    QVERIFY(fixture->key(Qt::Key_Escape));
    QVERIFY(fixture->store().exec(QStringLiteral("update Record set BackTimeEring=%1 where AssocNum='N-10'")
                                      .arg(kLiber + 400000)));
    const quint64 before = Storage::statementCount();
    emitBacks(engine.get(), 3);
    drainEvents();
    QCOMPARE(Storage::statementCount(), before);
    QCOMPARE(column(1), (QStringList{"E-3", "O-1", "T-20"}));
}

// A loft's whole team landing within a second: one reload, not one per bird.
void TestFormTrain::burst_oneReload()
{
    const StorageFixture &db = fixture->store();
    setParam(db, QStringLiteral("train_libertime"), QString::number(kLiber));
    for (int n = 1; n <= 50; ++n)
        addPigeon(db, QStringLiteral("P-%1").arg(n, 2, 10, QLatin1Char('0')), ringOf(n), QStringLiteral("train"), 0, 0);
    publishEngine();
    open();

    // What one arrival costs.
    QVERIFY(db.exec(QStringLiteral("update Record set BackTimeEring=%1 where AssocNum='P-01'").arg(kLiber + 1000)));
    quint64 before = Storage::statementCount();
    emitBacks(engine.get(), 1);
    QTRY_COMPARE(table()->rowCount(), 1);
    drainEvents();
    const quint64 oneReload = Storage::statementCount() - before;
    QVERIFY(oneReload > 0);

    QVERIFY(db.exec(QStringLiteral("update Record set BackTimeEring=%1+rowid where BackTimeEring=0").arg(kLiber + 2000)));
    before = Storage::statementCount();
    emitBacks(engine.get(), 50);
    drainEvents();
    QCOMPARE(Storage::statementCount() - before, oneReload);
    QCOMPARE(table()->rowCount(), 50);
    QCOMPARE(label("labelTotalPigeon"), QStringLiteral("50"));
}

void TestFormTrain::noEngine_listsLoad()
{
    seedLoft();
    MessageCapture log;
    open();
    QCOMPARE(column(1), (QStringList{"E-3", "O-1", "T-20"}));
    QVERIFY(log.contains(QStringLiteral("no race engine")));
    QVERIFY(!fixture->boxShown());
}

void TestFormTrain::failingQuery_boxAndScreenRunsOn_data()
{
    QTest::addColumn<bool>("byArrival"); // else by switching the list
    QTest::newRow("switching the list") << false;
    QTest::newRow("an arrival") << true;
}

void TestFormTrain::failingQuery_boxAndScreenRunsOn()
{
    QFETCH(bool, byArrival);
    seedLoft();
    publishEngine();
    open();
    // The list's query (after the liberation read) fails.
    Storage::setFault(Storage::Fault::FailStatement, 2);
    if (byArrival) {
        emitBacks(engine.get(), 1);
        QTRY_VERIFY(fixture->boxShown());
    } else {
        driver->click("btnNotArrived");
        QVERIFY(fixture->boxShown());
    }
    Storage::setFault(Storage::Fault::None);
    QCOMPARE(fixture->box()->title(), QStringLiteral("Error"));
    QVERIFY(fixture->boxText() != QStringLiteral("Unknown Exception!"));
    if (byArrival)
        driver->shot(QStringLiteral("query-failed"));
    fixture->answerBox(QMessageBox::Ok);
    QCOMPARE(fixture->top(), static_cast<SubWindow *>(screen()));

    // The screen runs on: the next reload shows the list.
    QVERIFY(fixture->store().exec(QStringLiteral("update Record set BackTimeEring=%1 where AssocNum='N-10'")
                                      .arg(kLiber + 400000)));
    emitBacks(engine.get(), 1);
    QTRY_COMPARE(label("labelTotalPigeon"), byArrival ? QStringLiteral("4") : QStringLiteral("2"));
    QVERIFY(!fixture->boxShown());
}

// The whole road: a ring at the landing antenna, the polling thread, the
// real engine storing the arrival, and the open list showing it.
void TestFormTrain::ringAtAntenna_appearsWithSpeed()
{
    StorageFixture &db = fixture->store();
    const qint64 liber = UTC::clubTime().value() - 1800000;
    setParam(db, QStringLiteral("train_libertime"), QString::number(liber));
    setParam(db, QStringLiteral("train_distance"), QStringLiteral("21500"));
    addPigeon(db, QStringLiteral("R-1"), ringOf(1), QStringLiteral("train"), 0, 0);
    db.root().setGpio(51, 1); // mains present
    db.root().setGpio(40, 0);

    InnerModulePeer peer;
    peer.linkUnder(db.root().root(), QStringLiteral("/dev/ttyS3"));
    peer.start();
    RunningEngine running;
    QVERIFY(running.startEngine());
    RFIDService rfid(QStringLiteral("/dev/ttyS3"), 0x311);
    rfid.setTiming(RFIDService::Timing{20, 200});
    rfid.start();
    open();
    QCOMPARE(table()->rowCount(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rfid.isValid(), kWaitMs);

    peer.presentTag(ringOf(1), QStringLiteral("1234ABCD"), 7);
    QTRY_COMPARE_WITH_TIMEOUT(column(1), QStringList{"R-1"}, kWaitMs);
    QVERIFY(column(3).first().endsWith(QStringLiteral(" m/m")));
    QVERIFY(column(3).first() != QStringLiteral("--"));
    driver->shot(QStringLiteral("ring-at-antenna"));

    QVERIFY(fixture->key(Qt::Key_Escape));
    rfid.requestExit();
    rfid.wait(5000);
    running.quit();
    running.wait(5000);
}

int main(int argc, char *argv[])
{
    // Any use of the host's zone instead of the loft's shows in the texts.
    qputenv("TZ", "America/Sao_Paulo");
    MyApp app(argc, argv);
    TestFormTrain test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_formtrain.moc"
