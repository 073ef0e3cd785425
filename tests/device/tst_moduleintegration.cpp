#include "dbreader.h"
#include "modulepeerprocess.h"
#include "programprocess.h"
#include "testroot.h"

#include "storage/storage.h"

#include <QTest>

namespace {
constexpr int kStartMs = 15000;
// Mains gone for at most 5 s, then the orderly shutdown of every service.
constexpr int kPowerOffMs = 30000;
constexpr int kGpioMains = 51;
constexpr int kGpioBattery = 54;
constexpr int kGpioRf = 40;
} // namespace

// The program on a simulated root with the module peer as a process of its
// own, as the simulated device runs them: the clock polls the module, a ring
// presented at the peer reaches the race engine, and cutting mains powers
// the device off (recorded only) with one "Power Lost" entry.
class TestModuleIntegration : public QObject
{
    Q_OBJECT
private slots:
    void program_pollsModule_takesRing_powersOffWithoutMains();
};

void TestModuleIntegration::program_pollsModule_takesRing_powersOffWithoutMains()
{
    TestRoot root(2);
    root.setGpio(kGpioRf, 0);
    ModulePeerProcess peer(root);
    QVERIFY(peer.start());
    ProgramProcess program(root);
    QVERIFY(program.start());

    // One startRace for the connection, then the polls.
    QTRY_VERIFY_WITH_TIMEOUT(peer.stat(QStringLiteral("exchange")) >= 5, kStartMs);
    QCOMPARE(peer.stat(QStringLiteral("startRace")), 1);
    QCOMPARE(root.gpio(kGpioRf), 1);

    // A ringed pigeon of the loft, not basketed: its ring is a training arrival,
    // stored and logged once; presented again, it adds nothing.
    DbReader db(root.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile));
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('NL-24-45','0A1B2C3D')")));
    QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) "
                                   "values('NL-24-45','0A1B2C3D','train',0)")));
    db.close();
    const auto arrivalLogs = [&] {
        const int rows = db.value(QStringLiteral("select count(*) from Log where LogType=1")).toInt();
        db.close();
        return rows;
    };
    QVERIFY(peer.order(QStringLiteral("tag 0A1B2C3D")).startsWith(QLatin1String("ok")));
    QTRY_VERIFY2_WITH_TIMEOUT(arrivalLogs() == 1, program.output().constData(), kStartMs);
    QCOMPARE(db.value(QStringLiteral("select BackOrder from Record where AssocNum='NL-24-45' "
                                     "and BackTimeEring<>0"))
                 .toInt(),
             1);
    db.close();
    const int tagsRead = peer.stat(QStringLiteral("getTag"));
    QVERIFY(peer.order(QStringLiteral("tag 0A1B2C3D")).startsWith(QLatin1String("ok")));
    QTRY_VERIFY_WITH_TIMEOUT(peer.stat(QStringLiteral("getTag")) > tagsRead, kStartMs);
    // Handed on at once; a few polls later the engine has long dealt with it.
    QVERIFY(peer.waitForPolls(3, kStartMs, &program));
    QCOMPARE(arrivalLogs(), 1);

    root.setGpio(kGpioMains, 0);
    QVERIFY2(program.waitForEnd(kPowerOffMs), program.output().constData());
    QVERIFY2(program.endedNormally(), program.output().constData());
    QCOMPARE(root.gpio(kGpioBattery), 0);
    QCOMPARE(root.gpio(kGpioRf), 0);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Log where LogType=15 and "
                                     "LogInfo='{\"reason\":\"Power Lost\"}'"))
                 .toInt(),
             1);
    db.close();
    QVERIFY(program.output().contains("RFIDService Exit!"));

    QVERIFY(peer.quit());
}

QTEST_GUILESS_MAIN(TestModuleIntegration)
#include "tst_moduleintegration.moc"
