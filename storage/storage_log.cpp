#include "storage/storage.h"

#include "core/jsonwriter.h"
#include "core/log.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "core/version.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <sqlite3.h>
#include <unistd.h>

// The event log: what the owner or the club may later have to account for.
// Each entry is one insert on the calling thread's connection (arrivals from
// the service thread, uploads and SMS from the modem thread, the screens from
// the GUI thread); SQLite orders concurrent inserts.

namespace {

// Type codes of the entries; 8, 10 and 12 are not written.
constexpr int kPigeonBack = 1;
constexpr int kGprsUpload = 2;
constexpr int kSmsUpload = 3;
constexpr int kPowerOn = 4;
constexpr int kTimeVerify = 5;
constexpr int kRaceMark = 6;
constexpr int kRaceUnmark = 7;
constexpr int kUnassignment = 9;
constexpr int kRemoveRace = 11;
constexpr int kUpdateParams = 13;
constexpr int kNotifySms = 14;
constexpr int kPowerOff = 15;
constexpr int kGprsMarkedUpload = 16;
constexpr int kSecondArriveUpload = 17;
constexpr int kAssignment = 18;

// The program version the power-on entry names.
const char *const kVersion = ProgramVersion::kText;

// Trimming at start-up: above the high mark the log is cut to the newest
// kLogsKept rows, so it never holds more than the high mark after a start.
constexpr int kLogsHighMark = 2000;
constexpr int kLogsKept = 1800;

const char kInsertLog[] =
    "insert into log (LogId,LogType,LogTime,LogInfo) values(null,:LogType,:LogTime,:LogInfo) ";
const char kSelectLogs[] =
    "select LogId,LogType,LogTime,LogInfo from log where logId>:logId order by rowid desc Limit :limit offset :offset";

QVariantMap markDetails(const PigeonRecord *r)
{
    return {
        {QStringLiteral("assocNum"), r->assocNum},
        {QStringLiteral("eringNum"), r->eringNum},
        {QStringLiteral("markReaderId"), r->markReaderId},
        {QStringLiteral("markTime"), r->markTime},
        {QStringLiteral("raceCode"), r->raceCode},
    };
}

QVariantMap uploadDetails(const PigeonRecord *r)
{
    return {
        {QStringLiteral("assocNum"), r->assocNum},
        {QStringLiteral("eringNum"), r->eringNum},
        {QStringLiteral("eringUploadState"), r->eringUploadState},
        {QStringLiteral("raceCode"), r->raceCode},
        {QStringLiteral("uidUploadState"), r->uidUploadState},
    };
}

QVariantMap raceDetails(const RaceInfo *race)
{
    return {
        {QStringLiteral("assocCode"), race->assocCode},
        {QStringLiteral("liberCode"), race->liberCode},
        {QStringLiteral("liberTime"), race->liberTime},
        {QStringLiteral("raceCode"), race->raceCode},
        {QStringLiteral("raceName"), race->raceName},
        {QStringLiteral("raceStopDeviceTime"), race->raceStopDeviceTime},
        {QStringLiteral("raceStopReaderTime"), race->raceStopReaderTime},
    };
}

QVariantMap pigeonDetails(const PigeonInfo *pigeon)
{
    return {
        {QStringLiteral("assocNum"), pigeon->assocNum},
        {QStringLiteral("eringNum"), pigeon->eringNum},
    };
}

} // namespace

void Storage::insertLog(int type, const QString &info)
{
    run(QLatin1String(kInsertLog), {{QStringLiteral(":LogType"), type},
                                    {QStringLiteral(":LogTime"), UTC::now().value()},
                                    {QStringLiteral(":LogInfo"), info}});
}

int Storage::getLogCount()
{
    return count(QStringLiteral("select  count(*) from log"));
}

void Storage::clearLogs(int n)
{
    // A negative count deletes nothing: one bad request from the PC must not
    // erase what the owner may have to account for. 0 empties the log.
    if (n < 0)
        return;
    const int deleted = n == 0
        ? run(QStringLiteral("delete from LOG"))
        : run(QStringLiteral("delete from log where rowid in (select rowid from log order by logid limit :n)"),
              {{QStringLiteral(":n"), n}});
    if (deleted > 0)
        giveBackFreePages();
}

void Storage::giveBackFreePages()
{
    // The trim is done and stays done: pages not given back now stay free
    // in the file for the next entries, and the next trim tries again.
    bool cutAfter = false;
    try {
        cutAfter = countStatement();
    } catch (const DBException &e) {
        ServiceFactory::debug(QStringLiteral("Storage::giveBackFreePages failed: ") + e.getErrorMessage());
        return;
    }
    // Each step of the pragma frees one page; the driver's query steps only
    // once for a statement without columns, so SQLite's own exec runs it out.
    sqlite3 *handle = nativeHandle(connection());
    const int rc = handle ? sqlite3_exec(handle, "PRAGMA incremental_vacuum", nullptr, nullptr, nullptr) : SQLITE_MISUSE;
    if (cutAfter)
        ::_exit(kFaultExitCode);
    if (rc != SQLITE_OK) {
        ServiceFactory::debug(QStringLiteral("Storage::giveBackFreePages failed: ")
                              + QString::fromUtf8(handle ? sqlite3_errmsg(handle) : "no handle"));
    }
}

void Storage::clearSomeLogs()
{
    const int rows = getLogCount();
    if (rows > kLogsHighMark)
        clearLogs(rows - kLogsKept);
}

void Storage::_fetch(const QSqlQuery &q, Log *log)
{
    log->logId = q.value(0).toLongLong();
    // The column is declared char, so SQLite keeps the code as text.
    log->logType = q.value(1).toInt();
    log->logTime = q.value(2).toLongLong();
    log->logInfo = textAt(q, 3);
}

QList<QSharedPointer<Log>> Storage::queryLogs(qint64 afterLogId, int limit, int page)
{
    QList<QSharedPointer<Log>> logs;
    run(QLatin1String(kSelectLogs),
        {{QStringLiteral(":logId"), afterLogId},
         {QStringLiteral(":limit"), limit},
         {QStringLiteral(":offset"), qint64(page) * qint64(limit)}},
        [&logs](const QSqlQuery &q) {
            auto log = QSharedPointer<Log>::create();
            _fetch(q, log.data());
            logs.append(log);
        });
    return logs;
}

void Storage::writeLog(int type, const QVariantMap &details)
{
    insertLog(type, QString::fromUtf8(JsonWriter::write(details)));
}

void Storage::logPigeonBack(const PigeonRecord *r)
{
    writeLog(kPigeonBack, {
                              {QStringLiteral("assocNum"), r->assocNum},
                              {QStringLiteral("backOrder"), r->backOrder},
                              {QStringLiteral("backTimeEring"), r->backTimeEring},
                              {QStringLiteral("backTimeUid"), r->backTimeUid},
                              {QStringLiteral("eringNum"), r->eringNum},
                              {QStringLiteral("gpsOnLine"), r->gpsOnLine},
                              {QStringLiteral("gpsValid"), r->gpsValid},
                              {QStringLiteral("needSms"), r->needSms},
                              {QStringLiteral("raceCode"), r->raceCode},
                              {QStringLiteral("randNumMarked"), r->randNumMarked},
                              {QStringLiteral("randNumberBack"), r->randNumberBack},
                              {QStringLiteral("uidBack"), r->uidBack},
                          });
}

void Storage::logGprsUpload(const PigeonRecord *record, const QString &hostIp, const QString &hostPath)
{
    QVariantMap details = uploadDetails(record);
    details.insert(QStringLiteral("hostIp"), hostIp);
    details.insert(QStringLiteral("hostPath"), hostPath);
    writeLog(kGprsUpload, details);
}

void Storage::logSMSUpload(const PigeonRecord *record, const QString &phonecode, const QString &smsText, int error)
{
    QVariantMap details = uploadDetails(record);
    details.insert(QStringLiteral("error"), error);
    details.insert(QStringLiteral("phonecode"), phonecode);
    details.insert(QStringLiteral("smsText"), smsText);
    writeLog(kSmsUpload, details);
}

void Storage::logPowerOn()
{
    writeLog(kPowerOn, {{QStringLiteral("version"), QLatin1String(kVersion)}});
}

void Storage::logStartFailure(const QString &error)
{
    // A power-on entry that says why the services did not come up.
    writeLog(kPowerOn, {{QStringLiteral("version"), QLatin1String(kVersion)}, {QStringLiteral("error"), error}});
}

void Storage::logTimeVerify(qint64 oldTime, qint64 newTime, const QString &from)
{
    writeLog(kTimeVerify, {
                              {QStringLiteral("from"), from},
                              {QStringLiteral("newTime"), newTime},
                              {QStringLiteral("oldTime"), oldTime},
                          });
}

void Storage::logRaceMark(const PigeonRecord *record)
{
    writeLog(kRaceMark, markDetails(record));
}

void Storage::logRaceUnmark(const PigeonRecord *record)
{
    writeLog(kRaceUnmark, markDetails(record));
}

void Storage::logUnassignmnet(const PigeonInfo *pigeon)
{
    writeLog(kUnassignment, pigeonDetails(pigeon));
}

void Storage::logRemoveRace(const RaceInfo *race)
{
    writeLog(kRemoveRace, raceDetails(race));
}

void Storage::logUpdateParams(const LoftInfo *loft)
{
    writeLog(kUpdateParams, {
                                {QStringLiteral("apn"), loft->apn},
                                {QStringLiteral("hostIp"), loft->hostIp},
                                {QStringLiteral("hostPath"), loft->hostPath},
                                {QStringLiteral("hostSmsCode"), loft->hostSmsCode},
                                {QStringLiteral("notifyMode"), loft->notifyMode},
                                {QStringLiteral("uploadMode"), loft->uploadMode},
                            });
}

void Storage::logNotifySMS(const QString &phonecode, const QString &smsText, int error)
{
    writeLog(kNotifySms, {
                             {QStringLiteral("error"), error},
                             {QStringLiteral("phonecode"), phonecode},
                             {QStringLiteral("smsText"), smsText},
                         });
}

void Storage::logPowerOff(const QString &reason)
{
    writeLog(kPowerOff, {{QStringLiteral("reason"), reason}});
}

void Storage::logGprsMarkedUpload(const QString &hostIp, const QString &hostPath)
{
    writeLog(kGprsMarkedUpload, {
                                    {QStringLiteral("hostIp"), hostIp},
                                    {QStringLiteral("hostPath"), hostPath},
                                });
}

void Storage::logSecondArriveUpload(const RaceInfo *race, const QString &hostIp, const QString &hostPath)
{
    QVariantMap details = raceDetails(race);
    details.insert(QStringLiteral("hostIp"), hostIp);
    details.insert(QStringLiteral("hostPath"), hostPath);
    writeLog(kSecondArriveUpload, details);
}

void Storage::logAssignmnet(const PigeonInfo *pigeon)
{
    writeLog(kAssignment, pigeonDetails(pigeon));
}
