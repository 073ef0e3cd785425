#pragma once

#include <QString>
#include <QThread>

#include <atomic>

// The club-link thread: owns the club-link serial port in one of its work
// modes. Other threads request a mode; the thread applies it on its next pass.
class MorlanProtocolProcess : public QThread
{
    Q_OBJECT
public:
    enum WorkMode { Exit = 0, Idle = 1, Normal = 2, ClubMaster = 3, CommSlave = 4 };

    MorlanProtocolProcess(const QString &portName, QObject *parent = nullptr);
    ~MorlanProtocolProcess() override;

    void switchWorkMode(int mode, bool wait);
    int getWorkMode() const;
    void requestExit();
    bool isConnectorReady() const;

protected:
    void run() override;

private:
    QString portName;
    std::atomic<int> requestedMode{Idle};
    std::atomic<int> currentMode{Idle};
};
