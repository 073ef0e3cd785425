// The modem link under a misbehaving modem: the real modem thread (its loop
// scaled) on the modem peer (u-blox; a few rows for EC25 and Telit), which
// follows the modem's power pin and bridges its socket to a well-behaved
// cloud endpoint; the real engine behind a gate that lets every turn through.
// One table of fault modes: for each, the failure is reported, the modem
// service recovers by itself once the modem behaves (power cycle or
// re-registration), the pending arrival upload and owner notification go out
// and are not sent again once acknowledged, and the GUI thread, reading the
// modem state as the status bar does, is never held up.
#include "guiheartbeat.h"
#include "networkrig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

constexpr int kWaitMs = NetworkRig::kWaitMs;
constexpr int kGpioModem = 41;
constexpr int kBootDelayMs = 20;
const char kPowerPin[] = "/sys/class/gpio/gpio41/value";
const char kOwnerPhone[] = "+4911";
// Turns watched after the uploads were acknowledged, to see nothing resent.
constexpr int kQuietTurns = 3;
// Past the driver's answer waits at the rig's scale (4 s and 15 s / 20).
// A wait counts its polls and gives up at the latest after twice its time
// on the wall clock (a loaded host stretches each poll), so a late answer
// comes well after that.
constexpr int kLateAnswerMs = 1000;
constexpr int kLateSmsAnswerMs = 2500;

enum class Trouble {
    Fault,        // the peer's fault rule, from the start until cleared
    NodeGone,     // the node goes away (a hang-up) while the port is open
    HeldAway,     // the node goes away and stays away past the node wait
    PowerLost,    // the modem loses its power behind the program's back
    Unregistered, // the network drops the modem past the offline limit
};

enum Turn { NoTurn = -1, SmsTurn = TurnGate::Sms, GprsTurn = TurnGate::Gprs };

// The association numbers in the "sendRecords" calls.
QStringList uploadedAssocNums(const CloudEndpoint &endpoint)
{
    QStringList out;
    for (const CloudCall &call : endpoint.calls(QStringLiteral("sendRecords"))) {
        for (const QJsonValue &line : QJsonDocument::fromJson(call.payload.toUtf8()).array())
            out << line.toString().split(QLatin1Char(',')).value(3);
    }
    return out;
}

int smsTo(const ModemPeer &peer, const QByteArray &number)
{
    int n = 0;
    for (const PeerSms &sms : peer.sms())
        n += sms.number == number ? 1 : 0;
    return n;
}

bool turnFailed(const TurnGate &gate, int kind)
{
    for (int r : gate.results(TurnGate::Kind(kind))) {
        if (r != 0 && r != 1)
            return true;
    }
    return false;
}

bool delivered()
{
    const QSharedPointer<PigeonRecord> r = NetworkRig::record(QStringLiteral("P1"));
    return r && r->eringUploadState && r->smsSendState;
}

} // namespace

Q_DECLARE_METATYPE(Trouble)

class TestModemFaults : public QObject
{
    Q_OBJECT
private slots:
    void faultMode_reportedRecoveredNothingLost_data();
    void faultMode_reportedRecoveredNothingLost();
};

void TestModemFaults::faultMode_reportedRecoveredNothingLost_data()
{
    QTest::addColumn<Trouble>("trouble");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QByteArray>("command"); // empty: every command
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("report");      // a debug line; empty: a failed turn
    QTest::addColumn<int>("failedTurn");      // the turn whose failure is the report
    QTest::addColumn<bool>("powerCycled");
    QTest::addColumn<QString>("family");

    const QString cycleEnded = QStringLiteral("GSMService::doEvents VexException!");
    const QString uploadFailed = QStringLiteral("uploadJsonRecord");
    const QString connectFailed = QStringLiteral("Connect 'cloud.test:9080' failed!");
    const auto fault = [](ModemFault f) { return int(f); };
    const Trouble F = Trouble::Fault;
    const QString ublox = QStringLiteral("ublox");
    const QString ec25 = QStringLiteral("ec25");
    const QString telit = QStringLiteral("telit");

    QTest::newRow("silence: every command")
        << F << fault(ModemFault::Silence) << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << ublox;
    QTest::newRow("silence: socket read")
        << F << fault(ModemFault::Silence) << QByteArray("AT+USORD") << 0 << uploadFailed << int(NoTurn) << false << ublox;
    QTest::newRow("cut answer: registration")
        << F << fault(ModemFault::Truncated) << QByteArray("AT+CREG?") << 9 << cycleEnded << int(NoTurn) << true << ublox;
    QTest::newRow("cut answer: socket read")
        << F << fault(ModemFault::Truncated) << QByteArray("AT+USORD") << 40 << uploadFailed << int(NoTurn) << false << ublox;
    QTest::newRow("garbled bytes: every answer")
        << F << fault(ModemFault::Garbled) << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << ublox;
    QTest::newRow("garbled bytes: socket data")
        << F << fault(ModemFault::Garbled) << QByteArray("AT+USORD") << 0 << uploadFailed << int(NoTurn) << false << ublox;
    QTest::newRow("bytes without a line end: signal quality")
        << F << fault(ModemFault::Flood) << QByteArray("AT+CSQ") << 600 << cycleEnded << int(NoTurn) << true << ublox;
    QTest::newRow("late answer: registration")
        << F << fault(ModemFault::Late) << QByteArray("AT+CREG?") << kLateAnswerMs << cycleEnded << int(NoTurn) << true << ublox;
    QTest::newRow("late answer: socket create")
        << F << fault(ModemFault::Late) << QByteArray("AT+USOCR") << kLateAnswerMs << QString() << int(GprsTurn) << false << ublox;
    QTest::newRow("late answer: SMS sent")
        << F << fault(ModemFault::Late) << QByteArray("AT+CMGS") << kLateSmsAnswerMs << QString() << int(SmsTurn) << false << ublox;
    QTest::newRow("refusal ERROR: data activation")
        << F << fault(ModemFault::Error) << QByteArray("AT+UPSDA") << 0 << QStringLiteral("GSM::openGPRS failed!")
        << int(NoTurn) << false << ublox;
    QTest::newRow("refusal +CME ERROR: socket connect")
        << F << fault(ModemFault::CmeError) << QByteArray("AT+USOCO") << 3 << connectFailed << int(NoTurn) << false << ublox;
    QTest::newRow("refusal +CMS ERROR: SMS")
        << F << fault(ModemFault::CmsError) << QByteArray("AT+CMGS") << 500 << QString() << int(SmsTurn) << false << ublox;
    QTest::newRow("node gone (hang-up), back with the power cycle")
        << Trouble::NodeGone << -1 << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << ublox;
    QTest::newRow("node gone past the node wait, then back")
        << Trouble::HeldAway << -1 << QByteArray() << 0 << QStringLiteral("GSMService::run VexException!")
        << int(NoTurn) << true << ublox;
    QTest::newRow("power lost behind the program, back with the power pin")
        << Trouble::PowerLost << -1 << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << ublox;
    QTest::newRow("registration lost past the offline limit")
        << Trouble::Unregistered << -1 << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << ublox;

    // The other families, on their own socket commands.
    QTest::newRow("ec25 silence: every command")
        << F << fault(ModemFault::Silence) << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << ec25;
    QTest::newRow("ec25 garbled bytes: socket data")
        << F << fault(ModemFault::Garbled) << QByteArray("AT+QIRD") << 0 << uploadFailed << int(NoTurn) << false << ec25;
    QTest::newRow("ec25 refusal +CME ERROR: socket open")
        << F << fault(ModemFault::CmeError) << QByteArray("AT+QIOPEN") << 565 << QString() << int(GprsTurn) << false
        << ec25;
    QTest::newRow("ec25 node gone (hang-up)")
        << Trouble::NodeGone << -1 << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << ec25;
    QTest::newRow("telit silence: every command")
        << F << fault(ModemFault::Silence) << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << telit;
    QTest::newRow("telit cut answer: socket dial")
        << F << fault(ModemFault::Truncated) << QByteArray("AT#SD") << 4 << QString() << int(GprsTurn) << false << telit;
    QTest::newRow("telit refusal ERROR: socket dial")
        << F << fault(ModemFault::Error) << QByteArray("AT#SD") << 0 << QString() << int(GprsTurn) << false << telit;
    QTest::newRow("telit node gone (hang-up)")
        << Trouble::NodeGone << -1 << QByteArray() << 0 << cycleEnded << int(NoTurn) << true << telit;
}

void TestModemFaults::faultMode_reportedRecoveredNothingLost()
{
    QFETCH(Trouble, trouble);
    QFETCH(int, fault);
    QFETCH(QByteArray, command);
    QFETCH(int, value);
    QFETCH(QString, report);
    QFETCH(int, failedTurn);
    QFETCH(bool, powerCycled);
    QFETCH(QString, family);

    NetworkRig rig(0, family);
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    PigeonRecord arrival = NetworkRig::arrived(QStringLiteral("P1"), 0);
    arrival.needSms = true;
    NetworkRig::saveRecord(arrival);
    rig.engine.saveNotifyPhones({QLatin1String(kOwnerPhone)});

    if (trouble == Trouble::Fault)
        rig.peer.addFault(ModemFault(fault), command, -1, value);
    if (trouble == Trouble::Unregistered)
        rig.peer.update([](ModemState &s) { s.registration = 0; });

    GuiHeartbeat heartbeat([&rig] {
        rig.service.getGSMState();
        rig.service.getCurrentGPS();
    });
    rig.start();
    if (trouble == Trouble::NodeGone || trouble == Trouble::HeldAway || trouble == Trouble::PowerLost) {
        // The modem goes while the program works with it; the turns wait,
        // so the arrival and the notification are still pending.
        QTRY_VERIFY_WITH_TIMEOUT(rig.service.getGSMState().flags & 0x040, kWaitMs);
        if (trouble == Trouble::NodeGone)
            rig.peer.removeNode();
        else if (trouble == Trouble::HeldAway)
            rig.peer.followPower(QString(), 0); // out of power mode: the node stays away
        else
            rig.db.root().setGpio(kGpioModem, 0);
    }
    rig.gate.allow(TurnGate::Sms, -1);
    rig.gate.allow(TurnGate::Gprs, -1);

    if (report.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(turnFailed(rig.gate, failedTurn), kWaitMs);
    else
        QTRY_VERIFY_WITH_TIMEOUT(rig.capture.contains(report), kWaitMs);

    // The modem behaves again.
    rig.peer.clearFaults();
    rig.peer.update([](ModemState &s) { s.registration = 1; });
    if (trouble == Trouble::HeldAway)
        rig.peer.followPower(rig.db.root().path(QLatin1String(kPowerPin)), kBootDelayMs);

    QTRY_VERIFY_WITH_TIMEOUT(delivered(), kWaitMs);
    QVERIFY(uploadedAssocNums(rig.endpoint).contains(QStringLiteral("P1")));
    for (const CloudCall &call : rig.endpoint.calls())
        QVERIFY2(call.isValid(), qPrintable(call.problems.join(QLatin1Char(','))));
    QVERIFY(smsTo(rig.peer, kOwnerPhone) >= 1);
    if (powerCycled)
        QVERIFY2(rig.peer.powerOnCount() >= 2, qPrintable(QString::number(rig.peer.powerOnCount())));

    // Acknowledged once, sent no more.
    const QStringList uploaded = uploadedAssocNums(rig.endpoint);
    const int sms = smsTo(rig.peer, kOwnerPhone);
    const int turns = int(rig.gate.results(TurnGate::Gprs).size());
    QTRY_VERIFY_WITH_TIMEOUT(rig.gate.results(TurnGate::Gprs).size() >= turns + kQuietTurns, kWaitMs);
    QCOMPARE(uploadedAssocNums(rig.endpoint), uploaded);
    QCOMPARE(smsTo(rig.peer, kOwnerPhone), sms);

    // The screens' state reads ran beside the whole episode (how long one
    // took is a figure of the benchmarks).
    QVERIFY(heartbeat.beats() > 0);
}

QTEST_GUILESS_MAIN(TestModemFaults)
#include "tst_modemfaults.moc"
