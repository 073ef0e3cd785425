#include "core/wakeup.h"

#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

// Far longer than any test may wait: a sleep that runs into it has missed
// its ring, and the QTRY below fails long before.
constexpr qint64 kNeverMs = 3600 * 1000;
constexpr int kFinishMs = 5000;

// Sleeps once on wake in a thread of its own; the result once it woke.
struct Sleeper
{
    explicit Sleeper(WakeUp &wakeUp, qint64 ms)
        : wake(wakeUp)
        , thread(QThread::create([this, ms] {
            started = true;
            rung = wake.sleepFor(ms);
        }))
    {
        thread->start();
    }
    ~Sleeper()
    {
        wake.ring(); // a failed test must not leave the thread asleep for the hour
        thread->wait();
    }

    WakeUp &wake;
    std::atomic<bool> started{false};
    std::atomic<bool> rung{false};
    std::unique_ptr<QThread> thread;
};

} // namespace

// The sleep of the service threads: a ring must never be lost, whether it
// comes before, during or just as the thread goes to sleep.
class TestWakeUp : public QObject
{
    Q_OBJECT
private slots:
    void ring_endsTheSleep_data();
    void ring_endsTheSleep();
    void ringAsTheThreadGoesToSleep_isNeverLost();
    void withoutRing_sleepEndsAtItsBoundUnrung();
    void manyRings_endOneSleepOnly();
};

void TestWakeUp::ring_endsTheSleep_data()
{
    QTest::addColumn<bool>("ringFirst");
    QTest::newRow("rung before the sleep") << true;
    QTest::newRow("rung while asleep") << false;
}

void TestWakeUp::ring_endsTheSleep()
{
    QFETCH(bool, ringFirst);
    WakeUp wake;
    if (ringFirst)
        wake.ring();
    Sleeper sleeper(wake, kNeverMs);
    QTRY_VERIFY(sleeper.started);
    if (!ringFirst)
        wake.ring();
    QVERIFY(sleeper.thread->wait(kFinishMs));
    QVERIFY(sleeper.rung);
}

void TestWakeUp::ringAsTheThreadGoesToSleep_isNeverLost()
{
    // Ringer and sleeper start together, so the ring falls anywhere around
    // the start of the sleep.
    for (int i = 0; i < 200; ++i) {
        WakeUp wake;
        Sleeper sleeper(wake, kNeverMs);
        wake.ring();
        QVERIFY(sleeper.thread->wait(kFinishMs));
        QVERIFY(sleeper.rung);
    }
}

void TestWakeUp::withoutRing_sleepEndsAtItsBoundUnrung()
{
    WakeUp wake;
    QVERIFY(!wake.sleepFor(0));
    QVERIFY(!wake.sleepFor(-5));
    QVERIFY(!wake.sleepFor(1));
}

void TestWakeUp::manyRings_endOneSleepOnly()
{
    // The rings of three queued commands end one sleep; the thread then
    // serves its whole queue, and the next sleep is a real one.
    WakeUp wake;
    wake.ring();
    wake.ring();
    wake.ring();
    QVERIFY(wake.sleepFor(kNeverMs));
    QVERIFY(!wake.sleepFor(0));
}

QTEST_GUILESS_MAIN(TestWakeUp)
#include "tst_wakeup.moc"
