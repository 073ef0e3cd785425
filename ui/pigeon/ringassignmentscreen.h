#pragma once

#include "ui/subwindow.h"

#include <QString>

class FormMessageHandler;
class QLabel;
class QPushButton;

// What the two ring-assignment screens share: the pigeon and its handler,
// the held ring, the judgement of a ring read (prefix rule, already
// assigned), and OK, Cancel and Restart. A screen supplies its widgets and
// where its readings come from (startScanTag, stopScanTag). GUI thread only.
class RingAssignmentScreen : public SubWindow
{
    Q_OBJECT
public:
    ~RingAssignmentScreen() override;

    // Remembers the pigeon and the handler (may be null) and pushes the
    // screen; scanning starts when the stack activates it.
    void showForm(QString pigeonId, FormMessageHandler *handler);

    void onActive() override;
    void onDeactive(SubWindow::_DeactiveMode mode) override;

protected:
    struct Widgets
    {
        QLabel *labAssocNum = nullptr;
        QLabel *labEringNum = nullptr;
        QLabel *labTipInfo = nullptr;
        QPushButton *btnAssign = nullptr;
        QPushButton *btnRestart = nullptr;
    };

    explicit RingAssignmentScreen(QWidget *parent);
    // The generated layout's widgets; OK starts disabled.
    void useWidgets(const Widgets &layout);

    virtual void startScanTag() = 0;
    virtual void stopScanTag() = 0;

    // The common start of scanning: nothing held, the pigeon shown, the
    // ring display cleared, "Scanning...", OK and Restart disabled.
    void showScanning();
    // An empty reading: a held ring is forgotten and the display goes back
    // to "Scanning..." (the held uid stays).
    void dropHeldRing();
    // The ring becomes the held ring and is judged; true when it is free,
    // OK enabled and "Click <OK> to assign!" shown. The caller stops scanning.
    bool takeRing(const QString &ring, const QString &ringUid);
    const QString &heldRing() const { return eringNum; }
    void setTip(const char *text);

private slots:
    void on_btnAssign_clicked();
    void on_btnCancel_clicked();
    void on_btnRestart_clicked();

private:
    void assign();
    // Texts are translated in the screen's own context.
    QString text(const char *source) const;
    // "<ClassName>::<what>", as the catch sites log it.
    QByteArray where(const char *what) const;

    Widgets widgets;
    FormMessageHandler *handler = nullptr;
    QString assocNum;
    QString eringNum; // the held ring: last accepted or rejected reading
    QString uid;      // the uid of the reading that set the held ring
};
