#include "ui/settings/formconfig.h"

#include "core/configfile.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/settings/restartrequest.h"

#include "ui_formconfig.h"

namespace {
constexpr unsigned int kModemField = 0x1800;
constexpr unsigned int kModemEc25 = 0x0800;
constexpr unsigned int kModemTelit = 0x1000;
constexpr int kUbloxIndex = 0;
constexpr int kEc25Index = 1;
constexpr int kTelitIndex = 2;
}

FormConfig::FormConfig(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormConfig>())
{
    ui->setupUi(this);
    flagBoxes = {{0x0001, ui->chkConfig0001}, {0x0002, ui->chkConfig0002}, {0x0004, ui->chkConfig0004},
                 {0x0008, ui->chkConfig0008}, {0x0010, ui->chkConfig0010}, {0x0020, ui->chkConfig0020},
                 {0x0040, ui->chkConfig0040}, {0x0080, ui->chkConfig0080}, {0x0100, ui->chkConfig0100},
                 {0x0200, ui->chkConfig0200}, {0x0400, ui->chkConfig0400}};
}

FormConfig::~FormConfig() = default;

void FormConfig::onActive()
{
    // The word in force, not the file: an edit since start is not in force.
    showWord(HardwareControl::APP_SETTING);
}

void FormConfig::showWord(unsigned int word)
{
    for (const FlagBox &flag : std::as_const(flagBoxes))
        flag.box->setChecked(word & flag.bit);
    switch (word & kModemField) {
    case kModemEc25:
        ui->cmbConfig1800->setCurrentIndex(kEc25Index);
        break;
    case kModemTelit:
        ui->cmbConfig1800->setCurrentIndex(kTelitIndex);
        break;
    default: // both bits set names no modem: the u-blox one
        ui->cmbConfig1800->setCurrentIndex(kUbloxIndex);
        break;
    }
}

unsigned int FormConfig::shownWord() const
{
    unsigned int word = 0;
    for (const FlagBox &flag : flagBoxes) {
        if (flag.box->isChecked())
            word |= flag.bit;
    }
    const QString modem = ui->cmbConfig1800->currentText();
    if (modem == QLatin1String("EC25"))
        word |= kModemEc25;
    else if (modem == QLatin1String("TELIT"))
        word |= kModemTelit;
    return word;
}

void FormConfig::on_btnButtonReset_clicked()
{
    guardedCall("FormConfig::on_btnButtonReset_clicked", this, [this] { save(); });
}

void FormConfig::save()
{
    if (!ConfigFile::saveUserSettings(shownWord())) {
        // The old file stands: restarting now would only bring back the old
        // flags as if the new ones were saved.
        VexPlayer::playError();
        FormMessage::information(this, tr("Error"), tr("Configuration not saved!"), QMessageBox::Ok, nullptr);
        return;
    }
    HardwareControl::syncAll();
    VexPlayer::playDong();
    requestRestart("FormConfig::on_btnButtonReset_clicked", QStringLiteral("Manual restart"));
}
