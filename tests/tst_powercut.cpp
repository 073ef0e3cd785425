// Power cuts of the whole program: the clock on a simulated root with the
// module peer as a process of its own, killed (SIGKILL, as a power cut ends
// it) at a fixed, seeded set of instants while a burst of rings lands, then
// started again on the same root. After every restart the database is sound,
// every arrival that was committed before the cut is there with its time and
// order, none is doubled, and the rings whose arrival the cut lost are
// delivered again by the module, which keeps its readings. A first start cut
// while it creates the database is repaired at the next start.
#include "storage/storage.h"

#include "testroot.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

constexpr int kStartMs = 20000;  // a start, polls included, even in the sanitizer build
constexpr int kAnswerMs = 3000;
constexpr int kStopMs = 10000;
constexpr int kGpioRf = 40;
constexpr int kTrials = 12;
constexpr int kRingsPerBurst = 5;
constexpr int kMaxKillDelayMs = 150; // a burst reaches the database within about that
constexpr quint32 kSeed = 21;

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

int exchanges(const TestRoot &root)
{
    for (const QString &word : order(root, QStringLiteral("stats")).split(QLatin1Char(' '))) {
        if (word.startsWith(QLatin1String("exchange=")))
            return word.mid(9).toInt();
    }
    return -1;
}

// The test's own connection to the program's database file.
class Db
{
public:
    explicit Db(const QString &file)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    }
    ~Db()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;

    QList<QVariantList> rows(const QString &sql) const
    {
        QList<QVariantList> out;
        QSqlDatabase db = QSqlDatabase::database(name, true);
        QSqlQuery q(db);
        if (!q.exec(sql)) {
            qWarning() << sql << "failed";
            return {{QStringLiteral("failed")}};
        }
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            out << row;
        }
        return out;
    }
    QVariant value(const QString &sql) const
    {
        const QList<QVariantList> all = rows(sql);
        return all.isEmpty() || all.first().isEmpty() ? QVariant() : all.first().first();
    }
    bool exec(const QString &sql) const
    {
        QSqlDatabase db = QSqlDatabase::database(name, true);
        return QSqlQuery(db).exec(sql);
    }
    // Closed while the program runs: it must never wait for the test.
    void close() const { QSqlDatabase::database(name, false).close(); }

private:
    QString name = QStringLiteral("powercut");
};

// The program as a process on the root, its output kept in a file there.
class Program
{
public:
    explicit Program(const TestRoot &testRoot)
        : root(testRoot)
    {
    }
    ~Program() { stop(); }

    bool start()
    {
        ++starts;
        process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CLOCK_ROOT"), root.root());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QUdpSocket probe; // a close port of our own, never the device's
        probe.bind(QHostAddress::LocalHost, 0);
        closePort = probe.localPort();
        probe.close();
        env.insert(QStringLiteral("BRELLIUM_CLOSE_PORT"), QString::number(closePort));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(root.workDir());
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardOutputFile(root.path(QStringLiteral("/var/log/program-%1.log").arg(starts)));
        process->start(buildDir() + QStringLiteral("/brellium"), {});
        return process->waitForStarted(kAnswerMs);
    }
    // The cut: no chance to finish anything.
    void cut()
    {
        if (!process)
            return;
        process->kill();
        process->waitForFinished(kStopMs);
        process.reset();
    }
    void stop()
    {
        if (!process)
            return;
        QUdpSocket socket;
        QElapsedTimer timer;
        timer.start();
        while (process->state() != QProcess::NotRunning && timer.elapsed() < kStopMs) {
            socket.writeDatagram("brellium:close", QHostAddress::LocalHost, closePort);
            process->waitForFinished(200);
        }
        cut();
    }
    bool running() const { return process && process->state() == QProcess::Running; }
    // Started normally: the module is being polled again.
    bool polling() const
    {
        const int before = exchanges(root);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kStartMs) {
            if (!running())
                return false;
            if (before >= 0 && exchanges(root) >= before + 3)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

private:
    const TestRoot &root;
    std::unique_ptr<QProcess> process;
    quint16 closePort = 0;
    int starts = 0;
};

struct Arrival
{
    qint64 timeMs = 0;
    int order = 0;
    bool operator==(const Arrival &o) const { return timeMs == o.timeMs && order == o.order; }
};

QMap<QString, Arrival> arrivals(const Db &db)
{
    QMap<QString, Arrival> out;
    for (const QVariantList &row :
         db.rows(QStringLiteral("select AssocNum,BackTimeEring,BackOrder from Record where BackTimeEring<>0"))) {
        if (row.size() == 3)
            out.insert(row.at(0).toString(), {row.at(1).toLongLong(), row.at(2).toInt()});
    }
    return out;
}

QString ringOf(int pigeon)
{
    return QStringLiteral("0C%1").arg(pigeon, 6, 16, QLatin1Char('0')).toUpper();
}

QString assocOf(int pigeon)
{
    return QStringLiteral("NL-21-%1").arg(pigeon, 4, 10, QLatin1Char('0'));
}

// What holds after every restart, whatever the instant of the cut.
void checkSound(const Db &db)
{
    QCOMPARE(db.value(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
    QVERIFY(db.value(QStringLiteral("select count(*) from LOFTINFO")).toInt() >= 1);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Pigeon p where "
                                     "(select count(*) from Record r where r.AssocNum=p.AssocNum)<>1"))
                 .toInt(),
             0);
    QCOMPARE(db.value(QStringLiteral("select count(*) from Nomination where RaceCode not in "
                                     "(select RaceCode from Race)"))
                 .toInt(),
             0);
    // One log entry per arrival (both are written in one transaction), and
    // no arrival order given twice.
    QCOMPARE(db.value(QStringLiteral("select count(*) from Log where LogType=1")).toInt(),
             db.value(QStringLiteral("select count(*) from Record where BackTimeEring<>0")).toInt());
    QCOMPARE(db.value(QStringLiteral("select count(*) - count(distinct BackOrder) from Record "
                                     "where BackTimeEring<>0 and RaceCode='train'"))
                 .toInt(),
             0);
}

} // namespace

class TestPowerCut : public QObject
{
    Q_OBJECT
private slots:
    void burstOfArrivals_cutAtSeededInstants();
    void firstStart_cutWhileCreatingTheDatabase_data();
    void firstStart_cutWhileCreatingTheDatabase();

private:
    static bool startPeer(const TestRoot &root, QProcess *peer);
};

bool TestPowerCut::startPeer(const TestRoot &root, QProcess *peer)
{
    peer->setProcessChannelMode(QProcess::MergedChannels);
    peer->setStandardOutputFile(QProcess::nullDevice());
    peer->start(buildDir() + QStringLiteral("/tests/sim/brellium_modulepeer"), {QStringLiteral("--root"), root.root()});
    if (!peer->waitForStarted(kAnswerMs))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStartMs) {
        if (order(root, QStringLiteral("stats")).startsWith(QLatin1String("ok")))
            return true;
        QTest::qWait(50);
    }
    return false;
}

void TestPowerCut::burstOfArrivals_cutAtSeededInstants()
{
    TestRoot root(2);
    root.setGpio(kGpioRf, 0);
    QProcess peer;
    QVERIFY(startPeer(root, &peer));
    Program program(root);
    QVERIFY(program.start());
    QVERIFY(program.polling());

    // The loft: ringed pigeons, none basketed, so each ring is a training arrival.
    Db db(root.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile));
    const int pigeons = kTrials * kRingsPerBurst;
    for (int p = 0; p < pigeons; ++p) {
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','%2')")
                            .arg(assocOf(p), ringOf(p))));
        QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) "
                                       "values('%1','%2','train',0)")
                            .arg(assocOf(p), ringOf(p))));
    }
    db.close();

    QRandomGenerator seeded(kSeed);
    int landed = 0;
    int checked = 0;
    QStringList ofBurst; // arrivals of each burst committed before its cut
    for (int trial = 0; trial < kTrials; ++trial) {
        const int delayMs = int(seeded.bounded(kMaxKillDelayMs));
        for (int i = 0; i < kRingsPerBurst; ++i, ++landed)
            QVERIFY(order(root, QStringLiteral("tag ") + ringOf(landed)).startsWith(QLatin1String("ok")));
        QTest::qWait(delayMs);
        // Made known before the cut: committed, so a reader sees it.
        const QMap<QString, Arrival> before = arrivals(db);
        db.close();
        program.cut();
        ofBurst << QStringLiteral("%1@%2ms").arg(before.size() - (landed - kRingsPerBurst)).arg(delayMs);

        QVERIFY2(program.start(), qPrintable(QStringLiteral("trial %1").arg(trial)));
        QVERIFY2(program.polling(), qPrintable(QStringLiteral("trial %1, cut after %2 ms").arg(trial).arg(delayMs)));
        // The module keeps its readings: every ring landed so far arrives.
        QTRY_VERIFY_WITH_TIMEOUT(arrivals(db).size() == landed, kStartMs);
        const QMap<QString, Arrival> after = arrivals(db);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
            ++checked;
        }
        checkSound(db);
        QVERIFY2(!QTest::currentTestFailed(), qPrintable(QStringLiteral("trial %1").arg(trial)));
        db.close();
    }
    qInfo("%d cuts, %d arrivals committed before a cut checked after it, %d rings landed; "
          "of each burst of %d committed before its cut: %s",
          kTrials, checked, landed, kRingsPerBurst, qPrintable(ofBurst.join(QLatin1Char(' '))));
    program.stop();
    QCOMPARE(order(root, QStringLiteral("quit")), QStringLiteral("ok"));
    QVERIFY(peer.waitForFinished(kAnswerMs));
}

void TestPowerCut::firstStart_cutWhileCreatingTheDatabase_data()
{
    QTest::addColumn<int>("delayMs");
    for (int ms : {0, 20, 50, 100, 200, 400})
        QTest::addRow("cut after %d ms", ms) << ms;
}

void TestPowerCut::firstStart_cutWhileCreatingTheDatabase()
{
    QFETCH(int, delayMs);
    TestRoot root(2);
    root.setGpio(kGpioRf, 0);
    QProcess peer;
    QVERIFY(startPeer(root, &peer));
    Program program(root);
    QVERIFY(program.start());
    QTest::qWait(delayMs);
    program.cut();

    QVERIFY(program.start());
    QVERIFY(program.polling());
    Db db(root.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile));
    for (const char *table : {"Pigeon", "Record", "Race", "Nomination", "Log", "LOFTINFO", "APPPARAMS"})
        QVERIFY2(db.value(QStringLiteral("select count(*) from sqlite_master where type='table' and name='%1'")
                              .arg(QLatin1String(table)))
                         .toInt()
                     == 1,
                 table);
    checkSound(db);
    QVERIFY(!QTest::currentTestFailed());
    db.close();
    program.stop();
    QCOMPARE(order(root, QStringLiteral("quit")), QStringLiteral("ok"));
    QVERIFY(peer.waitForFinished(kAnswerMs));
}

QTEST_GUILESS_MAIN(TestPowerCut)
#include "tst_powercut.moc"
