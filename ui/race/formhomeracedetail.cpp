#include "ui/race/formhomeracedetail.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "gsm/gsmservice.h"
#include "race/pigeonbo.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"
#include "ui/busyhold.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/nofocusdelegate.h"
#include "ui/screenkit.h"
#include "ui/waitcursor.h"

#include "ui_formhomeracedetail.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QTableWidgetItem>
#include <QTimer>

#include <stdexcept>

namespace {
constexpr unsigned int kCloseUploadFlag = 0x0001;
constexpr quint32 kGsmDataConnection = 0x8;
constexpr int kStateBit = 0x8;          // cleared, 4 and 12 both read as stopped
constexpr int kRaceStopped = 4;
constexpr int kRaceUploaded = 12;
constexpr int kActionDelete = 1;
constexpr int kActionStopUpload = 2;
constexpr int kCounterPeriodMs = 1000;
constexpr int kIndexColumn = 3;
const int kColumnWidths[] = {50, 245, 140};
const char kShownLook[] =
    "border-image: url(:/image/button/image/Total-Of-Marking.png) no-repeat;color:#ffffff;border:none;";
const char kOtherLook[] =
    "border-image: url(:/image/button/image/Total-Of-Arrived.png) no-repeat;color:#ffffff;border:none;";
const char kNone[] = "--";

PigeonBo *engine()
{
    return ServiceFactory::getInstance()->pigeonBo;
}

QString dateTime(qint64 ms)
{
    return UTC::format(ms, QCoreApplication::translate("CommonResource", "dd/MM/yyyy hh:mm:ss"));
}

// The first of two times that is set, as a date and time; empty when neither is.
QString firstSetTime(qint64 first, qint64 second)
{
    if (first != 0)
        return dateTime(first);
    if (second != 0)
        return dateTime(second);
    return QString();
}

bool isStopped(const RaceInfo &race)
{
    return (race.valid & ~kStateBit) == kRaceStopped;
}

} // namespace

FormHomeRaceDetail::FormHomeRaceDetail(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormHomeRaceDetail>())
{
    ui->setupUi(this);
    // A QWidget subclass paints its style-sheet background only when asked.
    setAttribute(Qt::WA_StyledBackground);

    QTableWidget *table = ui->tableRecords;
    table->clearContents();
    table->setItemDelegate(new NoFocusDelegate(table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setVisible(true);
    table->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section{background:rgb(20,80, 178);color:white;font-weight:bold;}"));
    table->setHorizontalHeaderLabels({tr("No."), tr("Assoc Num"), tr("Arrival Time"), QString()});
    table->horizontalHeader()->setStretchLastSection(true);
    for (int column = 0; column < kIndexColumn; ++column)
        table->setColumnWidth(column, kColumnWidths[column]);
    // Hidden rather than 0 wide: the stretched last section would be this
    // one and show its digits.
    table->setColumnHidden(kIndexColumn, true);
}

FormHomeRaceDetail::~FormHomeRaceDetail() = default;

void FormHomeRaceDetail::showRaceDetail(QSharedPointer<RaceInfo> shown, FormMessageHandler *caller)
{
    if (!shown)
        return;
    race = shown;
    flushGUI();
    handler = caller;
    MainWindow::instance()->pushSubForm(this);
}

void FormHomeRaceDetail::onActive()
{
    showArrived = true;
    // A failure leaves by exception: the stack takes the screen off again.
    refreshPigeonList();
    if (PigeonBo *bo = engine())
        backConnection = connect(bo, &PigeonBo::pigeonBack, this, &FormHomeRaceDetail::onPigeonBack);
    else
        ServiceFactory::debug(QStringLiteral("FormHomeRaceDetail: no race engine, arrivals not followed"));
}

void FormHomeRaceDetail::onDeactive(_DeactiveMode)
{
    disconnect(backConnection);
}

void FormHomeRaceDetail::onPigeonBack(PigeonRecord)
{
    // Calls queued before the disconnect still arrive after the closing.
    if (!isActive() || listRefreshQueued)
        return;
    listRefreshQueued = true;
    // Posted behind the arrivals already queued, so that they share it.
    QTimer::singleShot(0, this, [this] {
        listRefreshQueued = false;
        if (isActive())
            guardedCall("FormHomeRaceDetail::onPigeonBack", this, [this] { refreshPigeonList(); });
    });
}

void FormHomeRaceDetail::onTimeTick(int ms)
{
    if (uploadCountdown > 0) {
        uploadCountdown -= ms;
        return;
    }
    // The race engine's basketing uploads change the stored race, not ours.
    // A failing database or a race deleted meanwhile keeps the last count;
    // an error box at every reload would bury the screen.
    try {
        if (const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(race ? race->raceCode : QString()))
            ui->labMarkUpload->setText(QStringLiteral("%1").arg(stored->getField(QStringLiteral("markUploadedCount")).toInt()));
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("FormHomeRaceDetail::onTimeTick VexException!"));
    }
    uploadCountdown = kCounterPeriodMs;
}

void FormHomeRaceDetail::flushGUI()
{
    if (HardwareControl::hasFlag(kCloseUploadFlag)) {
        ui->btnCloseUl->show();
        ui->btnCloseUl->setEnabled(true);
        ui->btnDelete->setEnabled(race->valid == kRaceUploaded);
    } else {
        ui->btnCloseUl->hide();
        ui->btnDelete->setEnabled(isStopped(*race));
    }
}

void FormHomeRaceDetail::refreshPigeonList()
{
    Storage *db = Storage::instance();
    records = db->findRecordsByRaceCode(race->raceCode, QStringLiteral("backTimeEring,AssocNum"));
    const int marked = db->getMarkedPigeonCount(race->raceCode);
    const int arrived = db->getBackedPigeonCount(race->raceCode);

    ui->btnArrival->setStyleSheet(QLatin1String(showArrived ? kShownLook : kOtherLook));
    ui->btnNotArrival->setStyleSheet(QLatin1String(showArrived ? kOtherLook : kShownLook));

    ui->labelLibName->setText(race->liberName);
    ui->labelLibTime->setText(dateTime(race->liberTime));
    ui->labelRaceCode->setText(race->raceCode);
    ui->labelTotalBack->setText(QStringLiteral("%1").arg(arrived));
    ui->labelTotalPigeons->setText(QStringLiteral("%1").arg(marked));
    ui->labelClubId->setText(race->clubCode);
    ui->labMarkTime->setText(firstSetTime(race->markReaderTime, race->markDeviceTime));
    ui->labArriveTime->setText(firstSetTime(race->raceStopReaderTime, race->raceStopDeviceTime));

    QTableWidget *table = ui->tableRecords;
    table->setRowCount(0);
    for (int i = 0; i < records.size(); ++i) {
        const QSharedPointer<PigeonRecord> &record = records.at(i);
        if (!record || (record->backTimeEring != 0) != showArrived)
            continue;
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(QStringLiteral("%1").arg(row + 1)));
        table->setItem(row, 1, new QTableWidgetItem(record->assocNum));
        table->setItem(row, 2,
                       new QTableWidgetItem(showArrived ? UTC::format(record->backTimeEring,
                                                                      QStringLiteral("dd/MM HH:mm:ss"))
                                                        : QLatin1String(kNone)));
        table->setItem(row, kIndexColumn, new QTableWidgetItem(QStringLiteral("%1").arg(i)));
    }
}

void FormHomeRaceDetail::showList(bool arrived)
{
    if (showArrived == arrived)
        return;
    VexPlayer::playKeyPress();
    showArrived = arrived;
    guardedCall("FormHomeRaceDetail::showList", this, [this] { refreshPigeonList(); });
}

void FormHomeRaceDetail::on_btnArrival_clicked()
{
    showList(true);
}

void FormHomeRaceDetail::on_btnNotArrival_clicked()
{
    showList(false);
}

void FormHomeRaceDetail::on_tableRecords_currentCellChanged(int currentRow, int, int, int)
{
    if (currentRow < 0)
        return;
    // While the table is rebuilt a row may not have its index cell yet, and
    // records may already be the newer list: act only on an index it holds.
    const QTableWidgetItem *cell = ui->tableRecords->item(currentRow, kIndexColumn);
    if (!cell)
        return;
    bool whole = false;
    const int index = cell->text().toInt(&whole);
    if (!whole || index < 0 || index >= records.size() || !records.at(index))
        return;
    guardedCall("FormHomeRaceDetail::on_tableRecords_currentCellChanged", this, [this, index] { showPigeon(index); });
}

void FormHomeRaceDetail::showPigeon(int index)
{
    const QSharedPointer<PigeonRecord> record = records.at(index);
    Storage *db = Storage::instance();
    // A record without its pigeon row keeps the previous pigeon's sex and year.
    if (const QSharedPointer<PigeonInfo> pigeon = db->findPigeonById(record->assocNum)) {
        ui->labSex->setText(ScreenKit::sexText(pigeon->sex));
        ui->labYear->setText(QStringLiteral("%1").arg(pigeon->year));
    }
    const QString none = QLatin1String(kNone);
    if (record->markTime == 0) {
        ui->labNom->setText(none);
        ui->labRaceCode->setText(none);
        ui->labLiberTime->setText(none);
        ui->labRaceSite->setText(none);
        return;
    }
    record->fillMarkOrder();
    ui->labNom->setText(QStringLiteral("%1").arg(record->markOrder));
    const QSharedPointer<RaceInfo> recordRace = db->findRaceById(record->raceCode);
    // The race may have been deleted meanwhile.
    ui->labRaceCode->setText(recordRace ? recordRace->liberCode : none);
    ui->labLiberTime->setText(recordRace ? UTC::format(recordRace->liberTime, QCoreApplication::translate("CommonResource", "dd/MM/yyyy")) : none);
    ui->labRaceSite->setText(recordRace ? recordRace->liberName : none);
}

void FormHomeRaceDetail::on_btnDelete_clicked()
{
    if (!isActive())
        return;
    pendingAction = kActionDelete;
    VexPlayer::playDong();
    FormMessage::information(this, tr("Warning"), tr(" Please confirm you want to delete this race!"),
                             QMessageBox::Ok | QMessageBox::Cancel, this);
}

void FormHomeRaceDetail::on_btnCloseUl_clicked()
{
    GSMService *gsm = ServiceFactory::getInstance()->gsmService;
    const quint32 flags = gsm ? gsm->getGSMState().flags : 0;
    if (!(flags & kGsmDataConnection)) {
        FormMessage::information(this, tr("Error"), tr("GSM is offline, upload failed!"), QMessageBox::Ok, nullptr);
        return;
    }
    pendingAction = kActionStopUpload;
    VexPlayer::playDong();
    FormMessage::information(this, tr("Warning"), tr(" Please confirm you want to stop and upload this race!"),
                             QMessageBox::Ok | QMessageBox::Cancel, this);
}

void FormHomeRaceDetail::onFormMessage(QMessageBox::StandardButton button, void *)
{
    if (button != QMessageBox::Ok)
        return;
    // A question left open when Home closed this screen may be answered on
    // another screen: it must not delete or stop anything, nor pop that screen.
    if (!isActive() || MainWindow::instance()->topSubForm() != this) {
        ServiceFactory::debug(QStringLiteral("FormHomeRaceDetail: answer after closing ignored"));
        return;
    }
    if (pendingAction == kActionDelete)
        deleteRace();
    else if (pendingAction == kActionStopUpload)
        stopAndUpload();
}

void FormHomeRaceDetail::deleteRace()
{
    VexPlayer::playOK();
    const bool deleted = guardedCall("FormHomeRaceDetail::deleteRace", this, [this] {
        Storage *db = Storage::instance();
        db->deleteRace(race->raceCode);
        db->logRemoveRace(race.data());
    });
    if (!deleted)
        return;
    if (handler)
        handler->onFormMessage(QMessageBox::Ok, nullptr);
    MainWindow::instance()->popSubForm(DeactiveHide);
}

void FormHomeRaceDetail::stopAndUpload()
{
    if (!isStopped(*race) && !guardedCall("FormHomeRaceDetail::doStop", this, [this] { doStop(); }))
        return; // not stopped: nothing to upload
    doUpload();
    flushGUI();
    if (handler)
        handler->onFormMessage(QMessageBox::Ok, &race);
}

void FormHomeRaceDetail::doStop()
{
    // Changed on a copy: after a failed save the shown race stays as stored,
    // and a later save cannot store the half-made stop.
    RaceInfo stopped = *race;
    qint64 stampedMs = 0;
    if (stopped.markReaderTime != 0)
        stampedMs = doArrive_(&stopped);
    stopped.valid = kRaceStopped;
    Storage::instance()->saveRace(&stopped);
    *race = stopped;
    if (stampedMs != 0)
        ui->labArriveTime->setText(dateTime(stampedMs));
    PigeonBo *bo = engine();
    if (bo && !bo->hasActiveRace())
        bo->unlockClubTime();
}

qint64 FormHomeRaceDetail::doArrive_(RaceInfo *stopped)
{
    const qint64 now = UTC::clubTime().value();
    stopped->backPrintAuthKey = QString();
    stopped->backPrintReaderId = QString();
    stopped->backPrintFlag = false;
    stopped->raceStopReaderTime = now;
    stopped->raceStopDeviceTime = now;
    return now;
}

void FormHomeRaceDetail::doUpload()
{
    try {
        FormMessage::information(this, tr("Race Pigeons"), tr("Uploading ..."), QMessageBox::NoButton, nullptr);
        WaitCursor wait;
        PigeonBo *bo = engine();
        if (!bo)
            throw std::runtime_error("no race engine");
        {
            // Navigation waits for the modem's answer.
            BusyHold hold(this);
            bo->uploadArriveData(race.data());
        }
        const QString host = bo->getHostIP();
        const QString path = bo->getSmdPath();
        if (host.isEmpty()) {
            FormMessage::information(this, tr("Error"), QStringLiteral("Server IP is not set!"), QMessageBox::Ok,
                                     nullptr);
            return;
        }
        // Stored before the log entry: a failed save leaves no closing-upload
        // entry for a race still at 4.
        RaceInfo uploaded = *race;
        uploaded.valid = kRaceUploaded;
        Storage *db = Storage::instance();
        db->saveRace(&uploaded);
        *race = uploaded;
        db->logSecondArriveUpload(race.data(), host, path);
        FormMessage::information(this, tr("Success"), tr("Upload OK!"), QMessageBox::Ok, nullptr);
    } catch (const VexException &e) {
        FormMessage::information(this, tr("Error"), e.getErrorDesc(), QMessageBox::Ok, nullptr);
    } catch (...) {
        FormMessage::information(this, tr("Error"), tr("Unknown Exception!"), QMessageBox::Ok, nullptr);
    }
}
