#pragma once

#include "ui/subwindow.h"

#include <QVariant>

#include <memory>

class FormKeyBoard;
class QComboBox;
class QLineEdit;
QT_BEGIN_NAMESPACE
namespace Ui { class FormCommunication; }
QT_END_NAMESPACE

// The communication settings: SMS notification and its five phones, the
// upload mode, the APN, the club connector's channel, the print options and
// the spoken ring number, stored by Save where each one changed; "Device
// Reset" ends the program. Its own keyboard serves the APN and the phones.
// GUI thread; built once by the main window.
class FormCommunication : public SubWindow
{
    Q_OBJECT
public:
    explicit FormCommunication(QWidget *parent);
    ~FormCommunication() override;

    void onActive() override;
    bool hasSubWidget() override;
    void deactiveSub() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void onKeyPress(int keyVal);

private slots:
    void on_btnPhone1Clear_clicked();
    void on_btnPhone2Clear_clicked();
    void on_btnPhone3Clear_clicked();
    void on_btnPhone4Clear_clicked();
    void on_btnPhone5Clear_clicked();
    void on_btnApnClear_clicked();
    void on_btnVoiceMode_clicked(bool checked);
    void on_btnButtonSave_clicked();
    void on_btnButtonReset_clicked();

private:
    void fillCombos();
    void save();
    // Stores a parameter when the combo shows a value other than the stored
    // one; true when it did.
    static bool saveParam(QComboBox *combo, const QString &key, int storedDefault);
    void clearPhone(int row);
    void lightPhoneRow(int row, bool lit);
    void showVoiceTick(bool checked);
    int phoneRowOf(const QObject *watched) const;

    std::unique_ptr<Ui::FormCommunication> ui;
    FormKeyBoard *keyboard = nullptr;
    QLineEdit *keyTarget = nullptr;
    QList<QLineEdit *> phoneEdits;
};
