#include "core/jsonwriter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class TestJsonWriter : public QObject
{
    Q_OBJECT
private slots:
    void write_data();
    void write();
    void output_parsesBack();
};

void TestJsonWriter::write_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("json");

    QVariantMap nested{{QStringLiteral("b"), 1}, {QStringLiteral("a"), QVariantList{true, false, QVariant()}}};
    QTest::newRow("keys ascending, compact") << QVariant(nested) << QByteArray("{\"a\":[true,false,null],\"b\":1}");
    QVariantHash hash{{QStringLiteral("z"), 1}, {QStringLiteral("A"), 2}, {QStringLiteral("m"), 3}};
    QTest::newRow("hash sorted too") << QVariant(hash) << QByteArray("{\"A\":2,\"m\":3,\"z\":1}");
    QTest::newRow("empty object") << QVariant(QVariantMap()) << QByteArray("{}");
    QTest::newRow("empty array") << QVariant(QVariantList()) << QByteArray("[]");
    QTest::newRow("64-bit time exact") << QVariant(qint64(1700000000123)) << QByteArray("1700000000123");
    QTest::newRow("negative") << QVariant(-17) << QByteArray("-17");
    QTest::newRow("largest unsigned") << QVariant(quint64(18446744073709551615ULL)) << QByteArray("18446744073709551615");
    QTest::newRow("whole double as integer") << QVariant(1500000000000.0) << QByteArray("1500000000000");
    QTest::newRow("fraction") << QVariant(0.5) << QByteArray("0.5");
    QTest::newRow("the seven escapes")
        << QVariant(QStringLiteral("\\\"\b\f\n\r\t"))
        << QByteArray("\"\\\\\\\"\\b\\f\\n\\r\\t\"");
    QTest::newRow("slash and unicode stay raw")
        << QVariant(QStringLiteral("a/b \u00e9\u4e2d"))
        << QByteArray("\"a/b \xc3\xa9\xe4\xb8\xad\"");
    QTest::newRow("null string is empty") << QVariant(QString()) << QByteArray("\"\"");
    QTest::newRow("string list") << QVariant(QStringList{QStringLiteral("x"), QStringLiteral("y")}) << QByteArray("[\"x\",\"y\"]");
    QTest::newRow("json object input sorted")
        << QVariant(QJsonObject{{QStringLiteral("k"), 2}, {QStringLiteral("c"), QStringLiteral("v")}})
        << QByteArray("{\"c\":\"v\",\"k\":2}");
}

void TestJsonWriter::write()
{
    QFETCH(QVariant, value);
    QFETCH(QByteArray, json);
    QCOMPARE(JsonWriter::write(value), json);
}

void TestJsonWriter::output_parsesBack()
{
    const QVariantMap map{{QStringLiteral("name"), QStringLiteral("Loft \"7\"\n\u00e9")},
                          {QStringLiteral("time"), qint64(1733829000000)},
                          {QStringLiteral("list"), QVariantList{1, QStringLiteral("two")}}};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(JsonWriter::write(map), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(doc.object().toVariantMap().value(QStringLiteral("name")).toString(), map.value(QStringLiteral("name")).toString());
    QCOMPARE(qint64(doc.object().value(QStringLiteral("time")).toDouble()), qint64(1733829000000));
}

QTEST_GUILESS_MAIN(TestJsonWriter)
#include "tst_jsonwriter.moc"
