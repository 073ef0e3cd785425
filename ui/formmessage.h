#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include <memory>

class FormMessageHandler;
class QKeyEvent;
QT_BEGIN_NAMESPACE
namespace Ui { class FormMessage; }
QT_END_NAMESPACE

// The one message box of the system: a non-modal, frameless top-level window
// over the middle of the screen for results, errors, questions and progress
// texts. information() returns at once; an answer reaches the caller's
// handler later. The asking screen is disabled while the box is open.
// Built on first use; destroyed before the application object. GUI thread only.
class FormMessage : public QDialog
{
    Q_OBJECT
public:
    static FormMessage *instance();
    // Deletes the box if it was built; the program calls it before the
    // application object goes.
    static void destroyInstance();

    static void information(QWidget *parent, const QString &title, const QString &text,
                            QMessageBox::StandardButtons buttons, FormMessageHandler *handler);

    void setText(const QString &text);
    void deactive();
    bool isActived() const;
    bool isLocked() const;
    void lock();
    void unlock();
    bool doKeyPress(QKeyEvent *e);

    QString title() const;
    QString text() const;

protected:
    void keyPressEvent(QKeyEvent *e) override;

private slots:
    void on_btnOK_clicked();
    void on_btnCancel_clicked();

private:
    FormMessage();
    ~FormMessage() override;

    void showBox(QWidget *parent, const QString &title, const QString &text,
                 QMessageBox::StandardButtons buttons, FormMessageHandler *handler);
    void closeBox();

    std::unique_ptr<Ui::FormMessage> ui;
    bool active = false;
    bool locked = false;
    QPointer<QWidget> parentForm;
    FormMessageHandler *handler = nullptr;

    static FormMessage *_instance;
};
