#pragma once

#include "ui/subwindow.h"

#include <memory>

class FormKeyBoard;
class FormMessageHandler;
class QLineEdit;
QT_BEGIN_NAMESPACE
namespace Ui { class FormTrainStart; }
QT_END_NAMESPACE

// The start of a training flight: liberation date and time (preset to the
// club time) and the distance, typed on the screen's own keyboard. Start
// checks them, stores them as parameters, closes the screen and answers Ok
// to the screen that opened it; leaving otherwise stores and answers nothing.
// Built once by the main window; GUI thread only.
class FormTrainStart : public SubWindow
{
    Q_OBJECT
public:
    explicit FormTrainStart(QWidget *parent);
    ~FormTrainStart() override;

    // Opens the screen; handler hears Ok after a successful start.
    void showForm(FormMessageHandler *handler);

    void onActive() override;
    void onDeactive(_DeactiveMode mode) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void onKeyPress(int keyVal);

private slots:
    void on_btnStartTrain_clicked();

private:
    void preset();
    void start();
    // Reads the two distance fields; false when they make no distance the
    // parameter can hold.
    bool readDistance(int *distance) const;
    void refuse(const QString &text);

    std::unique_ptr<Ui::FormTrainStart> ui;
    FormMessageHandler *resultHandler = nullptr;
    FormKeyBoard *keyBoard = nullptr;
    QLineEdit *currentEdit = nullptr;
};
