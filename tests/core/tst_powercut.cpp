// Power cuts of the whole program: the clock on a simulated root with its
// peers as processes of their own, killed (SIGKILL, as a power cut ends it)
// at seeded events of its writing (the first change of the database's files
// for a write, a commit seen by a reader, an answer), so that the cuts land
// where the writes are, then started again on the same root.
// After every restart the database is sound and everything the clock had made
// known before the cut is there unchanged and not doubled: the arrivals of a
// burst of rings at the landing antennas (the module keeps its readings and
// delivers the rest again), the basketing marks of pigeons read at the club
// router, and the writes of the PC program through the data service. A first
// start cut while it creates the database is repaired at the next start.
//
// Club mode and comm mode are entered only from screens, so basketing and PC
// writes run in a child clock (this executable started again on the root)
// that has the program's storage, race engine and club link, and for
// basketing the basketing screen itself on the main window; the program
// itself is then started on the same root and must come up normally.
#include "core/version.h"
#include "storage/storage.h"
#include "storage/raceinfo.h"

#include "childprocess.h"
#include "dbfilewatch.h"
#include "dbreader.h"
#include "modulepeerprocess.h"
#include "powercutclock.h"
#include "programprocess.h"
#include "simloft.h"
#include "testroot.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QThread>

namespace {

constexpr int kStartMs = 20000;  // a start, polls included, even in the sanitizer build
constexpr int kCloseMs = 10000;
constexpr int kGpioRf = 40;
constexpr int kTrials = 12;
constexpr int kRingsPerBurst = 5;
constexpr quint32 kSeed = 21;
// A reader looks again for a commit at each change of the database's files,
// and at least this often.
constexpr int kCommitPollMs = 5;
// A burst's cut falls at one of its first changes of the database's files;
// a program that wrote nothing for kBurstQuietMs has written the burst.
constexpr int kMaxCutChange = 20;
constexpr int kBurstQuietMs = 2000;

// Basketing and PC writes: fewer cuts, each after a seeded number of marks
// or writes answered, at a seeded event of the next one.
constexpr int kClubTrials = 9;
constexpr int kPcTrials = 9;
constexpr int kMaxAnsweredBeforeCut = 3;
constexpr int kClubPigeons = 100;
constexpr int kPeerAnswerMs = 5000;
constexpr int kAuthRetryMs = 200;
// The PC peer gives up on an answer after 2 s.
constexpr int kPcGiveUpMs = 4000;
constexpr int kLogRaceMark = 6;
const QString kRaceCode = QStringLiteral("R-CUT");
const QString kNullResult = QStringLiteral(R"({"result":null})");

QString buildDir()
{
    return qEnvironmentVariable("BRELLIUM_BUILD_DIR");
}

QString databaseOf(const TestRoot &root)
{
    return root.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile);
}

struct Arrival
{
    qint64 timeMs = 0;
    int order = 0;
    bool operator==(const Arrival &o) const { return timeMs == o.timeMs && order == o.order; }
};

QMap<QString, Arrival> arrivals(const DbReader &db)
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

// Waits until done() holds, looking again at every change of the database's
// files and at least every kCommitPollMs; false when limitMs passed first.
template <typename Done>
bool waitForCommit(DbFileWatch *watch, Done done, int limitMs)
{
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        watch->waitForChange(kCommitPollMs);
    }
    return true;
}

// Where a write in flight is cut: as its transaction first changes the
// database's files, once a reader sees it committed, or once the clock
// answered it.
enum class CutAt { FirstWrite, Commit, Answer };
constexpr int kCutPoints = 3;

const char *nameOf(CutAt at)
{
    return at == CutAt::FirstWrite ? "write" : at == CutAt::Commit ? "commit" : "answer";
}

// How the write in flight at each cut ended, counted over the trials.
struct InFlight
{
    int lost = 0;       // not stored: asked again after the restart
    int unanswered = 0; // stored, its answer cut off
    int answered = 0;   // stored and answered
    QString text() const
    {
        return QStringLiteral("%1 lost, %2 stored unanswered, %3 stored and answered")
            .arg(lost)
            .arg(unanswered)
            .arg(answered);
    }
};

// What holds after every restart, whatever the instant of the cut.
void checkSound(const DbReader &db)
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

// A basketing mark as the clock stored it.
struct Mark
{
    qint64 markTime = 0;
    int random = 0;
    QString raceCode;
    bool operator==(const Mark &o) const
    {
        return markTime == o.markTime && random == o.random && raceCode == o.raceCode;
    }
};

QMap<QString, Mark> marks(const DbReader &db)
{
    QMap<QString, Mark> out;
    for (const QVariantList &row :
         db.rows(QStringLiteral("select AssocNum,MarkTime,RandNumMarked,RaceCode from Record where MarkTime<>0"))) {
        if (row.size() == 4)
            out.insert(row.at(0).toString(), {row.at(1).toLongLong(), row.at(2).toInt(), row.at(3).toString()});
    }
    return out;
}

// Every basketing entry of the event log names a mark that is stored with
// its time, every stored mark has its entry, and no pigeon was basketed twice.
void checkMarkLog(const DbReader &db, const QMap<QString, Mark> &stored)
{
    QSet<QString> logged;
    for (const QVariantList &row :
         db.rows(QStringLiteral("select LogInfo from Log where LogType=%1").arg(kLogRaceMark))) {
        const QJsonObject info = QJsonDocument::fromJson(row.value(0).toString().toUtf8()).object();
        const QString assocNum = info.value(QStringLiteral("assocNum")).toString();
        QVERIFY2(!logged.contains(assocNum), qPrintable(QStringLiteral("basketed twice: ") + assocNum));
        logged.insert(assocNum);
        QVERIFY2(stored.contains(assocNum), qPrintable(QStringLiteral("logged, not stored: ") + assocNum));
        QCOMPARE(qint64(info.value(QStringLiteral("markTime")).toDouble()), stored.value(assocNum).markTime);
        QCOMPARE(info.value(QStringLiteral("raceCode")).toString(), stored.value(assocNum).raceCode);
    }
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        QVERIFY2(logged.contains(it.key()), qPrintable(QStringLiteral("stored, not logged: ") + it.key()));
}

// The partner plugged into the clock's club port (the club router, or the PC
// program), as a process of its own. It answers at once, so the trials stay
// short.
bool startClubPortPeer(ChildProcess *peer, const TestRoot &root, const QString &name)
{
    return QDir().mkpath(root.path(QStringLiteral("/dev")))
        && peer->start(buildDir() + QLatin1Char('/') + name,
                       {QStringLiteral("--link"), root.path(QStringLiteral("/dev/ttyS2")), QStringLiteral("--no-pacing")})
        && !peer->readLineStarting({QStringLiteral("line ")}, kStartMs).isNull();
}

// One command to a peer's console; the peer's answer ("ok" or an error),
// skipping the records it writes of what crossed the line.
QString consoleCommand(ChildProcess *peer, const QString &line)
{
    peer->write(line.toUtf8());
    return peer->readLineStarting({QStringLiteral("ok"), QStringLiteral("error")}, kPeerAnswerMs);
}

// The PC's writes in turn: two pigeons, a race, the loft's owner.
struct PcWrite
{
    QString call;
    QString key;   // as pcRows shows the row: "pigeon PC-3", "race PR-6", "loft"
    QString value;
};

PcWrite pcWrite(int n)
{
    switch (n % 4) {
    case 2:
        return {QStringLiteral(R"({"method":"saveRace","raceCode":"PR-%1","raceName":"Race %1"})").arg(n),
                QStringLiteral("race PR-%1").arg(n), QStringLiteral("Race %1").arg(n)};
    case 3:
        return {QStringLiteral(R"({"method":"setLoftInfo","ownerName":"Owner %1"})").arg(n), QStringLiteral("loft"),
                QStringLiteral("Owner %1").arg(n)};
    default:
        return {QStringLiteral(R"({"method":"savePigeon","assocNum":"PC-%1","color":"c%1","sex":1,"year":2025})").arg(n),
                QStringLiteral("pigeon PC-%1").arg(n), QStringLiteral("c%1/1/2025").arg(n)};
    }
}

// What the PC wrote, by key, as the database shows it.
QMap<QString, QString> pcRows(const DbReader &db)
{
    QMap<QString, QString> out;
    for (const QVariantList &row :
         db.rows(QStringLiteral("select AssocNum,Color,Sex,Year from Pigeon where AssocNum like 'PC-%'")))
        out.insert(QStringLiteral("pigeon ") + row.value(0).toString(),
                   QStringLiteral("%1/%2/%3").arg(row.value(1).toString(), row.value(2).toString(), row.value(3).toString()));
    for (const QVariantList &row :
         db.rows(QStringLiteral("select RaceCode,RaceName from Race where RaceCode like 'PR-%'")))
        out.insert(QStringLiteral("race ") + row.value(0).toString(), row.value(1).toString());
    out.insert(QStringLiteral("loft"), db.value(QStringLiteral("select OwnerName from LOFTINFO where id=1")).toString());
    return out;
}

// The loft row holds one owner name, written over: the last one made known,
// or one the PC sent after it whose answer the cut took away.
class LoftOwner
{
public:
    void sent(const QString &owner) { later << owner; }
    void madeKnown(const QString &owner)
    {
        if (owner.isEmpty())
            return; // never written yet
        later = later.mid(later.indexOf(owner) + 1);
        known = owner;
    }
    bool allows(const QString &owner) const
    {
        return owner == known || later.contains(owner);
    }

private:
    QString known = QStringLiteral("");
    QStringList later;
};

} // namespace

class TestPowerCut : public QObject
{
    Q_OBJECT
private slots:
    void burstOfArrivals_cutAtSeededInstants();
    void basketingAtTheClub_cutAtSeededInstants();
    void pcWrites_cutAtSeededInstants();
    void firstStart_cutWhileCreatingTheDatabase_data();
    void firstStart_cutWhileCreatingTheDatabase();

private:
    // The program started on the root after the cuts: it polls the module
    // and leaves the database sound.
    static void programStartsNormally(const TestRoot &root);
};

void TestPowerCut::burstOfArrivals_cutAtSeededInstants()
{
    TestRoot root(2);
    root.setGpio(kGpioRf, 0);
    ModulePeerProcess peer(root);
    QVERIFY(peer.start());
    ProgramProcess program(root);
    QVERIFY(program.start());
    QVERIFY(peer.waitForPolls(3, kStartMs, &program));

    // The loft: ringed pigeons, none basketed, so each ring is a training arrival.
    DbReader db(databaseOf(root));
    const int pigeons = kTrials * kRingsPerBurst;
    for (int p = 0; p < pigeons; ++p) {
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','%2')")
                            .arg(assocOf(p), ringOf(p))));
        QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) "
                                       "values('%1','%2','train',0)")
                            .arg(assocOf(p), ringOf(p))));
    }
    db.close();

    // Each burst is cut at the n-th change of the database's files since
    // its rings landed, with no reader in the way: inside the burst, while
    // its arrivals are written one after another.
    DbFileWatch watch(databaseOf(root));
    QVERIFY(watch.isValid());
    QRandomGenerator seeded(kSeed);
    int landed = 0;
    int inside = 0;             // cuts with part of their burst committed
    QSet<QString> checked;      // arrivals checked after a cut that followed their commit
    QStringList ofBurst;        // per burst: committed at its cut @ the change cut at
    for (int trial = 0; trial < kTrials; ++trial) {
        const int base = landed;
        const int cutAt = 1 + int(seeded.bounded(kMaxCutChange));
        watch.clear();
        for (int i = 0; i < kRingsPerBurst; ++i, ++landed)
            QVERIFY(peer.order(QStringLiteral("tag ") + ringOf(landed)).startsWith(QLatin1String("ok")));
        QVERIFY2(watch.waitForChange(kStartMs), qPrintable(QStringLiteral("trial %1: nothing written").arg(trial)));
        int seen = 1;
        while (seen < cutAt && watch.waitForChange(kBurstQuietMs))
            ++seen;
        db.close();
        program.cut();
        // Committed at the cut: what a reader finds in the files it left.
        const QMap<QString, Arrival> before = arrivals(db);
        db.close();
        const int committed = int(before.size()) - base;
        if (committed > 0 && committed < kRingsPerBurst)
            ++inside;
        ofBurst << QStringLiteral("%1@%2").arg(committed).arg(seen);

        QVERIFY2(program.start(), qPrintable(QStringLiteral("trial %1").arg(trial)));
        QVERIFY2(peer.waitForPolls(3, kStartMs, &program),
                 qPrintable(QStringLiteral("trial %1, cut at %2").arg(trial).arg(ofBurst.last())));
        // The module keeps its readings: every ring landed so far arrives.
        QTRY_VERIFY_WITH_TIMEOUT(arrivals(db).size() == landed, kStartMs);
        const QMap<QString, Arrival> after = arrivals(db);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
            checked.insert(it.key());
        }
        checkSound(db);
        QVERIFY2(!QTest::currentTestFailed(), qPrintable(QStringLiteral("trial %1").arg(trial)));
        db.close();
    }
    qInfo("%d cuts, %d inside their burst of %d (part of it committed at the cut); %d arrivals committed "
          "before a cut checked after it, %d rings landed; committed of each burst at its cut @ the change of "
          "the files cut at: %s",
          kTrials, inside, kRingsPerBurst, int(checked.size()), landed, qPrintable(ofBurst.join(QStringLiteral(", "))));
    program.stop();
    QVERIFY(peer.quit());
}

void TestPowerCut::programStartsNormally(const TestRoot &root)
{
    ModulePeerProcess module(root);
    QVERIFY(module.start());
    ProgramProcess program(root);
    QVERIFY(program.start());
    QVERIFY2(module.waitForPolls(3, kStartMs, &program), program.output().constData());
    QVERIFY2(program.close(kCloseMs), program.output().constData());
    QVERIFY(program.endedNormally());
    QVERIFY(module.quit());
}

void TestPowerCut::basketingAtTheClub_cutAtSeededInstants()
{
    TestRoot root(2);
    root.setGpio(kGpioRf, 0);
    ChildProcess club;
    QVERIFY(startClubPortPeer(&club, root, QStringLiteral("brellium-clubpeer")));
    // The club system's clock shows today, as basketing before a race does.
    QCOMPARE(consoleCommand(&club, QStringLiteral("router-clock ")
                                       + QDateTime::currentDateTimeUtc().toString(Qt::ISODate)),
             QStringLiteral("ok"));

    // The loft, its ringed pigeons and the race, stored by the clock's own code.
    root.activate();
    Storage::init();
    SimLoft::setUp();
    for (int p = 0; p < kClubPigeons; ++p)
        SimLoft::registerPigeon(assocOf(p), ringOf(p));
    RaceInfo race;
    race.raceCode = kRaceCode;
    race.raceName = QStringLiteral("Orleans");
    race.liberName = QStringLiteral("Orleans");
    race.liberTime = QDateTime::currentMSecsSinceEpoch() + 86400000;
    race.valid = 1;
    Storage::instance()->saveRace(&race);
    Storage::destroy();

    // The basketing screen opens on the main window: no upgrade notice over it.
    root.writeFile(QStringLiteral("/app/brellium/version"), ProgramVersion::kText);

    DbReader db(databaseOf(root));
    DbFileWatch watch(databaseOf(root));
    QVERIFY(watch.isValid());
    QRandomGenerator seeded(kSeed);
    ChildProcess clock;
    QMap<QString, Mark> known; // shown as marked by the screen, or found committed
    QSet<QString> checked;     // marks made known before a cut checked after it
    QString inFlight;          // the pigeon presented at the last cut
    bool inFlightAnswered = false;
    InFlight ended;
    QStringList ofTrial; // per trial: marks answered before the cut + the cut's event
    const auto present = [&club](int pigeon) {
        return consoleCommand(&club, QStringLiteral("router-ring ") + ringOf(pigeon));
    };
    const auto takeMarked = [&](const QString &line) {
        const QStringList words = line.split(QLatin1Char(' '));
        if (words.size() != 5 || words.first() != QLatin1String("marked"))
            return QString();
        known.insert(words.at(2), {words.at(3).toLongLong(), words.at(4).toInt(), kRaceCode});
        return words.at(2);
    };
    for (int trial = 0; trial <= kClubTrials; ++trial) {
        // Up again: the router authorises the clock and basketing reopens.
        QVERIFY2(PowerCutClock::start(&clock, root, PowerCutClock::Role::Club, kRaceCode, kStartMs),
                 clock.output().constData());
        const QMap<QString, Mark> stored = marks(db);
        for (auto it = known.cbegin(); it != known.cend(); ++it) {
            QVERIFY2(stored.value(it.key()) == it.value(), qPrintable(QStringLiteral("trial %1: %2").arg(trial).arg(it.key())));
            checked.insert(it.key());
        }
        // Beyond those, only the mark in flight at the cut may have been stored.
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            QVERIFY2(known.contains(it.key()) || it.key() == inFlight,
                     qPrintable(QStringLiteral("trial %1: stored, never in flight: %2").arg(trial).arg(it.key())));
            known.insert(it.key(), it.value());
        }
        if (!inFlight.isEmpty()) {
            if (!stored.contains(inFlight))
                ++ended.lost;
            else if (inFlightAnswered)
                ++ended.answered;
            else
                ++ended.unanswered;
        }
        checkSound(db);
        checkMarkLog(db, stored);
        QVERIFY2(!QTest::currentTestFailed(), qPrintable(QStringLiteral("trial %1").arg(trial)));
        if (trial == kClubTrials)
            break;

        // A few pigeons basketed; a lost mark's pigeon is presented again.
        int next = 0;
        while (next < kClubPigeons && stored.contains(assocOf(next)))
            ++next;
        const int answeredBefore = int(seeded.bounded(kMaxAnsweredBeforeCut + 1));
        const CutAt at = CutAt(seeded.bounded(kCutPoints));
        QVERIFY(next + answeredBefore < kClubPigeons);
        for (int i = 0; i < answeredBefore; ++i, ++next) {
            QCOMPARE(present(next), QStringLiteral("ok"));
            const QString line = clock.readLineStarting({QStringLiteral("marked")}, kStartMs);
            QVERIFY2(takeMarked(line) == assocOf(next), qPrintable(QStringLiteral("trial %1: %2").arg(trial).arg(line)));
        }
        // The next one, cut at its event.
        inFlight = assocOf(next);
        inFlightAnswered = false;
        watch.clear();
        QCOMPARE(present(next), QStringLiteral("ok"));
        const QString where = QStringLiteral("trial %1, cut at the %2 of %3").arg(trial).arg(QLatin1String(nameOf(at)), inFlight);
        switch (at) {
        case CutAt::FirstWrite:
            QVERIFY2(watch.waitForChange(kStartMs), qPrintable(where));
            break;
        case CutAt::Commit:
            QVERIFY2(waitForCommit(
                         &watch,
                         [&] {
                             return db.value(QStringLiteral("select MarkTime from Record where AssocNum='%1'").arg(inFlight))
                                        .toLongLong()
                                 != 0;
                         },
                         kStartMs),
                     qPrintable(where));
            break;
        case CutAt::Answer:
            QVERIFY2(takeMarked(clock.readLineStarting({QStringLiteral("marked")}, kStartMs)) == inFlight,
                     qPrintable(where));
            inFlightAnswered = true;
            break;
        }
        db.close();
        clock.cut();
        // A mark the screen showed just before the cut was made known too.
        for (QString line = clock.readLine(0); !line.isNull(); line = clock.readLine(0)) {
            if (takeMarked(line) == inFlight)
                inFlightAnswered = true;
        }
        // The ring is taken away, so the screen started again marks nothing
        // before the stored marks are read.
        QCOMPARE(consoleCommand(&club, QStringLiteral("router-ring none")), QStringLiteral("ok"));
        ofTrial << QStringLiteral("%1+%2").arg(answeredBefore).arg(QLatin1String(nameOf(at)));
    }
    clock.stop();
    db.close();
    qInfo("%d cuts while basketing, each at an event of the mark in flight (%s); %d marks made known before a "
          "cut checked after it (%d marks in all); marks answered before each cut + its event: %s",
          kClubTrials, qPrintable(ended.text()), int(checked.size()), int(known.size()),
          qPrintable(ofTrial.join(QStringLiteral(", "))));

    programStartsNormally(root);
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(marks(db), known);
    checkMarkLog(db, known);
    checkSound(db);
    db.close();
    club.write("quit");
    QVERIFY(club.waitForEnd(kPeerAnswerMs));
}

void TestPowerCut::pcWrites_cutAtSeededInstants()
{
    TestRoot root(2);
    root.setGpio(kGpioRf, 0);
    ChildProcess pc;
    QVERIFY(startClubPortPeer(&pc, root, QStringLiteral("brellium-pcpeer")));

    DbReader db(databaseOf(root));
    DbFileWatch watch(databaseOf(root));
    QVERIFY(watch.isValid());
    QRandomGenerator seeded(kSeed);
    ChildProcess clock;
    QMap<QString, QString> known; // pigeon and race rows made known before a cut
    LoftOwner loft;
    int written = 0;
    QSet<QString> checked; // rows made known before a cut checked after it
    InFlight ended;
    QStringList ofTrial; // per trial: writes answered before the cut + the cut's event
    const auto madeKnown = [&](const QString &key, const QString &value) {
        if (key == QLatin1String("loft"))
            loft.madeKnown(value);
        else
            known.insert(key, value);
    };
    for (int trial = 0; trial <= kPcTrials; ++trial) {
        QVERIFY2(PowerCutClock::start(&clock, root, PowerCutClock::Role::Pc, QString(), kStartMs),
                 clock.output().constData());
        // The PC link answers again (a fresh session after every start).
        // A clock just up may refuse a moment longer, and the answer to a
        // write made just before the cut may still be in the peer's output:
        // the PC asks again, as a PC program does, within the start bound.
        QString auth;
        QElapsedTimer asking;
        asking.start();
        do {
            pc.write("auth 01020304");
            auth = pc.readLine(kPeerAnswerMs);
            if (auth.startsWith(QLatin1String("auth ok")))
                break;
            QThread::msleep(kAuthRetryMs);
        } while (asking.elapsed() < kStartMs);
        QVERIFY2(auth.startsWith(QLatin1String("auth ok")), qPrintable(QStringLiteral("trial %1: %2").arg(trial).arg(auth)));
        const QMap<QString, QString> stored = pcRows(db);
        for (auto it = known.cbegin(); it != known.cend(); ++it) {
            QVERIFY2(stored.value(it.key()) == it.value(), qPrintable(QStringLiteral("trial %1: %2").arg(trial).arg(it.key())));
            checked.insert(it.key());
        }
        QVERIFY2(loft.allows(stored.value(QStringLiteral("loft"))), qPrintable(stored.value(QStringLiteral("loft"))));
        loft.madeKnown(stored.value(QStringLiteral("loft")));
        checkSound(db);
        QVERIFY2(!QTest::currentTestFailed(), qPrintable(QStringLiteral("trial %1").arg(trial)));
        if (trial == kPcTrials)
            break;

        const int answeredBefore = int(seeded.bounded(kMaxAnsweredBeforeCut + 1));
        const CutAt at = CutAt(seeded.bounded(kCutPoints));
        for (int i = 0; i < answeredBefore; ++i) {
            const PcWrite write = pcWrite(written++);
            if (write.key == QLatin1String("loft"))
                loft.sent(write.value);
            pc.write("json " + write.call.toUtf8());
            QCOMPARE(pc.readLine(kPeerAnswerMs), kNullResult);
            madeKnown(write.key, write.value);
        }
        // The next one, cut at its event.
        const PcWrite write = pcWrite(written++);
        if (write.key == QLatin1String("loft"))
            loft.sent(write.value);
        watch.clear();
        pc.write("json " + write.call.toUtf8());
        const QString where =
            QStringLiteral("trial %1, cut at the %2 of %3").arg(trial).arg(QLatin1String(nameOf(at)), write.key);
        bool answered = false;
        switch (at) {
        case CutAt::FirstWrite:
            QVERIFY2(watch.waitForChange(kStartMs), qPrintable(where));
            break;
        case CutAt::Commit:
            QVERIFY2(waitForCommit(&watch, [&] { return pcRows(db).value(write.key) == write.value; }, kStartMs),
                     qPrintable(where));
            break;
        case CutAt::Answer:
            QCOMPARE(pc.readLine(kPeerAnswerMs), kNullResult);
            answered = true;
            break;
        }
        db.close();
        clock.cut();
        // The answer, if the clock sent it before the cut, made the write
        // known too; otherwise the peer gives up.
        if (!answered) {
            const QString answer = pc.readLine(kPcGiveUpMs);
            QVERIFY2(!answer.isNull(), qPrintable(where));
            answered = answer == kNullResult;
        }
        if (answered)
            madeKnown(write.key, write.value);
        // Committed at the cut: each row holds what the PC sent.
        const QMap<QString, QString> before = pcRows(db);
        db.close();
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it.key() == QLatin1String("loft")) {
                QVERIFY2(loft.allows(it.value()), qPrintable(it.value()));
            } else {
                const PcWrite sent = pcWrite(it.key().section(QLatin1Char('-'), -1).toInt());
                QVERIFY2(sent.key == it.key() && sent.value == it.value(), qPrintable(it.key()));
            }
            madeKnown(it.key(), it.value());
        }
        if (before.value(write.key) != write.value)
            ++ended.lost;
        else if (answered)
            ++ended.answered;
        else
            ++ended.unanswered;
        QVERIFY2(!answered || before.value(write.key) == write.value, qPrintable(where + QStringLiteral(": answered, not stored")));
        ofTrial << QStringLiteral("%1+%2").arg(answeredBefore).arg(QLatin1String(nameOf(at)));
    }
    clock.stop();
    db.close();
    qInfo("%d cuts while the PC writes, each at an event of the write in flight (%s); %d rows made known before "
          "a cut checked after it (%d writes sent); writes answered before each cut + its event: %s",
          kPcTrials, qPrintable(ended.text()), int(checked.size()), written, qPrintable(ofTrial.join(QStringLiteral(", "))));

    programStartsNormally(root);
    QVERIFY(!QTest::currentTestFailed());
    const QMap<QString, QString> after = pcRows(db);
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        QCOMPARE(after.value(it.key()), it.value());
    QVERIFY(loft.allows(after.value(QStringLiteral("loft"))));
    checkSound(db);
    db.close();
    pc.write("quit");
    QVERIFY(pc.waitForEnd(kPeerAnswerMs));
}

void TestPowerCut::firstStart_cutWhileCreatingTheDatabase_data()
{
    // Cut when the database's files have changed this many times: the file
    // appears, then the schema and the first rows are written.
    QTest::addColumn<int>("changes");
    for (int n : {1, 2, 3, 5, 8, 13})
        QTest::addRow("cut at change %d", n) << n;
}

void TestPowerCut::firstStart_cutWhileCreatingTheDatabase()
{
    QFETCH(int, changes);
    TestRoot root(2);
    root.setGpio(kGpioRf, 0);
    ModulePeerProcess peer(root);
    QVERIFY(peer.start());
    DbFileWatch watch(databaseOf(root));
    QVERIFY(watch.isValid());
    ProgramProcess program(root);
    QVERIFY(program.start());
    int seen = 0;
    while (seen < changes && watch.waitForChange(kStartMs))
        ++seen;
    program.cut();
    // A first start that wrote less than that was cut after it ended.
    qInfo("cut at change %d of the database's files", seen);
    QVERIFY(seen >= 1);

    QVERIFY(program.start());
    QVERIFY(peer.waitForPolls(3, kStartMs, &program));
    DbReader db(databaseOf(root));
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
    QVERIFY(peer.quit());
}

int main(int argc, char *argv[])
{
    if (PowerCutClock::asked())
        return PowerCutClock::run(argc, argv);
    QCoreApplication app(argc, argv);
    TestPowerCut tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_powercut.moc"
