#pragma once

#include "ui/subwindow.h"

#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui { class FormSmsTest; }
QT_END_NAMESPACE

// The SMS test: a number typed on a digit pad is handed to the race engine,
// which sends a test message to it on the modem thread's next SMS turn. Send
// is refused without a number or while the modem is not registered. The
// number stays in the field between openings. GUI thread only.
class FormSmsTest : public SubWindow
{
    Q_OBJECT
public:
    explicit FormSmsTest(QWidget *parent);
    ~FormSmsTest() override;

private slots:
    void on_pushButton0_clicked();
    void on_pushButton1_clicked();
    void on_pushButton2_clicked();
    void on_pushButton3_clicked();
    void on_pushButton4_clicked();
    void on_pushButton5_clicked();
    void on_pushButton6_clicked();
    void on_pushButton7_clicked();
    void on_pushButton8_clicked();
    void on_pushButton9_clicked();
    void on_pushButtonDel_clicked();
    void on_pushButtonSend_clicked();

private:
    void appendDigit(char digit);
    void send();
    void refuse(const QString &text);

    std::unique_ptr<Ui::FormSmsTest> ui;
};
