#include "club/morlanprotolprocess.h"
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include "clubportpeer.h"
#include "connectorreader.h"
#include "testroot.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {
class Relay : public QObject
{
    Q_OBJECT
signals:
    void tagScaned(LFTAG_INFO tag);
};
} // namespace

// The service thread as the program starts it, on a simulated root with the
// club-port peer on /dev/ttyS2 and "channelMode" 1: a ring presented at the
// peer's connector reaches the race engine through the link thread. One
// start and stop per process (the factory is a process-wide singleton).
class TestClubLinkService : public QObject
{
    Q_OBJECT
private slots:
    void ringAtTheConnector_reachesTheRaceEngine();
};

void TestClubLinkService::ringAtTheConnector_reachesTheRaceEngine()
{
    qRegisterMetaType<LFTAG_INFO>();
    TestRoot root(2);
    root.activate();
    QDir().mkpath(root.path(QStringLiteral("/dev")));
    ClubPortPeer peer;
    QVERIFY(peer.linkAt(root.path(QStringLiteral("/dev/ttyS2"))));
    QVERIFY(peer.start());
    MyApp::init();
    Storage::instance()->setParam(QStringLiteral("channelMode"), QStringLiteral("1"));
    QCOMPARE(Storage::instance()->getParam(QStringLiteral("channelMode")), QStringLiteral("1"));

    ServiceFactory *factory = ServiceFactory::getInstance();
    ServiceFactory::startService();
    QVERIFY(factory->started && factory->pigeonBo && factory->protocolProcess);
    Relay relay;
    connect(factory->pigeonBo, &PigeonBo::tagScaned, &relay, &Relay::tagScaned, Qt::QueuedConnection);
    QSignalSpy tags(&relay, &Relay::tagScaned);
    QTRY_VERIFY_WITH_TIMEOUT(factory->protocolProcess->isConnectorReady(), 5000);
    QVERIFY(peer.lineSettings().fits(115200));

    peer.connector().addRecord(QByteArray::fromHex("00c0ffee"), 42);
    QTRY_COMPARE(tags.count(), 1);
    const LFTAG_INFO tag = tags.at(0).at(0).value<LFTAG_INFO>();
    QCOMPARE(tag.eRing, QStringLiteral("00C0FFEE"));
    QCOMPARE(tag.randNum, 42);
    QTRY_COMPARE(peer.connector().recordCount(), 0);

    ServiceFactory::requestExit();
    factory->protocolProcess->requestExit();
    QTRY_VERIFY(!factory->protocolProcess->isRunning());
    QTRY_VERIFY(factory->pigeonBo->isFinished());
    factory->quit();
    QVERIFY(factory->wait(10000));
}

QTEST_GUILESS_MAIN(TestClubLinkService)
#include "tst_clublinkservice.moc"
