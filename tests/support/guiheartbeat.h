#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// A heartbeat on the thread that creates it (the test's, standing for the
// GUI thread): a timer every periodMs that runs the given read, as the
// status bar reads the services' state, and keeps the longest gap between
// two beats and the longest time one read took. The beats run only while
// that thread's event loop runs (the QTRY_ and qWait waits of a test).
class GuiHeartbeat : public QObject
{
public:
    explicit GuiHeartbeat(std::function<void()> read, int periodMs = 10);

    // The longest time between two beats, or since the last one, in ms.
    qint64 longestGapMs() const;
    // The longest time the read took, in ms: what another thread held it up.
    qint64 longestReadMs() const { return longestRead; }
    int beats() const { return count; }

private:
    void beat();

    std::function<void()> read;
    QTimer timer;
    QElapsedTimer sinceLast;
    qint64 longest = 0;
    qint64 longestRead = 0;
    int count = 0;
};
