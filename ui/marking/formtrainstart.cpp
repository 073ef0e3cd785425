#include "ui/marking/formtrainstart.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/VexPlayer.h"
#include "ui/formkeyboard.h"
#include "ui/formmessage.h"
#include "ui/formmessagehandler.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/screenkit.h"

#include "ui_formtrainstart.h"

#include <QDate>
#include <QEvent>
#include <QLineEdit>

#include <limits>

namespace {
constexpr int kScreenHeight = 700;
constexpr int kDistanceUnitScale = 2000; // whole units x 2000 + remainder
constexpr int kDefaultDistance = 10000;  // 5 km or 5 miles

// An empty field counts 0; a text too long for 64 bits is no number.
bool readField(const QString &text, qint64 *value)
{
    if (text.isEmpty()) {
        *value = 0;
        return true;
    }
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok;
}

int comboValue(const QComboBox *box)
{
    return box->currentText().toInt();
}
} // namespace

FormTrainStart::FormTrainStart(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormTrainStart>())
{
    ui->setupUi(this);
    keyBoard = new FormKeyBoard(this);
    keyBoard->move(0, kScreenHeight - keyBoard->height());
    connect(keyBoard, &FormKeyBoard::keyPress, this, &FormTrainStart::onKeyPress);
    installEventFilter(this);
    ui->editMiles->installEventFilter(this);
    ui->editYards->installEventFilter(this);
}

FormTrainStart::~FormTrainStart() = default;

void FormTrainStart::showForm(FormMessageHandler *handler)
{
    resultHandler = handler;
    MainWindow::instance()->pushSubForm(this);
}

void FormTrainStart::onActive()
{
    guardedCall("FormTrainStart::onActive", this, [this] { preset(); });
}

void FormTrainStart::onDeactive(_DeactiveMode)
{
}

void FormTrainStart::preset()
{
    // The clock first: a failing parameter read still leaves today's date.
    const UTC now = UTC::clubTime();
    const QStringList years = ScreenKit::yearItems(now.year());
    ui->comboBoxYear->clear();
    ui->comboBoxYear->addItems(years);
    const int firstYear = years.first().toInt();
    const int lastYear = years.last().toInt();
    const bool listed = now.year() >= firstYear && now.year() <= lastYear;
    ui->comboBoxYear->setCurrentIndex(listed ? now.year() - firstYear : years.size() - 1);
    ui->comboBoxMonth->setCurrentIndex(now.month() - 1);
    ui->comboBoxDay->setCurrentIndex(now.day() - 1);
    ui->comboBoxHour->setCurrentIndex(now.hour());
    ui->comboBoxMinute->setCurrentIndex(now.minute());
    ui->comboBoxSecond->setCurrentIndex(now.second());

    const int distance = ServiceFactory::getParamInt32(QStringLiteral("train_distance"), kDefaultDistance);
    const bool metric = ServiceFactory::getParamInt32(QStringLiteral("standard"), 0) == 0;
    ui->labKM->setText(metric ? tr("Kilometer") : tr("Miles"));
    ui->labMeter->setText(metric ? tr("Meter") : tr("Yards"));
    const int whole = distance / kDistanceUnitScale;
    ui->editMiles->setText(QStringLiteral("%1").arg(whole));
    ui->editYards->setText(QStringLiteral("%1").arg(distance - kDistanceUnitScale * whole));
}

bool FormTrainStart::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && (watched == ui->editMiles || watched == ui->editYards))
        currentEdit = static_cast<QLineEdit *>(watched);
    return SubWindow::eventFilter(watched, event);
}

void FormTrainStart::onKeyPress(int keyVal)
{
    guardedCall("FormTrainStart::onKeyPress", this, [this, keyVal] {
        if (!currentEdit)
            return;
        if (keyVal == Qt::Key_Backspace)
            currentEdit->backspace();
        else if (keyVal >= '0' && keyVal <= '9')
            currentEdit->insert(QString(QChar(keyVal)));
    });
}

void FormTrainStart::on_btnStartTrain_clicked()
{
    guardedCallWithErrorPrompt("FormTrainStart::on_btnStartTrain_clicked", this, [this] { start(); });
}

void FormTrainStart::start()
{
    const int year = comboValue(ui->comboBoxYear);
    const int month = comboValue(ui->comboBoxMonth);
    const int day = comboValue(ui->comboBoxDay);
    // The day list offers 31 whatever the month; a day the month lacks would
    // roll over into the next month, a liberation nobody chose.
    if (!QDate(year, month, day).isValid()) {
        refuse(tr("Invalid date!"));
        return;
    }
    int distance = 0;
    if (!readDistance(&distance)) {
        refuse(tr("Invalid distance!"));
        return;
    }
    UTC liberation;
    liberation.loadFromLocal(year, month, day, comboValue(ui->comboBoxHour), comboValue(ui->comboBoxMinute),
                             comboValue(ui->comboBoxSecond), 0);
    ServiceFactory::setParamInt64(QStringLiteral("train_libertime"), liberation.value());
    ServiceFactory::setParamInt32(QStringLiteral("train_distance"), distance);
    VexPlayer::playOK();
    MainWindow::instance()->popSubForm(SubWindow::DeactiveHide);
    // The caller's work on the answer runs inside this guard: its failure is
    // reported here, over this screen, which has already left the stack.
    if (resultHandler)
        resultHandler->onFormMessage(QMessageBox::Ok, nullptr);
}

bool FormTrainStart::readDistance(int *distance) const
{
    qint64 whole = 0;
    qint64 remainder = 0;
    if (!readField(ui->editMiles->text(), &whole) || !readField(ui->editYards->text(), &remainder))
        return false;
    // A remainder of a whole unit or more would be read back as more whole
    // units, and the stored value is a signed 32-bit number.
    if (whole < 0 || remainder < 0 || remainder >= kDistanceUnitScale)
        return false;
    if (whole > (std::numeric_limits<qint32>::max() - remainder) / kDistanceUnitScale)
        return false;
    *distance = static_cast<int>(whole * kDistanceUnitScale + remainder);
    return true;
}

void FormTrainStart::refuse(const QString &text)
{
    VexPlayer::playError();
    FormMessage::information(this, tr("Error"), text, QMessageBox::Ok, nullptr);
}
