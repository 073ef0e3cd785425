#include "ui/marking/formmarking.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/VexPlayer.h"
#include "print/racemarkreport.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/busyhold.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formpigeonlist.h"
#include "ui/printprogress.h"

#include "ui_formmarking.h"

#include <QCoreApplication>
#include <QEventLoop>

// FormMarking, continued: Start and Stop, the close of basketing with its
// printed list, the "Enable Upload" switch and the race's pigeon list.

namespace {

constexpr int kStateNew = 1;
constexpr int kStateClosed = 3;
constexpr int kPrintAfterStop = 1; // pendingAction: print when the question is answered Ok
const char kSystemIdNone[] = "00000000";
const char kCheckedStyle[] = "border-image: url(:/image/button/image/btn_Checkbox_pressed.png) no-repeat;border:none;";
const char kUncheckedStyle[] = "border-image: url(:/image/button/image/btn_Checkbox_normal.png) no-repeat;border:none;";

} // namespace

void FormMarking::on_btnStop_clicked()
{
    guardedCall("FormMarking::on_btnStop_clicked", this, [this] {
        // The print pumps events: a tap must not start reading under it.
        if (ReportPrinter::isPrinting() || !race)
            return;
        VexPlayer::playDong();
        if (stopped && isBasketingClosed(race->valid)) {
            showBox(tr("Mark"), tr("Remark is disabled!"));
            return;
        }
        stopped = !stopped;
        applyWork();
        if (stopped) {
            pendingAction = kPrintAfterStop;
            FormMessage::information(this, tr("Mark"), tr("Print right now?"), QMessageBox::Ok | QMessageBox::Cancel,
                                     this);
        }
    });
}

void FormMarking::onFormMessage(QMessageBox::StandardButton button, void *)
{
    guardedCall("FormMarking::onFormMessage", this, [this, button] {
        const int action = pendingAction;
        pendingAction = 0;
        // A question answered after the screen left acts on nothing.
        if (!isActive() || MainWindow::instance()->topSubForm() != this) {
            ServiceFactory::debug(QStringLiteral("FormMarking::onFormMessage: screen not on top, answer ignored"));
            return;
        }
        if (button == QMessageBox::Ok && action == kPrintAfterStop) {
            VexPlayer::playDong();
            doPrintMark();
        }
    });
}

void FormMarking::on_btnPrintMarkingList_clicked()
{
    guardedCall("FormMarking::on_btnPrintMarkingList_clicked", this, [this] {
        if (ReportPrinter::isPrinting() || !race)
            return;
        VexPlayer::playDong();
        doPrintMark();
    });
}

QSharedPointer<RaceInfo> FormMarking::storedRace()
{
    return race ? Storage::instance()->findRaceById(race->raceCode) : QSharedPointer<RaceInfo>();
}

void FormMarking::doPrintMark()
{
    guardedCall("FormMarking::doPrintMark", this, [this] {
        // Home, Back and Return wait while the club time is read and the
        // list printed: both block here and pump events.
        BusyHold hold(this);
        MorlanProtocolProcess *club = ServiceFactory::getInstance()->protocolProcess;
        const qint64 clubTime = club ? club->getTimeSync() : 0;
        if (clubTime < 1) {
            showBox(tr("Error"), QCoreApplication::translate("ExceptionResource", "Morlan unknown exception!"));
            return;
        }
        // The race as stored now: the engine raises "markUploadedCount" of a
        // closed race, and the race may have been stopped meanwhile.
        const QSharedPointer<RaceInfo> fresh = storedRace();
        if (!fresh) {
            showBox(tr("Error"), tr("Race is close!"));
            return;
        }
        race = fresh;
        flushRaceInfo(clubTime);
        race->markPrintFlag = true;
        if (race->valid == kStateNew)
            race->valid = kStateClosed;
        Storage::instance()->saveRace(race.data());
        reflushRaceGUI();

        FormMessage::information(this, tr("Race Pigeons"), tr("Printing..."), QMessageBox::NoButton, nullptr);
        QList<QSharedPointer<PigeonRecord>> records =
            Storage::instance()->findRecordsByRaceCode(race->raceCode, QStringLiteral("markTime"));
        PigeonRecord::fillMarkOrder(records);
        PigeonRecord::sortByMarkOrder(records);
        PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
        LoftInfo loft;
        if (engine)
            loft = engine->getLoftInfo();
        else
            Storage::instance()->readLoftInfo(&loft);
        const QString clockNo = engine ? engine->getSystemId() : QString::fromLatin1(kSystemIdNone);

        RaceMarkReport report;
        report.bindNotify(this);
        report.loadReport(clockNo, loft, *race, records);
        for (int copy = 0; copy < race->printCount; ++copy)
            report.printAll();
        showBox(tr("Success"), tr("Print OK!"));
    });
}

void FormMarking::flushRaceInfo(qint64 clubTime)
{
    if (isBasketingClosed(race->valid))
        return;
    MorlanProtocolProcess *club = ServiceFactory::getInstance()->protocolProcess;
    race->markReaderId = club ? club->getRouterId() : QString();
    race->markAuthKey = club ? club->getAuthKey() : QString();
    PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
    if (engine && engine->hasActiveRace()) {
        // The club time is locked already; a pair stamped before stays.
        if (race->markReaderTime != 0)
            return;
        race->markDeviceTime = UTC::clubTime().value();
        race->markReaderTime = clubTime;
    } else {
        if (engine)
            engine->verifyClubTime(clubTime, race->markReaderId);
        else
            ServiceFactory::debug(QStringLiteral("FormMarking::flushRaceInfo: no race engine, club time not locked"));
        race->markDeviceTime = clubTime;
        race->markReaderTime = clubTime;
    }
    Storage::instance()->saveRace(race.data());
}

void FormMarking::onState(ReportPrinter *printer, IPrinterNotify::PrintNotifyState state)
{
    PrintProgress::show(printer, state,
                        {tr("Printing....") + QLatin1Char('\n') + tr("Report head"),
                         tr("Print...") + QLatin1Char('\n') + tr("Report record") + QStringLiteral(" %1"),
                         tr("Printing...") + QLatin1Char('\n') + tr("Report tailer")});
}

void FormMarking::on_btnUpload_clicked(bool checked)
{
    guardedCall("FormMarking::on_btnUpload_clicked", this, [this, checked] {
        if (ReportPrinter::isPrinting() || !race) {
            ui->btnUpload->setChecked(!checked);
            return;
        }
        const QSharedPointer<RaceInfo> fresh = storedRace();
        if (!fresh || isBasketingClosed(fresh->valid)) {
            ui->btnUpload->setChecked(!checked);
            showBox(tr("Mark"), tr("Race is running!"));
            return;
        }
        // Stored at once: the engine does not write a race still open, and
        // a change held in memory would be lost after Stop and Cancel.
        fresh->setField(QStringLiteral("markUploadFlag"), !checked);
        fresh->setField(QStringLiteral("markUploadedCount"), 0);
        try {
            Storage::instance()->saveRace(fresh.data());
        } catch (...) {
            ui->btnUpload->setChecked(!checked);
            throw;
        }
        race = fresh;
        setUploadSwitch(checked);
    });
}

void FormMarking::setUploadSwitch(bool checked)
{
    ui->btnUpload->setChecked(checked);
    ui->imgUploadChecked->setStyleSheet(QLatin1String(checked ? kCheckedStyle : kUncheckedStyle));
}

void FormMarking::on_btnPigeons_clicked()
{
    guardedCall("FormMarking::on_btnPigeons_clicked", this, [this] {
        if (ReportPrinter::isPrinting() || !race)
            return;
        VexPlayer::playDong();
        MainWindow::instance()->formPigeonList->showMarking(race->raceCode);
    });
}
