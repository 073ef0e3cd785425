#include "core/vexexception.h"
#include "storage/storage.h"

#include "messagecapture.h"
#include "storagefixture.h"

#include <QSqlDatabase>
#include <QSemaphore>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

// One Storage and one connection per thread, named after the whole thread
// id; finished reads never hold the lock a writer in another thread needs.

namespace {

// What a thread's Storage is registered as: "S" and every hex digit of the id.
QString expectedName()
{
    return QLatin1Char('S')
        + QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

// Runs work in a thread of its own and waits for it (bounded).
bool inThread(const std::function<void()> &work)
{
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    return thread->wait(30000);
}

} // namespace

class TestStorageConnection : public QObject
{
    Q_OBJECT
private slots:
    void oneObjectPerThread_namedByWholeThreadId();
    void destroy_thenInstance_registersSameNameAgain();
    void destroy_inUnusedThread_doesNothing();
    void finishedRead_neverBlocksAnotherThreadsWrite();
    void lockedBeyondBusyTime_raisesAndKeepsOldValue();
};

void TestStorageConnection::oneObjectPerThread_namedByWholeThreadId()
{
    StorageFixture db;
    Storage *mine = Storage::instance();
    QCOMPARE(Storage::instance(), mine);
    QVERIFY(QSqlDatabase::contains(expectedName()));

    // Two threads alive at once: two objects, two connections, both usable.
    QString names[2];
    Storage *objects[2] = {nullptr, nullptr};
    QSemaphore bothRegistered;
    QSemaphore release;
    auto worker = [&](int i) {
        return [&, i] {
            objects[i] = Storage::instance();
            names[i] = expectedName();
            objects[i]->setParam(QStringLiteral("t%1").arg(i), QStringLiteral("v"));
            bothRegistered.release();
            release.tryAcquire(1, 30000);
            Storage::destroy();
        };
    };
    std::unique_ptr<QThread> first(QThread::create(worker(0)));
    std::unique_ptr<QThread> second(QThread::create(worker(1)));
    first->start();
    second->start();
    QVERIFY(bothRegistered.tryAcquire(2, 30000));
    QVERIFY(QSqlDatabase::contains(names[0]) && QSqlDatabase::contains(names[1]));
    release.release(2);
    QVERIFY(first->wait(30000) && second->wait(30000));

    QVERIFY(objects[0] != mine && objects[1] != mine && objects[0] != objects[1]);
    QVERIFY(names[0] != names[1]);
    // Thread ids of this machine need more than eight digits; none may be lost.
    QVERIFY(names[0].size() > 9);
    QVERIFY(!QSqlDatabase::contains(names[0]) && !QSqlDatabase::contains(names[1]));
    QCOMPARE(db.value(QStringLiteral("select count(*) from APPPARAMS")).toInt(), 2);
}

void TestStorageConnection::destroy_thenInstance_registersSameNameAgain()
{
    StorageFixture db;
    Storage::instance()->setParam(QStringLiteral("k"), QStringLiteral("v"));
    MessageCapture capture;
    Storage::destroy();
    QVERIFY(capture.contains(QStringLiteral("Storage ") + expectedName() + QStringLiteral(" close!")));
    QVERIFY(!QSqlDatabase::contains(expectedName()));

    Storage *fresh = Storage::instance();
    QVERIFY(fresh);
    QVERIFY(capture.contains(QStringLiteral("Storage in ") + expectedName().mid(1) + QLatin1Char(',') + expectedName()));
    QVERIFY(QSqlDatabase::contains(expectedName()));
    QCOMPARE(fresh->getParam(QStringLiteral("k")), QStringLiteral("v"));
}

void TestStorageConnection::destroy_inUnusedThread_doesNothing()
{
    StorageFixture db;
    const QStringList before = QSqlDatabase::connectionNames();
    MessageCapture capture;
    QVERIFY(inThread([] { Storage::destroy(); }));
    QCOMPARE(QSqlDatabase::connectionNames(), before);
    QVERIFY(!capture.contains(QStringLiteral("close!")));
}

void TestStorageConnection::finishedRead_neverBlocksAnotherThreadsWrite()
{
    StorageFixture db;
    Storage::setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=100"));
    Storage::instance()->setParam(QStringLiteral("a"), QStringLiteral("1"));
    Storage::instance()->setParam(QStringLiteral("b"), QStringLiteral("2"));
    // A read of several rows in this thread, then a write in another.
    QCOMPARE(Storage::instance()->getParam(QStringLiteral("a")), QStringLiteral("1"));
    QString failure;
    auto write = [&failure] {
        try {
            Storage::instance()->setParam(QStringLiteral("c"), QStringLiteral("3"));
        } catch (const VexException &e) {
            failure = e.getErrorMessage();
        }
        Storage::destroy();
    };
    QVERIFY(inThread(write));
    QCOMPARE(failure, QString());
    // Nor does the finished read keep an old view of the file: a checkpoint
    // moves every commit into it, so the write-ahead log cannot grow on.
    QList<QVariantList> checkpoint = db.rows(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
    QCOMPARE(checkpoint.value(0).value(2), checkpoint.value(0).value(1));

    // The same while a read elsewhere is left unfinished: the checkpoint
    // stops at that read's view, which the check above would see.
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture-probe"));
        raw.setDatabaseName(db.databasePath());
        QVERIFY(raw.open());
        QSqlQuery reading(raw);
        QVERIFY(reading.exec(QStringLiteral("select id from APPPARAMS")));
        QVERIFY(reading.next());
        QVERIFY(inThread(write));
        QCOMPARE(failure, QString());
        checkpoint = db.rows(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        QVERIFY2(checkpoint.value(0).value(2).toInt() < checkpoint.value(0).value(1).toInt(),
                 qPrintable(checkpoint.value(0).value(2).toString()));
        reading.finish();
        raw.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture-probe"));
    Storage::setConnectOptions(QString());
}

void TestStorageConnection::lockedBeyondBusyTime_raisesAndKeepsOldValue()
{
    StorageFixture db;
    Storage::instance()->setParam(QStringLiteral("k"), QStringLiteral("old"));
    Storage::destroy();
    Storage::setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
    QVERIFY(db.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    try {
        Storage::instance()->setParam(QStringLiteral("k"), QStringLiteral("new"));
        QFAIL("setParam succeeded under another connection's lock");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorType(), 0x11000000);
        QCOMPARE(e.getErrorMessage(), QStringLiteral("set param error!"));
    }
    // A reader never waits for the writer: it sees the last commit at once,
    // so a screen is not held while the engine stores an arrival.
    QVERIFY(db.exec(QStringLiteral("update APPPARAMS set val='uncommitted' where id='k'")));
    QCOMPARE(Storage::instance()->getParam(QStringLiteral("k")), QStringLiteral("old"));
    QVERIFY(db.exec(QStringLiteral("ROLLBACK")));
    Storage::setConnectOptions(QString());
    QCOMPARE(Storage::instance()->getParam(QStringLiteral("k")), QStringLiteral("old"));
}

QTEST_GUILESS_MAIN(TestStorageConnection)
#include "tst_storage_connection.moc"
