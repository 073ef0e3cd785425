#include "ui/settings/formsmstest.h"

#include "core/servicefactory.h"
#include "device/VexPlayer.h"
#include "gsm/gsmservice.h"
#include "gsm/gsmstate.h"
#include "race/pigeonbo.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"

#include "ui_formsmstest.h"

namespace {
// Set while the modem is registered, at home or roaming.
constexpr quint32 kRegisteredFlag = 0x40;
}

FormSmsTest::FormSmsTest(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormSmsTest>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
}

FormSmsTest::~FormSmsTest() = default;

void FormSmsTest::appendDigit(char digit)
{
    guardedCall("FormSmsTest::appendDigit", this, [this, digit] {
        VexPlayer::playKeyPress();
        ui->txtPhoneCode->setText(ui->txtPhoneCode->text() + QLatin1Char(digit));
    });
}

void FormSmsTest::on_pushButton0_clicked() { appendDigit('0'); }
void FormSmsTest::on_pushButton1_clicked() { appendDigit('1'); }
void FormSmsTest::on_pushButton2_clicked() { appendDigit('2'); }
void FormSmsTest::on_pushButton3_clicked() { appendDigit('3'); }
void FormSmsTest::on_pushButton4_clicked() { appendDigit('4'); }
void FormSmsTest::on_pushButton5_clicked() { appendDigit('5'); }
void FormSmsTest::on_pushButton6_clicked() { appendDigit('6'); }
void FormSmsTest::on_pushButton7_clicked() { appendDigit('7'); }
void FormSmsTest::on_pushButton8_clicked() { appendDigit('8'); }
void FormSmsTest::on_pushButton9_clicked() { appendDigit('9'); }

void FormSmsTest::on_pushButtonDel_clicked()
{
    guardedCall("FormSmsTest::on_pushButtonDel_clicked", this, [this] {
        VexPlayer::playKeyPress();
        const QString text = ui->txtPhoneCode->text();
        if (!text.isEmpty())
            ui->txtPhoneCode->setText(text.left(text.size() - 1));
    });
}

void FormSmsTest::on_pushButtonSend_clicked()
{
    guardedCall("FormSmsTest::on_pushButtonSend_clicked", this, [this] { send(); });
}

void FormSmsTest::refuse(const QString &text)
{
    VexPlayer::playError();
    FormMessage::information(this, tr("Error"), text, QMessageBox::Ok, nullptr);
}

void FormSmsTest::send()
{
    const QString text = ui->txtPhoneCode->text();
    if (text.trimmed().isEmpty()) {
        refuse(tr("Please input phonecode!"));
        return;
    }
    // Services late at start (or none in a test): no modem to send with.
    ServiceFactory *factory = ServiceFactory::getInstance();
    GSMService *gsm = factory->gsmService;
    PigeonBo *engine = factory->pigeonBo;
    if (!gsm || !engine || !(gsm->getGSMState().flags & kRegisteredFlag)) {
        refuse(tr("Gsm is not online!"));
        return;
    }
    VexPlayer::playOK();
    // The engine keeps the number as Latin-1 text, which ends at a zero byte.
    const QByteArray latin1 = text.toLatin1();
    engine->startTestSMS(QString::fromLatin1(latin1.constData()));
    FormMessage::information(this, tr("Success"), tr("Sms has sent!"), QMessageBox::Ok, nullptr);
}
