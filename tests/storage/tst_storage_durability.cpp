#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include "storagefixture.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace {

// A file system layer over SQLite's default one that counts the syncs of
// each kind of file, so that a test sees what reaches the disk and not what
// a connection claims.
enum FileKind { MainDb, Journal, Wal, Other, KindCount };
std::atomic<int> syncs[KindCount];
sqlite3_vfs *realVfs = nullptr;
sqlite3_vfs countingVfs;

struct CountingFile
{
    sqlite3_file base;
    FileKind kind;
    sqlite3_file *real() { return reinterpret_cast<sqlite3_file *>(this + 1); }
};

sqlite3_file *realOf(sqlite3_file *f)
{
    return reinterpret_cast<CountingFile *>(f)->real();
}

int xClose(sqlite3_file *f)
{
    return realOf(f)->pMethods->xClose(realOf(f));
}
int xRead(sqlite3_file *f, void *buf, int amount, sqlite3_int64 offset)
{
    return realOf(f)->pMethods->xRead(realOf(f), buf, amount, offset);
}
int xWrite(sqlite3_file *f, const void *buf, int amount, sqlite3_int64 offset)
{
    return realOf(f)->pMethods->xWrite(realOf(f), buf, amount, offset);
}
int xTruncate(sqlite3_file *f, sqlite3_int64 size)
{
    return realOf(f)->pMethods->xTruncate(realOf(f), size);
}
int xSync(sqlite3_file *f, int flags)
{
    ++syncs[reinterpret_cast<CountingFile *>(f)->kind];
    return realOf(f)->pMethods->xSync(realOf(f), flags);
}
int xFileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    return realOf(f)->pMethods->xFileSize(realOf(f), size);
}
int xLock(sqlite3_file *f, int lock)
{
    return realOf(f)->pMethods->xLock(realOf(f), lock);
}
int xUnlock(sqlite3_file *f, int lock)
{
    return realOf(f)->pMethods->xUnlock(realOf(f), lock);
}
int xCheckReservedLock(sqlite3_file *f, int *out)
{
    return realOf(f)->pMethods->xCheckReservedLock(realOf(f), out);
}
int xFileControl(sqlite3_file *f, int op, void *arg)
{
    return realOf(f)->pMethods->xFileControl(realOf(f), op, arg);
}
int xSectorSize(sqlite3_file *f)
{
    return realOf(f)->pMethods->xSectorSize(realOf(f));
}
int xDeviceCharacteristics(sqlite3_file *f)
{
    return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f));
}
int xShmMap(sqlite3_file *f, int region, int size, int extend, void volatile **out)
{
    return realOf(f)->pMethods->xShmMap(realOf(f), region, size, extend, out);
}
int xShmLock(sqlite3_file *f, int offset, int n, int flags)
{
    return realOf(f)->pMethods->xShmLock(realOf(f), offset, n, flags);
}
void xShmBarrier(sqlite3_file *f)
{
    realOf(f)->pMethods->xShmBarrier(realOf(f));
}
int xShmUnmap(sqlite3_file *f, int deleteFlag)
{
    return realOf(f)->pMethods->xShmUnmap(realOf(f), deleteFlag);
}
int xFetch(sqlite3_file *f, sqlite3_int64 offset, int amount, void **out)
{
    return realOf(f)->pMethods->xFetch(realOf(f), offset, amount, out);
}
int xUnfetch(sqlite3_file *f, sqlite3_int64 offset, void *p)
{
    return realOf(f)->pMethods->xUnfetch(realOf(f), offset, p);
}

const sqlite3_io_methods countingMethods = {3, xClose, xRead, xWrite, xTruncate, xSync, xFileSize, xLock,
                                            xUnlock, xCheckReservedLock, xFileControl, xSectorSize,
                                            xDeviceCharacteristics, xShmMap, xShmLock, xShmBarrier, xShmUnmap,
                                            xFetch, xUnfetch};

int xOpen(sqlite3_vfs *, const char *name, sqlite3_file *f, int flags, int *outFlags)
{
    auto *file = reinterpret_cast<CountingFile *>(f);
    file->base.pMethods = nullptr;
    if (flags & SQLITE_OPEN_MAIN_DB)
        file->kind = MainDb;
    else if (flags & SQLITE_OPEN_MAIN_JOURNAL)
        file->kind = Journal;
    else if (flags & SQLITE_OPEN_WAL)
        file->kind = Wal;
    else
        file->kind = Other;
    const int rc = realVfs->xOpen(realVfs, name, file->real(), flags, outFlags);
    // Methods only where the real file has them, so that SQLite closes
    // exactly what was opened.
    if (file->real()->pMethods)
        file->base.pMethods = &countingMethods;
    return rc;
}

void installCountingVfs()
{
    realVfs = sqlite3_vfs_find(nullptr);
    countingVfs = *realVfs;
    countingVfs.szOsFile = int(sizeof(CountingFile)) + realVfs->szOsFile;
    countingVfs.zName = "counting";
    countingVfs.xOpen = xOpen;
    countingVfs.pNext = nullptr;
    sqlite3_vfs_register(&countingVfs, 1);
}

void resetSyncs()
{
    for (auto &n : syncs)
        n = 0;
}

// The program's own connection of this thread, not the fixture's.
QSqlDatabase programConnection()
{
    const auto id = reinterpret_cast<quintptr>(QThread::currentThreadId());
    const QString name = QLatin1Char('S') + QString::number(id, 16).toUpper().rightJustified(8, QLatin1Char('0'));
    return QSqlDatabase::database(name, false);
}

QVariant pragma(const QString &name)
{
    QSqlQuery query(programConnection());
    if (!query.exec(QStringLiteral("PRAGMA ") + name) || !query.next())
        return QVariant();
    return query.value(0);
}

} // namespace

// An arrival reported as stored is on the disk: the program's connection
// syncs every commit, which only a count of the real syncs can show (a
// killed process keeps the page cache, so a kill trial cannot).
class TestStorageDurability : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void programConnection_fullSyncs();
    void arrivalCommit_reachesTheDisk();
    void severalArrivals_eachSynced();
};

void TestStorageDurability::initTestCase()
{
    installCountingVfs();
}

void TestStorageDurability::programConnection_fullSyncs()
{
    StorageFixture db;
    Storage::instance()->getParam(QStringLiteral("probe")); // opens the program's connection
    QVERIFY(programConnection().isOpen());
    // FULL (2) or EXTRA (3); NORMAL loses the last commits in WAL mode and
    // OFF loses them in any mode.
    QVERIFY2(pragma(QStringLiteral("synchronous")).toInt() >= 2,
             qPrintable(pragma(QStringLiteral("synchronous")).toString()));
    const QString mode = pragma(QStringLiteral("journal_mode")).toString();
    QVERIFY2(mode == QLatin1String("delete") || mode == QLatin1String("wal") || mode == QLatin1String("truncate")
                 || mode == QLatin1String("persist"),
             qPrintable(mode));
}

void TestStorageDurability::arrivalCommit_reachesTheDisk()
{
    StorageFixture db;
    PigeonInfo pigeon;
    pigeon.assocNum = QStringLiteral("NL-1");
    pigeon.eringNum = QStringLiteral("E1");
    Storage::instance()->savePigeon(&pigeon);
    PigeonRecord record = *Storage::instance()->findRecordById(QStringLiteral("NL-1"));
    record.raceCode = QStringLiteral("R1");
    record.markTime = 1700000000000;
    Storage::instance()->saveRecord(&record);

    record.backTimeEring = 1700003600000;
    record.backOrder = 1;
    resetSyncs();
    QVERIFY(Storage::instance()->saveArrival(&record));
    const QString mode = pragma(QStringLiteral("journal_mode")).toString();
    const QString counts = QStringLiteral("db %1, journal %2, wal %3")
                               .arg(int(syncs[MainDb]))
                               .arg(int(syncs[Journal]))
                               .arg(int(syncs[Wal]));
    // The file that holds the commit when the call returns was synced.
    if (mode == QLatin1String("wal"))
        QVERIFY2(syncs[Wal] >= 1, qPrintable(counts));
    else
        QVERIFY2(syncs[MainDb] >= 1 && syncs[Journal] >= 1, qPrintable(counts));
}

void TestStorageDurability::severalArrivals_eachSynced()
{
    StorageFixture db;
    const int count = 5;
    for (int i = 0; i < count; ++i) {
        PigeonInfo pigeon;
        pigeon.assocNum = QStringLiteral("NL-%1").arg(i);
        pigeon.eringNum = QStringLiteral("E%1").arg(i);
        Storage::instance()->savePigeon(&pigeon);
    }
    resetSyncs();
    for (int i = 0; i < count; ++i) {
        PigeonRecord record = *Storage::instance()->findRecordById(QStringLiteral("NL-%1").arg(i));
        record.backTimeEring = 1700003600000 + i;
        record.backOrder = i + 1;
        QVERIFY(Storage::instance()->saveArrival(&record));
    }
    // No commit rides on a later one's sync.
    QVERIFY2(syncs[MainDb] + syncs[Wal] >= count, qPrintable(QString::number(syncs[MainDb] + syncs[Wal])));
}

QTEST_GUILESS_MAIN(TestStorageDurability)
#include "tst_storage_durability.moc"
