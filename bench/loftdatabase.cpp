#include "loftdatabase.h"

#include "storage/storage.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

namespace {

const char kConnection[] = "loft-database";
constexpr qint64 kFirstMarkMs = 1717221600000LL; // a Saturday morning in June
constexpr qint64 kMarkStepMs = 1500;             // one pigeon basketed every 1.5 s
constexpr qint64 kFirstBackMs = kFirstMarkMs + 2 * 86400000LL;
constexpr qint64 kBackStepMs = 700;
constexpr qint64 kDayMs = 86400000LL;

bool check(QSqlQuery &q, bool ok)
{
    if (!ok)
        std::fprintf(stderr, "loft database: %s: %s\n", qPrintable(q.lastQuery()), qPrintable(q.lastError().text()));
    return ok;
}

bool exec(QSqlDatabase db, const QString &sql)
{
    QSqlQuery q(db);
    return check(q, q.exec(sql));
}

bool insertPigeonsAndRecords(QSqlDatabase db, int pigeons)
{
    QSqlQuery pigeon(db);
    QSqlQuery record(db);
    if (!check(pigeon, pigeon.prepare(QStringLiteral(
                           "insert into Pigeon(AssocNum,EringNum,Uid,Valid,Test,AssocCode,Color,Year,Sex,RegNum,"
                           "UpdateTime) values(?,?,?,1,0,'NL',?,?,?,?,?)")))
        || !check(record, record.prepare(QStringLiteral(
                              "insert into Record(AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,"
                              "RandNumberBack,GpsValid,GpsOnLine,NeedSms,SmsSendState,UidUploadState,EringUploadState,"
                              "BackOrder,BackTimeEring,BackTimeUid,BackHomeLat,BackHomeLon,MarkReaderId,MarkAuthKey,"
                              "MarkTime) values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"))))
        return false;
    static const char *const colours[] = {"blue", "blue bar", "red chequer", "dark", "mealy", "pied"};
    // Nine in ten home, as in the loft of 5,000.
    const int arrived = pigeons / 10 * 9;
    for (int i = 0; i < pigeons; ++i) {
        const QString uid = QStringLiteral("%1").arg(0x5A000000u + unsigned(i) * 7u, 8, 16, QLatin1Char('0')).toUpper();
        pigeon.addBindValue(LoftDatabase::assocNum(i));
        pigeon.addBindValue(LoftDatabase::ringNum(i));
        pigeon.addBindValue(uid);
        pigeon.addBindValue(QLatin1String(colours[i % 6]));
        pigeon.addBindValue(2019 + i % 6);
        pigeon.addBindValue(i % 2);
        pigeon.addBindValue(QStringLiteral("REG%1").arg(i, 6, 10, QLatin1Char('0')));
        pigeon.addBindValue(kFirstMarkMs - qint64(i) * kDayMs / 100);
        if (!check(pigeon, pigeon.exec()))
            return false;

        // Arrival order follows a shuffle of the pigeons, as homing does.
        const int order = int((qint64(i) * 2654435761LL) % pigeons) + 1;
        const bool home = order <= arrived;
        const qint64 back = home ? kFirstBackMs + qint64(order) * kBackStepMs : 0;
        record.addBindValue(LoftDatabase::assocNum(i));
        record.addBindValue(QLatin1String(LoftDatabase::kRace));
        record.addBindValue(uid);
        record.addBindValue(LoftDatabase::ringNum(i));
        record.addBindValue(i % 251);
        record.addBindValue(home ? uid : QString());
        record.addBindValue(home ? (i * 7) % 251 : 0);
        record.addBindValue(home ? 1 : 0);
        record.addBindValue(home ? 1 : 0);
        record.addBindValue(home ? 1 : 0);
        record.addBindValue(home ? 1 : 0);
        record.addBindValue(home ? 1 : 0);
        record.addBindValue(home ? 1 : 0);
        record.addBindValue(home ? order : 0);
        record.addBindValue(back);
        record.addBindValue(home ? back + 40 : 0);
        record.addBindValue(home ? 187654321 + i : 0);
        record.addBindValue(home ? 18765432 + i : 0);
        record.addBindValue(QStringLiteral("0011AA22"));
        record.addBindValue(QStringLiteral("9F8E7D6C5B4A3928"));
        record.addBindValue(kFirstMarkMs + qint64(i) * kMarkStepMs);
        if (!check(record, record.exec()))
            return false;
    }
    return true;
}

bool insertRaces(QSqlDatabase db, int pigeons)
{
    QSqlQuery race(db);
    if (!check(race, race.prepare(QStringLiteral(
                         "insert into Race(RaceCode,RaceName,LiberCode,LiberTime,LiberName,LiberLon,LiberLat,Valid,"
                         "ClubCode,AssocCode,MarkReaderId,MarkAuthKey,MarkDeviceTime,MarkReaderTime,RaceStopDeviceTime,"
                         "RaceStopReaderTime,PrintCount,OtherData) values(?,?,?,?,?,'4.123456','50.654321',?,'C042',"
                         "'NL','0011AA22','9F8E7D6C5B4A3928',?,?,?,?,?,?)"))))
        return false;
    for (int i = 1; i <= LoftDatabase::kRaces; ++i) {
        // The loft's race history: older races stopped and uploaded, the
        // newest one marked and flying, a few announced ones still new.
        const bool current = i == 1;
        const int valid = current ? 3 : i > LoftDatabase::kRaces - 5 ? 1 : (i % 3 == 0 ? 4 : 12);
        const qint64 liberation = kFirstMarkMs + kDayMs - qint64(i - 1) * 7 * kDayMs;
        race.addBindValue(LoftDatabase::raceCode(i));
        race.addBindValue(QStringLiteral("Race %1 of the season").arg(i));
        race.addBindValue(QStringLiteral("L%1").arg(i, 4, 10, QLatin1Char('0')));
        race.addBindValue(liberation);
        race.addBindValue(QStringLiteral("Liberation site %1").arg(i % 17));
        race.addBindValue(valid);
        race.addBindValue(valid == 1 ? 0 : liberation - kDayMs);
        race.addBindValue(valid == 1 ? 0 : liberation - kDayMs + 1200);
        race.addBindValue(valid >= 4 ? liberation + 2 * kDayMs : 0);
        race.addBindValue(valid >= 4 ? liberation + 2 * kDayMs + 900 : 0);
        race.addBindValue(valid >= 4 ? 2 : 1);
        race.addBindValue(QStringLiteral("{\"markUploadFlag\":true,\"markUploadedCount\":%1,\"nomination\":0}")
                              .arg(valid == 1 ? 0 : pigeons));
        if (!check(race, race.exec()))
            return false;
    }
    return true;
}

// The mix of a season's log: arrivals, their uploads and SMS, basketing,
// power cycles; the details as the log writers compose them.
bool insertLogs(QSqlDatabase db, int pigeons)
{
    QSqlQuery log(db);
    if (!check(log, log.prepare(QStringLiteral("insert into Log(LogId,LogType,LogTime,LogInfo) values(null,?,?,?)"))))
        return false;
    for (int i = 0; i < LoftDatabase::kLogRows; ++i) {
        const int pigeon = i % pigeons;
        const QString assoc = LoftDatabase::assocNum(pigeon);
        const QString ring = LoftDatabase::ringNum(pigeon);
        int type = 1;
        QString info;
        switch (i % 8) {
        case 0:
        case 1:
            type = 1;
            info = QStringLiteral("{\"assocNum\":\"%1\",\"backOrder\":%2,\"backTimeEring\":%3,\"eringNum\":\"%4\","
                                  "\"gpsValid\":true,\"needSms\":true,\"raceCode\":\"R0001\",\"uidBack\":\"5A0000C1\"}")
                       .arg(assoc)
                       .arg(i / 8 + 1)
                       .arg(kFirstBackMs + i)
                       .arg(ring);
            break;
        case 2:
            type = 2;
            info = QStringLiteral("{\"assocNum\":\"%1\",\"eringNum\":\"%2\",\"eringUploadState\":true,"
                                  "\"hostIp\":\"203.0.113.7\",\"hostPath\":\"/rpc\",\"raceCode\":\"R0001\","
                                  "\"uidUploadState\":true}")
                       .arg(assoc, ring);
            break;
        case 3:
            type = 3;
            info = QStringLiteral("{\"assocNum\":\"%1\",\"error\":0,\"phonecode\":\"+31612345678\","
                                  "\"smsText\":\"%2 home at 12:%3\"}")
                       .arg(assoc, ring)
                       .arg(i % 60, 2, 10, QLatin1Char('0'));
            break;
        case 4:
        case 5:
            type = 6;
            info = QStringLiteral("{\"assocNum\":\"%1\",\"eringNum\":\"%2\",\"markReaderId\":\"0011AA22\","
                                  "\"markTime\":%3,\"raceCode\":\"R0001\"}")
                       .arg(assoc, ring)
                       .arg(kFirstMarkMs + i);
            break;
        case 6:
            type = 4;
            info = QStringLiteral("{\"version\":\"8.9.30\"}");
            break;
        default:
            type = 15;
            info = QStringLiteral("{\"reason\":\"Power Lost\"}");
            break;
        }
        log.addBindValue(type);
        log.addBindValue(kFirstMarkMs - qint64(LoftDatabase::kLogRows - i) * 60000);
        log.addBindValue(info);
        if (!check(log, log.exec()))
            return false;
    }
    return true;
}

} // namespace

QString LoftDatabase::assocNum(int i)
{
    return QStringLiteral("NL-2024-%1").arg(i, 6, 10, QLatin1Char('0'));
}

QString LoftDatabase::ringNum(int i)
{
    return QStringLiteral("%1").arg(0xE0000000u + unsigned(i), 8, 16, QLatin1Char('0')).toUpper();
}

QString LoftDatabase::raceCode(int i)
{
    return QStringLiteral("R%1").arg(i, 4, 10, QLatin1Char('0'));
}

bool LoftDatabase::fill(int pigeons)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kConnection));
        db.setDatabaseName(QLatin1String(Storage::kDatabaseFile));
        ok = db.open() && exec(db, QStringLiteral("BEGIN"))
            && exec(db, QStringLiteral("update LOFTINFO set LoftNum='NL-04217',OwnerName='J. Janssen',"
                                       "ClubCode='C042',AssocCode='NL',Language='EN' where id=1"))
            && insertPigeonsAndRecords(db, pigeons) && insertRaces(db, pigeons) && insertLogs(db, pigeons) && exec(db, QStringLiteral("COMMIT"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    return ok;
}
