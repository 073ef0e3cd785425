#include "ui/pigeon/formmorlanconnect.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "ui/busyhold.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/marking/formmarkingselectrace.h"
#include "ui/pigeon/formpcconnect.h"
#include "ui/pigeon/formpigeonlist.h"
#include "ui/pigeon/formpigeonsassignment.h"
#include "ui/race/formrace.h"
#include "ui/settings/formtime.h"

#include "ui_formmorlanconnect.h"

#include <QPushButton>

namespace {

// The reader's race mode word for club-link work.
constexpr int kClubRaceMode = 0;
constexpr int kFlagSetTime = 0x4;
constexpr int kFlagTimeStatus = 0x8;
constexpr int kStatusBasketingLocked = 0x4;

} // namespace

FormMorlanConnect::FormMorlanConnect(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormMorlanConnect>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
}

FormMorlanConnect::~FormMorlanConnect() = default;

MorlanProtocolProcess *FormMorlanConnect::clubLink(const char *caller)
{
    MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess;
    if (!link)
        ServiceFactory::debug(QLatin1String(caller) + QStringLiteral(": no club link published"));
    return link;
}

void FormMorlanConnect::onActive()
{
    statusPausedUntilMs = 0;
    if (RFIDService *rfid = ServiceFactory::getInstance()->rfidService)
        rfid->setRaceMode(kClubRaceMode);
    else
        ServiceFactory::debug(QStringLiteral("FormMorlanConnect::onActive: no ring reader published"));
    refreshForm();
}

void FormMorlanConnect::onFocus(bool focused)
{
    MorlanProtocolProcess *link = clubLink("FormMorlanConnect::onFocus");
    if (!link)
        return;
    link->setKeepAlive(focused);
    if (!focused || link->getWorkMode() == MorlanProtocolProcess::ClubMaster)
        return;
    // A reload that fails is shown; club mode follows all the same.
    guardedCall("FormMorlanConnect::onFocus", this, [] {
        if (PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo)
            bo->reflushCache();
        else
            ServiceFactory::debug(QStringLiteral("FormMorlanConnect::onFocus: no race engine published"));
    });
    ServiceFactory::switchToClub();
}

void FormMorlanConnect::onDeactive(SubWindow::_DeactiveMode)
{
    setButtonsEnabled(false);
    ui->labelWarning->setText(tr("Disconnect from club..."));
    // Painted now without an event pass: Home may be emptying the stack, and
    // a queued push or a second Home must not run in the middle of it.
    ui->labelWarning->repaint();
    ServiceFactory::switchToRace(false);
}

void FormMorlanConnect::onTimeTick(int)
{
    if (!isActive())
        return;
    // Entering club mode clears the router watch the hub set on gaining the
    // focus; set it again while club mode is requested so that a router that
    // vanishes is noticed.
    if (MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess) {
        if (link->getWorkMode() == MorlanProtocolProcess::ClubMaster)
            link->setKeepAlive(true);
    }
    refreshForm();
}

void FormMorlanConnect::refreshForm()
{
    MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess;
    if (link && link->isAuthed()) {
        ui->btnMarking->setEnabled(markingAllowed(link));
        ui->btnAssignment->setEnabled(true);
        ui->btnSetTime->setEnabled(HardwareControl::hasFlag(kFlagSetTime));
        ui->btnAddRace->setEnabled(true);
        ui->btnAddPigeon->setEnabled(true);
        ui->btnConnectToPc->setEnabled(true);
        ui->labelWarning->setText(tr("You have connected to club system.") + QLatin1Char('\n')
                                  + tr("Authorization passed!"));
        return;
    }
    setButtonsEnabled(false);
    if (link && link->isConnected())
        ui->labelWarning->setText(tr("You have connected to Quarvelo club system.") + QLatin1Char('\n')
                                  + tr("Please present your key\n"));
    else
        ui->labelWarning->setText(tr("No club system connected."));
}

bool FormMorlanConnect::markingAllowed(MorlanProtocolProcess *link)
{
    if (!HardwareControl::hasFlag(kFlagTimeStatus))
        return true;
    if (ServiceFactory::getTickCount() < statusPausedUntilMs)
        return false;
    try {
        BusyHold hold(this);
        return (link->getTimeStatusSync() & kStatusBasketingLocked) == 0;
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("FormMorlanConnect::refreshForm time status VexException!"));
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("FormMorlanConnect::refreshForm time status UnknowException!"));
    }
    statusPausedUntilMs = ServiceFactory::getTickCount() + MainWindow::scaledMs(kStatusPauseMs);
    return false;
}

void FormMorlanConnect::setButtonsEnabled(bool enabled)
{
    for (QPushButton *button : {ui->btnSetTime, ui->btnConnectToPc, ui->btnAssignment, ui->btnMarking,
                                ui->btnAddPigeon, ui->btnAddRace})
        button->setEnabled(enabled);
}

void FormMorlanConnect::on_btnSetTime_clicked()
{
    guardedCall("FormMorlanConnect::on_btnSetTime_clicked", this, [this] {
        PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo;
        if (!bo)
            ServiceFactory::debug(QStringLiteral("FormMorlanConnect::on_btnSetTime_clicked: no race engine published"));
        // The club clock must not move under a race being basketed or flown.
        if (bo && bo->hasActiveRace()) {
            VexPlayer::playError();
            FormMessage::information(this, tr("Error"), tr("Find some pigeons are racing!"), QMessageBox::Ok,
                                     nullptr);
            return;
        }
        VexPlayer::playDong();
        MainWindow *window = MainWindow::instance();
        window->pushSubForm(window->formTime);
    });
}

void FormMorlanConnect::on_btnAssignment_clicked()
{
    VexPlayer::playDong();
    guardedCall("FormMorlanConnect::on_btnAssignment_clicked", this,
                [] { MainWindow::instance()->formPigeonsAssignment->doAssignActions(); });
}

void FormMorlanConnect::on_btnMarking_clicked()
{
    VexPlayer::playDong();
    guardedCall("FormMorlanConnect::on_btnMarking_clicked", this, [] {
        MainWindow *window = MainWindow::instance();
        window->pushSubForm(window->formMarkingSelectRace);
    });
}

void FormMorlanConnect::on_btnAddRace_clicked()
{
    VexPlayer::playDong();
    guardedCall("FormMorlanConnect::on_btnAddRace_clicked", this,
                [] { MainWindow::instance()->formRace->doRaceActions(); });
}

void FormMorlanConnect::on_btnConnectToPc_clicked()
{
    VexPlayer::playDong();
    guardedCall("FormMorlanConnect::on_btnConnectToPc_clicked", this, [] {
        MainWindow *window = MainWindow::instance();
        window->pushSubForm(window->formPcConnect);
    });
}

void FormMorlanConnect::on_btnAddPigeon_clicked()
{
    VexPlayer::playDong();
    guardedCall("FormMorlanConnect::on_btnAddPigeon_clicked", this,
                [] { MainWindow::instance()->formPigeonList->doManageActions(); });
}
