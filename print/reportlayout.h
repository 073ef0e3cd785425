#pragma once

#include <QList>
#include <QSharedPointer>
#include <QString>

class LoftInfo;
class PigeonInfo;
class PigeonRecord;
class RaceInfo;
class ReportPrinter;

// The pieces that the three printed lists share: their translated texts and
// time formats, the loft block, the race head lines, the declaration at the
// foot of the race lists and the counting of the totals. Every line goes out
// through the given report, in the GUI thread that prints it.
class ReportLayout
{
public:
    // Fixed width of the lists: rules, titles and column headers.
    static constexpr int kLineChars = 77;
    // Lines that printDeclaration takes at the foot of a page.
    static constexpr int kDeclarationLines = 5;

    // A label, title, header or sex mark in the context "ReportPrinter".
    static QString text(const char *source);
    // "dd/MM/yyyy hh:mm:ss" in the device's zone, format from "CommonResource".
    static QString fullTime(qint64 utcMs);
    // "dd/MM hh:mm:ss" in the device's zone.
    static QString recordTime(qint64 utcMs);
    // " H  " for a hen (sex 0), " C  " for a cock (1), four blanks otherwise.
    static QString sexMark(int sex);
    // kLineChars of one character: "-" and "_" rules.
    static QString rule(char c);
    // "+", dashes, "+".
    static QString boxRule();

    // The loft block: club, clock number and printing time; member, loft
    // number and telephone; the address, never cut.
    static void printLoftLines(ReportPrinter &report, const QString &clockNo, const LoftInfo &loft,
                               const QString &printedTime);
    // Box rule, the title, box rule, an empty line.
    static void printBoxTitle(ReportPrinter &report, const QString &title);
    // Two fields of half a line each, then CR LF.
    static void printFieldPair(ReportPrinter &report, const QString &left, const QString &right);
    // Time set by the club system and the member's clock at basketing.
    static void printMarkTimes(ReportPrinter &report, const RaceInfo &race);
    // Time of the strike by the club system and by the member's clock.
    static void printStrikeTimes(ReportPrinter &report, const RaceInfo &race);
    // The program version and the device's time zone.
    static void printVersionLine(ReportPrinter &report);
    // Association and race code, marker id and key code, liberation.
    static void printRaceCodes(ReportPrinter &report, const RaceInfo &race);
    // The five closing lines of the race lists.
    static void printDeclaration(ReportPrinter &report);
    // The column heads of a list: the rule, each head line, the rule again.
    static void printColumnHeads(ReportPrinter &report, const QString &columnRule, const QList<QString> &heads);
    // The leading columns of a race list line, each closed by "|": number,
    // bird, e-ring, sex and colour.
    static void printPigeonColumns(int number, const PigeonInfo &pigeon, int birdChars, int colorChars);

    // The record's pigeon from storage; null when it is gone (or no record).
    static QSharedPointer<PigeonInfo> pigeonOf(const QSharedPointer<PigeonRecord> &record);
    class Tally;
    // The totals over every record whose pigeon is found.
    static Tally tallyOf(const QList<QSharedPointer<PigeonRecord>> &records);
    // The totals line: the leading field when given, then hens, cocks and
    // yearlings, each a field of a quarter of 80 columns, then CR LF.
    static void printTotalsLine(ReportPrinter &report, const QString &leadingField, const Tally &tally);

    // "UTC+08:00" with its label: whole minutes, truncated toward zero.
    static QString timeZoneText(int zoneSeconds);
    static QString versionText();

    // The totals of a list: birds found, hens, cocks, and yearlings (born the
    // year before the local year of the club time, taken at construction).
    class Tally
    {
    public:
        Tally();
        void add(const PigeonInfo &pigeon);

        int birds = 0;
        int hens = 0;
        int cocks = 0;
        int yearlings = 0;

    private:
        int clubYear = 0;
    };
};
