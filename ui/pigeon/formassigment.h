#pragma once

#include "ui/pigeon/ringassignmentscreen.h"

#include <QString>

#include <memory>

class ClubReads;
class MorlanProtocolProcess;
class QTimer;
QT_BEGIN_NAMESPACE
namespace Ui { class FormAssigment; }
QT_END_NAMESPACE

// Ring assignment by the club reader: gives one pigeon the ring held to the
// club system's reader, asking the club link for one reading after another
// until a free ring is found. At most one request of this screen is in the
// link at any time, across Cancel, Restart and reopening; a request the link
// drops without an answer is asked again after the lost-read bound. Built
// once by the main window; GUI thread only (answers arrive queued).
class FormAssigment : public RingAssignmentScreen
{
    Q_OBJECT
public:
    explicit FormAssigment(QWidget *parent);
    ~FormAssigment() override;

public slots:
    void onReadTagEnd(QString eRing, quint8 randNum, QString readUid);

protected:
    void startScanTag() override;
    void stopScanTag() override;

private slots:
    void onReadLost();

private:
    // Asks for the next reading unless one of this screen's is outstanding.
    void askRead();
    // Handles one reading; true when scanning goes on.
    bool takeReading(const QString &eRing, const QString &readUid);
    ClubReads *linkReads();

    std::unique_ptr<Ui::FormAssigment> ui;
    // This screen's reads; made for the link published when scanning starts.
    ClubReads *reads = nullptr;
    MorlanProtocolProcess *readsLink = nullptr;
    QTimer *lostTimer = nullptr;
    bool scanning = false;
};
