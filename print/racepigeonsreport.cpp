#include "print/racepigeonsreport.h"

#include "print/reportlayout.h"
#include "storage/pigeonrecord.h"

#include <QLatin1String>

namespace {

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
    : RaceListReport(parent)
{
}

RacePigeonsReport::~RacePigeonsReport() = default;

void RacePigeonsReport::loadReport(const QString &clockNumber, const LoftInfo &loftInfo, const RaceInfo &raceInfo,
                                   QList<QSharedPointer<PigeonRecord>> arrived,
                                   QList<QSharedPointer<PigeonRecord>> notArrived)
{
    arrivedCount = int(arrived.size());
    QList<QSharedPointer<PigeonRecord>> basketed = std::move(arrived);
    basketed += notArrived;
    basketedCount = int(basketed.size());
    loadRace(clockNumber, loftInfo, raceInfo, std::move(basketed));
}

void RacePigeonsReport::printPageTopic()
{
    const char *title = raceInfo().valid == kRunningRace ? kTitleInProgress : kTitleFinal;
    printListTopic(ReportLayout::text(title));
}

void RacePigeonsReport::printReportTopic()
{
    printLoftAndMarkTimes();
    ReportLayout::printStrikeTimes(*this, raceInfo());
    ReportLayout::printVersionLine(*this);
    doPrintLine(QString());
    ReportLayout::printRaceCodes(*this, raceInfo());
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
    const QSharedPointer<PigeonRecord> record = beginRecordLine(kBirdChars, kColorChars);
    if (!record)
        return;
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

void RacePigeonsReport::printReportBottom()
{
    doPrintLine(QString());
    ReportLayout::printTotalsLine(*this, QString(), ReportLayout::tallyOf(raceRecords()));
}
