#include "ui/formmessage.h"

#include "ui/formmessagehandler.h"

#include "ui_formmessage.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace {
constexpr int kBoxLeft = 0;
constexpr int kBoxTop = 240;
constexpr int kButtonTop = 180;
constexpr int kOkAloneLeft = 160;
constexpr int kOkPairLeft = 70;
constexpr int kCancelLeft = 260;
}

FormMessage *FormMessage::_instance = nullptr;

FormMessage *FormMessage::instance()
{
    if (!_instance)
        _instance = new FormMessage();
    return _instance;
}

void FormMessage::destroyInstance()
{
    delete _instance;
    _instance = nullptr;
}

FormMessage::FormMessage()
    : QDialog(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , ui(std::make_unique<Ui::FormMessage>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    move(kBoxLeft, kBoxTop);
    hide();
}

FormMessage::~FormMessage() = default;

void FormMessage::information(QWidget *parent, const QString &title, const QString &text,
                              QMessageBox::StandardButtons buttons, FormMessageHandler *handler)
{
    instance()->showBox(parent, title, text, buttons, handler);
}

void FormMessage::showBox(QWidget *parent, const QString &title, const QString &text,
                          QMessageBox::StandardButtons buttons, FormMessageHandler *answerTo)
{
    locked = false;
    // Another screen's box gives way: that screen is enabled again. The same
    // screen only gets its box refilled and stays disabled.
    if (active && parent != parentForm)
        closeBox();
    active = true;
    parentForm = parent;
    handler = answerTo; // an earlier handler never hears an answer

    ui->labTitle->setText(title);
    ui->labInfo->setText(text);

    // The flags are compared as one value: Ok|Cancel is 0x400400.
    if (buttons == QMessageBox::StandardButtons(QMessageBox::Ok)) {
        ui->btnOK->move(kOkAloneLeft, kButtonTop);
        ui->btnOK->show();
        ui->btnCancel->hide();
    } else if (buttons == (QMessageBox::Ok | QMessageBox::Cancel)) {
        ui->btnOK->move(kOkPairLeft, kButtonTop);
        ui->btnOK->show();
        ui->btnCancel->move(kCancelLeft, kButtonTop);
        ui->btnCancel->show();
    } else if (buttons == QMessageBox::StandardButtons(QMessageBox::NoButton)) {
        ui->btnOK->hide();
        ui->btnCancel->hide();
        locked = true;
    }

    if (parentForm)
        parentForm->setEnabled(false);
    ui->btnOK->setEnabled(true);
    QDialog::show();
    raise();
    activateWindow();
    QWidget::setFocus(Qt::OtherFocusReason);
    // Paint the box before the caller goes on with possibly long work.
    QCoreApplication::processEvents();
}

void FormMessage::closeBox()
{
    if (parentForm)
        parentForm->setEnabled(true);
    hide();
    active = false;
    QCoreApplication::processEvents();
}

void FormMessage::setText(const QString &text)
{
    ui->labInfo->setText(text);
    QCoreApplication::processEvents();
}

void FormMessage::deactive()
{
    if (active)
        closeBox();
}

bool FormMessage::isActived() const { return active; }
bool FormMessage::isLocked() const { return locked; }
void FormMessage::lock() { locked = true; }
void FormMessage::unlock() { locked = false; }
QString FormMessage::title() const { return ui->labTitle->text(); }
QString FormMessage::text() const { return ui->labInfo->text(); }

bool FormMessage::doKeyPress(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        on_btnOK_clicked();
        return true;
    }
    return false;
}

void FormMessage::keyPressEvent(QKeyEvent *e)
{
    // The main window routes Escape, Return and Enter; the dialog's own
    // handling (reject on Escape, default button on Return) would close the
    // box behind the stack's back.
    QWidget::keyPressEvent(e);
}

void FormMessage::on_btnOK_clicked()
{
    FormMessageHandler *answerTo = handler; // the event pass may refill the box
    deactive();
    if (answerTo) {
        QCoreApplication::processEvents();
        answerTo->onFormMessage(QMessageBox::Ok, nullptr);
    }
}

void FormMessage::on_btnCancel_clicked()
{
    deactive();
    if (handler)
        handler->onFormMessage(QMessageBox::Cancel, nullptr);
}
