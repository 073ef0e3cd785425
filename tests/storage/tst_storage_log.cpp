#include "core/log.h"
#include "core/platform.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include "storagefixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// The event log: each writer's type code and details text, the text's
// escaping, the entry's time, trimming and clearing, and paging.

namespace {

constexpr qint64 kClockMs = 1700000000123LL;

PigeonRecord sampleRecord()
{
    PigeonRecord r;
    r.assocNum = QStringLiteral("NL-24-1");
    r.eringNum = QStringLiteral("E0000001");
    r.backTimeEring = 1700000001000LL;
    r.randNumberBack = 42;
    r.backTimeUid = 1700000002000LL;
    r.uidBack = QStringLiteral("0A0B0C0D");
    r.backOrder = 3;
    r.gpsValid = false;
    r.gpsOnLine = false;
    r.needSms = true;
    r.eringUploadState = true;
    r.uidUploadState = false;
    r.markTime = 1699999999000LL;
    r.raceCode = QStringLiteral("R7");
    r.randNumMarked = 17;
    r.markReaderId = QStringLiteral("READER1");
    return r;
}

PigeonInfo samplePigeon()
{
    PigeonInfo p;
    p.assocNum = QStringLiteral("NL-24-2");
    p.eringNum = QStringLiteral("E0000002");
    return p;
}

RaceInfo sampleRace()
{
    RaceInfo race;
    race.raceCode = QStringLiteral("R7");
    race.raceName = QStringLiteral("Orleans");
    race.assocCode = QStringLiteral("NL");
    race.liberCode = QStringLiteral("L1");
    race.liberTime = 1700000000000LL;
    race.raceStopDeviceTime = 1700000500000LL;
    race.raceStopReaderTime = 1700000600000LL;
    return race;
}

LoftInfo sampleLoft()
{
    LoftInfo loft;
    loft.apn = QStringLiteral("internet");
    loft.hostIp = QStringLiteral("10.0.0.1");
    loft.hostPath = QStringLiteral("/rpc");
    loft.hostSmsCode = QStringLiteral("+3197");
    loft.notifyMode = 2;
    loft.uploadMode = 1;
    return loft;
}

// Calls the named writer with the samples above.
void write(const QString &writer)
{
    Storage *s = Storage::instance();
    const PigeonRecord record = sampleRecord();
    const PigeonInfo pigeon = samplePigeon();
    const RaceInfo race = sampleRace();
    const LoftInfo loft = sampleLoft();
    const QString host = QStringLiteral("host.example");
    const QString path = QStringLiteral("/up");
    if (writer == QLatin1String("logPigeonBack")) s->logPigeonBack(&record);
    else if (writer == QLatin1String("logGprsUpload")) s->logGprsUpload(&record, host, path);
    else if (writer == QLatin1String("logSMSUpload")) s->logSMSUpload(&record, QStringLiteral("+31600"), QStringLiteral("Order:1,"), -3);
    else if (writer == QLatin1String("logPowerOn")) s->logPowerOn();
    else if (writer == QLatin1String("logTimeVerify")) s->logTimeVerify(1LL << 40, (1LL << 40) + 5, QStringLiteral("GSM"));
    else if (writer == QLatin1String("logRaceMark")) s->logRaceMark(&record);
    else if (writer == QLatin1String("logRaceUnmark")) s->logRaceUnmark(&record);
    else if (writer == QLatin1String("logUnassignmnet")) s->logUnassignmnet(&pigeon);
    else if (writer == QLatin1String("logRemoveRace")) s->logRemoveRace(&race);
    else if (writer == QLatin1String("logUpdateParams")) s->logUpdateParams(&loft);
    else if (writer == QLatin1String("logNotifySMS")) s->logNotifySMS(QStringLiteral("+31601"), QStringLiteral("Order:2,"), 0);
    else if (writer == QLatin1String("logPowerOff")) s->logPowerOff(QStringLiteral("Power Lost"));
    else if (writer == QLatin1String("logGprsMarkedUpload")) s->logGprsMarkedUpload(host, path);
    else if (writer == QLatin1String("logSecondArriveUpload")) s->logSecondArriveUpload(&race, host, path);
    else if (writer == QLatin1String("logAssignmnet")) s->logAssignmnet(&pigeon);
    else QFAIL("unknown writer");
}

QList<QVariantList> logRows(const StorageFixture &db)
{
    return db.rows(QStringLiteral("select LogId, LogType, typeof(LogType), LogTime, LogInfo from Log order by LogId"));
}

QList<qint64> idsOf(const QList<QSharedPointer<Log>> &logs)
{
    QList<qint64> ids;
    for (const auto &log : logs)
        ids << log->logId;
    return ids;
}

// Ids from newest down to oldest, both included.
QList<qint64> idRange(qint64 newest, qint64 oldest)
{
    QList<qint64> ids;
    for (qint64 id = newest; id >= oldest; --id)
        ids << id;
    return ids;
}

bool fillLog(const StorageFixture &db, int rows)
{
    if (!db.exec(QStringLiteral("BEGIN")))
        return false;
    for (int i = 1; i <= rows; ++i) {
        if (!db.exec(QStringLiteral("insert into Log(LogId,LogType,LogTime,LogInfo) values(null,1,%1,'{}')").arg(i)))
            return false;
    }
    return db.exec(QStringLiteral("COMMIT"));
}

} // namespace

class TestStorageLog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void writers_data();
    void writers();
    void quotedTexts_byteForByte();
    void arrivalEntry_keysFromAssocNumToUidBack();
    void nullText_writtenEmpty();
    void escaping_data();
    void escaping();
    void failingInsert_leavesNoRow();
    void trimAndClear_data();
    void trimAndClear();
    void clearAll_restartsIds();
    void queryLogs_pagesNewestFirst();
    void longDetails_storedWhole();
};

void TestStorageLog::init()
{
    Platform::setSystemClock([] { return kClockMs; });
    UTC::init();
}

void TestStorageLog::cleanup()
{
    Platform::setSystemClock({});
}

void TestStorageLog::writers_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariantMap>("details");

    const QVariantMap upload{{"assocNum", "NL-24-1"}, {"eringNum", "E0000001"}, {"eringUploadState", true},
                             {"raceCode", "R7"},      {"uidUploadState", false}};
    const QVariantMap mark{{"assocNum", "NL-24-1"}, {"eringNum", "E0000001"}, {"markReaderId", "READER1"},
                           {"markTime", 1699999999000LL}, {"raceCode", "R7"}};
    const QVariantMap pigeon{{"assocNum", "NL-24-2"}, {"eringNum", "E0000002"}};
    const QVariantMap race{{"assocCode", "NL"},  {"liberCode", "L1"}, {"liberTime", 1700000000000LL},
                           {"raceCode", "R7"},   {"raceName", "Orleans"}, {"raceStopDeviceTime", 1700000500000LL},
                           {"raceStopReaderTime", 1700000600000LL}};
    const QVariantMap host{{"hostIp", "host.example"}, {"hostPath", "/up"}};
    auto with = [](QVariantMap map, const QVariantMap &more) {
        for (auto it = more.cbegin(); it != more.cend(); ++it)
            map.insert(it.key(), it.value());
        return map;
    };

    QTest::newRow("logPigeonBack") << "logPigeonBack" << 1
        << QVariantMap{{"assocNum", "NL-24-1"}, {"backOrder", 3}, {"backTimeEring", 1700000001000LL},
                       {"backTimeUid", 1700000002000LL}, {"eringNum", "E0000001"}, {"gpsOnLine", false},
                       {"gpsValid", false}, {"needSms", true}, {"raceCode", "R7"}, {"randNumMarked", 17},
                       {"randNumberBack", 42}, {"uidBack", "0A0B0C0D"}};
    QTest::newRow("logGprsUpload") << "logGprsUpload" << 2 << with(upload, host);
    QTest::newRow("logSMSUpload") << "logSMSUpload" << 3
        << with(upload, {{"error", -3}, {"phonecode", "+31600"}, {"smsText", "Order:1,"}});
    QTest::newRow("logPowerOn") << "logPowerOn" << 4 << QVariantMap{{"version", "8.9.30"}};
    QTest::newRow("logTimeVerify") << "logTimeVerify" << 5
        << QVariantMap{{"from", "GSM"}, {"newTime", (1LL << 40) + 5}, {"oldTime", 1LL << 40}};
    QTest::newRow("logRaceMark") << "logRaceMark" << 6 << mark;
    QTest::newRow("logRaceUnmark") << "logRaceUnmark" << 7 << mark;
    QTest::newRow("logUnassignmnet") << "logUnassignmnet" << 9 << pigeon;
    QTest::newRow("logRemoveRace") << "logRemoveRace" << 11 << race;
    QTest::newRow("logUpdateParams") << "logUpdateParams" << 13
        << QVariantMap{{"apn", "internet"}, {"hostIp", "10.0.0.1"}, {"hostPath", "/rpc"}, {"hostSmsCode", "+3197"},
                       {"notifyMode", 2}, {"uploadMode", 1}};
    QTest::newRow("logNotifySMS") << "logNotifySMS" << 14
        << QVariantMap{{"error", 0}, {"phonecode", "+31601"}, {"smsText", "Order:2,"}};
    QTest::newRow("logPowerOff") << "logPowerOff" << 15 << QVariantMap{{"reason", "Power Lost"}};
    QTest::newRow("logGprsMarkedUpload") << "logGprsMarkedUpload" << 16 << host;
    QTest::newRow("logSecondArriveUpload") << "logSecondArriveUpload" << 17 << with(race, host);
    QTest::newRow("logAssignmnet") << "logAssignmnet" << 18 << pigeon;
}

void TestStorageLog::writers()
{
    QFETCH(QString, writer);
    QFETCH(int, type);
    QFETCH(QVariantMap, details);
    StorageFixture db;
    write(writer);

    const QList<QVariantList> rows = logRows(db);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].value(0).toLongLong(), 1LL);
    QCOMPARE(rows[0].value(1).toInt(), type);
    QCOMPARE(rows[0].value(2).toString(), QStringLiteral("text")); // the column is declared char
    QCOMPARE(rows[0].value(3).toLongLong(), UTC::now().value());
    QCOMPARE(rows[0].value(3).toLongLong(), kClockMs + UTC::_timeBase.load());
    const QByteArray stored = rows[0].value(4).toString().toUtf8();
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(stored, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(parsed.isObject());
    QCOMPARE(parsed.object(), QJsonObject::fromVariantMap(details));
    // Qt's own writer gives the compact, key-sorted form of plain texts.
    QCOMPARE(stored, parsed.toJson(QJsonDocument::Compact));

    const QList<QSharedPointer<Log>> logs = Storage::instance()->queryLogs(0, 10, 0);
    QCOMPARE(logs.size(), 1);
    QCOMPARE(logs[0]->logType, type);
    QCOMPARE(logs[0]->logTime, UTC::now().value());
    QCOMPARE(logs[0]->logInfo.toUtf8(), stored);
}

void TestStorageLog::quotedTexts_byteForByte()
{
    StorageFixture db;
    Storage::instance()->logTimeVerify(1000, 2000, QStringLiteral("MANUAL"));
    Storage::instance()->logPowerOn();
    const QList<QVariantList> rows = logRows(db);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].value(1).toInt(), 5);
    QCOMPARE(rows[0].value(4).toString(), QStringLiteral("{\"from\":\"MANUAL\",\"newTime\":2000,\"oldTime\":1000}"));
    QCOMPARE(rows[1].value(1).toInt(), 4);
    QCOMPARE(rows[1].value(4).toString(), QStringLiteral("{\"version\":\"8.9.30\"}"));
}

void TestStorageLog::arrivalEntry_keysFromAssocNumToUidBack()
{
    StorageFixture db;
    PigeonRecord record = sampleRecord();
    Storage::instance()->logPigeonBack(&record);
    const QString text = db.value(QStringLiteral("select LogInfo from Log")).toString();
    QVERIFY2(text.startsWith(QLatin1String("{\"assocNum\":")), qPrintable(text));
    QVERIFY2(text.endsWith(QLatin1String(",\"uidBack\":\"0A0B0C0D\"}")), qPrintable(text));
    QVERIFY(text.contains(QLatin1String("\"gpsOnLine\":false,\"gpsValid\":false,\"needSms\":true")));
}

void TestStorageLog::nullText_writtenEmpty()
{
    StorageFixture db;
    PigeonInfo pigeon;
    pigeon.assocNum = QString();
    pigeon.eringNum = QString();
    Storage::instance()->logAssignmnet(&pigeon);
    Storage::instance()->logPowerOff(QString());
    const QList<QVariantList> rows = logRows(db);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].value(4).toString(), QStringLiteral("{\"assocNum\":\"\",\"eringNum\":\"\"}"));
    QCOMPARE(rows[1].value(4).toString(), QStringLiteral("{\"reason\":\"\"}"));
}

void TestStorageLog::escaping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("written"); // between the string's quotes
    QTest::newRow("double quote") << QStringLiteral("say \"hi\"") << QByteArray("say \\\"hi\\\"");
    QTest::newRow("single quote") << QStringLiteral("O'Brien") << QByteArray("O'Brien");
    QTest::newRow("backslash") << QStringLiteral("C:\\log\\") << QByteArray("C:\\\\log\\\\");
    QTest::newRow("backspace") << QStringLiteral("a\bb") << QByteArray("a\\bb");
    QTest::newRow("form feed") << QStringLiteral("a\fb") << QByteArray("a\\fb");
    QTest::newRow("line feed") << QStringLiteral("a\nb") << QByteArray("a\\nb");
    QTest::newRow("carriage return") << QStringLiteral("a\rb") << QByteArray("a\\rb");
    QTest::newRow("tab") << QStringLiteral("a\tb") << QByteArray("a\\tb");
    QTest::newRow("other control character") << QStringLiteral("a\x01" "b\x1f") << QByteArray("a\x01" "b\x1f");
    QTest::newRow("non-ASCII") << QStringLiteral("Łódź 中文 \U0001F54A")
                               << QStringLiteral("Łódź 中文 \U0001F54A").toUtf8();
    QTest::newRow("slash and unicode escape text") << QStringLiteral("/\\u0041") << QByteArray("/\\\\u0041");
}

void TestStorageLog::escaping()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, written);
    StorageFixture db;
    Storage::instance()->logPowerOff(text);
    const QByteArray stored = db.value(QStringLiteral("select LogInfo from Log")).toString().toUtf8();
    QCOMPARE(stored, QByteArray("{\"reason\":\"") + written + QByteArray("\"}"));
    const QJsonDocument parsed = QJsonDocument::fromJson(stored);
    QVERIFY(parsed.isObject());
    QCOMPARE(parsed.object().value(QStringLiteral("reason")).toString(), text);
}

void TestStorageLog::failingInsert_leavesNoRow()
{
    StorageFixture db;
    QVERIFY(db.failOn(QStringLiteral("INSERT"), QStringLiteral("Log")));
    try {
        Storage::instance()->logPowerOn();
        QFAIL("the entry was written");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorCode(), 0x11000013);
    }
    QCOMPARE(Storage::instance()->getLogCount(), 0);
}

void TestStorageLog::trimAndClear_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<int>("oldestId");
    QTest::newRow("trim: 2000 rows stay") << 2000 << "clearSomeLogs" << 2000 << 1;
    QTest::newRow("trim: 2001 leave the 1800 newest") << 2001 << "clearSomeLogs" << 1800 << 202;
    QTest::newRow("trim: 5000 leave the 1800 newest") << 5000 << "clearSomeLogs" << 1800 << 3201;
    QTest::newRow("trim: empty log") << 0 << "clearSomeLogs" << 0 << 0;
    QTest::newRow("clear the 3 oldest") << 10 << "3" << 7 << 4;
    QTest::newRow("clear more than there are") << 10 << "11" << 0 << 0;
    QTest::newRow("clear all") << 10 << "0" << 0 << 0;
    QTest::newRow("negative count clears nothing") << 10 << "-1" << 10 << 1;
    QTest::newRow("large negative count clears nothing") << 10 << "-2147483648" << 10 << 1;
}

void TestStorageLog::trimAndClear()
{
    QFETCH(int, rows);
    QFETCH(QString, operation);
    QFETCH(int, remaining);
    QFETCH(int, oldestId);
    StorageFixture db;
    QVERIFY(fillLog(db, rows));
    QCOMPARE(Storage::instance()->getLogCount(), rows);
    if (operation == QLatin1String("clearSomeLogs"))
        Storage::instance()->clearSomeLogs();
    else
        Storage::instance()->clearLogs(operation.toInt());
    QCOMPARE(Storage::instance()->getLogCount(), remaining);
    QCOMPARE(db.value(QStringLiteral("select ifnull(min(LogId),0) from Log")).toInt(), oldestId);
    // What stays is always the newest.
    if (remaining > 0)
        QCOMPARE(db.value(QStringLiteral("select max(LogId) from Log")).toInt(), rows);
    // The pages of the rows taken away went back to the file system: none
    // stays free in the file, so a season of trims leaves it no larger.
    QCOMPARE(db.value(QStringLiteral("PRAGMA freelist_count")).toInt(), 0);
}

void TestStorageLog::clearAll_restartsIds()
{
    StorageFixture db;
    QVERIFY(fillLog(db, 5));
    Storage::instance()->clearLogs(0);
    QCOMPARE(Storage::instance()->getLogCount(), 0);
    Storage::instance()->logPowerOn();
    QCOMPARE(db.value(QStringLiteral("select LogId from Log")).toLongLong(), 1LL);
}

void TestStorageLog::queryLogs_pagesNewestFirst()
{
    StorageFixture db;
    Storage *s = Storage::instance();
    QCOMPARE(s->getLogCount(), 0);
    QVERIFY(s->queryLogs(0, 10, 0).isEmpty());

    QVERIFY(fillLog(db, 25));
    QCOMPARE(idsOf(s->queryLogs(0, 10, 0)), idRange(25, 16));
    QCOMPARE(idsOf(s->queryLogs(0, 10, 1)), idRange(15, 6));
    QCOMPARE(idsOf(s->queryLogs(0, 10, 2)), idRange(5, 1));
    QVERIFY(s->queryLogs(0, 10, 3).isEmpty());
    // A reader that passes the largest id it has seen gets only newer ones.
    QCOMPARE(idsOf(s->queryLogs(20, 10, 0)), idRange(25, 21));
    QVERIFY(s->queryLogs(25, 10, 0).isEmpty());
    QCOMPARE(idsOf(s->queryLogs(3, 100, 0)), idRange(25, 4));
    const QSharedPointer<Log> newest = s->queryLogs(0, 1, 0).value(0);
    QVERIFY(newest);
    QCOMPARE(newest->logType, 1);
    QCOMPARE(newest->logTime, 25LL);
    QCOMPARE(newest->logInfo, QStringLiteral("{}"));
    // Ids beyond 32 bits page as well.
    QVERIFY(db.exec(QStringLiteral("insert into Log(LogId,LogType,LogTime,LogInfo) values(%1,4,%1,NULL)").arg(1LL << 33)));
    const QList<QSharedPointer<Log>> beyond = s->queryLogs((1LL << 33) - 1, 10, 0);
    QCOMPARE(beyond.size(), 1);
    QCOMPARE(beyond[0]->logId, 1LL << 33);
    QCOMPARE(beyond[0]->logTime, 1LL << 33);
    QVERIFY(!beyond[0]->logInfo.isNull());
}

void TestStorageLog::longDetails_storedWhole()
{
    StorageFixture db;
    const QString reason = QString(680, QLatin1Char('r'));
    Storage::instance()->logPowerOff(reason);
    const QString stored = db.value(QStringLiteral("select LogInfo from Log")).toString();
    QCOMPARE(stored.size(), 693); // {"reason":"...."}
    const QSharedPointer<Log> log = Storage::instance()->queryLogs(0, 10, 0).value(0);
    QVERIFY(log);
    QCOMPARE(log->logInfo, stored);
    QCOMPARE(log->getField(QStringLiteral("infoLen")).toInt(), 693);
    QCOMPARE(log->getField(QStringLiteral("logInfo4")).toString().size(), 93);

    Storage::instance()->insertLog(3, QString(700, QLatin1Char('x')));
    QCOMPARE(db.value(QStringLiteral("select length(LogInfo) from Log where LogType=3")).toInt(), 700);
}

QTEST_GUILESS_MAIN(TestStorageLog)
#include "tst_storage_log.moc"
