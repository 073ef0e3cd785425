#include "ui/race/formaddrace.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formkeyboard.h"
#include "ui/formmessage.h"
#include "ui/formmessagehandler.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/screenkit.h"

#include "ui_formaddrace.h"

#include <QDate>
#include <QEvent>
#include <QLineEdit>
#include <QSharedPointer>

namespace {

constexpr int kScreenHeight = 700;
constexpr qint64 kDayMs = 24LL * 3600 * 1000;
// The device offers nomination before basketing.
constexpr unsigned int kNominationFlag = 0x0400;
constexpr int kNewRace = 1;
constexpr int kDefaultHour = 4;
const char kDefaultSite[] = "RACE_1";
const char kDefaultLiberCode[] = "9999";
const char kCheckedStyle[] =
    "border-image: url(:/image/button/image/btn_Checkbox_pressed.png) no-repeat;border:none;";
const char kUncheckedStyle[] =
    "border-image: url(:/image/button/image/btn_Checkbox_normal.png) no-repeat;border:none;";

// Two-digit entries from first to last, so that an entry's index follows
// from its value.
void fillNumbers(QComboBox *box, int first, int last)
{
    box->clear();
    for (int value = first; value <= last; ++value)
        box->addItem(QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')));
}

int comboValue(const QComboBox *box)
{
    return box->currentText().toInt();
}

LoftInfo loftSettings()
{
    LoftInfo loft;
    if (PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo)
        loft = bo->getLoftInfo();
    else
        Storage::instance()->readLoftInfo(&loft);
    return loft;
}

} // namespace

FormAddRace::FormAddRace(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormAddRace>())
{
    ui->setupUi(this);
    fillNumbers(ui->comboBoxDay, 1, 31);
    fillNumbers(ui->comboBoxMonth, 1, 12);
    fillNumbers(ui->comboBoxHour, 0, 23);
    fillNumbers(ui->comboBoxMinute, 0, 59);
    fillNumbers(ui->comboBoxSecond, 0, 59);
    // The check image lies over the PreNom button: a touch on it is a
    // touch on the button.
    ui->imgVoiceChecked->setAttribute(Qt::WA_TransparentForMouseEvents);

    keyboard = new FormKeyBoard(this);
    keyboard->move(0, kScreenHeight - keyboard->height());
    keyboard->show();
    connect(keyboard, &FormKeyBoard::keyPress, this, &FormAddRace::onKeyPress);

    installEventFilter(this);
    ui->editAssocCode->installEventFilter(this);
    ui->editClubCode->installEventFilter(this);
    ui->editLibSite->installEventFilter(this);
    ui->editLibCode->installEventFilter(this);
    ui->editPrintCount->installEventFilter(this);
}

FormAddRace::~FormAddRace() = default;

void FormAddRace::showForm(FormMessageHandler *answerTo)
{
    caller = answerTo;
    MainWindow::instance()->pushSubForm(this);
}

void FormAddRace::onActive()
{
    const LoftInfo loft = loftSettings();
    ui->editAssocCode->setText(loft.assocCode);
    ui->editClubCode->setText(loft.clubCode);
    ui->editLibSite->setText(QLatin1String(kDefaultSite));
    ui->editLibCode->setText(QLatin1String(kDefaultLiberCode));

    // The next day by the club clock, at 04:00:00 local time.
    const UTC nextDay(UTC::clubTime().value() + kDayMs);
    QComboBox *years = ui->comboBoxYear;
    ScreenKit::fillYears(years);
    const int firstYear = years->itemText(0).toInt();
    const int lastYear = years->itemText(years->count() - 1).toInt();
    const bool listed = nextDay.year() >= firstYear && nextDay.year() <= lastYear;
    years->setCurrentIndex(listed ? nextDay.year() - firstYear : years->count() - 1);
    ui->comboBoxMonth->setCurrentIndex(nextDay.month() - 1);
    ui->comboBoxDay->setCurrentIndex(nextDay.day() - 1);
    ui->comboBoxHour->setCurrentIndex(kDefaultHour);
    ui->comboBoxMinute->setCurrentIndex(0);
    ui->comboBoxSecond->setCurrentIndex(0);

    const bool nominates = HardwareControl::hasFlag(kNominationFlag);
    ui->btnPreNom->setVisible(nominates);
    ui->imgVoiceChecked->setVisible(nominates);
    if (nominates) {
        ui->btnPreNom->setChecked(false);
        showPreNom(false);
    }
}

bool FormAddRace::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == ui->editAssocCode || watched == ui->editLibCode || watched == ui->editClubCode
            || watched == ui->editLibSite)
            inputWidget = static_cast<QWidget *>(watched);
        else if (watched == ui->editPrintCount)
            inputWidget = ui->editPrintCount;
    }
    return SubWindow::eventFilter(watched, event);
}

void FormAddRace::onKeyPress(int keyVal)
{
    if (!inputWidget)
        return;
    if (inputWidget == ui->editPrintCount) {
        // A digit is the whole count; there is no count of 0 or above 9.
        if (keyVal >= '1' && keyVal <= '9')
            ui->editPrintCount->setValue(keyVal - '0');
        return;
    }
    auto *edit = static_cast<QLineEdit *>(inputWidget);
    if (keyVal == Qt::Key_Backspace)
        edit->backspace();
    else if (keyVal >= 0x20 && keyVal < 0x7f)
        edit->insert(QString(QChar(keyVal)));
}

void FormAddRace::on_btnPreNom_clicked(bool checked)
{
    showPreNom(checked);
}

void FormAddRace::showPreNom(bool checked)
{
    ui->imgVoiceChecked->setStyleSheet(QLatin1String(checked ? kCheckedStyle : kUncheckedStyle));
}

void FormAddRace::on_btnAddRace_clicked()
{
    // A failed look-up or save leaves the screen with its entries, and the
    // opener hears nothing.
    guardedCallWithErrorPrompt("FormAddRace::on_btnAddRace_clicked", this, [this] { addRace(); });
}

void FormAddRace::addRace()
{
    VexPlayer::playDong();
    const int year = comboValue(ui->comboBoxYear);
    const int month = comboValue(ui->comboBoxMonth);
    const int day = comboValue(ui->comboBoxDay);
    UTC liberTime;
    liberTime.loadFromLocal(year, month, day, comboValue(ui->comboBoxHour), comboValue(ui->comboBoxMinute),
                            comboValue(ui->comboBoxSecond), 0);
    const QString assocCode = ui->editAssocCode->text().trimmed();
    const QString clubCode = ui->editClubCode->text().trimmed();
    const QString liberCode = ui->editLibCode->text().trimmed();
    const QString liberName = ui->editLibSite->text().trimmed();

    if (assocCode.isEmpty()) {
        warn(tr("Please input assoc code!"));
        return;
    }
    if (liberCode.isEmpty()) {
        warn(tr("Please input liber code!"));
        return;
    }
    if (liberName.isEmpty()) {
        warn(tr("Please input liber site!"));
        return;
    }
    if (clubCode.isEmpty()) {
        warn(tr("Please input club code!"));
        return;
    }
    // The day list offers 31 whatever the month; a day the month lacks
    // would roll over into the next month, a liberation nobody chose.
    if (!QDate(year, month, day).isValid() || liberTime.value() < UTC::clubTime().value()) {
        warn(tr("Race liber time error!"));
        return;
    }
    // The code carries no year: a code of last season's same day is taken.
    const QString raceCode = liberCode + liberTime.format(QStringLiteral("MMdd"));
    Storage *storage = Storage::instance();
    if (storage->findRaceById(raceCode)) {
        warn(tr("Race already exists!"));
        return;
    }

    auto race = QSharedPointer<RaceInfo>::create();
    race->raceCode = raceCode;
    race->clubCode = clubCode;
    race->assocCode = assocCode;
    race->liberCode = liberCode;
    race->liberName = liberName;
    race->liberTime = liberTime.value();
    race->printCount = ui->editPrintCount->value();
    race->valid = kNewRace;
    race->setField(QStringLiteral("markUploadFlag"), false);
    const bool preNom = HardwareControl::hasFlag(kNominationFlag) && ui->btnPreNom->isChecked();
    race->setField(QStringLiteral("nomination"), preNom ? 1 : 0);
    storage->saveRace(race.data());
    VexPlayer::playOK();
    FormMessageHandler *const answerTo = caller;
    MainWindow::instance()->popSubForm(DeactiveHide);
    if (answerTo)
        answerTo->onFormMessage(QMessageBox::Ok, &race);
}

void FormAddRace::warn(const QString &text)
{
    VexPlayer::playError();
    FormMessage::information(this, tr("Warning"), text, QMessageBox::Ok, nullptr);
}
