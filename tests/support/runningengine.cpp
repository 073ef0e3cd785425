#include "runningengine.h"

#include "core/servicefactory.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <chrono>

namespace {
constexpr int kReadyMs = 10000; // start-up of the engine: one database read
constexpr int kStopMs = 10000;  // an arrival in progress ends well within it

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

RunningEngine::RunningEngine(Setup s)
    : setup(std::move(s))
{
}

RunningEngine::~RunningEngine()
{
    quit();
    wait(kStopMs);
}

bool RunningEngine::startEngine()
{
    start();
    return ready.tryAcquire(1, kReadyMs);
}

QList<RunningEngine::Back> RunningEngine::arrivals() const
{
    QMutexLocker lock(&mutex);
    return backs;
}

int RunningEngine::arrivalCount() const
{
    QMutexLocker lock(&mutex);
    return int(backs.size());
}

bool RunningEngine::waitForArrivals(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&mutex);
    while (backs.size() < count) {
        if (!arrived.wait(&mutex, deadline))
            return backs.size() >= count;
    }
    return true;
}

void RunningEngine::run()
{
    PigeonBo engineObject;
    // Direct: noted in this thread as the signal leaves the engine.
    QObject::connect(&engineObject, &PigeonBo::pigeonBack, &engineObject,
                     [this](const PigeonRecord &record) {
                         const qint64 at = steadyNs();
                         QMutexLocker lock(&mutex);
                         backs.append(Back{record, at});
                         arrived.wakeAll();
                     },
                     Qt::DirectConnection);
    QObject::connect(&engineObject, &PigeonBo::tagScaned, &engineObject, [this] { ++handed; },
                     Qt::DirectConnection);
    if (setup)
        setup(engineObject);
    engineObject.start();
    ServiceFactory::getInstance()->pigeonBo = &engineObject;
    bo = &engineObject;
    ready.release();
    exec();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    bo = nullptr;
    Storage::destroy();
}
