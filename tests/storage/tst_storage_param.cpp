#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "storage/storage.h"

#include "storagefixture.h"

#include <QTest>

#include <limits>

// Named settings stored as text: the typed readers' default rule, exact
// round trips of awkward values, and a failed write that keeps the old value.
class TestStorageParam : public QObject
{
    Q_OBJECT
private slots:
    void typedRead_data();
    void typedRead();
    void typedWrite_storesDecimalText();
    void storedOfAnotherType_data();
    void storedOfAnotherType();
    void roundTrip_data();
    void roundTrip();
    void failedWrite_keepsOldValue_data();
    void failedWrite_keepsOldValue();
};

void TestStorageParam::typedRead_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: no row; null: a NULL val
    QTest::addColumn<int>("int32");       // read with default 5
    QTest::addColumn<qint64>("int64");    // read with default 5

    QTest::newRow("missing") << QVariant() << 5 << qint64(5);
    QTest::newRow("NULL") << QVariant(QMetaType::fromType<QString>()) << 5 << qint64(5);
    QTest::newRow("empty") << QVariant(QStringLiteral("")) << 5 << qint64(5);
    QTest::newRow("zero") << QVariant(QStringLiteral("0")) << 0 << qint64(0);
    QTest::newRow("number") << QVariant(QStringLiteral("42")) << 42 << qint64(42);
    QTest::newRow("negative") << QVariant(QStringLiteral("-17")) << -17 << qint64(-17);
    QTest::newRow("not a number") << QVariant(QStringLiteral("abc")) << 0 << qint64(0);
    QTest::newRow("beyond 32 bits") << QVariant(QStringLiteral("2147483648")) << 0 << qint64(2147483648LL);
    QTest::newRow("64-bit minimum") << QVariant(QStringLiteral("-9223372036854775808")) << 0
                                    << std::numeric_limits<qint64>::min();
}

void TestStorageParam::typedRead()
{
    QFETCH(QVariant, stored);
    QFETCH(int, int32);
    QFETCH(qint64, int64);
    StorageFixture db;
    if (stored.isValid()) {
        const QString val = stored.isNull() ? QStringLiteral("NULL") : Storage::quoted(stored.toString());
        QVERIFY(db.exec(QStringLiteral("insert into APPPARAMS(id,val) values('key',%1)").arg(val)));
    }
    QCOMPARE(ServiceFactory::getParamInt32(QStringLiteral("key"), 5), int32);
    QCOMPARE(ServiceFactory::getParamInt64(QStringLiteral("key"), 5), int64);
}

void TestStorageParam::typedWrite_storesDecimalText()
{
    StorageFixture db;
    ServiceFactory::setParamInt32(QStringLiteral("channelMode"), 0);
    ServiceFactory::setParamInt64(QStringLiteral("club_time_diff"), -1);
    ServiceFactory::setParamInt64(QStringLiteral("gsmLan"), 4294967296LL);
    ServiceFactory::setParamInt32(QStringLiteral("channelMode"), 7); // replaces, never adds
    QCOMPARE(db.rows(QStringLiteral("select id, val from APPPARAMS order by id")),
             (QList<QVariantList>{{QStringLiteral("channelMode"), QStringLiteral("7")},
                                  {QStringLiteral("club_time_diff"), QStringLiteral("-1")},
                                  {QStringLiteral("gsmLan"), QStringLiteral("4294967296")}}));
    // The default applies only to an empty text.
    ServiceFactory::setParamInt32(QStringLiteral("channelMode"), 0);
    QCOMPARE(ServiceFactory::getParamInt32(QStringLiteral("channelMode"), 5), 0);
    // Written 64-bit, read 32-bit: beyond the range reads as 0.
    QCOMPARE(ServiceFactory::getParamInt32(QStringLiteral("gsmLan"), 0), 0);
}

// A value written bare or as bytes (by hand, or by a tool of the PC's) reads
// as its text; NULL as no value.
void TestStorageParam::storedOfAnotherType_data()
{
    QTest::addColumn<QString>("literal"); // as written in SQL
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("int32"); // read with default 5

    QTest::newRow("number written bare") << "42" << "42" << 42;
    QTest::newRow("bytes of digits") << "X'3132'" << "12" << 12;
    QTest::newRow("bytes of a word") << "X'6869'" << "hi" << 0;
    QTest::newRow("NULL") << "NULL" << "" << 5;
}

void TestStorageParam::storedOfAnotherType()
{
    QFETCH(QString, literal);
    QFETCH(QString, text);
    QFETCH(int, int32);
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into APPPARAMS(id,val) values('key',%1)").arg(literal)));
    QCOMPARE(Storage::instance()->getParam(QStringLiteral("key")), text);
    QCOMPARE(ServiceFactory::getParamInt32(QStringLiteral("key"), 5), int32);
}

void TestStorageParam::roundTrip_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes") << QStringLiteral("gsmNet") << QStringLiteral("it's \"the\" net''");
    QTest::newRow("placeholders") << QStringLiteral("%1%2") << QStringLiteral("%2 %1 :val ?");
    QTest::newRow("non-ASCII") << QStringLiteral("schlüssel") << QStringLiteral("Größe ✓ 中文 \U0001F426");
    QTest::newRow("10000 characters") << QStringLiteral("long") << QString(10000, QLatin1Char('x'));
    QTest::newRow("second key") << QStringLiteral("gsmNet") << QStringLiteral("v'),('evil','1");
    QTest::newRow("always true") << QStringLiteral("k' OR '1'='1") << QStringLiteral("x' OR '1'='1");
    QTest::newRow("statement end") << QStringLiteral("gsmNet") << QStringLiteral("x'); delete from APPPARAMS; --");
}

void TestStorageParam::roundTrip()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    StorageFixture db;
    Storage *storage = Storage::instance();
    storage->setParam(QStringLiteral("other"), QStringLiteral("kept"));
    storage->setParam(key, QStringLiteral("first"));
    storage->setParam(key, value);
    QCOMPARE(storage->getParam(key), value);
    QCOMPARE(storage->getParam(QStringLiteral("other")), QStringLiteral("kept"));
    QCOMPARE(db.value(QStringLiteral("select count(*) from APPPARAMS")).toInt(), 2);
    QCOMPARE(db.value(QStringLiteral("select val from APPPARAMS where id=%1").arg(Storage::quoted(key))).toString(),
             value);
}

void TestStorageParam::failedWrite_keepsOldValue_data()
{
    QTest::addColumn<QString>("failingKind");
    QTest::newRow("delete fails") << QStringLiteral("DELETE");
    QTest::newRow("insert fails") << QStringLiteral("INSERT");
}

void TestStorageParam::failedWrite_keepsOldValue()
{
    QFETCH(QString, failingKind);
    StorageFixture db;
    Storage::instance()->setParam(QStringLiteral("key"), QStringLiteral("old"));
    QVERIFY(db.failOn(failingKind, QStringLiteral("APPPARAMS")));
    try {
        Storage::instance()->setParam(QStringLiteral("key"), QStringLiteral("new"));
        QFAIL("setParam succeeded");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorMessage(), QStringLiteral("set param error!"));
        QCOMPARE(e.getErrorCode(), 0x11000013); // the trigger's constraint failure
    }
    QCOMPARE(Storage::instance()->getParam(QStringLiteral("key")), QStringLiteral("old"));
    QCOMPARE(db.value(QStringLiteral("select count(*) from APPPARAMS")).toInt(), 1);
    // The connection is left without an open transaction.
    QVERIFY(db.exec(QStringLiteral("drop trigger fail_%1_APPPARAMS").arg(failingKind)));
    Storage::instance()->setParam(QStringLiteral("key"), QStringLiteral("new"));
    QCOMPARE(Storage::instance()->getParam(QStringLiteral("key")), QStringLiteral("new"));
}

QTEST_GUILESS_MAIN(TestStorageParam)
#include "tst_storage_param.moc"
