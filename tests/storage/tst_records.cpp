#include "core/locationinfo.h"
#include "core/log.h"
#include "core/myapp.h"
#include "core/utc.h"
#include "storage/loftinfo.h"
#include "storage/nomination.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <climits>

// The domain records: defaults, keyed access with the exact QVariant type of
// each key (the PC link writes JSON by type), derived keys at their edges,
// refused keys, letter case, and the registered types in queued signals.
class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void loft_getField_data();
    void loft_getField();
    void loft_setField_data();
    void loft_setField();
    void loft_refusedAndUnknownKeys_changeNothing();
    void loft_timeZone_changesLocalTextsAtOnce();
    void loft_init_restoresAllDefaults();

    void record_getField_data();
    void record_getField();
    void race_getField_data();
    void race_getField();
    void race_setField_data();
    void race_setField();
    void race_ignoredAndRefusedKeys_changeNothing();
    void race_furtherData_canonicalSpelling();

    void defaults_nullAndEmpty();
    void queuedSignals_carryRecordsIntact();
};

// Emits each registered record and list from whatever thread calls send().
class Carrier : public QObject
{
    Q_OBJECT
signals:
    void loft(LoftInfo value);
    void pigeon(PigeonInfo value);
    void pigeons(QList<QSharedPointer<PigeonInfo>> value);
    void record(PigeonRecord value);
    void records(QList<QSharedPointer<PigeonRecord>> value);
    void location(LocationInfo value);
    void log(Log value);
    void logs(QList<QSharedPointer<Log>> value);
    void race(RaceInfo value);
    void races(QList<QSharedPointer<RaceInfo>> value);
};

namespace {

QStringList caseVariants(const QString &key)
{
    QString alternating = key;
    for (int i = 0; i < alternating.size(); i += 2)
        alternating[i] = alternating[i].isUpper() ? alternating[i].toLower() : alternating[i].toUpper();
    return {key, key.toUpper(), key.toLower(), alternating};
}

// Every field set to a value unlike its default.
LoftInfo changedLoft()
{
    LoftInfo loft;
    loft.loftNum = QStringLiteral("L-1");
    loft.ownerName = QStringLiteral("owner");
    loft.street = QStringLiteral("street");
    loft.city = QStringLiteral("city");
    loft.postCode = QStringLiteral("post");
    loft.phoneNo = QStringLiteral("phone");
    loft.email = QStringLiteral("mail");
    loft.loftLon = QStringLiteral("lon");
    loft.loftLat = QStringLiteral("lat");
    loft.clubCode = QStringLiteral("cc");
    loft.clubName = QStringLiteral("cn");
    loft.clubStreet = QStringLiteral("cs");
    loft.clubCity = QStringLiteral("cy");
    loft.clubPostCode = QStringLiteral("cp");
    loft.assocCode = QStringLiteral("ac");
    loft.hostIp = QStringLiteral("10.0.0.1");
    loft.hostPath = QStringLiteral("/up");
    loft.apn = QStringLiteral("apn");
    loft.notifyMode = 1;
    loft.uploadMode = 2;
    loft.uploadInterval = 4000000000u;
    loft.validate = 1LL << 40;
    loft.password = QStringLiteral("secret");
    loft.language = QStringLiteral("DE");
    loft.timeZone = -34200;
    loft.hostSmsCode = QStringLiteral("+100");
    loft.voiceMode = 356;
    return loft;
}

const QStringList kLoftKeys = {
    QStringLiteral("loftNum"), QStringLiteral("ownerName"), QStringLiteral("street"),
    QStringLiteral("city"), QStringLiteral("postCode"), QStringLiteral("phoneNo"),
    QStringLiteral("email"), QStringLiteral("loftLon"), QStringLiteral("loftLat"),
    QStringLiteral("clubCode"), QStringLiteral("clubName"), QStringLiteral("clubStreet"),
    QStringLiteral("clubCity"), QStringLiteral("clubPostCode"), QStringLiteral("assocCode"),
    QStringLiteral("hostIp"), QStringLiteral("hostPath"), QStringLiteral("apn"),
    QStringLiteral("notifyMode"), QStringLiteral("uploadMode"), QStringLiteral("uploadInterval"),
    QStringLiteral("validate"), QStringLiteral("password"), QStringLiteral("language"),
    QStringLiteral("initFlag"), QStringLiteral("timeZone"), QStringLiteral("hostSmsCode"),
    QStringLiteral("voiceMode")};

// Everything a loft shows, the password member included (getField hides it).
QVariantList snapshot(const LoftInfo &loft)
{
    QVariantList values{loft.password, loft.loftNum};
    for (const QString &key : kLoftKeys)
        values << loft.getField(key);
    return values;
}

const QStringList kRaceKeys = {
    QStringLiteral("raceCode"), QStringLiteral("raceName"), QStringLiteral("liberCode"),
    QStringLiteral("liberTime"), QStringLiteral("liberName"), QStringLiteral("liberLon"),
    QStringLiteral("liberLat"), QStringLiteral("valid"), QStringLiteral("clubCode"),
    QStringLiteral("assocCode"), QStringLiteral("markReaderId"), QStringLiteral("markAuthKey"),
    QStringLiteral("markDeviceTime"), QStringLiteral("markReaderTime"),
    QStringLiteral("markPrintFlag"), QStringLiteral("backFlag"),
    QStringLiteral("backPrintReaderId"), QStringLiteral("backPrintAuthKey"),
    QStringLiteral("backPrintFlag"), QStringLiteral("raceStopReaderTime"),
    QStringLiteral("raceStopDeviceTime"), QStringLiteral("printCount"),
    QStringLiteral("markUploadFlag"), QStringLiteral("markUploadedCount"),
    QStringLiteral("nomination")};

RaceInfo changedRace()
{
    RaceInfo race;
    race.raceCode = QStringLiteral("R1");
    race.raceName = QStringLiteral("name");
    race.clubCode = QStringLiteral("cc");
    race.assocCode = QStringLiteral("ac");
    race.valid = 3;
    race.liberCode = QStringLiteral("lc");
    race.liberTime = 1700000000000;
    race.liberName = QStringLiteral("ln");
    race.liberLon = QStringLiteral("lo");
    race.liberLat = QStringLiteral("la");
    race.markReaderId = QStringLiteral("mr");
    race.markAuthKey = QStringLiteral("mk");
    race.markDeviceTime = 11;
    race.markReaderTime = 12;
    race.markPrintFlag = true;
    race.raceStopDeviceTime = 13;
    race.raceStopReaderTime = 14;
    race.backPrintFlag = true;
    race.backPrintReaderId = QStringLiteral("br");
    race.backPrintAuthKey = QStringLiteral("bk");
    race.printCount = 3;
    race.otherData = {{QStringLiteral("markUploadFlag"), true},
                      {QStringLiteral("markUploadedCount"), 4},
                      {QStringLiteral("nomination"), 1}};
    return race;
}

QVariantList snapshot(const RaceInfo &race)
{
    QVariantList values{race.otherData};
    for (const QString &key : kRaceKeys)
        values << race.getField(key);
    return values;
}

void compareTyped(const QVariant &actual, const QVariant &expected)
{
    QCOMPARE(actual.isValid(), expected.isValid());
    if (!expected.isValid())
        return;
    QCOMPARE(actual.metaType(), expected.metaType());
    QCOMPARE(actual, expected);
}

} // namespace

void TestRecords::initTestCase()
{
    MyApp::registerMetaTypes();
}

void TestRecords::cleanup()
{
    UTC::setTimeZone(0);
}

void TestRecords::loft_getField_data()
{
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");
    const LoftInfo loft = changedLoft();
    const QVariant texts[] = {loft.loftNum, loft.ownerName, loft.street, loft.city, loft.postCode,
                              loft.phoneNo, loft.email, loft.loftLon, loft.loftLat, loft.clubCode,
                              loft.clubName, loft.clubStreet, loft.clubCity, loft.clubPostCode,
                              loft.assocCode, loft.hostIp, loft.hostPath, loft.apn};
    for (int i = 0; i < 18; ++i)
        QTest::addRow("%s", qPrintable(kLoftKeys.at(i))) << true << kLoftKeys.at(i) << texts[i];
    QTest::newRow("notifyMode") << true << "notifyMode" << QVariant(1);
    QTest::newRow("uploadMode") << true << "uploadMode" << QVariant(2);
    QTest::newRow("uploadInterval") << true << "uploadInterval" << QVariant(4000000000u);
    QTest::newRow("validate") << true << "validate" << QVariant(qint64(1) << 40);
    QTest::newRow("password never given out") << true << "password" << QVariant(QString(""));
    QTest::newRow("language") << true << "language" << QVariant(QStringLiteral("DE"));
    QTest::newRow("initFlag with a loft number") << true << "initFlag" << QVariant(true);
    QTest::newRow("initFlag of a new loft") << false << "initFlag" << QVariant(false);
    QTest::newRow("timeZone") << true << "timeZone" << QVariant(-34200);
    QTest::newRow("hostSmsCode") << true << "hostSmsCode" << QVariant(QStringLiteral("+100"));
    QTest::newRow("voiceMode") << true << "voiceMode" << QVariant(356);
    QTest::newRow("unknown") << true << "pi0" << QVariant();
    QTest::newRow("empty key") << true << "" << QVariant();
}

void TestRecords::loft_getField()
{
    QFETCH(bool, changed);
    QFETCH(QString, key);
    QFETCH(QVariant, expected);
    const LoftInfo loft = changed ? changedLoft() : LoftInfo();
    for (const QString &variant : caseVariants(key)) {
        compareTyped(loft.getField(variant), expected);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestRecords::loft_setField_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");     // getField afterwards
    for (int i = 1; i < 18; ++i)
        QTest::addRow("%s", qPrintable(kLoftKeys.at(i)))
            << kLoftKeys.at(i) << QVariant(QStringLiteral("new")) << QVariant(QStringLiteral("new"));
    QTest::newRow("text from a number") << "city" << QVariant(42) << QVariant(QStringLiteral("42"));
    QTest::newRow("notifyMode") << "NOTIFYMODE" << QVariant(QStringLiteral("3")) << QVariant(3);
    QTest::newRow("uploadMode not a number") << "uploadMode" << QVariant(QStringLiteral("abc"))
                                             << QVariant(0);
    QTest::newRow("uploadInterval") << "uploadinterval" << QVariant(qint64(4000000000))
                                    << QVariant(4000000000u);
    QTest::newRow("validate") << "Validate" << QVariant(QStringLiteral("8589934592"))
                              << QVariant(qint64(8589934592));
    QTest::newRow("language") << "language" << QVariant(QStringLiteral("FR"))
                              << QVariant(QStringLiteral("FR"));
    QTest::newRow("hostSmsCode") << "hostSmsCode" << QVariant(QStringLiteral("+1"))
                                 << QVariant(QStringLiteral("+1"));
    QTest::newRow("voiceMode") << "voiceMode" << QVariant(356) << QVariant(356);
    QTest::newRow("timeZone") << "TimeZone" << QVariant(19800) << QVariant(19800);
}

void TestRecords::loft_setField()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);
    LoftInfo loft;
    loft.setField(key, value);
    compareTyped(loft.getField(key), expected);
}

void TestRecords::loft_refusedAndUnknownKeys_changeNothing()
{
    for (const char *key : {"loftNum", "LOFTNUM", "password", "Password", "initFlag", "initflag",
                            "pi0", "", "owner Name"}) {
        LoftInfo loft = changedLoft();
        const QVariantList before = snapshot(loft);
        loft.setField(QLatin1String(key), QStringLiteral("X"));
        QCOMPARE(snapshot(loft), before);
    }
    LoftInfo fresh;
    fresh.setField(QStringLiteral("loftNum"), QStringLiteral("X"));
    QCOMPARE(fresh.getField(QStringLiteral("initFlag")), QVariant(false));
}

void TestRecords::loft_timeZone_changesLocalTextsAtOnce()
{
    UTC::setTimeZone(28800);
    LoftInfo copy; // even a working copy: the zone is the program's
    copy.setField(QStringLiteral("timeZone"), 3600);
    QCOMPARE(UTC::_timezone.load(), 3600);
    QCOMPARE(UTC::format(0, QStringLiteral("hh:mm")), QStringLiteral("01:00"));
    copy.setField(QStringLiteral("timeZone"), QStringLiteral("garbled"));
    QCOMPARE(UTC::format(0, QStringLiteral("hh:mm")), QStringLiteral("00:00"));
}

void TestRecords::loft_init_restoresAllDefaults()
{
    LoftInfo loft = changedLoft();
    const LoftInfo defaults;
    // Every one of the 27 fields differs from its default before init().
    const QVariantList changed = snapshot(loft);
    const QVariantList fresh = snapshot(defaults);
    for (int i = 0; i < changed.size(); ++i) {
        if (i == 2 + kLoftKeys.indexOf(QStringLiteral("password")))
            continue; // hidden by getField; compared as the member at index 0
        QVERIFY2(changed.at(i) != fresh.at(i), qPrintable(QString::number(i)));
    }
    loft.init();
    QCOMPARE(snapshot(loft), fresh);
    const QVariantList expected{QString(""), QString(""), QString(""), QString(""), QString(""),
                                QString(""), QString(""), QString(""), QString(""), QString(""),
                                QString(""), QString(""), QString(""), QString(""), QString(""),
                                QString(""), QString(""), QString(""), QString(""), QString(""),
                                0, 0, 300000u, qint64(0), QString(""), QStringLiteral("EN"),
                                false, 28800, QString(""), 100};
    QCOMPARE(fresh, expected);
    for (const QVariant &value : fresh) {
        if (value.typeId() == QMetaType::QString)
            QVERIFY(!value.toString().isNull()); // stored as text, never NULL
    }
    QVERIFY(!loft.password.isNull() && !loft.loftNum.isNull());
}

void TestRecords::record_getField_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("member");        // member to set first, "" for none
    QTest::addColumn<QVariant>("set");
    QTest::addColumn<QVariant>("expected");
    const QVariant none;
    QTest::newRow("assocNum") << "assocNum" << "assocNum" << QVariant("A1") << QVariant("A1");
    QTest::newRow("raceCode") << "raceCode" << "raceCode" << QVariant("train") << QVariant("train");
    QTest::newRow("uidMarked") << "uidMarked" << "uidMarked" << QVariant("u") << QVariant("u");
    QTest::newRow("eringNum") << "eringNum" << "eringNum" << QVariant("E") << QVariant("E");
    QTest::newRow("randNumMarked") << "randNumMarked" << "randNumMarked" << QVariant(-7) << QVariant(-7);
    QTest::newRow("uidBack") << "uidBack" << "uidBack" << QVariant("b") << QVariant("b");
    QTest::newRow("randNumberBack") << "randNumberBack" << "randNumberBack" << QVariant(300)
                                    << QVariant(300);
    QTest::newRow("backHome unset") << "backHome" << "" << none << QVariant(false);
    QTest::newRow("backHome negative time") << "backHome" << "backTimeEring" << QVariant(qint64(-1))
                                            << QVariant(true);
    QTest::newRow("uidValid unset") << "uidValid" << "" << none << QVariant(false);
    QTest::newRow("uidValid at 1") << "uidValid" << "backTimeUid" << QVariant(qint64(1))
                                   << QVariant(true);
    QTest::newRow("assignFlag new") << "assignFlag" << "" << none << QVariant(false);
    QTest::newRow("assignFlag with ring") << "assignFlag" << "eringNum" << QVariant("E")
                                          << QVariant(true);
    QTest::newRow("markFlag unset") << "markFlag" << "" << none << QVariant(false);
    QTest::newRow("markFlag basketed") << "markFlag" << "markTime" << QVariant(qint64(1))
                                       << QVariant(true);
    for (const char *flag : {"gpsValid", "gpsOnLine", "needSms", "smsSendState", "uidUploadState",
                             "eringUploadState"})
        QTest::addRow("%s", flag) << flag << flag << QVariant(true) << QVariant(true);
    QTest::newRow("backOrder") << "backOrder" << "backOrder" << QVariant(9) << QVariant(9);
    QTest::newRow("backTimeEring") << "backTimeEring" << "backTimeEring"
                                   << QVariant(qint64(1700000000000)) << QVariant(qint64(1700000000000));
    QTest::newRow("backTimeUid") << "backTimeUid" << "backTimeUid" << QVariant(qint64(5))
                                 << QVariant(qint64(5));
    QTest::newRow("backHomeLat") << "backHomeLat" << "backHomeLat" << QVariant(INT_MIN)
                                 << QVariant(INT_MIN);
    QTest::newRow("backHomeLon") << "backHomeLon" << "backHomeLon" << QVariant(-5) << QVariant(-5);
    QTest::newRow("markReaderId") << "markReaderId" << "markReaderId" << QVariant("r") << QVariant("r");
    QTest::newRow("markAuthKey") << "markAuthKey" << "markAuthKey" << QVariant("k") << QVariant("k");
    QTest::newRow("markTime") << "markTime" << "markTime" << QVariant(qint64(6)) << QVariant(qint64(6));
    QTest::newRow("markOrder") << "markOrder" << "markOrder" << QVariant(2) << QVariant(2);
    QTest::newRow("unknown") << "backFlag" << "" << none << none;
}

void TestRecords::record_getField()
{
    QFETCH(QString, key);
    QFETCH(QString, member);
    QFETCH(QVariant, set);
    QFETCH(QVariant, expected);
    PigeonRecord record;
    const QHash<QString, std::function<void(const QVariant &)>> setters = {
        {QStringLiteral("assocNum"), [&](const QVariant &v) { record.assocNum = v.toString(); }},
        {QStringLiteral("raceCode"), [&](const QVariant &v) { record.raceCode = v.toString(); }},
        {QStringLiteral("uidMarked"), [&](const QVariant &v) { record.uidMarked = v.toString(); }},
        {QStringLiteral("eringNum"), [&](const QVariant &v) { record.eringNum = v.toString(); }},
        {QStringLiteral("randNumMarked"), [&](const QVariant &v) { record.randNumMarked = v.toInt(); }},
        {QStringLiteral("uidBack"), [&](const QVariant &v) { record.uidBack = v.toString(); }},
        {QStringLiteral("randNumberBack"), [&](const QVariant &v) { record.randNumberBack = v.toInt(); }},
        {QStringLiteral("backTimeEring"), [&](const QVariant &v) { record.backTimeEring = v.toLongLong(); }},
        {QStringLiteral("backTimeUid"), [&](const QVariant &v) { record.backTimeUid = v.toLongLong(); }},
        {QStringLiteral("markTime"), [&](const QVariant &v) { record.markTime = v.toLongLong(); }},
        {QStringLiteral("gpsValid"), [&](const QVariant &v) { record.gpsValid = v.toBool(); }},
        {QStringLiteral("gpsOnLine"), [&](const QVariant &v) { record.gpsOnLine = v.toBool(); }},
        {QStringLiteral("needSms"), [&](const QVariant &v) { record.needSms = v.toBool(); }},
        {QStringLiteral("smsSendState"), [&](const QVariant &v) { record.smsSendState = v.toBool(); }},
        {QStringLiteral("uidUploadState"), [&](const QVariant &v) { record.uidUploadState = v.toBool(); }},
        {QStringLiteral("eringUploadState"), [&](const QVariant &v) { record.eringUploadState = v.toBool(); }},
        {QStringLiteral("backOrder"), [&](const QVariant &v) { record.backOrder = v.toInt(); }},
        {QStringLiteral("backHomeLat"), [&](const QVariant &v) { record.backHomeLat = v.toInt(); }},
        {QStringLiteral("backHomeLon"), [&](const QVariant &v) { record.backHomeLon = v.toInt(); }},
        {QStringLiteral("markReaderId"), [&](const QVariant &v) { record.markReaderId = v.toString(); }},
        {QStringLiteral("markAuthKey"), [&](const QVariant &v) { record.markAuthKey = v.toString(); }},
        {QStringLiteral("markOrder"), [&](const QVariant &v) { record.markOrder = v.toInt(); }},
    };
    if (!member.isEmpty()) {
        QVERIFY(setters.contains(member));
        setters.value(member)(set);
    }
    for (const QString &variant : caseVariants(key)) {
        compareTyped(record.getField(variant), expected);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestRecords::race_getField_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");
    const RaceInfo race = changedRace();
    const QVariant values[] = {
        race.raceCode, race.raceName, race.liberCode, race.liberTime, race.liberName,
        race.liberLon, race.liberLat, race.valid, race.clubCode, race.assocCode,
        race.markReaderId, race.markAuthKey, race.markDeviceTime, race.markReaderTime,
        race.markPrintFlag, true, race.backPrintReaderId, race.backPrintAuthKey,
        race.backPrintFlag, race.raceStopReaderTime, race.raceStopDeviceTime, race.printCount,
        true, 4, 1};
    for (int i = 0; i < kRaceKeys.size(); ++i)
        QTest::addRow("%s", qPrintable(kRaceKeys.at(i))) << kRaceKeys.at(i) << values[i];
    QTest::newRow("unknown") << "otherData" << QVariant();
}

void TestRecords::race_getField()
{
    QFETCH(QString, key);
    QFETCH(QVariant, expected);
    const RaceInfo race = changedRace();
    for (const QString &variant : caseVariants(key)) {
        compareTyped(race.getField(variant), expected);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestRecords::race_setField_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");
    for (const char *key : {"raceCode", "raceName", "liberCode", "liberName", "liberLon",
                            "liberLat", "clubCode", "assocCode"})
        QTest::addRow("%s", key) << key << QVariant(QStringLiteral("v")) << QVariant(QStringLiteral("v"));
    QTest::newRow("liberTime") << "LIBERTIME" << QVariant(QStringLiteral("1700000000000"))
                               << QVariant(qint64(1700000000000));
    QTest::newRow("printCount") << "printcount" << QVariant(2.0) << QVariant(2);
    QTest::newRow("printCount not a number") << "printCount" << QVariant(QStringLiteral("abc"))
                                             << QVariant(0);
    QTest::newRow("markUploadFlag") << "markUploadFlag" << QVariant(1) << QVariant(true);
    QTest::newRow("markUpLoadFlag") << "markUpLoadFlag" << QVariant(QStringLiteral("true"))
                                    << QVariant(true);
    QTest::newRow("markUploadedCount") << "MarkUploadedCount" << QVariant(QStringLiteral("7"))
                                       << QVariant(7);
    QTest::newRow("nomination") << "nomination" << QVariant(true) << QVariant(1);
}

void TestRecords::race_setField()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);
    RaceInfo race;
    race.setField(key, value);
    compareTyped(race.getField(key), expected);
}

void TestRecords::race_ignoredAndRefusedKeys_changeNothing()
{
    for (const char *key : {"markReaderId", "markAuthKey", "markDeviceTime", "markReaderTime",
                            "markPrintFlag", "backPrintReaderId", "backPrintAuthKey",
                            "backPrintFlag", "raceStopReaderTime", "raceStopDeviceTime",
                            "RACESTOPDEVICETIME", "valid", "Valid", "backFlag", "otherData", ""}) {
        RaceInfo race = changedRace();
        const QVariantList before = snapshot(race);
        race.setField(QLatin1String(key), QVariant(qint64(0)));
        race.setField(QLatin1String(key), QStringLiteral("99"));
        QCOMPARE(snapshot(race), before);
    }
    // "backFlag" follows the stop time: only a positive one counts.
    RaceInfo race;
    for (qint64 stop : {qint64(0), qint64(1), qint64(-1), LLONG_MIN}) {
        race.raceStopDeviceTime = stop;
        QCOMPARE(race.getField(QStringLiteral("backFlag")), QVariant(stop > 0));
    }
}

void TestRecords::race_furtherData_canonicalSpelling()
{
    RaceInfo race;
    for (const char *key : {"markUploadFlag", "markUploadedCount", "nomination"})
        QVERIFY(!race.getField(QLatin1String(key)).isValid());
    race.setField(QStringLiteral("markUpLoadFlag"), true);
    race.setField(QStringLiteral("MARKUPLOADFLAG"), false);
    race.setField(QStringLiteral("NOMINATION"), 1);
    QCOMPARE(race.otherData, (QVariantMap{{QStringLiteral("markUploadFlag"), false},
                                          {QStringLiteral("nomination"), 1}}));
    // Values read back from stored JSON arrive as doubles; callers see the key's type.
    race.otherData.insert(QStringLiteral("markUploadedCount"), 12.0);
    compareTyped(race.getField(QStringLiteral("markUploadedCount")), QVariant(12));
}

void TestRecords::defaults_nullAndEmpty()
{
    const PigeonRecord record;
    for (const QString *text : {&record.assocNum, &record.uidBack, &record.raceCode,
                                &record.uidMarked, &record.markReaderId, &record.markAuthKey})
        QVERIFY(text->isNull());
    QVERIFY(!record.eringNum.isNull() && record.eringNum.isEmpty());
    QVERIFY(record.backTimeEring == 0 && record.randNumberBack == 0 && record.backTimeUid == 0
            && record.backOrder == 0 && !record.gpsValid && !record.gpsOnLine
            && record.backHomeLat == 0 && record.backHomeLon == 0 && !record.needSms
            && !record.smsSendState && !record.eringUploadState && !record.uidUploadState
            && record.markTime == 0 && record.randNumMarked == 0 && record.markOrder == 0);

    const RaceInfo race;
    for (const QString &key : kRaceKeys) {
        const QVariant value = race.getField(key);
        if (key == QLatin1String("printCount"))
            QCOMPARE(value, QVariant(1));
        else if (value.typeId() == QMetaType::QString)
            QVERIFY2(value.toString().isNull(), qPrintable(key));
        else if (value.isValid())
            QVERIFY2(!value.toBool(), qPrintable(key));
        else
            QVERIFY(race.otherData.isEmpty());
    }

    const PigeonInfo pigeon;
    QVERIFY(!pigeon.eringNum.isNull() && pigeon.eringNum.isEmpty());
    for (const QString *text : {&pigeon.assocNum, &pigeon.uid, &pigeon.assocCode, &pigeon.color,
                                &pigeon.regNum})
        QVERIFY(text->isNull());
    QVERIFY(!pigeon.valid && !pigeon.test && pigeon.year == 0 && pigeon.sex == 2
            && pigeon.updateTime == 0);

    const Nomination nomination;
    QVERIFY(nomination.assocNum.isNull() && nomination.raceCode.isNull() && nomination.nom == 0);
}

void TestRecords::queuedSignals_carryRecordsIntact()
{
    for (const char *name : {"LoftInfo", "PigeonInfo", "QList<QSharedPointer<PigeonInfo> >",
                             "PigeonRecord", "QList<QSharedPointer<PigeonRecord> >", "LocationInfo",
                             "Log", "QList<QSharedPointer<Log> >", "RaceInfo",
                             "QList<QSharedPointer<RaceInfo> >"})
        QVERIFY2(QMetaType::fromName(QMetaObject::normalizedType(name)).isValid(), name);

    const LoftInfo loft = changedLoft();
    PigeonInfo pigeon;
    pigeon.assocNum = QStringLiteral("A1");
    pigeon.updateTime = 1LL << 42;
    PigeonRecord record;
    record.assocNum = QStringLiteral("A1");
    record.backTimeEring = 1LL << 41;
    LocationInfo location;
    location.lo = INT_MIN;
    location.validTime = 1LL << 40;
    Log entry;
    entry.logId = 1LL << 35;
    entry.logInfo = QStringLiteral("{\"a\":1}");
    const RaceInfo race = changedRace();

    Carrier carrier; // lives here; its signals are emitted from another thread
    QObject receiver;
    QList<QVariant> got;
    QList<Qt::HANDLE> threads;
    auto keep = [&](const QVariant &value) {
        got << value;
        threads << QThread::currentThreadId();
    };
    connect(&carrier, &Carrier::loft, &receiver, [&](LoftInfo v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::pigeon, &receiver, [&](PigeonInfo v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::pigeons, &receiver,
            [&](QList<QSharedPointer<PigeonInfo>> v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::record, &receiver, [&](PigeonRecord v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::records, &receiver,
            [&](QList<QSharedPointer<PigeonRecord>> v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::location, &receiver, [&](LocationInfo v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::log, &receiver, [&](Log v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::logs, &receiver,
            [&](QList<QSharedPointer<Log>> v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::race, &receiver, [&](RaceInfo v) { keep(QVariant::fromValue(v)); });
    connect(&carrier, &Carrier::races, &receiver,
            [&](QList<QSharedPointer<RaceInfo>> v) { keep(QVariant::fromValue(v)); });

    QList<QSharedPointer<PigeonInfo>> pigeonList;
    pigeonList.append(QSharedPointer<PigeonInfo>::create(pigeon));
    QList<QSharedPointer<PigeonRecord>> recordList;
    recordList.append(QSharedPointer<PigeonRecord>::create(record));
    QList<QSharedPointer<Log>> logList;
    logList.append(QSharedPointer<Log>::create(entry));
    QList<QSharedPointer<RaceInfo>> raceList;
    raceList.append(QSharedPointer<RaceInfo>::create(race));

    QThread *sender = QThread::create([&] {
        emit carrier.loft(loft);
        emit carrier.pigeon(pigeon);
        emit carrier.pigeons(pigeonList);
        emit carrier.record(record);
        emit carrier.records(recordList);
        emit carrier.location(location);
        emit carrier.log(entry);
        emit carrier.logs(logList);
        emit carrier.race(race);
        emit carrier.races(raceList);
    });
    sender->start();
    QVERIFY(sender->wait(10000));
    delete sender;
    QTRY_COMPARE(got.size(), 10);
    for (Qt::HANDLE thread : threads)
        QCOMPARE(thread, QThread::currentThreadId());

    QCOMPARE(snapshot(got.at(0).value<LoftInfo>()), snapshot(loft));
    QCOMPARE(got.at(1).value<PigeonInfo>().updateTime, pigeon.updateTime);
    QCOMPARE(got.at(2).value<QList<QSharedPointer<PigeonInfo>>>().at(0)->assocNum, pigeon.assocNum);
    QCOMPARE(got.at(3).value<PigeonRecord>().backTimeEring, record.backTimeEring);
    QCOMPARE(got.at(4).value<QList<QSharedPointer<PigeonRecord>>>().at(0)->assocNum, record.assocNum);
    QCOMPARE(got.at(5).value<LocationInfo>().lo, INT_MIN);
    QCOMPARE(got.at(5).value<LocationInfo>().validTime, location.validTime);
    QCOMPARE(got.at(6).value<Log>().logId, entry.logId);
    QCOMPARE(got.at(7).value<QList<QSharedPointer<Log>>>().at(0)->logInfo, entry.logInfo);
    QCOMPARE(snapshot(got.at(8).value<RaceInfo>()), snapshot(race));
    QCOMPARE(snapshot(*got.at(9).value<QList<QSharedPointer<RaceInfo>>>().at(0)), snapshot(race));
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
