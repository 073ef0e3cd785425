#include "ui/menu.h"

#include "device/VexPlayer.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/marking/formtrain.h"
#include "ui/pigeon/formmember.h"
#include "ui/pigeon/formmorlanconnect.h"
#include "ui/pigeon/formpigeonlist.h"
#include "ui/settings/formcommunication.h"
#include "ui/settings/formsystem.h"
#include "ui/settings/formtest.h"
#include "ui/formhome.h"

#include "ui_menu.h"

#include <QKeyEvent>

namespace {
constexpr int kMenuTop = 40;
constexpr int kFirstItem = 0;
constexpr int kLastItem = 7;
constexpr int kPigeonItem = 2;
const char kHighlight[] = "#widgetFrame%1{border-image: url(:/image/menu/image/btn_menu_greyBG.png);}";
}

FormMenu::FormMenu(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Menu>())
{
    ui->setupUi(this);
    // A QWidget subclass paints its style-sheet background only when asked.
    setAttribute(Qt::WA_StyledBackground);
    selectIndex = kFirstItem;
    move(0, kMenuTop);
    setFocusPolicy(Qt::StrongFocus);
    reflushItems();
}

FormMenu::~FormMenu() = default;

int FormMenu::selectedItem() const
{
    return selectIndex;
}

QWidget *FormMenu::frame(int item) const
{
    return findChild<QWidget *>(QStringLiteral("widgetFrame%1").arg(item));
}

bool FormMenu::doKeyPress(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        doClick();
        return true;
    case Qt::Key_Up:
        if (selectIndex > kFirstItem) {
            clearSelect();
            --selectIndex;
            reflushItems();
        }
        return true;
    case Qt::Key_Down:
        if (selectIndex < kLastItem) {
            clearSelect();
            ++selectIndex;
            reflushItems();
        }
        return true;
    default:
        return false;
    }
}

void FormMenu::doClick()
{
    MainWindow *w = MainWindow::instance();
    if (selectIndex == kPigeonItem) {
        w->formPigeonList->doUserActions();
        return;
    }
    SubWindow *const screens[] = {w->formHome, w->formMember, nullptr, w->formTrain,
                                  w->formCommunication, w->formMorlanConnect, w->formSystem, w->formTest};
    if (selectIndex >= kFirstItem && selectIndex <= kLastItem && screens[selectIndex])
        w->pushSubForm(screens[selectIndex]);
}

void FormMenu::clearSelect()
{
    if (QWidget *f = frame(selectIndex))
        f->setStyleSheet(QString());
}

void FormMenu::reflushItems()
{
    if (QWidget *f = frame(selectIndex))
        f->setStyleSheet(QString::fromLatin1(kHighlight).arg(selectIndex));
}

void FormMenu::touch(int item, const char *where)
{
    VexPlayer::playDong();
    clearSelect();
    selectIndex = item;
    guardedCall(where, this, [this] { doClick(); });
    reflushItems(); // also after a failed opening: exactly one frame is highlighted

}

void FormMenu::on_pushButtonHome_clicked() { touch(0, "FormMenu::on_pushButtonHome_clicked"); }
void FormMenu::on_pushButtonMember_clicked() { touch(1, "FormMenu::on_pushButtonMember_clicked"); }
void FormMenu::on_pushButtonPigeon_clicked() { touch(2, "FormMenu::on_pushButtonPigeon_clicked"); }
void FormMenu::on_pushButtonTraining_clicked() { touch(3, "FormMenu::on_pushButtonTraining_clicked"); }
void FormMenu::on_pushButtonComm_clicked() { touch(4, "FormMenu::on_pushButtonComm_clicked"); }
void FormMenu::on_pushButtonClub_clicked() { touch(5, "FormMenu::on_pushButtonClub_clicked"); }
void FormMenu::on_pushButtonSystem_clicked() { touch(6, "FormMenu::on_pushButtonSystem_clicked"); }
void FormMenu::on_pushButtonTest_clicked() { touch(7, "FormMenu::on_pushButtonTest_clicked"); }
