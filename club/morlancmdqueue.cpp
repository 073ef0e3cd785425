#include "club/morlancmdqueue.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QSemaphore>

namespace {
constexpr int kTimeoutCode = 0x1201;
const char kTimeoutMessage[] = "Semaphore timeout!";
}

SemaphoreEx::SemaphoreEx(QObject *parent)
    : QObject(parent)
    , semaphore(new QSemaphore(0))
{
}

SemaphoreEx::~SemaphoreEx()
{
    delete semaphore;
}

void SemaphoreEx::setError(int code, const QString &message, const QString &detailText)
{
    QMutexLocker lock(&mutex);
    if (abandoned)
        return;
    errorCode = code;
    msg = message;
    // translate() is safe in any thread; the context holds every error text.
    detail = detailText.isEmpty()
        ? QCoreApplication::translate("ExceptionResource", message.toUtf8().constData())
        : detailText;
}

void SemaphoreEx::setResult(const QVariant &value)
{
    QMutexLocker lock(&mutex);
    if (!abandoned)
        result = value;
}

bool SemaphoreEx::release()
{
    QMutexLocker lock(&mutex);
    if (abandoned || released)
        return false;
    released = true;
    semaphore->release();
    return true;
}

bool SemaphoreEx::tryAcquire(int timeoutMs)
{
    if (semaphore->tryAcquire(1, timeoutMs))
        return true;
    QMutexLocker lock(&mutex);
    if (released) {
        // The outcome arrived between the time-out and this lock: keep it.
        semaphore->tryAcquire(1);
        return true;
    }
    abandoned = true;
    errorCode = kTimeoutCode;
    msg = QString::fromLatin1(kTimeoutMessage);
    detail.clear();
    result = QVariant();
    return false;
}

int SemaphoreEx::getErrorCode() const
{
    QMutexLocker lock(&mutex);
    return errorCode;
}

QString SemaphoreEx::getMsg() const
{
    QMutexLocker lock(&mutex);
    return msg;
}

QString SemaphoreEx::getDetail() const
{
    QMutexLocker lock(&mutex);
    return detail;
}

QVariant SemaphoreEx::getResult() const
{
    QMutexLocker lock(&mutex);
    return result;
}

void MorlanCmdQueue::pushBack(const MorlanCmdItem &item)
{
    QMutexLocker lock(&queueMutex);
    cmdQueue.append(item);
}

void MorlanCmdQueue::pushFront(const MorlanCmdItem &item)
{
    QMutexLocker lock(&queueMutex);
    cmdQueue.prepend(item);
}

bool MorlanCmdQueue::take(MorlanCmdItem *item)
{
    QMutexLocker lock(&queueMutex);
    if (cmdQueue.isEmpty())
        return false;
    *item = cmdQueue.takeFirst();
    return true;
}

QList<MorlanCmdItem> MorlanCmdQueue::takeAll()
{
    QMutexLocker lock(&queueMutex);
    QList<MorlanCmdItem> items;
    items.swap(cmdQueue);
    return items;
}

void MorlanCmdQueue::clear()
{
    QMutexLocker lock(&queueMutex);
    cmdQueue.clear();
}

int MorlanCmdQueue::size() const
{
    QMutexLocker lock(&queueMutex);
    return int(cmdQueue.size());
}

QList<int> MorlanCmdQueue::types() const
{
    QMutexLocker lock(&queueMutex);
    QList<int> result;
    for (const MorlanCmdItem &item : cmdQueue)
        result.append(item.type);
    return result;
}

bool MorlanCmdQueue::await(const QSharedPointer<SemaphoreEx> &sem, int timeoutMs)
{
    if (sem->tryAcquire(timeoutMs))
        return true;
    // Given up: the item must not run any more. If the link thread took it
    // already, the refused writes keep it from reaching this waiter.
    QMutexLocker lock(&queueMutex);
    cmdQueue.removeIf([&sem](const MorlanCmdItem &item) { return item.sem == sem; });
    return false;
}
