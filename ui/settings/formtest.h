#pragma once

#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <memory>

class QPushButton;
QT_BEGIN_NAMESPACE
namespace Ui { class FormTest; }
QT_END_NAMESPACE

// The service and test menu: opens the touch, LCD, ring and SMS tests and
// the event log, asks for a touch recalibration, and holds a hidden entry
// (four coloured keys pressed in one order) to the configuration screen.
// Up and Down move a highlight round the five test buttons; Return clicks
// it. GUI thread only.
class FormTest : public SubWindow, public FormMessageHandler
{
    Q_OBJECT
public:
    explicit FormTest(QWidget *parent);
    ~FormTest() override;

    void onActive() override;
    bool doKeyPress(QKeyEvent *e) override;
    void onFormMessage(QMessageBox::StandardButton button, void *context) override;

    QPushButton *highlighted() const;

private slots:
    void on_btnCalibrate_clicked();
    void on_btnLcdTest_clicked();
    void on_btnRingTest_clicked();
    void on_btnSmsTest_clicked();
    void on_btnLogs_clicked();
    void on_btnInit_clicked();
    void on_btnKeyBlue_clicked();
    void on_btnKeyGreen_clicked();
    void on_btnKeyGrey_clicked();
    void on_btnKeyRed_clicked();

private:
    void moveHighlight(int step);
    void pressEntryKey(int key);
    void open(const char *where, SubWindow *screen);
    void calibrate();
    void answerCalibration();

    std::unique_ptr<Ui::FormTest> ui;
    QList<QPushButton *> ring;
    QPushButton *current = nullptr;
    int entryStep = 0;
    bool calibrationAsked = false;
};
