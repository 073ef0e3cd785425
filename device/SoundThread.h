#pragma once

#include "core/wakeup.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// Plays queued voice prompt files one at a time through ALSA. A QThread whose
// run() owns the PCM and reads the files; any thread queues paths with
// playSound (VexPlayer does, through the service factory) and never waits.
// With nothing queued the thread sleeps until a path or the exit request
// rings it. Built, started and destroyed by the service thread.
class SoundThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kMaxQueued = 10;

    explicit SoundThread(QObject *parent = nullptr);
    ~SoundThread() override;

    // Queues a file; a full queue drops it without notice.
    void playSound(const QString &path);
    void requestExit();
    // Plays one file on the calling thread; throws VexException on a bad file
    // or device. run() calls it for each queued path.
    void doPlayFile(const QString &path);

    // What waits in the queue, oldest first.
    QStringList queuedPaths() const;
    // True when nothing is queued and no file is playing.
    bool isIdle() const;

    // The pause between switching the amplifier on and the first prompt
    // (3000 ms); tests shorten it. Read when a thread starts.
    static void setStartDelayMs(int ms);
    static int startDelayMs();

protected:
    void run() override;

private:
    bool takeNext(QString *path);

    std::atomic<bool> exitRequested{false};
    WakeUp wakeUp;
    mutable QMutex mutex;
    QList<QString> queue;
    bool playing = false;
};
