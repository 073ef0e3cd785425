#include "ui/racetable.h"

#include <QHeaderView>
#include <QTableWidget>

namespace {
constexpr int kColumnCount = 4;
const int kColumnWidths[] = {120, 100, 180};
// Below the header's default minimum section: the last column is narrow.
constexpr int kMinimumColumnWidth = 40;
const char kHeaderStyle[] = "QHeaderView::section{background:transparent;border:none;color:white;font-weight:bold;}";
} // namespace

void setUpRaceTable(QTableWidget *table, const QStringList &headerLabels, int rowHeight, int headerHeight)
{
    table->setColumnCount(kColumnCount);
    table->setHorizontalHeaderLabels(headerLabels);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(rowHeight);
    QHeaderView *header = table->horizontalHeader();
    header->setVisible(true);
    header->setStyleSheet(QLatin1String(kHeaderStyle));
    header->setFixedHeight(headerHeight);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setMinimumSectionSize(kMinimumColumnWidth);
    int fixedWidth = 0;
    for (int column = 0; column < kColumnCount - 1; ++column) {
        table->setColumnWidth(column, kColumnWidths[column]);
        fixedWidth += kColumnWidths[column];
    }
    // The stretch follows resizes only: the first width is set here.
    table->setColumnWidth(kColumnCount - 1, table->width() - fixedWidth);
    header->setStretchLastSection(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
}
