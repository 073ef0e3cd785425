#pragma once

#include "ui/subwindow.h"

#include <QMetaObject>
#include <QString>

#include <memory>

class QComboBox;
QT_BEGIN_NAMESPACE
namespace Ui { class FormSystem; }
QT_END_NAMESPACE

// The system information: version and system id, the language, the distance
// unit and (where the clock allows it and no race is stored) the time zone,
// saved by Save; the landing boards live and the 20 latest log entries. On
// clocks with the label printer it prints the system id's barcode label at
// every entry. GUI thread; built once by the main window.
class FormSystem : public SubWindow
{
    Q_OBJECT
public:
    explicit FormSystem(QWidget *parent);
    ~FormSystem() override;

    void onActive() override;
    void onDeactive(_DeactiveMode mode) override;

    // The version line for a board type, a modem type and a flags word.
    static QString versionText(int osType, unsigned int gsmType, unsigned int flags);

private slots:
    void on_btnSave_clicked();
    void on_cmbLanguage_currentIndexChanged(int index);
    void onChannelsChanged();

private:
    void save();
    void reflushChannels();
    void refreshLogs();
    void printBar();

    std::unique_ptr<Ui::FormSystem> ui;
    int logPage = 0;
    QMetaObject::Connection channelsConnection;
};
