#include "testroot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QUdpSocket>

namespace {
constexpr int kStartMs = 15000;
constexpr int kAnswerMs = 3000;
// Mains gone for at most 5 s, then the orderly shutdown of every service.
constexpr int kPowerOffMs = 30000;
constexpr int kGpioMains = 51;
constexpr int kGpioBattery = 54;
constexpr int kGpioRf = 40;

QString buildDir()
{
    return qEnvironmentVariable("BRELLIUM_BUILD_DIR");
}

// One order to the module peer process over its control socket.
QString order(const TestRoot &root, const QString &line)
{
    QLocalSocket socket;
    socket.connectToServer(root.root() + QStringLiteral("/run/modulepeer.sock"));
    if (!socket.waitForConnected(kAnswerMs))
        return QString();
    socket.write(line.toUtf8() + '\n');
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(kAnswerMs))
        answer += socket.readAll();
    return QString::fromUtf8(answer).trimmed();
}

int statValue(const QString &stats, const QString &name)
{
    for (const QString &word : stats.split(QLatin1Char(' '))) {
        if (word.startsWith(name + QLatin1Char('=')))
            return word.mid(name.size() + 1).toInt();
    }
    return -1;
}

int powerLostRows(const QString &databaseFile)
{
    int rows = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(databaseFile);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select count(*) from Log where LogType=15 and "
                                      "LogInfo='{\"reason\":\"Power Lost\"}'"))
                && q.next())
                rows = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return rows;
}
// One statement on a connection of the test's own; the first column of the
// first row as a number, -1 when it fails.
int sqlInt(const QString &databaseFile, const QString &sql)
{
    int result = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("arrival"));
        db.setDatabaseName(databaseFile);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql))
                result = q.next() ? q.value(0).toInt() : 0;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("arrival"));
    return result;
}
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
    QProcess peer;
    peer.setProcessChannelMode(QProcess::MergedChannels);
    peer.start(buildDir() + QStringLiteral("/tests/sim/brellium_modulepeer"), {QStringLiteral("--root"), root.root()});
    QVERIFY(peer.waitForStarted(kAnswerMs));
    QTRY_VERIFY_WITH_TIMEOUT(order(root, QStringLiteral("stats")).startsWith(QLatin1String("ok")), kStartMs);

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CLOCK_ROOT"), root.root());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QUdpSocket probe; // a close port of our own, never the device's
    probe.bind(QHostAddress::LocalHost, 0);
    env.insert(QStringLiteral("BRELLIUM_CLOSE_PORT"), QString::number(probe.localPort()));
    probe.close();
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(root.workDir());
    program.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray output;
    connect(&program, &QProcess::readyRead, this, [&] { output += program.readAll(); });
    program.start(buildDir() + QStringLiteral("/brellium"), {});
    QVERIFY(program.waitForStarted(kAnswerMs));

    // One startRace for the connection, then the polls.
    QTRY_VERIFY_WITH_TIMEOUT(statValue(order(root, QStringLiteral("stats")), QStringLiteral("exchange")) >= 5,
                             kStartMs);
    QCOMPARE(statValue(order(root, QStringLiteral("stats")), QStringLiteral("startRace")), 1);
    QCOMPARE(root.gpio(kGpioRf), 1);

    // A ringed pigeon of the loft, not basketed: its ring is a training arrival,
    // stored and logged once; presented again, it adds nothing.
    const QString dbFile = root.workDir() + QStringLiteral("/data_20200505.db3");
    QCOMPARE(sqlInt(dbFile, QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('NL-24-45','0A1B2C3D')")), 0);
    QCOMPARE(sqlInt(dbFile, QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) "
                                           "values('NL-24-45','0A1B2C3D','train',0)")),
             0);
    QVERIFY(order(root, QStringLiteral("tag 0A1B2C3D")).startsWith(QLatin1String("ok")));
    QTRY_VERIFY2_WITH_TIMEOUT(sqlInt(dbFile, QStringLiteral("select count(*) from Log where LogType=1")) == 1,
                              output.constData(), kStartMs);
    QCOMPARE(sqlInt(dbFile, QStringLiteral("select BackOrder from Record where AssocNum='NL-24-45' "
                                           "and BackTimeEring<>0")),
             1);
    const int tagsRead = statValue(order(root, QStringLiteral("stats")), QStringLiteral("getTag"));
    QVERIFY(order(root, QStringLiteral("tag 0A1B2C3D")).startsWith(QLatin1String("ok")));
    QTRY_VERIFY_WITH_TIMEOUT(statValue(order(root, QStringLiteral("stats")), QStringLiteral("getTag")) > tagsRead,
                             kStartMs);
    // Handed on at once; a few polls later the engine has long dealt with it.
    const int polls = statValue(order(root, QStringLiteral("stats")), QStringLiteral("exchange"));
    QTRY_VERIFY_WITH_TIMEOUT(statValue(order(root, QStringLiteral("stats")), QStringLiteral("exchange")) > polls + 2,
                             kStartMs);
    QCOMPARE(sqlInt(dbFile, QStringLiteral("select count(*) from Log where LogType=1")), 1);

    root.setGpio(kGpioMains, 0);
    QVERIFY2(program.waitForFinished(kPowerOffMs), output.constData());
    output += program.readAll();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(root.gpio(kGpioBattery), 0);
    QCOMPARE(root.gpio(kGpioRf), 0);
    QCOMPARE(powerLostRows(root.workDir() + QStringLiteral("/data_20200505.db3")), 1);
    QVERIFY(output.contains("RFIDService Exit!"));

    QCOMPARE(order(root, QStringLiteral("quit")), QStringLiteral("ok"));
    QVERIFY(peer.waitForFinished(kAnswerMs));
}

QTEST_GUILESS_MAIN(TestModuleIntegration)
#include "tst_moduleintegration.moc"
