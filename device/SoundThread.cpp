#include "device/SoundThread.h"

#include "device/hardware_control.h"

namespace {
constexpr int kIdleMs = 100;
constexpr int kStopWaitMs = 5000;
}

SoundThread::SoundThread(QObject *parent)
    : QThread(parent)
{
}

SoundThread::~SoundThread()
{
    requestExit();
    wait(kStopWaitMs);
}

void SoundThread::requestExit()
{
    exitRequested = true;
}

void SoundThread::run()
{
    HardwareControl::SoundOn();
    while (!exitRequested)
        HardwareControl::wait(kIdleMs);
    HardwareControl::SoundOff();
}
