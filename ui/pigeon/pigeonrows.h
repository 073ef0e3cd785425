#pragma once

#include <QList>
#include <QSharedPointer>
#include <QStringList>

#include <functional>

class PigeonInfo;
class QLabel;
class QTableWidget;
class QWidget;

// The pigeon tables of the pigeon screens: one row per pigeon (number from 1,
// association number, ring), the detail texts of the selected pigeon, and the
// taking off of a ring. GUI thread only, on the GUI thread's Storage.
namespace PigeonRows {

// Headers, column widths and the header look; the header's strip is drawn
// by headStrip, a widget behind the table's top.
void setUpTable(QTableWidget *table, const QStringList &headers, const QList<int> &widths, const QWidget *headStrip);

// Writes the three cells of row from the pigeon.
void fillRow(QTableWidget *table, int row, const PigeonInfo &pigeon);

// Colour, sex word, year and update time in the device's zone.
void showDetails(const PigeonInfo &pigeon, QLabel *color, QLabel *sex, QLabel *year, QLabel *updateTime);

// Takes the ring off the pigeon of `row`: stored first, so that the entry
// changes only once the database has; then the entry (ring and uid emptied,
// updated now in club time) and the unassignment log entry, after which
// `changed` rewrites what shows the row. When storing fails, the entry is
// read back from storage (or dropped when the pigeon is gone), `reloaded`
// rebuilds the table, and the failure goes on to the caller; so does a
// failed log entry, after `changed`.
void unassignRing(QList<QSharedPointer<PigeonInfo>> &pigeons, int row, const std::function<void()> &changed,
                  const std::function<void()> &reloaded);

} // namespace PigeonRows
