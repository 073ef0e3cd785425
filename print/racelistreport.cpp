#include "print/racelistreport.h"

#include "core/utc.h"
#include "print/reportlayout.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"

namespace {

// Lines kept free on every page for the report bottom (2) and the closing
// lines (the declaration).
constexpr int kReservedLines = 2 + ReportLayout::kDeclarationLines;

} // namespace

RaceListReport::RaceListReport(QObject *parent)
    : ReportPrinter(parent)
{
}

RaceListReport::~RaceListReport() = default;

void RaceListReport::loadRace(const QString &clockNumber, const LoftInfo &loftInfo, const RaceInfo &raceInfo,
                              QList<QSharedPointer<PigeonRecord>> recordList)
{
    clockNo = clockNumber;
    loft = loftInfo;
    race = raceInfo;
    records = std::move(recordList);
}

void RaceListReport::printListTopic(const QString &title)
{
    ReportLayout::printBoxTitle(*this, title);
    printNotifiedReportTopic();
    printRecordsTopic();
}

void RaceListReport::printLoftAndMarkTimes()
{
    ReportLayout::printLoftLines(*this, clockNo, loft, ReportLayout::fullTime(UTC::clubTime().value()));
    doPrintLine(QString());
    ReportLayout::printMarkTimes(*this, race);
}

QSharedPointer<PigeonRecord> RaceListReport::beginRecordLine(int birdChars, int colorChars)
{
    const int index = getRecordIndex();
    const QSharedPointer<PigeonRecord> record = records.value(index);
    const QSharedPointer<PigeonInfo> pigeon = ReportLayout::pigeonOf(record);
    if (!pigeon)
        return {};
    ReportLayout::printPigeonColumns(index + 1, *pigeon, birdChars, colorChars);
    return record;
}

int RaceListReport::getMaxRecordLines()
{
    return linesLeft(kReservedLines);
}

int RaceListReport::getRecordCount()
{
    return int(records.size());
}

void RaceListReport::printPageBottom()
{
    printTotalsAndFill(ReportLayout::kDeclarationLines);
    ReportLayout::printDeclaration(*this);
}
