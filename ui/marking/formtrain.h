#pragma once

#include "storage/pigeonrecord.h"
#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QMetaObject>

#include <memory>

class QTableWidget;
QT_BEGIN_NAMESPACE
namespace Ui { class FormTrain; }
QT_END_NAMESPACE

// The training flight: the loft's ringed pigeons not basketed for a race, in
// two lists (arrived, with time and speed; not arrived), the liberation time,
// and Reset, which asks the start screen for a new flight and renews the
// training records on its answer. Reloads while active whenever the race
// engine stores an arrival. Built once by the main window; GUI thread only.
class FormTrain : public SubWindow, public FormMessageHandler
{
    Q_OBJECT
public:
    explicit FormTrain(QWidget *parent);
    ~FormTrain() override;

    void onActive() override;
    void onDeactive(_DeactiveMode mode) override;
    // The start screen's answer; a failure here passes on to its caller,
    // which reports it.
    void onFormMessage(QMessageBox::StandardButton button, void *context) override;

    void refreshArrivedList();
    void refreshNotArrivedList();

public slots:
    void onPigeonBack(PigeonRecord record);

private slots:
    void on_btnArrived_clicked();
    void on_btnNotArrived_clicked();
    void on_btnReset_clicked();

private:
    void setUpTable();
    void reloadShownList();
    void switchList(bool arrived);
    void reloadIfStillActive();
    void showTabs(bool arrivedSelected);
    void showLiberTime(qint64 liberTime);

    std::unique_ptr<Ui::FormTrain> ui;
    bool showArrived = true;
    int pendingAction = 0;
    QMetaObject::Connection backConnection;
    bool reloadQueued = false;
};
