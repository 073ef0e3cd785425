#pragma once

#include <QDialog>

#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui { class DialogCalibrate; }
QT_END_NAMESPACE

// The touch test: four small targets near the corners, each naming itself
// when hit, and OK, the only way out. Covers everything under the status bar,
// the Back and Home bar included. Built without parent by the test menu, run
// modally and destroyed on return; it changes no file and no setting.
class DialogCalibrate : public QDialog
{
    Q_OBJECT
public:
    explicit DialogCalibrate(QWidget *parent);
    ~DialogCalibrate() override;

protected:
    // The navigation keys reach the dialog, never the screens beneath it:
    // they act on nothing here either (OK is the only way out).
    void keyPressEvent(QKeyEvent *e) override;

private slots:
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_4_clicked();
    void on_btnOK_clicked();

private:
    void hit(int target);

    std::unique_ptr<Ui::DialogCalibrate> ui;
};
