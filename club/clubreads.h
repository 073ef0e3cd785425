#pragma once

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class ClubReadTicket;
class MorlanProtocolProcess;

// One asker's ring reads and random-number writes at the club reader. The
// link carries each out in turn as before, but hands its answer only to the
// asker that queued it, and only while that asker still wants it: a read
// answered after its asker was destroyed or cancelled (a screen left, a scan
// restarted) is dropped and logged, never taken as the next asker's reading.
// Lives in the thread that made it (the GUI thread for screens); the answers
// arrive there as its signals.
//
//   ClubReads reads(link);            // a screen holds one for its scans
//   connect(&reads, &ClubReads::readTagEnd, ...);
//   reads.readTag();                  // one read; its answer comes once
//   reads.cancel();                   // stop or restart: earlier answers dropped
class ClubReads : public QObject
{
    Q_OBJECT
public:
    explicit ClubReads(MorlanProtocolProcess *link, QObject *parent = nullptr);
    ~ClubReads() override;

    // Queue one ring read or one random-number write on the link.
    void readTag();
    void setRandom();
    // Disowns every read and write asked so far; their answers are dropped.
    void cancel();
    // Asked, not cancelled, and not answered yet. A read the link dropped
    // without an answer (router lost, club mode left) stays counted until
    // cancel(): after the lost-read bound the asker cancels and asks again.
    int pending() const { return int(tickets.size()); }

signals:
    // The same values as the link's broadcast signals of the same names.
    void readTagEnd(QString eRingNum, quint8 rand, QString uid);
    void setRandomEnd(QString eRingNum, quint8 rand);

private:
    friend class ClubReadTicket;
    QSharedPointer<ClubReadTicket> ticket();
    // In this object's thread: the answer to ticket id, if still wanted.
    void takeReadTag(quint64 id, const QString &eRingNum, quint8 rand, const QString &uid);
    void takeSetRandom(quint64 id, const QString &eRingNum, quint8 rand);
    bool owns(quint64 id, const char *what);

    MorlanProtocolProcess *link;
    QHash<quint64, QSharedPointer<ClubReadTicket>> tickets;
};

// The way back from one queued command to its asker, shared by the command
// in the link's queue and the asker. The link thread answers through it; the
// asker disowns it when it no longer wants the answer. Thread-safe.
class ClubReadTicket
{
public:
    ClubReadTicket(ClubReads *asker, quint64 id);

    // Link thread: posts the answer to the asker, or drops and logs it when
    // the asker has disowned the ticket.
    void answerReadTag(const QString &eRingNum, quint8 rand, const QString &uid);
    void answerSetRandom(const QString &eRingNum, quint8 rand);
    // Asker's thread: no answer will be posted after this returns. Returns
    // what was answered when an answer is already on its way, else null.
    const char *disown();

private:
    // Called with the lock held; false (logged) when nobody wants the answer.
    bool wanted(const char *what);

    QMutex mutex; // guards asker and posted: the asker lives while it is set
    ClubReads *asker;
    const char *posted = nullptr;
    const quint64 id;
};
