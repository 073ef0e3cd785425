#include "core/log.h"
#include "core/utc.h"

#include <QCoreApplication>
#include <QTest>
#include <QTranslator>

#include <climits>

// The event-log entry: type names, keyed fields with the five pieces the PC
// link reads, and the display text with its local times.
class TestLog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void getTypeString_data();
    void getTypeString();
    void pieces_data();
    void pieces();
    void fields_haveTheirTypes();
    void fields_unknownOrOtherCase_areInvalidAndIgnored();
    void fields_repeatedKeyAndMaps();
    void toDisplayText_data();
    void toDisplayText();
    void toDisplayText_translatedFormat();
};

namespace {

Log makeLog(int type, const QString &info)
{
    Log log;
    log.logType = type;
    log.logInfo = info;
    return log;
}

} // namespace

void TestLog::init()
{
    UTC::setTimeZone(28800);
}

void TestLog::cleanup()
{
    UTC::setTimeZone(0);
}

void TestLog::getTypeString_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    const char *const names[] = {"Unknow", "Pigeon Back", "Internet Upload", "SMS Upload",
                                 "Power on", "Time Verify", "Mark", "Unknow", "Unknow",
                                 "Unassignment", "Unknow", "Delete Race", "Unknow",
                                 "Modify Params", "SMS Notify", "Power off", "Mark Upload",
                                 "Close Upload", "Assignment", "Unknow"};
    for (int code = 0; code <= 19; ++code)
        QTest::addRow("code %d", code) << code << QString::fromLatin1(names[code]);
    QTest::newRow("negative") << -1 << QStringLiteral("Unknow");
    QTest::newRow("large") << 256 << QStringLiteral("Unknow");
    QTest::newRow("smallest int") << INT_MIN << QStringLiteral("Unknow");
}

void TestLog::getTypeString()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    QCOMPARE(makeLog(type, QString()).getTypeString(), name);
}

void TestLog::pieces_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("empty") << 0 << QList<int>{0, 0, 0, 0, 0};
    QTest::newRow("149") << 149 << QList<int>{149, 0, 0, 0, 0};
    QTest::newRow("150") << 150 << QList<int>{150, 0, 0, 0, 0};
    QTest::newRow("151") << 151 << QList<int>{150, 1, 0, 0, 0};
    QTest::newRow("700") << 700 << QList<int>{150, 150, 150, 150, 100};
}

void TestLog::pieces()
{
    QFETCH(int, length);
    QFETCH(QList<int>, sizes);
    QString info;
    for (int i = 0; i < length; ++i)
        info += QChar(i % 3 == 0 ? u'é' : QChar(u'a' + i % 26)); // characters, not bytes
    Log log = makeLog(1, info);
    QString joined;
    for (int piece = 0; piece < 5; ++piece) {
        const QVariant value = log.getField(QStringLiteral("logInfo%1").arg(piece));
        QCOMPARE(value.typeId(), int(QMetaType::QString));
        QVERIFY(!value.toString().isNull()); // stored and sent as a text, never NULL
        QCOMPARE(value.toString().size(), sizes.at(piece));
        joined += value.toString();
    }
    QCOMPARE(joined, info);
    QCOMPARE(log.getField(QStringLiteral("infoLen")), QVariant(length));
    QCOMPARE(log.getField(QStringLiteral("logInfo")).toString(), info);
}

void TestLog::fields_haveTheirTypes()
{
    Log log;
    log.setField(QStringLiteral("logId"), QVariant(QStringLiteral("8589934592")));
    log.setField(QStringLiteral("logType"), 5);
    log.setField(QStringLiteral("logTime"), qint64(1700000000000));
    log.setField(QStringLiteral("logInfo"), QStringLiteral("{}"));
    const struct {
        const char *key;
        QMetaType::Type type;
        QVariant value;
    } expected[] = {
        {"logId", QMetaType::LongLong, QVariant(qint64(8589934592))},
        {"logType", QMetaType::Int, QVariant(5)},
        {"logTime", QMetaType::LongLong, QVariant(qint64(1700000000000))},
        {"logInfo", QMetaType::QString, QVariant(QStringLiteral("{}"))},
        {"infoLen", QMetaType::Int, QVariant(2)},
    };
    for (const auto &e : expected) {
        const QVariant value = log.getField(QLatin1String(e.key));
        QCOMPARE(value.typeId(), int(e.type));
        QCOMPARE(value, e.value);
    }
    // QVariant rules: a text that is no number gives 0.
    log.setField(QStringLiteral("logType"), QStringLiteral("abc"));
    QCOMPARE(log.logType, 0);
}

void TestLog::fields_unknownOrOtherCase_areInvalidAndIgnored()
{
    Log log = makeLog(4, QStringLiteral("{\"a\":1}"));
    log.logId = 7;
    const Log before = log;
    for (const char *key : {"logid", "LogType", "logInfo5", "logInfo-1", "", "reason"}) {
        QVERIFY(!log.getField(QLatin1String(key)).isValid());
        log.setField(QLatin1String(key), 99);
    }
    QCOMPARE(log.logId, before.logId);
    QCOMPARE(log.logType, before.logType);
    QCOMPARE(log.logTime, before.logTime);
    QCOMPARE(log.logInfo, before.logInfo);
}

void TestLog::fields_repeatedKeyAndMaps()
{
    Log log = makeLog(6, QStringLiteral("x"));
    log.logId = 3;
    const QMap<QString, QVariant> fields = log.getFields(
        {QStringLiteral("logType"), QStringLiteral("logId"), QStringLiteral("logType"),
         QStringLiteral("nothing")});
    QCOMPARE(fields.size(), 3);
    QCOMPARE(fields.value(QStringLiteral("logType")), QVariant(6));
    QCOMPARE(fields.value(QStringLiteral("logId")), QVariant(qint64(3)));
    QVERIFY(!fields.value(QStringLiteral("nothing")).isValid());

    Log copy;
    copy.setFields(log.getFields({QStringLiteral("logId"), QStringLiteral("logType"),
                                  QStringLiteral("logTime"), QStringLiteral("logInfo"),
                                  QStringLiteral("infoLen")}));
    QCOMPARE(copy.logId, qint64(3));
    QCOMPARE(copy.logType, 6);
    QCOMPARE(copy.logInfo, QStringLiteral("x"));
}

void TestLog::toDisplayText_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("info");
    QTest::addColumn<QString>("text");
    const QString epoch = QStringLiteral("01/01/1970 08:00:00");
    const QString both = QStringLiteral("{\"newTime\":1700000061000,\"oldTime\":1700000000000}");
    QTest::newRow("time verify")
        << 5 << both << both + QStringLiteral("\n15/11/2023 06:13:20 --> 15/11/2023 06:14:21");
    const QString oldOnly = QStringLiteral("{\"oldTime\":1700000000000,\"source\":\"GSM\"}");
    QTest::newRow("time verify without newTime")
        << 5 << oldOnly << oldOnly + QStringLiteral("\n15/11/2023 06:13:20 --> ") + epoch;
    const QString race = QStringLiteral("{\"liberTime\":1700000000000,\"raceCode\":\"R1\"}");
    QTest::newRow("deleted race")
        << 11 << race << race + QStringLiteral("\nliberTime:15/11/2023 06:13:20");
    QTest::newRow("another type") << 1 << both << both + QStringLiteral("\n");
    QTest::newRow("empty text, time verify")
        << 5 << QString() << QStringLiteral("\n") + epoch + QStringLiteral(" --> ") + epoch;
    QTest::newRow("not JSON") << 5 << QStringLiteral("{oops") << QStringLiteral("{oops\n")
                                  + epoch + QStringLiteral(" --> ") + epoch;
    QTest::newRow("JSON but no object") << 11 << QStringLiteral("[1,2]")
                                        << QStringLiteral("[1,2]\nliberTime:") + epoch;
    QTest::newRow("time beyond 32 bits")
        << 11 << QStringLiteral("{\"liberTime\":4294967296000}")
        << QStringLiteral("{\"liberTime\":4294967296000}\nliberTime:07/02/2106 14:28:16");
    QTest::newRow("time as text reads 0")
        << 11 << QStringLiteral("{\"liberTime\":\"1700000000000\"}")
        << QStringLiteral("{\"liberTime\":\"1700000000000\"}\nliberTime:") + epoch;
}

void TestLog::toDisplayText()
{
    QFETCH(int, type);
    QFETCH(QString, info);
    QFETCH(QString, text);
    QCOMPARE(makeLog(type, info).toDisplayText(), text);
}

void TestLog::toDisplayText_translatedFormat()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/i18n/commonresource_test.qm")));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const QString info = QStringLiteral("{\"newTime\":1700000061000,\"oldTime\":1700000000000}");
    const QString shown = makeLog(5, info).toDisplayText();
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(shown, info + QStringLiteral("\n2023-11-15 06.13.20 --> 2023-11-15 06.14.21"));
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
