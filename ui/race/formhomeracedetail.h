#pragma once

#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QList>
#include <QMetaObject>
#include <QSharedPointer>

#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui { class FormHomeRaceDetail; }
QT_END_NAMESPACE

// One race opened from the home screen: its data, the arrived or the
// not-yet-arrived pigeons with the selected pigeon's detail, the basketing
// upload counter, and the two actions stop-and-upload and delete. Built once
// by the main window; GUI thread only. Follows the race engine's pigeonBack
// (queued) while open; the upload blocks the GUI thread within the mailbox's
// bound.
class FormHomeRaceDetail : public SubWindow, public FormMessageHandler
{
    Q_OBJECT
public:
    explicit FormHomeRaceDetail(QWidget *parent);
    ~FormHomeRaceDetail() override;

    // Opens the screen on race (a null race opens nothing); handler hears
    // of a deletion or an upload.
    void showRaceDetail(QSharedPointer<RaceInfo> race, FormMessageHandler *handler);

    void onActive() override;
    void onDeactive(_DeactiveMode mode) override;
    void onTimeTick(int ms) override;
    void onFormMessage(QMessageBox::StandardButton button, void *data) override;

private slots:
    void on_btnArrival_clicked();
    void on_btnNotArrival_clicked();
    void on_btnDelete_clicked();
    void on_btnCloseUl_clicked();
    void on_tableRecords_currentCellChanged(int currentRow, int currentColumn, int previousRow, int previousColumn);
    void onPigeonBack(PigeonRecord record);

private:
    void flushGUI();
    void refreshPigeonList();
    void showList(bool arrived);
    void showPigeon(int index);
    void deleteRace();
    void stopAndUpload();
    void doStop();
    qint64 doArrive_(RaceInfo *stopped);
    void doUpload();

    std::unique_ptr<Ui::FormHomeRaceDetail> ui;
    int pendingAction = 0; // 1 delete, 2 stop and upload: what the open question asks
    FormMessageHandler *handler = nullptr;
    bool showArrived = true;
    QSharedPointer<RaceInfo> race;
    QList<QSharedPointer<PigeonRecord>> records;
    int uploadCountdown = 0; // ms until the upload counter is read again; kept across openings
    QMetaObject::Connection backConnection;
    bool listRefreshQueued = false; // a burst of arrivals already queued costs one refresh
};
