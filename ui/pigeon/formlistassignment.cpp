#include "ui/pigeon/formlistassignment.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"
#include "ui/formmessagehandler.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"

#include "ui_formlistassignment.h"

#include <QSharedPointer>

#include <exception>

namespace {
constexpr unsigned int kAuthorisedRingsOnly = 0x80;
constexpr int kPromptValid = 0;
constexpr int kPromptRepeat = 2;
} // namespace

FormListAssignment::FormListAssignment(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormListAssignment>())
{
    ui->setupUi(this);
    ui->btnAssign->setEnabled(false);
}

FormListAssignment::~FormListAssignment()
{
    disconnect(tagConnection);
}

void FormListAssignment::showForm(QString pigeonId, FormMessageHandler *resultHandler)
{
    handler = resultHandler;
    assocNum = pigeonId;
    eringNum.clear();
    uid.clear();
    MainWindow::instance()->pushSubForm(this);
}

void FormListAssignment::onActive()
{
    guardedCall("FormListAssignment::onActive", this, [this] { startScanTag(); });
}

void FormListAssignment::onDeactive(SubWindow::_DeactiveMode)
{
    stopScanTag();
}

void FormListAssignment::startScanTag()
{
    eringNum.clear();
    uid.clear();
    ui->labAssocNum->setText(assocNum);
    ui->labEringNum->clear();
    ui->labTipInfo->setText(tr("Scanning..."));
    ui->btnAssign->setEnabled(false);
    // The club reader's answer (readTagEnd) is not taken here; the request
    // only wakes a connector reader where one is in use.
    if (MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess)
        link->startReadTag();
    else
        ServiceFactory::debug(QStringLiteral("FormListAssignment::startScanTag no club link"));
    ui->btnAssign->setEnabled(false);
    ui->btnRestart->setEnabled(false);
    PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo;
    if (!bo) {
        ServiceFactory::debug(QStringLiteral("FormListAssignment::startScanTag no race engine"));
        return;
    }
    // One connection at most, however often scanning starts.
    disconnect(tagConnection);
    tagConnection = connect(bo, &PigeonBo::tagScaned, this, &FormListAssignment::onListTagScaned);
    scanning = true;
}

void FormListAssignment::stopScanTag()
{
    ui->btnRestart->setEnabled(true);
    disconnect(tagConnection);
    tagConnection = {};
    scanning = false;
}

void FormListAssignment::onListTagScaned(LFTAG_INFO lfTag)
{
    guardedCallWithErrorPrompt("FormListAssignment::onListTagScaned", this, [&] { takeReading(lfTag); });
}

void FormListAssignment::takeReading(const LFTAG_INFO &lfTag)
{
    if (!scanning || lfTag.stored != 0)
        return;
    if (lfTag.eRing.isEmpty()) {
        if (eringNum.isEmpty())
            return;
        ui->labEringNum->clear();
        ui->labTipInfo->setText(tr("Scanning..."));
        eringNum.clear();
        ui->btnAssign->setEnabled(false);
        return;
    }
    // The race engine drops any other ring, so a pigeon given one could
    // never arrive.
    if (!PigeonBo::isRingNumber(lfTag.eRing))
        return;
    eringNum = lfTag.eRing;
    uid = lfTag.uid;
    ui->labEringNum->setText(eringNum);
    if (HardwareControl::hasFlag(kAuthorisedRingsOnly) && !eringNum.startsWith(QLatin1String("AE"))
        && !eringNum.startsWith(QLatin1String("AA"))) {
        ui->labTipInfo->setText(tr("Unauthorized E-ring!"));
        ui->btnAssign->setEnabled(false);
        return;
    }
    if (!Storage::instance()->findPigeonIdByEringNum(eringNum).isEmpty()) {
        VexPlayer::playPigeonBack(kPromptRepeat);
        ui->btnAssign->setEnabled(false);
        ui->labTipInfo->setText(tr("This e-ring is already assigned!"));
        return;
    }
    VexPlayer::playPigeonBack(kPromptValid);
    ui->btnAssign->setEnabled(true);
    ui->labTipInfo->setText(tr("Click <OK> to assign!"));
    stopScanTag();
}

void FormListAssignment::on_btnAssign_clicked()
{
    guardedCallWithErrorPrompt("FormListAssignment::on_btnAssign_clicked", this, [this] { assign(); });
}

void FormListAssignment::assign()
{
    VexPlayer::playOK();
    Storage *storage = Storage::instance();
    QSharedPointer<PigeonInfo> pigeon = storage->assignPigeon(assocNum, eringNum, uid);
    // Once the ring is stored the opener must show it, even when its log
    // entry cannot be written: the failure is reported after the hand-back.
    std::exception_ptr logFailure;
    try {
        storage->logAssignmnet(pigeon.data());
    } catch (...) {
        logFailure = std::current_exception();
    }
    FormMessageHandler *const resultHandler = handler;
    MainWindow::instance()->popSubForm(SubWindow::DeactiveHide);
    if (resultHandler)
        resultHandler->onFormMessage(QMessageBox::Ok, &pigeon);
    if (logFailure)
        std::rethrow_exception(logFailure);
}

void FormListAssignment::on_btnCancel_clicked()
{
    MainWindow::instance()->popSubForm(SubWindow::DeactiveHide);
}

void FormListAssignment::on_btnRestart_clicked()
{
    guardedCall("FormListAssignment::on_btnRestart_clicked", this, [this] {
        VexPlayer::playDong();
        startScanTag();
    });
}
