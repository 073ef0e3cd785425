// The texts the engine sends: the six upload payloads, the record flags
// word, the record SMS, the owner notification, the authentication code and
// the sealing pair, on a temporary database. Every expected text is written
// out by hand from the wire format.
#include "core/locationinfo.h"
#include "core/platform.h"
#include "core/utc.h"
#include "device/lfmodule.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include "storagefixture.h"

#include <QCryptographicHash>
#include <QTest>

namespace {

constexpr qint64 kNow = 1700000000000;           // 2023-11-14 22:13:20 UTC
constexpr qint64 kLiberTime = 1700000000000;
constexpr qint64 kMarkTime = 1699990000000;
constexpr qint64 kBackTime = 1700003600000;      // an hour after liberation
constexpr qint64 kTwoTo32 = qint64(1) << 32;

// A loft, one race "R1" and one pigeon "P1" on a fresh database, the clock
// fixed at kNow and the zone at UTC+8.
struct Loft
{
    Loft()
    {
        Platform::setSystemClock([] { return kNow; });
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        LoftInfo info;
        info.loftNum = QStringLiteral("L100");
        info.password = QStringLiteral("secret");
        info.clubCode = QStringLiteral("C1");
        info.assocCode = QStringLiteral("A1");
        info.ownerName = QStringLiteral("Ann");
        info.timeZone = 28800;
        bo.saveLoftInfo(&info);

        RaceInfo race;
        race.raceCode = QStringLiteral("R1");
        race.clubCode = QStringLiteral("RC");
        race.assocCode = QStringLiteral("RA");
        race.liberCode = QStringLiteral("LC");
        race.liberName = QStringLiteral("Paris");
        race.liberTime = kLiberTime;
        race.valid = 3;
        Storage::instance()->saveRace(&race);

        addPigeon(QStringLiteral("P1"), QStringLiteral("blue"), 1, false);
    }
    ~Loft()
    {
        Platform::setSystemClock({});
        UTC::setTimeZone(28800);
        UTC::_clubTimeDiff = 0;
        Storage::destroy();
    }

    static void addPigeon(const QString &assocNum, const QString &color, int sex, bool test)
    {
        PigeonInfo pigeon;
        pigeon.assocNum = assocNum;
        pigeon.eringNum = QStringLiteral("E-") + assocNum;
        pigeon.color = color;
        pigeon.sex = sex;
        pigeon.test = test;
        Storage::instance()->savePigeon(&pigeon);
    }

    // A race arrival of P1: basketed for R1, home at kBackTime.
    static PigeonRecord arrival()
    {
        PigeonRecord r;
        r.assocNum = QStringLiteral("P1");
        r.eringNum = QStringLiteral("E1");
        r.raceCode = QStringLiteral("R1");
        r.markTime = kMarkTime;
        r.randNumMarked = 5;
        r.randNumberBack = 7;
        r.backOrder = 2;
        r.backTimeEring = kBackTime;
        r.backHomeLon = -1000;
        r.backHomeLat = 2000;
        r.uidBack = QStringLiteral("U1");
        r.uidMarked = QStringLiteral("UM");
        r.markReaderId = QStringLiteral("MR");
        r.markOrder = 3;
        return r;
    }

    RaceInfo race() const { return *Storage::instance()->findRaceById(QStringLiteral("R1")); }

    StorageFixture db;
    PigeonBo bo;
};

QList<QSharedPointer<PigeonRecord>> listOf(const PigeonRecord &record)
{
    QList<QSharedPointer<PigeonRecord>> list;
    list.append(QSharedPointer<PigeonRecord>(new PigeonRecord(record)));
    return list;
}

QByteArray md5Head(const QByteArray &joined)
{
    return QCryptographicHash::hash(joined, QCryptographicHash::Md5).left(4);
}

} // namespace

class TestUploadPayload : public QObject
{
    Q_OBJECT
private slots:
    void arrivalLine_data();
    void arrivalLine();
    void arrivalLine_batchAndEmpty();
    void typedArray_sameFieldsAsLine();
    void flagsWord_data();
    void flagsWord();
    void markRecordAndList();
    void arriveData();
    void state_data();
    void state();
    void timeZone_minutesTruncated_data();
    void timeZone_minutesTruncated();
    void escaping_sevenEscapesOthersRaw();
    void smsRecord_data();
    void smsRecord();
    void notification_data();
    void notification();
    void code_md5OfThePartsInOrder();
    void sealing_roundTripOtherKeyEmpty();
};

void TestUploadPayload::arrivalLine_data()
{
    QTest::addColumn<PigeonRecord>("record");
    QTest::addColumn<QString>("line");

    const PigeonRecord race = Loft::arrival();
    QTest::newRow("race found") << race
                                << "00000000,RC,R1,P1,E1,5,7,2,1700003600000,-1000,2000,128,RA,Paris,U1,3,480,blue,1";

    PigeonRecord training = race;
    training.markTime = 0;
    training.raceCode = QStringLiteral("train");
    training.markOrder = 0;
    QTest::newRow("training") << training
                              << "00000000,C1,0,P1,E1,5,7,2,1700003600000,-1000,2000,128,A1,train,U1,0,480,blue,1";

    // Taken out of R1 without a new basketing: the stale code names no race of its.
    PigeonRecord stale = training;
    stale.raceCode = QStringLiteral("R1");
    QTest::newRow("training, stale race code")
        << stale << "00000000,C1,0,P1,E1,5,7,2,1700003600000,-1000,2000,128,A1,train,U1,0,480,blue,1";

    PigeonRecord unknownRace = race;
    unknownRace.raceCode = QStringLiteral("R9");
    QTest::newRow("basketed, race gone")
        << unknownRace << "00000000,C1,0,P1,E1,5,7,2,1700003600000,-1000,2000,128,A1,train,U1,3,480,blue,1";

    PigeonRecord missing = race;
    missing.assocNum = QStringLiteral("P404");
    QTest::newRow("pigeon missing")
        << missing << "00000000,RC,R1,P404,E1,5,7,2,1700003600000,-1000,2000,128,RA,Paris,U1,3,480,-,0";

    PigeonRecord comma = race;
    comma.uidBack = QStringLiteral("U,1");
    QTest::newRow("comma shifts fields")
        << comma << "00000000,RC,R1,P1,E1,5,7,2,1700003600000,-1000,2000,128,RA,Paris,U,1,3,480,blue,1";
}

void TestUploadPayload::arrivalLine()
{
    QFETCH(PigeonRecord, record);
    QFETCH(QString, line);
    Loft loft;
    QCOMPARE(loft.bo.toJsonRecordList(listOf(record)), QStringLiteral("[\"") + line + QStringLiteral("\"]"));
}

void TestUploadPayload::arrivalLine_batchAndEmpty()
{
    Loft loft;
    Loft::addPigeon(QStringLiteral("P2"), QStringLiteral("red"), 0, true);
    PigeonRecord second = Loft::arrival();
    second.assocNum = QStringLiteral("P2");
    second.backOrder = 3;
    second.backHomeLon = 5;
    auto records = listOf(Loft::arrival()) + listOf(second);
    QCOMPARE(loft.bo.toJsonRecordList(records),
             QStringLiteral("[\"00000000,RC,R1,P1,E1,5,7,2,1700003600000,-1000,2000,128,RA,Paris,U1,3,480,blue,1\","
                            "\"00000000,RC,R1,P2,E1,5,7,3,1700003600000,5,2000,384,RA,Paris,U1,3,480,red,0\"]"));
    QCOMPARE(loft.bo.toJsonRecordList({}), QStringLiteral("[]"));
}

void TestUploadPayload::typedArray_sameFieldsAsLine()
{
    Loft loft;
    const PigeonRecord race = Loft::arrival();
    QCOMPARE(loft.bo.toJsonRecord(&race),
             QStringLiteral("[\"00000000\",\"RC\",\"R1\",\"P1\",\"E1\",5,7,2,1700003600000,-1000,2000,128,\"RA\","
                            "\"Paris\",\"U1\",3,480,\"blue\",1]"));
    PigeonRecord training = race;
    training.markTime = 0;
    training.markOrder = 0;
    PigeonRecord missing = training;
    missing.assocNum = QStringLiteral("P404");
    QCOMPARE(loft.bo.toJsonRecord(&missing),
             QStringLiteral("[\"00000000\",\"C1\",\"0\",\"P404\",\"E1\",5,7,2,1700003600000,-1000,2000,128,\"A1\","
                            "\"train\",\"U1\",0,480,\"-\",0]"));
}

void TestUploadPayload::flagsWord_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("flags");
    QTest::newRow("eringUploadState") << "eringUploadState" << 0x001;
    QTest::newRow("smsSendState") << "smsSendState" << 0x004;
    QTest::newRow("needSms") << "needSms" << 0x008;
    QTest::newRow("gpsOnLine") << "gpsOnLine" << 0x020;
    QTest::newRow("gpsValid") << "gpsValid" << 0x040;
    QTest::newRow("arrived") << "backTimeEring" << 0x080;
    QTest::newRow("test pigeon") << "test" << 0x100;
    QTest::newRow("uidUploadState never counts") << "uidUploadState" << 0;
    QTest::newRow("all but uid: 0x1ED") << "all" << 0x1ED;
}

void TestUploadPayload::flagsWord()
{
    QFETCH(QString, field);
    QFETCH(int, flags);
    PigeonRecord r;
    const bool all = field == QLatin1String("all");
    r.eringUploadState = all || field == QLatin1String("eringUploadState");
    r.smsSendState = all || field == QLatin1String("smsSendState");
    r.needSms = all || field == QLatin1String("needSms");
    r.gpsOnLine = all || field == QLatin1String("gpsOnLine");
    r.gpsValid = all || field == QLatin1String("gpsValid");
    r.backTimeEring = (all || field == QLatin1String("backTimeEring")) ? kBackTime : 0;
    r.uidUploadState = all || field == QLatin1String("uidUploadState");
    QCOMPARE(PigeonBo::recordFlags(&r, all || field == QLatin1String("test")), flags);
}

void TestUploadPayload::markRecordAndList()
{
    Loft loft;
    const RaceInfo race = loft.race();
    const PigeonRecord record = Loft::arrival();
    const QString object = QStringLiteral(
        "{\"assocNum\":\"P1\",\"eringNum\":\"E1\",\"markOrder\":3,\"markReaderId\":\"MR\",\"markTime\":1699990000000,"
        "\"randNumMarked\":5,\"uidMarked\":\"UM\"}");
    QCOMPARE(loft.bo.toJsonMarkRecord(&record, &race),
             QStringLiteral("{\"assocCode\":\"RA\",\"assocNum\":\"P1\",\"clubCode\":\"RC\",\"deviceId\":\"00000000\","
                            "\"eringNum\":\"E1\",\"liberCode\":\"LC\",\"liberTime\":1700000000000,\"markOrder\":3,"
                            "\"markReaderId\":\"MR\",\"markTime\":1699990000000,\"raceCode\":\"R1\","
                            "\"randNumMarked\":5,\"timezone\":480,\"uidMarked\":\"UM\"}"));
    const QString head = QStringLiteral("{\"assocCode\":\"RA\",\"clubCode\":\"RC\",\"deviceId\":\"00000000\","
                                        "\"liberCode\":\"LC\",\"liberTime\":1700000000000,\"raceCode\":\"R1\","
                                        "\"records\":[");
    QCOMPARE(loft.bo.toJsonMarkRecordList(listOf(record) + listOf(record), &race),
             head + object + QLatin1Char(',') + object + QStringLiteral("],\"timezone\":480}"));
    QCOMPARE(loft.bo.toJsonMarkRecordList({}, &race), head + QStringLiteral("],\"timezone\":480}"));
}

void TestUploadPayload::arriveData()
{
    Loft loft;
    // Basketing and stopping write these, not the race's own save.
    RaceInfo race = loft.race();
    race.markDeviceTime = 1699990000001;
    race.markReaderTime = 1699990000002;
    race.raceStopDeviceTime = 1700010000001;
    race.raceStopReaderTime = 1700010000002;
    QCOMPARE(loft.bo.toJsonArriveData(&race),
             QStringLiteral("{\"assocCode\":\"RA\",\"clubArriveTime\":1700010000002,\"clubCode\":\"RC\","
                            "\"deviceArriveTime\":1700010000001,\"deviceId\":\"00000000\",\"liberCode\":\"LC\","
                            "\"liberName\":\"Paris\",\"liberTime\":1700000000000,\"loftNum\":\"L100\","
                            "\"markDeviceTime\":1699990000001,\"markReaderTime\":1699990000002,\"raceCode\":\"R1\","
                            "\"timezone\":480}"));
}

void TestUploadPayload::state_data()
{
    QTest::addColumn<bool>("withRace");
    QTest::addColumn<int>("currentAgeMs");   // -1: no current fix
    QTest::addColumn<int>("lastAgeMs");      // -1: no last fix
    QTest::addColumn<bool>("netVerified");
    QTest::addColumn<QString>("gps");        // "gpsLa":..,"gpsLo":..
    QTest::addColumn<int>("state");

    QTest::newRow("no fix at all, no race") << false << -1 << -1 << false << "\"gpsLa\":0,\"gpsLo\":0" << 0;
    QTest::newRow("current fix online") << true << 1000 << 1000 << true << "\"gpsLa\":22,\"gpsLo\":11" << 0x61;
    QTest::newRow("current stale, last valid") << true << 91000 << 60000 << false << "\"gpsLa\":44,\"gpsLo\":33" << 0x40;
    QTest::newRow("both stale") << true << 91000 << 901000 << false << "\"gpsLa\":0,\"gpsLo\":0" << 0;
}

void TestUploadPayload::state()
{
    QFETCH(bool, withRace);
    QFETCH(int, currentAgeMs);
    QFETCH(int, lastAgeMs);
    QFETCH(bool, netVerified);
    QFETCH(QString, gps);
    QFETCH(int, state);
    Loft loft;
    if (!withRace)
        Storage::instance()->deleteRace(QStringLiteral("R1"));
    LocationInfo location;
    if (currentAgeMs >= 0) {
        location.lo = 11;
        location.la = 22;
        location.time = kNow - currentAgeMs;
    }
    if (lastAgeMs >= 0) {
        location.validLo = 33;
        location.validLa = 44;
        location.validTime = kNow - lastAgeMs;
    }
    loft.bo.setPositionSource([location] { return location; });
    if (netVerified)
        loft.bo.verifyTime(kNow, false);
    loft.bo.cacheChannels({LFCHANNEL_INFO(), LFCHANNEL_INFO()});
    UTC::_clubTimeDiff = 5; // the device time in club time

    const QString training =
        QStringLiteral("{\"assocCode\":\"A1\",\"clubCode\":\"C1\",\"liberCode\":\"\",\"raceCode\":\"0\",\"valid\":0}");
    const QString race =
        QStringLiteral(",{\"assocCode\":\"RA\",\"clubCode\":\"RC\",\"liberCode\":\"LC\",\"raceCode\":\"R1\",\"valid\":3}");
    QCOMPARE(loft.bo.makeJsonStateString(),
             QStringLiteral("{\"boardCount\":2,\"deviceId\":\"00000000\",\"deviceTime\":1700000000005,"
                            "\"firmware\":\"8.9.30\",")
                 + gps + QStringLiteral(",\"races\":[") + training + (withRace ? race : QString())
                 + QStringLiteral("],\"state\":%1,\"timeZone\":480}").arg(state));
}

void TestUploadPayload::timeZone_minutesTruncated_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("minutes");
    QTest::newRow("UTC+8") << 28800 << 480;
    QTest::newRow("UTC-3:30") << -12600 << -210;
    QTest::newRow("UTC+5:30") << 19800 << 330;
    QTest::newRow("UTC-4:30") << -16200 << -270;
    QTest::newRow("+59 s toward zero") << 59 << 0;
    QTest::newRow("-119 s toward zero") << -119 << -1;
}

void TestUploadPayload::timeZone_minutesTruncated()
{
    QFETCH(int, seconds);
    QFETCH(int, minutes);
    Loft loft;
    UTC::setTimeZone(seconds);
    QCOMPARE(PigeonBo::timeZoneMinutes(), minutes);
    const RaceInfo race = loft.race();
    QVERIFY(loft.bo.toJsonArriveData(&race).endsWith(QStringLiteral("\"timezone\":%1}").arg(minutes)));
    QVERIFY(loft.bo.makeJsonStateString().endsWith(QStringLiteral("\"timeZone\":%1}").arg(minutes)));
}

void TestUploadPayload::escaping_sevenEscapesOthersRaw()
{
    Loft loft;
    RaceInfo race = loft.race();
    race.liberCode = QStringLiteral("a\\b\"c\bd\fe\nf\rg\th");
    race.clubCode = QString::fromUtf8("x\x01y\x1f\xc3\xa9\xe2\x82\xac");
    const QByteArray json = loft.bo.toJsonArriveData(&race).toUtf8();
    QVERIFY2(json.contains("\"liberCode\":\"a\\\\b\\\"c\\bd\\fe\\nf\\rg\\th\""), json.constData());
    // Another control character and text beyond ASCII go raw, in UTF-8.
    QVERIFY2(json.contains("\"clubCode\":\"x\x01y\x1f\xc3\xa9\xe2\x82\xac\""), json.constData());
    QVERIFY(!json.contains("\\u"));
}

void TestUploadPayload::smsRecord_data()
{
    QTest::addColumn<PigeonRecord>("record");
    QTest::addColumn<bool>("testPigeon");
    QTest::addColumn<QString>("text");

    // The Part's field examples: 2^32 ms, longitude -1, random numbers 7 and 300, flags 0x1ED.
    PigeonRecord race = Loft::arrival();
    race.randNumMarked = 7;
    race.randNumberBack = 300;
    race.backTimeEring = kTwoTo32;
    race.backHomeLon = -1;
    race.eringUploadState = race.smsSendState = race.needSms = race.gpsOnLine = race.gpsValid = true;
    QTest::newRow("race, field examples")
        << race << true << "L100,00000000,RC,R1,Paris,RA,P1,E1,07,12C,2,0000000100000000,FFFFFFFF,000007D0,01ED,U1,3,480";

    PigeonRecord plain = Loft::arrival();
    QTest::newRow("race, plain")
        << plain << false << "L100,00000000,RC,R1,Paris,RA,P1,E1,05,07,2,0000018BD01C5680,FFFFFC18,000007D0,0080,U1,3,480";

    PigeonRecord training = Loft::arrival();
    training.markTime = 0;
    training.raceCode = QStringLiteral("train");
    training.markOrder = 0;
    QTest::newRow("training fallbacks")
        << training << false << "L100,00000000,C1,0,0,A1,P1,E1,05,07,2,0000018BD01C5680,FFFFFC18,000007D0,0080,U1,0,480";

    PigeonRecord stale = training;
    stale.raceCode = QStringLiteral("R1");
    QTest::newRow("training arrival, stale race code")
        << stale << false << "L100,00000000,C1,0,0,A1,P1,E1,05,07,2,0000018BD01C5680,FFFFFC18,000007D0,0080,U1,0,480";
}

void TestUploadPayload::smsRecord()
{
    QFETCH(PigeonRecord, record);
    QFETCH(bool, testPigeon);
    QFETCH(QString, text);
    Loft loft;
    if (testPigeon)
        Loft::addPigeon(QStringLiteral("P1"), QStringLiteral("blue"), 1, true);
    QCOMPARE(loft.bo.toSmsRecord(&record), text);
}

void TestUploadPayload::notification_data()
{
    QTest::addColumn<bool>("training");
    QTest::addColumn<int>("zone");
    QTest::addColumn<QString>("text");
    QTest::newRow("race, UTC+8")
        << false << 28800
        << "Order:2,Club:RC,Lib Code:LC,Lib Time:15/11/2023 06:13:20,Race:R1,Pigeon:P1,Back Time:15/11 07:13:20";
    QTest::newRow("race, UTC-3:30")
        << false << -12600
        << "Order:2,Club:RC,Lib Code:LC,Lib Time:14/11/2023 18:43:20,Race:R1,Pigeon:P1,Back Time:14/11 19:43:20";
    QTest::newRow("training") << true << 28800 << "Order:2,Training,Pigeon:P1,Back Time:15/11 07:13:20";
}

void TestUploadPayload::notification()
{
    QFETCH(bool, training);
    QFETCH(int, zone);
    QFETCH(QString, text);
    Loft loft;
    UTC::setTimeZone(zone);
    PigeonRecord record = Loft::arrival();
    if (training)
        record.markTime = 0; // its stale race code names no race
    QCOMPARE(loft.bo.toUserSms(&record), text);
}

void TestUploadPayload::code_md5OfThePartsInOrder()
{
    const QByteArray text = "{\"a\":1}";
    const QByteArray mac = PigeonBo::getMacW5(text, "L100", "secret");
    QCOMPARE(mac, md5Head("L100secret{\"a\":1}"));
    QCOMPARE(mac.size(), 4);
    QVERIFY(PigeonBo::getMacW5(text, "L100", "secret2") != mac);
    QVERIFY(PigeonBo::getMacW5(text, "L101", "secret") != mac);
    QVERIFY(PigeonBo::getMacW5(text, "secret", "L100") != mac); // the order counts

    // The record SMS: device id, password, record text.
    Loft loft;
    const PigeonRecord record = Loft::arrival();
    const QByteArray smsText = loft.bo.toSmsRecord(&record).toLatin1();
    QCOMPARE(PigeonBo::getMacW5(smsText, "00000000", "secret"), md5Head("00000000secret" + smsText));
    QVERIFY(PigeonBo::getMacW5(smsText, "00000001", "secret") != md5Head("00000000secret" + smsText));
    QVERIFY(!smsText.contains("secret"));
    QCOMPARE(loft.bo.computeKey("ignored"), QByteArray("secret"));
}

void TestUploadPayload::sealing_roundTripOtherKeyEmpty()
{
    const QByteArray data("arrival \0\x01\xff data", 16);
    const QByteArray sealed = PigeonBo::encrypt(data, "secret");
    QCOMPARE(sealed.size(), data.size() + 16);
    QVERIFY(!sealed.contains("arrival"));
    QCOMPARE(PigeonBo::decrypt(sealed, "secret"), data);
    QVERIFY(PigeonBo::decrypt(sealed, "secreT").isEmpty());
    QByteArray damaged = sealed;
    damaged[0] = char(damaged[0] ^ 1);
    QVERIFY(PigeonBo::decrypt(damaged, "secret").isEmpty());
    QCOMPARE(PigeonBo::encrypt(QByteArray(), "secret").size(), 16);
    QVERIFY(PigeonBo::decrypt(PigeonBo::encrypt(QByteArray(), "k"), "k").isEmpty());
    QVERIFY(PigeonBo::decrypt("short", "secret").isEmpty());
}

QTEST_GUILESS_MAIN(TestUploadPayload)
#include "tst_uploadpayload.moc"
