#pragma once

#include "ui/subwindow.h"

#include <memory>

class FormKeyBoard;
class FormMessageHandler;
QT_BEGIN_NAMESPACE
namespace Ui { class FormAddRace; }
QT_END_NAMESPACE

// The new race: codes, liberation site and time, print count and, where the
// device nominates, PreNom, typed on the screen's own keyboard. Add checks
// the entries, stores the race as new and hands it to the opener after
// this screen has left the stack. Built once by the main window and opened
// by the race list through showForm. GUI thread only.
class FormAddRace : public SubWindow
{
    Q_OBJECT
public:
    explicit FormAddRace(QWidget *parent);
    ~FormAddRace() override;

    // Remembers the screen to answer (may be null) and pushes this one.
    void showForm(FormMessageHandler *caller);

    void onActive() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onKeyPress(int keyVal);
    void on_btnAddRace_clicked();
    void on_btnPreNom_clicked(bool checked);

private:
    void addRace();
    void showPreNom(bool checked);
    void warn(const QString &text);

    std::unique_ptr<Ui::FormAddRace> ui;
    // The field touched last; the keyboard types into it. Kept between
    // openings.
    QWidget *inputWidget = nullptr;
    FormKeyBoard *keyboard = nullptr;
    FormMessageHandler *caller = nullptr;
};
