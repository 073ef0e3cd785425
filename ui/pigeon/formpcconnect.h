#pragma once

#include "ui/subwindow.h"

#include <QMetaObject>

class QGraphicsView;
class QLabel;
class QWidget;

// The screen shown while a PC program works with the device over the club
// line: the link serves the PC (comm mode) while it is shown, and the last
// tip the PC sent stays on it. Leaving reloads the race engine's loft
// settings, which the PC may have changed, and returns the device to race
// work. Built once by the main window; GUI thread only.
class FormPcConnect : public SubWindow
{
    Q_OBJECT
public:
    explicit FormPcConnect(QWidget *parent);
    ~FormPcConnect() override;

    void onActive() override;
    void onDeactive(SubWindow::_DeactiveMode mode) override;

public slots:
    void onShowTip(QString tipInfo);

private:
    QWidget *frameWidget = nullptr;
    QGraphicsView *graphicsView = nullptr;
    QLabel *label = nullptr;
    QLabel *labTip = nullptr;
    QMetaObject::Connection tipConnection;
};
