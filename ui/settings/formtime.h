#pragma once

#include "ui/subwindow.h"

#include <memory>

class MorlanProtocolProcess;
class QComboBox;
QT_BEGIN_NAMESPACE
namespace Ui { class FormTime; }
QT_END_NAMESPACE

// The club system's time, opened from the club hub: sets the club router's
// clock from six choosers, or takes the router's time into the device
// clock. Both actions block the GUI thread for one synchronous club call
// (the link's bound). Built once by the main window; GUI thread only.
class FormTime : public SubWindow
{
    Q_OBJECT
public:
    explicit FormTime(QWidget *parent);
    ~FormTime() override;

    void onActive() override;

private slots:
    void on_btnSet_clicked();
    void on_btnSync_clicked();

private:
    static int valueOf(const QComboBox *box);
    // The published club link; throws as a silent link does when none runs.
    static MorlanProtocolProcess *clubLink();
    void sendTime(qint64 utcMs);
    void takeClubTime();

    std::unique_ptr<Ui::FormTime> ui;
};
