#pragma once

#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QList>
#include <QSharedPointer>

#include <memory>

class QModelIndex;
class RaceInfo;
QT_BEGIN_NAMESPACE
namespace Ui { class FormMarkingSelectRace; }
QT_END_NAMESPACE

// The choice of the race to basket for: a paged table of the races that can
// still be basketed or whose basketing list can still be printed (states 1
// and 3). A row click reads the club system's time and opens the basketing
// screen with it. Built once by the main window; GUI thread only.
class FormMarkingSelectRace : public SubWindow, public FormMessageHandler
{
    Q_OBJECT
public:
    explicit FormMarkingSelectRace(QWidget *parent);
    ~FormMarkingSelectRace() override;

    void onActive() override;
    void onFocus(bool focused) override;
    void onFormMessage(QMessageBox::StandardButton button, void *context) override;

    void refreshRaceList();

private slots:
    void on_btnPrePage_clicked();
    void on_btnNextPage_clicked();
    void on_tableRaces_clicked(const QModelIndex &index);

private:
    void getPageData();
    void refreshRaceTable();
    void refreshRaceItem(int row);
    void setRacesText();
    void openRace(int row);
    void showError(const QString &text);

    std::unique_ptr<Ui::FormMarkingSelectRace> ui;
    QSharedPointer<RaceInfo> currentRace;
    QList<QSharedPointer<RaceInfo>> races;
    int currentRow = -1; // row of currentRace, -1 before the first click on this page
    int totalCount = 0;
    int currentPage = 1;
    int pageCount = 1;
    int pageSize = 10;
};
