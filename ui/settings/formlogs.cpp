#include "ui/settings/formlogs.h"

#include "core/log.h"
#include "core/utc.h"
#include "device/VexPlayer.h"
#include "storage/storage.h"
#include "ui/guardedcall.h"

#include "ui_formlogs.h"

#include <QCoreApplication>
#include <QTableWidgetItem>

namespace {
constexpr int kPageRows = 10;
constexpr int kIdWidth = 70;
constexpr int kTimeWidth = 220;
constexpr int kHeaderHeight = 40; // the header strip behind it
const char *const kTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");
const char kHeaderStyle[] = "QHeaderView::section{background:transparent;border:none;color:white;}";
}

FormLogs::FormLogs(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormLogs>())
{
    ui->setupUi(this);
    QTableWidget *table = ui->tableLog;
    table->clear();
    table->setColumnCount(3);
    table->setHorizontalHeaderLabels({tr("No."), tr("Time"), tr("Type")});
    table->horizontalHeader()->setStyleSheet(QLatin1String(kHeaderStyle));
    table->horizontalHeader()->setFixedHeight(kHeaderHeight);
    table->setColumnWidth(0, kIdWidth);
    table->setColumnWidth(1, kTimeWidth);
}

FormLogs::~FormLogs() = default;

int FormLogs::page() const
{
    return pageNumber;
}

void FormLogs::onActive()
{
    // A failed query throws on: the screen does not open.
    pageNumber = 0;
    entries = Storage::instance()->queryLogs(0, kPageRows, 0);
    refreshLogs();
}

void FormLogs::refreshLogs()
{
    QTableWidget *table = ui->tableLog;
    table->setRowCount(0);
    const QString pattern = QCoreApplication::translate("CommonResource", kTimePattern);
    for (int row = 0; row < entries.size(); ++row) {
        const Log &entry = *entries.at(row);
        table->insertRow(row);
        auto *id = new QTableWidgetItem(QStringLiteral("%1").arg(entry.logId));
        id->setTextAlignment(Qt::AlignCenter);
        table->setItem(row, 0, id);
        table->setItem(row, 1, new QTableWidgetItem(UTC::format(entry.logTime, pattern)));
        table->setItem(row, 2, new QTableWidgetItem(entry.getTypeString()));
    }
    // No entry is chosen until one is touched.
    table->setCurrentCell(-1, -1);
    table->clearSelection();
    ui->txtContent->clear();
}

void FormLogs::showPage(int page)
{
    // Only a page that could be read replaces the one shown.
    QList<QSharedPointer<Log>> found = Storage::instance()->queryLogs(0, kPageRows, page);
    if (found.isEmpty())
        return;
    pageNumber = page;
    entries = found;
    refreshLogs();
}

void FormLogs::on_btnMovePrev_clicked()
{
    guardedCall("FormLogs::on_btnMovePrev_clicked", this, [this] {
        VexPlayer::playKeyPress();
        if (pageNumber > 0)
            showPage(pageNumber - 1);
    });
}

void FormLogs::on_btnMoveNext_clicked()
{
    guardedCall("FormLogs::on_btnMoveNext_clicked", this, [this] {
        VexPlayer::playKeyPress();
        showPage(pageNumber + 1);
    });
}

void FormLogs::on_tableLog_currentCellChanged(int currentRow, int, int, int)
{
    guardedCall("FormLogs::on_tableLog_currentCellChanged", this, [this, currentRow] {
        if (currentRow < 0 || currentRow >= entries.size())
            ui->txtContent->clear();
        else
            ui->txtContent->setPlainText(entries.at(currentRow)->toDisplayText());
    });
}
