#include "print/reportlayout.h"

#include "core/utc.h"
#include "core/version.h"
#include "print/reportprinter.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QCoreApplication>
#include <QLatin1String>

namespace {

// The loft block and the two halves of a head line.
constexpr int kClubFieldChars = 29;
constexpr int kClockFieldChars = 21;
constexpr int kHalfLineChars = 39;
constexpr int kSexHen = 0;
constexpr int kSexCock = 1;
constexpr int kNumberChars = 3;
constexpr int kRingChars = 8;
constexpr int kMinutesPerHour = 60;
constexpr int kSecondsPerMinute = 60;

const char kReportContext[] = "ReportPrinter";
const char kFormatContext[] = "CommonResource";

const char *const kFullTimeFormat = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");
const char *const kRecordTimeFormat = QT_TRANSLATE_NOOP("CommonResource", "dd/MM hh:mm:ss");

const char *const kClub = QT_TRANSLATE_NOOP("ReportPrinter", "CLUB: ");
const char *const kClockNo = QT_TRANSLATE_NOOP("ReportPrinter", "CLOCK No: ");
const char *const kPrinted = QT_TRANSLATE_NOOP("ReportPrinter", "PRINTED: ");
const char *const kMember = QT_TRANSLATE_NOOP("ReportPrinter", "MEMBER: ");
const char *const kLoftNo = QT_TRANSLATE_NOOP("ReportPrinter", "LOFT No: ");
const char *const kTelephone = QT_TRANSLATE_NOOP("ReportPrinter", "TELEPHONE: ");
const char *const kAddress = QT_TRANSLATE_NOOP("ReportPrinter", "ADDRESS: ");
const char kAddressSeparator[] = " - ";
const char kColumnSeparator[] = "|";

const char *const kTimeSet = QT_TRANSLATE_NOOP("ReportPrinter", "TIME SET:       ");
const char *const kMembersClock = QT_TRANSLATE_NOOP("ReportPrinter", "MEMBER'S CLOCK: ");
const char *const kStrikeSet = QT_TRANSLATE_NOOP("ReportPrinter", "STRIKE SET:     ");
const char *const kVersion = QT_TRANSLATE_NOOP("ReportPrinter", "VERSION:        ");
const char *const kZoneWest = QT_TRANSLATE_NOOP("ReportPrinter", "TIME ZONE:      UTC-");
const char *const kZoneEast = QT_TRANSLATE_NOOP("ReportPrinter", "TIME ZONE:      UTC+");
const char *const kAssocCode = QT_TRANSLATE_NOOP("ReportPrinter", "ASSOC CODE: ");
const char *const kRaceCode = QT_TRANSLATE_NOOP("ReportPrinter", "RACE CODE: ");
const char *const kMarkerId = QT_TRANSLATE_NOOP("ReportPrinter", "MARKER ID: ");
const char *const kKeyCode = QT_TRANSLATE_NOOP("ReportPrinter", "KEY CODE: ");
const char *const kLiberCode = QT_TRANSLATE_NOOP("ReportPrinter", "LIBER CODE: ");
const char *const kLiberSite = QT_TRANSLATE_NOOP("ReportPrinter", "LIBER SITE: ");

const char *const kHen = QT_TRANSLATE_NOOP("ReportPrinter", " H  ");
const char *const kCock = QT_TRANSLATE_NOOP("ReportPrinter", " C  ");
const char kNoSex[] = "    ";

const char *const kTotalHens = QT_TRANSLATE_NOOP("ReportPrinter", "Total hens: ");
const char *const kTotalCocks = QT_TRANSLATE_NOOP("ReportPrinter", "Total cocks: ");
const char *const kYearlings = QT_TRANSLATE_NOOP("ReportPrinter", "Yearlings: ");
constexpr int kTotalChars = 20;

const char *const kVaccinated =
    QT_TRANSLATE_NOOP("ReportPrinter", "All entered pigeons have been fully vaccinated against Paramyxovirus and are ");
const char *const kRegistered = QT_TRANSLATE_NOOP("ReportPrinter", "registered in my name.");
const char *const kSigned =
    QT_TRANSLATE_NOOP("ReportPrinter", "Signed Member:         Flyer:            Club:           Clock Checked:      ");

} // namespace

QString ReportLayout::text(const char *source)
{
    return QCoreApplication::translate(kReportContext, source);
}

QString ReportLayout::fullTime(qint64 utcMs)
{
    return UTC::format(utcMs, QCoreApplication::translate(kFormatContext, kFullTimeFormat));
}

QString ReportLayout::recordTime(qint64 utcMs)
{
    return UTC::format(utcMs, QCoreApplication::translate(kFormatContext, kRecordTimeFormat));
}

QString ReportLayout::sexMark(int sex)
{
    if (sex == kSexHen)
        return text(kHen);
    if (sex == kSexCock)
        return text(kCock);
    return QLatin1String(kNoSex);
}

QString ReportLayout::rule(char c)
{
    return QString(kLineChars, QLatin1Char(c));
}

QString ReportLayout::boxRule()
{
    return QLatin1Char('+') + QString(kLineChars - 2, QLatin1Char('-')) + QLatin1Char('+');
}

void ReportLayout::printLoftLines(ReportPrinter &report, const QString &clockNo, const LoftInfo &loft,
                                  const QString &printedTime)
{
    ReportPrinter::doPrintData(text(kClub) + loft.clubName, kClubFieldChars);
    ReportPrinter::doPrintData(text(kClockNo) + clockNo, kClockFieldChars);
    report.doPrintLine(text(kPrinted) + printedTime);
    ReportPrinter::doPrintData(text(kMember) + loft.ownerName, kClubFieldChars);
    ReportPrinter::doPrintData(text(kLoftNo) + loft.loftNum, kClockFieldChars);
    report.doPrintLine(text(kTelephone) + loft.phoneNo);
    const QString separator = QLatin1String(kAddressSeparator);
    report.doPrintLine(text(kAddress) + loft.street + separator + loft.city + separator + loft.postCode);
}

void ReportLayout::printBoxTitle(ReportPrinter &report, const QString &title)
{
    report.doPrintLine(boxRule());
    report.doPrintLine(title);
    report.doPrintLine(boxRule());
    report.doPrintLine(QString());
}

void ReportLayout::printFieldPair(ReportPrinter &report, const QString &left, const QString &right)
{
    ReportPrinter::doPrintData(left, kHalfLineChars);
    ReportPrinter::doPrintData(right, kHalfLineChars);
    report.doPrintLine(QString());
}

void ReportLayout::printMarkTimes(ReportPrinter &report, const RaceInfo &race)
{
    printFieldPair(report, text(kTimeSet) + fullTime(race.markReaderTime),
                   text(kMembersClock) + fullTime(race.markDeviceTime));
}

void ReportLayout::printStrikeTimes(ReportPrinter &report, const RaceInfo &race)
{
    printFieldPair(report, text(kStrikeSet) + fullTime(race.raceStopReaderTime),
                   text(kMembersClock) + fullTime(race.raceStopDeviceTime));
}

void ReportLayout::printVersionLine(ReportPrinter &report)
{
    printFieldPair(report, text(kVersion) + versionText(), timeZoneText(UTC::_timezone));
}

void ReportLayout::printRaceCodes(ReportPrinter &report, const RaceInfo &race)
{
    printFieldPair(report, text(kAssocCode) + race.assocCode, text(kRaceCode) + race.raceCode);
    printFieldPair(report, text(kMarkerId) + race.markReaderId, text(kKeyCode) + race.markAuthKey);
    printFieldPair(report, text(kLiberCode) + race.liberCode, text(kLiberSite) + race.liberName);
}

void ReportLayout::printDeclaration(ReportPrinter &report)
{
    report.doPrintLine(rule('_'));
    report.doPrintLine(text(kVaccinated));
    report.doPrintLine(text(kRegistered));
    report.doPrintLine(QString());
    report.doPrintLine(text(kSigned));
}

void ReportLayout::printColumnHeads(ReportPrinter &report, const QString &columnRule, const QList<QString> &heads)
{
    report.doPrintLine(columnRule);
    for (const QString &head : heads)
        report.doPrintLine(head);
    report.doPrintLine(columnRule);
}

void ReportLayout::printPigeonColumns(int number, const PigeonInfo &pigeon, int birdChars, int colorChars)
{
    const QString separator = QLatin1String(kColumnSeparator);
    ReportPrinter::doPrintData(QString::number(number), kNumberChars);
    ReportPrinter::doPrintData(separator);
    ReportPrinter::doPrintData(pigeon.assocNum, birdChars);
    ReportPrinter::doPrintData(separator);
    ReportPrinter::doPrintData(pigeon.eringNum, kRingChars);
    ReportPrinter::doPrintData(separator);
    ReportPrinter::doPrintData(sexMark(pigeon.sex));
    ReportPrinter::doPrintData(separator);
    ReportPrinter::doPrintData(pigeon.color, colorChars);
    ReportPrinter::doPrintData(separator);
}

QSharedPointer<PigeonInfo> ReportLayout::pigeonOf(const QSharedPointer<PigeonRecord> &record)
{
    if (!record)
        return {};
    return Storage::instance()->findPigeonById(record->assocNum);
}

ReportLayout::Tally ReportLayout::tallyOf(const QList<QSharedPointer<PigeonRecord>> &records)
{
    Tally tally;
    for (const QSharedPointer<PigeonRecord> &record : records) {
        if (const QSharedPointer<PigeonInfo> pigeon = pigeonOf(record))
            tally.add(*pigeon);
    }
    return tally;
}

void ReportLayout::printTotalsLine(ReportPrinter &report, const QString &leadingField, const Tally &tally)
{
    if (!leadingField.isEmpty())
        ReportPrinter::doPrintData(leadingField, kTotalChars);
    ReportPrinter::doPrintData(text(kTotalHens) + QString::number(tally.hens), kTotalChars);
    ReportPrinter::doPrintData(text(kTotalCocks) + QString::number(tally.cocks), kTotalChars);
    ReportPrinter::doPrintData(text(kYearlings) + QString::number(tally.yearlings), kTotalChars);
    report.doPrintLine(QString());
}

QString ReportLayout::timeZoneText(int zoneSeconds)
{
    // Whole minutes, truncated toward zero as the club's forms show them.
    int minutes = zoneSeconds / kSecondsPerMinute;
    QString label = text(kZoneEast);
    if (minutes < 0) {
        label = text(kZoneWest);
        minutes = -minutes;
    }
    return label + QString::asprintf("%02d:%02d", minutes / kMinutesPerHour, minutes % kMinutesPerHour);
}

QString ReportLayout::versionText()
{
    return QString::asprintf("v%s", ProgramVersion::kText);
}

ReportLayout::Tally::Tally()
    : clubYear(UTC::clubTime().year())
{
}

void ReportLayout::Tally::add(const PigeonInfo &pigeon)
{
    ++birds;
    if (pigeon.sex == kSexHen)
        ++hens;
    else if (pigeon.sex == kSexCock)
        ++cocks;
    if (qint64(pigeon.year) + 1 == clubYear)
        ++yearlings;
}
