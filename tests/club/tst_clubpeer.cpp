#include "club/morlanmaster.h"
#include "device/rfconnector.h"
#include "device/serialcommport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTest>

// The club-port peer as the process the simulated device runs: its help, its
// console, and a ring presented there reaching the product's connector code.
class TestClubPeer : public QObject
{
    Q_OBJECT
private slots:
    void help_listsTheConsoleCommands();
    void console_presentsARing_thenQuits();
    void console_drivesTheRouter();

private:
    static QString program() { return QStringLiteral(CLUBPEER_PATH); }
};

namespace {
constexpr int kProcessWaitMs = 5000;

QString readAnswer(QProcess &peer)
{
    if (!peer.canReadLine() && !peer.waitForReadyRead(kProcessWaitMs))
        return QString();
    return QString::fromUtf8(peer.readLine()).trimmed();
}
} // namespace

void TestClubPeer::help_listsTheConsoleCommands()
{
    QProcess peer;
    peer.start(program(), {QStringLiteral("--help")});
    QVERIFY(peer.waitForFinished(kProcessWaitMs));
    QCOMPARE(peer.exitCode(), 0);
    const QString text = QString::fromUtf8(peer.readAllStandardOutput());
    for (const char *word : {"--link", "--role", "ring RING", "cfault", "fault CMD", "router-ring", "router-clock",
                             "printer", "printed", "quit"})
        QVERIFY2(text.contains(QLatin1String(word)), word);
}

void TestClubPeer::console_presentsARing_thenQuits()
{
    QProcess peer;
    peer.start(program(), {QStringLiteral("--no-pacing")});
    QVERIFY(peer.waitForStarted(kProcessWaitMs));
    const QString line = readAnswer(peer);
    QVERIFY2(line.startsWith(QLatin1String("line /dev/")), qPrintable(line));

    QSerialPort port(line.mid(5));
    RFConnector connector(&port);
    QVERIFY(connector.initPort());
    connector.connect();
    QList<LFCHANNEL_INFO> channels;
    QList<LFTAG_INFO> tags;
    connector.syncStatus(channels, tags);
    QVERIFY(tags.isEmpty());

    peer.write("ring 00C0FFEE 9\n");
    QCOMPARE(readAnswer(peer), QStringLiteral("record 1"));
    connector.syncStatus(channels, tags);
    QCOMPARE(tags.size(), 1);
    QCOMPARE(tags[0].eRing, QStringLiteral("00C0FFEE"));
    QCOMPARE(tags[0].randNum, 9);

    peer.write("frobnicate\n");
    QVERIFY(readAnswer(peer).startsWith(QLatin1String("error:")));
    peer.write("state\n");
    QVERIFY(readAnswer(peer).contains(QLatin1String("open=1 baud=115200")));
    peer.write("quit\n");
    QCOMPARE(readAnswer(peer), QStringLiteral("ok"));
    QVERIFY(peer.waitForFinished(kProcessWaitMs));
    QCOMPARE(peer.exitCode(), 0);
}

// The router's side of the console: a ring at its reader, its clock, a
// refusing printer and the printed text, seen through the product's master
// command set at 9600 baud.
void TestClubPeer::console_drivesTheRouter()
{
    QProcess peer;
    peer.start(program(), {QStringLiteral("--no-pacing"), QStringLiteral("--role"), QStringLiteral("router")});
    QVERIFY(peer.waitForStarted(kProcessWaitMs));
    const QString line = readAnswer(peer);
    QVERIFY2(line.startsWith(QLatin1String("line /dev/")), qPrintable(line));
    QSerialPort serial(line.mid(5));
    serial.setBaudRate(9600);
    QVERIFY(serial.open(QIODevice::ReadWrite));
    SerialCommPort port(&serial);
    MorlanMasterHandler handler(&port);

    QString ring;
    quint8 rand = 0;
    QString uid;
    QVERIFY(handler.readTransponder(&ring, &rand, &uid) != 0); // no ring yet
    peer.write("router-ring 0012abcd 17\n");
    QCOMPARE(readAnswer(peer), QStringLiteral("ok"));
    QCOMPARE(handler.readTransponder(&ring, &rand, &uid), 0);
    QCOMPARE(ring, QStringLiteral("0012ABCD"));
    QCOMPARE(rand, quint8(17));

    QElapsedTimer sinceSet;
    sinceSet.start();
    peer.write("router-clock 2026-03-09T12:34:56\n");
    QCOMPARE(readAnswer(peer), QStringLiteral("ok"));
    qint64 ms = 0;
    QCOMPARE(handler.readTime(&ms), 0);
    const qint64 expected = QDateTime(QDate(2026, 3, 9), QTime(12, 34, 56), Qt::UTC).toMSecsSinceEpoch();
    // The clock as set, run on by no more than the time since (whole seconds
    // on the wire).
    QVERIFY2(ms >= expected && ms <= expected + sinceSet.elapsed() + 1000, qPrintable(QString::number(ms - expected)));
    QCOMPARE(handler.setTime(expected + 86400000), 0);
    peer.write("router-clock\n");
    QVERIFY(readAnswer(peer).startsWith(QLatin1String("clock 2026-03-10T12:34:5")));

    peer.write("printer 0x54 9\n");
    QCOMPARE(readAnswer(peer), QStringLiteral("ok"));
    QCOMPARE(handler.print(QStringLiteral("refused\r\n"), 0x54), 9);
    QCOMPARE(handler.print(QStringLiteral("Race list\r\nPage 1\r\n\f"), 0x22), 0);
    peer.write("printed\n");
    QCOMPARE(readAnswer(peer), QStringLiteral("printed 3"));
    QCOMPARE(readAnswer(peer), QStringLiteral("Race list"));
    QCOMPARE(readAnswer(peer), QStringLiteral("Page 1"));
    QCOMPARE(readAnswer(peer), QStringLiteral("---- form feed ----"));
    peer.write("printer 0x31 9\n");
    QVERIFY(readAnswer(peer).startsWith(QLatin1String("error:")));

    peer.write("quit\n");
    QCOMPARE(readAnswer(peer), QStringLiteral("ok"));
    QVERIFY(peer.waitForFinished(kProcessWaitMs));
}

QTEST_GUILESS_MAIN(TestClubPeer)
#include "tst_clubpeer.moc"
