#pragma once

#include <QStringList>

class QTableWidget;

// The look shared by the tables that list races (the race list, the race to
// basket for): four columns under a transparent header, the first three 120,
// 100 and 180 pixels wide and the last taking the rest, rows of a fixed
// height, whole rows selected one at a time, nothing editable. GUI thread
// only.
void setUpRaceTable(QTableWidget *table, const QStringList &headerLabels, int rowHeight, int headerHeight);
