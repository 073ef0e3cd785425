// The cloud link under a misbehaving endpoint: the real modem thread (its
// loop scaled) on a well-behaved u-blox modem peer whose socket reaches the
// cloud endpoint peer; the real engine behind a gate that lets every data
// turn through. One table of fault modes: for each, the failing call ends the
// turn as failed and is reported, nothing it carried is taken as
// acknowledged, and once the endpoint behaves every basketing record and
// arrival goes out exactly once more, in order, and nothing after that; the
// modem is not restarted for a fault of the endpoint.
#include "networkrig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

constexpr int kWaitMs = NetworkRig::kWaitMs;
// Calls that misbehave before the endpoint behaves again.
constexpr int kFaultyCalls = 2;
// Turns watched after everything was acknowledged, to see nothing resent.
constexpr int kQuietTurns = 3;
// Past the driver's reply wait at the rig's scale (15 s / 20).
constexpr int kLateReplyMs = 1500;
const char kMarkFailed[] = "uploadMarkRecord2 VexException";
const char kConnectFailed[] = "Connect 'cloud.test:9080' failed!";

// One call as "method:assocNum,..." for the comparison of what arrived.
QString describe(const CloudCall &call)
{
    if (call.method == QLatin1String("sendRecords")) {
        QStringList assocNums;
        for (const QJsonValue &line : QJsonDocument::fromJson(call.payload.toUtf8()).array())
            assocNums << line.toString().split(QLatin1Char(',')).value(3);
        return call.method + QLatin1Char(':') + assocNums.join(QLatin1Char(','));
    }
    return call.method + QLatin1Char(':') + NetworkRig::payloadField(call, QStringLiteral("assocNum"));
}

QStringList describe(const QList<CloudCall> &calls)
{
    QStringList out;
    for (const CloudCall &call : calls)
        out << describe(call);
    return out;
}

bool allAcknowledged()
{
    const QSharedPointer<RaceInfo> race = NetworkRig::race(QStringLiteral("R1"));
    const QSharedPointer<PigeonRecord> arrival = NetworkRig::record(QStringLiteral("P1"));
    return race && race->getField(QStringLiteral("markUploadedCount")).toInt() == 2 && arrival
        && arrival->eringUploadState;
}

int failedTurns(const TurnGate &gate)
{
    int n = 0;
    for (int r : gate.results(TurnGate::Gprs))
        n += r == 2 ? 1 : 0;
    return n;
}

} // namespace

class TestCloudFaults : public QObject
{
    Q_OBJECT
private slots:
    void faultMode_pendingUploadsSentOnceWhenBack_data();
    void faultMode_pendingUploadsSentOnceWhenBack();
};

void TestCloudFaults::faultMode_pendingUploadsSentOnceWhenBack_data()
{
    QTest::addColumn<int>("fault"); // -1: the endpoint is gone
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QString>("error"); // the failure as logged

    // The errors as the exceptions log them (code in hexadecimal).
    const QString httpFailed = QStringLiteral("Error:1001,Message:requestHTTP error!");
    const QString protocol = QStringLiteral("Error:1005,Message:HTTP protocol error!");
    const QString format = QStringLiteral("Error:1002,Message:Response format error!");
    const auto row = [&](const char *name, CloudFault fault, const QString &error,
                         const QByteArray &value = QByteArray(), int delayMs = 0) {
        QTest::newRow(name) << int(fault) << value << delayMs << error;
    };
    row("silence", CloudFault::Silence, httpFailed);
    row("connection closed mid-reply", CloudFault::CloseMidReply, httpFailed);
    row("short HTTP: head cut, connection closed", CloudFault::RawReply, httpFailed,
        "HTTP/1.1 200 OK\r\nContent-Len");
    row("garbled HTTP status line", CloudFault::RawReply, protocol,
        "HTTP/1.1 2\xff" "0 \x01OK\r\nContent-Length: 2\r\n\r\n{}");
    row("garbled chunk size after a whole body", CloudFault::GarbledChunk, protocol);
    row("HTTP error status", CloudFault::Status, protocol, "500 Internal Server Error");
    row("broken JSON", CloudFault::RawBody, format, "{\"id\":1,\"result\"");
    row("not JSON at all", CloudFault::RawBody, format, "<html>busy</html>");
    row("JSON-RPC error: refusal", CloudFault::ErrorText, QStringLiteral("Error:1002,Message:loft suspended"),
        "loft suspended");
    row("JSON-RPC error object", CloudFault::ErrorObject, QStringLiteral("Error:1002,Message:\""));
    row("wrong id", CloudFault::WrongId, QStringLiteral("Error:1002,Message:Response id error!"));
    row("no id", CloudFault::MissingId, QStringLiteral("Error:1002,Message:Response id is null!"));
    row("late reply, after the wait", CloudFault::Late, httpFailed, QByteArray(), kLateReplyMs);
    QTest::newRow("endpoint gone, then back") << -1 << QByteArray() << 0 << QString::fromLatin1(kConnectFailed);
}

void TestCloudFaults::faultMode_pendingUploadsSentOnceWhenBack()
{
    QFETCH(int, fault);
    QFETCH(QByteArray, value);
    QFETCH(int, delayMs);
    QFETCH(QString, error);

    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    // A running race: two basketing records to send one by one, and the
    // first pigeon already home.
    NetworkRig::addRace(QStringLiteral("R1"), 3);
    NetworkRig::saveRecord(NetworkRig::arrived(QStringLiteral("P1"), 0));
    NetworkRig::saveRecord(NetworkRig::basketed(QStringLiteral("P2"), 1000));
    const QStringList expected{"uploadMarkRecord:P1", "uploadMarkRecord:P2", "sendRecords:P1"};

    const bool gone = fault < 0;
    if (gone)
        rig.endpoint.goAway();
    else
        rig.endpoint.addFault(CloudFault(fault), kFaultyCalls, value, delayMs);
    rig.start();
    rig.gate.allow(TurnGate::Gprs, -1);

    QTRY_VERIFY_WITH_TIMEOUT(failedTurns(rig.gate) >= kFaultyCalls, kWaitMs);
    QVERIFY2(rig.capture.contains(error), qPrintable(error));
    // The engine's report of the failed upload.
    QVERIFY(rig.capture.contains(QLatin1String(gone ? kConnectFailed : kMarkFailed)));
    if (gone) {
        // Nothing reached the endpoint and nothing counts as sent.
        QVERIFY(rig.endpoint.calls().isEmpty());
        QVERIFY(!allAcknowledged());
        QCOMPARE(NetworkRig::race(QStringLiteral("R1"))->getField(QStringLiteral("markUploadedCount")).toInt(), 0);
        QVERIFY(rig.endpoint.comeBack());
    }

    QTRY_VERIFY_WITH_TIMEOUT(allAcknowledged(), kWaitMs);
    const int turns = int(rig.gate.results(TurnGate::Gprs).size());
    QTRY_VERIFY_WITH_TIMEOUT(rig.gate.results(TurnGate::Gprs).size() >= turns + kQuietTurns, kWaitMs);

    const QList<CloudCall> calls = rig.endpoint.calls();
    for (const CloudCall &call : calls)
        QVERIFY2(call.isValid(), qPrintable(call.problems.join(QLatin1Char(','))));
    // The failed calls all carried the first record, each failure ending its
    // turn; then each upload exactly once.
    const int faulty = gone ? 0 : kFaultyCalls;
    QCOMPARE(describe(calls.mid(0, faulty)), QStringList(faulty, QStringLiteral("uploadMarkRecord:P1")));
    QCOMPARE(describe(calls.mid(faulty)), expected);
    QCOMPARE(rig.peer.powerOnCount(), 1);
}

QTEST_GUILESS_MAIN(TestCloudFaults)
#include "tst_cloudfaults.moc"
