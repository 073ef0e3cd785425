#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <signal.h>

namespace {

constexpr int kAnswerMs = 10000; // the console waits up to 5 s for a peer's answer
constexpr int kStartMs = 30000;
// Mains gone for 5 s, then the ordered shutdown (its pauses scaled down).
constexpr int kPowerOffMs = 40000;
constexpr int kStopMs = 30000;
constexpr int kGpioBattery = 54;

QString sourceDir()
{
    return QStringLiteral(BRELLIUM_SOURCE_DIR);
}

QString buildDir()
{
    return qEnvironmentVariable("BRELLIUM_BUILD_DIR");
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Rows of the event log of one type, read on a connection of the test's own.
int logRows(const QString &databaseFile, int type, const QString &info)
{
    int rows = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(databaseFile);
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("select count(*) from Log where LogType=:type and LogInfo like :info"));
            q.bindValue(QStringLiteral(":type"), type);
            q.bindValue(QStringLiteral(":info"), QStringLiteral("%") + info + QStringLiteral("%"));
            if (q.exec() && q.next())
                rows = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return rows;
}

// One run of the script: a person at its console, in a sandbox whose home,
// temporary folder and working directory must stay empty.
class ScriptRun
{
public:
    explicit ScriptRun(const QTemporaryDir &sandbox)
        : box(sandbox.path())
    {
        for (const char *folder : {"home", "tmp", "cwd"})
            QDir().mkpath(box + QLatin1Char('/') + QLatin1String(folder));
        script.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), box + QStringLiteral("/home"));
        env.insert(QStringLiteral("TMPDIR"), box + QStringLiteral("/tmp"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("BRELLIUM_TIME_SCALE"), QStringLiteral("0.1"));
        env.insert(QStringLiteral("BRELLIUM_CLOSE_PORT"), QString::number(freeUdpPort()));
        script.setProcessEnvironment(env);
        script.setWorkingDirectory(box + QStringLiteral("/cwd"));
    }

    ~ScriptRun()
    {
        if (script.state() != QProcess::NotRunning) {
            script.terminate();
            script.waitForFinished(kStopMs);
        }
    }

    bool start(const QStringList &options)
    {
        script.start(QStringLiteral("bash"), QStringList{sourceDir() + QStringLiteral("/scripts/run-simulated.sh"),
                                                          QStringLiteral("--no-build")}
                                                 + options + QStringList{root()});
        return script.waitForStarted(kAnswerMs) && waitFor("Type \"help\"", kStartMs);
    }

    QString root() const { return box + QStringLiteral("/root"); }

    // The console's answer to one command: what it printed until the next prompt.
    QByteArray say(const QByteArray &command)
    {
        const qsizetype from = output().size();
        script.write(command + '\n');
        waitFor("\n> ", kAnswerMs, from);
        return output().mid(from);
    }

    void send(const QByteArray &command) { script.write(command + '\n'); }

    bool waitFor(const QByteArray &text, int limitMs, qsizetype from = 0)
    {
        QElapsedTimer timer;
        timer.start();
        while (output().indexOf(text, from) < 0) {
            if (timer.elapsed() > limitMs || script.state() == QProcess::NotRunning)
                return output().indexOf(text, from) >= 0;
            script.waitForReadyRead(100);
        }
        return true;
    }

    bool waitForEnd(int limitMs)
    {
        script.waitForFinished(limitMs);
        output();
        return script.state() == QProcess::NotRunning;
    }

    int exitCode() const { return script.exitStatus() == QProcess::NormalExit ? script.exitCode() : -1; }

    QByteArray output()
    {
        out += script.readAll();
        return out;
    }

    // The processes the run started, by name, as it listed them.
    QMap<QString, qint64> pids() const
    {
        QMap<QString, qint64> map;
        QFile file(root() + QStringLiteral("/run/pids"));
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QList<QByteArray> words = line.split(' ');
                if (words.size() == 2)
                    map.insert(QString::fromLatin1(words.at(0)), words.at(1).toLongLong());
            }
        }
        return map;
    }

    QStringList sandboxLeftovers() const
    {
        QStringList found;
        for (const char *folder : {"home", "tmp", "cwd"}) {
            QDirIterator it(box + QLatin1Char('/') + QLatin1String(folder),
                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                found << it.next();
        }
        return found;
    }

    QByteArray readRootFile(const QString &path) const
    {
        QFile file(root() + path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    const QString box;
    QProcess script;
    QByteArray out;
};

bool alive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0;
}

// Symbolic links under the root that lead out of it.
QStringList linksLeadingOut(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.isSymLink() && !info.symLinkTarget().startsWith(root + QLatin1Char('/')))
            out << info.filePath() + QStringLiteral(" -> ") + info.symLinkTarget();
    }
    return out;
}

} // namespace

// The simulated device's run script, as a person uses it: it makes a root
// with a loft and ringed pigeons, starts every peer and the clock, takes
// console commands, survives a peer's death, and when mains is cut the clock
// powers off (recorded only) and everything it started stops. Nothing of it
// lies outside the root, and a second run keeps the database unless --fresh.
class TestRunSimulated : public QObject
{
    Q_OBJECT
private slots:
    void peers_startAlone_withHelp_data();
    void peers_startAlone_withHelp();
    void console_mainsCut_powersOffInsideTheRoot();
    void secondRun_keepsDatabase_freshStartsOver();
    void foreignFolder_isRefused();
};

void TestRunSimulated::peers_startAlone_withHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("module") << QStringLiteral("tests/sim/brellium_modulepeer");
    QTest::newRow("club") << QStringLiteral("brellium-clubpeer");
    QTest::newRow("pc") << QStringLiteral("brellium-pcpeer");
    QTest::newRow("modem") << QStringLiteral("brellium_modempeer");
    QTest::newRow("database") << QStringLiteral("brellium-simdb");
    QTest::newRow("cloud") << QFileInfo(QStringLiteral(CLOUDPEER_PATH)).fileName();
}

void TestRunSimulated::peers_startAlone_withHelp()
{
    QFETCH(QString, program);
    QProcess peer;
    peer.setProcessChannelMode(QProcess::MergedChannels);
    peer.start(buildDir() + QLatin1Char('/') + program, {QStringLiteral("--help")});
    QVERIFY(peer.waitForFinished(kAnswerMs));
    QCOMPARE(peer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.exitCode(), 0);
    QVERIFY(peer.readAll().contains("Usage:"));
}

void TestRunSimulated::console_mainsCut_powersOffInsideTheRoot()
{
    QTemporaryDir sandbox;
    ScriptRun run(sandbox);
    QVERIFY2(run.start({}), run.output().constData());
    QVERIFY(run.output().contains("new loft"));

    QVERIFY(run.say("help").contains("mains off|on"));
    QVERIFY(run.say("bogus words").contains("Unknown command \"bogus\"; type help."));
    QVERIFY(run.say("ring NL-2026-1001").contains("ok tag"));
    // A ring that no pigeon wears is presented all the same.
    QVERIFY(run.say("ring 0DEADBEE").contains("ok tag"));
    QVERIFY(run.say("ring no-such-pigeon").contains("no ringed pigeon no-such-pigeon"));
    QVERIFY(run.say("club-ring 0A1B2C3E").contains("record 1"));
    // The pigeon's ring arrives; the ring of no pigeon is dropped by the clock.
    QByteArray arrivals;
    QElapsedTimer timer;
    timer.start();
    while (!(arrivals = run.say("arrivals")).contains("NL-2026-1001") && timer.elapsed() < kStartMs)
        QTest::qWait(200);
    QVERIFY2(arrivals.contains("NL-2026-1001"), arrivals.constData());
    QVERIFY(!arrivals.contains("0DEADBEE"));
    QVERIFY(run.say("pigeons").contains("0A1B2C40"));
    QVERIFY(run.say("printed").contains("(nothing printed yet)"));

    // A peer that dies is reported, and the clock runs on.
    const QMap<QString, qint64> pids = run.pids();
    for (const char *name : {"clock", "module", "club", "pc", "modem"})
        QVERIFY2(pids.contains(QLatin1String(name)), name);
    QVERIFY(::kill(pid_t(pids.value(QStringLiteral("pc"))), SIGKILL) == 0);
    QVERIFY2(run.waitFor("The pc peer has ended", kAnswerMs), run.output().constData());
    QVERIFY(alive(pids.value(QStringLiteral("clock"))));

    run.send("mains off");
    QVERIFY2(run.waitForEnd(kPowerOffMs), run.output().constData());
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(run.output().contains("The clock has ended"));

    // The power-off, recorded: the service thread's last flush after the
    // shutdown, and the battery line off (the power-off of this board).
    const QList<QByteArray> commands = run.readRootFile(QStringLiteral("/var/log/board-commands")).trimmed().split('\n');
    QCOMPARE(commands.last(), QByteArray("sync"));
    QCOMPARE(run.readRootFile(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(kGpioBattery)).trimmed(), QByteArray("0"));
    const QByteArray clock = run.readRootFile(QStringLiteral("/var/log/clock.log"));
    QVERIFY(clock.indexOf("Stop RF Service...") < clock.indexOf("Shutting down..."));
    QVERIFY(clock.indexOf("Shutting down...") < clock.lastIndexOf("board: sync"));
    QCOMPARE(logRows(run.root() + QStringLiteral("/app/work/data_20200505.db3"), 15, QStringLiteral("Power Lost")), 1);

    // Each peer recorded what crossed its link, under the root.
    QVERIFY(run.readRootFile(QStringLiteral("/var/log/modulepeer.log")).contains("order tag 0A1B2C3D"));
    QVERIFY(run.readRootFile(QStringLiteral("/var/log/modulepeer.log")).contains("clock sent getTag"));
    QVERIFY(run.readRootFile(QStringLiteral("/var/log/clubpeer.log")).contains("record 1"));
    QVERIFY(run.readRootFile(QStringLiteral("/var/log/modem-peer.log")).contains("modem peer"));

    // Everything it started has stopped; nothing lies outside the root.
    for (auto it = pids.cbegin(); it != pids.cend(); ++it)
        QVERIFY2(!alive(it.value()), qPrintable(it.key()));
    QCOMPARE(run.sandboxLeftovers(), QStringList());
    QCOMPARE(linksLeadingOut(run.root()), QStringList());
}

void TestRunSimulated::secondRun_keepsDatabase_freshStartsOver()
{
    QTemporaryDir sandbox;
    const QString database = sandbox.path() + QStringLiteral("/root/app/work/data_20200505.db3");
    {
        ScriptRun first(sandbox);
        QVERIFY2(first.start({}), first.output().constData());
        QVERIFY(first.say("pigeon 0C0C0C0C NL-2026-3001").contains("ok pigeon NL-2026-3001 wears 0C0C0C0C"));
        first.send("quit");
        QVERIFY(first.waitForEnd(kStopMs));
        QVERIFY(first.output().contains("Closing the clock..."));
    }
    QCOMPARE(logRows(database, 15, QStringLiteral("Watchdog")), 1);
    {
        ScriptRun second(sandbox);
        QVERIFY2(second.start({}), second.output().constData());
        QVERIFY(second.output().contains("kept loft"));
        QVERIFY(second.say("pigeons").contains("NL-2026-3001"));
        second.send("quit");
        QVERIFY(second.waitForEnd(kStopMs));
    }
    QCOMPARE(logRows(database, 15, QStringLiteral("Watchdog")), 2);
    {
        ScriptRun fresh(sandbox);
        QVERIFY2(fresh.start({QStringLiteral("--fresh")}), fresh.output().constData());
        QVERIFY(fresh.output().contains("new loft"));
        QVERIFY(!fresh.say("pigeons").contains("NL-2026-3001"));
        fresh.send("quit");
        QVERIFY(fresh.waitForEnd(kStopMs));
    }
    QCOMPARE(logRows(database, 15, QStringLiteral("Watchdog")), 1);
}

void TestRunSimulated::foreignFolder_isRefused()
{
    QTemporaryDir sandbox;
    QDir().mkpath(sandbox.path() + QStringLiteral("/root"));
    QFile mine(sandbox.path() + QStringLiteral("/root/notes.txt"));
    QVERIFY(mine.open(QIODevice::WriteOnly));
    mine.close();
    ScriptRun run(sandbox);
    QVERIFY(!run.start({QStringLiteral("--fresh")}));
    QVERIFY(run.waitForEnd(kAnswerMs));
    QCOMPARE(run.exitCode(), 2);
    QVERIFY(run.output().contains("was not made by this script"));
    QVERIFY(QFile::exists(mine.fileName()));
}

QTEST_GUILESS_MAIN(TestRunSimulated)
#include "tst_runsimulated.moc"
