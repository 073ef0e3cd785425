// The AT engine's reading and waits on an in-memory modem with a virtual
// clock: a 30 s time-out costs no real time.
#include "gsm/gsmmodule.h"

#include "core/vexexception.h"
#include "gsmtestclock.h"
#include "scriptedmodem.h"
#include "scriptport.h"
#include "testroot.h"

#include <QTest>

#include <memory>

namespace {

// The engine without a family: every family operation is inert.
class EngineOnly : public GsmModule
{
public:
    void setAPN(QByteArray, QByteArray, QByteArray) override {}
    bool closeGps() override { return true; }
    void deactiveNet() override {}
    bool activeNet() override { return true; }
    void configGps() override {}
    bool closeSocket() override { return true; }
    bool sendTcpData(QByteArray) override { return true; }
    bool receiveHttpResponse(GsmHttpResponse &, int) override { return true; }
    bool _init() override { return true; }
    bool _openSocket(QByteArray, bool) override { return true; }
    bool _readGPS(int *, int *, qint64 *, TimeCallback *) override { return false; }
    bool _getGsmLocGps(int *, int *) override { return false; }
    qint64 _getNetUtcTime(TimeCallback *) override { return 0; }
};

// What a modem does in one row: bytes at virtual times, a trickle without
// line end, an exit request, the port failing.
struct Script
{
    QList<QPair<int, QByteArray>> bytes;
    int trickleEveryMs = 0;
    bool flood = false; // endless bytes at about 115200 baud, never a line end
    int exitAtMs = -1;
    int failAtMs = -1;
};

Script at(int ms, const QByteArray &bytes)
{
    Script s;
    s.bytes << qMakePair(ms, bytes);
    return s;
}

QByteArray lines(const QByteArray &line, int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "\r\n" + line + "\r\n";
    return out;
}

// Runs an engine on a script port with a virtual clock.
struct Bench : ScriptedModem<EngineOnly>
{
    void load(const Script &s)
    {
        for (const auto &b : s.bytes)
            port->at(b.first, b.second);
        if (s.trickleEveryMs > 0)
            port->trickle('x', s.trickleEveryMs, 0);
        if (s.flood) {
            port->flood('x');
            port->onRead = [this] {
                if (++floodBytes % kBytesPerMs == 0)
                    clock.advance(1);
            };
        }
        exitAtMs = s.exitAtMs;
        failAtMs = s.failAtMs;
    }

    qint64 floodBytes = 0;
    static constexpr int kBytesPerMs = 12;
};

Script flood()
{
    Script s;
    s.flood = true;
    return s;
}

} // namespace

Q_DECLARE_METATYPE(Script)

class TestGsmAtEngine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void waits_data();
    void waits();
    void lateAnswerOfPreviousCommand_doesNotSatisfyNextWait();
    void longLine_isCappedAndTheWaitGoesOn();
    void readUntil_keepsFindingTheMarkerPastTheCap();
    void command_endsWithCarriageReturnOnly();
    void openMissingNode_throwsGsmException257();

private:
    TestRoot root;
};

void TestGsmAtEngine::initTestCase()
{
    root.activate();
}

void TestGsmAtEngine::waits_data()
{
    QTest::addColumn<QString>("op");       // ok, response:<prefix>, line, until:<marker>, bytes:<n>, char:<c>
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("flag");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QByteArray>("result"); // "true"/"false" or the bytes
    QTest::addColumn<int>("code");          // 0: no exception
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("maxMs");         // virtual time the call may take

    const QString ok = QStringLiteral("ok");
    const QString csq = QStringLiteral("response:+CSQ:");
    const QString timeout = QStringLiteral("GSM response timeout!");
    const QString exitText = QStringLiteral("GSM exit!");
    const QString errorText = QStringLiteral("GSM response ERROR!");

    QTest::newRow("OK") << ok << 4000 << true << at(5, "\r\nOK\r\n") << QByteArray("true") << 0 << QString() << 100;
    QTest::newRow("OK in pieces") << ok << 4000 << true << [] {
        Script s = at(5, "\r\nO");
        s.bytes << qMakePair(300, QByteArray("K\r")) << qMakePair(900, QByteArray("\n"));
        return s;
    }() << QByteArray("true") << 0 << QString() << 1000;
    QTest::newRow("ERROR, throwing") << ok << 4000 << true << at(5, "\r\nERROR\r\n") << QByteArray() << 769 << errorText << 100;
    QTest::newRow("ERROR, not throwing") << ok << 4000 << false << at(5, "\r\nERROR\r\n") << QByteArray("false") << 0 << QString() << 100;
    QTest::newRow("+CME ERROR, throwing") << ok << 4000 << true << at(5, "\r\n+CME ERROR: 3\r\n") << QByteArray() << 769 << errorText << 100;
    QTest::newRow("+CME ERROR, not throwing") << ok << 4000 << false << at(5, "\r\n+CME ERROR: 3\r\n") << QByteArray("false") << 0 << QString() << 100;
    QTest::newRow("ten unsolicited lines, throwing") << ok << 4000 << true << at(5, lines("+CIEV: 2,1", 10))
                                                     << QByteArray() << 259 << QStringLiteral("gsm no OK response!") << 200;
    QTest::newRow("ten unsolicited lines, not throwing") << ok << 4000 << false << at(5, lines("RING", 10))
                                                         << QByteArray("false") << 0 << QString() << 200;
    QTest::newRow("nine unsolicited lines, then OK") << ok << 4000 << true << at(5, lines("RING", 9) + "\r\nOK\r\n")
                                                     << QByteArray("true") << 0 << QString() << 200;
    QTest::newRow("silence, throwing") << ok << 30000 << true << Script() << QByteArray() << 259 << timeout << 30000;
    QTest::newRow("silence, not throwing") << ok << 30000 << false << Script() << QByteArray("false") << 0 << QString() << 30000;
    QTest::newRow("exit") << ok << 30000 << true << [] { Script s; s.exitAtMs = 200; return s; }()
                          << QByteArray() << 259 << exitText << 300;
    QTest::newRow("exit, not throwing") << ok << 30000 << false << [] { Script s; s.exitAtMs = 200; return s; }()
                                        << QByteArray() << 259 << exitText << 300;
    QTest::newRow("trickle without line end, throwing") << ok << 4000 << true << [] { Script s; s.trickleEveryMs = 10; return s; }()
                                                        << QByteArray() << 259 << timeout << 8000;
    QTest::newRow("trickle without line end, not throwing") << ok << 4000 << false << [] { Script s; s.trickleEveryMs = 10; return s; }()
                                                            << QByteArray("false") << 0 << QString() << 8000;
    QTest::newRow("flood without line end, throwing") << ok << 4000 << true << flood() << QByteArray() << 259 << timeout << 8000;
    QTest::newRow("flood without line end, not throwing") << ok << 4000 << false << flood() << QByteArray("false") << 0 << QString() << 8000;
    QTest::newRow("port fails") << ok << 30000 << true << [] { Script s; s.failAtMs = 100; return s; }()
                                << QByteArray() << 259 << timeout << 200;
    QTest::newRow("port fails, not throwing") << ok << 30000 << false << [] { Script s; s.failAtMs = 100; return s; }()
                                              << QByteArray("false") << 0 << QString() << 200;

    QTest::newRow("prefix found") << csq << 4000 << true << at(5, "\r\n+CSQ: 18,99\r\n\r\nOK\r\n") << QByteArray("18,99") << 0 << QString() << 100;
    QTest::newRow("prefix after other lines") << csq << 4000 << true << at(5, lines("+CREG: 1", 9) + "\r\n+csq: 7,0\r\n")
                                              << QByteArray("7,0") << 0 << QString() << 200;
    QTest::newRow("OK before the prefix, throwing") << csq << 4000 << true << at(5, "\r\nOK\r\n")
                                                    << QByteArray() << 769 << QStringLiteral("GSM no OK response!") << 100;
    QTest::newRow("OK before the prefix, not throwing") << csq << 4000 << false << at(5, "\r\nOK\r\n") << QByteArray("") << 0 << QString() << 100;
    QTest::newRow("ten other lines, throwing") << csq << 4000 << true << at(5, lines("+CREG: 1", 10))
                                               << QByteArray() << 769 << QStringLiteral("GSM response err!") << 200;
    QTest::newRow("ten other lines, not throwing") << csq << 4000 << false << at(5, lines("+CREG: 1", 10)) << QByteArray("") << 0 << QString() << 200;
    QTest::newRow("response ERROR") << csq << 4000 << true << at(5, "\r\nERROR\r\n") << QByteArray() << 769 << errorText << 100;
    QTest::newRow("response silence, throwing") << csq << 10000 << true << Script() << QByteArray() << 259 << timeout << 10000;
    QTest::newRow("response silence, not throwing") << csq << 10000 << false << Script() << QByteArray("") << 0 << QString() << 10000;
    QTest::newRow("response flood, not throwing") << csq << 10000 << false << flood() << QByteArray("") << 0 << QString() << 20000;
    QTest::newRow("response exit, not throwing") << csq << 10000 << false << [] { Script s; s.exitAtMs = 50; return s; }()
                                                 << QByteArray() << 259 << exitText << 100;

    QTest::newRow("line, blanks and case kept") << QStringLiteral("line") << 1000 << true << at(5, "\r\n\r\n+Csq: 1\r\n")
                                                << QByteArray("+Csq: 1") << 0 << QString() << 100;
    QTest::newRow("line, flood") << QStringLiteral("line") << 1000 << true << flood() << QByteArray() << 259 << timeout << 2000;
    QTest::newRow("line, zero time-out") << QStringLiteral("line") << 0 << true << at(0, "\r\nOK\r\n") << QByteArray() << 259 << timeout << 0;

    QTest::newRow("until found") << QStringLiteral("until:,") << 500 << true << at(5, " 3,12,") << QByteArray(" 3") << 0 << QString() << 200;
    QTest::newRow("until, upper case") << QStringLiteral("until:+usord:") << 5000 << true << at(5, "\r\n+usord:")
                                       << QByteArray("\r\n") << 0 << QString() << 200;
    QTest::newRow("until time-out, throwing") << QStringLiteral("until:,") << 500 << true << at(5, "123")
                                              << QByteArray() << 769 << QStringLiteral("GSM receive timeout!") << 600;
    QTest::newRow("until time-out, not throwing") << QStringLiteral("until:,") << 500 << false << Script() << QByteArray("false") << 0 << QString() << 500;
    QTest::newRow("until, trickle") << QStringLiteral("until:,") << 500 << false << [] { Script s; s.trickleEveryMs = 5; return s; }()
                                    << QByteArray("false") << 0 << QString() << 1000;
    QTest::newRow("until, exit") << QStringLiteral("until:,") << 5000 << true << [] { Script s; s.exitAtMs = 100; return s; }()
                                 << QByteArray() << 769 << QStringLiteral("GSM receive timeout!") << 200;

    QTest::newRow("bytes") << QStringLiteral("bytes:7") << 2000 << true << at(5, "\"hello\"\r\nOK") << QByteArray("\"hello\"") << 0 << QString() << 100;
    QTest::newRow("bytes, too few") << QStringLiteral("bytes:7") << 2000 << true << at(5, "\"hel")
                                    << QByteArray() << 259 << QStringLiteral("GSM read byte timeout!") << 2100;
    QTest::newRow("bytes, trickle") << QStringLiteral("bytes:100000") << 2000 << true << [] { Script s; s.trickleEveryMs = 10; return s; }()
                                    << QByteArray() << 259 << QStringLiteral("GSM read byte timeout!") << 4100;
    QTest::newRow("bytes, flood") << QStringLiteral("bytes:1000000") << 2000 << true << flood()
                                  << QByteArray() << 259 << QStringLiteral("GSM read byte timeout!") << 4100;
    QTest::newRow("bytes, exit") << QStringLiteral("bytes:7") << 2000 << true << [] { Script s; s.exitAtMs = 100; return s; }()
                                 << QByteArray() << 259 << exitText << 200;

    QTest::newRow("char found after noise") << QStringLiteral("char:>") << 2000 << true << at(5, "\r\nxx> ") << QByteArray("true") << 0 << QString() << 100;
    QTest::newRow("char missing") << QStringLiteral("char:>") << 2000 << true << at(5, "\r\nOK\r\n")
                                  << QByteArray() << 259 << QStringLiteral("GSM receive timeout!") << 2000;
    QTest::newRow("char, flood") << QStringLiteral("char:@") << 4000 << true << at(5, QByteArray(100000, 'x'))
                                 << QByteArray() << 259 << QStringLiteral("GSM receive timeout!") << 4000;
}

void TestGsmAtEngine::waits()
{
    QFETCH(QString, op);
    QFETCH(int, timeoutMs);
    QFETCH(bool, flag);
    QFETCH(Script, script);
    QFETCH(QByteArray, result);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(int, maxMs);

    Bench bench;
    bench.load(script);
    GsmModule &m = bench.modem;
    const QString arg = op.section(QLatin1Char(':'), 1);
    QByteArray got;
    int gotCode = 0;
    QString gotMessage;
    try {
        if (op == QLatin1String("ok")) {
            got = m.waitOKLine(timeoutMs, flag) ? "true" : "false";
        } else if (op.startsWith(QLatin1String("response:"))) {
            got = m.waitResponseLine(arg.toLatin1(), timeoutMs, flag);
        } else if (op == QLatin1String("line")) {
            got = m.readLine(timeoutMs, 0);
        } else if (op.startsWith(QLatin1String("until:"))) {
            QByteArray before;
            const bool found = m.readUntil(arg.toLatin1(), timeoutMs, before, flag);
            got = found ? before : QByteArray("false");
        } else if (op.startsWith(QLatin1String("bytes:"))) {
            m.readBytes(arg.toInt(), got, timeoutMs);
        } else if (op.startsWith(QLatin1String("char:"))) {
            m.waitChar(arg.at(0).toLatin1(), timeoutMs);
            got = "true";
        }
    } catch (const GsmException &e) {
        gotCode = e.getErrorCode();
        gotMessage = e.getErrorMessage();
    } catch (const VexException &e) {
        QFAIL(qPrintable(QStringLiteral("not a GsmException: ") + e.getErrorMessage()));
    }
    QCOMPARE(gotCode, code);
    QCOMPARE(gotMessage, message);
    if (code == 0)
        QCOMPARE(got, result);
    QVERIFY2(bench.clock.now() <= maxMs, qPrintable(QString::number(bench.clock.now())));
}

void TestGsmAtEngine::lateAnswerOfPreviousCommand_doesNotSatisfyNextWait()
{
    Bench bench;
    bench.port->answer("\r\nOK\r\n", 4005); // after the first wait gave up
    bench.port->answer("\r\nERROR\r\n", 5);
    QVERIFY_THROWS_EXCEPTION(GsmException, bench.modem.testAT());
    bench.modem.sendCommand("AT+CSQ");
    QCOMPARE(bench.modem.waitOKLine(4000, false), false);
}

void TestGsmAtEngine::longLine_isCappedAndTheWaitGoesOn()
{
    Bench bench;
    bench.load(at(5, QByteArray(20000, 'A') + "\r\n+CSQ: 5,1\r\n"));
    const QByteArray line = bench.modem.readLine(4000, 0);
    QCOMPARE(line.size(), GsmModule::kMaxCollectBytes);
    QCOMPARE(bench.modem.waitResponseLine("+CSQ:", 4000, true), QByteArray("5,1"));
}

void TestGsmAtEngine::readUntil_keepsFindingTheMarkerPastTheCap()
{
    Bench bench;
    bench.load(at(5, QByteArray(6000, 'z') + "9,"));
    QByteArray before;
    QVERIFY(bench.modem.readUntil(",", 100000, before, true));
    QCOMPARE(before.size(), GsmModule::kMaxCollectBytes - 1);
    QVERIFY(before.endsWith("Z9"));
}

void TestGsmAtEngine::command_endsWithCarriageReturnOnly()
{
    Bench bench;
    bench.load(at(0, "stale\r\n"));
    bench.modem.sendCommand("AT+CSQ");
    QCOMPARE(bench.port->written(), QByteArray("AT+CSQ\r"));
    QCOMPARE(bench.port->inputWaiting(), 0); // what was waiting was discarded first
    QCOMPARE(bench.clock.now(), qint64(10));
}

void TestGsmAtEngine::openMissingNode_throwsGsmException257()
{
    EngineOnly modem;
    try {
        modem.open(QStringLiteral("/dev/ttyUSB9"));
        QFAIL("no exception");
    } catch (const GsmException &e) {
        QCOMPARE(e.getErrorCode(), 257);
        QCOMPARE(e.getErrorMessage(), QStringLiteral("GSM open port error!"));
    }
    QVERIFY(!modem.isOpen());
}

QTEST_GUILESS_MAIN(TestGsmAtEngine)
#include "tst_gsmatengine.moc"
