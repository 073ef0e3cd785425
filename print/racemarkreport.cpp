#include "print/racemarkreport.h"

#include "core/utc.h"
#include "print/reportlayout.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"

#include <QLatin1String>

namespace {

// Lines kept free on every page for the report bottom (2) and the closing
// lines (the declaration).
constexpr int kReservedLines = 2 + ReportLayout::kDeclarationLines;
constexpr int kBirdChars = 20;
constexpr int kColorChars = 8;
constexpr int kTimeChars = 16;

const char kSeparator[] = "|";
const char *const kTitle =
    QT_TRANSLATE_NOOP("ReportPrinter", "|                      QUARVELO  -  Race Marked List                        |");
const char kColumnRule[] = "---+--------------------+--------+----+--------+----------------+------------";
// Not translated: it holds no word a translator could change alone.
const char kColumnUpperHeader[] = "   |                    |        |    |        |    Marked      |            ";
const char *const kColumnHeader =
    QT_TRANSLATE_NOOP("ReportPrinter", "No.|       Bird         | e-Ring |Sex | Color  | Day     Time   | Nom.       ");
const char *const kDeleted = QT_TRANSLATE_NOOP("ReportPrinter", "deleted!");
const char *const kTotalMarked = QT_TRANSLATE_NOOP("ReportPrinter", "Total Marked: ");

} // namespace

RaceMarkReport::RaceMarkReport(QObject *parent)
    : ReportPrinter(parent)
{
}

RaceMarkReport::~RaceMarkReport() = default;

void RaceMarkReport::loadReport(const QString &clockNumber, const LoftInfo &loftInfo, const RaceInfo &raceInfo,
                                QList<QSharedPointer<PigeonRecord>> recordList)
{
    clockNo = clockNumber;
    loft = loftInfo;
    race = raceInfo;
    records = std::move(recordList);
}

void RaceMarkReport::printPageTopic()
{
    ReportLayout::printBoxTitle(*this, ReportLayout::text(kTitle));
    printNotifiedReportTopic();
    printRecordsTopic();
}

void RaceMarkReport::printReportTopic()
{
    ReportLayout::printLoftLines(*this, clockNo, loft, ReportLayout::fullTime(UTC::clubTime().value()));
    doPrintLine(QString());
    ReportLayout::printMarkTimes(*this, race);
    ReportLayout::printVersionLine(*this);
    doPrintLine(QString());
    ReportLayout::printRaceCodes(*this, race);
    doPrintLine(QString());
}

void RaceMarkReport::printRecordsTopic()
{
    ReportLayout::printColumnHeads(*this, QLatin1String(kColumnRule),
                                   {QLatin1String(kColumnUpperHeader), ReportLayout::text(kColumnHeader)});
}

void RaceMarkReport::printRecord()
{
    const int index = getRecordIndex();
    const QSharedPointer<PigeonRecord> record = records.value(index);
    const QSharedPointer<PigeonInfo> pigeon = ReportLayout::pigeonOf(record);
    // A pigeon deleted since basketing prints no line; its number stays unused.
    if (!pigeon)
        return;
    ReportLayout::printPigeonColumns(index + 1, *pigeon, kBirdChars, kColorChars);
    const QString separator = QLatin1String(kSeparator);
    if (record->markTime == 0) {
        doPrintData(QString(), kTimeChars);
        doPrintData(separator);
        doPrintLine(ReportLayout::text(kDeleted));
        return;
    }
    doPrintData(ReportLayout::recordTime(record->markTime), kTimeChars);
    doPrintData(separator);
    if (record->markOrder > 0)
        doPrintData(QString::asprintf("%03d", record->markOrder));
    doPrintLine(QString());
}

int RaceMarkReport::getMaxRecordLines()
{
    return linesLeft(kReservedLines);
}

int RaceMarkReport::getRecordCount()
{
    return int(records.size());
}

void RaceMarkReport::printPageBottom()
{
    printTotalsAndFill(ReportLayout::kDeclarationLines);
    ReportLayout::printDeclaration(*this);
}

void RaceMarkReport::printReportBottom()
{
    doPrintLine(QString());
    const ReportLayout::Tally tally = ReportLayout::tallyOf(records);
    ReportLayout::printTotalsLine(*this, ReportLayout::text(kTotalMarked) + QString::number(tally.birds), tally);
}
