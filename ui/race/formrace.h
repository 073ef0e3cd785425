#pragma once

#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QList>
#include <QSharedPointer>
#include <QStringList>

#include <memory>

class QModelIndex;
class RaceInfo;
QT_BEGIN_NAMESPACE
namespace Ui { class FormRace; }
QT_END_NAMESPACE

// The race manager: every stored race, ten to a page, by liberation time and
// code. Add opens the new race screen, a row the race detail; both answer
// through onFormMessage and the rows follow the answer without the page
// being read again. Built once by the main window and opened by the club
// hub through doRaceActions. GUI thread only.
class FormRace : public SubWindow, public FormMessageHandler
{
    Q_OBJECT
public:
    explicit FormRace(QWidget *parent);
    ~FormRace() override;

    // Opens the list with its Add button (the club hub's race manager).
    void doRaceActions();
    // Opens the list without Add.
    void showRaceList();

    void onTimeTick(int ms) override;
    void onFocus(bool focused) override;
    void onActive() override;
    void onFormMessage(QMessageBox::StandardButton button, void *context) override;

private slots:
    void on_btnAdd_clicked();
    void on_tableRaces_clicked(const QModelIndex &index);
    void on_btnPrePage_clicked();
    void on_btnNextPage_clicked();

private:
    void refreshRaceList();
    // Shows the page step pages away; on a failed read the list stays as
    // it was.
    void turnPage(int step);
    void getPageData();
    void refreshRaceTable(int selectRow);
    void refreshRaceItem(int row);
    void setRacesText();
    // The four cells of a race; asks the storage for its two counts.
    QStringList rowTexts(const RaceInfo &race) const;
    void fillRow(int row, const QStringList &texts);
    void raceAdded(void *context);
    void raceDetailAnswered(void *context);

    std::unique_ptr<Ui::FormRace> ui;
    QList<QSharedPointer<RaceInfo>> pageRaces;
    int actionMode = 0;
    bool showAddButton = false;
    int raceCount = 0;
    int curPage = 1;
    int pageCount = 1;
    int pageSize = 10;
};
