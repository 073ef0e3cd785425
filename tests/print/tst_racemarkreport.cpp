#include "print/racemarkreport.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"

#include "reportfixture.h"

#include <QTest>

namespace {

// Basketing on 14/03/2026: the router's time 07:27:00 UTC, the clock's
// 07:26:53; the first bird marked at 07:30:15 UTC, the others a minute apart.
constexpr qint64 kTimeSetMs = 1773473220000;
constexpr qint64 kMemberClockMs = 1773473213000;
constexpr qint64 kFirstMarkMs = 1773473415000;
constexpr qint64 kMinuteMs = 60000;

const QString kTitle = QStringLiteral("|                      QUARVELO  -  Race Marked List                        |");
const QString kColumnRule =
    QStringLiteral("---+--------------------+--------+----+--------+----------------+------------");
const QString kUpperHeader =
    QStringLiteral("   |                    |        |    |        |    Marked      |            ");
const QString kColumnHeader =
    QStringLiteral("No.|       Bird         | e-Ring |Sex | Color  | Day     Time   | Nom.       ");

QString field(const QString &text, int width)
{
    return ReportFixture::field(text, width);
}

QSharedPointer<PigeonInfo> bird(const QString &assocNum, const QString &ring, int sex, const QString &color,
                                int year = 2020)
{
    return ReportFixture::bird(assocNum, ring, sex, color, year);
}

QSharedPointer<PigeonRecord> mark(const QString &assocNum, qint64 markTime, int markOrder)
{
    auto r = QSharedPointer<PigeonRecord>::create();
    r->assocNum = assocNum;
    r->raceCode = QStringLiteral("R2026-07");
    r->markTime = markTime;
    r->markOrder = markOrder;
    return r;
}

RaceInfo race(qint64 timeSetMs, qint64 memberClockMs)
{
    RaceInfo info = ReportFixture::raceCodes();
    info.markReaderTime = timeSetMs;
    info.markDeviceTime = memberClockMs;
    info.valid = 3;
    return info;
}

// The head as printed in one zone: the club time, both marking times and
// the zone text.
struct Head
{
    QString printed;
    QString timeSet;
    QString memberClock;
    QString zone;
};

const Head kEast{"14/03/2026 17:28:58", "14/03/2026 15:27:00", "14/03/2026 15:26:53", "UTC+08:00"};

QString line(int number, const QString &assoc, const QString &ring, const QString &sex, const QString &color,
             const QString &time, const QString &end)
{
    return field(QString::number(number), 3) + "|" + field(assoc, 20) + "|" + field(ring, 8) + "|" + sex + "|"
        + field(color, 8) + "|" + field(time, 16) + "|" + end;
}

QString totals(int marked, int hens, int cocks, int yearlings)
{
    return ReportFixture::totalsLine(QStringLiteral("Total Marked: %1").arg(marked), hens, cocks, yearlings);
}

// A whole page: 19-line topic, the record lines, on the last page an empty
// line and the totals, filling lines and the five closing lines.
QStringList page(const Head &head, const QStringList &body, const QString &totalsLine, int lines = 62)
{
    QStringList out = ReportFixture::boxTitleLines(kTitle) + ReportFixture::loftLines(head.printed);
    out << QString()
        << field("TIME SET:       " + head.timeSet, 39) + field("MEMBER'S CLOCK: " + head.memberClock, 39)
        << field("VERSION:        v8.9.30", 39) + field("TIME ZONE:      " + head.zone, 39) << QString();
    out += ReportFixture::raceCodeLines();
    out << QString() << kColumnRule << kUpperHeader << kColumnHeader << kColumnRule;
    out += body;
    if (!totalsLine.isNull())
        out << QString() << totalsLine;
    return ReportFixture::closedPage(out, lines, ReportFixture::declarationLines());
}

const Birds kFour{bird("BE-2024-1000001", "0A1B2C3D", 0, "Blue"), bird("BE-2024-1000002", "0A1B2C3E", 1, "Red"),
                  bird("BE-2024-1000003", "0A1B2C3F", 0, "Mealy"), bird("BE-2025-1000004", "0A1B2C40", 1, "Grizzle", 2025)};

Records fourMarks()
{
    Records out;
    for (int i = 0; i < kFour.size(); ++i)
        out << mark(kFour[i]->assocNum, kFirstMarkMs + i * kMinuteMs, i + 1);
    return out;
}

} // namespace

// The race marked list, page for page as the club's form lays it out.
class TestRaceMarkReport : public ReportSuite
{
    Q_OBJECT
private slots:
    void pages_data();
    void pages();
};

void TestRaceMarkReport::pages_data()
{
    QTest::addColumn<Birds>("stored");
    QTest::addColumn<Records>("records");
    QTest::addColumn<RaceInfo>("raceInfo");
    QTest::addColumn<int>("zone");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<Pages>("expected");

    const RaceInfo marked = race(kTimeSetMs, kMemberClockMs);
    const QStringList fourLines{
        "1  |BE-2024-1000001     |0A1B2C3D| H  |Blue    |14/03 15:30:15  |001",
        line(2, "BE-2024-1000002", "0A1B2C3E", " C  ", "Red", "14/03 15:31:15", "002"),
        line(3, "BE-2024-1000003", "0A1B2C3F", " H  ", "Mealy", "14/03 15:32:15", "003"),
        line(4, "BE-2025-1000004", "0A1B2C40", " C  ", "Grizzle", "14/03 15:33:15", "004")};

    QTest::newRow("four marked birds") << kFour << fourMarks() << marked << 28800 << 0
                                       << Pages{page(kEast, fourLines, totals(4, 2, 2, 1))};
    QTest::newRow("letter-size pages") << kFour << fourMarks() << marked << 28800 << 1
                                       << Pages{page(kEast, fourLines, totals(4, 2, 2, 1), 58)};

    QTest::newRow("a pigeon gone: no line, its number unused, not counted")
        << (Birds{kFour[0], kFour[1], kFour[3]}) << fourMarks() << marked << 28800 << 0
        << Pages{page(kEast, {fourLines[0], fourLines[1], fourLines[3]}, totals(3, 1, 2, 1))};

    Records deleted = fourMarks().mid(0, 2);
    deleted[1]->markTime = 0;
    QTest::newRow("mark time 0: deleted, still counted")
        << kFour << deleted << marked << 28800 << 0
        << Pages{page(kEast, {fourLines[0], line(2, "BE-2024-1000002", "0A1B2C3E", " C  ", "Red", "", "deleted!")},
                      totals(2, 1, 1, 0))};

    Records orders = fourMarks().mid(0, 3);
    orders[0]->markOrder = 0;
    orders[1]->markOrder = 7;
    orders[2]->markOrder = 1234;
    QTest::newRow("marking orders 0, 7 and 1234")
        << kFour << orders << marked << 28800 << 0
        << Pages{page(kEast,
                      {line(1, "BE-2024-1000001", "0A1B2C3D", " H  ", "Blue", "14/03 15:30:15", ""),
                       line(2, "BE-2024-1000002", "0A1B2C3E", " C  ", "Red", "14/03 15:31:15", "007"),
                       line(3, "BE-2024-1000003", "0A1B2C3F", " H  ", "Mealy", "14/03 15:32:15", "1234")},
                      totals(3, 2, 1, 0))};

    const Birds odd{bird("BE-2024-'77", "0A1B2C3D", 2, "Blue"), bird("BE-2024-1000002", "0A1B2C3E", 5, "Red")};
    QTest::newRow("sex 2 and 5 in no total; a quote in the number")
        << odd << Records{mark("BE-2024-'77", kFirstMarkMs, 1), mark("BE-2024-1000002", kFirstMarkMs, 2)} << marked
        << 28800 << 0
        << Pages{page(kEast,
                      {line(1, "BE-2024-'77", "0A1B2C3D", "    ", "Blue", "14/03 15:30:15", "001"),
                       line(2, "BE-2024-1000002", "0A1B2C3E", "    ", "Red", "14/03 15:30:15", "002")},
                      totals(2, 0, 0, 0))};

    QTest::newRow("never synchronised: the epoch in local time")
        << kFour << fourMarks().mid(0, 1) << race(0, 0) << 28800 << 0
        << Pages{page({kEast.printed, "01/01/1970 08:00:00", "01/01/1970 08:00:00", "UTC+08:00"},
                      {fourLines[0]}, totals(1, 1, 0, 0))};

    QTest::newRow("zone -16200")
        << kFour << fourMarks().mid(0, 1) << marked << -16200 << 0
        << Pages{page({"14/03/2026 04:58:58", "14/03/2026 02:57:00", "14/03/2026 02:56:53", "UTC-04:30"},
                      {line(1, "BE-2024-1000001", "0A1B2C3D", " H  ", "Blue", "14/03 03:00:15", "001")},
                      totals(1, 1, 0, 0))};
    QTest::newRow("zone 0")
        << kFour << fourMarks().mid(0, 1) << marked << 0 << 0
        << Pages{page({"14/03/2026 09:28:58", "14/03/2026 07:27:00", "14/03/2026 07:26:53", "UTC+00:00"},
                      {line(1, "BE-2024-1000001", "0A1B2C3D", " H  ", "Blue", "14/03 07:30:15", "001")},
                      totals(1, 1, 0, 0))};

    Birds many;
    Records manyMarks;
    QStringList firstBody;
    for (int i = 1; i <= 37; ++i) {
        const QString assoc = QStringLiteral("BE-2023-%1").arg(i, 7, 10, QLatin1Char('0'));
        many << bird(assoc, QStringLiteral("B%1").arg(i, 7, 10, QLatin1Char('0')), i % 2, "Blue");
        manyMarks << mark(assoc, kFirstMarkMs, i);
        if (i <= 36) {
            firstBody << line(i, assoc, QStringLiteral("B%1").arg(i, 7, 10, QLatin1Char('0')), i % 2 ? " C  " : " H  ",
                              "Blue", "14/03 15:30:15", QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')));
        }
    }
    QTest::newRow("37 records: 36 on page 1, the last and the totals on page 2")
        << many << manyMarks << marked << 28800 << 0
        << Pages{page(kEast, firstBody, QString()),
                 page(kEast, {line(37, "BE-2023-0000037", "B0000037", " C  ", "Blue", "14/03 15:30:15", "037")},
                      totals(37, 18, 19, 0))};
}

void TestRaceMarkReport::pages()
{
    QFETCH(Birds, stored);
    QFETCH(Records, records);
    QFETCH(RaceInfo, raceInfo);
    QFETCH(int, zone);
    QFETCH(int, pageSize);
    QFETCH(Pages, expected);
    fixture->storePigeons(stored);
    fixture->setClock(ReportFixture::kDeviceMs, ReportFixture::kClubDiffMs, zone);
    fixture->setPageSize(pageSize);

    StateRecorder recorder(fixture.get());
    RaceMarkReport report;
    report.loadReport(ReportFixture::clockNo(), ReportFixture::loft(), raceInfo, records);
    checkPrintedPages(report, recorder, expected);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(int(recorder.states().count(IPrinterNotify::PrintReportTopicEnd)), int(expected.size()));
}

QTEST_GUILESS_MAIN(TestRaceMarkReport)
#include "tst_racemarkreport.moc"
