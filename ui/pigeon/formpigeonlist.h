#pragma once

#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QList>
#include <QSharedPointer>
#include <QString>

#include <memory>

class FormKeyBoard;
class PigeonInfo;
class PigeonRecord;
QT_BEGIN_NAMESPACE
namespace Ui { class FormPigeonList; }
QT_END_NAMESPACE

// The pigeon list in its four uses: the fancier's list (user mode), the club
// hub's pigeon management, and the pigeons basketed for one race, to look at
// or to unmark. Searches by association number, adds, deletes, assigns and
// unassigns rings and unmarks; what the screens it opens hand back, and the
// answers of its confirmations, come through onFormMessage. Built once by
// the main window; GUI thread only, on the GUI thread's Storage.
class FormPigeonList : public SubWindow, public FormMessageHandler
{
    Q_OBJECT
public:
    enum PigeonListMode { ModeUser = 1, ModeManage = 2, ModeRaceView = 3, ModeRaceUnmark = 4 };

    explicit FormPigeonList(QWidget *parent);
    ~FormPigeonList() override;

    // Opens the list in user mode with no race filter.
    void doUserActions();
    // Opens the list for the club hub's pigeon management.
    void doManageActions();
    // Opens the pigeons basketed for the race: to unmark them while the
    // race is new, only to look at them otherwise (or for no such race).
    void showMarking(QString raceCode);

    bool eventFilter(QObject *watched, QEvent *event) override;
    bool hasSubWidget() override;
    void deactiveSub() override;
    void onFocus(bool focus) override;
    void onActive() override;
    void onFormMessage(QMessageBox::StandardButton button, void *context) override;

private slots:
    void on_btnSearch_clicked();
    void on_btnAddPigeon_clicked();
    void on_btnAssigment_clicked();
    void on_btnDelete_clicked();
    void on_tablePigeons_currentCellChanged(int currentRow, int currentColumn, int previousRow, int previousColumn);
    void onKeyPress(int keyVal);

private:
    enum Pending { PendingNone = 0, PendingAdd = 1, PendingDelete = 2, PendingAssigned = 3,
                   PendingUnassign = 4, PendingUnmark = 5 };

    void setButtonsForMode();
    void refreshPigeonList();
    QList<QSharedPointer<PigeonInfo>> loadPigeons();
    void refreshPigeonTable(int row);
    void refreshPigeonItem(int row);
    void showButtonsFor(const PigeonInfo &pigeon, bool marked);
    void showDetails(const PigeonInfo &pigeon);
    void hideKeyboard();
    QSharedPointer<PigeonInfo> pigeonAt(int row) const;
    void continueAction(void *context);
    void addPigeon(const QSharedPointer<PigeonInfo> &pigeon);
    void deletePigeon(int row);
    void ringAssigned(int row, const PigeonInfo &updated);
    void unassignPigeon(int row);
    void unmarkPigeon(int row);
    void removeRow(int row);

    std::unique_ptr<Ui::FormPigeonList> ui;
    int mode = 0;
    QString raceCode;
    int pendingAction = PendingNone;
    int userMode = 2;
    QList<QSharedPointer<PigeonInfo>> pigeons; // row i of the table shows element i
    FormKeyBoard *keyboard = nullptr;
};
