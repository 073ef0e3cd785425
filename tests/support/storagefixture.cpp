#include "storagefixture.h"

#include "storage/storage.h"

#include "powercut.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

#include <atomic>

namespace {
std::atomic<int> fixtureCount{0};
}

StorageFixture::StorageFixture(bool initialise)
    : name(QStringLiteral("fixture%1").arg(++fixtureCount))
{
    testRoot.activate();
    if (initialise)
        Storage::init();
}

StorageFixture::~StorageFixture()
{
    Storage::destroy();
    closeConnection();
}

QString StorageFixture::databasePath() const
{
    return testRoot.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile);
}

QString StorageFixture::connection() const
{
    if (!QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(databasePath());
    }
    return name;
}

void StorageFixture::closeConnection() const
{
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QList<QVariantList> StorageFixture::rows(const QString &sql) const
{
    QList<QVariantList> result;
    QSqlDatabase db = QSqlDatabase::database(connection(), true);
    {
        QSqlQuery query(db);
        if (!query.exec(sql)) {
            qWarning() << "fixture:" << sql << query.lastError().text();
            return result;
        }
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row.append(query.value(i));
            result.append(row);
        }
        query.finish();
    }
    return result;
}

bool StorageFixture::hold(bool forReads) const
{
    Storage::destroy();
    Storage::setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
    if (forReads && value(QStringLiteral("PRAGMA journal_mode=DELETE")).toString() != QLatin1String("delete"))
        return false;
    return exec(QStringLiteral("BEGIN EXCLUSIVE"));
}

bool StorageFixture::releaseHold() const
{
    Storage::setConnectOptions(QString());
    return exec(QStringLiteral("ROLLBACK"));
}

bool StorageFixture::exec(const QString &sql) const
{
    QSqlDatabase db = QSqlDatabase::database(connection(), true);
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    qWarning() << "fixture:" << sql << query.lastError().text();
    return false;
}

QVariant StorageFixture::value(const QString &sql) const
{
    const QList<QVariantList> all = rows(sql);
    return all.isEmpty() || all.first().isEmpty() ? QVariant() : all.first().first();
}

QString StorageFixture::dump() const
{
    QString text;
    const QList<QVariantList> tables =
        rows(QStringLiteral("select name, sql from sqlite_master where type in ('table','trigger') order by name"));
    for (const QVariantList &table : tables) {
        text += table.value(1).toString() + QLatin1Char('\n');
        if (table.value(1).toString().startsWith(QLatin1String("CREATE TRIGGER")))
            continue;
        const QList<QVariantList> all =
            rows(QStringLiteral("select * from \"%1\" order by rowid").arg(table.value(0).toString()));
        for (const QVariantList &row : all) {
            QStringList cells;
            for (const QVariant &cell : row)
                cells.append(cell.isNull() ? QStringLiteral("NULL") : QLatin1Char('[') + cell.toString() + QLatin1Char(']'));
            text += QStringLiteral("  ") + cells.join(QLatin1Char('|')) + QLatin1Char('\n');
        }
    }
    return text;
}

int StorageFixture::pigeonsWithoutOneRecord() const
{
    return value(QStringLiteral("select count(*) from Pigeon p where "
                                "(select count(*) from Record r where r.AssocNum=p.AssocNum) <> 1"))
        .toInt();
}

bool StorageFixture::failOn(const QString &kind, const QString &table) const
{
    return exec(QStringLiteral("CREATE TRIGGER fail_%1_%2 BEFORE %1 ON %2 BEGIN SELECT RAISE(ABORT, 'injected'); END")
                    .arg(kind, table));
}

bool StorageFixture::saveCopy(const QString &copyPath) const
{
    // Commits may still lie in the write-ahead log beside the file: moved
    // into it first, so that the copy alone is the whole database.
    const QVariant busy = value(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    closeConnection();
    if (busy.isValid() && busy.toInt() != 0)
        return false;
    QFile::remove(copyPath);
    return QFile::copy(databasePath(), copyPath);
}

bool StorageFixture::restoreCopy(const QString &copyPath) const
{
    closeConnection();
    // A log left beside the file belongs to the run that wrote it, not to
    // the copy: replayed into the copy it would bring that run back.
    for (const char *suffix : {"-journal", "-wal", "-shm"})
        QFile::remove(databasePath() + QLatin1String(suffix));
    QFile::remove(databasePath());
    return QFile::copy(copyPath, databasePath());
}

void StorageFixture::checkPowerCuts(const QString &operation, int *cuts, const std::function<void()> &afterRestart)
{
    *cuts = 0;
    Storage::destroy();
    const QString copy = testRoot.root() + QStringLiteral("/before.db3");
    const QString before = dump();
    QVERIFY(saveCopy(copy));
    QByteArray output;
    QCOMPARE(PowerCut::run(operation, 0, &output), PowerCut::Outcome::Completed);
    const QString after = dump();
    QVERIFY(after != before);

    for (int n = 1; n <= PowerCut::kMaxStatements; ++n) {
        QVERIFY(restoreCopy(copy));
        const PowerCut::Outcome outcome = PowerCut::run(operation, n, &output);
        QVERIFY2(outcome == PowerCut::Outcome::Cut || outcome == PowerCut::Outcome::Completed, output.constData());
        // The next start: the journal rolls an unfinished write back.
        Storage::init();
        const QString found = dump();
        QVERIFY2(found == before || found == after, qPrintable(QStringLiteral("cut after statement %1").arg(n)));
        if (afterRestart) {
            afterRestart();
            if (QTest::currentTestFailed())
                return;
        }
        Storage::destroy();
        if (outcome == PowerCut::Outcome::Completed) {
            QCOMPARE(found, after);
            return;
        }
        ++*cuts;
    }
}
