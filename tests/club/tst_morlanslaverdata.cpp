#include "storage/storage.h"

#include "slaverfixture.h"

#include <QSet>
#include <QTest>

// The pigeon, race and record methods of the PC service: working copies over
// several requests, query lists, the cached record and what it shows in each
// state, and hostile values that must reach the database as values only.
class TestMorlanSlaverData : public QObject
{
    Q_OBJECT
private slots:
    void workingCopiesAndLists_data();
    void workingCopiesAndLists();
    void queryRaceRecord_hidesByState_data();
    void queryRaceRecord_hidesByState();
    void queryRaceCode_data();
    void queryRaceCode();
    void hostileValues_storedAsValues_data();
    void hostileValues_storedAsValues();
    void filterWithSecondStatement_refusedByTheDriver_data();
    void filterWithSecondStatement_refusedByTheDriver();
};

namespace {

constexpr qint64 kT = SlaverFixture::kClubTimeMs;

// The clock every case starts from: four pigeons, a race in each state, two
// pigeons basketed in the printed race.
void seedClock(SlaverFixture &f)
{
    f.seedLoft(QLatin1String(SlaverFixture::kLoftNum), QLatin1String(SlaverFixture::kPassword));
    f.addPigeon(QStringLiteral("AB"), QStringLiteral("0A0B0C0D"));
    f.addPigeon(QStringLiteral("P-2"));
    f.addPigeon(QStringLiteral("P-3"), QStringLiteral("0A0B0C0E"));
    f.addPigeon(QStringLiteral("P-4"), QStringLiteral("0A0B0C0F"));
    // One liberation time: races list by code.
    for (const char *state : {"new", "marked", "printed", "stopped"}) {
        const QString code = QStringLiteral("R-") + QString::fromLatin1(state).toUpper();
        f.addRace(code, QLatin1String(state), kT + 3600000);
    }
    f.basket(QStringLiteral("AB"), QStringLiteral("R-PRINTED"), kT - 10000);
    f.basket(QStringLiteral("P-2"), QStringLiteral("R-PRINTED"), kT - 5000);
}

// Every row of the data tables and parameters, except those whose key (the
// first column) is `key`. Filtered here, not in SQL: a key may hold a quote
// or a zero byte.
QString rowsOtherThan(SlaverFixture &f, const QString &key)
{
    QStringList out;
    for (const char *table : {"pigeon", "record", "race", "APPPARAMS"}) {
        for (const QVariantList &row : f.db.rows(QStringLiteral("select * from %1 order by 1").arg(table))) {
            if (!key.isNull() && row.value(0).toString() == key)
                continue;
            QStringList columns;
            for (const QVariant &value : row)
                columns.append(value.toString());
            out.append(columns.join(QLatin1Char('|')));
        }
        out.append(QStringLiteral("#"));
    }
    return out.join(QLatin1Char(';'));
}

} // namespace

void TestMorlanSlaverData::workingCopiesAndLists_data()
{
    // Requests and their replies in turn, then a query on the database and
    // what it must give.
    QTest::addColumn<QList<QByteArray>>("exchanges");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("expected");
    const QByteArray null = R"({"result":null})";
    const QString now = QString::number(kT);

    QTest::newRow("cache, then store: fields of both requests")
        << QList<QByteArray>{R"({"method":"savePigeon","assocNum":"N-1","color":"red","cache":true})", null,
                             R"({"method":"savePigeon","assocNum":"N-1","sex":0,"year":2024})", null}
        << "select Color,Sex,Year,UpdateTime from pigeon where AssocNum='N-1'"
        << "red|0|2024|" + now;
    QTest::newRow("cached for one pigeon, then another: dropped unsaved")
        << QList<QByteArray>{R"({"method":"savePigeon","assocNum":"N-1","color":"red","cache":true})", null,
                             R"({"method":"savePigeon","assocNum":"N-2"})", null,
                             R"({"method":"savePigeon","assocNum":"N-1"})", null}
        << "select AssocNum,Color from pigeon where AssocNum like 'N-%' order by AssocNum" << "N-1|;N-2|";
    QTest::newRow("unknown pigeon without fields: sex 2, club time, a blank record")
        << QList<QByteArray>{R"({"method":"savePigeon","assocNum":"N-3"})", null}
        << "select p.Sex,p.UpdateTime,p.EringNum,r.MarkTime from pigeon p join record r using(AssocNum) "
           "where AssocNum='N-3'"
        << "2|" + now + "||0";
    QTest::newRow("empty assocNum")
        << QList<QByteArray>{R"({"method":"savePigeon","assocNum":"","color":"red"})",
                             R"({"error":1280,"result":"AssocNum is null!"})"}
        << "select count(*) from pigeon" << "4";
    QTest::newRow("key, assigned and updateTime are not the PC's")
        << QList<QByteArray>{R"({"method":"savePigeon","assocNum":"AB","assigned":false,"updateTime":5,)"
                             R"("RegNum":"X9"})", null}
        << "select AssocNum,EringNum,Color,RegNum,UpdateTime from pigeon where AssocNum='AB'"
        << "AB|0A0B0C0D|blue|X9|" + now;
    QTest::newRow("a stored pigeon is a valid one")
        << QList<QByteArray>{R"({"method":"savePigeon","assocNum":"N-4","valid":false})", null}
        << "select Valid from pigeon where AssocNum='N-4'" << "1";
    QTest::newRow("duplicate ring: refused, nothing stored")
        << QList<QByteArray>{R"({"method":"savePigeon","assocNum":"N-5","eringNum":"0A0B0C0D"})",
                             R"({"error":285212672,"result":"Duplicate ering Number!"})"}
        << "select count(*) from pigeon where AssocNum='N-5' or EringNum='0A0B0C0D'" << "1";
    QTest::newRow("a refused store keeps the copy's changes")
        << QList<QByteArray>{R"({"method":"savePigeon","assocNum":"N-5","color":"red","eringNum":"0A0B0C0D"})",
                             R"({"error":285212672,"result":"Duplicate ering Number!"})",
                             R"({"method":"savePigeon","assocNum":"N-5","eringNum":"0A0B0C99"})", null}
        << "select Color,EringNum from pigeon where AssocNum='N-5'" << "red|0A0B0C99";

    QTest::newRow("saveRace on a marked race")
        << QList<QByteArray>{R"({"method":"saveRace","raceCode":"R-MARKED","raceName":"X"})",
                             R"({"error":1280,"result":"Race is marked!"})"}
        << "select RaceName from race where RaceCode='R-MARKED'" << "Race R-MARKED";
    QTest::newRow("saveRace without raceCode")
        << QList<QByteArray>{R"({"method":"saveRace","raceName":"X"})", R"({"error":1280,"result":"RaceCode is null!"})"}
        << "select count(*) from race" << "4";
    QTest::newRow("saveRace: marking fields are ignored, a new race is state 1")
        << QList<QByteArray>{R"({"method":"saveRace","raceCode":"R-9","raceName":"N","markDeviceTime":5,)"
                             R"("markPrintFlag":true,"valid":3})", null}
        << "select RaceName,MarkDeviceTime,MarkPrintFlag,Valid from race where RaceCode='R-9'" << "N|0|0|1";
    QTest::newRow("saveRace cached over two requests, further data included")
        << QList<QByteArray>{R"({"method":"saveRace","raceCode":"R-9","liberTime":1700000999000,"cache":true})", null,
                             R"({"method":"saveRace","raceCode":"R-9","Nomination":1})", null}
        << "select LiberTime,OtherData from race where RaceCode='R-9'" << "1700000999000|{\"nomination\":1}";
    QTest::newRow("\"RaceCode\" in other letter case renames the copy")
        << QList<QByteArray>{R"({"method":"saveRace","raceCode":"R-NEW","RaceCode":"R-REN","raceName":"X"})", null}
        << "select RaceCode,RaceName from race where RaceCode in ('R-NEW','R-REN') order by RaceCode"
        << "R-NEW|Race R-NEW;R-REN|X";

    QTest::newRow("queryPigeon: all, index = count overflows")
        << QList<QByteArray>{R"({"method":"queryPigeon","filter":""})", R"({"result":4})",
                             R"({"method":"getPigeonInfo","index":4,"fields":["assocNum"]})",
                             R"({"error":1287,"result":"Index overflow!"})",
                             R"({"method":"getPigeonInfo","index":3,"fields":["assocNum"]})",
                             R"({"result":{"assocNum":"P-4"}})"}
        << "select count(*) from pigeon" << "4";
    QTest::newRow("getPigeonInfo fields, \"assigned\" without a ring")
        << QList<QByteArray>{R"({"method":"queryPigeon","filter":"EringNum=''"})", R"({"result":1})",
                             R"({"method":"getPigeonInfo","index":0,"fields":["assocNum","ASSIGNED","sex","x"]})",
                             R"({"result":{"ASSIGNED":false,"assocNum":"P-2","sex":1,"x":null}})"}
        << "select count(*) from pigeon" << "4";
    QTest::newRow("the list is a copy: a later change does not show")
        << QList<QByteArray>{R"({"method":"queryPigeon"})", R"({"result":4})",
                             R"({"method":"savePigeon","assocNum":"AB","color":"red"})", null,
                             R"({"method":"getPigeonInfo","index":0,"fields":["color"]})",
                             R"({"result":{"color":"blue"}})"}
        << "select Color from pigeon where AssocNum='AB'" << "red";
    QTest::newRow("queryRace and getRaceInfo")
        << QList<QByteArray>{R"({"method":"queryRace","filter":"valid<>4"})", R"({"result":3})",
                             R"({"method":"getRaceInfo","index":0,"fields":["raceCode","markPrintFlag","backFlag"]})",
                             R"({"result":{"backFlag":false,"markPrintFlag":false,"raceCode":"R-MARKED"}})",
                             R"({"method":"getRaceInfo","index":-1})", R"({"error":1287,"result":"Index overflow!"})",
                             R"({"method":"getRaceInfo","index":3})", R"({"error":1287,"result":"Index overflow!"})"}
        << "select count(*) from race" << "4";
    QTest::newRow("deletePigeon drops every copy and list")
        << QList<QByteArray>{R"({"method":"queryPigeon"})", R"({"result":4})",
                             R"({"method":"saveRace","raceCode":"R-NEW","raceName":"Changed","cache":true})", null,
                             R"({"method":"setLoftInfo","ownerName":"Z","cache":true})", null,
                             R"({"method":"deletePigeon","assocNum":"P-4"})", null,
                             R"({"method":"getPigeonInfo","index":0})", R"({"error":1287,"result":"Index overflow!"})",
                             R"({"method":"getLoftInfo","fields":["ownerName"]})", R"({"result":{"ownerName":"Jan"}})",
                             R"({"method":"saveRace","raceCode":"R-NEW"})", null}
        << "select (select RaceName from race where RaceCode='R-NEW'),"
           "(select count(*) from pigeon where AssocNum='P-4'),(select count(*) from record where AssocNum='P-4')"
        << "Race R-NEW|0|0";
    QTest::newRow("deleteRace frees its records")
        << QList<QByteArray>{R"({"method":"deleteRace","raceCode":"R-PRINTED"})", null}
        << "select (select count(*) from race where RaceCode='R-PRINTED'),"
           "(select count(*) from record where RaceCode='R-PRINTED' or MarkTime<>0)"
        << "0|0";
    QTest::newRow("queryRaceCode, then queryRaceRecord: the kept record has no marking order")
        << QList<QByteArray>{R"({"method":"queryRaceCode","assocNum":"P-2"})", R"({"result":"R-PRINTED"})",
                             R"({"method":"queryRaceRecord","assocNum":"P-2","fields":["markOrder"]})",
                             R"({"result":{"markOrder":0}})"}
        << "select count(*) from race" << "4";
    QTest::newRow("queryRaceRecord reads the record: marking order counted")
        << QList<QByteArray>{R"({"method":"queryRaceRecord","assocNum":"P-2","fields":["markOrder","raceCode"]})",
                             R"({"result":{"markOrder":2,"raceCode":"R-PRINTED"}})"}
        << "select count(*) from race" << "4";
}

void TestMorlanSlaverData::workingCopiesAndLists()
{
    QFETCH(QList<QByteArray>, exchanges);
    QFETCH(QString, check);
    SlaverFixture f;
    seedClock(f);
    f.openSession();
    for (int i = 0; i + 1 < exchanges.size(); i += 2) {
        if (!f.replies(exchanges.at(i), exchanges.at(i + 1)))
            return;
    }
    QTEST(f.scalar(check), "expected");
}

void TestMorlanSlaverData::queryRaceRecord_hidesByState_data()
{
    QTest::addColumn<QString>("raceCode");
    QTest::addColumn<qint64>("markTime");
    QTest::addColumn<qint64>("backTimeEring");
    QTest::addColumn<qint64>("backTimeUid");
    QTest::addColumn<QStringList>("hidden");
    const QStringList arrival{"randNumberBack", "backOrder", "gpsValid", "gpsOnLine", "backHomeLat",
                              "backHomeLon", "needSms", "smsSendState", "eringUploadState", "backTimeUid",
                              "uidValid", "uidBack", "uidUploadState"};
    const QStringList unbasketed =
        QStringList{"randNumMarked", "uidMarked", "markReaderId", "markAuthKey", "backHome", "backTimeEring"}
        + arrival;
    QTest::newRow("not basketed") << QString() << qint64(0) << qint64(0) << qint64(0) << unbasketed;
    QTest::newRow("basketed, list not printed")
        << "R-MARKED" << kT << qint64(0) << qint64(0) << (unbasketed + QStringList{"markTime"});
    QTest::newRow("basketed, race gone")
        << "R-GONE" << kT << qint64(0) << qint64(0) << (unbasketed + QStringList{"markTime"});
    QTest::newRow("printed, no arrival") << "R-PRINTED" << kT << qint64(0) << qint64(0) << arrival;
    QTest::newRow("ring arrival, no uid arrival")
        << "R-STOPPED" << kT << kT + 5000 << qint64(0) << QStringList{"uidBack", "uidUploadState"};
    QTest::newRow("ring and uid arrival") << "R-STOPPED" << kT << kT + 5000 << kT + 5100 << QStringList{};
}

void TestMorlanSlaverData::queryRaceRecord_hidesByState()
{
    QFETCH(QString, raceCode);
    QFETCH(qint64, markTime);
    QFETCH(qint64, backTimeEring);
    QFETCH(qint64, backTimeUid);
    QFETCH(QStringList, hidden);
    SlaverFixture f;
    seedClock(f);
    f.basket(QStringLiteral("P-3"), raceCode, markTime, backTimeEring, backTimeUid);
    f.openSession();
    const QStringList names{"assocNum", "raceCode", "uidMarked", "eringNum", "randNumMarked", "uidBack",
                            "randNumberBack", "backHome", "gpsValid", "gpsOnLine", "uidValid", "needSms",
                            "smsSendState", "uidUploadState", "eringUploadState", "assignFlag", "markFlag",
                            "backOrder", "backTimeEring", "backTimeUid", "backHomeLat", "backHomeLon",
                            "markReaderId", "markAuthKey", "markTime", "markOrder"};
    QSet<QString> hiddenFolded;
    for (const QString &name : hidden)
        hiddenFolded.insert(name.toLower());
    // Each name as the PC may write it: as spelt, in capitals, and twice.
    for (const QString &name : names) {
        const QStringList spellings{name, name.toUpper(), name.left(1).toUpper() + name.mid(1)};
        for (const QString &spelling : spellings) {
            const QByteArray request = QByteArray(R"({"method":"queryRaceRecord","assocNum":"P-3","fields":[")")
                + spelling.toUtf8() + R"(",")" + spelling.toUtf8() + R"("]})";
            const PcPeer::JsonReply reply = f.peer.call(request);
            QVERIFY2(reply.ok(), request.constData());
            const QVariantMap result = reply.result().toMap();
            const bool shown = !hiddenFolded.contains(name.toLower());
            QVERIFY2(result.contains(spelling) == shown, request.constData());
            if (shown)
                QCOMPARE(result.size(), 1);
        }
    }
    if (backTimeUid != 0) {
        const PcPeer::JsonReply reply =
            f.peer.call(R"({"method":"queryRaceRecord","assocNum":"P-3","fields":["uidBack","backTimeUid"]})");
        QCOMPARE(reply.result().toMap().value(QStringLiteral("uidBack")).toString(), QStringLiteral("0000AA01"));
        QCOMPARE(reply.result().toMap().value(QStringLiteral("backTimeUid")).toLongLong(), backTimeUid);
    }
}

void TestMorlanSlaverData::queryRaceCode_data()
{
    QTest::addColumn<QString>("assocNum");
    QTest::addColumn<QString>("raceCode");
    QTest::addColumn<qint64>("markTime");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("not basketed, no race") << "P-3" << QString() << qint64(0) << QByteArray(R"({"result":""})");
    QTest::newRow("not basketed, a race code") << "P-3" << "R-NEW" << qint64(0)
                                               << QByteArray(R"({"result":"R-NEW"})");
    QTest::newRow("training") << "P-3" << "train" << qint64(0) << QByteArray(R"({"result":"train"})");
    QTest::newRow("basketed, list printed") << "P-3" << "R-PRINTED" << kT << QByteArray(R"({"result":"R-PRINTED"})");
    QTest::newRow("basketed, list not printed")
        << "P-3" << "R-MARKED" << kT << QByteArray(R"({"error":4610,"result":"Mark records must print first!"})");
    QTest::newRow("basketed, race gone") << "P-3" << "R-GONE" << kT
                                         << QByteArray(R"({"error":4610,"result":"Race invalid!"})");
    QTest::newRow("no record") << "NOBODY" << QString() << qint64(0)
                               << QByteArray(R"({"error":1287,"result":"Race record not exist!"})");
}

void TestMorlanSlaverData::queryRaceCode()
{
    QFETCH(QString, assocNum);
    QFETCH(QString, raceCode);
    QFETCH(qint64, markTime);
    QFETCH(QByteArray, reply);
    SlaverFixture f;
    seedClock(f);
    if (!raceCode.isNull())
        f.basket(QStringLiteral("P-3"), raceCode, markTime);
    f.openSession();
    f.replies(QByteArray(R"({"method":"queryRaceCode","assocNum":")") + assocNum.toUtf8() + "\"}", reply);
}

void TestMorlanSlaverData::hostileValues_storedAsValues_data()
{
    // The value under attack (a key of a row it may create), the request,
    // and the rows it may make, read back.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("expected");
    const QString long200(200, QLatin1Char('w'));
    QTest::newRow("assocNum A'||'B while AB exists")
        << "A'||'B" << QByteArray(R"({"method":"savePigeon","assocNum":"A'||'B","color":"red"})")
        << "select AssocNum,Color from pigeon where AssocNum like 'A%' order by AssocNum" << "A'||'B|red;AB|blue";
    QTest::newRow("assocNum ' OR '1'='1, texts %1 %2")
        << "' OR '1'='1" << QByteArray(R"({"method":"savePigeon","assocNum":"' OR '1'='1","regNum":"%1%2"})")
        << "select AssocNum,RegNum from pigeon where RegNum like '\\%%' escape '\\'" << "' OR '1'='1|%1%2";
    QTest::newRow("assocNum with a zero byte")
        << QString::fromUtf8("Z\0Y", 3) << QByteArray(R"({"method":"savePigeon","assocNum":"Z\u0000Y"})")
        << "select hex(AssocNum) from pigeon where hex(AssocNum) like '5A00%'" << "5A0059";
    QTest::newRow("200-character assocNum")
        << long200 << (R"({"method":"savePigeon","assocNum":")" + long200.toUtf8() + "\"}")
        << "select length(AssocNum) from pigeon where AssocNum like 'www%'" << "200";
    QTest::newRow("deletePigeon with a condition in the key")
        << "AB' OR '1'='1" << QByteArray(R"({"method":"deletePigeon","assocNum":"AB' OR '1'='1"})")
        << "select count(*) from pigeon" << "4";
    QTest::newRow("record lookups with a condition in the key")
        << "x' OR '1'='1" << QByteArray(R"({"method":"queryRaceCode","assocNum":"x' OR '1'='1"})")
        << "select count(*) from record" << "4";
    QTest::newRow("raceCode that ends the statement")
        << "R'; delete from race; --"
        << QByteArray(R"({"method":"saveRace","raceCode":"R'; delete from race; --","raceName":"%2"})")
        << "select count(*),group_concat(RaceName,'/') from race where RaceName='%2'" << "1|%2";
    QTest::newRow("deleteRace with a condition in the code")
        << "R-NEW' OR '1'='1" << QByteArray(R"({"method":"deleteRace","raceCode":"R-NEW' OR '1'='1"})")
        << "select count(*) from race" << "4";
    QTest::newRow("loft field with quotes and placeholders")
        << QString() << QByteArray(R"({"method":"setLoftInfo","ownerName":"O'Brien %1 %2","city":"'); --"})")
        << "select LoftNum,OwnerName,City from LOFTINFO" << "NL-1234|O'Brien %1 %2|'); --";
    // An operator code goes into an AT command: one that is no code is refused.
    QTest::newRow("gsmNet with a quote, refused")
        << QString() << QByteArray(R"({"method":"setParams","gsmNet":"a','b"})")
        << "select count(*) from APPPARAMS where id='gsmNet'" << "0";
}

void TestMorlanSlaverData::hostileValues_storedAsValues()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, request);
    QFETCH(QString, check);
    SlaverFixture f;
    seedClock(f);
    f.openSession();
    const QString others = rowsOtherThan(f, key);
    const PcPeer::JsonReply reply = f.peer.call(request);
    QVERIFY(reply.ok());
    QTEST(f.scalar(check), "expected");
    if (!request.contains("setParams"))
        QCOMPARE(rowsOtherThan(f, key), others);
}

void TestMorlanSlaverData::filterWithSecondStatement_refusedByTheDriver_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("queryPigeon") << QByteArray(R"({"method":"queryPigeon","filter":"1=1; delete from pigeon"})");
    QTest::newRow("queryRace") << QByteArray(R"({"method":"queryRace","filter":"1=1; delete from race; --"})");
}

void TestMorlanSlaverData::filterWithSecondStatement_refusedByTheDriver()
{
    QFETCH(QByteArray, request);
    SlaverFixture f;
    seedClock(f);
    f.openSession();
    const QString before = rowsOtherThan(f, QString());
    const PcPeer::JsonReply reply = f.peer.call(request);
    QVERIFY(reply.ok());
    QCOMPARE(reply.error() & 0xFFFFFF00, 0x11000000);
    QVERIFY(!reply.result().toString().isEmpty());
    QCOMPARE(rowsOtherThan(f, QString()), before);
}

QTEST_GUILESS_MAIN(TestMorlanSlaverData)
#include "tst_morlanslaverdata.moc"
