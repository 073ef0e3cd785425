#pragma once

#include "ui/subwindow.h"

#include <QList>
#include <QSharedPointer>

#include <memory>

class Log;
QT_BEGIN_NAMESPACE
namespace Ui { class FormLogs; }
QT_END_NAMESPACE

// The event log, ten entries a page, newest first, with the full text of
// the touched entry below the list. Reads only. GUI thread only.
class FormLogs : public SubWindow
{
    Q_OBJECT
public:
    explicit FormLogs(QWidget *parent);
    ~FormLogs() override;

    void onActive() override;
    int page() const;

private slots:
    void on_btnMovePrev_clicked();
    void on_btnMoveNext_clicked();
    void on_tableLog_currentCellChanged(int currentRow, int currentColumn, int previousRow, int previousColumn);

private:
    void refreshLogs();
    void showPage(int page);

    std::unique_ptr<Ui::FormLogs> ui;
    QList<QSharedPointer<Log>> entries;
    int pageNumber = 0;
};
