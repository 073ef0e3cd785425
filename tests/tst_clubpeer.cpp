#include "device/rfconnector.h"

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
    for (const char *word : {"--link", "--role", "ring RING", "cfault", "fault CMD", "quit"})
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

QTEST_GUILESS_MAIN(TestClubPeer)
#include "tst_clubpeer.moc"
