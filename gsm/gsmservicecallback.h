#pragma once

#include <QString>

class GSMService;

// How the modem thread asks the race engine for upload and SMS work and for
// its network settings, and hands it network and cell-location times.
// Implemented by PigeonBo; called only from the modem thread.
class GSMServiceCallback
{
public:
    virtual void onTime(GSMService *service, qint64 utcMs, int source) = 0;
    virtual int doGprsEvent(GSMService *service) = 0;
    virtual int doSmsEvent(GSMService *service) = 0;
    virtual QString getHostIP() = 0;
    virtual QString getSmdPath() = 0;
    virtual QString getApn() = 0;
    virtual QString getNet() = 0;

protected:
    ~GSMServiceCallback() = default;
};

// How a modem driver reports a time it obtained: source 1 network clock,
// 2 GPS, 3 cell-location service. Implemented by GSMService.
class TimeCallback
{
public:
    virtual void onTime(qint64 utcMs, int source) = 0;

protected:
    ~TimeCallback() = default;
};
