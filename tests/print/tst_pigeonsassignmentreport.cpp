#include "print/pigeonsassignmentreport.h"
#include "storage/pigeoninfo.h"

#include "reportfixture.h"

#include <QTest>

namespace {

// 31/12/2026 15:30 UTC: in a zone 8 hours east, 23:30 local; the club time,
// an hour ahead, is 00:30 on 1 January 2027 there, yet still 2026 in UTC.
constexpr qint64 kNewYearsEveMs = 1798731000000;

const QString kTitle = QStringLiteral("                      QUARVELO - Assignment Ring List                        ");
const QString kColumnRule =
    QStringLiteral("---+-------------------+-----+--------+---+-------------------+-----+--------");
const QString kColumnHeader =
    QStringLiteral("No.|       Bird        |Color| E-ring |No.|       Bird        |Color| E-ring ");
const QString kSigned =
    QStringLiteral(" Signed Member:               Club:                Clock Checked:            ");

QString field(const QString &text, int width)
{
    return ReportFixture::field(text, width);
}

// The columns' order: number, colour, ring.
QSharedPointer<PigeonInfo> bird(const QString &assocNum, const QString &color, const QString &ring, int sex,
                                int year)
{
    return ReportFixture::bird(assocNum, ring, sex, color, year);
}

Birds numberedBirds(int count)
{
    Birds out;
    for (int i = 1; i <= count; ++i)
        out << bird(QStringLiteral("BE-2023-%1").arg(i, 7, 10, QLatin1Char('0')), QStringLiteral("Blue"),
                    QStringLiteral("%1").arg(0xA0000000u + i, 8, 16).toUpper(), i % 2, 2020);
    return out;
}

// One bird's columns as the record loop writes them.
QString birdColumns(int number, const QString &assoc, const QString &color, const QString &ring)
{
    return field(QString::number(number), 3) + "|" + field(assoc, 19) + "|" + field(color, 5) + "|" + field(ring, 8);
}

QString totals(int total, int hens, int cocks, int yearlings)
{
    return ReportFixture::totalsLine(QStringLiteral("Total: %1").arg(total), hens, cocks, yearlings);
}

// One whole page: topic, body, totals (last page), filling, closing lines.
QStringList page(const QString &printed, const QStringList &body, const QString &totalsLine, int lines = 62)
{
    QStringList out{kTitle, QString(77, QLatin1Char('-'))};
    out += ReportFixture::loftLines(printed);
    out << QString() << kColumnRule << kColumnHeader << kColumnRule;
    out += body;
    if (!totalsLine.isNull())
        out << totalsLine;
    return ReportFixture::closedPage(out, lines, {QString(77, QLatin1Char('_')), kSigned});
}

} // namespace

// The ring-assignment list, page for page as the club's form lays it out.
class TestPigeonsAssignmentReport : public ReportSuite
{
    Q_OBJECT
private slots:
    void pages_data();
    void pages();
};

void TestPigeonsAssignmentReport::pages_data()
{
    QTest::addColumn<Birds>("birds");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<qint64>("deviceMs");
    QTest::addColumn<qint64>("clubDiffMs");
    QTest::addColumn<Pages>("expected");

    const qint64 device = ReportFixture::kDeviceMs;
    const qint64 diff = ReportFixture::kClubDiffMs;
    // The club time, not the device's (17:26), is printed.
    const QString printed = QStringLiteral("14/03/2026 17:28");

    QTest::newRow("no birds: one page of zeros")
        << Birds{} << 0 << device << diff
        << Pages{page(printed, {QString()}, QStringLiteral("Total: 0            Total hens: 0       Total cocks: 0      "
                                                  "Yearlings: 0        "))};

    const Birds three{bird("BE-2024-1000001", "Blue", "0A1B2C3D", 0, 2020),
                      bird("BE-2024-1000002", "Red", "0A1B2C3E", 1, 2020),
                      bird("BE-2024-1000003", "Mealy", "0A1B2C3F", 0, 2020)};
    QTest::newRow("three birds: the half line ends, totals follow at once")
        << three << 0 << device << diff
        << Pages{page(printed,
                      {"1  |BE-2024-1000001    |Blue |0A1B2C3D|2  |BE-2024-1000002    |Red  |0A1B2C3E",
                       "3  |BE-2024-1000003    |Mealy|0A1B2C3F|"},
                      totals(3, 2, 1, 0))};

    const Birds four = three + Birds{bird("BE-2024-1000004", "Grizzle", "0A1B2C40", 1, 2020)};
    const QStringList fourLines{birdColumns(1, "BE-2024-1000001", "Blue", "0A1B2C3D") + "|"
                                    + birdColumns(2, "BE-2024-1000002", "Red", "0A1B2C3E"),
                                birdColumns(3, "BE-2024-1000003", "Mealy", "0A1B2C3F") + "|"
                                    + birdColumns(4, "BE-2024-1000004", "Grizz", "0A1B2C40"),
                                QString()};
    QTest::newRow("four birds: an empty line before the totals")
        << four << 0 << device << diff << Pages{page(printed, fourLines, totals(4, 2, 2, 0))};
    QTest::newRow("four birds on letter-size pages")
        << four << 1 << device << diff << Pages{page(printed, fourLines, totals(4, 2, 2, 0), 58)};

    const Birds many = numberedBirds(97);
    QStringList firstBody;
    for (int i = 0; i < 96; i += 2) {
        firstBody << birdColumns(i + 1, many[i]->assocNum, "Blue", many[i]->eringNum) + "|"
                         + birdColumns(i + 2, many[i + 1]->assocNum, "Blue", many[i + 1]->eringNum);
    }
    QTest::newRow("97 birds: 96 on page 1, bird 97 and the totals on page 2")
        << many << 0 << device << diff
        << Pages{page(printed, firstBody, QString()),
                 page(printed, {birdColumns(97, "BE-2023-0000097", "Blue", "A0000061") + "|"}, totals(97, 48, 49, 0))};

    QTest::newRow("long texts are cut to their columns; other scripts keep them")
        << Birds{bird("NL-2024-ABCDEFGHIJKLMNOPQ", "Blue chequer pied", "0A1B2C3D4E", 0, 2020),
                 bird(QString::fromUtf8("ΕΛ-2024-Ω1"), QString::fromUtf8("Синий"), "0A1B2C3F", 1, 2020)}
        << 0 << device << diff
        << Pages{page(printed,
                      {"1  |NL-2024-ABCDEFGHIJK|Blue |0A1B2C3D|2  |?" "?-2024-?1         |?????|0A1B2C3F", QString()},
                      totals(2, 1, 1, 0))};

    QTest::newRow("sex 2 counts in the total only")
        << Birds{bird("BE-2024-1000001", "Blue", "0A1B2C3D", 2, 2020),
                 bird("BE-2024-1000002", "Red", "0A1B2C3E", 7, 2020)}
        << 0 << device << diff
        << Pages{page(printed,
                      {"1  |BE-2024-1000001    |Blue |0A1B2C3D|2  |BE-2024-1000002    |Red  |0A1B2C3E", QString()},
                      totals(2, 0, 0, 0))};

    QTest::newRow("yearlings: born the year before the club time's")
        << Birds{bird("BE-2025-1", "Blue", "00000001", 0, 2025), bird("BE-2026-2", "Blue", "00000002", 0, 2026),
                 bird("BE-2024-3", "Blue", "00000003", 0, 2024)}
        << 0 << device << diff
        << Pages{page(printed,
                      {birdColumns(1, "BE-2025-1", "Blue", "00000001") + "|"
                           + birdColumns(2, "BE-2026-2", "Blue", "00000002"),
                       birdColumns(3, "BE-2024-3", "Blue", "00000003") + "|"},
                      totals(3, 3, 0, 1))};

    QTest::newRow("new year's eve: the club time's local year decides")
        << Birds{bird("BE-2026-1", "Blue", "00000001", 1, 2026), bird("BE-2025-2", "Blue", "00000002", 1, 2025),
                 bird("BE-2026-3", "Blue", "00000003", 1, 2026)}
        << 0 << kNewYearsEveMs << qint64(3600000)
        << Pages{page("01/01/2027 00:30",
                      {birdColumns(1, "BE-2026-1", "Blue", "00000001") + "|"
                           + birdColumns(2, "BE-2025-2", "Blue", "00000002"),
                       birdColumns(3, "BE-2026-3", "Blue", "00000003") + "|"},
                      totals(3, 0, 3, 2))};
}

void TestPigeonsAssignmentReport::pages()
{
    QFETCH(Birds, birds);
    QFETCH(int, pageSize);
    QFETCH(qint64, deviceMs);
    QFETCH(qint64, clubDiffMs);
    QFETCH(Pages, expected);
    fixture->setClock(deviceMs, clubDiffMs, ReportFixture::kZoneSeconds);
    fixture->setPageSize(pageSize);

    StateRecorder recorder(fixture.get());
    PigeonsAssignmentReport report;
    report.loadReport(ReportFixture::clockNo(), ReportFixture::loft(), birds);
    checkPrintedPages(report, recorder, expected);
    if (QTest::currentTestFailed())
        return;
    // The page topic, with states 2 and 3 around its loft block, on every page.
    QCOMPARE(int(recorder.states().count(IPrinterNotify::PrintReportTopicBegin)), int(expected.size()));
    QCOMPARE(int(recorder.states().count(IPrinterNotify::PrintReportTopicEnd)), int(expected.size()));
}

QTEST_GUILESS_MAIN(TestPigeonsAssignmentReport)
#include "tst_pigeonsassignmentreport.moc"
