#pragma once

#include "storage/pigeonrecord.h"
#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QList>
#include <QMetaObject>
#include <QSharedPointer>
#include <QStringList>

#include <functional>
#include <memory>

class FormKeyBoard;
class LoftInfo;
class PigeonInfo;
class RaceInfo;
QT_BEGIN_NAMESPACE
namespace Ui { class FormMember; }
QT_END_NAMESPACE

// The fancier's own data: the loft settings above, the ringed pigeons with a
// status word each below, the selected pigeon's details, a search with its
// own keyboard, the re-upload of every arrival and the export to the PC
// program. Follows arrivals live while active and rebuilds the statuses
// every 30 s. GUI thread; built once by the main window.
class FormMember : public SubWindow, public FormMessageHandler
{
    Q_OBJECT
public:
    explicit FormMember(QWidget *parent);
    ~FormMember() override;

    void onActive() override;
    void onFocus(bool focus) override;
    void onDeactive(_DeactiveMode mode) override;
    void onTimeTick(int ms) override;
    bool hasSubWidget() override;
    void deactiveSub() override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void onFormMessage(QMessageBox::StandardButton button, void *context) override;

    // Sets up and opens the PC port; true when it is open.
    bool initPcCommPort();

public slots:
    void onKeyPress(int keyVal);
    void onPigeonBack(PigeonRecord record);

private slots:
    void on_btnSearch_clicked();
    void on_btnUpload_clicked();
    void on_btnOutput_clicked();
    void on_tablePigeons_currentCellChanged(int currentRow, int currentColumn, int previousRow, int previousColumn);

private:
    // The engine's copy of the loft settings, or the stored row while no
    // engine runs.
    static LoftInfo loftInfo();
    void refreshUserInfo();
    void refreshPigeonList();
    void refreshPigeonItem(int row);
    // Every row's status from one read of the records and one of the races.
    void refreshAllItems();
    static QStringList statusesOf(const QList<QSharedPointer<PigeonInfo>> &list);
    void showRow(int row, const QString &status);
    using RaceLookup = std::function<QSharedPointer<RaceInfo>(const QString &raceCode)>;
    static QString statusOf(const PigeonInfo &pigeon, const PigeonRecord &record, const RaceLookup &raceOf);
    void showDetails(int row);
    void runExport();
    // A refresh the screen starts itself (tick, arrival): a database failure
    // is logged and the rows keep what they showed.
    void quietly(const char *where, const std::function<void()> &action);

    std::unique_ptr<Ui::FormMember> ui;
    FormKeyBoard *keyboard = nullptr;
    QList<QSharedPointer<PigeonInfo>> pigeons;
    int pendingAction = 0;
    int refreshCountdownMs = 0;
    QMetaObject::Connection backConnection;
};
