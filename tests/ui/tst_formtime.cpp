#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "race/pigeonbo.h"
#include "ui/mainwindow.h"
#include "ui/settings/formtime.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "guifixture.h"
#include "promptqueue.h"
#include "reportfixture.h"
#include "screendriver.h"

#include <QComboBox>
#include <QDateTime>
#include <QScopeGuard>
#include <QTest>

#include <memory>

// The club system's time screen against the real link in club mode and the
// router peer: the choosers at entry, Set with the router accepting,
// refusing or silent, impossible dates, and Sync into the device clock.

namespace {

const char kSuite[] = "tst_formtime";

qint64 utcMs(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC).toMSecsSinceEpoch();
}

// The time screen pushed over the kit's window, on the fixture's database,
// with a race engine (not started) published for Sync.
struct TimeScreen
{
    explicit TimeScreen(ReportFixture &fixture)
        : gui(&fixture.store())
        , screen(gui.window()->formTime)
        , drive(screen, QLatin1String(kSuite))
    {
        ServiceFactory::getInstance()->pigeonBo = &engine;
    }
    ~TimeScreen() { ServiceFactory::getInstance()->pigeonBo = nullptr; }

    // Day, month, year, hour, minute, second as shown.
    QStringList fields()
    {
        QStringList texts;
        for (const char *name : kBoxes)
            texts << drive.find<QComboBox>(name)->currentText();
        return texts;
    }
    void choose(const QStringList &texts)
    {
        for (int i = 0; i < texts.size(); ++i) {
            QComboBox *box = drive.find<QComboBox>(kBoxes[i]);
            const int index = box->findText(texts.at(i));
            QVERIFY2(index >= 0, qPrintable(texts.at(i)));
            box->setCurrentIndex(index);
        }
    }

    static constexpr const char *kBoxes[] = {"comboBoxDay", "comboBoxMonth", "comboBoxYear",
                                            "comboBoxHour", "comboBoxMinute", "comboBoxSecond"};
    PigeonBo engine;
    GuiFixture gui;
    FormTime *screen = nullptr;
    ScreenDriver drive;
};

ClubPortPeer::Fault faultOf(ClubPortPeer::Fault::Kind kind)
{
    ClubPortPeer::Fault fault;
    fault.kind = kind;
    fault.value = 0x01; // the refusal's status
    return fault;
}

} // namespace

class TestFormTime : public QObject
{
    Q_OBJECT
private slots:
    void entry_showsClubTimeFields_data();
    void entry_showsClubTimeFields();
    void set_sendsChosenTimeOrReportsTheLink_data();
    void set_sendsChosenTimeOrReportsTheLink();
    void set_impossibleDate_data();
    void set_impossibleDate();
    void sync_takesRouterTime_data();
    void sync_takesRouterTime();
    void noLink_actsAsSilent();
};

void TestFormTime::entry_showsClubTimeFields_data()
{
    QTest::addColumn<qint64>("deviceMs");
    QTest::addColumn<qint64>("clubDiffMs");
    QTest::addColumn<int>("zone");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("lastYear");
    // The device clock alone would show 17:26:53.
    QTest::newRow("club time, not device time")
        << ReportFixture::kDeviceMs << ReportFixture::kClubDiffMs << ReportFixture::kZoneSeconds
        << QStringList{"14", "03", "2026", "17", "28", "58"} << "2036";
    QTest::newRow("club year before 2015") << utcMs(2012, 7, 4, 5, 6, 7) << 0LL << 0
                                           << QStringList{"04", "07", "2015", "05", "06", "07"} << "2025";
    QTest::newRow("year past the old list") << utcMs(2031, 11, 20, 8, 9, 10) << 0LL << 0
                                            << QStringList{"20", "11", "2031", "08", "09", "10"} << "2041";
    // The zone moves the day and year too.
    QTest::newRow("new year in the zone only") << utcMs(2026, 12, 31, 20, 0, 1) << 0LL << 14400
                                               << QStringList{"01", "01", "2027", "00", "00", "01"} << "2037";
}

void TestFormTime::entry_showsClubTimeFields()
{
    QFETCH(qint64, deviceMs);
    QFETCH(qint64, clubDiffMs);
    QFETCH(int, zone);
    QFETCH(QStringList, fields);
    QFETCH(QString, lastYear);
    ReportFixture fixture;
    fixture.setClock(deviceMs, clubDiffMs, zone);
    TimeScreen time(fixture);
    PromptQueue sound;
    time.gui.push(time.screen);
    QCOMPARE(time.fields(), fields);
    QComboBox *years = time.drive.find<QComboBox>("comboBoxYear");
    QCOMPARE(years->itemText(0), QStringLiteral("2015"));
    QCOMPARE(years->itemText(years->count() - 1), lastYear);
    QVERIFY(!GuiFixture::boxShown());
    QCOMPARE(sound.prompts(), QStringList());
    if (QByteArray(QTest::currentDataTag()) == "club time, not device time")
        time.drive.shot(QStringLiteral("time-entry"));
}

void TestFormTime::set_sendsChosenTimeOrReportsTheLink_data()
{
    QTest::addColumn<QString>("router");
    QTest::addColumn<QStringList>("prompts");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text"); // empty: the link's own description of its failure
    QTest::newRow("accepted") << "answers" << QStringList{"ok"} << "Successful" << "Set time successfully!";
    QTest::newRow("refused") << "refuses" << QStringList{"ok", "error"} << "Error" << "Set time failed!";
    QTest::newRow("unauthorised") << "unauthorised" << QStringList{"ok", "error"} << "Error"
                                  << "Club clock unauthorized!";
    QTest::newRow("silent") << "silent" << QStringList{"ok", "error"} << "Error" << "";
}

void TestFormTime::set_sendsChosenTimeOrReportsTheLink()
{
    QFETCH(QString, router);
    QFETCH(QStringList, prompts);
    QFETCH(QString, title);
    QFETCH(QString, text);
    ReportFixture fixture;
    if (router == QLatin1String("unauthorised")) {
        fixture.peer().setCommandFault(ClubRouter::Authorise, faultOf(ClubPortPeer::Fault::Refuse));
        fixture.link().start();
        fixture.link().switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
        QTRY_VERIFY(fixture.link().isConnected());
    } else {
        QVERIFY(fixture.startClub());
    }
    const qint64 before = utcMs(2020, 1, 1, 0, 0, 0);
    fixture.peer().router().setClock(before);
    if (router == QLatin1String("refuses"))
        fixture.peer().setCommandFault(ClubRouter::SetTime, faultOf(ClubPortPeer::Fault::Refuse));
    if (router == QLatin1String("silent"))
        fixture.peer().setCommandFault(ClubRouter::SetTime, faultOf(ClubPortPeer::Fault::Silence));
    TimeScreen time(fixture);
    time.gui.push(time.screen);
    // 10:20:30 in the loft's zone (UTC+8) is 02:20:30 UTC.
    time.choose({"15", "06", "2027", "10", "20", "30"});
    PromptQueue sound;
    time.drive.click("btnSet");
    QCOMPARE(sound.prompts(), prompts);
    QVERIFY(GuiFixture::boxShown());
    QCOMPARE(GuiFixture::boxTitle(), title);
    if (text.isEmpty())
        QVERIFY(!GuiFixture::boxText().isEmpty() && GuiFixture::boxText() != QStringLiteral("Set time failed!"));
    else
        QCOMPARE(GuiFixture::boxText(), text);
    // The router's clock runs on from what it was given; a minute covers
    // any run of this test.
    const qint64 sent = utcMs(2027, 6, 15, 2, 20, 30);
    const qint64 clock = fixture.peer().router().clock();
    if (router == QLatin1String("answers"))
        QVERIFY2(clock >= sent && clock < sent + 60000, qPrintable(QString::number(clock - sent)));
    else
        QVERIFY2(clock < sent - 86400000LL, "the router's clock was set");
    QVERIFY(!time.screen->isBusy());
}

void TestFormTime::set_impossibleDate_data()
{
    QTest::addColumn<QStringList>("date"); // day, month, year
    QTest::addColumn<bool>("sent");
    QTest::newRow("31 April") << QStringList{"31", "04", "2027"} << false;
    QTest::newRow("30 February") << QStringList{"30", "02", "2028"} << false;
    QTest::newRow("29 February, common year") << QStringList{"29", "02", "2027"} << false;
    QTest::newRow("29 February, leap year") << QStringList{"29", "02", "2028"} << true;
}

void TestFormTime::set_impossibleDate()
{
    QFETCH(QStringList, date);
    QFETCH(bool, sent);
    ReportFixture fixture;
    QVERIFY(fixture.startClub());
    TimeScreen time(fixture);
    time.gui.push(time.screen);
    time.choose(date + QStringList{"12", "00", "00"});
    fixture.peer().clearFrames();
    PromptQueue sound;
    time.drive.click("btnSet");
    QVERIFY(GuiFixture::boxShown());
    if (sent) {
        QCOMPARE(sound.prompts(), QStringList{"ok"});
        QCOMPARE(GuiFixture::boxText(), QStringLiteral("Set time successfully!"));
        QCOMPARE(fixture.peer().framesOf(ClubRouter::SetTime).size(), 1);
        QCOMPARE(QDateTime::fromMSecsSinceEpoch(fixture.peer().router().clock(), Qt::UTC).date(),
                 QDate(2028, 2, 29));
        return;
    }
    QCOMPARE(sound.prompts(), QStringList{"error"});
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Invalid date!"));
    QVERIFY(fixture.peer().framesOf(ClubRouter::SetTime).isEmpty());
    if (QByteArray(QTest::currentDataTag()) == "31 April")
        time.drive.shot(QStringLiteral("time-invalid-date"));
}

void TestFormTime::sync_takesRouterTime_data()
{
    QTest::addColumn<QString>("router");
    QTest::addColumn<bool>("clubTimeLocked");
    QTest::addColumn<bool>("moved"); // the device clock follows the router
    QTest::addColumn<QStringList>("prompts");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QStringList ok{"ok"};
    const QStringList error{"error"};
    QTest::newRow("time mode 0") << "answers" << false << true << ok << "Success" << "Synchronize successfully!";
    QTest::newRow("club time locked") << "answers" << true << false << ok << "Success"
                                      << "Synchronize successfully!";
    QTest::newRow("refused") << "refuses" << false << false << error << "Error" << "Can not get time!";
    QTest::newRow("garbled") << "garbles" << false << false << error << "Error" << "Can not get time!";
    QTest::newRow("silent") << "silent" << false << false << error << "Error" << "Can not get time!";
}

void TestFormTime::sync_takesRouterTime()
{
    QFETCH(QString, router);
    QFETCH(bool, clubTimeLocked);
    QFETCH(bool, moved);
    QFETCH(QStringList, prompts);
    QFETCH(QString, title);
    QFETCH(QString, text);
    ReportFixture fixture;
    QVERIFY(fixture.startClub());
    const qint64 routerMs = utcMs(2026, 5, 1, 6, 30, 0);
    fixture.peer().router().setClock(routerMs);
    if (router == QLatin1String("refuses"))
        fixture.peer().setCommandFault(ClubRouter::GetTime, faultOf(ClubPortPeer::Fault::Refuse));
    if (router == QLatin1String("garbles"))
        fixture.peer().setCommandFault(ClubRouter::GetTime, faultOf(ClubPortPeer::Fault::BadSum));
    if (router == QLatin1String("silent"))
        fixture.peer().setCommandFault(ClubRouter::GetTime, faultOf(ClubPortPeer::Fault::Silence));
    TimeScreen time(fixture);
    if (clubTimeLocked)
        time.engine.lockClubTime(routerMs);
    const auto unlock = qScopeGuard([&time] { time.engine.unlockClubTime(); });
    time.gui.push(time.screen);
    time.gui.root().clearBoardCommands();
    const qint64 deviceBefore = UTC::now().value();
    const int logsBefore = fixture.store().value(QStringLiteral("select count(*) from Log where LogType=5")).toInt();
    PromptQueue sound;
    time.drive.click("btnSync");
    QCOMPARE(sound.prompts(), prompts);
    QCOMPARE(GuiFixture::boxTitle(), title);
    QCOMPARE(GuiFixture::boxText(), text);
    const QList<QVariantList> logs = fixture.store().rows(
        QStringLiteral("select LogInfo from Log where LogType=5 order by LogId"));
    if (!moved) {
        QCOMPARE(UTC::now().value(), deviceBefore);
        QCOMPARE(logs.size(), logsBefore);
        QVERIFY(!time.gui.root().boardCommands().contains(QStringLiteral("sync")));
        return;
    }
    // The router gives whole seconds; the link adds half of one. Its clock
    // ran on meanwhile: a minute covers any run of this test.
    const qint64 now = UTC::now().value();
    QVERIFY2(now >= routerMs + 500 && now < routerMs + 60000, qPrintable(QString::number(now - routerMs)));
    QCOMPARE(now % 1000, 500);
    QCOMPARE(logs.size(), logsBefore + 1);
    QVERIFY(logs.last().at(0).toString().contains(QStringLiteral("\"from\":\"MANUAL\"")));
    QVERIFY(!time.gui.root().readFile(QStringLiteral("/etc/timediff2")).isEmpty());
    QVERIFY(time.gui.root().boardCommands().contains(QStringLiteral("sync")));
}

// Without a club link (services not started) both buttons answer as a silent
// link would, at once.
void TestFormTime::noLink_actsAsSilent()
{
    StorageFixture store;
    GuiFixture gui(&store);
    ScreenDriver drive(gui.window()->formTime, QLatin1String(kSuite));
    gui.push(gui.window()->formTime);
    PromptQueue sound;
    drive.click("btnSet");
    QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Semaphore timeout!"));
    GuiFixture::answerBox(QMessageBox::Ok);
    drive.click("btnSync");
    QCOMPARE(GuiFixture::boxText(), QStringLiteral("Can not get time!"));
    QCOMPARE(sound.prompts(), (QStringList{"ok", "error", "error"}));
}

BRELLIUM_GUI_TEST_MAIN(TestFormTime)
#include "tst_formtime.moc"
