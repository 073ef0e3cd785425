#include "ui/race/formracedetail.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "gsm/gsmservice.h"
#include "print/racepigeonsreport.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/busyhold.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/nofocusdelegate.h"
#include "ui/printprogress.h"
#include "ui/race/arrivalreconciliation.h"
#include "ui/waitcursor.h"

#include "ui_formracedetail.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QTableWidgetItem>

#include <cstdlib>

namespace {

enum Action { ArriveAction = 1, StopAction = 2, DeleteAction = 3 };

constexpr int kClosedState = 4;
constexpr int kUploadedState = 12;
// Set in state 12 (arrivals uploaded); a race counts as closed with it cleared.
constexpr int kUploadedBit = 0x8;
// The device shows loft and club time in the stop question.
constexpr unsigned int kStopTimesFlag = 0x0010;
// Modem flags: the data connection is up.
constexpr quint32 kDataConnectionBit = 0x8;
constexpr int kNumberColumnWidth = 50;
constexpr int kAssocColumnWidth = 245;
// A club time of 0 is the link's answer to a refused read.
constexpr int kNoClubTimeCode = 0x1201;
const char kNoClubTimeMessage[] = "Morlan unknown exception!";

const char kTimeContext[] = "CommonResource";
const char *const kFullTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");
const char *const kShortTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM hh:mm:ss");
const char kShownTab[] =
    "border-image: url(:/image/button/image/Total-Of-Marking.png) no-repeat;color:#ffffff;border:none;";
const char kOtherTab[] =
    "border-image: url(:/image/button/image/Total-Of-Arrived.png) no-repeat;color:#ffffff;border:none;";
const char kHeaderStyle[] = "QHeaderView::section{background:rgb(20,80, 178);color:white;font-weight:bold;}";

FormRaceDetail::RandomTerm &randomTerm()
{
    static FormRaceDetail::RandomTerm term;
    return term;
}

int randomMs()
{
    // The generator is seeded once at start by the service thread.
    return randomTerm() ? randomTerm()() : std::rand() % kArrivalRandomSpanMs;
}

QString timeText(qint64 ms, const char *pattern)
{
    return UTC::format(ms, QCoreApplication::translate(kTimeContext, pattern));
}

MorlanProtocolProcess *clubLink()
{
    return ServiceFactory::getInstance()->protocolProcess;
}

PigeonBo *raceEngine()
{
    return ServiceFactory::getInstance()->pigeonBo;
}

// The club system's time now. A refused read comes back as 0 and would be
// stored as the club's arrival time: it is a failed read like any other.
qint64 readClubTime()
{
    MorlanProtocolProcess *link = clubLink();
    const qint64 clubMs = link ? link->getTimeSync() : 0;
    if (clubMs <= 0)
        throw VexException(kNoClubTimeCode, QString::fromLatin1(kNoClubTimeMessage), QString());
    return clubMs;
}

QTableWidgetItem *cell(const QString &text)
{
    return new QTableWidgetItem(text);
}

} // namespace

FormRaceDetail::FormRaceDetail(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormRaceDetail>())
{
    ui->setupUi(this);
    // A QWidget subclass paints its style-sheet background only when asked.
    setAttribute(Qt::WA_StyledBackground);
    ui->btnUpload->setEnabled(false);

    QTableWidget *table = ui->tableRecords;
    QHeaderView *header = table->horizontalHeader();
    header->setStyleSheet(QLatin1String(kHeaderStyle));
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    table->setColumnWidth(0, kNumberColumnWidth);
    table->setColumnWidth(1, kAssocColumnWidth);
    delegate = new NoFocusDelegate(this);
    table->setItemDelegate(delegate);
}

FormRaceDetail::~FormRaceDetail() = default;

void FormRaceDetail::setRandomTerm(RandomTerm term)
{
    randomTerm() = std::move(term);
}

void FormRaceDetail::doRaceActions(QSharedPointer<RaceInfo> shown, FormMessageHandler *caller)
{
    // Without a race the screen would stand hidden on the stack with nothing
    // under its buttons.
    if (!shown) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::doRaceActions: no race"));
        return;
    }
    race = shown;
    // An earlier opening without an authorised link may have hidden them.
    ui->btnPrint->setVisible(true);
    ui->btnArriveRace->setVisible(true);
    ui->btnDelete->setVisible(true);
    ui->btnUpload->setVisible(true);
    handler = caller;
    MainWindow::instance()->pushSubForm(this);
}

void FormRaceDetail::onFocus(bool focused)
{
    if (focused)
        ui->tableRecords->setFocus(Qt::OtherFocusReason);
}

void FormRaceDetail::onActive()
{
    if (!race) {
        setVisible(false);
        return;
    }
    showArrived = true;
    records = Storage::instance()->findRecordsByRaceCode(race->raceCode, QStringLiteral("backTimeEring,AssocNum"));
    refreshPrintButton();
    refreshPigeonList();
}

bool FormRaceDetail::hasSyncPair() const
{
    return race->markReaderTime != 0 || race->markDeviceTime != 0;
}

bool FormRaceDetail::isClosed() const
{
    return (race->valid & ~kUploadedBit) == kClosedState;
}

bool FormRaceDetail::canAct() const
{
    return race && isActive() && !isBusy();
}

void FormRaceDetail::refreshPrintButton()
{
    MorlanProtocolProcess *link = clubLink();
    if (!link || !link->isAuthed()) {
        ui->btnArriveRace->setVisible(false);
        ui->btnPrint->setVisible(false);
        ui->btnDelete->setVisible(false);
        ui->btnUpload->setVisible(false);
        return;
    }
    const bool arrived = race->raceStopReaderTime != 0;
    if (!hasSyncPair()) {
        ui->btnArriveRace->setEnabled(false);
        ui->btnPrint->setEnabled(false);
        ui->btnDelete->setText(tr("Delete"));
        ui->btnDelete->setEnabled(true);
        ui->btnUpload->setEnabled(false);
    } else if (!isClosed()) {
        ui->btnArriveRace->setEnabled(true);
        ui->btnPrint->setEnabled(arrived);
        ui->btnDelete->setText(tr("Close"));
        ui->btnDelete->setEnabled(true);
        ui->btnUpload->setEnabled(false);
    } else {
        ui->btnArriveRace->setEnabled(false);
        ui->btnPrint->setEnabled(arrived);
        ui->btnDelete->setText(tr("Delete"));
        ui->btnDelete->setEnabled(race->backPrintFlag);
        ui->btnUpload->setEnabled(true);
    }
}

void FormRaceDetail::refreshPigeonList()
{
    Storage *db = Storage::instance();
    const int marked = db->getMarkedPigeonCount(race->raceCode);
    const int backed = db->getBackedPigeonCount(race->raceCode);

    ui->btnArrival->setStyleSheet(QLatin1String(showArrived ? kShownTab : kOtherTab));
    ui->btnNotArrival->setStyleSheet(QLatin1String(showArrived ? kOtherTab : kShownTab));

    ui->labelLibName->setText(race->liberName);
    ui->labelLibTime->setText(timeText(race->liberTime, kFullTimePattern));
    ui->labelRaceCode->setText(race->raceCode);
    ui->labelTotalBack->setText(QString::number(backed));
    ui->labelTotalPigeons->setText(QString::number(marked));
    ui->labelClubId->setText(race->clubCode);
    ui->btnPrint->setText(QString::asprintf("Print(%d)", race->printCount));

    const qint64 markTime = race->markReaderTime != 0 ? race->markReaderTime : race->markDeviceTime;
    ui->labMarkTime->setText(markTime != 0 ? timeText(markTime, kFullTimePattern) : QString());
    const qint64 arriveTime = race->raceStopReaderTime != 0 ? race->raceStopReaderTime : race->raceStopDeviceTime;
    ui->labArriveTime->setText(arriveTime != 0 ? timeText(arriveTime, kFullTimePattern) : QString());

    QList<PigeonRecord *> shown;
    for (const QSharedPointer<PigeonRecord> &record : std::as_const(records)) {
        if (record && (record->backTimeEring != 0) == showArrived)
            shown << record.data();
    }
    QTableWidget *table = ui->tableRecords;
    table->setRowCount(0);
    table->setRowCount(shown.size());
    for (int row = 0; row < shown.size(); ++row) {
        const PigeonRecord *record = shown.at(row);
        table->setItem(row, 0, cell(QString::number(row + 1)));
        table->setItem(row, 1, cell(record->assocNum));
        table->setItem(row, 2, cell(showArrived ? timeText(record->backTimeEring, kShortTimePattern)
                                                : QStringLiteral("--")));
    }
}

void FormRaceDetail::on_btnArrival_clicked()
{
    showList(true);
}

void FormRaceDetail::on_btnNotArrival_clicked()
{
    showList(false);
}

void FormRaceDetail::showList(bool arrived)
{
    if (!race || showArrived == arrived)
        return;
    VexPlayer::playKeyPress();
    showArrived = arrived;
    // A failed reload leaves the list that was shown.
    if (!guardedCall("FormRaceDetail::showList", this, [this] { refreshPigeonList(); }))
        showArrived = !arrived;
}

void FormRaceDetail::on_btnArriveRace_clicked()
{
    if (!canAct())
        return;
    VexPlayer::playDong();
    pendingAction = ArriveAction;
    FormMessage::information(this, tr("Warning"),
                             tr("Please confirm arrival process for this race!\nRace Code:")
                                 + tr("%1\n").arg(race->raceCode),
                             QMessageBox::Ok | QMessageBox::Cancel, this);
}

void FormRaceDetail::on_btnDelete_clicked()
{
    if (!canAct())
        return;
    VexPlayer::playDong();
    if (!hasSyncPair() || isClosed()) {
        pendingAction = DeleteAction;
        FormMessage::information(this, QStringLiteral("Warning"), tr(" Please confirm you want to delete this race!"),
                                 QMessageBox::Ok | QMessageBox::Cancel, this);
        return;
    }
    QString text;
    if (!stopQuestion(&text))
        return;
    pendingAction = StopAction;
    FormMessage::information(this, tr("Warning"), text, QMessageBox::Ok | QMessageBox::Cancel, this);
}

bool FormRaceDetail::stopQuestion(QString *text)
{
    *text = tr(" Please confirm you want to stop this race!\n");
    if (!HardwareControl::hasFlag(kStopTimesFlag))
        return true;
    // Both times are read now; a club time that cannot be read is shown as
    // the error it is, and nothing is asked.
    return guardedCall("FormRaceDetail::on_btnDelete_clicked", this, [this, text] {
        BusyHold hold(this);
        WaitCursor wait;
        const qint64 clubMs = readClubTime();
        PigeonBo *bo = raceEngine();
        const qint64 loftMs = bo ? bo->getLoftTime() : UTC::now().value();
        *text += tr("LoftTime:%1\nClubTime:%2")
                     .arg(timeText(loftMs, kFullTimePattern), timeText(clubMs, kFullTimePattern));
    });
}

void FormRaceDetail::onFormMessage(QMessageBox::StandardButton button, void * /*data*/)
{
    if (button != QMessageBox::Ok)
        return;
    // A box left open by Home may be answered on another screen; and a long
    // action pumps events, so the answer could come in the middle of it.
    if (!isActive() || MainWindow::instance()->topSubForm() != this || !race) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::onFormMessage: the screen is not shown, answer dropped"));
        return;
    }
    if (isBusy()) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::onFormMessage: busy, answer dropped"));
        return;
    }
    switch (pendingAction) {
    case ArriveAction:
    case StopAction:
        runClubAction(pendingAction);
        break;
    case DeleteAction:
        deleteRace();
        break;
    default:
        break;
    }
}

void FormRaceDetail::runClubAction(int action)
{
    VexPlayer::playOK();
    BusyHold hold(this);
    WaitCursor wait;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    try {
        if (action == ArriveAction)
            doArrive();
        else
            doStop();
    } catch (const VexException &e) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::onFormMessage VexException!"));
        FormMessage::information(this, tr("Error"), e.getErrorDesc(), QMessageBox::Ok, nullptr);
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::onFormMessage UnknowException!"));
        FormMessage::information(this, tr("Error"), tr("Unknow Exception!"), QMessageBox::Ok, nullptr);
    }
    refreshPrintButton();
}

void FormRaceDetail::deleteRace()
{
    guardedCall("FormRaceDetail::onFormMessage", this, [this] {
        VexPlayer::playOK();
        Storage *db = Storage::instance();
        db->deleteRace(race->raceCode);
        db->logRemoveRace(race.data());
        tellHandler(nullptr);
        MainWindow::instance()->popSubForm(DeactiveHide);
    });
}

void FormRaceDetail::tellHandler(RaceInfo *changed)
{
    if (handler)
        handler->onFormMessage(QMessageBox::Ok, changed);
}

bool FormRaceDetail::doArrive_(RaceInfo &next, bool save)
{
    const qint64 clockNow = UTC::clubTime().value();
    const qint64 clubNow = readClubTime();
    MorlanProtocolProcess *link = clubLink();
    next.backPrintAuthKey = link->getAuthKey();
    next.backPrintReaderId = link->getRouterId();
    next.raceStopReaderTime = clubNow;
    next.backPrintFlag = false;
    next.raceStopDeviceTime =
        reconcileArrival({clockNow, clubNow, next.markDeviceTime, next.markReaderTime}, randomMs());
    if (save) {
        // The race is shared with the race list: it changes once stored.
        Storage::instance()->saveRace(&next);
        *race = next;
        ui->labArriveTime->setText(timeText(race->raceStopReaderTime, kFullTimePattern));
    }
    return true;
}

void FormRaceDetail::doArrive()
{
    RaceInfo next = *race;
    doArrive_(next, true);
    tellHandler(race.data());
}

void FormRaceDetail::doStop()
{
    RaceInfo next = *race;
    const bool throughClub = next.markReaderTime != 0;
    if (throughClub)
        doArrive_(next, false);
    next.valid = kClosedState;
    Storage::instance()->saveRace(&next);
    *race = next;
    if (throughClub)
        ui->labArriveTime->setText(timeText(race->raceStopReaderTime, kFullTimePattern));
    // The club time lock of basketing ends with the last active race.
    if (PigeonBo *bo = raceEngine()) {
        if (!bo->hasActiveRace())
            bo->unlockClubTime();
    } else {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::doStop: no race engine, club time lock kept"));
    }
    tellHandler(race.data());
}

void FormRaceDetail::on_btnPrint_clicked()
{
    if (!canAct())
        return;
    ui->btnPrint->setEnabled(false);
    VexPlayer::playDong();
    {
        BusyHold hold(this);
        WaitCursor wait;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        try {
            doPrint();
        } catch (const VexException &e) {
            FormMessage::information(this, tr("Error"), e.getErrorDesc(), QMessageBox::Ok, nullptr);
        } catch (...) {
            FormMessage::information(this, tr("Error"), tr("Unknow Exception!"), QMessageBox::Ok, nullptr);
        }
    }
    refreshPrintButton();
}

void FormRaceDetail::doPrint()
{
    try {
        VexPlayer::playDong();
        // Stored first: the race counts as printed also when printing fails.
        RaceInfo next = *race;
        next.backPrintFlag = true;
        Storage *db = Storage::instance();
        db->saveRace(&next);
        *race = next;
        tellHandler(race.data());
        FormMessage::information(this, tr("Race Pigeons"), tr("Printing..."), QMessageBox::NoButton, nullptr);

        const QString ownRecords = QStringLiteral(" AND raceCode=") + Storage::quoted(race->raceCode);
        QList<QSharedPointer<PigeonRecord>> arrived =
            db->queryRecords(QStringLiteral("markTime<>0 AND backTimeEring<>0") + ownRecords,
                             QStringLiteral("backTimeEring"));
        PigeonRecord::fillMarkOrder(arrived);
        QList<QSharedPointer<PigeonRecord>> notArrived =
            db->queryRecords(QStringLiteral("markTime<>0 AND backTimeEring=0") + ownRecords, QStringLiteral("assocNum"));
        PigeonRecord::fillMarkOrder(notArrived);
        PigeonRecord::sortByMarkOrder(notArrived);

        PigeonBo *bo = raceEngine();
        LoftInfo loft;
        if (bo)
            loft = bo->getLoftInfo();
        else
            db->readLoftInfo(&loft);
        const QString clockNo = bo ? bo->getSystemId() : QStringLiteral("00000000");
        const int copies = race->printCount;
        RacePigeonsReport report;
        report.bindNotify(this);
        report.loadReport(clockNo, loft, *race, arrived, notArrived);
        for (int copy = 0; copy < copies; ++copy)
            report.printAll();
        FormMessage::information(this, tr("Success"), tr("Print OK!"), QMessageBox::Ok, nullptr);
    } catch (const VexException &e) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::doPrint VexException!"));
        FormMessage::information(this, tr("Error"), e.getErrorDesc(), QMessageBox::Ok, nullptr);
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::doPrint UnknowException!"));
        FormMessage::information(this, tr("Error"), tr("Unknown Exception!"), QMessageBox::Ok, nullptr);
    }
}

void FormRaceDetail::onState(ReportPrinter *report, IPrinterNotify::PrintNotifyState state)
{
    PrintProgress::show(report, state,
                        {QStringLiteral("Printing....\nReport head"), QStringLiteral("Print...\nReport record %1"),
                         QStringLiteral("Printing....\nReport tailer")});
}

void FormRaceDetail::on_btnUpload_clicked()
{
    if (!canAct())
        return;
    GSMService *gsm = ServiceFactory::getInstance()->gsmService;
    const quint32 flags = gsm ? gsm->getGSMState().flags : 0;
    if (!(flags & kDataConnectionBit)) {
        FormMessage::information(this, tr("Error"), tr("GSM is offline, upload failed!"), QMessageBox::Ok, nullptr);
        return;
    }
    VexPlayer::playDong();
    doUpload();
}

void FormRaceDetail::doUpload()
{
    PigeonBo *bo = raceEngine();
    if (!bo) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::doUpload: no race engine, upload skipped"));
        return;
    }
    BusyHold hold(this);
    try {
        FormMessage::information(this, tr("Race Pigeons"), tr("Uploading ..."), QMessageBox::NoButton, nullptr);
        bo->uploadArriveData(race.data());
        Storage *db = Storage::instance();
        if (race->valid == kClosedState) {
            RaceInfo next = *race;
            next.valid = kUploadedState;
            db->saveRace(&next);
            *race = next;
        }
        db->logSecondArriveUpload(race.data(), bo->getHostIP(), bo->getSmdPath());
        FormMessage::information(this, tr("Success"), tr("Upload OK!"), QMessageBox::Ok, nullptr);
    } catch (const VexException &e) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::doUpload VexException!"));
        FormMessage::information(this, tr("Error"), e.getErrorDesc(), QMessageBox::Ok, nullptr);
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("FormRaceDetail::doUpload UnknowException!"));
        FormMessage::information(this, tr("Error"), tr("Unknown Exception!"), QMessageBox::Ok, nullptr);
    }
}
