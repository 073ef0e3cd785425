#include "print/racepigeonsreport.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"

#include "reportfixture.h"

#include <QTest>

namespace {

// 14/03/2026, UTC: basketing closed by the router at 07:27:00 (the clock
// 07:26:53), the race struck at 08:59:30 (the clock 08:59:28), the first
// arrival at 08:10:05 and the others a minute apart.
constexpr qint64 kTimeSetMs = 1773473220000;
constexpr qint64 kMemberClockMs = 1773473213000;
constexpr qint64 kStrikeSetMs = 1773478770000;
constexpr qint64 kStrikeClockMs = 1773478768000;
constexpr qint64 kFirstArrivalMs = 1773475805000;
constexpr qint64 kMinuteMs = 60000;

const QString kInProgress =
    QStringLiteral("|                    QUARVELO  -  Race in Progress List                     |");
const QString kFinalization =
    QStringLiteral("|                    QUARVELO  -  Race Finalization List                    |");
const QString kColumnRule =
    QStringLiteral("---+-------------------+--------+----+-----+---------------+---+-------------");
const QString kUpperHeader =
    QStringLiteral("   |                   |        |    |     |    Arrival    |   | Secret Num  ");
const QString kColumnHeader =
    QStringLiteral("No.|       Bird        | e-Ring |Sex |Color| Day    Time   |Nom|   Checked   ");

QString field(const QString &text, int width)
{
    return ReportFixture::field(text, width);
}

QSharedPointer<PigeonInfo> bird(const QString &assocNum, const QString &ring, int sex, const QString &color,
                                int year = 2020)
{
    return ReportFixture::bird(assocNum, ring, sex, color, year);
}

QSharedPointer<PigeonRecord> record(const QString &assocNum, qint64 backTime, int markOrder, int marked, int back)
{
    auto r = QSharedPointer<PigeonRecord>::create();
    r->assocNum = assocNum;
    r->raceCode = QStringLiteral("R2026-07");
    r->markTime = kMemberClockMs;
    r->backTimeEring = backTime;
    r->markOrder = markOrder;
    r->randNumMarked = marked;
    r->randNumberBack = back;
    return r;
}

RaceInfo race(int valid, qint64 strikeSetMs, qint64 strikeClockMs)
{
    RaceInfo info = ReportFixture::raceCodes();
    info.markReaderTime = kTimeSetMs;
    info.markDeviceTime = kMemberClockMs;
    info.raceStopReaderTime = strikeSetMs;
    info.raceStopDeviceTime = strikeClockMs;
    info.valid = valid;
    return info;
}

// What changes in the head from case to case.
struct Head
{
    QString title;
    QString strikeSet;
    QString strikeClock;
    int basketed = 0;
    int arrived = 0;
};

QString line(int number, const QString &assoc, const QString &ring, const QString &sex, const QString &color,
             const QString &arrival, const QString &nom, const QString &check)
{
    return field(QString::number(number), 3) + "|" + field(assoc, 19) + "|" + field(ring, 8) + "|" + sex + "|"
        + field(color, 5) + "|" + field(arrival, 15) + "|" + nom + "|" + check;
}

QString totals(int hens, int cocks, int yearlings)
{
    return ReportFixture::totalsLine(QString(), hens, cocks, yearlings);
}

// A whole page: 21-line topic, the record lines, on the last page an empty
// line and the totals, filling lines and the five closing lines.
QStringList page(const Head &head, const QStringList &body, const QString &totalsLine, int lines = 62)
{
    QStringList out =
        ReportFixture::boxTitleLines(head.title) + ReportFixture::loftLines(QStringLiteral("14/03/2026 17:28:58"));
    out << QString()
        << field("TIME SET:       14/03/2026 15:27:00", 39) + field("MEMBER'S CLOCK: 14/03/2026 15:26:53", 39)
        << field("STRIKE SET:     " + head.strikeSet, 39) + field("MEMBER'S CLOCK: " + head.strikeClock, 39)
        << field("VERSION:        v8.9.30", 39) + field("TIME ZONE:      UTC+08:00", 39) << QString();
    out += ReportFixture::raceCodeLines();
    out << field(QStringLiteral("TOTAL BASKETED: %1").arg(head.basketed), 39)
            + field(QStringLiteral("TOTAL ARRIVED: %1").arg(head.arrived), 39)
        << QString() << kColumnRule << kUpperHeader << kColumnHeader << kColumnRule;
    out += body;
    if (!totalsLine.isNull())
        out << QString() << totalsLine;
    return ReportFixture::closedPage(out, lines, ReportFixture::declarationLines());
}

const Birds kFive{bird("BE-2024-1000001", "0A1B2C3D", 0, "Blue"), bird("BE-2024-1000002", "0A1B2C3E", 1, "Red"),
                  bird("BE-2025-1000003", "0A1B2C3F", 0, "Mealy", 2025),
                  bird("BE-2024-1000004", "0A1B2C40", 1, "Grizzle"), bird("BE-2024-'1005", "0A1B2C41", 2, "Pied")};

} // namespace

// The race list, page for page as the club's form lays it out.
class TestRacePigeonsReport : public ReportSuite
{
    Q_OBJECT
private slots:
    void pages_data();
    void pages();
};

void TestRacePigeonsReport::pages_data()
{
    QTest::addColumn<Birds>("stored");
    QTest::addColumn<Records>("arrived");
    QTest::addColumn<Records>("notArrived");
    QTest::addColumn<RaceInfo>("raceInfo");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<Pages>("expected");

    const Head finalHead{kFinalization, "14/03/2026 16:59:30", "14/03/2026 16:59:28", 5, 3};
    // Arrived: equal numbers (OK, Nom 012), different numbers (Not OK, no
    // Nom), one more; not arrived: equal numbers (still Not OK), one more.
    const Records arrived{record("BE-2024-1000001", kFirstArrivalMs, 12, 0x3A, 0x3A),
                          record("BE-2024-1000002", kFirstArrivalMs + kMinuteMs, 0, 0x3A, 0x05),
                          record("BE-2025-1000003", kFirstArrivalMs + 2 * kMinuteMs, 3, 0xC4, 0xC4)};
    const Records notArrived{record("BE-2024-1000004", 0, 4, 0, 0), record("BE-2024-'1005", 0, 5, 0x7F, 0x80)};
    QTest::newRow("three arrived, two not: the arrived first, numbered 1 to 5")
        << kFive << arrived << notArrived << race(12, kStrikeSetMs, kStrikeClockMs) << 0
        << Pages{page(finalHead,
                      {"1  |BE-2024-1000001    |0A1B2C3D| H  |Blue |14/03 16:10:05 |012|3A 3A OK",
                       line(2, "BE-2024-1000002", "0A1B2C3E", " C  ", "Red", "14/03 16:11:05", "   ", "3A 05 Not OK"),
                       line(3, "BE-2025-1000003", "0A1B2C3F", " H  ", "Mealy", "14/03 16:12:05", "003", "C4 C4 OK"),
                       line(4, "BE-2024-1000004", "0A1B2C40", " C  ", "Grizz", "", "004", "00 00 Not OK"),
                       line(5, "BE-2024-'1005", "0A1B2C41", "    ", "Pied", "", "005", "7F 80 Not OK")},
                      totals(2, 2, 1))};

    QTest::newRow("running race (3): in progress, strike times 0 print the epoch")
        << kFive << arrived.mid(0, 1) << Records{} << race(3, 0, 0) << 0
        << Pages{page({kInProgress, "01/01/1970 08:00:00", "01/01/1970 08:00:00", 1, 1},
                      {"1  |BE-2024-1000001    |0A1B2C3D| H  |Blue |14/03 16:10:05 |012|3A 3A OK"}, totals(1, 0, 0))};

    QTest::newRow("stopped race (4) on letter-size pages")
        << kFive << arrived.mid(0, 1) << Records{} << race(4, kStrikeSetMs, kStrikeClockMs) << 1
        << Pages{page({kFinalization, "14/03/2026 16:59:30", "14/03/2026 16:59:28", 1, 1},
                      {"1  |BE-2024-1000001    |0A1B2C3D| H  |Blue |14/03 16:10:05 |012|3A 3A OK"}, totals(1, 0, 0),
                      58)};

    QTest::newRow("pigeons gone: no line, yet counted in the head")
        << Birds{kFive[1], kFive[3]} << arrived.mid(0, 2) << notArrived.mid(0, 1)
        << race(12, kStrikeSetMs, kStrikeClockMs) << 0
        << Pages{page({kFinalization, "14/03/2026 16:59:30", "14/03/2026 16:59:28", 3, 2},
                      {line(2, "BE-2024-1000002", "0A1B2C3E", " C  ", "Red", "14/03 16:11:05", "   ", "3A 05 Not OK"),
                       line(3, "BE-2024-1000004", "0A1B2C40", " C  ", "Grizz", "", "004", "00 00 Not OK")},
                      totals(0, 2, 0))};

    // Many birds, all arrived within the same second with checked numbers.
    Birds many;
    Records manyArrived;
    QStringList body;
    for (int i = 1; i <= 35; ++i) {
        const QString assoc = QStringLiteral("BE-2023-%1").arg(i, 7, 10, QLatin1Char('0'));
        const QString ring = QStringLiteral("B%1").arg(i, 7, 10, QLatin1Char('0'));
        many << bird(assoc, ring, i % 2, "Blue");
        manyArrived << record(assoc, kFirstArrivalMs, i, i, i);
        body << line(i, assoc, ring, i % 2 ? " C  " : " H  ", "Blue", "14/03 16:10:05",
                     QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')),
                     QStringLiteral("%1 %1 OK").arg(i, 2, 16, QLatin1Char('0')).toUpper());
    }
    QTest::newRow("34 records fill one page exactly: the totals on it, no page after")
        << many.mid(0, 34) << manyArrived.mid(0, 34) << Records{} << race(12, kStrikeSetMs, kStrikeClockMs) << 0
        << Pages{page({kFinalization, "14/03/2026 16:59:30", "14/03/2026 16:59:28", 34, 34}, body.mid(0, 34),
                      totals(17, 17, 0))};
    QTest::newRow("35 records: 34 on page 1, the last and the totals on page 2")
        << many << manyArrived << Records{} << race(12, kStrikeSetMs, kStrikeClockMs) << 0
        << Pages{page({kFinalization, "14/03/2026 16:59:30", "14/03/2026 16:59:28", 35, 35}, body.mid(0, 34),
                      QString()),
                 page({kFinalization, "14/03/2026 16:59:30", "14/03/2026 16:59:28", 35, 35}, body.mid(34),
                      totals(17, 18, 0))};
}

void TestRacePigeonsReport::pages()
{
    QFETCH(Birds, stored);
    QFETCH(Records, arrived);
    QFETCH(Records, notArrived);
    QFETCH(RaceInfo, raceInfo);
    QFETCH(int, pageSize);
    QFETCH(Pages, expected);
    fixture->storePigeons(stored);
    fixture->setPageSize(pageSize);

    StateRecorder recorder(fixture.get());
    RacePigeonsReport report;
    report.loadReport(ReportFixture::clockNo(), ReportFixture::loft(), raceInfo, arrived, notArrived);
    checkPrintedPages(report, recorder, expected);
    if (QTest::currentTestFailed())
        return;
    // The totals once, on the last page, between states 10 and 11.
    const QList<int> states = recorder.states();
    QCOMPARE(int(states.count(IPrinterNotify::PrintReportBottomBegin)), 1);
    QVERIFY(states.lastIndexOf(IPrinterNotify::PrintReportBottomBegin)
            > states.lastIndexOf(IPrinterNotify::PrintPageBegin));
}

QTEST_GUILESS_MAIN(TestRacePigeonsReport)
#include "tst_racepigeonsreport.moc"
