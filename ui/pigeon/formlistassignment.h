#pragma once

#include "device/lfmodule.h"
#include "ui/subwindow.h"

#include <QMetaObject>
#include <QString>

#include <memory>

class FormMessageHandler;
QT_BEGIN_NAMESPACE
namespace Ui { class FormListAssignment; }
QT_END_NAMESPACE

// Ring assignment by the loft antenna: gives one pigeon the ring held to the
// loft's own landing antenna. Looks at the race engine's readings only while
// it scans, stores the ring on OK and hands the updated pigeon back to the
// screen that opened it, after leaving the stack. Built once by the main
// window; GUI thread only (readings arrive queued from the reader threads).
class FormListAssignment : public SubWindow
{
    Q_OBJECT
public:
    explicit FormListAssignment(QWidget *parent);
    ~FormListAssignment() override;

    // Remembers the pigeon and the handler (may be null) and pushes the
    // screen; scanning starts when the stack activates it.
    void showForm(QString pigeonId, FormMessageHandler *handler);

    void onActive() override;
    void onDeactive(SubWindow::_DeactiveMode mode) override;

public slots:
    void onListTagScaned(LFTAG_INFO lfTag);

private slots:
    void on_btnAssign_clicked();
    void on_btnCancel_clicked();
    void on_btnRestart_clicked();

private:
    void startScanTag();
    void stopScanTag();
    void takeReading(const LFTAG_INFO &lfTag);
    void assign();

    std::unique_ptr<Ui::FormListAssignment> ui;
    FormMessageHandler *handler = nullptr;
    QString assocNum;
    QString eringNum; // the held ring: last accepted or rejected reading
    QString uid;      // the uid of the reading that set the held ring
    QMetaObject::Connection tagConnection;
    // A reading queued before the disconnection may still arrive; only
    // those taken while scanning count.
    bool scanning = false;
};
