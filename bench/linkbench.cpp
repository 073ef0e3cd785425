#include "linkbench.h"

#include "core/platform.h"
#include "core/servicefactory.h"
#include "device/hardware_control.h"
#include "storage/storage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace {

constexpr int kSleeperPeriodMs = 10;
constexpr int kLinkStopMs = 5000;
const QString kLinkName = QStringLiteral("LinkUnderTest");
const QString kSleeperName = QStringLiteral("SleeperRef");

} // namespace

BenchRoot::BenchRoot()
{
    qputenv("CLOCK_ROOT", root.path().toLocal8Bit());
    Platform::reloadRoot();
    QDir().mkpath(path(QStringLiteral("/dev")));
    QDir().mkpath(path(QStringLiteral("/app/work")));
    QDir::setCurrent(path(QStringLiteral("/app/work")));
    Storage::init();
}

BenchRoot::~BenchRoot()
{
    Storage::destroy();
}

QString BenchRoot::path(const QString &rootPath) const
{
    return root.path() + rootPath;
}

qint64 threadCpuNs(const QString &prefix)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || !QString::fromLatin1(comm.readAll()).startsWith(prefix))
            continue;
        QFile stat(tasks.filePath(tid + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

void LinkUnderTest::Sleeper::run()
{
    while (!stop)
        HardwareControl::wait(kSleeperPeriodMs);
}

LinkUnderTest::LinkUnderTest(const QString &node)
{
    ServiceFactory::getInstance()->pigeonBo = &bo;
    sleeper.setObjectName(kSleeperName);
    sleeper.start();
    process = std::make_unique<MorlanProtocolProcess>(node);
    process->setObjectName(kLinkName);
}

LinkUnderTest::~LinkUnderTest()
{
    process->requestExit();
    process->wait(kLinkStopMs);
    sleeper.stop = true;
    sleeper.wait();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
}

LinkCpu LinkUnderTest::measure(int windowMs) const
{
    const qint64 link0 = threadCpuNs(kLinkName);
    const qint64 sleeper0 = threadCpuNs(kSleeperName);
    QElapsedTimer wall;
    wall.start();
    HardwareControl::wait(windowMs);
    LinkCpu cpu;
    cpu.seconds = wall.nsecsElapsed() / 1e9;
    cpu.linkMs = (threadCpuNs(kLinkName) - link0) / 1e6 / cpu.seconds;
    cpu.sleeperMs = (threadCpuNs(kSleeperName) - sleeper0) / 1e6 / cpu.seconds;
    return cpu;
}
