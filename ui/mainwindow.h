#pragma once

#include <QWidget>

#include <atomic>
#include <functional>

class QKeyEvent;
class QLabel;
class QTimer;
class QUdpSocket;

// The one top-level window of the clock. Lives in the GUI thread; its 300 ms
// tick acts on an exit request (from any thread, through requestExit) by
// stopping the services in order and ending the program.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static MainWindow *instance();
    // Only sets a flag: safe from any thread, builds nothing.
    static void requestExit();
    static bool isExitRequested();

    virtual bool doKeyPress(QKeyEvent *event);
    // The UDP port of the close command.
    static quint16 closePort();

private slots:
    void onTickTimeOut();
    void onReceiveUdp();

private:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void doUdpCmd(const QString &cmd);
    void doDestroy();
    void stopStep(const QString &text, const std::function<bool()> &stopped);

    QTimer *timer = nullptr;
    QUdpSocket *udpSocket = nullptr;
    QLabel *labTipInfo = nullptr;
    static std::atomic<bool> exitRequested;
};
