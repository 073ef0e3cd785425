#include "ui/settings/formtest.h"

#include "core/platform.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/settings/dialogcalibrate.h"
#include "ui/settings/formconfig.h"
#include "ui/settings/formlcdtest.h"
#include "ui/settings/formlogs.h"
#include "ui/settings/formringtest.h"
#include "ui/settings/formsmstest.h"
#include "ui/settings/restartrequest.h"

#include "ui_formtest.h"

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>

namespace {
constexpr unsigned int kNoSmsFlag = 0x0100;
const char kCalibrationMarker[] = "/mnt/sdcard/calibrate";
const char kPointerCal[] = "/etc/pointercal";

// The coloured keys, in screen order.
enum EntryKey { Blue, Green, Grey, Red };
// The order of the hidden entry. Service staff learn it by word of mouth:
// it appears in no text the clock shows.
constexpr EntryKey kEntryOrder[] = {Red, Blue, Grey, Green};
constexpr int kEntryLength = 4;
constexpr int kEntryDead = 100;

int positionInEntry(int key)
{
    for (int i = 0; i < kEntryLength; ++i) {
        if (kEntryOrder[i] == key)
            return i;
    }
    return -1;
}
} // namespace

FormTest::FormTest(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormTest>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    ring = {ui->btnCalibrate, ui->btnLcdTest, ui->btnRingTest, ui->btnSmsTest, ui->btnLogs};
    current = ui->btnCalibrate;
    ui->btnInit->hide();
}

FormTest::~FormTest() = default;

QPushButton *FormTest::highlighted() const
{
    return current;
}

void FormTest::onActive()
{
    if (HardwareControl::hasFlag(kNoSmsFlag))
        ui->btnSmsTest->setEnabled(false);
    entryStep = 0;
    ui->btnInit->hide();
}

bool FormTest::doKeyPress(QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Down:
        moveHighlight(1);
        return true;
    case Qt::Key_Up:
        moveHighlight(-1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        (current ? current : ui->btnCalibrate)->click();
        return true;
    default:
        return false;
    }
}

void FormTest::moveHighlight(int step)
{
    const int at = qMax(0, ring.indexOf(current));
    QFont font = current->font();
    font.setBold(false);
    current->setFont(font);
    current = ring.at((at + step + ring.size()) % ring.size());
    font = current->font();
    font.setBold(true);
    current->setFont(font);
}

void FormTest::open(const char *where, SubWindow *screen)
{
    guardedCall(where, this, [screen] {
        VexPlayer::playDong();
        MainWindow::instance()->pushSubForm(screen);
    });
}

void FormTest::on_btnRingTest_clicked()
{
    open("FormTest::on_btnRingTest_clicked", MainWindow::instance()->formRingTest);
}

void FormTest::on_btnSmsTest_clicked()
{
    open("FormTest::on_btnSmsTest_clicked", MainWindow::instance()->formSmsTest);
}

void FormTest::on_btnLogs_clicked()
{
    open("FormTest::on_btnLogs_clicked", MainWindow::instance()->formLogs);
}

void FormTest::on_btnInit_clicked()
{
    open("FormTest::on_btnInit_clicked", MainWindow::instance()->formConfig);
}

void FormTest::on_btnLcdTest_clicked()
{
    // The digits instead of the key sound: speaker and display are tried
    // together.
    guardedCall("FormTest::on_btnLcdTest_clicked", this, [] {
        VexPlayer::readWords(QStringLiteral("0123456789"));
        MainWindow::instance()->pushSubForm(MainWindow::instance()->formLcdTest);
    });
}

void FormTest::pressEntryKey(int key)
{
    if (entryStep == positionInEntry(key))
        ++entryStep;
    else
        entryStep = kEntryDead;
    if (entryStep == kEntryLength)
        ui->btnInit->show();
}

void FormTest::on_btnKeyBlue_clicked()
{
    pressEntryKey(Blue);
}

void FormTest::on_btnKeyGreen_clicked()
{
    pressEntryKey(Green);
}

void FormTest::on_btnKeyGrey_clicked()
{
    pressEntryKey(Grey);
}

void FormTest::on_btnKeyRed_clicked()
{
    pressEntryKey(Red);
}

void FormTest::on_btnCalibrate_clicked()
{
    guardedCall("FormTest::on_btnCalibrate_clicked", this, [this] { calibrate(); });
}

void FormTest::calibrate()
{
    VexPlayer::playDong();
    if (QFileInfo::exists(Platform::path(QLatin1String(kCalibrationMarker)))) {
        DialogCalibrate dialog(nullptr);
        dialog.exec();
        return;
    }
    calibrationAsked = true;
    FormMessage::information(this, tr("Warning"), tr(" Please confirm you want to calibrate!"),
                             QMessageBox::Ok | QMessageBox::Cancel, this);
}

void FormTest::onFormMessage(QMessageBox::StandardButton button, void *)
{
    if (button != QMessageBox::Ok || !calibrationAsked)
        return;
    guardedCall("FormTest::onFormMessage", this, [this] { answerCalibration(); });
}

void FormTest::answerCalibration()
{
    calibrationAsked = false;
    const QString pointerCal = Platform::path(QLatin1String(kPointerCal));
    const QFileInfo info(pointerCal);
    // Restarting on a calibration that is still there would only pretend to
    // recalibrate. A missing file is what we want anyway.
    if ((info.exists() || info.isSymLink()) && !QFile::remove(pointerCal)) {
        VexPlayer::playError();
        FormMessage::information(this, tr("Error"), tr("Can not remove calibration file!"), QMessageBox::Ok,
                                 nullptr);
        return;
    }
    requestRestart("FormTest::onFormMessage", QStringLiteral("Calibrate"));
}
