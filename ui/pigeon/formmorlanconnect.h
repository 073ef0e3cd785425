#pragma once

#include "ui/subwindow.h"

#include <memory>

class MorlanProtocolProcess;
QT_BEGIN_NAMESPACE
namespace Ui { class FormMorlanConnect; }
QT_END_NAMESPACE

// The club-system hub: while it is on the stack the club link is master of
// the club router (club mode) and the ring reader is out of race mode; it
// shows whether a router is connected and has authorised the device, and
// leads to the club-side screens. Leaving it always returns the device to
// race work. Built once by the main window; GUI thread only.
class FormMorlanConnect : public SubWindow
{
    Q_OBJECT
public:
    // A time status the router left unanswered blocked the GUI for the
    // link's answer time; the router is not asked again for this long, so
    // that a silent router costs one blocked tick per pause and the router
    // watch can find it gone meanwhile.
    static constexpr int kStatusPauseMs = 15000;

    explicit FormMorlanConnect(QWidget *parent);
    ~FormMorlanConnect() override;

    void onActive() override;
    void onFocus(bool focused) override;
    void onDeactive(SubWindow::_DeactiveMode mode) override;
    void onTimeTick(int ms) override;

public slots:
    void refreshForm();

private slots:
    void on_btnSetTime_clicked();
    void on_btnAssignment_clicked();
    void on_btnMarking_clicked();
    void on_btnAddRace_clicked();
    void on_btnConnectToPc_clicked();
    void on_btnAddPigeon_clicked();

private:
    static MorlanProtocolProcess *clubLink(const char *caller);
    void setButtonsEnabled(bool enabled);
    // Whether the club time allows basketing (flag 0x8: time status bit 0x4
    // clear). A status read that fails disables it and pauses the reads.
    bool markingAllowed(MorlanProtocolProcess *link);

    std::unique_ptr<Ui::FormMorlanConnect> ui;
    // Monotonic tick before which the time status is not asked again.
    qint64 statusPausedUntilMs = 0;
};
