#pragma once

#include <QByteArray>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <memory>

class PtyPair;

// A stand-alone GPS receiver on a pseudo-terminal: writes NMEA sentences with
// their checksums (NmeaBuilder), noise, sentences cut short and runs without
// a line end, at once or paced at a line speed. A thread of its own drains
// what the test queues; the public calls are thread-safe.
class GpsPeer : public QThread
{
    Q_OBJECT
public:
    explicit GpsPeer(QObject *parent = nullptr);
    ~GpsPeer() override;

    bool isOpen() const;
    QString slavePath() const;
    bool linkAt(const QString &nodePath) const;

    // Paces the output at this line speed (10 bits a byte); 0 for none.
    void setPacing(int baud);
    void send(const QByteArray &bytes);
    // "$<body>*hh" and CR LF.
    void sendSentence(const QByteArray &body);
    // Waits until everything queued was written.
    bool waitDrained(int timeoutMs) const;
    void stop();

protected:
    void run() override;

private:
    mutable QMutex mutex;
    mutable QWaitCondition changed;
    std::unique_ptr<PtyPair> pty;
    QByteArray queued;
    int baud = 0;
};
