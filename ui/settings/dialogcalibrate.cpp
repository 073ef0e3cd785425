#include "ui/settings/dialogcalibrate.h"

#include "core/myapp.h"
#include "device/VexPlayer.h"
#include "ui/guardedcall.h"

#include "ui_dialogcalibrate.h"

#include <QKeyEvent>

namespace {
constexpr int kLeft = 0;
constexpr int kTop = 40;
constexpr int kWidth = 480;
constexpr int kHeight = 800;
}

DialogCalibrate::DialogCalibrate(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DialogCalibrate>())
{
    ui->setupUi(this);
    move(kLeft, kTop);
    resize(kWidth, kHeight);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
}

DialogCalibrate::~DialogCalibrate() = default;

void DialogCalibrate::keyPressEvent(QKeyEvent *e)
{
    if (MyApp::isNavigationKey(e->key())) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void DialogCalibrate::hit(int target)
{
    guardedCall("DialogCalibrate::hit", this, [this, target] {
        VexPlayer::playDong();
        ui->labInfo->setText(tr("Click %1").arg(target));
    });
}

void DialogCalibrate::on_pushButton_clicked()
{
    hit(1);
}

void DialogCalibrate::on_pushButton_2_clicked()
{
    hit(2);
}

void DialogCalibrate::on_pushButton_3_clicked()
{
    hit(3);
}

void DialogCalibrate::on_pushButton_4_clicked()
{
    hit(4);
}

void DialogCalibrate::on_btnOK_clicked()
{
    close();
}
