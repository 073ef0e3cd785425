#include "clubside.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "device/hardware_control.h"

#include "clubportpeer.h"
#include "testroot.h"

#include <QDir>

namespace {

constexpr int kSetUpMs = 5000;
constexpr int kSetUpPollMs = 10;
constexpr unsigned long kStopMs = 5000;
// The router's answer time-outs scaled down, so that a silent router fails
// a call in half a second instead of five.
constexpr int kAnswerTimeoutDivisor = 10;

} // namespace

ClubSide::ClubSide(TestRoot &root)
    : clubPeer(std::make_unique<ClubPortPeer>())
{
    QDir().mkpath(root.path(QStringLiteral("/dev")));
    // Unpaced: a piece costs its club tick, not its bytes on the line.
    clubPeer->setPacing(false);
    clubPeer->linkAt(root.path(QStringLiteral("/dev/ttyS2")));
    clubPeer->start();

    process = std::make_unique<MorlanProtocolProcess>(_serialPort_miniDin);
    // Normal mode finds no connector configured; the print settings are read
    // by the reports in the test's thread, from the database.
    process->setParamReader([](const QString &, int value) { return value; });
    process->setAnswerTimeoutDivisor(kAnswerTimeoutDivisor);
    ServiceFactory::getInstance()->protocolProcess = process.get();
}

ClubSide::~ClubSide()
{
    ServiceFactory::getInstance()->protocolProcess = nullptr;
    if (process->isRunning()) {
        process->requestExit();
        process->wait(kStopMs);
    }
    process.reset();
    clubPeer.reset();
}

bool ClubSide::startClub()
{
    if (!clubPeer->isValid())
        return false;
    if (!process->isRunning())
        process->start(QThread::InheritPriority);
    process->switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
    for (int waited = 0; waited < kSetUpMs && !process->isAuthed(); waited += kSetUpPollMs)
        HardwareControl::wait(kSetUpPollMs);
    return process->isAuthed();
}
