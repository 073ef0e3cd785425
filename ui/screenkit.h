#pragma once

#include <QString>
#include <QStringList>

class QComboBox;

// What several screens show alike: the year choosers, the sex words of the
// pigeon screens and how long a club read may stay unanswered. GUI thread
// only.
namespace ScreenKit {

constexpr int kFirstYear = 2015;
// A chooser always reaches at least this year, whatever the clock says.
constexpr int kLastYearAtLeast = 2025;
constexpr int kYearsAhead = 10;

// A club read that got no answer after this long counts as lost and is
// asked again: the link answers or drops a read within one 5 s answer
// time-out, behind at most one other command.
constexpr int kClubReadLostMs = 15000;

// "2015" up to ten years past currentYear, never ending before "2025".
QStringList yearItems(int currentYear);
// The same for the year of the club time.
QStringList yearItems();
// Replaces the items of a year chooser with yearItems().
void fillYears(QComboBox *box);

// "Hen" for 0, "Cock" for 1, "Unknown" for any other code, translated in
// the shared context.
QString sexText(int sex);

} // namespace ScreenKit
