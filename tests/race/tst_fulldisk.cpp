#include "dbreader.h"
#include "modulepeerprocess.h"
#include "programprocess.h"
#include "testroot.h"

#include "core/version.h"
#include "storage/storage.h"

#include <QDateTime>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

constexpr int kStartMs = 15000;
constexpr int kStoreMs = 30000;
constexpr int kCloseMs = 30000;
constexpr int kGpioRf = 40;
// Presenting a ring to the clock's stamp: the next poll (100 ms) and the
// fetch, with room for a loaded host.
constexpr qint64 kStampSlackMs = 3000;
const char kHeldLine[] = "MainWindow: Arrivals cannot be stored";
const char kFillerName[] = "filler";

QString ringOf(int i)
{
    return QStringLiteral("F%1").arg(i, 7, 10, QLatin1Char('0'));
}

// The test's mounts live in a mount namespace of this process's own: the
// host never sees them, and they go when the test ends, however it ends.
bool privateMounts(QString *why)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        *why = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    return true;
}

// Fills the file system of folder to the last byte.
bool fill(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(kFillerName));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const QByteArray chunk(4096, 'x');
    while (::write(fd, chunk.constData(), size_t(chunk.size())) > 0) {
    }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

enum class Fault { FullDisk, ReadOnlyFolder };

} // namespace

Q_DECLARE_METATYPE(Fault)

// No arrival is lost when the database cannot be written: the program with
// the module peer as a process, its working folder on a small tmpfs that the
// test fills (or makes read-only by a bind mount) during a burst of rings.
// Every ring ends stored once, with the time it was read and in the order it
// was presented, once writing works again, across a restart too; the screen
// says meanwhile that arrivals are held.
class TestFullDisk : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void burst_heldThenStoredWithReadingTimes_data();
    void burst_heldThenStoredWithReadingTimes();

private:
    bool mountsAllowed = false;
};

void TestFullDisk::initTestCase()
{
    QString why;
    mountsAllowed = privateMounts(&why);
    if (!mountsAllowed)
        QSKIP(qPrintable(QStringLiteral("a private tmpfs needs mount rights: ") + why));
}

void TestFullDisk::burst_heldThenStoredWithReadingTimes_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("rings");
    QTest::addColumn<bool>("restart");
    QTest::newRow("disk full, 50 rings") << Fault::FullDisk << 50 << false;
    QTest::newRow("disk full, restart while full") << Fault::FullDisk << 10 << true;
    QTest::newRow("folder read-only, 10 rings") << Fault::ReadOnlyFolder << 10 << false;
}

void TestFullDisk::burst_heldThenStoredWithReadingTimes()
{
    QFETCH(Fault, fault);
    QFETCH(int, rings);
    QFETCH(bool, restart);
    TestRoot root(2);
    root.setGpio(kGpioRf, 0);
    // No upgrade notice: the error boxes are what this test waits for.
    root.writeFile(QStringLiteral("/app/brellium/version"), QByteArray(ProgramVersion::kText));
    const QByteArray work = QFile::encodeName(root.workDir());
    QVERIFY(::mount("tmpfs", work.constData(), "tmpfs", 0, "size=4m") == 0);
    bool bound = false;
    const auto unmount = qScopeGuard([&work, &bound] {
        if (bound)
            ::umount2(work.constData(), MNT_DETACH);
        ::umount2(work.constData(), MNT_DETACH);
    });

    ModulePeerProcess peer(root);
    QVERIFY(peer.start());
    ProgramProcess program(root);
    QVERIFY(program.start());
    QTRY_VERIFY_WITH_TIMEOUT(peer.stat(QStringLiteral("exchange")) >= 3, kStartMs);
    DbReader db(root.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile));
    QVERIFY(db.exec(QStringLiteral("BEGIN")));
    for (int i = 0; i < rings; ++i) {
        const QString assocNum = QStringLiteral("NL-%1").arg(i);
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','%2')").arg(assocNum, ringOf(i))));
        QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values('%1','%2','train',0)")
                            .arg(assocNum, ringOf(i))));
    }
    QVERIFY(db.exec(QStringLiteral("COMMIT")));
    db.close();

    if (fault == Fault::FullDisk) {
        QVERIFY(fill(root.workDir()));
    } else {
        QVERIFY(::mount(work.constData(), work.constData(), nullptr, MS_BIND, nullptr) == 0);
        bound = true;
        QVERIFY(::mount(nullptr, work.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
    }

    // The burst: each ring presented, with the host time around it.
    QList<QPair<qint64, qint64>> presented;
    for (int i = 0; i < rings; ++i) {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(peer.order(QStringLiteral("tag ") + ringOf(i)).startsWith(QLatin1String("ok")));
        presented.append(qMakePair(before, QDateTime::currentMSecsSinceEpoch()));
    }
    // A folder made read-only under the running program still takes its
    // commits: they go into the write-ahead log it holds open, so there is
    // nothing to hold; the checks of every ring below stand either way.
    if (fault == Fault::FullDisk)
        QVERIFY2(program.waitForOutput(kHeldLine, kStoreMs), program.output().constData());

    if (restart) {
        QVERIFY2(program.close(kCloseMs), program.output().constData());
        QVERIFY(program.start());
        // Still full: the held readings come back from the journal and are
        // held again, and the screen says so.
        QVERIFY2(program.waitForOutput("PigeonBo: held reading replayed", kStartMs), program.output().constData());
        QVERIFY2(program.waitForOutput(kHeldLine, kStoreMs), program.output().constData());
    }

    if (fault == Fault::FullDisk) {
        QVERIFY(QFile::remove(root.workDir() + QLatin1Char('/') + QLatin1String(kFillerName)));
    } else {
        QVERIFY(::umount2(work.constData(), 0) == 0);
        bound = false;
    }
    const auto stored = [&db] {
        const int n = db.value(QStringLiteral("select count(*) from Record where BackTimeEring<>0")).toInt();
        db.close();
        return n;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(stored() == rings, program.output().right(3000).constData(), kStoreMs);

    const QList<QVariantList> rows =
        db.rows(QStringLiteral("select EringNum,BackTimeEring,BackOrder from Record where BackTimeEring<>0 "
                               "order by BackOrder"));
    QCOMPARE(db.value(QStringLiteral("select count(*) from Log where LogType=1")).toInt(), rings);
    db.close();
    QCOMPARE(rows.size(), rings);
    for (int i = 0; i < rings; ++i) {
        const QVariantList &row = rows.at(i);
        QCOMPARE(row.at(0).toString(), ringOf(i)); // the order presented
        QCOMPARE(row.at(2).toInt(), i + 1);
        const qint64 time = row.at(1).toLongLong();
        QVERIFY2(time >= presented.at(i).first && time <= presented.at(i).second + kStampSlackMs,
                 qPrintable(QStringLiteral("%1: %2 not in %3..%4")
                                .arg(ringOf(i))
                                .arg(time)
                                .arg(presented.at(i).first)
                                .arg(presented.at(i).second)));
    }
    QVERIFY2(program.close(kCloseMs), program.output().constData());
    QVERIFY(peer.quit());
}

QTEST_GUILESS_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
