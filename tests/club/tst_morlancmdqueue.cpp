#include "club/morlancmdqueue.h"

#include <QTest>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

// The club-mode queue and the hand-over of synchronous outcomes, without a
// router: the link thread's side is played by a thread of the test.
class TestMorlanCmdQueue : public QObject
{
    Q_OBJECT
private slots:
    void order_frontCommandsOvertakeQueuedOnes();
    void setError_emptyDetailIsTheMessage();
    void timeout_withdrawsTheQueuedItem();
    void lateRelease_isRefused_andChangesNothing();
    void resultArrivingWhileGivingUp_isKept();
    void stress_eachWaiterReturnsOnce_nothingWrittenAfter();
};

namespace {

MorlanCmdItem item(int type, QSharedPointer<SemaphoreEx> sem = {})
{
    return MorlanCmdItem{sem, type, QByteArray::number(type)};
}

} // namespace

void TestMorlanCmdQueue::order_frontCommandsOvertakeQueuedOnes()
{
    MorlanCmdQueue queue;
    queue.pushBack(item(6));  // print
    queue.pushBack(item(16)); // print
    queue.pushFront(item(7)); // get time, behind two prints
    queue.pushFront(item(8)); // set time, queued after it
    QList<int> taken;
    MorlanCmdItem next;
    while (queue.take(&next))
        taken.append(next.type);
    QCOMPARE(taken, (QList<int>{8, 7, 6, 16}));
    QCOMPARE(queue.size(), 0);
}

void TestMorlanCmdQueue::setError_emptyDetailIsTheMessage()
{
    SemaphoreEx sem;
    sem.setError(0x501, QStringLiteral("Club clock unauthorized!"), QString());
    QCOMPARE(sem.getErrorCode(), 0x501);
    QCOMPARE(sem.getMsg(), QStringLiteral("Club clock unauthorized!"));
    QCOMPARE(sem.getDetail(), QStringLiteral("Club clock unauthorized!"));
    sem.setError(3, QStringLiteral("x"), QStringLiteral("shown text"));
    QCOMPARE(sem.getDetail(), QStringLiteral("shown text"));
}

void TestMorlanCmdQueue::timeout_withdrawsTheQueuedItem()
{
    MorlanCmdQueue queue;
    auto waiting = QSharedPointer<SemaphoreEx>::create();
    queue.pushBack(item(6));
    queue.pushBack(item(6, waiting));
    queue.pushBack(item(9));
    QVERIFY(!queue.await(waiting, 5));
    QCOMPARE(waiting->getErrorCode(), 0x1201);
    QCOMPARE(waiting->getMsg(), QStringLiteral("Semaphore timeout!"));
    QCOMPARE(queue.size(), 2);
    MorlanCmdItem next;
    while (queue.take(&next))
        QVERIFY(next.sem != waiting);
}

void TestMorlanCmdQueue::lateRelease_isRefused_andChangesNothing()
{
    MorlanCmdQueue queue;
    auto sem = QSharedPointer<SemaphoreEx>::create();
    queue.pushBack(item(7, sem));
    MorlanCmdItem taken;
    QVERIFY(queue.take(&taken)); // the link thread has it...
    QVERIFY(!queue.await(sem, 5)); // ...but is too slow
    taken.sem->setResult(qint64(42));
    taken.sem->setError(0x508, QStringLiteral("Morlan response overtime!"), QString());
    QVERIFY(!taken.sem->release());
    QCOMPARE(sem->getErrorCode(), 0x1201);
    QVERIFY(!sem->getResult().isValid());
}

void TestMorlanCmdQueue::resultArrivingWhileGivingUp_isKept()
{
    MorlanCmdQueue queue;
    auto sem = QSharedPointer<SemaphoreEx>::create();
    queue.pushBack(item(7, sem));
    MorlanCmdItem taken;
    QVERIFY(queue.take(&taken));
    taken.sem->setResult(qint64(1234));
    QVERIFY(taken.sem->release());
    // Released before the waiter looked: a zero wait still finds it.
    QVERIFY(queue.await(sem, 0));
    QCOMPARE(sem->getErrorCode(), 0);
    QCOMPARE(sem->getResult().toLongLong(), qint64(1234));
}

void TestMorlanCmdQueue::stress_eachWaiterReturnsOnce_nothingWrittenAfter()
{
    constexpr int kWaiters = 8;
    constexpr int kCallsEach = 150;
    MorlanCmdQueue queue;
    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::atomic<int> handedOver{0};

    // The link thread's part: take items at random moments and complete them
    // with the number they carry.
    std::thread linkThread([&] {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pauseUs(0, 600);
        MorlanCmdItem next;
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
            if (!queue.take(&next))
                continue;
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random) / 3));
            next.sem->setResult(next.data.toInt());
            if (next.sem->release())
                ++handedOver;
            else
                ++refused;
        }
    });

    struct Outcome
    {
        QSharedPointer<SemaphoreEx> sem;
        int id = 0;
        bool ok = false;
        int code = 0;
        QVariant result;
    };
    std::vector<std::vector<Outcome>> outcomes(kWaiters);
    std::vector<std::thread> waiters;
    for (int w = 0; w < kWaiters; ++w) {
        waiters.emplace_back([&, w] {
            std::mt19937 random(100 + w);
            std::uniform_int_distribution<int> timeoutMs(1, 4);
            for (int call = 0; call < kCallsEach; ++call) {
                Outcome out;
                out.id = w * 10000 + call;
                out.sem = QSharedPointer<SemaphoreEx>::create();
                queue.pushBack(MorlanCmdItem{out.sem, 6, QByteArray::number(out.id)});
                out.ok = queue.await(out.sem, timeoutMs(random));
                // What the waiter saw when it returned.
                out.code = out.sem->getErrorCode();
                out.result = out.sem->getResult();
                outcomes[w].push_back(out);
            }
        });
    }
    for (std::thread &t : waiters)
        t.join();
    // Let the link thread finish with what it may still hold, then stop it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    linkThread.join();

    int succeeded = 0;
    int timedOut = 0;
    for (const auto &list : outcomes) {
        QCOMPARE(int(list.size()), kCallsEach);
        for (const Outcome &out : list) {
            if (out.ok) {
                ++succeeded;
                QCOMPARE(out.code, 0);
                QCOMPARE(out.result.toInt(), out.id);
            } else {
                ++timedOut;
                QCOMPARE(out.code, 0x1201);
                QVERIFY(!out.result.isValid());
            }
            // Nothing reached the outcome after its waiter returned.
            QCOMPARE(out.sem->getErrorCode(), out.code);
            QCOMPARE(out.sem->getResult(), out.result);
        }
    }
    QCOMPARE(succeeded + timedOut, kWaiters * kCallsEach);
    QCOMPARE(handedOver.load(), succeeded);
    QCOMPARE(queue.size(), 0); // timed-out items were withdrawn or taken
    qInfo("handed over %d, timed out %d (of which the link thread still took %d)", succeeded, timedOut,
          refused.load());
    QVERIFY(succeeded > 0);
    QVERIFY(timedOut > 0);
}

QTEST_GUILESS_MAIN(TestMorlanCmdQueue)
#include "tst_morlancmdqueue.moc"
