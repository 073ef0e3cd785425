#pragma once

#include "peerline.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The PC program at the far end of the clock's PC port (/dev/ttyS1), which
// only listens: a pseudo-terminal read by a thread of its own. It records
// every byte received, splits them into lines at CR LF itself, and notes each
// open and close of the clock's end with the line settings seen while the
// end was open. On demand it stops reading (the clock's writes then back up),
// hangs up after a number of bytes (the cable pulled) or reads no faster than
// a real 9600-baud line delivers. Configuration and records: any thread.
class PcPortPeer
{
public:
    static constexpr int kLineBaud = 9600;

    PcPortPeer();
    ~PcPortPeer();
    PcPortPeer(const PcPortPeer &) = delete;
    PcPortPeer &operator=(const PcPortPeer &) = delete;

    bool start();
    void stop();
    bool isValid() const;
    QString slavePath() const;
    // Makes linkPath (for example <root>/dev/ttyS1) a symbolic link to the
    // line, making its folder when missing.
    bool linkAt(const QString &linkPath);

    // While set, nothing is read.
    void setReading(bool on);
    // Reads at most as fast as the bytes cross a line at kLineBaud, taking
    // them every slotMs (a PC program that reads its port on a timer takes
    // a second's bytes at once).
    void setPaced(bool on, int slotMs = 10);
    // Once this many bytes came in total, the line hangs up under the clock
    // and its node is removed; -1 (the default) never.
    void hangUpAfter(qint64 bytes);
    bool hungUp() const;

    QByteArray received() const;
    // received().size() without the copy.
    qint64 receivedCount() const;
    // Complete lines, without their CR LF, in order.
    QList<QByteArray> lines() const;
    // Bytes after the last CR LF.
    QByteArray unfinished() const;
    void clear();

    int openCount() const;
    int closeCount() const;
    bool clockEndOpen() const;
    // The settings of the clock's end as last seen while it was open.
    PeerLine::Settings lastSettings() const;

    // Waits until `count` closes of the clock's end were seen (in total).
    bool waitForCloses(int count, int timeoutMs) const;
    bool waitForBytes(qint64 count, int timeoutMs) const;

    // A line as a reader would print it: printable ASCII and UTF-8 as they
    // are, other control bytes as \xNN.
    static QString printable(const QByteArray &line);

private:
    void run();
    void noteEvents();
    void sampleSettings();
    void take(const QByteArray &bytes);
    void doHangUp();
    bool waitFor(const std::function<bool()> &done, int timeoutMs) const;

    std::unique_ptr<PeerLine> line;
    QString linkedAt;

    mutable std::mutex mutex; // guards everything below
    QByteArray bytes;
    int opens = 0;
    int closes = 0;
    PeerLine::Settings settings;
    qint64 hangUpAt = -1;
    bool lineHungUp = false;

    std::atomic<bool> reading{true};
    std::atomic<bool> paced{false};
    std::atomic<int> paceSlotMs{10};
    std::atomic<bool> stopping{false};
    std::thread worker;
};
