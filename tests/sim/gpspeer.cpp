#include "gpspeer.h"

#include "nmeabuilder.h"
#include "ptypair.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QMutexLocker>

namespace {
constexpr int kIdleWaitMs = 20;
constexpr int kPaceStepMs = 2;
constexpr int kStopWaitMs = 5000;
}

GpsPeer::GpsPeer(QObject *parent)
    : QThread(parent)
    , pty(std::make_unique<PtyPair>())
{
}

GpsPeer::~GpsPeer()
{
    stop();
}

void GpsPeer::stop()
{
    requestInterruption();
    {
        QMutexLocker lock(&mutex);
        changed.wakeAll();
    }
    wait(kStopWaitMs);
}

bool GpsPeer::isOpen() const { return pty->isOpen(); }
QString GpsPeer::slavePath() const { return pty->slavePath(); }
bool GpsPeer::linkAt(const QString &nodePath) const
{
    QDir().mkpath(QFileInfo(nodePath).absolutePath());
    return pty->linkAt(nodePath);
}

void GpsPeer::setPacing(int b)
{
    QMutexLocker lock(&mutex);
    baud = b;
}

void GpsPeer::send(const QByteArray &bytes)
{
    QMutexLocker lock(&mutex);
    queued += bytes;
    changed.wakeAll();
}

void GpsPeer::sendSentence(const QByteArray &body)
{
    send(NmeaBuilder::sentence(body) + "\r\n");
}

bool GpsPeer::waitDrained(int timeoutMs) const
{
    QMutexLocker lock(&mutex);
    QDeadlineTimer deadline(timeoutMs);
    while (!queued.isEmpty()) {
        if (!changed.wait(&mutex, deadline))
            return false;
    }
    return true;
}

void GpsPeer::run()
{
    QElapsedTimer clock;
    clock.start();
    qint64 sentBytes = 0; // bytes paced since the clock started
    while (!isInterruptionRequested()) {
        QByteArray chunk;
        {
            QMutexLocker lock(&mutex);
            if (queued.isEmpty()) {
                changed.wait(&mutex, kIdleWaitMs);
                sentBytes = 0;
                clock.restart();
                continue;
            }
            qsizetype n = queued.size();
            if (baud > 0) {
                const qint64 due = clock.nsecsElapsed() * baud / 10 / 1000000000LL;
                n = qMin<qsizetype>(n, qMax<qint64>(0, due - sentBytes));
            }
            chunk = queued.left(n);
        }
        if (!chunk.isEmpty() && pty->write(chunk)) {
            sentBytes += chunk.size();
            QMutexLocker lock(&mutex);
            queued.remove(0, chunk.size());
            changed.wakeAll();
        } else {
            QThread::msleep(kPaceStepMs);
        }
    }
}
