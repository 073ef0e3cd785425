#include "ui/settings/formcommunication.h"

#include "core/servicefactory.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"
#include "ui/formkeyboard.h"
#include "ui/guardedcall.h"
#include "ui/settings/loftaccess.h"
#include "ui/settings/restartrequest.h"
#include "ui/waitcursor.h"

#include "ui_formcommunication.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QEvent>
#include <QListView>
#include <QStandardItemModel>

namespace {

// Set on clocks that send no SMS.
constexpr unsigned int kNoSmsFlag = 0x0100;
constexpr int kSmsUploadRow = 1;
constexpr int kPhoneRows = 5;
// Voice mode: 356 spells the ring number, 100 is the plain prompt.
constexpr int kVoiceSpell = 356;
constexpr int kVoicePlain = 100;

const char kKeyNotifyNum[] = "cmbSMSNotifyNum";
const char kKeyChannelMode[] = "channelMode";
const char kKeyPageSize[] = "cmbPrintPageSize";
const char kKeyPrintSpeed[] = "cmbPrintSpeed";

const char kRowLit[] = "#%1{border-image: url(:/image/button/image/btn_phone-number_normal.png);}";
const char kClearLit[] = "#%1{border-image: url(:/image/button/image/btn_phone-number-delete_normal.png);}";
const char kTickChecked[] = "border-image: url(:/image/button/image/btn_Checkbox_pressed.png);";
const char kTickUnchecked[] = "border-image: url(:/image/button/image/btn_Checkbox_normal.png);";

// The first item whose stored value equals value becomes current; none
// leaves the combo blank.
void selectData(QComboBox *combo, const QVariant &value)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i).toInt() == value.toInt()) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    combo->setCurrentIndex(-1);
}

void addItems(QComboBox *combo, const QList<QPair<QString, int>> &items)
{
    combo->clear();
    for (const auto &item : items)
        combo->addItem(item.first, item.second);
}

// Takes the combo's value into *field when it has a current item that
// differs; a blank combo (a stored value no item shows) keeps the field.
bool takeChoice(const QComboBox *combo, int *field)
{
    if (combo->currentIndex() < 0)
        return false;
    const int value = combo->currentData().toInt();
    if (value == *field)
        return false;
    *field = value;
    return true;
}

} // namespace

FormCommunication::FormCommunication(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormCommunication>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    resize(480, 700);

    keyboard = new FormKeyBoard(this);
    keyboard->hide();
    connect(keyboard, &FormKeyBoard::keyPress, this, &FormCommunication::onKeyPress);

    fillCombos();
    phoneEdits = {ui->editPhone1, ui->editPhone2, ui->editPhone3, ui->editPhone4, ui->editPhone5};
    ui->editApn->installEventFilter(this);
    for (QLineEdit *edit : phoneEdits)
        edit->installEventFilter(this);
    ui->editSMSCenter->setEnabled(false);
    ui->editHost->setEnabled(false);
}

FormCommunication::~FormCommunication() = default;

void FormCommunication::fillCombos()
{
    addItems(ui->cmbSMSNotify, {{tr("Disable"), 0}, {tr("Training"), 1}, {tr("Race"), 2}, {tr("Race&Training"), 3}});
    addItems(ui->cmbSMSNotifyNum, {{tr("1"), 1}, {tr("3"), 3}, {tr("5"), 5}, {tr("All"), -1}});
    addItems(ui->cmbDataTransfer, {{tr("Disable"), 0}, {tr("SMS"), 6}, {tr("DATA"), 96}, {tr("DATA with Status"), 112}});
    addItems(ui->cmbChannelMode, {{tr("Disable"), 0}, {tr("Channel 1"), 1}, {tr("Channel 2"), 2}});
    addItems(ui->cmbPrintPageSize, {{tr("A4"), 0}, {tr("Letter size"), 1}});
    addItems(ui->cmbPrintSpeed, {{tr("Fast"), 0}, {tr("Medium"), 1}, {tr("Slow"), 2}});
}

void FormCommunication::onActive()
{
    // A failure here goes on to the stack, which drops the screen and shows it.
    const LoftInfo loft = LoftAccess::loft();
    selectData(ui->cmbDataTransfer, loft.uploadMode);
    selectData(ui->cmbSMSNotify, loft.notifyMode);
    selectData(ui->cmbSMSNotifyNum, ServiceFactory::getParamInt32(QLatin1String(kKeyNotifyNum), 1));
    selectData(ui->cmbChannelMode, ServiceFactory::getParamInt32(QLatin1String(kKeyChannelMode), 0));
    selectData(ui->cmbPrintPageSize, ServiceFactory::getParamInt32(QLatin1String(kKeyPageSize), 0));
    selectData(ui->cmbPrintSpeed, ServiceFactory::getParamInt32(QLatin1String(kKeyPrintSpeed), 1));

    QList<QString> phones = LoftAccess::notifyPhones();
    while (phones.size() < kPhoneRows)
        phones.append(QString());

    if (HardwareControl::hasFlag(kNoSmsFlag)) {
        // Hidden from the list and disabled in the model: Up and Down on the
        // closed combo would otherwise still reach it.
        if (auto *view = qobject_cast<QListView *>(ui->cmbDataTransfer->view()))
            view->setRowHidden(kSmsUploadRow, true);
        if (auto *model = qobject_cast<QStandardItemModel *>(ui->cmbDataTransfer->model()))
            model->item(kSmsUploadRow)->setEnabled(false);
        ui->cmbSMSNotifyNum->setEnabled(false);
        ui->cmbSMSNotify->setEnabled(false);
        for (QLineEdit *edit : phoneEdits)
            edit->setEnabled(false);
    }

    for (int row = 0; row < kPhoneRows; ++row)
        phoneEdits.at(row)->setText(phones.at(row));
    ui->editApn->setText(loft.apn);
    ui->editSMSCenter->setText(loft.hostSmsCode);
    ui->editHost->setText(loft.hostIp);

    const bool spell = loft.voiceMode == kVoiceSpell;
    ui->btnVoiceMode->setChecked(spell);
    showVoiceTick(spell);
}

bool FormCommunication::hasSubWidget()
{
    return keyboard->isVisible();
}

void FormCommunication::deactiveSub()
{
    keyboard->hide();
}

int FormCommunication::phoneRowOf(const QObject *watched) const
{
    for (int row = 0; row < phoneEdits.size(); ++row) {
        if (phoneEdits.at(row) == watched)
            return row;
    }
    return -1;
}

bool FormCommunication::eventFilter(QObject *watched, QEvent *event)
{
    const int phoneRow = phoneRowOf(watched);
    const bool isApn = watched == ui->editApn;
    if (event->type() == QEvent::FocusIn && (isApn || phoneRow >= 0)) {
        if (isApn) {
            keyTarget = ui->editApn;
            // Below the APN field, at the bottom of the screen.
            keyboard->move(0, height() - keyboard->height());
        } else {
            lightPhoneRow(phoneRow, true);
            keyTarget = phoneEdits.at(phoneRow);
            // Above the phone rows, which fill the lower half.
            keyboard->move(0, 0);
        }
        keyboard->show();
        keyboard->raise();
    } else if (event->type() == QEvent::FocusOut && (isApn || phoneRow >= 0)) {
        if (phoneRow >= 0)
            lightPhoneRow(phoneRow, false);
        keyTarget = nullptr;
    }
    return SubWindow::eventFilter(watched, event);
}

void FormCommunication::lightPhoneRow(int row, bool lit)
{
    QWidget *frames[] = {ui->widgetPhone1, ui->widgetPhone2, ui->widgetPhone3, ui->widgetPhone4, ui->widgetPhone5};
    QWidget *clears[] = {ui->btnPhone1Clear, ui->btnPhone2Clear, ui->btnPhone3Clear, ui->btnPhone4Clear,
                         ui->btnPhone5Clear};
    // An empty sheet falls back to the layout's own (unlit) images.
    // By name, so the frame's image does not reach the edit inside it.
    frames[row]->setStyleSheet(lit ? QString::fromLatin1(kRowLit).arg(frames[row]->objectName()) : QString());
    clears[row]->setStyleSheet(lit ? QString::fromLatin1(kClearLit).arg(clears[row]->objectName()) : QString());
}

void FormCommunication::onKeyPress(int keyVal)
{
    if (!keyTarget)
        return;
    if (keyVal == Qt::Key_Backspace) {
        keyTarget->backspace();
        return;
    }
    if (keyVal == '.' && keyTarget != ui->editApn)
        return;
    keyTarget->insert(QString(QChar(keyVal)));
}

void FormCommunication::clearPhone(int row)
{
    VexPlayer::playKeyPress();
    phoneEdits.at(row)->clear();
    phoneEdits.at(row)->setFocus();
}

void FormCommunication::on_btnPhone1Clear_clicked() { clearPhone(0); }
void FormCommunication::on_btnPhone2Clear_clicked() { clearPhone(1); }
void FormCommunication::on_btnPhone3Clear_clicked() { clearPhone(2); }
void FormCommunication::on_btnPhone4Clear_clicked() { clearPhone(3); }
void FormCommunication::on_btnPhone5Clear_clicked() { clearPhone(4); }

void FormCommunication::on_btnApnClear_clicked()
{
    VexPlayer::playDong();
    ui->editApn->clear();
}

void FormCommunication::on_btnVoiceMode_clicked(bool checked)
{
    showVoiceTick(checked);
}

void FormCommunication::showVoiceTick(bool checked)
{
    ui->imgVoiceChecked->setStyleSheet(QLatin1String(checked ? kTickChecked : kTickUnchecked));
}

void FormCommunication::on_btnButtonSave_clicked()
{
    guardedCall("FormCommunication::on_btnButtonSave_clicked", this, [this] { save(); });
}

void FormCommunication::save()
{
    WaitCursor wait;
    // Lets the cursor show; a second tap must not start a Save inside this one.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    VexPlayer::playOK();

    LoftInfo loft = LoftAccess::loft();
    bool changed = takeChoice(ui->cmbSMSNotify, &loft.notifyMode);
    changed = takeChoice(ui->cmbDataTransfer, &loft.uploadMode) || changed;
    const QString apn = ui->editApn->text().trimmed();
    if (apn != loft.apn) {
        loft.apn = apn;
        changed = true;
    }
    const int voice = ui->btnVoiceMode->isChecked() ? kVoiceSpell : kVoicePlain;
    if (voice != loft.voiceMode) {
        loft.voiceMode = voice;
        changed = true;
    }
    if (changed) {
        LoftAccess::saveLoft(loft);
        Storage::instance()->logUpdateParams(&loft);
    }

    QList<QString> phones;
    for (const QLineEdit *edit : phoneEdits) {
        const QString phone = edit->text().trimmed();
        if (!phone.isEmpty())
            phones.append(phone);
    }
    LoftAccess::saveNotifyPhones(phones);

    if (saveParam(ui->cmbChannelMode, QLatin1String(kKeyChannelMode), 0))
        ServiceFactory::switchToRace(true);
    // Read with 0, not the 1 shown: a value never stored is written by the first Save.
    saveParam(ui->cmbSMSNotifyNum, QLatin1String(kKeyNotifyNum), 0);
    saveParam(ui->cmbPrintPageSize, QLatin1String(kKeyPageSize), 0);
    saveParam(ui->cmbPrintSpeed, QLatin1String(kKeyPrintSpeed), 1);

    keyboard->hide();
}

bool FormCommunication::saveParam(QComboBox *combo, const QString &key, int storedDefault)
{
    int stored = ServiceFactory::getParamInt32(key, storedDefault);
    if (!takeChoice(combo, &stored))
        return false;
    ServiceFactory::setParamInt32(key, stored);
    return true;
}

void FormCommunication::on_btnButtonReset_clicked()
{
    guardedCall("FormCommunication::on_btnButtonReset_clicked", this, [] {
        VexPlayer::playDong();
        requestRestart("FormCommunication::on_btnButtonReset_clicked", QStringLiteral("Manual restart"));
    });
}
