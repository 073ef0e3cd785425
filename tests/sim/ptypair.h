#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair for a peer. The peer reads and writes the master;
// the program under test opens the slave by its path (or by a symbolic link
// under a simulated root). Both ends are raw from the start, and the peer
// keeps a slave descriptor of its own so that the master never reads EIO
// while the program closes and reopens the slave. Used by one peer thread.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isOpen() const;
    QString slavePath() const;
    int masterFd() const;
    // Makes linkPath (for example <root>/dev/ttyS3) a symbolic link to the slave.
    bool linkAt(const QString &linkPath) const;
    // Makes <root><devicePath> (a simulated root and, say, "/dev/ttyS3") a
    // link to the slave, creating the folders on the way.
    bool linkUnder(const QString &root, const QString &devicePath) const;

    // Waits up to timeoutMs for input on the master; true when some is there.
    bool waitReadable(int timeoutMs) const;
    // Reads what is waiting (at most maxBytes) without blocking.
    QByteArray readAvailable(int maxBytes = 4096);
    // Reads until `count` bytes came or timeoutMs passed.
    QByteArray readExactly(int count, int timeoutMs);
    // Writes all bytes; false when the master is closed or the write failed.
    bool write(const QByteArray &bytes);
    // Hangs up: closes the master and the peer's slave descriptor.
    void hangUp();

private:
    int master = -1;
    int slaveKeep = -1;
    QString slaveName;
};
