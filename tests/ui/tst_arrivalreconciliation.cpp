#include "ui/race/arrivalreconciliation.h"

#include <QTest>

#include <limits>

namespace {

// The basketing pair of the rows: loft time and the club system's time,
// the club 125 s ahead.
constexpr qint64 kMarkDevice = 1773480413000;
constexpr qint64 kMarkReader = kMarkDevice + 125000;
constexpr qint64 kDayMs = 86400000;
constexpr qint64 kSixDaysMs = 6 * kDayMs;
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

} // namespace

// The loft arrival time against the club system's time: the close band with
// its random term, the tolerance with its fixed 1900 ms, the clock's own
// club time beyond, and times that no arithmetic may wrap.
class TestArrivalReconciliation : public QObject
{
    Q_OBJECT
private slots:
    void reconcile_data();
    void reconcile();
};

void TestArrivalReconciliation::reconcile_data()
{
    QTest::addColumn<qint64>("markDevice");
    QTest::addColumn<qint64>("markReader");
    QTest::addColumn<qint64>("clubNow");
    QTest::addColumn<qint64>("clockNow");
    QTest::addColumn<int>("random");
    QTest::addColumn<qint64>("expected");

    // A row with the basketing pair above: club time passed since basketing,
    // the clock's drift against it, and what is added to the club's elapsed
    // time (-1: the clock's own club time stands).
    auto row = [](const char *name, qint64 clubElapsed, qint64 drift, int random, qint64 added) {
        const qint64 clockNow = kMarkDevice + clubElapsed + drift;
        const qint64 expected = added < 0 ? clockNow : kMarkDevice + clubElapsed + added;
        QTest::newRow(name) << kMarkDevice << kMarkReader << kMarkReader + clubElapsed << clockNow << random
                            << expected;
    };
    const qint64 hours5 = 5 * 3600000;
    row("drift -1999, random 0", hours5, -1999, 0, 0);
    row("drift -1999, random 199", hours5, -1999, 199, 199);
    row("drift 1999, random 0", hours5, 1999, 0, 0);
    row("drift 1999, random 199", hours5, 1999, 199, 199);
    row("drift 0, no club time passed", 0, 0, 57, 57);
    row("drift 2000: tolerance, fixed 1900", hours5, 2000, 199, 1900);
    row("drift -2000 at no club time passed", 0, -2000, 0, 1900);
    row("drift 4000 at no club time passed", 0, 4000, 0, 1900);
    row("drift 4001 at no club time passed", 0, 4001, 0, -1);
    row("one day, drift 8000", kDayMs, 8000, 0, 1900);
    row("one day, drift -8000", kDayMs, -8000, 0, 1900);
    row("one day, drift 8001", kDayMs, 8001, 0, -1);
    row("one day, drift -8001", kDayMs, -8001, 0, -1);
    row("six days, drift 28000", kSixDaysMs, 28000, 0, 1900);
    row("six days, drift 28001", kSixDaysMs, 28001, 0, -1);
    row("sixty days, drift 28000 (capped)", 10 * kSixDaysMs, 28000, 0, 1900);
    row("sixty days, drift 28001 (capped)", 10 * kSixDaysMs, 28001, 0, -1);
    // The club clock reads earlier than at basketing: the tolerance falls,
    // to 0 at one day back and below it beyond.
    row("club one day back, drift 1999", -kDayMs, 1999, 199, 199);
    row("club one day back, drift 2000", -kDayMs, 2000, 0, -1);
    row("club two days back, drift -1999", -2 * kDayMs, -1999, 3, 3);
    row("club two days back, drift 2000", -2 * kDayMs, 2000, 0, -1);
    row("basketing years ago, in tolerance", 3 * 365 * kDayMs, 27000, 0, 1900);

    // Basketed with a loft time only: the club's elapsed time is its whole
    // time of day since 1970, far from the clock's.
    const qint64 clubNow = kMarkReader + kDayMs;
    const qint64 clockNow = kMarkDevice + kDayMs;
    QTest::newRow("no basketing club time") << kMarkDevice << qint64(0) << clubNow << clockNow << 0 << clockNow;
    // Times that no 64-bit difference or sum can hold.
    QTest::newRow("club time at the top") << kMarkDevice << kMin << kMax << clockNow << 0 << clockNow;
    QTest::newRow("clock time at the bottom") << kMax << kMarkReader << clubNow << kMin << 0 << kMin;
    // The clock's own time fits, the reconciled one would pass the top.
    const qint64 nearTop = kMax - 50 - 1999;
    QTest::newRow("sum past the top") << kMax - 1050 << qint64(0) << qint64(1000) << nearTop << 199 << nearTop;
}

void TestArrivalReconciliation::reconcile()
{
    QFETCH(qint64, markDevice);
    QFETCH(qint64, markReader);
    QFETCH(qint64, clubNow);
    QFETCH(qint64, clockNow);
    QFETCH(int, random);
    QFETCH(qint64, expected);
    ArrivalSync sync;
    sync.clockNow = clockNow;
    sync.clubNow = clubNow;
    sync.markDeviceTime = markDevice;
    sync.markReaderTime = markReader;
    QCOMPARE(reconcileArrival(sync, random), expected);
}

QTEST_GUILESS_MAIN(TestArrivalReconciliation)
#include "tst_arrivalreconciliation.moc"
