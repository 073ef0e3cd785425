#include "device/rfidservice.h"

#include "core/servicefactory.h"
#include "device/hardware_control.h"
#include "storage/storage.h"

namespace {
constexpr int kPollMs = 100;
constexpr int kStopWaitMs = 5000;
}

RFIDService::RFIDService(const QString &port, int mode, QObject *parent)
    : QThread(parent)
    , portName(port)
    , raceMode(mode)
{
}

RFIDService::~RFIDService()
{
    requestExit();
    wait(kStopWaitMs);
}

void RFIDService::requestExit()
{
    exitRequested = true;
}

void RFIDService::setRaceMode(int mode)
{
    raceMode = mode;
}

int RFIDService::getRaceMode() const
{
    return raceMode;
}

bool RFIDService::isValid() const
{
    return false; // no reader module is connected
}

int RFIDService::getRfDevType() const
{
    return 0;
}

void RFIDService::requestVerifyDevTime()
{
    verifyDevTimeRequested = true;
}

void RFIDService::run()
{
    while (!exitRequested)
        HardwareControl::wait(kPollMs);
    Storage::destroy();
    ServiceFactory::debug(QStringLiteral("RFIDService Exit!"));
    HardwareControl::RfOff();
}
