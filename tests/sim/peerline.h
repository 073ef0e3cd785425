#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>

// One answer of a peer, with its timing on demand.
struct PeerReply
{
    QByteArray bytes;
    int delayMs = 0; // before the first byte
    int gapMs = 0;   // after each byte (trickled bytes)
};

// The far end of one serial line, as a peer sees it: the master side of a
// pseudo-terminal whose slave the clock opens and closes at will. The peer
// holds no slave descriptor, so that it sees each open and close of the
// clock's end (inotify on the slave node counts every one, even a close and
// reopen between two polls) and, while the clock's end is closed, writes
// nothing: in raw mode such bytes would wait for the next open, where a real
// line loses them. On Linux the master reports the line settings the clock
// set. Used by one peer thread; the state queries may come from any thread.
class PeerLine
{
public:
    struct Settings
    {
        int baud = 0;          // 0 while the clock's end is closed (or unset)
        bool eightNOne = false; // 8 data bits, no parity, one stop bit
        bool flowControl = false;
        bool fits(int wantedBaud) const { return baud == wantedBaud && eightNOne && !flowControl; }
    };

    enum class Input { Data, Idle, Closed };

    PeerLine();
    ~PeerLine();
    PeerLine(const PeerLine &) = delete;
    PeerLine &operator=(const PeerLine &) = delete;

    bool isValid() const;
    QString slavePath() const;
    // Makes linkPath (for example <root>/dev/ttyS2) a symbolic link to the slave.
    bool linkAt(const QString &linkPath) const;

    // What the kernel says now: any thread.
    bool clockEndOpen() const;
    Settings settings() const;

    // Waits up to timeoutMs for bytes from the clock. While the clock's end
    // is closed it sleeps until it opens (at most timeoutMs) and says Closed.
    Input waitInput(int timeoutMs);
    QByteArray readInput();
    // At most maxBytes of it (a reader at line pace); -1 for all.
    QByteArray readInput(int maxBytes);
    // Opens (+1) and closes (-1) of the clock's end seen since the last call,
    // in order.
    QList<int> takeOpenCloseEvents();

    // Writes bytes. With baud > 0 each byte goes out in its own slot at that
    // speed (10 bits a byte) against absolute deadlines; gapMs adds a pause
    // after each byte. Stops when the clock's end closes or `abort` is set.
    // Returns the number of bytes written.
    int write(const QByteArray &bytes, int baud, int gapMs, const std::atomic<bool> *abort = nullptr);

    // Monotonic milliseconds (the clock's tick count uses the same clock).
    static qint64 nowMs();

private:
    int master = -1;
    int notify = -1;
    QString slaveName;
};
