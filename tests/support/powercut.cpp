#include "powercut.h"

#include "childdeath.h"
#include "core/vexexception.h"
#include "storage/storage.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <unistd.h>

namespace {
const char kOperationVar[] = "BRELLIUM_POWERCUT_OP";
const char kCutVar[] = "BRELLIUM_POWERCUT_AFTER";
constexpr int kChildLimitMs = 30000;
constexpr int kCompletedExit = 0;
constexpr int kFailedExit = 3;
} // namespace

void PowerCut::runChildIfAsked(Dispatch dispatch)
{
    if (!qEnvironmentVariableIsSet(kOperationVar))
        return;
    const QString operation = qEnvironmentVariable(kOperationVar);
    const int cutAfter = qEnvironmentVariableIntValue(kCutVar);
    if (cutAfter > 0)
        Storage::setFault(Storage::Fault::ExitAfterStatement, cutAfter);
    int code = kCompletedExit;
    try {
        dispatch(operation);
    } catch (const VexException &) {
        code = kFailedExit;
    } catch (...) {
        code = kFailedExit;
    }
    Storage::setFault(Storage::Fault::None);
    Storage::destroy();
    ::_exit(code);
}

PowerCut::Outcome PowerCut::run(const QString &operation, int cutAfter, QByteArray *output)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kOperationVar), operation);
    env.insert(QLatin1String(kCutVar), QString::number(cutAfter));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(QDir::currentPath());
    child.setProcessChannelMode(QProcess::MergedChannels);
    dieWithTest(child);
    child.start(QCoreApplication::applicationFilePath(), {});
    if (!child.waitForFinished(kChildLimitMs)) {
        child.kill();
        child.waitForFinished(kChildLimitMs);
        return Outcome::Crashed;
    }
    if (output)
        *output = child.readAll();
    if (child.exitStatus() != QProcess::NormalExit)
        return Outcome::Crashed;
    switch (child.exitCode()) {
    case Storage::kFaultExitCode:
        return Outcome::Cut;
    case kCompletedExit:
        return Outcome::Completed;
    case kFailedExit:
        return Outcome::Failed;
    default:
        return Outcome::Crashed;
    }
}
