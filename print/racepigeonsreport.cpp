#include "print/racepigeonsreport.h"

#include "core/utc.h"
#include "print/reportlayout.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"

#include <QLatin1String>

namespace {

// Lines kept free on every page for the report bottom (2) and the closing
// lines (the declaration).
constexpr int kReservedLines = 2 + ReportLayout::kDeclarationLines;
constexpr int kBirdChars = 19;
constexpr int kColorChars = 5;
constexpr int kTimeChars = 15;
constexpr int kRunningRace = 3;

const char kSeparator[] = "|";
const char kNoOrder[] = "   ";
const char *const kTitleInProgress =
    QT_TRANSLATE_NOOP("ReportPrinter", "|                    QUARVELO  -  Race in Progress List                     |");
const char *const kTitleFinal =
    QT_TRANSLATE_NOOP("ReportPrinter", "|                    QUARVELO  -  Race Finalization List                    |");
const char *const kBasketed = QT_TRANSLATE_NOOP("ReportPrinter", "TOTAL BASKETED: ");
const char *const kArrived = QT_TRANSLATE_NOOP("ReportPrinter", "TOTAL ARRIVED: ");
const char kColumnRule[] = "---+-------------------+--------+----+-----+---------------+---+-------------";
const char *const kColumnUpperHeader =
    QT_TRANSLATE_NOOP("ReportPrinter", "   |                   |        |    |     |    Arrival    |   | Secret Num  ");
const char *const kColumnHeader =
    QT_TRANSLATE_NOOP("ReportPrinter", "No.|       Bird        | e-Ring |Sex |Color| Day    Time   |Nom|   Checked   ");
const char *const kChecked = QT_TRANSLATE_NOOP("ReportPrinter", "OK");
const char *const kNotChecked = QT_TRANSLATE_NOOP("ReportPrinter", "Not OK");

} // namespace

RacePigeonsReport::RacePigeonsReport(QObject *parent)
    : ReportPrinter(parent)
{
}

RacePigeonsReport::~RacePigeonsReport() = default;

void RacePigeonsReport::loadReport(const QString &clockNumber, const LoftInfo &loftInfo, const RaceInfo &raceInfo,
                                   QList<QSharedPointer<PigeonRecord>> arrived,
                                   QList<QSharedPointer<PigeonRecord>> notArrived)
{
    clockNo = clockNumber;
    loft = loftInfo;
    race = raceInfo;
    arrivedCount = int(arrived.size());
    records = std::move(arrived);
    records += notArrived;
    basketedCount = int(records.size());
}

void RacePigeonsReport::printPageTopic()
{
    const char *title = race.valid == kRunningRace ? kTitleInProgress : kTitleFinal;
    ReportLayout::printBoxTitle(*this, ReportLayout::text(title));
    printNotifiedReportTopic();
    printRecordsTopic();
}

void RacePigeonsReport::printReportTopic()
{
    ReportLayout::printLoftLines(*this, clockNo, loft, ReportLayout::fullTime(UTC::clubTime().value()));
    doPrintLine(QString());
    ReportLayout::printMarkTimes(*this, race);
    ReportLayout::printStrikeTimes(*this, race);
    ReportLayout::printVersionLine(*this);
    doPrintLine(QString());
    ReportLayout::printRaceCodes(*this, race);
    ReportLayout::printFieldPair(*this, ReportLayout::text(kBasketed) + QString::number(basketedCount),
                                 ReportLayout::text(kArrived) + QString::number(arrivedCount));
    doPrintLine(QString());
}

void RacePigeonsReport::printRecordsTopic()
{
    ReportLayout::printColumnHeads(*this, QLatin1String(kColumnRule),
                                   {ReportLayout::text(kColumnUpperHeader), ReportLayout::text(kColumnHeader)});
}

void RacePigeonsReport::printRecord()
{
    const int index = getRecordIndex();
    const QSharedPointer<PigeonRecord> record = records.value(index);
    const QSharedPointer<PigeonInfo> pigeon = ReportLayout::pigeonOf(record);
    // A pigeon deleted since basketing prints no line; its number stays unused.
    if (!pigeon)
        return;
    ReportLayout::printPigeonColumns(index + 1, *pigeon, kBirdChars, kColorChars);
    const QString separator = QLatin1String(kSeparator);
    const bool arrived = record->backTimeEring != 0;
    doPrintData(arrived ? ReportLayout::recordTime(record->backTimeEring) : QString(), kTimeChars);
    doPrintData(separator);
    doPrintData(record->markOrder > 0 ? QString::asprintf("%03d", record->markOrder) : QLatin1String(kNoOrder));
    doPrintData(separator);
    // The ring's number from basketing against the one read at arrival; only
    // an arrived bird can pass.
    const bool checked = arrived && record->randNumMarked == record->randNumberBack;
    doPrintLine(QString::asprintf("%02X %02X ", unsigned(record->randNumMarked), unsigned(record->randNumberBack))
                + ReportLayout::text(checked ? kChecked : kNotChecked));
}

int RacePigeonsReport::getMaxRecordLines()
{
    return linesLeft(kReservedLines);
}

int RacePigeonsReport::getRecordCount()
{
    return int(records.size());
}

void RacePigeonsReport::printPageBottom()
{
    printTotalsAndFill(ReportLayout::kDeclarationLines);
    ReportLayout::printDeclaration(*this);
}

void RacePigeonsReport::printReportBottom()
{
    doPrintLine(QString());
    ReportLayout::printTotalsLine(*this, QString(), ReportLayout::tallyOf(records));
}
