#include "ui/pigeon/pigeonrows.h"

#include "core/utc.h"
#include "device/VexPlayer.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"
#include "ui/nofocusdelegate.h"
#include "ui/screenkit.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTableWidgetItem>

#include <exception>

namespace {
const char kHeaderStyle[] = "QHeaderView::section{background:transparent;border:none;color:white;}";
constexpr int kColumns = 3;
} // namespace

namespace PigeonRows {

void setUpTable(QTableWidget *table, const QStringList &headers, const QList<int> &widths, const QWidget *headStrip)
{
    table->setHorizontalHeaderLabels(headers);
    for (int column = 0; column < widths.size(); ++column)
        table->setColumnWidth(column, widths.at(column));
    table->horizontalHeader()->setStyleSheet(QLatin1String(kHeaderStyle));
    table->horizontalHeader()->setFixedHeight(headStrip->height());
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setItemDelegate(new NoFocusDelegate(table));
}

void fillRow(QTableWidget *table, int row, const PigeonInfo &pigeon)
{
    const QString cells[kColumns] = {QStringLiteral("%1").arg(row + 1), pigeon.assocNum, pigeon.eringNum};
    for (int column = 0; column < kColumns; ++column) {
        QTableWidgetItem *item = table->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            table->setItem(row, column, item);
        }
        item->setText(cells[column]);
    }
}

void showDetails(const PigeonInfo &pigeon, QLabel *color, QLabel *sex, QLabel *year, QLabel *updateTime)
{
    color->setText(pigeon.color);
    sex->setText(ScreenKit::sexText(pigeon.sex));
    year->setText(QStringLiteral("%1").arg(pigeon.year));
    updateTime->setText(
        UTC::format(pigeon.updateTime, QCoreApplication::translate("CommonResource", "dd/MM/yyyy hh:mm:ss")));
}

void unassignRing(QList<QSharedPointer<PigeonInfo>> &pigeons, int row, const std::function<void()> &changed,
                  const std::function<void()> &reloaded)
{
    if (row < 0 || row >= pigeons.size())
        return;
    const QSharedPointer<PigeonInfo> pigeon = pigeons.at(row);
    VexPlayer::playOK();
    Storage *storage = Storage::instance();
    try {
        storage->unassignPigeon(pigeon->assocNum);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        const QSharedPointer<PigeonInfo> stored = storage->findPigeonById(pigeon->assocNum);
        if (stored)
            *pigeon = *stored;
        else
            pigeons.removeAt(row);
        reloaded();
        std::rethrow_exception(failure);
    }
    pigeon->eringNum = QStringLiteral("");
    pigeon->uid = QString();
    pigeon->updateTime = UTC::clubTime().value();
    std::exception_ptr logFailure;
    try {
        storage->logUnassignmnet(pigeon.data());
    } catch (...) {
        logFailure = std::current_exception();
    }
    changed();
    if (logFailure)
        std::rethrow_exception(logFailure);
}

} // namespace PigeonRows
