#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <unordered_map>

class LoftInfo;
class Log;
class Nomination;
class PigeonInfo;
class PigeonRecord;
class QSqlDatabase;
class QSqlQuery;
class RaceInfo;
class StorageRow;
struct sqlite3;

// The only code that issues SQL. Each thread has its own Storage and its own
// named connection, reached through instance() and closed by destroy() at the
// end of the thread's run; nothing is shared between threads but the file.
// Every statement goes through one private path (prepare, bind, execute,
// finish), so no query outlives the operation that made it and no reader
// keeps SQLite's shared lock while another thread writes an arrival; the
// whole-list reads take a second one with the same seams that reads the
// rows from SQLite itself.
class Storage : public QObject
{
    Q_OBJECT
public:
    // The database file, relative to the working directory as on the device,
    // the rollback journal SQLite keeps beside it during a transaction (files
    // of earlier versions until their first start), and the write-ahead log
    // with its shared index that every start since keeps beside it.
    static constexpr char kDatabaseFile[] = "data_20200505.db3";
    static constexpr char kJournalFile[] = "data_20200505.db3-journal";
    static constexpr char kWalFile[] = "data_20200505.db3-wal";
    static constexpr char kShmFile[] = "data_20200505.db3-shm";
    // What every connection sets as it opens (the commit's sync, the log's
    // size after a checkpoint); benchmarks give their references the same.
    static QStringList connectionSettings();

    explicit Storage(const QString &name);
    ~Storage() override;

    static Storage *instance();
    // Start-up, main thread, before the application object: creates the file
    // and its tables when missing and repairs what an earlier run left.
    static void init();
    static void destroy();

    // A value as an SQL text literal: in single quotes, each quote doubled.
    // Every value a caller writes into a where-clause goes through it.
    static QString quoted(const QString &value);

    void close();
    void createDb();
    void checkDBSchema();
    bool findTable(const QString &name);

    // Transaction control of the compound operations. The transaction takes
    // the write lock at once, so a read followed by a write inside it waits
    // for another thread's commit instead of failing.
    void _beginTransaction();
    void _commit();
    void _rollback();

    // Parameters: named settings as text.
    QString getParam(const QString &key);
    void setParam(const QString &key, const QString &value);

    // The loft row and the pigeon register.
    void readLoftInfo(LoftInfo *info);
    void saveLoftInfo(const LoftInfo *info);
    void formatDevice(const QString &loftNum, const QString &password);
    QList<QSharedPointer<PigeonInfo>> queryPigeons(const QString &where);
    // The PC's filters: a raw SQL condition on one table, kept raw because
    // PC programs write conditions, but run so that the statement can read
    // only that table, call only a few plain functions and change nothing.
    // A refused filter raises DBException as a failed statement does.
    QList<QSharedPointer<PigeonInfo>> queryPigeonsFiltered(const QString &filter);
    QList<QSharedPointer<RaceInfo>> queryRacesFiltered(const QString &filter);
    QSharedPointer<PigeonInfo> findPigeonById(const QString &assocNum);
    QString findPigeonIdByEringNum(const QString &eringNum);
    bool checkDuplicateEringNum(const QString &assocNum, const QString &eringNum);
    void savePigeon(const PigeonInfo *pigeon);
    void deletePigeon(const QString &assocNum);
    QSharedPointer<PigeonInfo> assignPigeon(const QString &assocNum, const QString &eringNum, const QString &uid);
    void unassignPigeon(const QString &assocNum);
    void _insertPigeon(const PigeonInfo *pigeon);
    void _updatePigeon(const PigeonInfo *pigeon);
    void _deletePigeon(const QString &assocNum);

    // Arrival records: one per pigeon.
    QList<QSharedPointer<PigeonRecord>> queryRecords(const QString &where, const QString &order);
    int queryRecordsCount(const QString &where);
    QList<QSharedPointer<PigeonRecord>> findRecordsByRaceCode(const QString &raceCode, const QString &order);
    int getMarkedPigeonCount();
    int getMarkedPigeonCount(const QString &raceCode);
    int getBackedPigeonCount(const QString &raceCode);
    // The race's basketing times above 0, ascending: the marking orders of a
    // whole list from one read instead of one count per record.
    QList<qint64> queryMarkTimes(const QString &raceCode);
    QSharedPointer<PigeonRecord> findRecordById(const QString &assocNum);
    QSharedPointer<PigeonRecord> findRecordByEring(const QString &eringNum);
    void saveRecord(const PigeonRecord *record);
    // One arrival: the record's arrival columns and its arrival log entry, in
    // one transaction. False, with nothing written, when the row read for it
    // is gone (pigeon, ring, race or basketing changed meanwhile).
    bool saveArrival(const PigeonRecord *record);
    // One basketing mark: the record's columns as saveRecord writes them and
    // its marking log entry, in one transaction. False, with nothing written,
    // when the stored row no longer carries the record's ring or is basketed
    // for another race.
    bool saveMark(const PigeonRecord *record);
    void savePigeonRecord(const PigeonInfo *pigeon, const PigeonRecord *record);
    void modifyRecords(const QString &set, const QString &where);
    // Marks an arrival as uploaded (ring time and, when given, uid time), but
    // only while the row still holds the times that were sent: an arrival
    // reset or completed meanwhile keeps its own state. The rows changed.
    int markRecordUploaded(const QString &assocNum, qint64 backTimeEring, qint64 backTimeUid);
    void resetRaceRecords(const QString &raceCode);
    void resetTrainRecords();
    void _insertRecord(const PigeonRecord *record);
    void _updateRecord(const PigeonRecord *record);
    void _modifyRecords(const QString &set, const QString &where);
    void _deleteRecord(const QString &assocNum);

    // Races, with their further data as a JSON object text.
    QList<QSharedPointer<RaceInfo>> queryRaces(const QString &where);
    QList<QSharedPointer<RaceInfo>> getPageRaces(const QString &where, int offset, int limit);
    int getRacesCount(const QString &where);
    QList<QSharedPointer<RaceInfo>> queryActiveRaces();
    QSharedPointer<RaceInfo> findRaceById(const QString &raceCode);
    bool isRaceNomedById(const QString &raceCode);
    void saveRace(RaceInfo *race);
    void deleteRace(const QString &raceCode);
    void _insertRace(const RaceInfo *race);
    void _updateRace(const RaceInfo *race);
    void _deleteRace(const QString &raceCode);

    // Nominations per race and the owner's notification phones.
    QList<QSharedPointer<Nomination>> queryNoms();
    int getRacePigeonNom(const QString &assocNum, const QString &raceCode);
    // Every pigeon's nomination in the race, each the one getRacePigeonNom
    // finds (the first row of a pigeon that has several).
    QHash<QString, int> queryRaceNoms(const QString &raceCode);
    void saveRaceNoms(const QString &raceCode, const QList<QSharedPointer<Nomination>> &noms);
    void _insertNom(const QString &assocNum, const QString &eringNum, const QString &raceCode, int nom);
    void _delNomByRaceCode(const QString &raceCode);
    QList<QString> queryPhoneCode();
    // Stores the list under ids 0, 1, ... and deletes every row past it, in
    // one transaction.
    void savePhoneCodes(const QList<QString> &codes);
    void updatePhoneCode(int id, const QString &code);
    void removePhoneCode(int id);

    // The event log: entries, trimming and paging.
    void insertLog(int type, const QString &info);
    int getLogCount();
    void clearLogs(int n);
    void clearSomeLogs();
    QList<QSharedPointer<Log>> queryLogs(qint64 afterLogId, int limit, int page);

    // The writers of the event log, one per kind of event.
    void logPigeonBack(const PigeonRecord *record);
    void logGprsUpload(const PigeonRecord *record, const QString &hostIp, const QString &hostPath);
    void logSMSUpload(const PigeonRecord *record, const QString &phonecode, const QString &smsText, int error);
    void logPowerOn();
    void logStartFailure(const QString &error);
    void logTimeVerify(qint64 oldTime, qint64 newTime, const QString &from);
    void logRaceMark(const PigeonRecord *record);
    void logRaceUnmark(const PigeonRecord *record);
    void logUnassignmnet(const PigeonInfo *pigeon);
    void logRemoveRace(const RaceInfo *race);
    void logUpdateParams(const LoftInfo *loft);
    void logNotifySMS(const QString &phonecode, const QString &smsText, int error);
    void logPowerOff(const QString &reason);
    void logGprsMarkedUpload(const QString &hostIp, const QString &hostPath);
    void logSecondArriveUpload(const RaceInfo *race, const QString &hostIp, const QString &hostPath);
    void logAssignmnet(const PigeonInfo *pigeon);

    // Test seams; production never sets them. Statements are counted across
    // all threads from the call: statement number statementNo fails as the
    // driver would, or the process ends with kFaultExitCode right after it
    // (a power cut at that instant, as far as the file is concerned).
    enum class Fault { None, FailStatement, ExitAfterStatement };
    static constexpr int kFaultExitCode = 86;
    static void setFault(Fault fault, int statementNo = 0);
    // Connect options of connections registered later (tests shorten the busy time).
    static void setConnectOptions(const QString &options);
    // Statements run through the path by every thread so far (benchmarks).
    static quint64 statementCount();

private:
    using Bindings = QList<QPair<QString, QVariant>>;
    using RowReader = std::function<void(const QSqlQuery &)>;
    using StatementRowReader = std::function<void(const StorageRow &)>;

    // The one path of every statement: prepares it on this thread's
    // connection, binds the values, executes, hands each row to reader and
    // finishes the query. Returns the rows changed; a failure raises
    // DBException with the driver's number and text.
    int run(const QString &sql, const Bindings &bindings = {}, const RowReader &reader = {});
    // A read as run() makes it (the same statement count, filter guard and
    // errors), with each row read from SQLite's statement without Qt's
    // driver: for the lists of a whole loft, where making a QVariant of
    // every cell cost more than SQLite's own work.
    void readRows(const QString &sql, const Bindings &bindings, const StatementRowReader &reader);
    // The single number a count statement gives.
    int count(const QString &sql, const Bindings &bindings = {});
    // Runs steps as one transaction. After a rollback a DBException goes on
    // as it came; any other exception becomes DBException(0, fixedText).
    void inTransaction(const std::function<void()> &steps, const QString &fixedText);
    // Creates the tables, with their first rows, in creation order: all of
    // them (a new file) or only those missing (repair). Failures pass on.
    void createTables(bool onlyMissing);
    void createIndexes();
    void repairContents();
    // A file of an earlier version gains incremental vacuum and the
    // write-ahead log; a failure leaves it as it was and is only logged.
    void upgradeFile();
    // Returns the pages the event log freed to the file system.
    void giveBackFreePages();
    // This thread's connection, opened and set up on first use.
    QSqlDatabase connection() const;
    // Counts a statement for the test seam: raises the injected failure, or
    // tells whether the process must end right after the statement.
    static bool countStatement();
    static sqlite3 *nativeHandle(const QSqlDatabase &db);

    QList<QSharedPointer<PigeonInfo>> selectPigeons(const QString &clause, const Bindings &bindings);
    QList<QSharedPointer<PigeonRecord>> selectRecords(const QString &clause, const Bindings &bindings,
                                                      const QString &order);
    void upsertRecord(const PigeonRecord *record);
    QList<QSharedPointer<RaceInfo>> selectRaces(const QString &clause, const Bindings &bindings,
                                                const QString &tail);
    // The details as the shared JSON writer makes them, then one insert.
    void writeLog(int type, const QVariantMap &details);

    // The column reader of the fetches through the driver: a NULL text
    // reads as an empty one.
    static QString textAt(const QSqlQuery &query, int column);
    static void _fetch(const StorageRow &row, PigeonInfo *pigeon);
    static void _fetch(const StorageRow &row, PigeonRecord *record);
    static void _fetch(const StorageRow &row, RaceInfo *race);
    static void _fetch(const QSqlQuery &query, Nomination *nomination);
    static void _fetch(const QSqlQuery &query, Log *log);

    // Arms the guard of a caller's filter on this connection (table set) or
    // takes it away (null); storage_filter.cpp.
    static void setFilterGuard(const QSqlDatabase &db, const char *table);
    static void checkFilter(const QString &filter);

    // A statement kept prepared on this thread's connection.
    struct Prepared;
    // The prepared statement of sql, made on first use; null while the one
    // kept is in use further up this thread's stack, or when sql does not
    // prepare (the caller then prepares its own and reports the error).
    Prepared *prepared(const QSqlDatabase &db, const QString &sql) const;
    // The same for the direct reads: SQLite's own statement, kept prepared.
    struct KeptRead;
    KeptRead *keptRead(sqlite3 *handle, const QString &sql) const;
    // Drops every kept statement; before the connection closes.
    void forgetPrepared() const;

    QString connectionName;
    // The one table the statement run now may read, while a filter runs;
    // null for every statement of our own.
    const char *filterTable = nullptr;
    mutable std::unordered_map<QString, std::unique_ptr<Prepared>> preparedStatements;
    mutable std::unordered_map<QString, std::unique_ptr<KeptRead>> keptReads;
};
