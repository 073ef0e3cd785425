#pragma once

#include "print/iprinternotify.h"
#include "ui/formmessagehandler.h"
#include "ui/subwindow.h"

#include <QMetaObject>
#include <QPointer>
#include <QSharedPointer>
#include <QString>

#include <memory>

class MorlanProtocolProcess;
class QTimer;
class RaceInfo;
QT_BEGIN_NAMESPACE
namespace Ui { class FormMarking; }
QT_END_NAMESPACE

// Basketing at the club: each ring held to the club reader is read through
// the club link, given a fresh random number by the router and stored as the
// pigeon's mark for the race; Stop closes basketing with the printed list.
// Built once by the main window, opened by the race selection through
// startRaceMark. GUI thread only; the link's answers arrive as queued signals.
class FormMarking : public SubWindow, public FormMessageHandler, public IPrinterNotify
{
    Q_OBJECT
public:
    explicit FormMarking(QWidget *parent);
    ~FormMarking() override;

    // Opens basketing for the race; clubTime is the club system's time just read.
    void startRaceMark(const QString &raceCode, qint64 clubTime);

    bool canClose() override;
    void onTimeTick(int ms) override;
    void onFocus(bool focused) override;
    void onActive() override;
    void onDeactive(SubWindow::_DeactiveMode mode) override;
    void onFormMessage(QMessageBox::StandardButton button, void *context) override;
    void onState(ReportPrinter *printer, IPrinterNotify::PrintNotifyState state) override;

    // Brings the screen and the reading loop in line with `stopped`.
    void applyWork();
    // Stamps the reader identity and the time pair on a race still open.
    void flushRaceInfo(qint64 clubTime);
    // Closes basketing and prints the list printCount times.
    void doPrintMark();

public slots:
    void onReadTagEnd(QString eRing, quint8 randNum, QString uid);
    void onSetRandomEnd(QString eRing, quint8 randNum);

private slots:
    void on_btnStop_clicked();
    void on_btnPrintMarkingList_clicked();
    void on_btnUpload_clicked(bool checked);
    void on_btnPigeons_clicked();
    void onAnswerLost();

private:
    // The one club command this screen waits for: at most one is in the
    // link at any time, whatever Stop, Start and reopening do.
    enum class Awaited { None, Read, Write };

    // States 3, 4 and 12: basketing closed, nothing is read or changed.
    static bool isBasketingClosed(int state);

    bool isReading() const;
    void connectLink();
    void askRead();
    void askWrite();
    void settleAnswer();
    void keepReading();
    void handleRead(const QString &eRing);
    void doMarkPigeon(const QString &eRing, quint8 randNum);
    void reflushRaceGUI();
    void reflushMarking(bool refreshTotal, const QString &eRing, const QString &assocNum, const QString &sex,
                        const QString &color);
    void showPigeon(const QString &eRing, const QString &assocNum);
    void setUploadSwitch(bool checked);
    QSharedPointer<RaceInfo> storedRace();
    void showBox(const QString &title, const QString &text);
    void showWarning(const QString &text);

    std::unique_ptr<Ui::FormMarking> ui;
    int emptyReadCount = 0;
    bool stopped = true;
    int pendingAction = 0;
    QString lastRing;
    QSharedPointer<RaceInfo> race;
    int uploadedCount = 0;

    Awaited awaited = Awaited::None;
    int activation = 0;      // counts the openings of the screen
    int writeActivation = 0; // the opening in which the awaited write was asked
    QTimer *lostTimer = nullptr;
    QPointer<MorlanProtocolProcess> link;
    QMetaObject::Connection readConnection;
    QMetaObject::Connection writeConnection;
};
