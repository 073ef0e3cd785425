#pragma once

#include "ui/subwindow.h"

#include <memory>

class FormKeyBoard;
class FormMessageHandler;
class QLineEdit;
QT_BEGIN_NAMESPACE
namespace Ui { class FormAddPigeon; }
QT_END_NAMESPACE

// Registers one new pigeon without a ring: number and colour typed on the
// screen's own keyboard, year and sex picked. Opened for a result by the
// pigeon list, which gets the stored pigeon after this screen has left the
// stack. Built once by the main window; GUI thread only.
class FormAddPigeon : public SubWindow
{
    Q_OBJECT
public:
    explicit FormAddPigeon(QWidget *parent);
    ~FormAddPigeon() override;

    // Remembers the handler (may be null) and pushes the screen.
    void showForm(FormMessageHandler *handler);

    bool eventFilter(QObject *watched, QEvent *event) override;
    void onActive() override;
    void onFocus(bool focus) override;

private slots:
    void on_btnAddPigeon_clicked();
    void onKeyPress(int keyVal);

private:
    void addPigeon();

    std::unique_ptr<Ui::FormAddPigeon> ui;
    // The edit the keyboard types into; null while the year has the focus.
    QLineEdit *focusedEdit = nullptr;
    FormKeyBoard *keyboard = nullptr;
    FormMessageHandler *handler = nullptr;
};
