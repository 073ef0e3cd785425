#pragma once

#include "storage/pigeoninfo.h"
#include "ui/formmessagehandler.h"
#include "ui/mainwindow.h"

#include <QList>
#include <QSharedPointer>

// Stands in for the screen that opens a screen for its result: notes each
// answer, copies the pigeon out of the context while the call lasts (the
// pointer is not valid afterwards) and whether the opened screen had left
// the stack by then.
class RecordingHandler : public FormMessageHandler
{
public:
    explicit RecordingHandler(const SubWindow *openedScreen)
        : opened(openedScreen)
    {
    }

    void onFormMessage(QMessageBox::StandardButton button, void *context) override
    {
        buttons << button;
        const auto *pigeon = static_cast<const QSharedPointer<PigeonInfo> *>(context);
        pigeons << (pigeon && *pigeon ? **pigeon : PigeonInfo());
        openedStillOnTop << (MainWindow::instance()->topSubForm() == opened);
    }

    int calls() const { return buttons.size(); }

    QList<QMessageBox::StandardButton> buttons;
    QList<PigeonInfo> pigeons;
    QList<bool> openedStillOnTop;

private:
    const SubWindow *opened;
};
