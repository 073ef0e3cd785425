#pragma once

#include "storage/pigeonrecord.h"
#include "ui/subwindow.h"

#include <QMetaObject>

#include <memory>

class QModelIndex;
QT_BEGIN_NAMESPACE
namespace Ui { class FormHome; }
QT_END_NAMESPACE

// The home screen: the loft at a glance (loft, fancier, landing-board
// channels, pigeons, position), the latest return received while it is open,
// and the races with their marked and arrived counts; a race opens its home
// race detail. Built once by the main window; GUI thread only. Follows the
// race engine's pigeonBack (queued) from opening to closing.
class FormHome : public SubWindow
{
    Q_OBJECT
public:
    explicit FormHome(QWidget *parent);
    ~FormHome() override;

    void onTimeTick(int ms) override;
    void onFocus(bool focus) override;
    void onActive() override;
    void onDeactive(_DeactiveMode mode) override;

public slots:
    void onPigeonBack(PigeonRecord record);

private slots:
    void on_btnGoToTrain_clicked();
    void on_tableRaceInfo_clicked(const QModelIndex &index);
    void on_btnNomination_clicked();

private:
    void refreshInfo();
    void refreshRace();
    void refreshGPS();
    void refreshChannels();
    void showReturn(const PigeonRecord &record);
    void applyArrivals();

    std::unique_ptr<Ui::FormHome> ui;
    QMetaObject::Connection backConnection;
    // Arrivals received since the last table rebuild: a burst already queued
    // costs one rebuild, run once the queue has been worked off.
    QList<PigeonRecord> arrivals;
};
