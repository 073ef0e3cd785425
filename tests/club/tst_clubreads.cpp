#include "club/clubreads.h"
#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "messagecapture.h"
#include "testroot.h"

#include <QDir>
#include <QTest>

#include <memory>

namespace {

constexpr int kStopMs = 5000;
constexpr int kSetUpMs = 3000;
constexpr quint8 kReadTag = 0xB7;
constexpr quint8 kSetRandom = 0xBA;
// Well inside the router's answer time-out, so the link waits for it.
constexpr int kLateAnswerMs = 1500;
const char kDropped[] = "answered after its asker left, dropped";

using Fault = ClubPortPeer::Fault;

// What one asker (or the link's broadcast signals) handed over, in order.
class Answers : public QObject
{
    Q_OBJECT
public:
    template<class Source>
    void listen(Source *source)
    {
        connect(source, &Source::readTagEnd, this,
                [this](QString ring, quint8 rand, QString) { events << QStringLiteral("tag %1 %2").arg(ring).arg(rand); });
        connect(source, &Source::setRandomEnd, this,
                [this](QString ring, quint8 rand) { events << QStringLiteral("random %1 %2").arg(ring).arg(rand); });
    }
    QStringList events;
};

} // namespace

// Ring reads and random-number writes at the club reader belong to the asker
// that queued them: a real link in club mode against the router peer, with
// answers held back by the peer while askers leave or restart.
class TestClubReads : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void lateAnswer_reachesOnlyItsOwnAsker_data();
    void lateAnswer_reachesOnlyItsOwnAsker();
    void askersSideBySide_eachGetsItsOwn();
    void readDroppedByLink_pendingUntilCancelled();

private:
    void startClub(int timeoutDivisor = 1);
    void ask(ClubReads *reads, bool setRandom);

    std::unique_ptr<TestRoot> root;
    std::unique_ptr<ClubPortPeer> peer;
    std::unique_ptr<MorlanProtocolProcess> process;
    std::unique_ptr<Answers> broadcast;
};

void TestClubReads::init()
{
    root = std::make_unique<TestRoot>();
    root->activate();
    QDir().mkpath(root->path(QStringLiteral("/dev")));
    peer = std::make_unique<ClubPortPeer>();
    QVERIFY(peer->linkAt(root->path(QStringLiteral("/dev/ttyS2"))));
    QVERIFY(peer->start());
    broadcast = std::make_unique<Answers>();
}

void TestClubReads::cleanup()
{
    if (process) {
        process->requestExit();
        QVERIFY(process->wait(kStopMs));
    }
    process.reset();
    broadcast.reset();
    peer.reset();
    root.reset();
}

void TestClubReads::startClub(int timeoutDivisor)
{
    process = std::make_unique<MorlanProtocolProcess>(_serialPort_miniDin);
    process->setParamReader([](const QString &, int value) { return value; });
    process->setAnswerTimeoutDivisor(timeoutDivisor);
    broadcast->listen(process.get());
    process->start(QThread::InheritPriority);
    process->switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
    QTRY_VERIFY_WITH_TIMEOUT(process->isAuthed(), kSetUpMs);
}

void TestClubReads::ask(ClubReads *reads, bool setRandom)
{
    if (setRandom)
        reads->setRandom();
    else
        reads->readTag();
}

void TestClubReads::lateAnswer_reachesOnlyItsOwnAsker_data()
{
    QTest::addColumn<bool>("setRandom");
    QTest::addColumn<bool>("restart"); // the same asker restarts, rather than a new one after it
    QTest::addColumn<QString>("expected");
    QTest::newRow("read, asker gone") << false << false << "tag 0000B002 2";
    QTest::newRow("read, asker restarted") << false << true << "tag 0000B002 2";
    QTest::newRow("random write, asker gone") << true << false << "random 0000B002 77";
    QTest::newRow("random write, asker restarted") << true << true << "random 0000B002 77";
}

void TestClubReads::lateAnswer_reachesOnlyItsOwnAsker()
{
    QFETCH(bool, setRandom);
    QFETCH(bool, restart);
    QFETCH(QString, expected);
    const quint8 command = setRandom ? kSetRandom : kReadTag;
    startClub();
    MessageCapture log;
    ClubRouter &router = peer->router();
    router.presentRing(QByteArray::fromHex("0000a001"), 1);
    router.setNextRandom(66);

    auto first = std::make_unique<ClubReads>(process.get());
    Answers firstAnswers;
    firstAnswers.listen(first.get());
    peer->setNextFaults(1, Fault{Fault::Late, kLateAnswerMs, {}});
    ask(first.get(), setRandom);
    QCOMPARE(first->pending(), 1);
    QTRY_COMPARE(peer->framesOf(command).size(), 1);

    // The first asker's answer (ring A001) is on its way; its asker leaves
    // or starts again, and another ring lies at the reader.
    ClubReads *next = first.get();
    Answers *nextAnswers = &firstAnswers;
    std::unique_ptr<ClubReads> other;
    Answers otherAnswers;
    if (restart) {
        first->cancel();
        QCOMPARE(first->pending(), 0);
    } else {
        first.reset();
        other = std::make_unique<ClubReads>(process.get());
        otherAnswers.listen(other.get());
        next = other.get();
        nextAnswers = &otherAnswers;
    }
    router.presentRing(QByteArray::fromHex("0000b002"), 2);
    router.setNextRandom(77);
    ask(next, setRandom);

    QTRY_COMPARE_WITH_TIMEOUT(nextAnswers->events.size(), 1, kLateAnswerMs + kSetUpMs);
    QCOMPARE(nextAnswers->events, QStringList{expected});
    QCOMPARE(next->pending(), 0);
    QCOMPARE(peer->framesOf(command).size(), 2); // the stale command still ran
    if (!restart)
        QVERIFY(firstAnswers.events.isEmpty());
    QCOMPARE(log.count(QString::fromLatin1(kDropped)), 1);
    // Nothing of an asker's command is broadcast.
    QTest::qWait(50);
    QVERIFY2(broadcast->events.isEmpty(), qPrintable(broadcast->events.join(", ")));
}

void TestClubReads::askersSideBySide_eachGetsItsOwn()
{
    startClub();
    ClubRouter &router = peer->router();
    router.presentRing(QByteArray::fromHex("0000a001"), 1);
    ClubReads one(process.get());
    ClubReads two(process.get());
    Answers oneAnswers;
    Answers twoAnswers;
    oneAnswers.listen(&one);
    twoAnswers.listen(&two);

    // Queued together; the first answer comes late, and the ring changes under
    // it, so each answer tells which command it was for.
    peer->setNextFaults(1, Fault{Fault::Late, 500, {}});
    one.readTag();
    two.readTag();
    process->startReadTag(); // an asker-less read keeps its broadcast
    QTRY_COMPARE(peer->framesOf(kReadTag).size(), 1);
    router.presentRing(QByteArray::fromHex("0000b002"), 2);

    QTRY_COMPARE_WITH_TIMEOUT(broadcast->events.size(), 1, kSetUpMs);
    QCOMPARE(oneAnswers.events, QStringList{"tag 0000A001 1"});
    QCOMPARE(twoAnswers.events, QStringList{"tag 0000B002 2"});
    QCOMPARE(broadcast->events, QStringList{"tag 0000B002 2"});
    QCOMPARE(one.pending() + two.pending(), 0);
}

void TestClubReads::readDroppedByLink_pendingUntilCancelled()
{
    startClub(10); // the router's answer time-out a tenth: 500 ms
    int reauthorisations = 0;
    connect(process.get(), &MorlanProtocolProcess::routerAuthed, this, [&reauthorisations] { ++reauthorisations; },
            Qt::QueuedConnection);
    MessageCapture log;
    peer->setCommandFault(kReadTag, Fault{Fault::Silence, 0, {}});
    ClubReads reads(process.get());
    Answers answers;
    answers.listen(&reads);
    reads.readTag();
    QTRY_COMPARE(peer->framesOf(kReadTag).size(), 1);
    // The silent read drops the link, which builds itself again; the read is
    // not answered at all, and the asker still counts it.
    peer->clearFaults();
    QTRY_COMPARE_WITH_TIMEOUT(reauthorisations, 1, kSetUpMs);
    QCOMPARE(reads.pending(), 1);
    QVERIFY(answers.events.isEmpty());

    // The asker gives the lost read up and asks again.
    peer->router().presentRing(QByteArray::fromHex("0000c003"), 3);
    reads.cancel();
    reads.readTag();
    QTRY_COMPARE(answers.events, QStringList{"tag 0000C003 3"});
    QCOMPARE(reads.pending(), 0);
    QCOMPARE(log.count(QString::fromLatin1(kDropped)), 0);
}

QTEST_GUILESS_MAIN(TestClubReads)
#include "tst_clubreads.moc"
