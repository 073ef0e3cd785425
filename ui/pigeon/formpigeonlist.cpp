#include "ui/pigeon/formpigeonlist.h"

#include "core/servicefactory.h"
#include "device/VexPlayer.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formkeyboard.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formaddpigeon.h"
#include "ui/pigeon/formlistassignment.h"
#include "ui/pigeon/pigeonrows.h"

#include "ui_formpigeonlist.h"

#include <QEvent>
#include <QTableWidgetItem>

#include <exception>

namespace {
constexpr int kScreenHeight = 700;
constexpr int kDefaultUserMode = 2;
constexpr int kViewOnly = 0;       // user mode: no changes at all
constexpr int kNoRingsUser = 1;    // user mode: add and delete pigeons without ring
constexpr int kNoColumnWidth = 50;
constexpr int kAssocColumnWidth = 220;
constexpr int kRingColumnWidth = 110;
constexpr int kRaceMarked = 3;
constexpr int kRaceStopped = 4;
constexpr int kRaceUploaded = 12;
const char kNoPigeons[] = "No Pigeons";

bool isRinged(const PigeonInfo &pigeon)
{
    return !pigeon.eringNum.isEmpty();
}

// Everything of a mark and of an arrival goes; the pigeon, its ring and the
// uid read at basketing stay.
void clearMark(PigeonRecord *record)
{
    record->raceCode = QString();
    record->randNumMarked = 0;
    record->markAuthKey = QString();
    record->markReaderId = QString();
    record->markTime = 0;
    record->backTimeEring = 0;
    record->backTimeUid = 0;
    record->backHomeLat = 0;
    record->backHomeLon = 0;
    record->backOrder = 0;
    record->eringUploadState = false;
    record->gpsOnLine = false;
    record->gpsValid = false;
    record->needSms = false;
    record->smsSendState = false;
    record->randNumberBack = 0;
    record->uidBack = QStringLiteral("");
    record->uidUploadState = false;
}
} // namespace

FormPigeonList::FormPigeonList(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormPigeonList>())
{
    ui->setupUi(this);

    keyboard = new FormKeyBoard(this);
    keyboard->hide();
    connect(keyboard, &FormKeyBoard::keyPress, this, &FormPigeonList::onKeyPress);

    QTableWidget *table = ui->tablePigeons;
    PigeonRows::setUpTable(table, {tr("No."), tr("AssocNum"), tr("E-ring")},
                           {kNoColumnWidth, kAssocColumnWidth, kRingColumnWidth}, ui->widget);

    ui->txtEring->installEventFilter(this);
    table->installEventFilter(this);
}

FormPigeonList::~FormPigeonList() = default;

void FormPigeonList::doUserActions()
{
    mode = ModeUser;
    raceCode = QString();
    MainWindow::instance()->pushSubForm(this);
}

void FormPigeonList::doManageActions()
{
    mode = ModeManage;
    raceCode = QString();
    MainWindow::instance()->pushSubForm(this);
}

void FormPigeonList::showMarking(QString code)
{
    const QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(code);
    const bool closed = !race || race->valid == kRaceMarked || race->valid == kRaceStopped
        || race->valid == kRaceUploaded;
    mode = closed ? ModeRaceView : ModeRaceUnmark;
    raceCode = code;
    MainWindow::instance()->pushSubForm(this);
}

bool FormPigeonList::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == ui->txtEring) {
            keyboard->move(0, kScreenHeight - keyboard->height());
            keyboard->show();
            keyboard->raise();
        } else if (watched == ui->tablePigeons) {
            keyboard->hide();
        }
    }
    return SubWindow::eventFilter(watched, event);
}

bool FormPigeonList::hasSubWidget()
{
    return !keyboard->isHidden();
}

void FormPigeonList::deactiveSub()
{
    hideKeyboard();
}

void FormPigeonList::onFocus(bool focus)
{
    if (!focus)
        return;
    ui->tablePigeons->setFocus(Qt::OtherFocusReason);
    // The focus-in reaches the filter only in the active window.
    keyboard->hide();
}

void FormPigeonList::onActive()
{
    ui->txtEring->clear();
    pendingAction = PendingNone;
    keyboard->hide();
    userMode = kDefaultUserMode;
    guardedCallWithErrorPrompt("FormPigeonList::onActive", this, [this] {
        userMode = ServiceFactory::getParamInt32(QStringLiteral("userMode"), kDefaultUserMode);
    });
    setButtonsForMode();
    refreshPigeonList();
}

void FormPigeonList::setButtonsForMode()
{
    bool add = true;
    bool assign = true;
    bool remove = true;
    switch (mode) {
    case ModeUser:
        add = userMode != kViewOnly;
        assign = userMode != kViewOnly && userMode != kNoRingsUser;
        remove = userMode != kViewOnly;
        break;
    case ModeManage:
        assign = false;
        break;
    case ModeRaceView:
        add = assign = remove = false;
        break;
    case ModeRaceUnmark:
        add = assign = false;
        break;
    default:
        break;
    }
    ui->btnAddPigeon->setVisible(add);
    ui->btnAssigment->setVisible(assign);
    ui->btnDelete->setVisible(remove);
    if (mode == ModeRaceUnmark)
        ui->btnDelete->setText(tr("Unmark"));
    else if (mode != ModeRaceView)
        ui->btnDelete->setText(tr("Delete"));
}

void FormPigeonList::refreshPigeonList()
{
    QList<QSharedPointer<PigeonInfo>> loaded;
    // A failed load leaves an empty list, and the screen open.
    if (!guardedCallWithErrorPrompt("FormPigeonList::refreshPigeonList", this, [&] { loaded = loadPigeons(); }))
        loaded.clear();
    pigeons = loaded;
    refreshPigeonTable(0);
}

QList<QSharedPointer<PigeonInfo>> FormPigeonList::loadPigeons()
{
    const QString text = ui->txtEring->text();
    // The keyboard types no '%' or '_', so only the quote needs care.
    const QString where = text.isEmpty()
        ? QString()
        : QStringLiteral("(AssocNum like ") + Storage::quoted(QLatin1Char('%') + text + QLatin1Char('%'))
            + QLatin1Char(')');
    Storage *storage = Storage::instance();
    QList<QSharedPointer<PigeonInfo>> list = storage->queryPigeons(where);
    if (mode != ModeRaceView && mode != ModeRaceUnmark)
        return list;
    QList<QSharedPointer<PigeonInfo>> marked;
    for (const QSharedPointer<PigeonInfo> &pigeon : list) {
        const QSharedPointer<PigeonRecord> record = storage->findRecordById(pigeon->assocNum);
        if (record && record->markTime != 0 && record->raceCode == raceCode)
            marked.append(pigeon);
    }
    return marked;
}

void FormPigeonList::refreshPigeonTable(int row)
{
    QTableWidget *table = ui->tablePigeons;
    table->setRowCount(0);
    if (pigeons.isEmpty()) {
        ui->labelWarning->setText(QLatin1String(kNoPigeons));
        ui->labelWarning->show();
        return;
    }
    ui->labelWarning->hide();
    for (int i = 0; i < pigeons.size(); ++i) {
        table->insertRow(i);
        refreshPigeonItem(i);
    }
    if (row >= 0 && row < table->rowCount())
        table->selectRow(row);
}

void FormPigeonList::refreshPigeonItem(int row)
{
    if (const QSharedPointer<PigeonInfo> pigeon = pigeonAt(row))
        PigeonRows::fillRow(ui->tablePigeons, row, *pigeon);
}

void FormPigeonList::on_tablePigeons_currentCellChanged(int currentRow, int, int, int)
{
    const QSharedPointer<PigeonInfo> pigeon = pigeonAt(currentRow);
    if (!pigeon)
        return;
    QSharedPointer<PigeonRecord> record;
    const bool found = guardedCallWithErrorPrompt("FormPigeonList::on_tablePigeons_currentCellChanged", this,
                                                  [&] { record = Storage::instance()->findRecordById(pigeon->assocNum); });
    if (found) {
        showButtonsFor(*pigeon, record && record->markTime != 0);
    } else {
        // Whether the pigeon is marked is not known: nothing may change it.
        ui->btnAssigment->setEnabled(false);
        ui->btnDelete->setEnabled(false);
    }
    showDetails(*pigeon);
}

void FormPigeonList::showButtonsFor(const PigeonInfo &pigeon, bool marked)
{
    const bool ringed = isRinged(pigeon);
    switch (mode) {
    case ModeUser:
        if (userMode == kViewOnly) {
            ui->btnAssigment->hide();
            ui->btnDelete->hide();
            ui->btnAddPigeon->hide();
        } else if (userMode == kNoRingsUser) {
            ui->btnAssigment->hide();
            if (ringed) {
                ui->btnDelete->hide();
            } else {
                ui->btnDelete->setText(tr("Delete"));
                ui->btnDelete->show();
                // A race view before may have left it disabled.
                ui->btnDelete->setEnabled(true);
            }
        } else {
            ui->btnAssigment->setEnabled(!marked && !ringed);
            ui->btnDelete->setText(marked || ringed ? tr("Unassign") : tr("Delete"));
            ui->btnDelete->setEnabled(!marked);
        }
        break;
    case ModeManage:
        ui->btnAssigment->setEnabled(!marked && !ringed);
        ui->btnDelete->setEnabled(!marked);
        if (!marked)
            ui->btnDelete->setText(ringed ? tr("Unassign") : tr("Delete"));
        break;
    case ModeRaceView:
        ui->btnDelete->setEnabled(false);
        break;
    case ModeRaceUnmark:
        ui->btnDelete->setEnabled(true);
        break;
    default:
        break;
    }
}

void FormPigeonList::showDetails(const PigeonInfo &pigeon)
{
    PigeonRows::showDetails(pigeon, ui->labColor, ui->labSex, ui->labYear, ui->labUpdateTime);
}

void FormPigeonList::hideKeyboard()
{
    keyboard->hide();
    // The field gives up the focus with the keyboard: a tap on it brings
    // the keyboard back only with a new focus-in.
    if (ui->txtEring->hasFocus())
        ui->tablePigeons->setFocus(Qt::OtherFocusReason);
}

QSharedPointer<PigeonInfo> FormPigeonList::pigeonAt(int row) const
{
    return row >= 0 && row < pigeons.size() ? pigeons.at(row) : QSharedPointer<PigeonInfo>();
}

void FormPigeonList::on_btnSearch_clicked()
{
    guardedCall("FormPigeonList::on_btnSearch_clicked", this, [this] {
        VexPlayer::playDong();
        hideKeyboard();
        refreshPigeonList();
    });
}

void FormPigeonList::on_btnAddPigeon_clicked()
{
    guardedCall("FormPigeonList::on_btnAddPigeon_clicked", this, [this] {
        hideKeyboard();
        pendingAction = PendingAdd;
        MainWindow::instance()->formAddPigeon->showForm(this);
    });
}

void FormPigeonList::on_btnAssigment_clicked()
{
    guardedCall("FormPigeonList::on_btnAssigment_clicked", this, [this] {
        hideKeyboard();
        const QSharedPointer<PigeonInfo> pigeon = pigeonAt(ui->tablePigeons->currentRow());
        if (mode != ModeUser || !pigeon)
            return;
        VexPlayer::playDong();
        pendingAction = PendingAssigned;
        MainWindow::instance()->formListAssignment->showForm(pigeon->assocNum, this);
    });
}

void FormPigeonList::on_btnDelete_clicked()
{
    guardedCall("FormPigeonList::on_btnDelete_clicked", this, [this] {
        VexPlayer::playDong();
        hideKeyboard();
        const QList<QTableWidgetItem *> selected = ui->tablePigeons->selectedItems();
        if (selected.isEmpty())
            return;
        const QSharedPointer<PigeonInfo> pigeon = pigeonAt(selected.first()->row());
        if (!pigeon)
            return;
        QString text;
        if (mode == ModeUser || mode == ModeManage) {
            pendingAction = isRinged(*pigeon) ? PendingUnassign : PendingDelete;
            text = isRinged(*pigeon) ? tr("Please confirm you want to unassign this pigeon!")
                                     : tr("Please confirm you want to delete this pigeon!");
        } else if (mode == ModeRaceUnmark) {
            pendingAction = PendingUnmark;
            text = tr("Please confirm you want to unmark this pigeon!");
        } else {
            return;
        }
        FormMessage::information(this, tr("Warning"), text, QMessageBox::Ok | QMessageBox::Cancel, this);
    });
}

void FormPigeonList::onKeyPress(int keyVal)
{
    if (keyVal == Qt::Key_Backspace)
        ui->txtEring->backspace();
    else
        ui->txtEring->insert(QString(QChar(keyVal)));
}

void FormPigeonList::onFormMessage(QMessageBox::StandardButton button, void *context)
{
    if (button != QMessageBox::Ok)
        return;
    guardedCallWithErrorPrompt("FormPigeonList::onFormMessage", this, [&] { continueAction(context); });
}

void FormPigeonList::continueAction(void *context)
{
    const int row = ui->tablePigeons->currentRow();
    switch (pendingAction) {
    case PendingAdd:
        if (context)
            addPigeon(*static_cast<QSharedPointer<PigeonInfo> *>(context));
        break;
    case PendingDelete:
        deletePigeon(row);
        break;
    case PendingAssigned:
        if (context)
            ringAssigned(row, **static_cast<QSharedPointer<PigeonInfo> *>(context));
        break;
    case PendingUnassign:
        unassignPigeon(row);
        break;
    case PendingUnmark:
        unmarkPigeon(row);
        break;
    default:
        break;
    }
}

void FormPigeonList::addPigeon(const QSharedPointer<PigeonInfo> &pigeon)
{
    const int oldCount = pigeons.size();
    pigeons.append(pigeon);
    refreshPigeonTable(oldCount);
    ui->tablePigeons->scrollToBottom();
}

void FormPigeonList::deletePigeon(int row)
{
    const QSharedPointer<PigeonInfo> pigeon = pigeonAt(row);
    if (!pigeon)
        return;
    VexPlayer::playOK();
    Storage::instance()->deletePigeon(pigeon->assocNum);
    removeRow(row);
}

void FormPigeonList::removeRow(int row)
{
    if (row >= 0 && row < pigeons.size())
        pigeons.removeAt(row);
    refreshPigeonTable(row);
}

void FormPigeonList::ringAssigned(int row, const PigeonInfo &updated)
{
    const QSharedPointer<PigeonInfo> pigeon = pigeonAt(row);
    if (!pigeon)
        return;
    pigeon->uid = updated.uid;
    pigeon->eringNum = updated.eringNum;
    pigeon->updateTime = updated.updateTime;
    refreshPigeonTable(row);
}

void FormPigeonList::unassignPigeon(int row)
{
    PigeonRows::unassignRing(
        pigeons, row,
        [this, row] {
            ui->btnDelete->setText(tr("Delete"));
            refreshPigeonItem(row);
            ui->btnAssigment->setEnabled(true);
        },
        [this, row] { refreshPigeonTable(row); });
}

void FormPigeonList::unmarkPigeon(int row)
{
    const QSharedPointer<PigeonInfo> pigeon = pigeonAt(row);
    if (!pigeon)
        return;
    VexPlayer::playOK();
    Storage *storage = Storage::instance();
    const QSharedPointer<PigeonRecord> record = storage->findRecordById(pigeon->assocNum);
    std::exception_ptr logFailure;
    if (record) {
        clearMark(record.data());
        storage->saveRecord(record.data());
        try {
            storage->logRaceUnmark(record.data());
        } catch (...) {
            logFailure = std::current_exception();
        }
    }
    removeRow(row);
    if (logFailure)
        std::rethrow_exception(logFailure);
}
