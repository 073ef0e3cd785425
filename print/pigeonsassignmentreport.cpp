#include "print/pigeonsassignmentreport.h"

#include "core/utc.h"
#include "print/reportlayout.h"
#include "storage/pigeoninfo.h"

#include <QCoreApplication>
#include <QLatin1String>

namespace {

// Lines kept free on every page for the report bottom (2) and the closing
// lines (2) and one spare; two birds share a line.
constexpr int kReservedLines = 5;
constexpr int kBirdsPerLine = 2;
constexpr int kClosingLines = 2;
constexpr int kNumberChars = 3;
constexpr int kBirdChars = 19;
constexpr int kColorChars = 5;
constexpr int kRingChars = 8;

const char kSeparator[] = "|";
const char *const kPrintedFormat = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm");
const char *const kTitle =
    QT_TRANSLATE_NOOP("ReportPrinter", "                      QUARVELO - Assignment Ring List                        ");
const char kColumnRule[] = "---+-------------------+-----+--------+---+-------------------+-----+--------";
const char *const kColumnHeader =
    QT_TRANSLATE_NOOP("ReportPrinter", "No.|       Bird        |Color| E-ring |No.|       Bird        |Color| E-ring ");
const char *const kSigned =
    QT_TRANSLATE_NOOP("ReportPrinter", " Signed Member:               Club:                Clock Checked:            ");
const char *const kTotal = QT_TRANSLATE_NOOP("ReportPrinter", "Total: ");

} // namespace

PigeonsAssignmentReport::PigeonsAssignmentReport(QObject *parent)
    : ReportPrinter(parent)
{
}

PigeonsAssignmentReport::~PigeonsAssignmentReport() = default;

void PigeonsAssignmentReport::loadReport(QString clockNumber, const LoftInfo &loftInfo,
                                         QList<QSharedPointer<PigeonInfo>> pigeonList)
{
    clockNo = std::move(clockNumber);
    loft = loftInfo;
    pigeons = std::move(pigeonList);
}

void PigeonsAssignmentReport::printPageTopic()
{
    doPrintLine(ReportLayout::text(kTitle));
    doPrintLine(ReportLayout::rule('-'));
    printNotifiedReportTopic();
    printRecordsTopic();
}

void PigeonsAssignmentReport::printReportTopic()
{
    const QString printed =
        UTC::clubTime().format(QCoreApplication::translate("CommonResource", kPrintedFormat));
    ReportLayout::printLoftLines(*this, clockNo, loft, printed);
    doPrintLine(QString());
}

void PigeonsAssignmentReport::printRecordsTopic()
{
    ReportLayout::printColumnHeads(*this, QLatin1String(kColumnRule), {ReportLayout::text(kColumnHeader)});
}

void PigeonsAssignmentReport::printRecord()
{
    const int index = getRecordIndex();
    const QSharedPointer<PigeonInfo> pigeon = pigeons.value(index);
    if (!pigeon)
        return;
    const QString separator = QLatin1String(kSeparator);
    // Numbers from 1000 on lose their last digits, as the club's form has it.
    doPrintData(QString::number(index + 1), kNumberChars);
    doPrintData(separator);
    doPrintData(pigeon->assocNum, kBirdChars);
    doPrintData(separator);
    doPrintData(pigeon->color, kColorChars);
    doPrintData(separator);
    doPrintData(pigeon->eringNum, kRingChars);
    // The first bird of a line leaves it open for the second.
    if (index % kBirdsPerLine == 0)
        doPrintData(separator);
    else
        doPrintLine(QString());
}

int PigeonsAssignmentReport::getMaxRecordLines()
{
    return linesLeft(kReservedLines) * kBirdsPerLine;
}

int PigeonsAssignmentReport::getRecordCount()
{
    return int(pigeons.size());
}

void PigeonsAssignmentReport::printPageBottom()
{
    printTotalsAndFill(kClosingLines);
    doPrintLine(ReportLayout::rule('_'));
    doPrintLine(ReportLayout::text(kSigned));
}

void PigeonsAssignmentReport::printReportBottom()
{
    // Ends the half line of an odd last bird, or leaves an empty line.
    doPrintLine(QString());
    ReportLayout::Tally tally;
    for (const QSharedPointer<PigeonInfo> &pigeon : pigeons) {
        if (pigeon)
            tally.add(*pigeon);
    }
    ReportLayout::printTotalsLine(*this, ReportLayout::text(kTotal) + QString::number(pigeons.size()), tally);
}
