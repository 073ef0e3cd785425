#include "programrunner.h"
#include "testroot.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

constexpr int kRunLimitMs = 30000;

// Shortens the 20 s box and the shutdown pauses fifty-fold.
const QString kTimeScale = QStringLiteral("0.02");

// Runs the program until the close command ends it; its exit code, -1 when
// it did not end in time.
int runUntilClosed(const TestRoot &root, QByteArray *output)
{
    ProgramRunner program(root);
    program.setTimeScale(kTimeScale);
    if (!program.runUntilClosed(kRunLimitMs))
        return -1;
    *output = program.output();
    return program.exitCode();
}

// The lines of the debug output that contain one of the texts, in order.
QStringList linesWith(const QByteArray &output, const QStringList &texts)
{
    QStringList found;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &line : lines) {
        for (const QString &text : texts) {
            if (line.contains(text.toUtf8()))
                found << text;
        }
    }
    return found;
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

// The program as a whole: start-up order, the service thread, the orderly
// shutdown that ends in a (recorded) power-off, and the unknown board.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void knownBoard_startsServicesAndPowersOffAtClose();
    void closeDatagram_stopsServicesInOrder();
    void unknownBoard_showsBoxAndEndsAlone();
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
    QVERIFY(output.contains("Stop RF Service...") && output.contains("MainWindow:0"));

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

void TestStartup::closeDatagram_stopsServicesInOrder()
{
    TestRoot root(2);
    QByteArray output;
    QCOMPARE(runUntilClosed(root, &output), 0);
    const QStringList steps{"Close GUI", "MainWindow:0", "Stop RF Service...", "Stop GSM Service...",
                            "Stop Pigeon Service...", "Stop Sound Service...", "Stop Communication Service...",
                            "Shutting down..."};
    QCOMPARE(linesWith(output, steps), steps);
    QVERIFY2(!output.contains("timeout!"), output.constData());
    // The service thread flushed, switched the display off and cut the
    // battery: on this board GPIO lines, only the sync is a command.
    QCOMPARE(root.boardCommands().last(), QStringLiteral("sync"));
    QCOMPARE(root.gpio(7), 0);
    QCOMPARE(root.gpio(54), 0);
}

void TestStartup::unknownBoard_showsBoxAndEndsAlone()
{
    TestRoot root(2);
    root.writeFile(QStringLiteral("/proc/version"), "Linux version 6.1.0-generic");
    ProgramRunner program(root);
    program.setTimeScale(kTimeScale);
    QVERIFY(program.runUntilExit(kRunLimitMs));
    QCOMPARE(program.exitCode(), 0);
    const QByteArray output = program.output();
    QVERIFY2(output.contains("OS version mispatch!"), output.constData());
    QVERIFY(output.contains("MainWindow: unknown board, no screen built"));
    QVERIFY(!output.contains("MainWindow: screens built"));
    QVERIFY(program.elapsedMs() >= 20000 * 0.02);
    // Only the flush of the new database file; nothing of the board, no
    // service started, nothing switched off.
    QCOMPARE(root.boardCommands(), QStringList{QStringLiteral("sync")});
    QCOMPARE(root.gpio(7), 1);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
