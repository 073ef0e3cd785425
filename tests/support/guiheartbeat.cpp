#include "guiheartbeat.h"

GuiHeartbeat::GuiHeartbeat(std::function<void()> r, int periodMs)
    : read(std::move(r))
{
    connect(&timer, &QTimer::timeout, this, [this] { beat(); });
    timer.start(periodMs);
    sinceLast.start();
}

qint64 GuiHeartbeat::longestGapMs() const
{
    return qMax(longest, sinceLast.elapsed());
}

void GuiHeartbeat::beat()
{
    longest = qMax(longest, sinceLast.elapsed());
    QElapsedTimer reading;
    reading.start();
    if (read)
        read();
    longestRead = qMax(longestRead, reading.elapsed());
    // The read itself is part of the gap.
    longest = qMax(longest, sinceLast.elapsed());
    sinceLast.restart();
    ++count;
}
