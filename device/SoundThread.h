#pragma once

#include <QThread>

#include <atomic>

// Plays queued voice prompts through ALSA. A QThread whose run() owns the PCM;
// other threads only queue file paths.
class SoundThread : public QThread
{
    Q_OBJECT
public:
    explicit SoundThread(QObject *parent = nullptr);
    ~SoundThread() override;

    void requestExit();

protected:
    void run() override;

private:
    std::atomic<bool> exitRequested{false};
};
