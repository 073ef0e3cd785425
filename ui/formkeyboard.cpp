#include "ui/formkeyboard.h"

#include "device/VexPlayer.h"

#include "ui_formkeyboard.h"

#include <QPushButton>

namespace {
const char kShiftOn[] = "border-image: url(:/image/button/image/shift_on.png) no-repeat;border:none;";
const char kShiftOff[] = "border-image: url(:/image/button/image/shift_off.png) no-repeat;border:none;";
}

FormKeyBoard::FormKeyBoard(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::FormKeyBoard>())
{
    ui->setupUi(this);
    caps = true;
    // The field being edited must keep the focus and its cursor.
    const QList<QPushButton *> keys = findChildren<QPushButton *>();
    for (QPushButton *key : keys)
        key->setFocusPolicy(Qt::NoFocus);
    reflushGUI();
}

FormKeyBoard::~FormKeyBoard() = default;

void FormKeyBoard::setCaps(bool on)
{
    caps = on;
    reflushGUI();
}

bool FormKeyBoard::isCaps() const
{
    return caps;
}

void FormKeyBoard::enableCaps(bool on)
{
    ui->btnKeyCaps->setEnabled(on);
}

void FormKeyBoard::doKeyPress(int key)
{
    VexPlayer::playKeyPress();
    emit keyPress(key);
}

void FormKeyBoard::reflushGUI()
{
    ui->btnKeyCaps->setStyleSheet(QLatin1String(caps ? kShiftOn : kShiftOff));
    for (char c = 'A'; c <= 'Z'; ++c) {
        auto *key = findChild<QPushButton *>(QStringLiteral("btnKey") + QLatin1Char(c));
        if (key)
            key->setText(QString(QLatin1Char(caps ? c : char(c - 'A' + 'a'))));
    }
}

void FormKeyBoard::letter(char upper)
{
    doKeyPress(caps ? upper : upper - 'A' + 'a');
}

void FormKeyBoard::on_btnKey0_clicked() { doKeyPress('0'); }
void FormKeyBoard::on_btnKey1_clicked() { doKeyPress('1'); }
void FormKeyBoard::on_btnKey2_clicked() { doKeyPress('2'); }
void FormKeyBoard::on_btnKey3_clicked() { doKeyPress('3'); }
void FormKeyBoard::on_btnKey4_clicked() { doKeyPress('4'); }
void FormKeyBoard::on_btnKey5_clicked() { doKeyPress('5'); }
void FormKeyBoard::on_btnKey6_clicked() { doKeyPress('6'); }
void FormKeyBoard::on_btnKey7_clicked() { doKeyPress('7'); }
void FormKeyBoard::on_btnKey8_clicked() { doKeyPress('8'); }
void FormKeyBoard::on_btnKey9_clicked() { doKeyPress('9'); }
void FormKeyBoard::on_btnKeyA_clicked() { letter('A'); }
void FormKeyBoard::on_btnKeyB_clicked() { letter('B'); }
void FormKeyBoard::on_btnKeyC_clicked() { letter('C'); }
void FormKeyBoard::on_btnKeyD_clicked() { letter('D'); }
void FormKeyBoard::on_btnKeyE_clicked() { letter('E'); }
void FormKeyBoard::on_btnKeyF_clicked() { letter('F'); }
void FormKeyBoard::on_btnKeyG_clicked() { letter('G'); }
void FormKeyBoard::on_btnKeyH_clicked() { letter('H'); }
void FormKeyBoard::on_btnKeyI_clicked() { letter('I'); }
void FormKeyBoard::on_btnKeyJ_clicked() { letter('J'); }
void FormKeyBoard::on_btnKeyK_clicked() { letter('K'); }
void FormKeyBoard::on_btnKeyL_clicked() { letter('L'); }
void FormKeyBoard::on_btnKeyM_clicked() { letter('M'); }
void FormKeyBoard::on_btnKeyN_clicked() { letter('N'); }
void FormKeyBoard::on_btnKeyO_clicked() { letter('O'); }
void FormKeyBoard::on_btnKeyP_clicked() { letter('P'); }
void FormKeyBoard::on_btnKeyQ_clicked() { letter('Q'); }
void FormKeyBoard::on_btnKeyR_clicked() { letter('R'); }
void FormKeyBoard::on_btnKeyS_clicked() { letter('S'); }
void FormKeyBoard::on_btnKeyT_clicked() { letter('T'); }
void FormKeyBoard::on_btnKeyU_clicked() { letter('U'); }
void FormKeyBoard::on_btnKeyV_clicked() { letter('V'); }
void FormKeyBoard::on_btnKeyW_clicked() { letter('W'); }
void FormKeyBoard::on_btnKeyX_clicked() { letter('X'); }
void FormKeyBoard::on_btnKeyY_clicked() { letter('Y'); }
void FormKeyBoard::on_btnKeyZ_clicked() { letter('Z'); }
void FormKeyBoard::on_btnKey__clicked() { doKeyPress('-'); }
void FormKeyBoard::on_btnKeyNot_clicked() { doKeyPress('.'); }
void FormKeyBoard::on_btnKeyBack_clicked() { doKeyPress(Qt::Key_Backspace); }

void FormKeyBoard::on_btnKeyCaps_clicked()
{
    VexPlayer::playKeyPress();
    caps = !caps;
    reflushGUI();
}
