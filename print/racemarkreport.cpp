#include "print/racemarkreport.h"

#include "print/reportlayout.h"
#include "storage/pigeonrecord.h"

#include <QLatin1String>

namespace {

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
    : RaceListReport(parent)
{
}

RaceMarkReport::~RaceMarkReport() = default;

void RaceMarkReport::loadReport(const QString &clockNumber, const LoftInfo &loftInfo, const RaceInfo &raceInfo,
                                QList<QSharedPointer<PigeonRecord>> recordList)
{
    loadRace(clockNumber, loftInfo, raceInfo, std::move(recordList));
}

void RaceMarkReport::printPageTopic()
{
    printListTopic(ReportLayout::text(kTitle));
}

void RaceMarkReport::printReportTopic()
{
    printLoftAndMarkTimes();
    ReportLayout::printVersionLine(*this);
    doPrintLine(QString());
    ReportLayout::printRaceCodes(*this, raceInfo());
    doPrintLine(QString());
}

void RaceMarkReport::printRecordsTopic()
{
    ReportLayout::printColumnHeads(*this, QLatin1String(kColumnRule),
                                   {QLatin1String(kColumnUpperHeader), ReportLayout::text(kColumnHeader)});
}

void RaceMarkReport::printRecord()
{
    const QSharedPointer<PigeonRecord> record = beginRecordLine(kBirdChars, kColorChars);
    if (!record)
        return;
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

void RaceMarkReport::printReportBottom()
{
    doPrintLine(QString());
    const ReportLayout::Tally tally = ReportLayout::tallyOf(raceRecords());
    ReportLayout::printTotalsLine(*this, ReportLayout::text(kTotalMarked) + QString::number(tally.birds), tally);
}
