#pragma once

#include "print/iprinternotify.h"
#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QList>
#include <QSharedPointer>

#include <functional>
#include <memory>

class NoFocusDelegate;
class PigeonRecord;
class RaceInfo;
QT_BEGIN_NAMESPACE
namespace Ui { class FormRaceDetail; }
QT_END_NAMESPACE

// The page on which a race is finished at the club: its data and pigeon
// lists, and the club procedure Arrive (club time read and the loft time
// reconciled against it), Close, Print on the club router's printer, Upload
// to the cloud service and Delete. Built once by the main window; opened by
// the race list through doRaceActions. GUI thread only; the club calls, the
// upload and printing block it, each holding the screen busy meanwhile.
class FormRaceDetail : public SubWindow, public FormMessageHandler, public IPrinterNotify
{
    Q_OBJECT
public:
    explicit FormRaceDetail(QWidget *parent);
    ~FormRaceDetail() override;

    void doRaceActions(QSharedPointer<RaceInfo> race, FormMessageHandler *caller);

    void onFocus(bool focused) override;
    void onActive() override;
    void onFormMessage(QMessageBox::StandardButton button, void *data) override;
    void onState(ReportPrinter *report, IPrinterNotify::PrintNotifyState state) override;

    // Where the random term of a close arrival comes from (0 to 199 ms);
    // tests fix it. An empty function restores rand() % 200.
    using RandomTerm = std::function<int()>;
    static void setRandomTerm(RandomTerm term);

private slots:
    void on_btnArriveRace_clicked();
    void on_btnDelete_clicked();
    void on_btnPrint_clicked();
    void on_btnUpload_clicked();
    void on_btnArrival_clicked();
    void on_btnNotArrival_clicked();

private:
    void refreshPrintButton();
    void refreshPigeonList();
    void showList(bool arrived);
    // Reconciles the arrival pair into next (a copy of race); when save,
    // stores it and only then makes it the shown race.
    bool doArrive_(RaceInfo &next, bool save);
    void doArrive();
    void doStop();
    void doPrint();
    void doUpload();
    void runClubAction(int action);
    void deleteRace();
    // The stop question, with both times when the device shows them.
    bool stopQuestion(QString *text);
    void tellHandler(RaceInfo *changed);
    bool hasSyncPair() const;
    bool isClosed() const;
    // A race shown, the screen open and no long action running.
    bool canAct() const;

    std::unique_ptr<Ui::FormRaceDetail> ui;
    NoFocusDelegate *delegate = nullptr;
    int pendingAction = 0;
    FormMessageHandler *handler = nullptr;
    bool showArrived = true;
    QSharedPointer<RaceInfo> race;
    QList<QSharedPointer<PigeonRecord>> records;
};
