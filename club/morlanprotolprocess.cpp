#include "club/morlanprotolprocess.h"

#include "core/servicefactory.h"
#include "device/hardware_control.h"
#include "storage/storage.h"

namespace {
constexpr int kPassMs = 10;
constexpr int kStopWaitMs = 5000;
// A mode switch normally completes within one pass; the bound only keeps a
// wedged link from freezing its caller for good.
constexpr int kSwitchWaitMs = 30000;
}

MorlanProtocolProcess::MorlanProtocolProcess(const QString &port, QObject *parent)
    : QThread(parent)
    , portName(port)
{
}

MorlanProtocolProcess::~MorlanProtocolProcess()
{
    requestExit();
    QThread::wait(kStopWaitMs);
}

void MorlanProtocolProcess::switchWorkMode(int mode, bool wait)
{
    if (currentMode == Exit)
        return;
    requestedMode = mode;
    if (!wait)
        return;
    for (int waited = 0; currentMode != mode && currentMode != Exit; waited += kPassMs) {
        if (waited >= kSwitchWaitMs) {
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess::switchWorkMode timeout!"));
            return;
        }
        HardwareControl::wait(kPassMs);
    }
}

int MorlanProtocolProcess::getWorkMode() const
{
    return currentMode;
}

void MorlanProtocolProcess::requestExit()
{
    requestedMode = Exit;
}

bool MorlanProtocolProcess::isConnectorReady() const
{
    return false; // no connector is driven
}

void MorlanProtocolProcess::run()
{
    while (true) {
        const int mode = requestedMode;
        if (mode == Exit)
            break;
        currentMode = mode;
        HardwareControl::wait(kPassMs);
    }
    Storage::destroy();
    currentMode = Exit;
}
