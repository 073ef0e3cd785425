// The cloud JSON-RPC client without a modem: its post is replaced by one that
// records the request and hands back a scripted reply. The requests are
// checked against the cloud endpoint peer's own checks.
#include "core/vexexception.h"
#include "gsm/jsonservice.h"

#include "cloudcall.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>

namespace {

const char kLoft[] = "L100";
const char kPassword[] = "secret";

// A client whose post answers what the test scripts.
class ScriptedJsonService : public JsonService
{
public:
    ScriptedJsonService()
        : JsonService(nullptr)
    {
    }

    QByteArray postHttp(QByteArray body) override
    {
        requests << body;
        if (failPost)
            throw VexException(4097, QStringLiteral("requestHTTP error!"), QString());
        return reply ? reply(lastId()) : QByteArray();
    }

    // The id of the last request, from its text.
    int lastId() const
    {
        return QJsonDocument::fromJson(requests.last()).object().value(QStringLiteral("id")).toInt();
    }

    QList<QByteArray> requests;
    std::function<QByteArray(int id)> reply;
    bool failPost = false;
};

// The outcome of one call: the result, or the thrown code and message.
struct Outcome
{
    QVariant result;
    int code = 0;
    QString message;
    QString desc;
};

Outcome run(const std::function<QVariant()> &call)
{
    Outcome o;
    try {
        o.result = call();
    } catch (const VexException &e) {
        o.code = e.getErrorCode();
        o.message = e.getErrorMessage();
        o.desc = e.getErrorDesc();
    }
    return o;
}

QMap<QString, QString> lofts()
{
    return {{QLatin1String(kLoft), QLatin1String(kPassword)}};
}

} // namespace

class TestJsonService : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void requestCounter_firstIsOneFailedPostUsesANumber();
    void request_paramsCodeAndMethods_data();
    void request_paramsCodeAndMethods();
    void request_passwordOnlyInTheCode();
    void request_nonAsciiPayloadAcceptedByEndpoint();
    void replies_data();
    void replies();
};

void TestJsonService::initTestCase()
{
    QCOMPARE(JsonService::_id.load(), 0); // nothing has asked before this suite
}

void TestJsonService::requestCounter_firstIsOneFailedPostUsesANumber()
{
    ScriptedJsonService rpc;
    rpc.reply = [](int id) { return QByteArray("{\"id\":") + QByteArray::number(id) + ",\"result\":1}"; };
    QCOMPARE(run([&] { return rpc.sendState(kLoft, kPassword, "{}"); }).result, QVariant(1));
    QVERIFY(rpc.requests.first().startsWith("{\"id\":1,\"method\":"));

    rpc.failPost = true;
    const Outcome failed = run([&] { return rpc.sendState(kLoft, kPassword, "{}"); });
    QCOMPARE(failed.code, 4097); // the HTTP layer's failure passes as it came
    QCOMPARE(rpc.lastId(), 2);

    rpc.failPost = false;
    QCOMPARE(run([&] { return rpc.sendState(kLoft, kPassword, "{}"); }).code, 0);
    QCOMPARE(rpc.lastId(), 3);
    QCOMPARE(JsonService::_id.load(), 3);
}

void TestJsonService::request_paramsCodeAndMethods_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("params");
    QTest::newRow("state") << "sendState" << "sendState4" << 3;
    QTest::newRow("mark record") << "sendMarkRecord" << "uploadMarkRecord" << 3;
    QTest::newRow("records with owner") << "sendRecordList" << "sendRecords" << 4;
    QTest::newRow("records, no owner") << "sendRecordListNoOwner" << "sendRecords" << 3;
    QTest::newRow("single record") << "sendRecord" << "sendRecord4" << 3;
    QTest::newRow("mailbox command") << "doMethodMac" << "uploadArriveData" << 3;
}

void TestJsonService::request_paramsCodeAndMethods()
{
    QFETCH(QString, call);
    QFETCH(QString, method);
    QFETCH(int, params);
    ScriptedJsonService rpc;
    rpc.reply = [](int id) { return QByteArray("{\"id\":") + QByteArray::number(id) + ",\"result\":true}"; };
    const QByteArray payload = "{\"raceCode\":\"R1\"}";
    const Outcome o = run([&]() -> QVariant {
        if (call == QLatin1String("sendState"))
            return rpc.sendState(kLoft, kPassword, payload);
        if (call == QLatin1String("sendMarkRecord"))
            return rpc.sendMarkRecord(kLoft, kPassword, payload);
        if (call == QLatin1String("sendRecordList"))
            rpc.sendRecordList(kLoft, kPassword, payload, QStringLiteral("Ann"));
        else if (call == QLatin1String("sendRecordListNoOwner"))
            rpc.sendRecordList(kLoft, kPassword, payload, QString());
        else if (call == QLatin1String("sendRecord"))
            rpc.sendRecord(kLoft, kPassword, payload);
        else
            return rpc.doMethodMac("uploadArriveData", kLoft, kPassword, payload, QString());
        return QVariant();
    });
    QCOMPARE(o.code, 0);
    const QByteArray body = rpc.requests.last();
    const QString code = CloudCall::expectedCode(QLatin1String(kLoft), QLatin1String(kPassword),
                                                 QString::fromUtf8(payload));
    QString expected = QStringLiteral("{\"id\":%1,\"method\":\"%2\",\"params\":[\"L100\",\"{\\\"raceCode\\\":\\\"R1\\\"}\",\"%3\"")
                           .arg(rpc.lastId())
                           .arg(method, code);
    expected += params == 4 ? QStringLiteral(",\"Ann\"]}") : QStringLiteral("]}");
    QCOMPARE(QString::fromUtf8(body), expected);
    const CloudCall checked = CloudCall::inspect("application/json-rpc", body, lofts());
    QVERIFY2(checked.isValid(), qPrintable(checked.problems.join(QLatin1Char(','))));
    QCOMPARE(checked.paramCount, params);
}

void TestJsonService::request_passwordOnlyInTheCode()
{
    ScriptedJsonService rpc;
    rpc.reply = [](int id) { return QByteArray("{\"id\":") + QByteArray::number(id) + "}"; };
    run([&] { return rpc.doMethodMac("sendState4", kLoft, "pw-one", "{\"a\":1}", QString()); });
    run([&] { return rpc.doMethodMac("sendState4", kLoft, "pw-two", "{\"a\":1}", QString()); });
    const QJsonObject one = QJsonDocument::fromJson(rpc.requests.at(0)).object();
    const QJsonObject two = QJsonDocument::fromJson(rpc.requests.at(1)).object();
    QVERIFY(!rpc.requests.at(0).contains("pw-one"));
    QVERIFY(!rpc.requests.at(1).contains("pw-two"));
    const QJsonArray p1 = one.value(QStringLiteral("params")).toArray();
    const QJsonArray p2 = two.value(QStringLiteral("params")).toArray();
    QCOMPARE(p1.at(0), p2.at(0));
    QCOMPARE(p1.at(1), p2.at(1));
    QVERIFY(p1.at(2) != p2.at(2));
}

void TestJsonService::request_nonAsciiPayloadAcceptedByEndpoint()
{
    ScriptedJsonService rpc;
    rpc.reply = [](int id) { return QByteArray("{\"id\":") + QByteArray::number(id) + ",\"result\":0}"; };
    // Beyond Latin-1, a control character and the seven escapes: the code
    // covers the very bytes that travel.
    const QByteArray payload = QString::fromUtf8("{\"liberName\":\"K\xc3\xb6ln \xe2\x82\xac\x01\\\"\\n\"}").toUtf8();
    QCOMPARE(run([&] { return rpc.sendMarkRecord(kLoft, kPassword, payload); }).code, 0);
    const CloudCall checked = CloudCall::inspect("application/json-rpc; charset=UTF-8", rpc.requests.last(), lofts());
    QVERIFY2(checked.isValid(), qPrintable(checked.problems.join(QLatin1Char(','))));
    QCOMPARE(checked.payload.toUtf8(), payload);
}

void TestJsonService::replies_data()
{
    QTest::addColumn<bool>("signedCall");
    QTest::addColumn<QByteArray>("reply"); // %ID: the request's id; %NEXT: one more; %BIG: 2^32 more
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("desc");

    const QString fmt = QStringLiteral("Response format error!");
    const QString idNull = QStringLiteral("Response id is null!");
    const QString idError = QStringLiteral("Response id error!");
    QTest::newRow("result") << true << QByteArray("{\"id\":%ID,\"result\":7}") << QVariant(7) << false << QString() << QString();
    QTest::newRow("error null") << true << QByteArray("{\"error\":null,\"id\":%ID,\"result\":\"ok\"}")
                                << QVariant(QStringLiteral("ok")) << false << QString() << QString();
    QTest::newRow("no result") << true << QByteArray("{\"id\":%ID}") << QVariant() << false << QString() << QString();
    QTest::newRow("error text, wrong id") << true << QByteArray("{\"error\":\"denied\",\"id\":%NEXT}") << QVariant()
                                          << true << "denied" << "denied";
    QTest::newRow("error object") << true << QByteArray("{\"error\":{\"code\":1},\"id\":%ID}") << QVariant()
                                  << true << QString() << QString();
    QTest::newRow("error number") << true << QByteArray("{\"error\":-5,\"id\":%ID}") << QVariant() << true << "-5" << "-5";
    QTest::newRow("error true") << true << QByteArray("{\"error\":true,\"id\":%ID}") << QVariant() << true << "true" << "true";
    QTest::newRow("no id") << true << QByteArray("{\"result\":1}") << QVariant() << true << idNull << idNull;
    QTest::newRow("id null") << true << QByteArray("{\"id\":null,\"result\":1}") << QVariant() << true << idNull << idNull;
    QTest::newRow("another id") << true << QByteArray("{\"id\":%NEXT,\"result\":1}") << QVariant() << true << idError << idError;
    QTest::newRow("id 2^32 away") << true << QByteArray("{\"id\":%BIG,\"result\":1}") << QVariant() << true << idError << idError;
    QTest::newRow("id fraction") << true << QByteArray("{\"id\":%ID.5,\"result\":1}") << QVariant() << true << idError << idError;
    QTest::newRow("id text") << true << QByteArray("{\"id\":\"abc\",\"result\":1}") << QVariant() << true << idError << idError;
    QTest::newRow("id as decimal text") << true << QByteArray("{\"id\":\"%ID\",\"result\":2}") << QVariant(2)
                                        << false << QString() << QString();
    QTest::newRow("not JSON, signed") << true << QByteArray("<html>busy</html>") << QVariant() << true << fmt << fmt;
    QTest::newRow("empty body, signed") << true << QByteArray() << QVariant() << true << fmt << fmt;
    QTest::newRow("scalar") << true << QByteArray("5") << QVariant() << true << idNull << idNull;
    QTest::newRow("array") << true << QByteArray("[{\"id\":%ID}]") << QVariant() << true << idNull << idNull;
    QTest::newRow("not JSON, unsigned") << false << QByteArray("<html>busy</html>") << QVariant() << true << idNull << idNull;
    QTest::newRow("error, unsigned") << false << QByteArray("{\"error\":\"denied\",\"id\":%ID}") << QVariant()
                                     << true << "Send record failed!" << "Send record failed!";
    QTest::newRow("result, unsigned") << false << QByteArray("{\"id\":%ID,\"result\":[1]}")
                                      << QVariant(QVariantList{1}) << false << QString() << QString();
}

void TestJsonService::replies()
{
    QFETCH(bool, signedCall);
    QFETCH(QByteArray, reply);
    QFETCH(QVariant, result);
    QFETCH(bool, fails);
    QFETCH(QString, message);
    QFETCH(QString, desc);
    ScriptedJsonService rpc;
    rpc.reply = [reply](int id) {
        QByteArray body = reply;
        body.replace("%NEXT", QByteArray::number(id + 1));
        body.replace("%BIG", QByteArray::number(id + (qint64(1) << 32)));
        return body.replace("%ID", QByteArray::number(id));
    };
    const Outcome o = run([&] {
        return signedCall ? rpc.doMethodMac("sendState4", kLoft, kPassword, "{}", QString())
                          : rpc.doMethod("sendRecord", kLoft, {QStringLiteral("x")});
    });
    if (!fails) {
        QCOMPARE(o.code, 0);
        QCOMPARE(o.result, result);
        return;
    }
    QCOMPARE(o.code, 4098);
    QCOMPARE(o.message, message);
    QCOMPARE(o.desc, desc);
}

QTEST_GUILESS_MAIN(TestJsonService)
#include "tst_jsonservice.moc"
