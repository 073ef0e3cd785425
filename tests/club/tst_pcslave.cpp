#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "race/pigeonbo.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"

#include "messagecapture.h"
#include "pcpeer.h"
#include "storagefixture.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <thread>

// The PC slave end to end: the link thread in comm mode on the club node of a
// simulated root, the PC peer on the other end of the pseudo-terminal, the
// race engine published for the system id and its cache reload.
class TestPcSlave : public QObject
{
    Q_OBJECT
private slots:
    void stay_setsUpTheClockAndServes();
    void hostileRequests_changeNoOtherRow();
    void hostileFilter_refusedAndListKept_data();
    void hostileFilter_refusedAndListKept();
    void streamWithoutStartByte_doesNotHoldOffAModeChange();
    void reenteringCommMode_startsAFreshSession();
    void pacedAt9600_authenticateReadAndSave();
    void peerProcess_setsUpTheClockFromItsConsole();
};

namespace {

constexpr int kProcessWaitMs = 5000;
const QString kClubNode = QStringLiteral("/dev/ttyS2");

class Relay : public QObject
{
    Q_OBJECT
signals:
    void tip(QString text);
};

// The clock's side: database, race engine and link thread in comm mode.
// Members stop in reverse order: the link thread before the engine and the
// database it uses.
struct Clock
{
    Clock()
    {
        QDir().mkpath(db.root().path(QStringLiteral("/dev")));
        line.linkAt(db.root().path(kClubNode));
        ServiceFactory::getInstance()->pigeonBo = &bo;
        QObject::connect(&process, &MorlanProtocolProcess::showTip, &relay, &Relay::tip, Qt::QueuedConnection);
        process.start();
        process.switchWorkMode(MorlanProtocolProcess::CommSlave, true);
        peer.setAnswerTimeoutMs(3000);
    }
    ~Clock()
    {
        process.requestExit();
        process.wait(kProcessWaitMs);
        ServiceFactory::getInstance()->pigeonBo = nullptr;
    }

    StorageFixture db;
    PcLineTransport line;
    PcPeer peer{&line};
    PigeonBo bo;
    Relay relay;
    MorlanProtocolProcess process{kClubNode};
};

QByteArray textOf(const PcPeer::JsonReply &reply)
{
    return reply.ok() ? reply.text : QByteArray("failed: status ") + QByteArray::number(reply.answer.status);
}

void addPigeon(const QString &assocNum)
{
    PigeonInfo pigeon;
    pigeon.assocNum = assocNum;
    pigeon.color = QStringLiteral("blue");
    Storage::instance()->savePigeon(&pigeon);
}

QString allRows(StorageFixture &db)
{
    return db.dump();
}

} // namespace

void TestPcSlave::stay_setsUpTheClockAndServes()
{
    Clock clock;
    QSignalSpy tips(&clock.relay, &Relay::tip);
    PcPeer &peer = clock.peer;
    QCOMPARE(peer.authenticate(QByteArray::fromHex("C0FFEE01")).status, quint8(0));
    QVERIFY(peer.digestMatched()); // system id 00000000, empty password
    QCOMPARE(peer.deviceInfo().data, QByteArray::fromHex("00000000"));
    clock.db.root().clearBoardCommands();

    const PcPeer::JsonReply init = peer.initialise(QStringLiteral("NL-77"), QStringLiteral("pw"));
    QVERIFY(init.tagOk);
    const QByteArray nullReply = R"({"result":null})";
    QCOMPARE(init.text, nullReply);
    // The flush follows the reply.
    QTRY_COMPARE(clock.db.root().boardCommands().count(QStringLiteral("sync")), 1);
    QCOMPARE(clock.bo.getLoftNum(), QStringLiteral("NL-77")); // the engine's cache was reloaded

    const PcPeer::JsonReply loft = peer.call(R"({"method":"getLoftInfo","fields":["loftNum","initFlag"],"id":1})");
    const QByteArray loftReply = R"({"id":1,"result":{"initFlag":true,"loftNum":"NL-77"}})";
    QCOMPARE(textOf(loft), loftReply);
    const PcPeer::JsonReply saved = peer.call(R"({"method":"savePigeon","assocNum":"B-1","eringNum":"0A0B0C0D"})");
    QCOMPARE(textOf(saved), nullReply);
    QCOMPARE(clock.db.value(QStringLiteral("select EringNum from pigeon where AssocNum='B-1'")).toString(),
             QStringLiteral("0A0B0C0D"));

    QVERIFY(peer.showTip(QByteArray("Setting up")).isEmpty());
    QTRY_COMPARE(tips.count(), 1);
    QCOMPARE(tips.at(0).at(0).toString(), QStringLiteral("Setting up"));
    QCOMPARE(peer.firmware().data, QByteArray::fromHex("46300009"));
}

void TestPcSlave::hostileRequests_changeNoOtherRow()
{
    Clock clock;
    addPigeon(QStringLiteral("AB"));
    addPigeon(QStringLiteral("CD"));
    const QString before = allRows(clock.db);
    PcPeer &peer = clock.peer;
    const PcPeer::JsonReply refused = peer.call(R"({"method":"queryPigeon","filter":"1=1; delete from pigeon"})");
    QVERIFY(refused.ok());
    QCOMPARE(refused.error() & 0xFFFFFF00, 0x11000000);
    QCOMPARE(allRows(clock.db), before);

    const PcPeer::JsonReply saved = peer.call(R"({"method":"savePigeon","assocNum":"A'||'B","color":"red"})");
    QVERIFY(saved.ok());
    const QList<QVariantList> rows = clock.db.rows(QStringLiteral("select AssocNum,Color from pigeon order by 1"));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0), (QVariantList{QStringLiteral("A'||'B"), QStringLiteral("red")}));
    QCOMPARE(rows.at(1), (QVariantList{QStringLiteral("AB"), QStringLiteral("blue")}));
    QCOMPARE(rows.at(2), (QVariantList{QStringLiteral("CD"), QStringLiteral("blue")}));
}

void TestPcSlave::hostileFilter_refusedAndListKept_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("UNION SELECT the password from loftinfo")
        << QByteArray(R"({"method":"queryPigeon","filter":"0 UNION SELECT Password,Password,Password,1,1,)"
                      R"(Password,Password,1,1,Password,1 FROM loftinfo"})");
    QTest::newRow("subquery on another table")
        << QByteArray(R"x({"method":"queryPigeon","filter":"AssocNum in (select Password from LOFTINFO)"})x");
    QTest::newRow("race: subquery on the loft")
        << QByteArray(R"x({"method":"queryRace","filter":"RaceCode in (select Password from LOFTINFO)"})x");
    QTest::newRow("load_extension")
        << QByteArray(R"x({"method":"queryPigeon","filter":"load_extension('/tmp/x.so') is null"})x");
    QTest::newRow("ATTACH") << QByteArray(R"({"method":"queryPigeon","filter":"1; ATTACH 'x.db' AS x"})");
}

// A filter that reaches past its table is answered with the data service's
// error, as a failed query is; the password never travels, the list of the
// last good query stays and the next query is served.
void TestPcSlave::hostileFilter_refusedAndListKept()
{
    QFETCH(QByteArray, request);
    Clock clock;
    addPigeon(QStringLiteral("AB"));
    addPigeon(QStringLiteral("CD"));
    QVERIFY(clock.db.exec(QStringLiteral("update LOFTINFO set Password='pw-9X'")));
    const QString before = allRows(clock.db);
    PcPeer &peer = clock.peer;
    QCOMPARE(peer.call(R"({"method":"queryPigeon","filter":"AssocNum='CD'"})").result().toInt(), 1);

    const PcPeer::JsonReply refused = peer.call(request);
    QVERIFY(refused.ok());
    QCOMPARE(refused.error() & 0xFFFFFF00, 0x11000000);
    QVERIFY(!refused.result().toString().isEmpty());
    QVERIFY(!refused.text.contains("pw-9X"));
    const PcPeer::JsonReply kept = peer.call(R"({"method":"getPigeonInfo","index":0,"fields":["assocNum"]})");
    QCOMPARE(kept.text, QByteArray(R"({"result":{"assocNum":"CD"}})"));
    QCOMPARE(allRows(clock.db), before);
    QCOMPARE(peer.call(R"({"method":"queryPigeon","filter":"lower(AssocNum) like 'a%'"})").result().toInt(), 1);
}

void TestPcSlave::streamWithoutStartByte_doesNotHoldOffAModeChange()
{
    Clock clock;
    std::atomic<bool> stop{false};
    std::thread noise([&clock, &stop] {
        const QByteArray bytes(1 << 16, char(0x55)); // keeps the line full
        while (!stop)
            clock.line.peerLine().write(bytes, 0, 0, &stop);
    });
    QTest::qWait(100);
    MessageCapture capture;
    // The waited switch returns once the link thread has taken the new mode,
    // or gives up at its own bound and says so.
    clock.process.switchWorkMode(MorlanProtocolProcess::Normal, true);
    stop = true;
    noise.join();
    QVERIFY(!capture.contains(QStringLiteral("switchWorkMode timeout!")));
    QCOMPARE(clock.process.getWorkMode(), int(MorlanProtocolProcess::Normal));
}

void TestPcSlave::reenteringCommMode_startsAFreshSession()
{
    Clock clock;
    PcPeer &peer = clock.peer;
    addPigeon(QStringLiteral("AB"));
    peer.authenticate(QByteArray::fromHex("01020304"));
    const PcPeer::JsonReply cached = peer.call(R"({"method":"savePigeon","assocNum":"N-1","color":"red","cache":true})");
    QVERIFY(cached.ok());
    QCOMPARE(peer.call(R"({"method":"queryPigeon"})").result().toInt(), 1);

    clock.process.switchWorkMode(MorlanProtocolProcess::Normal, true);
    clock.process.switchWorkMode(MorlanProtocolProcess::CommSlave, true);
    // The clock forgot the key; a tag under the old one is refused.
    QCOMPARE(peer.call(R"({"method":"getParams"})").answer.status, quint8(0x51));
    peer.forgetSession();
    const QByteArray overflow = R"({"error":1287,"result":"Index overflow!"})";
    const PcPeer::JsonReply read = peer.call(R"({"method":"getPigeonInfo","index":0})");
    QCOMPARE(textOf(read), overflow);
    const PcPeer::JsonReply stored = peer.call(R"({"method":"savePigeon","assocNum":"N-1"})");
    QVERIFY(stored.ok());
    QCOMPARE(clock.db.value(QStringLiteral("select Color from pigeon where AssocNum='N-1'")).toString(), QString());
}

void TestPcSlave::pacedAt9600_authenticateReadAndSave()
{
    Clock clock;
    PcPeer &peer = clock.peer;
    peer.setPacing(PcPeer::kLineBaud);
    QVERIFY(clock.line.peerLine().settings().fits(PcPeer::kLineBaud));
    QCOMPARE(peer.authenticate(QByteArray::fromHex("0A0B0C0D")).status, quint8(0));
    QVERIFY(peer.digestMatched());
    QCOMPARE(peer.deviceInfo().status, quint8(0));
    const QByteArray loftReply = R"({"result":{"initFlag":false}})";
    const PcPeer::JsonReply loft = peer.call(R"({"method":"getLoftInfo","fields":["initFlag"]})");
    QCOMPARE(textOf(loft), loftReply);
    const PcPeer::JsonReply saved = peer.call(R"({"method":"savePigeon","assocNum":"S-1","sex":0,"year":2024})");
    QVERIFY(saved.ok());
    QCOMPARE(clock.db.value(QStringLiteral("select Sex||'/'||Year from pigeon where AssocNum='S-1'")).toString(),
             QStringLiteral("0/2024"));
}

void TestPcSlave::peerProcess_setsUpTheClockFromItsConsole()
{
    StorageFixture db;
    QDir().mkpath(db.root().path(QStringLiteral("/dev")));
    QProcess pc;
    pc.start(QStringLiteral(PCPEER_PATH), {QStringLiteral("--no-pacing"), QStringLiteral("--link"),
                                           db.root().path(kClubNode)});
    QVERIFY(pc.waitForStarted(kProcessWaitMs));
    auto answer = [&pc] {
        if (!pc.canReadLine() && !pc.waitForReadyRead(kProcessWaitMs))
            return QString();
        return QString::fromUtf8(pc.readLine()).trimmed();
    };
    QVERIFY(answer().startsWith(QLatin1String("line /dev/")));

    PigeonBo bo;
    ServiceFactory::getInstance()->pigeonBo = &bo;
    {
        Relay relay;
        MorlanProtocolProcess process(kClubNode);
        QObject::connect(&process, &MorlanProtocolProcess::showTip, &relay, &Relay::tip, Qt::QueuedConnection);
        QSignalSpy tips(&relay, &Relay::tip);
        process.start();
        process.switchWorkMode(MorlanProtocolProcess::CommSlave, true);

        pc.write("auth 01020304\n");
        QVERIFY(answer().startsWith(QLatin1String("auth ok key ")));
        pc.write("info\n");
        QCOMPARE(answer(), QStringLiteral("sysid 00000000 loft"));
        pc.write("init NL-5 pw\n");
        QCOMPARE(answer(), QStringLiteral(R"({"result":null})"));
        pc.write(R"(json {"method":"getLoftInfo","fields":["loftNum"]})" "\n");
        QCOMPARE(answer(), QStringLiteral(R"({"result":{"loftNum":"NL-5"}})"));
        pc.write("tip Hello loft\n");
        QCOMPARE(answer(), QStringLiteral("ok"));
        QTRY_COMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(0).toString(), QStringLiteral("Hello loft"));
        pc.write("frobnicate\n");
        QVERIFY(answer().startsWith(QLatin1String("error:")));
        pc.write("quit\n");
        QCOMPARE(answer(), QStringLiteral("ok"));
        QVERIFY(pc.waitForFinished(kProcessWaitMs));
        QCOMPARE(pc.exitCode(), 0);

        process.requestExit();
        QVERIFY(process.wait(kProcessWaitMs));
    }
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    QCOMPARE(db.value(QStringLiteral("select LoftNum||'/'||Password from LOFTINFO")).toString(),
             QStringLiteral("NL-5/pw"));
}

QTEST_GUILESS_MAIN(TestPcSlave)
#include "tst_pcslave.moc"
