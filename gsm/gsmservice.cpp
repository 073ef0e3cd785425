#include "gsm/gsmservice.h"

#include "core/servicefactory.h"
#include "device/hardware_control.h"
#include "storage/storage.h"

namespace {
constexpr int kIdleMs = 100;
constexpr int kStopWaitMs = 5000;
}

GSMService::GSMService(GSMServiceCallback *cb, QObject *parent)
    : QThread(parent)
    , callback(cb)
{
}

GSMService::~GSMService()
{
    requestExit();
    wait(kStopWaitMs);
}

void GSMService::requestExit()
{
    exitRequested = true;
}

void GSMService::run()
{
    while (!exitRequested)
        HardwareControl::wait(kIdleMs);
    Storage::destroy();
    ServiceFactory::debug(QStringLiteral("GSMService Exit!"));
}

GsmState GSMService::getGSMState() const
{
    return GsmState();
}

LocationInfo GSMService::getCurrentGPS() const
{
    return LocationInfo();
}
