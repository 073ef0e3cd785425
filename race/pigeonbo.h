#pragma once

#include "device/lfmodule.h"
#include "gsm/gsmservicecallback.h"

#include <QList>
#include <QMutex>
#include <QObject>

#include <atomic>

class LocationInfo;
class LoftInfo;
class QTimer;

// The race engine: turns ring readings into arrivals, keeps the races' state
// and the loft settings that every thread reads. Lives in the service thread,
// whose event loop runs its 50 ms tick; getters and setters are called from
// any thread and copy under the one mutex.
class PigeonBo : public QObject, public GSMServiceCallback
{
    Q_OBJECT
public:
    explicit PigeonBo(QObject *parent = nullptr);
    ~PigeonBo() override;

    void start();
    void requestExit();
    bool isFinished() const;
    qint64 getLoftTime();
    void getGpsInfo(LocationInfo *info);
    void saveLoftInfo(const LoftInfo *info);
    QString getLoftNum();

    void cacheChannels(const QList<LFCHANNEL_INFO> &list);
    QList<LFCHANNEL_INFO> getChannels();
    // Any thread: hands one reading (a copy) to the engine's thread.
    void notifyTagScaned(LFTAG_INFO *tag);

    void onTime(GSMService *service, qint64 utcMs, int source) override;
    int doSmsEvent(GSMService *service) override;
    int doGprsEvent(GSMService *service) override;
    QString getHostIP() override;
    QString getSmdPath() override;
    QString getApn() override;
    QString getNet() override;

signals:
    void channelsChanged();
    void tagScaned(LFTAG_INFO tag);

protected slots:
    void onTickTime();

private:
    void destroy();

    std::atomic<bool> exitRequested{false};
    std::atomic<QTimer *> tickTimer{nullptr};
    QList<LFCHANNEL_INFO> channels;
    QMutex mutex;
};
