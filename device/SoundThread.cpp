#include "device/SoundThread.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/SoundPCM.h"
#include "device/hardware_control.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMutexLocker>

namespace {

constexpr int kVoiceErrorCode = 0x1201;
constexpr int kDefaultStartDelayMs = 3000;
// An idle thread sleeps until a prompt or the exit request rings it; this
// only bounds the sleep.
constexpr int kIdleSleepMs = 60000;
// A file stops at its next block after requestExit, and a stalled device
// gives up after 2 s, so the thread ends well within this.
constexpr int kStopWaitMs = 5000;

std::atomic<int> &startDelay()
{
    static std::atomic<int> delayMs{kDefaultStartDelayMs};
    return delayMs;
}

} // namespace

SoundThread::SoundThread(QObject *parent)
    : QThread(parent)
{
}

SoundThread::~SoundThread()
{
    requestExit();
    if (!wait(kStopWaitMs))
        ServiceFactory::debug(QStringLiteral("SoundThread did not stop in time!"));
}

void SoundThread::setStartDelayMs(int ms)
{
    startDelay() = ms;
}

int SoundThread::startDelayMs()
{
    return startDelay();
}

void SoundThread::playSound(const QString &path)
{
    {
        QMutexLocker lock(&mutex);
        if (queue.size() >= kMaxQueued)
            return;
        queue.append(path);
    }
    wakeUp.ring();
}

void SoundThread::requestExit()
{
    exitRequested = true;
    wakeUp.ring();
}

QStringList SoundThread::queuedPaths() const
{
    QMutexLocker lock(&mutex);
    return queue;
}

bool SoundThread::isIdle() const
{
    QMutexLocker lock(&mutex);
    return queue.isEmpty() && !playing;
}

bool SoundThread::takeNext(QString *path)
{
    QMutexLocker lock(&mutex);
    playing = !queue.isEmpty();
    if (playing)
        *path = queue.takeFirst();
    return playing;
}

void SoundThread::run()
{
    HardwareControl::SoundOn();
    // The amplifier settles before the first prompt. An exit request ends the
    // pause early: nothing would play after it, and the shutdown need not wait.
    // A prompt queued meanwhile rings too: it waits for the end of the pause.
    const QDeadlineTimer settled(startDelay());
    while (!exitRequested && !settled.hasExpired())
        wakeUp.sleepFor(settled.remainingTime());
    while (!exitRequested) {
        QString path;
        if (!takeNext(&path)) {
            wakeUp.sleepFor(kIdleSleepMs);
            continue;
        }
        try {
            doPlayFile(path);
        } catch (const VexException &) {
            ServiceFactory::debug(QStringLiteral("SoundThread::run VexException!"));
        } catch (...) {
            ServiceFactory::debug(QStringLiteral("SoundThread::run UnknowException!"));
        }
        QMutexLocker lock(&mutex);
        playing = false;
    }
    HardwareControl::SoundOff();
}

void SoundThread::doPlayFile(const QString &path)
{
    if (exitRequested)
        return;
    QFile file(path);
    // Blocks are read whole into buffers of their own; Qt's read buffer
    // would only add a copy.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw VexException(kVoiceErrorCode, QStringLiteral("Voice file not exists!\n") + path, QString());

    SoundPCM pcm;
    pcm.readRIFF(file);
    _FMT_CHUNK fmt;
    bool haveFmt = false;
    unsigned char head[SoundPCM::kHeadBytes];
    while (!exitRequested) {
        pcm.fetchChunkHead(file, head);
        const unsigned int size = SoundPCM::getChunkSize(head);
        if (SoundPCM::testChunkName(head, "fmt")) {
            pcm.fetchFMT(file, &fmt, size);
            haveFmt = true;
        } else if (SoundPCM::testChunkName(head, "data")) {
            // Without a fmt chunk the sample format is unknown: refuse rather
            // than guess.
            if (!haveFmt)
                throw VexException(kVoiceErrorCode, QStringLiteral("Voice file format error!"), QString());
            pcm.open(fmt, size);
            while (!exitRequested && pcm.playFrameOnce(file, fmt.channels, fmt.bitsPerSample)) {
            }
            pcm.close();
            break;
        } else {
            pcm.ignoreSize(file, size); // no pad byte after an odd size
        }
    }
}
