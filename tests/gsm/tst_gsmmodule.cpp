// The AT engine's common operations against the modem peer: registration,
// operator selection, SMS in PDU and text mode, positions and the peer's
// answer faults.
#include "gsm/ubloxgsmmodule.h"

#include "core/vexexception.h"
#include "gsmtestclock.h"
#include "messagecapture.h"
#include "modemfixture.h"
#include "modempeer.h"
#include "nmeabuilder.h"
#include "scriptedmodem.h"
#include "testroot.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>

namespace {

constexpr int kPeerWaitMs = 5000;

// The u-blox driver with its state bits open to the test.
class Modem : public UbloxGsmModule
{
public:
    using GsmModule::clearFlags;
    using GsmModule::setFlags;
};

// Only the engine's own operations: what every family inherits (the base
// text-mode SMS among them).
class CoreModem : public Modem
{
public:
    bool sendTXTSms(QByteArray number, QByteArray text) override { return GsmModule::sendTXTSms(number, text); }
};

bool anyCommand(const QList<QByteArray> &commands, const QByteArray &prefix)
{
    for (const QByteArray &c : commands) {
        if (c.startsWith(prefix))
            return true;
    }
    return false;
}

} // namespace

class TestGsmModule : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void checkNetReg_data();
    void checkNetReg();
    void registrationLost_clearsDataFlags();
    void selectNet_data();
    void selectNet();
    void pduSms_isDecodedByThePeer_data();
    void pduSms_isDecodedByThePeer();
    void pduSms_refused_data();
    void pduSms_refused();
    void textSms_data();
    void textSms();
    void textSms_withoutPrompt_cancelsWithCtrlZ_data();
    void textSms_withoutPrompt_cancelsWithCtrlZ();
    void readGsmLoc_servesTheCacheUntilReadGpsFails();
    void readGPS_resultTellsAssistedFromPlain();
    void answerFaults_data();
    void answerFaults();
    void init_setsInitialisedWhateverTheProfileAnswer();

private:
    template <typename M>
    std::unique_ptr<M> openModem();

    std::unique_ptr<TestRoot> root;
    std::unique_ptr<ModemPeer> peer;
    ScaledClock fast{20};
};

template <typename M>
std::unique_ptr<M> TestGsmModule::openModem()
{
    auto modem = std::make_unique<M>();
    modem->open(QStringLiteral("/dev/ttyUSB1"));
    modem->echoOff();
    peer->clearRecord();
    return modem;
}

void TestGsmModule::init()
{
    root = std::make_unique<TestRoot>();
    root->activate();
    peer = std::make_unique<ModemPeer>();
    QVERIFY(peer->linkAt(root->path(QStringLiteral("/dev/ttyUSB1"))));
    peer->start();
}

void TestGsmModule::cleanup()
{
    peer.reset();
    root.reset();
}

void TestGsmModule::checkNetReg_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("code");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<int>("csq");
    QTest::addColumn<QByteArray>("lac");
    QTest::addColumn<QByteArray>("cellId");

    const uint preset = 0x468; // registered, data context and socket, before the check
    QTest::newRow("roaming with cell") << QByteArray("2,5,\"1A2B\",\"00C3D4E5\"") << 0 << preset << 20
                                       << QByteArray::fromHex("1a2b") << QByteArray::fromHex("00c3d4e5");
    QTest::newRow("home with cell") << QByteArray("2,1,\"00FF\",\"0001\"") << 0 << preset << 20
                                    << QByteArray::fromHex("00ff") << QByteArray::fromHex("0001");
    QTest::newRow("searching") << QByteArray("0,2") << 0 << 0x020u << 0 << QByteArray() << QByteArray();
    QTest::newRow("not registered") << QByteArray("0,0") << 0 << 0x000u << 0 << QByteArray() << QByteArray();
    QTest::newRow("denied") << QByteArray("0,3") << 0 << 0x000u << 0 << QByteArray() << QByteArray();
    QTest::newRow("single field") << QByteArray("5") << 770 << preset << 7 << QByteArray("old") << QByteArray("old");
}

void TestGsmModule::checkNetReg()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, code);
    QFETCH(uint, flags);
    QFETCH(int, csq);
    QFETCH(QByteArray, lac);
    QFETCH(QByteArray, cellId);

    auto modem = openModem<Modem>();
    modem->setFlags(0x468);
    peer->update([&](ModemState &s) { s.cregAnswer = answer; });
    QString message;
    QCOMPARE(thrownCode([&] { modem->checkNetReg(); }, &message), code);
    const GsmState state = modem->getState();
    if (code != 0) {
        QCOMPARE(message, QStringLiteral("GPRS response error:") + QString::fromLatin1(answer));
        QCOMPARE(state.flags, flags);
        return;
    }
    QCOMPARE(state.flags, flags);
    QCOMPARE(state.csq, csq);
    QCOMPARE(state.lac, lac);
    QCOMPARE(state.cellId, cellId);
}

void TestGsmModule::registrationLost_clearsDataFlags()
{
    auto modem = openModem<Modem>();
    modem->checkNetReg();
    modem->setFlags(0x408);
    QCOMPARE(modem->getState().flags, 0x468u);
    peer->update([](ModemState &s) { s.registration = 0; });
    modem->checkNetReg();
    QCOMPARE(modem->getState().flags, 0u);
    QCOMPARE(modem->getState().csq, 0);
}

void TestGsmModule::selectNet_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("automatic") << QByteArray() << 0 << QByteArray("AT+COPS=0");
    QTest::newRow("manual") << QByteArray("26201") << 0 << QByteArray("AT+COPS=4,2,\"26201\"");
    QTest::newRow("quote refused") << QByteArray("262\"01") << 769 << QByteArray();
    QTest::newRow("carriage return refused") << QByteArray("26201\r\nAT+CFUN=0") << 769 << QByteArray();
}

void TestGsmModule::selectNet()
{
    QFETCH(QByteArray, code);
    QFETCH(int, error);
    QFETCH(QByteArray, sent);
    auto modem = openModem<Modem>();
    MessageCapture capture;
    bool result = false;
    QCOMPARE(thrownCode([&] { result = modem->selectNet(code); }), error);
    if (error == 0) {
        QVERIFY(result);
        QCOMPARE(peer->commands(), QList<QByteArray>{sent});
    } else {
        QVERIFY(capture.contains(QStringLiteral("Refused operator code")));
        QVERIFY(!anyCommand(peer->commands(), "AT+COPS"));
    }
}

void TestGsmModule::pduSms_isDecodedByThePeer_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("pdu");
    QTest::newRow("the example") << QByteArray("12345") << QStringLiteral("Hi") << QByteArray("00110005A12143F50008A70400480069");
    QTest::newRow("even number, non-Latin text") << QByteArray("0049170123") << QStringLiteral("Ankunft \u00d6 \u4e2d") << QByteArray();
    QTest::newRow("70 units") << QByteArray("1") << QString(70, QLatin1Char('x')) << QByteArray();
}

void TestGsmModule::pduSms_isDecodedByThePeer()
{
    QFETCH(QByteArray, number);
    QFETCH(QString, text);
    QFETCH(QByteArray, pdu);
    auto modem = openModem<Modem>();
    QVERIFY(modem->sendPDUSms(number, text));
    const QList<PeerSms> sms = peer->sms();
    QCOMPARE(sms.size(), 1);
    QCOMPARE(sms.at(0).mode, QByteArray("pdu"));
    QCOMPARE(sms.at(0).number, number);
    QCOMPARE(sms.at(0).text, text);
    QVERIFY(sms.at(0).pduOk); // the announced length is the PDU's
    QCOMPARE(peer->commands().value(0), QByteArray("AT+CMGF=0"));
    if (!pdu.isEmpty()) {
        QCOMPARE(peer->commands().value(1), QByteArray("AT+CMGS=15"));
        QCOMPARE(sms.at(0).raw, pdu);
    }
}

void TestGsmModule::pduSms_refused_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("71 units") << QByteArray("12345") << QString(71, QLatin1Char('x'));
    QTest::newRow("plus sign") << QByteArray("+4917012") << QStringLiteral("Hi");
    QTest::newRow("letters") << QByteArray("12A45") << QStringLiteral("Hi");
    QTest::newRow("empty number") << QByteArray() << QStringLiteral("Hi");
}

void TestGsmModule::pduSms_refused()
{
    QFETCH(QByteArray, number);
    QFETCH(QString, text);
    auto modem = openModem<Modem>();
    QVERIFY(!modem->sendPDUSms(number, text));
    QVERIFY(peer->commands().isEmpty());
}

void TestGsmModule::textSms_data()
{
    QTest::addColumn<bool>("base");       // the engine's own operation, else the u-blox one
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("refuse");     // the peer refuses SMS to the number
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("logged");

    const QByteArray plain("Order:1,ring 123");
    for (bool base : {false, true}) {
        const char *who = base ? "base: " : "u-blox: ";
        QTest::newRow(QByteArray(who + QByteArray("sent")).constData())
            << base << QByteArray("017012") << plain << false << true << plain << QString();
        QTest::newRow(QByteArray(who + QByteArray("control characters removed")).constData())
            << base << QByteArray("017012") << QByteArray("a\x1A" "b\x1B" "c\r\nd") << false << true << QByteArray("abcd")
            << QStringLiteral("4 control characters removed");
        QTest::newRow(QByteArray(who + QByteArray("refused by the network")).constData())
            << base << QByteArray("017012") << plain << true << false << plain << QString();
        QTest::newRow(QByteArray(who + QByteArray("quote in number")).constData())
            << base << QByteArray("0170\"12") << plain << false << false << QByteArray() << QStringLiteral("Refused SMS number");
    }
}

void TestGsmModule::textSms()
{
    QFETCH(bool, base);
    QFETCH(QByteArray, number);
    QFETCH(QByteArray, text);
    QFETCH(bool, refuse);
    QFETCH(bool, result);
    QFETCH(QByteArray, received);
    QFETCH(QString, logged);

    std::unique_ptr<Modem> modem = base ? std::unique_ptr<Modem>(openModem<CoreModem>()) : openModem<Modem>();
    if (refuse) {
        // "+CMS ERROR" is no answer line the waits know: the 15 s wait runs out.
        modem->setClock(&fast);
        peer->update([&](ModemState &s) { s.refusedSmsNumbers << number; });
    }
    MessageCapture capture;
    QCOMPARE(modem->sendTXTSms(number, text), result);
    const QList<PeerSms> sms = peer->sms();
    if (received.isEmpty()) {
        QVERIFY(sms.isEmpty());
        QVERIFY(!anyCommand(peer->commands(), "AT+CMGS"));
    } else {
        QCOMPARE(sms.size(), 1);
        QCOMPARE(sms.at(0).mode, QByteArray("text"));
        QCOMPARE(sms.at(0).number, number);
        QCOMPARE(sms.at(0).raw, received);
    }
    if (!logged.isEmpty())
        QVERIFY(capture.contains(logged));
}

void TestGsmModule::textSms_withoutPrompt_cancelsWithCtrlZ_data()
{
    QTest::addColumn<bool>("base");
    QTest::newRow("u-blox") << false;
    QTest::newRow("base") << true;
}

void TestGsmModule::textSms_withoutPrompt_cancelsWithCtrlZ()
{
    QFETCH(bool, base);
    std::unique_ptr<Modem> modem = base ? std::unique_ptr<Modem>(openModem<CoreModem>()) : openModem<Modem>();
    modem->setClock(&fast);
    peer->addFault(ModemFault::NoPrompt, "AT+CMGS");
    const qint64 start = fast.tickMs();
    QVERIFY(!modem->sendTXTSms("017012", "hello"));
    // 2000 one-millisecond passes for the prompt, then Ctrl-Z and 500 ms.
    QVERIFY(fast.tickMs() - start >= 2000 + 500);
    QVERIFY(peer->waitForCommand("\x1A", kPeerWaitMs));
    QVERIFY(peer->sms().isEmpty());
}

void TestGsmModule::readGsmLoc_servesTheCacheUntilReadGpsFails()
{
    auto modem = openModem<Modem>();
    peer->update([](ModemState &s) { s.cellLocation = "13/04/2021,09:54:51.000,45.7140971,13.7409172,266,17"; });
    int lon = -1;
    int lat = -1;
    QCOMPARE(modem->readGsmLoc(&lon, &lat), 0); // no location service and no data context yet
    QVERIFY(peer->commands().isEmpty());

    modem->init();
    QVERIFY(modem->activeNet());
    QCOMPARE(modem->readGsmLoc(&lon, &lat), 4);
    QCOMPARE(lat, 164570752);
    QCOMPARE(lon, 49467300);
    const int sent = int(peer->commands().size());
    lon = lat = 0;
    QCOMPARE(modem->readGsmLoc(&lon, &lat), 12);
    QCOMPARE(lat, 164570752);
    QCOMPARE(int(peer->commands().size()), sent); // no modem traffic

    QCOMPARE(modem->readGPS(&lon, &lat, nullptr, nullptr), 0); // no fix: the cache ends
    QCOMPARE(lon, 0);
    QCOMPARE(modem->readGsmLoc(&lon, &lat), 4);
    QVERIFY(anyCommand(peer->commands().mid(sent), "AT+ULOC"));
}

void TestGsmModule::readGPS_resultTellsAssistedFromPlain()
{
    auto modem = openModem<Modem>();
    const QDateTime fix(QDate(2024, 5, 17), QTime(8, 30, 15, 250), Qt::UTC);
    peer->update([&](ModemState &s) { s.gpsSentence = NmeaBuilder::rmc(fix, 51.5, -0.25); });
    TimeRecorder times;
    int lon = 0;
    int lat = 0;
    qint64 utcMs = 0;
    QCOMPARE(modem->readGPS(&lon, &lat, &utcMs, &times), 1);
    QCOMPARE(lat, 51 * 3600000 + 30 * 60000);
    QCOMPARE(lon, -(15 * 60000));
    QCOMPARE(utcMs, fix.toMSecsSinceEpoch() + 500);
    QCOMPARE(times.times, (QList<QPair<qint64, int>>{{utcMs, 2}}));

    modem->configGps();
    QVERIFY(modem->activeNet());
    QCOMPARE(modem->readGPS(&lon, &lat, &utcMs, nullptr), 2);
    modem->deactiveNet();
    QCOMPARE(modem->readGPS(&lon, &lat, &utcMs, nullptr), 1);
}

void TestGsmModule::answerFaults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("late answer") << int(ModemFault::Late) << 300 << 0 << QString();
    QTest::newRow("answer in pieces") << int(ModemFault::Split) << 5 << 0 << QString();
    QTest::newRow("unsolicited lines first") << int(ModemFault::UnsolicitedFirst) << 4 << 0 << QString();
    QTest::newRow("ten unsolicited lines first") << int(ModemFault::UnsolicitedFirst) << 10 << 769 << QStringLiteral("GSM response err!");
    QTest::newRow("ERROR") << int(ModemFault::Error) << 0 << 769 << QStringLiteral("GSM response ERROR!");
    QTest::newRow("+CME ERROR") << int(ModemFault::CmeError) << 10 << 769 << QStringLiteral("GSM response ERROR!");
    QTest::newRow("silence") << int(ModemFault::Silence) << 0 << 259 << QStringLiteral("GSM response timeout!");
    QTest::newRow("too late") << int(ModemFault::Late) << 6000 << 259 << QStringLiteral("GSM response timeout!");
    QTest::newRow("byte flood") << int(ModemFault::Flood) << 200000 << 259 << QStringLiteral("GSM response timeout!");
}

void TestGsmModule::answerFaults()
{
    QFETCH(int, fault);
    QFETCH(int, value);
    QFETCH(int, code);
    QFETCH(QString, message);
    auto modem = openModem<Modem>();
    if (code == 259)
        modem->setClock(&fast);
    peer->addFault(ModemFault(fault), "AT+CSQ", 1, value);
    int csq = -1;
    QString got;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(thrownCode([&] { csq = modem->getCsq(); }, &got), code);
    QCOMPARE(got, message);
    if (code == 0)
        QCOMPARE(csq, 20);
    QVERIFY(timer.elapsed() < 5000);
    // The next command is answered normally.
    modem->setClock(nullptr);
    QCOMPARE(modem->getCsq(), 20);
}

void TestGsmModule::init_setsInitialisedWhateverTheProfileAnswer()
{
    auto modem = openModem<Modem>();
    peer->addFault(ModemFault::Error, "AT+UGPRF");
    MessageCapture capture;
    modem->init();
    QCOMPARE(modem->getState().flags, 0x013u);
    QVERIFY(capture.contains(QStringLiteral("Gsm echo off!")));
    QCOMPARE(peer->commands().value(0), QByteArray("ATE0"));
}

QTEST_GUILESS_MAIN(TestGsmModule)
#include "tst_gsmmodule.moc"
