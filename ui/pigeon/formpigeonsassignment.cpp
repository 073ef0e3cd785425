#include "ui/pigeon/formpigeonsassignment.h"

#include "core/servicefactory.h"
#include "device/VexPlayer.h"
#include "print/pigeonsassignmentreport.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"
#include "ui/busyhold.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formassigment.h"
#include "ui/pigeon/pigeonrows.h"

#include "ui_formpigeonsassignment.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace {
constexpr int kAssignMode = 1;
const QList<int> kColumnWidths{50, 245, 70};
const char kSystemIdNone[] = "00000000";
} // namespace

FormPigeonsAssignment::FormPigeonsAssignment(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormPigeonsAssignment>())
{
    ui->setupUi(this);
    PigeonRows::setUpTable(ui->tablePigeons, {tr("No."), tr("AssocNum"), tr("E-ring")}, kColumnWidths,
                           ui->widgetHead);
}

FormPigeonsAssignment::~FormPigeonsAssignment() = default;

void FormPigeonsAssignment::doAssignActions()
{
    assignMode = kAssignMode;
    MainWindow::instance()->pushSubForm(this);
}

void FormPigeonsAssignment::onActive()
{
    pendingAction = PendingNone;
    refreshPigeonList();
}

void FormPigeonsAssignment::onFocus(bool focused)
{
    if (focused)
        ui->tablePigeons->setFocus(Qt::OtherFocusReason);
}

void FormPigeonsAssignment::refreshPigeonList()
{
    QList<QSharedPointer<PigeonInfo>> loaded;
    // A failed load leaves an empty list, and the screen open.
    if (!guardedCallWithErrorPrompt("FormPigeonsAssignment::refreshPigeonList", this,
                                    [&] { loaded = Storage::instance()->queryPigeons(QString()); }))
        loaded.clear();
    pigeons = loaded;
    refreshPigeonTable(0);
}

void FormPigeonsAssignment::refreshPigeonTable(int row)
{
    QTableWidget *table = ui->tablePigeons;
    table->setRowCount(0);
    for (int i = 0; i < pigeons.size(); ++i) {
        table->insertRow(i);
        refreshPigeonItem(i);
    }
    if (row >= 0 && row < table->rowCount())
        table->selectRow(row);
}

void FormPigeonsAssignment::refreshPigeonItem(int row)
{
    if (const QSharedPointer<PigeonInfo> pigeon = pigeonAt(row))
        PigeonRows::fillRow(ui->tablePigeons, row, *pigeon);
}

QSharedPointer<PigeonInfo> FormPigeonsAssignment::pigeonAt(int row) const
{
    return row >= 0 && row < pigeons.size() ? pigeons.at(row) : QSharedPointer<PigeonInfo>();
}

QSharedPointer<PigeonInfo> FormPigeonsAssignment::selectedPigeon() const
{
    const QList<QTableWidgetItem *> selected = ui->tablePigeons->selectedItems();
    return selected.isEmpty() ? QSharedPointer<PigeonInfo>() : pigeonAt(selected.first()->row());
}

void FormPigeonsAssignment::on_tablePigeons_currentCellChanged(int currentRow, int, int, int)
{
    const QSharedPointer<PigeonInfo> pigeon = pigeonAt(currentRow);
    if (!pigeon)
        return;
    QSharedPointer<PigeonRecord> record;
    const bool found = guardedCallWithErrorPrompt("FormPigeonsAssignment::on_tablePigeons_currentCellChanged", this,
                                                  [&] { record = Storage::instance()->findRecordById(pigeon->assocNum); });
    if (assignMode == kAssignMode) {
        // A pigeon without its record row (written by the PC program) is
        // not basketed; one whose record cannot be read may be, and is left
        // as it is.
        const bool marked = !found || (record && record->markTime != 0);
        const bool ringed = !pigeon->eringNum.isEmpty();
        ui->btnAssign->setEnabled(!marked && !ringed);
        ui->btnUnassign->setEnabled(!marked && ringed);
    }
    PigeonRows::showDetails(*pigeon, ui->labColor, ui->labSex, ui->labYear, ui->labUpdateTime);
}

void FormPigeonsAssignment::on_btnAssign_clicked()
{
    // The print pumps events: no tap may open another screen under it.
    if (ReportPrinter::isPrinting())
        return;
    guardedCall("FormPigeonsAssignment::on_btnAssign_clicked", this, [this] {
        VexPlayer::playDong();
        const QSharedPointer<PigeonInfo> pigeon = selectedPigeon();
        if (!pigeon)
            return;
        pendingAction = PendingAssign;
        MainWindow::instance()->formAssigment->showForm(pigeon->assocNum, this);
    });
}

void FormPigeonsAssignment::on_btnUnassign_clicked()
{
    if (ReportPrinter::isPrinting())
        return;
    guardedCall("FormPigeonsAssignment::on_btnUnassign_clicked", this, [this] {
        VexPlayer::playDong();
        if (!selectedPigeon() || assignMode != kAssignMode)
            return;
        pendingAction = PendingUnassign;
        FormMessage::information(this, tr("Warning"), tr("Please confirm you want to unassign this pigeon!"),
                                 QMessageBox::Ok | QMessageBox::Cancel, this);
    });
}

void FormPigeonsAssignment::onFormMessage(QMessageBox::StandardButton button, void *context)
{
    guardedCallWithErrorPrompt("FormPigeonsAssignment::onFormMessage", this,
                               [&] { continueAction(button, context); });
}

void FormPigeonsAssignment::continueAction(QMessageBox::StandardButton button, void *context)
{
    if (button != QMessageBox::Ok)
        return;
    const int row = ui->tablePigeons->currentRow();
    if (pendingAction == PendingAssign && context) {
        // The context lives only during this call: copy what the row needs.
        ringAssigned(row, **static_cast<QSharedPointer<PigeonInfo> *>(context));
    } else if (pendingAction == PendingUnassign) {
        unassignPigeon(row);
    }
}

void FormPigeonsAssignment::ringAssigned(int row, const PigeonInfo &updated)
{
    const QSharedPointer<PigeonInfo> pigeon = pigeonAt(row);
    if (!pigeon)
        return;
    pigeon->uid = updated.uid;
    pigeon->eringNum = updated.eringNum;
    pigeon->updateTime = updated.updateTime;
    refreshPigeonTable(row);
}

void FormPigeonsAssignment::unassignPigeon(int row)
{
    PigeonRows::unassignRing(
        pigeons, row,
        [this, row] {
            // The details keep what they showed; only the row and the
            // buttons follow.
            refreshPigeonItem(row);
            ui->btnAssign->setEnabled(true);
            ui->btnUnassign->setEnabled(false);
        },
        [this, row] { refreshPigeonTable(row); });
}

void FormPigeonsAssignment::on_btnPrint_clicked()
{
    // A tap that reached the screen while a print runs (Return closed its
    // box) starts no second one.
    if (ReportPrinter::isPrinting())
        return;
    guardedCall("FormPigeonsAssignment::on_btnPrint_clicked", this, [this] {
        VexPlayer::playDong();
        printAssigned();
    });
}

void FormPigeonsAssignment::printAssigned()
{
    // Home, Back and Return wait while the list prints: it blocks here.
    BusyHold hold(this);
    FormMessage::information(this, tr("Pigeons Assignment"), tr("Printing..."), QMessageBox::NoButton, nullptr);
    Storage *storage = Storage::instance();
    const QList<QSharedPointer<PigeonInfo>> ringed = storage->queryPigeons(QStringLiteral("EringNum<>''"));
    PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
    LoftInfo loft;
    if (engine)
        loft = engine->getLoftInfo();
    else
        storage->readLoftInfo(&loft);
    const QString clockNo = engine ? engine->getSystemId() : QString::fromLatin1(kSystemIdNone);
    PigeonsAssignmentReport report;
    report.bindNotify(this);
    report.loadReport(clockNo, loft, ringed);
    report.printAll();
    FormMessage::information(this, tr("Success"), tr("Print OK!"), QMessageBox::Ok, nullptr);
}

void FormPigeonsAssignment::onState(ReportPrinter *printer, IPrinterNotify::PrintNotifyState state)
{
    FormMessage *box = FormMessage::instance();
    switch (state) {
    case IPrinterNotify::PrintReportTopicBegin:
        box->setText(tr("Printing...") + QLatin1Char('\n') + tr("Report head"));
        break;
    case IPrinterNotify::PrintLine:
        if (printer->getRecordIndex() > 0)
            box->setText(tr("Printing...") + QLatin1Char('\n') + tr("Report record")
                         + QStringLiteral(" %1").arg(printer->getRecordIndex()));
        break;
    case IPrinterNotify::PrintReportBottomBegin:
        box->setText(tr("Printing...") + QLatin1Char('\n') + tr("Report tailer"));
        break;
    default:
        break;
    }
    // Keep the box drawn while printing blocks; no tap or key gets in.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
