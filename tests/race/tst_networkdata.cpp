// The race engine's data turn on the whole road: the real modem thread (its
// loop scaled) on the u-blox modem peer, whose socket reaches the cloud
// endpoint peer; the engine behind a gate that lets single turns through and
// records their results. Covers the single basketing records, the arrival
// uploads, the turn's result codes and awkward texts, with the database
// checked after each turn, and the endpoint as a process. A turn that sent
// only basketing records (or the state) gives the result of its arrival
// step, 1 when no arrival was due.
#include "storage/storage.h"

#include "networkrig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

constexpr int kWaitMs = NetworkRig::kWaitMs;
constexpr qint64 kBackTime = NetworkRig::kBackTime;
// Within the driver's scaled receive budget.
constexpr int kLateMs = 600;

PigeonRecord basketed(const QString &assocNum, qint64 offsetMs, const QString &raceCode = QStringLiteral("R1"))
{
    return NetworkRig::basketed(assocNum, offsetMs, raceCode);
}

PigeonRecord arrived(const QString &assocNum, qint64 offsetMs, bool training = false)
{
    return NetworkRig::arrived(assocNum, offsetMs, training);
}

QString payloadField(const CloudCall &call, const QString &key)
{
    return NetworkRig::payloadField(call, key);
}

// The association numbers of a "sendRecords" call's lines (field 4).
QStringList lineAssocNums(const CloudCall &call)
{
    QStringList out;
    for (const QJsonValue &line : QJsonDocument::fromJson(call.payload.toUtf8()).array())
        out << line.toString().split(QLatin1Char(',')).value(3);
    return out;
}

QStringList markedAssocNums(const QList<CloudCall> &calls)
{
    QStringList out;
    for (const CloudCall &call : calls)
        out << payloadField(call, QStringLiteral("assocNum"));
    return out;
}

int uploadedCount(const QString &raceCode)
{
    return NetworkRig::race(raceCode)->getField(QStringLiteral("markUploadedCount")).toInt();
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void allValid(const QList<CloudCall> &calls)
{
    for (const CloudCall &call : calls)
        QVERIFY2(call.isValid(), qPrintable(call.problems.join(QLatin1Char(','))));
}

} // namespace

class TestNetworkData : public QObject
{
    Q_OBJECT
private slots:
    void markRecords_resumeAfterCount_failureKeepsIt();
    void markRecords_flagOrStateSkipsRace();
    void markRecords_raceStoppedDuringUpload_staysStopped();
    void markRecords_sameMillisecondResumeAndLaterBasketing();
    void arrivals_batches_data();
    void arrivals_batches();
    void arrivals_uidFirst_trainingOnlyWith0x40();
    void arrivals_failureChangesNothing_nextTurnResends();
    void arrivals_rowChangedDuringUpload_data();
    void arrivals_rowChangedDuringUpload();
    void resultCodes_data();
    void resultCodes();
    void awkwardTexts_acceptedAndOnlyTheirRowsChanged();
    void endpointProcess_clockSendsWithValidCodes();
};

void TestNetworkData::markRecords_resumeAfterCount_failureKeepsIt()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 3, {{QStringLiteral("markUploadedCount"), 3}});
    for (int i = 1; i <= 5; ++i)
        NetworkRig::saveRecord(basketed(QStringLiteral("P%1").arg(i), i * 1000));

    rig.endpoint.addFault(CloudFault::ErrorText, 1, "busy");
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 2);
    QCOMPARE(uploadedCount(QStringLiteral("R1")), 3);
    QCOMPARE(markedAssocNums(rig.endpoint.calls()), QStringList{QStringLiteral("P4")});

    QCOMPARE(rig.runTurn(TurnGate::Gprs), 1); // marks sent; the turn gives the arrivals' result
    QCOMPARE(uploadedCount(QStringLiteral("R1")), 5);
    const QList<CloudCall> calls = rig.endpoint.calls(QStringLiteral("uploadMarkRecord"));
    QCOMPARE(markedAssocNums(calls), (QStringList{"P4", "P4", "P5"}));
    QCOMPARE(payloadField(calls.last(), QStringLiteral("markOrder")), QStringLiteral("5"));
    allValid(calls);
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 1);
    QCOMPARE(rig.endpoint.calls().size(), 3); // nothing more
}

void TestNetworkData::markRecords_flagOrStateSkipsRace()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    // The fancier's "no live upload" switch, and races not running.
    NetworkRig::addRace(QStringLiteral("R1"), 3, {{QStringLiteral("markUploadFlag"), true}});
    NetworkRig::addRace(QStringLiteral("R2"), 1);
    NetworkRig::addRace(QStringLiteral("R3"), 4);
    NetworkRig::saveRecord(basketed(QStringLiteral("P1"), 0, QStringLiteral("R1")));
    NetworkRig::saveRecord(basketed(QStringLiteral("P2"), 0, QStringLiteral("R2")));
    NetworkRig::saveRecord(basketed(QStringLiteral("P3"), 0, QStringLiteral("R3")));
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 1);
    QVERIFY(rig.endpoint.calls().isEmpty());
}

void TestNetworkData::markRecords_raceStoppedDuringUpload_staysStopped()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 3);
    NetworkRig::saveRecord(basketed(QStringLiteral("P1"), 0));
    NetworkRig::saveRecord(basketed(QStringLiteral("P2"), 1000));
    rig.endpoint.addFault(CloudFault::Late, 1, QByteArray(), kLateMs);
    rig.start();
    rig.gate.allow(TurnGate::Gprs, 1);
    QVERIFY(rig.endpoint.waitForCalls(1, kWaitMs));
    // The race detail screen stops the race while the first record travels.
    QSharedPointer<RaceInfo> stopped = NetworkRig::race(QStringLiteral("R1"));
    stopped->valid = 4;
    stopped->raceStopDeviceTime = 1700100000000;
    Storage::instance()->saveRace(stopped.data());
    QVERIFY(rig.gate.waitResults(TurnGate::Gprs, 1, kWaitMs));
    QCOMPARE(rig.gate.results(TurnGate::Gprs).first(), 1);

    const QSharedPointer<RaceInfo> after = NetworkRig::race(QStringLiteral("R1"));
    QCOMPARE(after->valid, 4);
    QCOMPARE(after->raceStopDeviceTime, qint64(1700100000000));
    QCOMPARE(rig.endpoint.calls().size(), 1); // nothing more for a stopped race
}

void TestNetworkData::markRecords_sameMillisecondResumeAndLaterBasketing()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 3);
    // Basketed in the same millisecond, stored out of order.
    for (const char *assoc : {"P3", "P1", "P2"})
        NetworkRig::saveRecord(basketed(QLatin1String(assoc), 0));
    // The second call fails (the first is answered normally, 1 ms late):
    // the turn ends after one sent record.
    rig.endpoint.addFault(CloudFault::Late, 1, QByteArray(), 1);
    rig.endpoint.addFault(CloudFault::ErrorText, 1, "busy");
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 2);
    QCOMPARE(uploadedCount(QStringLiteral("R1")), 1);
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 1); // marks sent; the turn gives the arrivals' result
    QCOMPARE(uploadedCount(QStringLiteral("R1")), 3);

    // A pigeon basketed later is sent after all earlier ones, and alone.
    NetworkRig::saveRecord(basketed(QStringLiteral("P0"), 5000));
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 1); // marks sent; the turn gives the arrivals' result
    QCOMPARE(uploadedCount(QStringLiteral("R1")), 4);
    QCOMPARE(markedAssocNums(rig.endpoint.calls()), (QStringList{"P1", "P2", "P2", "P3", "P0"}));
    // Same millisecond, same order.
    QCOMPARE(payloadField(rig.endpoint.calls().at(3), QStringLiteral("markOrder")), QStringLiteral("1"));
    QCOMPARE(payloadField(rig.endpoint.calls().at(4), QStringLiteral("markOrder")), QStringLiteral("4"));
}

void TestNetworkData::arrivals_batches_data()
{
    QTest::addColumn<unsigned int>("flags");
    QTest::addColumn<QList<int>>("batches");
    QTest::newRow("flag 0x200: five per call") << 0x200u << QList<int>{5, 2};
    QTest::newRow("without: one per call") << 0u << QList<int>{1, 1, 1, 1, 1, 1, 1};
}

void TestNetworkData::arrivals_batches()
{
    QFETCH(unsigned int, flags);
    QFETCH(QList<int>, batches);
    NetworkRig rig(flags);
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    for (int i = 0; i < 7; ++i)
        NetworkRig::saveRecord(arrived(QStringLiteral("P%1").arg(i), i * 1000));

    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);
    const QList<CloudCall> calls = rig.endpoint.calls(QStringLiteral("sendRecords"));
    QList<int> sizes;
    QStringList sent;
    for (const CloudCall &call : calls) {
        sizes << int(lineAssocNums(call).size());
        sent += lineAssocNums(call);
        QCOMPARE(call.ownerName, QStringLiteral("Ann"));
        QCOMPARE(call.paramCount, 4);
    }
    allValid(calls);
    QCOMPARE(sizes, batches);
    sent.sort();
    QCOMPARE(sent, (QStringList{"P0", "P1", "P2", "P3", "P4", "P5", "P6"}));
    for (int i = 0; i < 7; ++i)
        QVERIFY(NetworkRig::record(QStringLiteral("P%1").arg(i))->eringUploadState);
    QCOMPARE(rig.logRows(2), 7);
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 1);
}

void TestNetworkData::arrivals_uidFirst_trainingOnlyWith0x40()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    PigeonRecord both = arrived(QStringLiteral("PB"), 2000);
    both.backTimeUid = kBackTime + 2100;
    NetworkRig::saveRecord(arrived(QStringLiteral("PA"), 1000));
    NetworkRig::saveRecord(both);
    NetworkRig::saveRecord(arrived(QStringLiteral("PT"), 3000, true));

    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);
    QList<CloudCall> calls = rig.endpoint.calls(QStringLiteral("sendRecords"));
    QCOMPARE(calls.size(), 2);
    QCOMPARE(lineAssocNums(calls.at(0)), QStringList{QStringLiteral("PB")}); // the uid query first
    QCOMPARE(lineAssocNums(calls.at(1)), QStringList{QStringLiteral("PA")});
    const auto pb = NetworkRig::record(QStringLiteral("PB"));
    QVERIFY(pb->eringUploadState && pb->uidUploadState);
    QVERIFY(!NetworkRig::record(QStringLiteral("PT"))->eringUploadState);

    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20 | 0x40; });
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);
    calls = rig.endpoint.calls(QStringLiteral("sendRecords"));
    QCOMPARE(calls.size(), 3);
    const QStringList training = QJsonDocument::fromJson(calls.at(2).payload.toUtf8())
                                     .array().at(0).toString().split(QLatin1Char(','));
    QCOMPARE(training.value(3), QStringLiteral("PT"));
    QCOMPARE(training.value(2), QStringLiteral("0"));     // no race
    QCOMPARE(training.value(13), QStringLiteral("train"));
    QCOMPARE(training.value(15), QStringLiteral("0"));    // marking order
    QVERIFY(NetworkRig::record(QStringLiteral("PT"))->eringUploadState);
    QCOMPARE(rig.logRows(2), 3);
}

void TestNetworkData::arrivals_failureChangesNothing_nextTurnResends()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    NetworkRig::saveRecord(arrived(QStringLiteral("P1"), 0));
    NetworkRig::saveRecord(arrived(QStringLiteral("P2"), 1000));
    const QString before = rig.db.dump();

    rig.endpoint.addFault(CloudFault::ErrorObject, 1);
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 2);
    QCOMPARE(rig.db.dump(), before);
    QCOMPARE(rig.endpoint.calls().size(), 1); // the turn ended at the failing item

    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);
    QVERIFY(NetworkRig::record(QStringLiteral("P1"))->eringUploadState);
    QVERIFY(NetworkRig::record(QStringLiteral("P2"))->eringUploadState);
    QCOMPARE(rig.logRows(2), 2);
    QCOMPARE(rig.endpoint.calls().size(), 3);
}

void TestNetworkData::arrivals_rowChangedDuringUpload_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("uid completed meanwhile") << false;
    QTest::newRow("race reset meanwhile") << true;
}

void TestNetworkData::arrivals_rowChangedDuringUpload()
{
    QFETCH(bool, reset);
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    NetworkRig::saveRecord(arrived(QStringLiteral("P1"), 0));
    rig.endpoint.addFault(CloudFault::Late, 1, QByteArray(), kLateMs);
    rig.start();
    rig.gate.allow(TurnGate::Gprs, 1);
    QVERIFY(rig.endpoint.waitForCalls(1, kWaitMs));
    const qint64 uidTime = kBackTime + 50;
    if (reset) {
        Storage::instance()->resetRaceRecords(QStringLiteral("R1"));
    } else {
        PigeonRecord completed = *NetworkRig::record(QStringLiteral("P1"));
        completed.backTimeUid = uidTime;
        completed.uidBack = QStringLiteral("UID1");
        NetworkRig::saveRecord(completed);
    }
    QVERIFY(rig.gate.waitResults(TurnGate::Gprs, 1, kWaitMs));
    QCOMPARE(rig.gate.results(TurnGate::Gprs).first(), 0);

    const auto p1 = NetworkRig::record(QStringLiteral("P1"));
    if (reset) {
        // The reset holds: no flag set on an arrival that is gone.
        QCOMPARE(p1->backTimeEring, qint64(0));
        QCOMPARE(p1->markTime, qint64(0));
        QVERIFY(!p1->eringUploadState);
        return;
    }
    QCOMPARE(p1->backTimeUid, uidTime);
    QCOMPARE(p1->uidBack, QStringLiteral("UID1"));
    QVERIFY(p1->eringUploadState);
    QVERIFY(!p1->uidUploadState); // still to send
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);
    QVERIFY(NetworkRig::record(QStringLiteral("P1"))->uidUploadState);
    QCOMPARE(rig.endpoint.calls().size(), 2);
}

void TestNetworkData::resultCodes_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("result");
    QTest::newRow("sent") << "sent" << 0;
    QTest::newRow("nothing to send") << "nothing" << 1;
    QTest::newRow("endpoint error") << "error" << 2;
    QTest::newRow("endpoint status 500") << "status" << 2;
    QTest::newRow("endpoint closes mid-reply") << "close" << 2;
    QTest::newRow("chunked reply") << "chunked" << 0;
    QTest::newRow("endpoint answers another id") << "wrongId" << 2;
    QTest::newRow("endpoint answers no JSON") << "notJson" << 2;
    QTest::newRow("endpoint silent") << "endpointSilent" << 2;
    QTest::newRow("socket refused") << "refused" << 2;
    // The driver's failures are GsmException: a modem failure, -1.
    QTest::newRow("modem silent mid-send") << "silent" << -1;
}

void TestNetworkData::resultCodes()
{
    QFETCH(QString, situation);
    QFETCH(int, result);
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    if (situation != QLatin1String("nothing"))
        NetworkRig::saveRecord(arrived(QStringLiteral("P1"), 0));
    if (situation == QLatin1String("error"))
        rig.endpoint.addFault(CloudFault::ErrorText, 1, "no");
    else if (situation == QLatin1String("status"))
        rig.endpoint.addFault(CloudFault::Status, 1, "500 Server Error");
    else if (situation == QLatin1String("close"))
        rig.endpoint.addFault(CloudFault::CloseMidReply, 1);
    else if (situation == QLatin1String("chunked"))
        rig.endpoint.addFault(CloudFault::Chunked, 1);
    else if (situation == QLatin1String("wrongId"))
        rig.endpoint.addFault(CloudFault::WrongId, 1);
    else if (situation == QLatin1String("notJson"))
        rig.endpoint.addFault(CloudFault::RawBody, 1, "<html>busy</html>");
    else if (situation == QLatin1String("endpointSilent"))
        rig.endpoint.addFault(CloudFault::Silence, 1);
    else if (situation == QLatin1String("refused"))
        rig.peer.update([](ModemState &s) { s.connectSucceeds = false; });
    else if (situation == QLatin1String("silent"))
        rig.peer.addFault(ModemFault::SilenceMidSend, "AT+USOWR", 1);

    QCOMPARE(rig.runTurn(TurnGate::Gprs), result);
    QCOMPARE(NetworkRig::record(QStringLiteral("P1")) ? NetworkRig::record(QStringLiteral("P1"))->eringUploadState
                                                       : false,
             result == 0);
    QCOMPARE(rig.logRows(2), result == 0 ? 1 : 0);
}

void TestNetworkData::awkwardTexts_acceptedAndOnlyTheirRowsChanged()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    // Quotes, commas, control characters and text beyond Latin-1 in the
    // settings and codes: the code still covers what travels.
    const QString loftNum = QStringLiteral("L'1,\"x\"");
    const QString password = QString::fromUtf8("s\xc3\xa9" "cret\xe2\x82\xac");
    rig.endpoint.setLoft(loftNum, password);
    rig.setLoft([&](LoftInfo &l) {
        l.loftNum = loftNum;
        l.password = password;
        l.ownerName = QString::fromUtf8("Ann, \"\xc3\x96\" \xe6\x9d\x8e\t");
        l.uploadMode = 0x20;
    });
    const QString raceCode = QString::fromUtf8("R'1,\x01\xc3\xa9\xe2\x82\xac");
    NetworkRig::addRace(raceCode, 3);
    NetworkRig::saveRecord(basketed(QStringLiteral("P'1"), 0, raceCode));
    PigeonRecord home = arrived(QStringLiteral("P'2"), 1000);
    home.raceCode = raceCode;
    home.uidBack = QString::fromUtf8("\\u0041\n\xe2\x82\xac");
    NetworkRig::saveRecord(home);
    // Look-alikes that must stay as they are.
    NetworkRig::saveRecord(arrived(QStringLiteral("P1"), 2000));
    NetworkRig::saveRecord(arrived(QStringLiteral("P2"), 3000, true));

    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);
    const QList<CloudCall> calls = rig.endpoint.calls();
    QCOMPARE(calls.size(), 4); // two basketing records (P'1, P'2), two race arrivals (P'2, P1)
    allValid(calls);
    QCOMPARE(calls.first().loftNum, loftNum);
    QVERIFY(!calls.first().rawBody.contains(password.toUtf8()));
    QCOMPARE(payloadField(calls.first(), QStringLiteral("raceCode")), raceCode);
    QCOMPARE(uploadedCount(raceCode), 2);
    QVERIFY(NetworkRig::record(QStringLiteral("P'2"))->eringUploadState);
    QVERIFY(NetworkRig::record(QStringLiteral("P1"))->eringUploadState);
    QVERIFY(!NetworkRig::record(QStringLiteral("P2"))->eringUploadState); // training: not with 0x20 alone
    QCOMPARE(rig.logRows(2), 2);
}

void TestNetworkData::endpointProcess_clockSendsWithValidCodes()
{
    QProcess help;
    help.start(QStringLiteral(CLOUDPEER_PATH), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(kWaitMs));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("--loft"));

    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("calls.log"));
    QProcess endpoint;
    endpoint.start(QStringLiteral(CLOUDPEER_PATH),
                   {QStringLiteral("--loft"), QStringLiteral("L100:secret"), QStringLiteral("--log"), log});
    QVERIFY(endpoint.waitForStarted(kWaitMs));
    QVERIFY(endpoint.waitForReadyRead(kWaitMs));
    const QByteArray banner = endpoint.readLine().trimmed();
    QVERIFY2(banner.startsWith("cloud endpoint on 127.0.0.1:"), banner.constData());
    const quint16 port = quint16(banner.mid(banner.lastIndexOf(':') + 1).toUInt());

    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.peer.setEndpoint(port);
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x10 | 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 3);
    NetworkRig::saveRecord(basketed(QStringLiteral("P1"), 0));
    NetworkRig::saveRecord(arrived(QStringLiteral("P2"), 1000));
    // State, the two basketing records, the arrival.
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);

    QTRY_VERIFY_WITH_TIMEOUT(fileLines(log).size() >= 4, kWaitMs);
    const QStringList lines = fileLines(log);
    QStringList methods;
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        methods << fields.value(0);
        QCOMPARE(fields.value(2), QStringLiteral("L100"));
        QCOMPARE(fields.value(3), QStringLiteral("valid"));
    }
    QCOMPARE(methods, (QStringList{"sendState4", "uploadMarkRecord", "uploadMarkRecord", "sendRecords"}));
    endpoint.terminate();
    QVERIFY(endpoint.waitForFinished(kWaitMs));
}

QTEST_GUILESS_MAIN(TestNetworkData)
#include "tst_networkdata.moc"
