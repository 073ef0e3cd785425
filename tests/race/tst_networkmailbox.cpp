// The race engine's command mailbox and state report on the whole road: the
// real modem thread (its loop scaled) on the u-blox modem peer, whose socket
// reaches the cloud endpoint peer; the engine behind a gate that lets data
// turns through. The blocking uploads of the screens run on threads of their
// own, as the GUI thread would call them.
#include "core/platform.h"
#include "core/vexexception.h"
#include "storage/storage.h"

#include "networkrig.h"

#include <QDateTime>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace {

constexpr int kWaitMs = NetworkRig::kWaitMs;
// Within the driver's scaled receive budget, longer than a mailbox wait.
constexpr int kLateMs = 600;
constexpr int kTurnsToWatch = 5;

PigeonRecord basketed(const QString &assocNum, qint64 offsetMs)
{
    return NetworkRig::basketed(assocNum, offsetMs);
}

PigeonRecord arrived(const QString &assocNum, qint64 offsetMs)
{
    return NetworkRig::arrived(assocNum, offsetMs);
}

// A blocking upload of a screen, run on a thread of its own.
struct Poster
{
    explicit Poster(const std::function<void()> &post)
    {
        thread.reset(QThread::create([this, post] {
            try {
                post();
            } catch (const VexException &e) {
                code = e.getErrorCode();
                message = e.getErrorMessage();
            }
            // A thread that reached the database closes its own connection.
            Storage::destroy();
        }));
        thread->start();
    }
    ~Poster() { thread->wait(kWaitMs); }
    bool finish() { return thread->wait(kWaitMs); }

    std::unique_ptr<QThread> thread;
    std::atomic<int> code{0};
    QString message;
};

void allValid(const QList<CloudCall> &calls)
{
    for (const CloudCall &call : calls)
        QVERIFY2(call.isValid(), qPrintable(call.problems.join(QLatin1Char(','))));
}

} // namespace

class TestNetworkMailbox : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void emptyHost_nothingServed();
    void mailbox_commandsReachEndpoint_slotIdleAfterEach();
    void mailbox_secondPostWhileRunning_refused();
    void mailbox_gaveUp_lateOutcomeLeavesNextCommand();
    void stateReport_atMostEvery15s_backwardStepTriggers();
};

void TestNetworkMailbox::init()
{
    Platform::setSystemClock({});
}

void TestNetworkMailbox::cleanup()
{
    Platform::setSystemClock({});
}

void TestNetworkMailbox::emptyHost_nothingServed()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) {
        l.hostIp.clear();
        l.uploadMode = 0x10 | 0x20;
    });
    NetworkRig::addRace(QStringLiteral("R1"), 3);
    NetworkRig::saveRecord(arrived(QStringLiteral("P1"), 0));
    rig.engine.setMailboxWait({30, 10});
    rig.start();
    rig.gate.allow(TurnGate::Gprs, -1);
    const RaceInfo race = *NetworkRig::race(QStringLiteral("R1"));
    Poster post([&] { rig.engine.uploadArriveData(&race); });
    QVERIFY(post.finish());
    QCOMPARE(post.code.load(), 0x1003); // "timeout!": no turn served the mailbox
    QVERIFY(rig.gate.waitResults(TurnGate::Gprs, kTurnsToWatch, kWaitMs));
    for (int r : rig.gate.results(TurnGate::Gprs))
        QCOMPARE(r, 1);
    QVERIFY(rig.endpoint.calls().isEmpty());
    QVERIFY(!NetworkRig::record(QStringLiteral("P1"))->eringUploadState);
}

void TestNetworkMailbox::mailbox_commandsReachEndpoint_slotIdleAfterEach()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    const PigeonRecord mark = basketed(QStringLiteral("P1"), 0);
    NetworkRig::saveRecord(mark);
    const RaceInfo race = *NetworkRig::race(QStringLiteral("R1"));
    rig.start();
    rig.gate.allow(TurnGate::Gprs, -1);

    struct Step {
        const char *method;
        std::function<void()> post;
        std::function<QString()> payload;
    };
    const QList<Step> steps{
        {"uploadArriveData", [&] { rig.engine.uploadArriveData(&race); },
         [&] { return rig.engine.toJsonArriveData(&race); }},
        {"uploadMarkRecord", [&] { rig.engine.uploadMarkRecord(&mark, &race); },
         [&] { return rig.engine.toJsonMarkRecord(&mark, &race); }},
        {"uploadMarkRecordList",
         [&] { rig.engine.uploadMarkRecordList(Storage::instance()->findRecordsByRaceCode(race.raceCode, {}), &race); },
         [&] { return rig.engine.toJsonMarkRecordList(Storage::instance()->findRecordsByRaceCode(race.raceCode, {}), &race); }},
    };
    for (const Step &step : steps) {
        Poster post(step.post);
        QVERIFY(post.finish());
        QCOMPARE(post.code.load(), 0);
        const CloudCall call = rig.endpoint.calls().last();
        QCOMPARE(call.method, QLatin1String(step.method));
        QCOMPARE(call.payload, step.payload());
        QVERIFY2(call.isValid(), qPrintable(call.problems.join(QLatin1Char(','))));
    }

    // An endpoint error: "Net error!", and the slot is free again after it.
    rig.endpoint.addFault(CloudFault::ErrorText, 1, "refused");
    Poster failed([&] { rig.engine.uploadArriveData(&race); });
    QVERIFY(failed.finish());
    QCOMPARE(failed.code.load(), 0x1002);
    QCOMPARE(failed.message, QStringLiteral("Net error!"));
    Poster again([&] { rig.engine.uploadArriveData(&race); });
    QVERIFY(again.finish());
    QCOMPARE(again.code.load(), 0);
    QCOMPARE(rig.endpoint.calls(QStringLiteral("uploadArriveData")).size(), 3);
}

void TestNetworkMailbox::mailbox_secondPostWhileRunning_refused()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    const RaceInfo race = *NetworkRig::race(QStringLiteral("R1"));
    rig.start();
    rig.gate.allow(TurnGate::Gprs, -1);
    rig.endpoint.addFault(CloudFault::Late, 1, QByteArray(), kLateMs);

    Poster first([&] { rig.engine.uploadArriveData(&race); });
    QVERIFY(rig.endpoint.waitForCalls(1, kWaitMs)); // the first is in flight
    int code = 0;
    QString message;
    try {
        rig.engine.uploadArriveData(&race);
    } catch (const VexException &e) {
        code = e.getErrorCode();
        message = e.getErrorMessage();
    }
    QCOMPARE(code, 0x1201);
    QCOMPARE(message, QStringLiteral("Last command is running!"));
    // The refusal gave the slot up: the first caller stops waiting.
    QVERIFY(first.finish());
    QCOMPARE(first.code.load(), 0x1002);

    // Its late outcome changes nothing: the next command runs and succeeds.
    QTRY_COMPARE_WITH_TIMEOUT(rig.gate.results(TurnGate::Gprs).contains(0), true, kWaitMs);
    Poster next([&] { rig.engine.uploadArriveData(&race); });
    QVERIFY(next.finish());
    QCOMPARE(next.code.load(), 0);
    QCOMPARE(rig.endpoint.calls().size(), 2);
}

void TestNetworkMailbox::mailbox_gaveUp_lateOutcomeLeavesNextCommand()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    const RaceInfo race = *NetworkRig::race(QStringLiteral("R1"));
    rig.start();
    rig.gate.allow(TurnGate::Gprs, -1);
    rig.endpoint.addFault(CloudFault::Late, 1, QByteArray(), kLateMs);

    rig.engine.setMailboxWait({20, 10}); // gives up long before the late answer
    Poster gaveUp([&] { rig.engine.uploadArriveData(&race); });
    QVERIFY(gaveUp.finish());
    QCOMPARE(gaveUp.code.load(), 0x1003);
    QCOMPARE(gaveUp.message, QStringLiteral("timeout!"));

    // Posted while the first is still running: it must not take the first's
    // outcome, but run and reach the endpoint itself.
    rig.engine.setMailboxWait({1000, 10});
    Poster next([&] { rig.engine.uploadMarkRecordList({}, &race); });
    QVERIFY(next.finish());
    QCOMPARE(next.code.load(), 0);
    QCOMPARE(rig.endpoint.calls(QStringLiteral("uploadMarkRecordList")).size(), 1);
}

void TestNetworkMailbox::stateReport_atMostEvery15s_backwardStepTriggers()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    std::atomic<qint64> shiftMs{0};
    Platform::setSystemClock([&shiftMs] { return QDateTime::currentMSecsSinceEpoch() + shiftMs.load(); });
    rig.setLoft([](LoftInfo &l) {
        l.uploadMode = 0x10;
        l.uploadInterval = 5000; // below the floor of 15 s
    });
    NetworkRig::addRace(QStringLiteral("R1"), 3);
    rig.start();
    rig.gate.allow(TurnGate::Gprs, -1);
    auto states = [&] { return rig.endpoint.calls(QStringLiteral("sendState4")).size(); };
    auto watchTurns = [&] {
        const int seen = int(rig.gate.results(TurnGate::Gprs).size());
        return rig.gate.waitResults(TurnGate::Gprs, seen + kTurnsToWatch, kWaitMs);
    };

    QTRY_COMPARE_WITH_TIMEOUT(states(), 1, kWaitMs);
    QVERIFY(watchTurns());
    shiftMs = 10000;
    QVERIFY(watchTurns());
    QCOMPARE(states(), 1);
    shiftMs = 16000;
    QTRY_COMPARE_WITH_TIMEOUT(states(), 2, kWaitMs);
    QVERIFY(watchTurns());
    QCOMPARE(states(), 2);
    shiftMs = -5000; // 21 s back
    QTRY_COMPARE_WITH_TIMEOUT(states(), 3, kWaitMs);
    allValid(rig.endpoint.calls());
    QVERIFY(rig.endpoint.calls().first().payload.contains(QStringLiteral("\"raceCode\":\"R1\"")));
}

QTEST_GUILESS_MAIN(TestNetworkMailbox)
#include "tst_networkmailbox.moc"
