#include "storage/storage.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "storage/storagerow.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <atomic>
#include <chrono>
#include <exception>
#include <optional>

#include <sqlite3.h>
#include <unistd.h>

namespace {

thread_local Storage *_storage = nullptr;

// SQLITE_ERROR: what an injected statement failure reports.
constexpr int kInjectedErrorNumber = 1;

// About what the log holds between two automatic checkpoints (1,000 pages).
constexpr int kWalLimitBytes = 4 * 1024 * 1024;
// Each connection's page cache, in KiB. SQLite's 2 MB default is less than a
// large loft's record table: a race's records read in arrival order come
// through its index in another order than the table's, so pages left the
// cache and were read again within one list (at 20,000 pigeons a race detail
// list took 130 ms; with the table held, 40 ms). It only grows as pages are
// read, so a small loft's file uses no more than before.
constexpr int kPageCacheKiB = 8 * 1024;

// Statements kept prepared per connection. Parsing a statement cost more
// than running it for the small ones a tick or an arrival makes; a thread
// that makes more distinct texts than this (values written into the text)
// starts its set over.
constexpr std::size_t kPreparedLimit = 64;

// The kept statement of sql, marked in use for this run (known set); null
// while it is in use further up this thread's stack. When sql is not kept
// yet (known cleared), a full set makes room: every statement not in use goes.
template <typename Kept>
Kept *takeKept(std::unordered_map<QString, std::unique_ptr<Kept>> &kept, const QString &sql, bool *known)
{
    const auto found = kept.find(sql);
    *known = found != kept.end();
    if (*known) {
        if (found->second->inUse)
            return nullptr;
        found->second->inUse = true;
        return found->second.get();
    }
    if (kept.size() >= kPreparedLimit) {
        for (auto it = kept.begin(); it != kept.end();)
            it = it->second->inUse ? std::next(it) : kept.erase(it);
    }
    return nullptr;
}

std::atomic<quint64> statementsRun{0};
std::atomic<int> faultKind{0};
std::atomic<quint64> faultStatement{0};

QMutex &optionsMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &connectOptions()
{
    static QString options;
    return options;
}

// How long a statement waits for another connection's write lock before it
// fails with "database is locked": the driver's default, unless the connect
// options name another.
constexpr int kDefaultBusyMs = 5000;
// The wait retries this often. SQLite's own busy wait backs off to 100 ms
// sleeps, and a writer committing arrival after arrival releases the lock
// for well under a millisecond between its commits: a screen's save would
// keep missing those gaps and fail while the service thread stays busy.
constexpr int kBusyRetryMs = 2;

int busyBudgetMs(const QString &options)
{
    static const QString key = QStringLiteral("QSQLITE_BUSY_TIMEOUT=");
    for (const QString &option : options.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = option.trimmed();
        if (!trimmed.startsWith(key))
            continue;
        bool ok = false;
        const int ms = trimmed.mid(key.size()).toInt(&ok);
        if (ok && ms >= 0)
            return ms;
    }
    return kDefaultBusyMs;
}

// The budget of this thread's connection and when its current wait began
// (a connection serves the one thread that opened it).
struct BusyWait
{
    int budgetMs = kDefaultBusyMs;
    std::chrono::steady_clock::time_point start;
};

thread_local BusyWait _busyWait;

int waitForLock(void *context, int attempt)
{
    auto *wait = static_cast<BusyWait *>(context);
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0)
        wait->start = now;
    if (now - wait->start >= std::chrono::milliseconds(wait->budgetMs))
        return 0;
    ::usleep(kBusyRetryMs * 1000);
    return 1;
}

// Every hex digit of the thread id: two live threads must never share a
// connection name, or registering the second would drop the first's.
QString threadHex()
{
    const auto id = reinterpret_cast<quintptr>(QThread::currentThreadId());
    return QString::number(id, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

DBException errorOf(const QSqlError &error)
{
    // Qt 6 reports SQLite's extended result code; DBException keeps its low
    // 8 bits, the primary code.
    return DBException(error.nativeErrorCode().toInt(), error.text(), QString());
}

// Binds as the driver binds: a null value as NULL, numbers as numbers, bytes
// as a blob, everything else as its text.
int bindValue(sqlite3_stmt *stmt, int index, const QVariant &value)
{
    if (value.isNull())
        return sqlite3_bind_null(stmt, index);
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::Bool:
        return sqlite3_bind_int(stmt, index, value.toInt());
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return sqlite3_bind_int64(stmt, index, value.toLongLong());
    case QMetaType::ULongLong:
        return sqlite3_bind_int64(stmt, index, sqlite3_int64(value.toULongLong()));
    case QMetaType::Double:
        return sqlite3_bind_double(stmt, index, value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return sqlite3_bind_blob(stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    default: {
        const QString text = value.toString();
        return sqlite3_bind_text16(stmt, index, text.utf16(), int(text.size() * sizeof(QChar)), SQLITE_TRANSIENT);
    }
    }
}

} // namespace

struct Storage::Prepared
{
    explicit Prepared(const QSqlDatabase &db)
        : query(db)
    {
    }
    QSqlQuery query;
    bool inUse = false;
};

struct Storage::KeptRead
{
    explicit KeptRead(sqlite3_stmt *statement)
        : stmt(statement)
    {
    }
    ~KeptRead() { sqlite3_finalize(stmt); }
    KeptRead(const KeptRead &) = delete;
    KeptRead &operator=(const KeptRead &) = delete;
    sqlite3_stmt *stmt;
    bool inUse = false;
};

Storage::Storage(const QString &name)
    : connectionName(name)
{
    ServiceFactory::debug(QStringLiteral("Storage in ") + threadHex() + QLatin1Char(',') + name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(QLatin1String(kDatabaseFile));
    QMutexLocker lock(&optionsMutex());
    if (!connectOptions().isEmpty())
        db.setConnectOptions(connectOptions());
}

Storage::~Storage() = default;

Storage *Storage::instance()
{
    if (!_storage)
        _storage = new Storage(QLatin1Char('S') + threadHex());
    return _storage;
}

void Storage::destroy()
{
    if (!_storage)
        return;
    _storage->close();
    delete _storage;
    _storage = nullptr;
}

void Storage::close()
{
    // A kept statement would hold the connection open.
    forgetPrepared();
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    ServiceFactory::debug(QStringLiteral("Storage ") + connectionName + QStringLiteral(" close!"));
}

void Storage::init()
{
    Storage *storage = instance();
    if (!QFile::exists(QLatin1String(kDatabaseFile))) {
        // A write-ahead log without its database belongs to no file of ours:
        // SQLite would replay it into the new one.
        QFile::remove(QLatin1String(kWalFile));
        QFile::remove(QLatin1String(kShmFile));
        QFile file{QLatin1String(kDatabaseFile)};
        if (file.open(QIODevice::WriteOnly))
            file.close();
        HardwareControl::syncAll();
        storage->createDb();
    }
    storage->checkDBSchema();
    storage->upgradeFile();
}

QString Storage::quoted(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

bool Storage::countStatement()
{
    const quint64 number = ++statementsRun;
    const bool faultHere = faultKind.load() != int(Fault::None) && number == faultStatement.load();
    if (faultHere && faultKind.load() == int(Fault::FailStatement)) {
        faultKind = int(Fault::None);
        throw DBException(kInjectedErrorNumber, QStringLiteral("injected statement failure"), QString());
    }
    return faultHere && faultKind.load() == int(Fault::ExitAfterStatement);
}

QStringList Storage::connectionSettings()
{
    return {
        // FULL: in write-ahead mode every commit syncs the log before it
        // returns, so an arrival reported stored is on the card; NORMAL
        // would sync only at checkpoints and lose the last commits.
        QStringLiteral("PRAGMA synchronous=FULL"),
        // After a checkpoint the log is cut back to this size, so that one
        // large transaction (the upgrade's vacuum) does not leave it large.
        QStringLiteral("PRAGMA journal_size_limit=%1").arg(kWalLimitBytes),
        QStringLiteral("PRAGMA cache_size=-%1").arg(kPageCacheKiB),
    };
}

QSqlDatabase Storage::connection() const
{
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    if (db.isOpen())
        return db;
    // Statements kept from a connection closed since (the driver finalised
    // them) cannot run on the new one.
    forgetPrepared();
    if (!db.open())
        throw errorOf(db.lastError());
    if (sqlite3 *handle = nativeHandle(db)) {
        _busyWait.budgetMs = busyBudgetMs(db.connectOptions());
        sqlite3_busy_handler(handle, waitForLock, &_busyWait);
    }
    for (const QString &setting : connectionSettings()) {
        QSqlQuery query(db);
        if (!query.exec(setting)) {
            const QSqlError error = query.lastError();
            query.finish();
            db.close();
            throw errorOf(error);
        }
    }
    return db;
}

int Storage::run(const QString &sql, const Bindings &bindings, const RowReader &reader)
{
    // The power cut of the seam: nothing of this process runs on, exactly as
    // when the mains go while SQLite's journal holds the transaction.
    const bool cutAfter = countStatement();
    const auto cutIfDue = [cutAfter] {
        if (cutAfter)
            ::_exit(kFaultExitCode);
    };

    QSqlDatabase db = connection();
    int changed = 0;
    QSqlError error;
    if (filterTable)
        setFilterGuard(db, filterTable);
    {
        // A caller's filter is checked as its statement is prepared: such a
        // statement is never kept, nor run from one kept.
        Prepared *kept = filterTable ? nullptr : prepared(db, sql);
        std::optional<QSqlQuery> own;
        bool ready = true;
        if (!kept) {
            own.emplace(db);
            own->setForwardOnly(true);
            ready = own->prepare(sql);
        }
        QSqlQuery &query = kept ? kept->query : *own;
        // Reset however the statement ends, a reader's exception too, so
        // that a kept statement holds no lock and is free for the next run.
        const auto release = qScopeGuard([&query, kept] {
            query.finish();
            if (kept)
                kept->inUse = false;
        });
        if (!ready) {
            error = query.lastError();
        } else {
            // A value bound by an earlier run of a kept statement must not
            // stand in for one this run leaves out.
            if (kept) {
                for (int i = 0, n = int(query.boundValues().size()); i < n; ++i)
                    query.bindValue(i, QVariant());
            }
            for (const auto &binding : bindings)
                query.bindValue(binding.first, binding.second);
            if (!query.exec()) {
                error = query.lastError();
            } else {
                if (reader) {
                    while (query.next())
                        reader(query);
                    // A step that fails midway ends next() like the last row.
                    if (query.lastError().type() != QSqlError::NoError)
                        error = query.lastError();
                }
                changed = query.numRowsAffected();
            }
        }
    }
    if (filterTable)
        setFilterGuard(db, nullptr);
    cutIfDue();
    if (error.type() != QSqlError::NoError)
        throw errorOf(error);
    return changed;
}

Storage::Prepared *Storage::prepared(const QSqlDatabase &db, const QString &sql) const
{
    bool known = false;
    Prepared *taken = takeKept(preparedStatements, sql, &known);
    if (known)
        return taken;
    auto statement = std::make_unique<Prepared>(db);
    statement->query.setForwardOnly(true);
    if (!statement->query.prepare(sql))
        return nullptr;
    statement->inUse = true;
    return preparedStatements.emplace(sql, std::move(statement)).first->second.get();
}

Storage::KeptRead *Storage::keptRead(sqlite3 *handle, const QString &sql) const
{
    bool known = false;
    KeptRead *taken = takeKept(keptReads, sql, &known);
    if (known)
        return taken;
    sqlite3_stmt *stmt = nullptr;
    const void *tail = nullptr;
    const int rc = sqlite3_prepare16_v2(handle, sql.utf16(), int(sql.size() * sizeof(QChar)), &stmt, &tail);
    auto kept = std::make_unique<KeptRead>(stmt);
    const qsizetype tailStart = tail ? static_cast<const QChar *>(tail) - sql.constData() : sql.size();
    // A text that does not prepare, or holds a second statement, is left to
    // the caller, which reports it.
    if (rc != SQLITE_OK || !stmt || !QStringView(sql).mid(tailStart).trimmed().isEmpty())
        return nullptr;
    kept->inUse = true;
    return keptReads.emplace(sql, std::move(kept)).first->second.get();
}

void Storage::forgetPrepared() const
{
    preparedStatements.clear();
    keptReads.clear();
}

void Storage::readRows(const QString &sql, const Bindings &bindings, const StatementRowReader &reader)
{
    const bool cutAfter = countStatement();
    QSqlDatabase db = connection();
    sqlite3 *handle = nativeHandle(db);
    if (!handle)
        throw DBException(SQLITE_MISUSE, QStringLiteral("no database handle"), QString());
    if (filterTable)
        setFilterGuard(db, filterTable);
    // As in run(): a caller's filter is never kept.
    KeptRead *kept = filterTable ? nullptr : keptRead(handle, sql);
    sqlite3_stmt *stmt = kept ? kept->stmt : nullptr;
    int rc = SQLITE_OK;
    const char *failedAt = nullptr;
    QString message;
    {
        // Finished (a kept statement reset, holding no lock and no values)
        // and unguarded however the read ends, a reader's exception too.
        struct Finish {
            sqlite3_stmt *&stmt;
            KeptRead *kept;
            const QSqlDatabase &db;
            bool guarded;
            ~Finish()
            {
                if (kept) {
                    sqlite3_reset(stmt);
                    sqlite3_clear_bindings(stmt);
                    kept->inUse = false;
                } else {
                    sqlite3_finalize(stmt);
                }
                if (guarded)
                    setFilterGuard(db, nullptr);
            }
        } finish{stmt, kept, db, filterTable != nullptr};
        const void *tail = nullptr;
        if (!kept)
            rc = sqlite3_prepare16_v2(handle, sql.utf16(), int(sql.size() * sizeof(QChar)), &stmt, &tail);
        const qsizetype tailStart = tail ? static_cast<const QChar *>(tail) - sql.constData() : sql.size();
        if (rc != SQLITE_OK) {
            failedAt = "Unable to execute statement";
        } else if (!kept && !QStringView(sql).mid(tailStart).trimmed().isEmpty()) {
            // Only the first statement would run: a caller's clause such as
            // "1; delete from Pigeon" is refused whole, as the driver refuses it.
            rc = SQLITE_MISUSE;
            failedAt = "Unable to execute multiple statements at a time";
        }
        for (int i = 0; !failedAt && i < int(bindings.size()); ++i) {
            const QByteArray name = bindings.at(i).first.toUtf8();
            const int index = sqlite3_bind_parameter_index(stmt, name.constData());
            rc = index > 0 ? bindValue(stmt, index, bindings.at(i).second) : SQLITE_RANGE;
            if (rc != SQLITE_OK)
                failedAt = "Unable to bind parameters";
        }
        if (!failedAt) {
            const StorageRow row(stmt);
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
                reader(row);
            if (rc != SQLITE_DONE)
                failedAt = "Unable to fetch row";
        }
        if (failedAt && rc != SQLITE_RANGE && rc != SQLITE_MISUSE)
            rc = sqlite3_extended_errcode(handle);
        if (failedAt)
            message = QString::fromUtf8(sqlite3_errmsg(handle)) + QLatin1Char(' ') + QLatin1String(failedAt);
    }
    if (cutAfter)
        ::_exit(kFaultExitCode);
    if (failedAt)
        throw DBException(rc, message, QString());
}

int Storage::count(const QString &sql, const Bindings &bindings)
{
    int result = 0;
    run(sql, bindings, [&result](const QSqlQuery &q) { result = q.value(0).toInt(); });
    return result;
}

QString Storage::textAt(const QSqlQuery &query, int column)
{
    const QString text = query.value(column).toString();
    return text.isNull() ? QStringLiteral("") : text;
}

void Storage::_beginTransaction()
{
    try {
        run(QStringLiteral("BEGIN IMMEDIATE"));
    } catch (const DBException &) {
        throw DBException(0, QStringLiteral("Commit failed!"), QString());
    }
}

void Storage::_commit()
{
    try {
        run(QStringLiteral("COMMIT"));
    } catch (const DBException &) {
        throw DBException(0, QStringLiteral("Commit failed!"), QString());
    }
}

void Storage::_rollback()
{
    // Harmless without an open transaction; its result tells nothing useful.
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    if (db.isOpen())
        db.rollback();
}

void Storage::inTransaction(const std::function<void()> &steps, const QString &fixedText)
{
    try {
        _beginTransaction();
        steps();
        _commit();
    } catch (const DBException &) {
        _rollback();
        throw;
    } catch (...) {
        _rollback();
        throw DBException(0, fixedText, QString());
    }
}

QString Storage::getParam(const QString &key)
{
    QString value = QStringLiteral("");
    readRows(QStringLiteral("SELECT val FROM APPPARAMS where id=:id"), {{QStringLiteral(":id"), key}},
             [&value](const StorageRow &row) {
                 const QVariant stored = row.value(0);
                 if (!stored.isNull())
                     value = stored.toString();
             });
    return value;
}

void Storage::setParam(const QString &key, const QString &value)
{
    // Bound, not formatted: a value from the PC holding a quote must neither
    // fail nor write a second key.
    try {
        _beginTransaction();
        run(QStringLiteral("delete from APPPARAMS where id=:id"), {{QStringLiteral(":id"), key}});
        run(QStringLiteral("insert into APPPARAMS(id,val) values(:id,:val)"),
            {{QStringLiteral(":id"), key}, {QStringLiteral(":val"), value}});
        _commit();
    } catch (const DBException &e) {
        _rollback();
        throw DBException(e.getErrorCode() & 0xFF, QStringLiteral("set param error!"), QString());
    }
}

void Storage::setFault(Fault fault, int statementNo)
{
    faultKind = int(Fault::None);
    faultStatement = statementsRun.load() + quint64(statementNo > 0 ? statementNo : 0);
    faultKind = int(fault);
}

void Storage::setConnectOptions(const QString &options)
{
    QMutexLocker lock(&optionsMutex());
    connectOptions() = options;
}

quint64 Storage::statementCount()
{
    return statementsRun.load();
}
