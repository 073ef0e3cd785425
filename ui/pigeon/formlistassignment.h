#pragma once

#include "device/lfmodule.h"
#include "ui/pigeon/ringassignmentscreen.h"

#include <QMetaObject>

#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui { class FormListAssignment; }
QT_END_NAMESPACE

// Ring assignment by the loft antenna: gives one pigeon the ring held to the
// loft's own landing antenna. Looks at the race engine's readings only while
// it scans, stores the ring on OK and hands the updated pigeon back to the
// screen that opened it, after leaving the stack. Built once by the main
// window; GUI thread only (readings arrive queued from the reader threads).
class FormListAssignment : public RingAssignmentScreen
{
    Q_OBJECT
public:
    explicit FormListAssignment(QWidget *parent);
    ~FormListAssignment() override;

public slots:
    void onListTagScaned(LFTAG_INFO lfTag);

protected:
    void startScanTag() override;
    void stopScanTag() override;

private:
    void takeReading(const LFTAG_INFO &lfTag);

    std::unique_ptr<Ui::FormListAssignment> ui;
    QMetaObject::Connection tagConnection;
    // A reading queued before the disconnection may still arrive; only
    // those taken while scanning count.
    bool scanning = false;
};
