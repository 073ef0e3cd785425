#include "ui/settings/formtime.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/VexPlayer.h"
#include "race/pigeonbo.h"
#include "ui/busyhold.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/screenkit.h"

#include "ui_formtime.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>

namespace {

constexpr int kMonths = 12;
constexpr int kDays = 31;
constexpr int kHours = 24;
constexpr int kMinutes = 60;
// What a link that never answers gives a synchronous call.
constexpr int kSilentCode = 0x1201;
const char kSilentMessage[] = "Semaphore timeout!";

// Two-digit items first..last, translated like every visible text.
void fillNumbers(QComboBox *box, int first, int last)
{
    box->clear();
    for (int value = first; value <= last; ++value)
        box->addItem(FormTime::tr(QString::number(value).rightJustified(2, QLatin1Char('0')).toUtf8().constData()));
}

} // namespace

FormTime::FormTime(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormTime>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    fillNumbers(ui->comboBoxMonth, 1, kMonths);
    fillNumbers(ui->comboBoxDay, 1, kDays);
    fillNumbers(ui->comboBoxHour, 0, kHours - 1);
    fillNumbers(ui->comboBoxMinute, 0, kMinutes - 1);
    fillNumbers(ui->comboBoxSecond, 0, kMinutes - 1);
}

FormTime::~FormTime() = default;

void FormTime::onActive()
{
    // The years follow the club time, so the list never ends before the
    // year in which the screen is used.
    ScreenKit::fillYears(ui->comboBoxYear);
    const UTC club = UTC::clubTime();
    const int first = valueOf(ui->comboBoxYear);
    const int last = ui->comboBoxYear->itemText(ui->comboBoxYear->count() - 1).toInt();
    const int year = club.year();
    ui->comboBoxYear->setCurrentIndex(year >= first && year <= last ? year - first : 0);
    ui->comboBoxMonth->setCurrentIndex(club.month() - 1);
    ui->comboBoxDay->setCurrentIndex(club.day() - 1);
    ui->comboBoxHour->setCurrentIndex(club.hour());
    ui->comboBoxMinute->setCurrentIndex(club.minute());
    ui->comboBoxSecond->setCurrentIndex(club.second());
}

int FormTime::valueOf(const QComboBox *box)
{
    return box->currentText().toInt();
}

MorlanProtocolProcess *FormTime::clubLink()
{
    MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess;
    if (!link) {
        ServiceFactory::debug(QStringLiteral("FormTime: no club link published"));
        throw VexException(kSilentCode, QString::fromLatin1(kSilentMessage),
                           QCoreApplication::translate("ExceptionResource", kSilentMessage));
    }
    return link;
}

void FormTime::on_btnSet_clicked()
{
    const int year = valueOf(ui->comboBoxYear);
    const int month = valueOf(ui->comboBoxMonth);
    const int day = valueOf(ui->comboBoxDay);
    // The day chooser offers 31 in every month; the conversion would roll an
    // impossible date into the next month and set the club clock to it.
    if (!QDate(year, month, day).isValid()) {
        VexPlayer::playError();
        FormMessage::information(this, tr("Error"), tr("Invalid date!"), QMessageBox::Ok, nullptr);
        return;
    }
    UTC time;
    time.loadFromLocal(year, month, day, valueOf(ui->comboBoxHour), valueOf(ui->comboBoxMinute),
                       valueOf(ui->comboBoxSecond), 0);
    VexPlayer::playOK();
    guardedCallWithErrorPrompt("FormTime::on_btnSet_clicked", this, [this, &time] { sendTime(time.value()); });
}

void FormTime::sendTime(qint64 utcMs)
{
    BusyHold hold(this);
    clubLink()->setTimeSync(utcMs);
    hold.release();
    FormMessage::information(this, tr("Successful"), tr("Set time successfully!"), QMessageBox::Ok, nullptr);
}

void FormTime::on_btnSync_clicked()
{
    qint64 clubMs = 0;
    try {
        BusyHold hold(this);
        clubMs = clubLink()->getTimeSync();
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("FormTime::on_btnSync_clicked VexException!"));
        clubMs = 0;
    } catch (...) {
        ServiceFactory::debug(QStringLiteral("FormTime::on_btnSync_clicked UnknowException!"));
        clubMs = 0;
    }
    if (clubMs == 0) {
        VexPlayer::playError();
        FormMessage::information(this, tr("Error"), tr("Can not get time!"), QMessageBox::Ok, nullptr);
        return;
    }
    VexPlayer::playOK();
    // The engine's log entry may fail on a locked database after the clock
    // moved: that failure gets its own box.
    guardedCall("FormTime::on_btnSync_clicked", this, [this, clubMs] {
        if (PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo)
            bo->verifyTimeManual(clubMs);
        else
            ServiceFactory::debug(QStringLiteral("FormTime: no race engine, device clock left alone"));
        FormMessage::information(this, tr("Success"), tr("Synchronize successfully!"), QMessageBox::Ok, nullptr);
    });
}
