#pragma once

#include <QString>
#include <QThread>

#include <atomic>

// Polls the inner ring-reader module and hands new channels and tags to the
// race engine. A polling QThread: run() owns the module's serial port;
// requests from other threads arrive through atomics.
class RFIDService : public QThread
{
    Q_OBJECT
public:
    RFIDService(const QString &portName, int raceMode, QObject *parent = nullptr);
    ~RFIDService() override;

    void requestExit();
    void setRaceMode(int mode);
    int getRaceMode() const;
    bool isValid() const;

    // The module's device type; 0 until a module has reported one.
    int getRfDevType() const;
    // Asks the next poll to write the device clock into a module that keeps
    // a clock of its own. Callable from any thread.
    void requestVerifyDevTime();

protected:
    void run() override;

private:
    QString portName;
    std::atomic<bool> exitRequested{false};
    std::atomic<int> raceMode{0};
    std::atomic<bool> verifyDevTimeRequested{false};
};
