#pragma once

#include <QWidget>

#include <memory>

class QKeyEvent;
QT_BEGIN_NAMESPACE
namespace Ui { class Menu; }
QT_END_NAMESPACE

// The main menu: eight icon buttons, one of them selected, under every
// screen of the main window. Touch opens an item; Up and Down move the
// selection and Return or Enter opens it while the screen stack is empty.
// A plain child of the main window, built once. GUI thread only.
class FormMenu : public QWidget
{
    Q_OBJECT
public:
    explicit FormMenu(QWidget *parent);
    ~FormMenu() override;

    bool doKeyPress(QKeyEvent *event);
    void doClick();
    void clearSelect();
    void reflushItems();
    int selectedItem() const;

private slots:
    void on_pushButtonHome_clicked();
    void on_pushButtonMember_clicked();
    void on_pushButtonPigeon_clicked();
    void on_pushButtonTraining_clicked();
    void on_pushButtonComm_clicked();
    void on_pushButtonClub_clicked();
    void on_pushButtonSystem_clicked();
    void on_pushButtonTest_clicked();

private:
    void touch(int item, const char *where);
    QWidget *frame(int item) const;

    std::unique_ptr<Ui::Menu> ui;
    int selectIndex = 0;
};
