#pragma once

#include "core/locationinfo.h"
#include "gsm/gsmstate.h"

#include <QThread>

#include <atomic>

class GSMServiceCallback;

// Owns the cellular modem: registration, time and position, then the race
// engine's upload and SMS work through its callback. A polling QThread.
class GSMService : public QThread
{
    Q_OBJECT
public:
    explicit GSMService(GSMServiceCallback *callback, QObject *parent = nullptr);
    ~GSMService() override;

    void requestExit();
    // A copy of the modem state; neutral (flags 0) while there is no driver.
    GsmState getGSMState() const;
    // A copy of the position; no fix while there is no driver.
    LocationInfo getCurrentGPS() const;

protected:
    void run() override;

private:
    GSMServiceCallback *callback = nullptr;
    std::atomic<bool> exitRequested{false};
};
