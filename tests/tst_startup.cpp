#include "testroot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUdpSocket>

namespace {

constexpr int kRunLimitMs = 30000;

QString programPath()
{
    return qEnvironmentVariable("BRELLIUM_BUILD_DIR") + QStringLiteral("/brellium");
}

// Starts the program on the simulated root, sends the close command until it
// ends, and returns its exit code (-1 when it did not end in time).
int runUntilClosed(const TestRoot &root, QByteArray *output)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CLOCK_ROOT"), root.root());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A free port of our own, so that parallel runs never close each other.
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    const quint16 port = probe.localPort();
    probe.close();
    env.insert(QStringLiteral("BRELLIUM_CLOSE_PORT"), QString::number(port));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(root.workDir());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(programPath(), {});
    if (!program.waitForStarted(5000))
        return -1;

    QUdpSocket socket;
    QElapsedTimer timer;
    timer.start();
    while (program.state() != QProcess::NotRunning && timer.elapsed() < kRunLimitMs) {
        // The window binds the port once it is built; until then datagrams
        // are lost, so keep sending.
        if (timer.elapsed() > 300)
            socket.writeDatagram("brellium:close", QHostAddress::LocalHost, port);
        program.waitForFinished(200);
    }
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(2000);
        return -1;
    }
    *output = program.readAll();
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

// Plain SQL on the program's database file, through a connection of the
// test's own, closed again before the program runs.
class DatabaseFile
{
public:
    explicit DatabaseFile(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kName);
        db.setDatabaseName(path);
    }
    ~DatabaseFile()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(kName, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(kName);
    }
    QList<QStringList> rows(const QString &sql) const
    {
        QList<QStringList> result;
        QSqlQuery query(QSqlDatabase::database(kName, true));
        if (!query.exec(sql))
            qWarning() << sql << query.lastError().text();
        while (query.next())
            result << QStringList{query.value(0).toString(), query.value(1).toString()};
        return result;
    }
    bool exec(const QString &sql) const
    {
        QSqlQuery query(QSqlDatabase::database(kName, true));
        if (query.exec(sql))
            return true;
        qWarning() << sql << query.lastError().text();
        return false;
    }

private:
    const QString kName = QStringLiteral("startup-test");
};

} // namespace

// The program as a whole: start-up order, the service thread, and the
// orderly shutdown that ends in a (recorded) power-off.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void knownBoard_startsServicesAndPowersOffAtClose();
    void unknownBoard_skipsServices();
};

void TestStartup::knownBoard_startsServicesAndPowersOffAtClose()
{
    TestRoot root(1);
    QByteArray output;
    QCOMPARE(runUntilClosed(root, &output), 0);

    QStringList commands = root.boardCommands();
    QVERIFY2(!commands.isEmpty(), output.constData());
    // A first start makes the database in the working directory and flushes
    // the new file before anything else happens.
    QVERIFY(QFile::exists(root.workDir() + QStringLiteral("/data_20200505.db3")));
    QCOMPARE(commands.first(), QStringLiteral("sync"));
    commands.removeFirst();
    QCOMPARE(commands.first(), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 1")); // then LcdOn
    const QStringList tail{QStringLiteral("sync"), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 0"),
                           QStringLiteral("ioctl /dev/vexlor_hw_ctl 0x40044704 0"), QStringLiteral("poweroff")};
    QCOMPARE(commands.mid(commands.size() - tail.size()), tail);
    QVERIFY(commands.contains(QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044711 0"))); // SoundOn
    QVERIFY(output.contains("Stop RF Service") || output.contains("MainWindow:0"));

    const QString file = root.workDir() + QStringLiteral("/data_20200505.db3");
    // The service thread wrote the power-on entry, each close command that
    // arrived a power-off entry.
    const QStringList powerOn{QStringLiteral("4"), QStringLiteral("{\"version\":\"8.9.30\"}")};
    const QStringList powerOff{QStringLiteral("15"), QStringLiteral("{\"reason\":\"Watchdog\"}")};
    qint64 lastBefore = 0;
    {
        DatabaseFile db(file);
        const QList<QStringList> entries = db.rows(QStringLiteral("select LogType, LogInfo from Log order by LogId"));
        QVERIFY(entries.size() >= 2);
        QCOMPARE(entries.first(), powerOn);
        for (int i = 1; i < entries.size(); ++i)
            QCOMPARE(entries[i], powerOff);
        // Then the log is filled past its start-up limit.
        QVERIFY(db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<2100) "
                                       "insert into Log(LogType,LogTime,LogInfo) select 1, i, '{}' from n")));
        lastBefore = db.rows(QStringLiteral("select max(LogId), 0 from Log")).value(0).value(0).toLongLong();
    }

    // The next start repairs and reuses the file: no new one to flush.
    root.clearBoardCommands();
    QCOMPARE(runUntilClosed(root, &output), 0);
    QCOMPARE(root.boardCommands().value(0), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 1"));
    // Start-up trimmed the log to the 1800 newest entries before this run's
    // power-on entry.
    DatabaseFile db(file);
    QCOMPARE(db.rows(QStringLiteral("select count(*), min(LogId) from Log where LogId<=%1").arg(lastBefore)),
             (QList<QStringList>{{QStringLiteral("1800"), QString::number(lastBefore - 1799)}}));
    const QList<QStringList> entries =
        db.rows(QStringLiteral("select LogType, LogInfo from Log where LogId>%1 order by LogId").arg(lastBefore));
    QVERIFY(entries.size() >= 2);
    QCOMPARE(entries.first(), powerOn);
    QCOMPARE(entries.last(), powerOff);
}

void TestStartup::unknownBoard_skipsServices()
{
    TestRoot root(2);
    root.writeFile(QStringLiteral("/proc/version"), "Linux version 6.1.0-generic");
    QByteArray output;
    QCOMPARE(runUntilClosed(root, &output), 0);
    QVERIFY2(output.contains("OS version mispatch!"), output.constData());
    // Only the flush of the new database file; nothing of the board.
    QCOMPARE(root.boardCommands(), QStringList{QStringLiteral("sync")});
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
