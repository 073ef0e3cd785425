#pragma once

#include "print/iprinternotify.h"
#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QList>
#include <QSharedPointer>

#include <memory>

class PigeonInfo;
QT_BEGIN_NAMESPACE
namespace Ui { class FormPigeonsAssignment; }
QT_END_NAMESPACE

// The club hub's ring assignment: every registered pigeon with its ring;
// gives a ring through the club reader (FormAssigment), takes one off after
// a confirmation, and prints the assigned rings on the club router's printer,
// blocking until the print is done. Built once by the main window; GUI
// thread only, on the GUI thread's Storage.
class FormPigeonsAssignment : public SubWindow, public FormMessageHandler, public IPrinterNotify
{
    Q_OBJECT
public:
    explicit FormPigeonsAssignment(QWidget *parent);
    ~FormPigeonsAssignment() override;

    // Opens the list for assigning and unassigning rings (the club hub).
    void doAssignActions();

    void onActive() override;
    void onFocus(bool focused) override;
    void onFormMessage(QMessageBox::StandardButton button, void *context) override;
    void onState(ReportPrinter *printer, IPrinterNotify::PrintNotifyState state) override;

private slots:
    void on_btnAssign_clicked();
    void on_btnUnassign_clicked();
    void on_btnPrint_clicked();
    void on_tablePigeons_currentCellChanged(int currentRow, int currentColumn, int previousRow, int previousColumn);

private:
    enum Pending { PendingNone = 0, PendingAssign = 1, PendingUnassign = 2 };

    void refreshPigeonList();
    void refreshPigeonTable(int row);
    void refreshPigeonItem(int row);
    QSharedPointer<PigeonInfo> pigeonAt(int row) const;
    // The pigeon of the selected row, or null.
    QSharedPointer<PigeonInfo> selectedPigeon() const;
    void continueAction(QMessageBox::StandardButton button, void *context);
    void ringAssigned(int row, const PigeonInfo &updated);
    void unassignPigeon(int row);
    void printAssigned();

    std::unique_ptr<Ui::FormPigeonsAssignment> ui;
    int assignMode = 0; // 1 once opened by doAssignActions: the buttons follow the selection
    int pendingAction = PendingNone;
    QList<QSharedPointer<PigeonInfo>> pigeons; // row i of the table shows element i
};
