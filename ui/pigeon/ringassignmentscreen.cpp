#include "ui/pigeon/ringassignmentscreen.h"

#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"
#include "ui/formmessagehandler.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSharedPointer>

#include <exception>

namespace {
constexpr unsigned int kAuthorisedRingsOnly = 0x80;
constexpr int kPromptValid = 0;
constexpr int kPromptRepeat = 2;
} // namespace

RingAssignmentScreen::RingAssignmentScreen(QWidget *parent)
    : SubWindow(parent)
{
}

RingAssignmentScreen::~RingAssignmentScreen() = default;

void RingAssignmentScreen::useWidgets(const Widgets &layout)
{
    widgets = layout;
    widgets.btnAssign->setEnabled(false);
}

void RingAssignmentScreen::showForm(QString pigeonId, FormMessageHandler *resultHandler)
{
    handler = resultHandler;
    assocNum = pigeonId;
    eringNum.clear();
    uid.clear();
    MainWindow::instance()->pushSubForm(this);
}

void RingAssignmentScreen::onActive()
{
    guardedCall(where("onActive").constData(), this, [this] { startScanTag(); });
}

void RingAssignmentScreen::onDeactive(SubWindow::_DeactiveMode)
{
    stopScanTag();
}

void RingAssignmentScreen::showScanning()
{
    eringNum.clear();
    uid.clear();
    widgets.labAssocNum->setText(assocNum);
    widgets.labEringNum->clear();
    setTip(QT_TR_NOOP("Scanning..."));
    widgets.btnAssign->setEnabled(false);
    widgets.btnRestart->setEnabled(false);
}

void RingAssignmentScreen::dropHeldRing()
{
    if (eringNum.isEmpty())
        return;
    widgets.labEringNum->clear();
    setTip(QT_TR_NOOP("Scanning..."));
    eringNum.clear();
    widgets.btnAssign->setEnabled(false);
}

bool RingAssignmentScreen::takeRing(const QString &ring, const QString &ringUid)
{
    eringNum = ring;
    uid = ringUid;
    widgets.labEringNum->setText(eringNum);
    if (HardwareControl::hasFlag(kAuthorisedRingsOnly) && !eringNum.startsWith(QLatin1String("AE"))
        && !eringNum.startsWith(QLatin1String("AA"))) {
        setTip(QT_TR_NOOP("Unauthorized E-ring!"));
        widgets.btnAssign->setEnabled(false);
        return false;
    }
    QString owner;
    try {
        owner = Storage::instance()->findPigeonIdByEringNum(eringNum);
    } catch (...) {
        // Not judged: the same ring read again must be looked up again, and
        // until then the display shows no ring and no verdict of an earlier one.
        dropHeldRing();
        throw;
    }
    if (!owner.isEmpty()) {
        VexPlayer::playPigeonBack(kPromptRepeat);
        widgets.btnAssign->setEnabled(false);
        setTip(QT_TR_NOOP("This e-ring is already assigned!"));
        return false;
    }
    VexPlayer::playPigeonBack(kPromptValid);
    widgets.btnAssign->setEnabled(true);
    setTip(QT_TR_NOOP("Click <OK> to assign!"));
    return true;
}

void RingAssignmentScreen::setTip(const char *source)
{
    widgets.labTipInfo->setText(text(source));
}

void RingAssignmentScreen::on_btnAssign_clicked()
{
    guardedCallWithErrorPrompt(where("on_btnAssign_clicked").constData(), this, [this] { assign(); });
}

void RingAssignmentScreen::assign()
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

void RingAssignmentScreen::on_btnCancel_clicked()
{
    MainWindow::instance()->popSubForm(SubWindow::DeactiveHide);
}

void RingAssignmentScreen::on_btnRestart_clicked()
{
    guardedCall(where("on_btnRestart_clicked").constData(), this, [this] {
        VexPlayer::playDong();
        startScanTag();
    });
}

QString RingAssignmentScreen::text(const char *source) const
{
    return QCoreApplication::translate(metaObject()->className(), source);
}

QByteArray RingAssignmentScreen::where(const char *what) const
{
    return QByteArray(metaObject()->className()) + "::" + what;
}
