#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVariant>

#include <utility>

class ClubReadTicket;
class QSemaphore;

// One synchronous outcome carried from the club-link thread to a waiting
// thread. Waiter and queued command share it, so neither outlives the other's
// use of it; once the waiter has given up, the link thread's writes and
// release are refused, so nothing changes after the waiter returned.
class SemaphoreEx : public QObject
{
    Q_OBJECT
public:
    explicit SemaphoreEx(QObject *parent = nullptr);
    ~SemaphoreEx() override;

    // Link thread: the outcome, then release() hands it over. An empty detail
    // becomes the message translated for the user.
    void setError(int code, const QString &message, const QString &detailText);
    void setResult(const QVariant &value);
    // False when the waiter has already given up (nothing was handed over).
    bool release();

    // Waiter: true when the outcome came within timeoutMs, or came while it
    // was giving up. Otherwise the outcome becomes 0x1201 "Semaphore timeout!"
    // and every later write is refused.
    bool tryAcquire(int timeoutMs);

    int getErrorCode() const;
    QString getMsg() const;
    QString getDetail() const;
    QVariant getResult() const;

private:
    QSemaphore *semaphore;
    int errorCode = 0;
    QString msg;
    QString detail;
    QVariant result;
    bool released = false;
    bool abandoned = false;
    mutable QMutex mutex; // guards the outcome and the two flags
};

// A command for club mode. A null sem means: report by signal, or not at all;
// a ticket (ring reads and random-number writes) means: report to its asker only.
struct MorlanCmdItem
{
    MorlanCmdItem() = default;
    MorlanCmdItem(QSharedPointer<SemaphoreEx> waiter, int cmdType, QByteArray cmdData,
                  QSharedPointer<ClubReadTicket> readTicket = {})
        : sem(std::move(waiter))
        , type(cmdType)
        , data(std::move(cmdData))
        , ticket(std::move(readTicket))
    {
    }

    QSharedPointer<SemaphoreEx> sem;
    int type = 0;
    QByteArray data;
    QSharedPointer<ClubReadTicket> ticket;
};

// The club-mode command queue and its hand-over to waiters. Any thread
// queues; the club-link thread takes one item per club tick; a waiter that
// times out withdraws its item while it is still queued.
class MorlanCmdQueue
{
public:
    void pushBack(const MorlanCmdItem &item);
    void pushFront(const MorlanCmdItem &item);
    bool take(MorlanCmdItem *item);
    // Empties the queue and hands back what it held, in order.
    QList<MorlanCmdItem> takeAll();
    // Drops every item without completing it; their waiters time out.
    void clear();
    int size() const;
    // The types of the items waiting, in order (tests tell a read from a write).
    QList<int> types() const;

    // Waits for sem's outcome; on time-out withdraws the item that carries it.
    bool await(const QSharedPointer<SemaphoreEx> &sem, int timeoutMs);

private:
    QList<MorlanCmdItem> cmdQueue;
    mutable QMutex queueMutex; // held only to insert, take or clear
};
