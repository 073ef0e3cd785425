#include "ui/pigeon/formaddpigeon.h"

#include "core/utc.h"
#include "device/VexPlayer.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"
#include "ui/formkeyboard.h"
#include "ui/formmessage.h"
#include "ui/formmessagehandler.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/screenkit.h"

#include "ui_formaddpigeon.h"

#include <QEvent>
#include <QSharedPointer>

namespace {
constexpr int kScreenHeight = 700;
constexpr int kSexCount = 3; // hen, cock, unknown: the combo index is what is stored

QString asciiUpper(int keyVal)
{
    if (keyVal >= 'a' && keyVal <= 'z')
        keyVal = keyVal - 'a' + 'A';
    return QString(QChar(keyVal));
}
} // namespace

FormAddPigeon::FormAddPigeon(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormAddPigeon>())
{
    ui->setupUi(this);
    for (int sex = 0; sex < kSexCount; ++sex)
        ui->comboBoxSex->addItem(ScreenKit::sexText(sex));
    ui->comboBoxSex->setCurrentIndex(0);

    keyboard = new FormKeyBoard(this);
    keyboard->move(0, kScreenHeight - keyboard->height());
    keyboard->show();
    connect(keyboard, &FormKeyBoard::keyPress, this, &FormAddPigeon::onKeyPress);

    installEventFilter(this);
    ui->editAssocCode->installEventFilter(this);
    ui->editColor->installEventFilter(this);
    ui->editYear->installEventFilter(this);
}

FormAddPigeon::~FormAddPigeon() = default;

void FormAddPigeon::showForm(FormMessageHandler *resultHandler)
{
    handler = resultHandler;
    MainWindow::instance()->pushSubForm(this);
}

bool FormAddPigeon::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == ui->editAssocCode)
            focusedEdit = ui->editAssocCode;
        else if (watched == ui->editColor)
            focusedEdit = ui->editColor;
        else if (watched == ui->editYear)
            focusedEdit = nullptr;
    }
    return SubWindow::eventFilter(watched, event);
}

void FormAddPigeon::onActive()
{
    ui->editAssocCode->clear();
    ui->editColor->clear();
    ui->editAssocCode->setFocus(Qt::OtherFocusReason);
    // The focus-in event reaches the filter only in the active window; the
    // keys must go to the number from the start all the same.
    focusedEdit = ui->editAssocCode;
}

void FormAddPigeon::onFocus(bool focus)
{
    // The stack focuses the screen itself after onActive; the field being
    // typed into keeps its cursor.
    if (focus && focusedEdit)
        focusedEdit->setFocus(Qt::OtherFocusReason);
}

void FormAddPigeon::onKeyPress(int keyVal)
{
    if (!focusedEdit)
        return;
    if (keyVal == Qt::Key_Backspace) {
        focusedEdit->backspace();
        return;
    }
    focusedEdit->insert(focusedEdit == ui->editAssocCode ? asciiUpper(keyVal) : QString(QChar(keyVal)));
}

void FormAddPigeon::on_btnAddPigeon_clicked()
{
    guardedCallWithErrorPrompt("FormAddPigeon::on_btnAddPigeon_clicked", this, [this] { addPigeon(); });
}

void FormAddPigeon::addPigeon()
{
    VexPlayer::playDong();
    const QString assocNum = ui->editAssocCode->text().trimmed().toUpper();
    const int year = ui->editYear->value();
    const QString color = ui->editColor->text().trimmed();
    const int sex = ui->comboBoxSex->currentIndex();
    if (assocNum.isEmpty() || color.isEmpty()) {
        VexPlayer::playError();
        FormMessage::information(this, tr("Warning"), tr("Some information not complete!"), QMessageBox::Ok, nullptr);
        return;
    }
    Storage *storage = Storage::instance();
    if (storage->findPigeonById(assocNum)) {
        VexPlayer::playError();
        FormMessage::information(this, tr("Warning"), tr("Pigeon already exists!"), QMessageBox::Ok, nullptr);
        return;
    }
    auto pigeon = QSharedPointer<PigeonInfo>::create();
    pigeon->assocNum = assocNum;
    pigeon->year = year;
    pigeon->sex = sex;
    pigeon->color = color;
    pigeon->updateTime = UTC::clubTime().value();
    VexPlayer::playOK();
    storage->savePigeon(pigeon.data());
    FormMessageHandler *const resultHandler = handler;
    MainWindow::instance()->popSubForm(SubWindow::DeactiveHide);
    if (resultHandler)
        resultHandler->onFormMessage(QMessageBox::Ok, &pigeon);
}
