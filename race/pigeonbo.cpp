#include "race/pigeonbo.h"

#include "core/locationinfo.h"
#include "core/utc.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"

#include <QMutexLocker>
#include <QTimer>

namespace {
constexpr int kTickMs = 50;
}

PigeonBo::PigeonBo(QObject *parent)
    : QObject(parent)
{
}

PigeonBo::~PigeonBo() = default;

void PigeonBo::start()
{
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &PigeonBo::onTickTime);
    timer->start(kTickMs);
    tickTimer = timer;
}

void PigeonBo::requestExit()
{
    exitRequested = true;
}

bool PigeonBo::isFinished() const
{
    return tickTimer.load() == nullptr;
}

qint64 PigeonBo::getLoftTime()
{
    return UTC::now().value();
}

void PigeonBo::getGpsInfo(LocationInfo *info)
{
    info->init(); // no modem service yet: no fix
}

void PigeonBo::saveLoftInfo(const LoftInfo *info)
{
    Storage::instance()->saveLoftInfo(info); // no cached copy to refresh yet
}

QString PigeonBo::getLoftNum()
{
    LoftInfo loft; // no cached copy yet: the stored row
    Storage::instance()->readLoftInfo(&loft);
    return loft.loftNum;
}

void PigeonBo::onTickTime()
{
    if (exitRequested)
        destroy();
}

void PigeonBo::destroy()
{
    QTimer *timer = tickTimer.exchange(nullptr);
    if (timer) {
        timer->stop();
        timer->deleteLater();
    }
}

void PigeonBo::cacheChannels(const QList<LFCHANNEL_INFO> &list)
{
    {
        QMutexLocker lock(&mutex);
        channels = list;
    }
    emit channelsChanged();
}

void PigeonBo::notifyTagScaned(LFTAG_INFO *tag)
{
    const LFTAG_INFO copy = *tag;
    emit tagScaned(copy);
}

QList<LFCHANNEL_INFO> PigeonBo::getChannels()
{
    QMutexLocker lock(&mutex);
    return channels;
}

void PigeonBo::onTime(GSMService *, qint64, int) {}
int PigeonBo::doSmsEvent(GSMService *) { return 1; }
int PigeonBo::doGprsEvent(GSMService *) { return 1; }
QString PigeonBo::getHostIP() { return QString(); }
QString PigeonBo::getSmdPath() { return QString(); }
QString PigeonBo::getApn() { return QString(); }
QString PigeonBo::getNet() { return QString(); }
