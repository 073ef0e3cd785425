// Built only with ThreadSanitizer (BRELLIUM_TSAN) and linked into every
// program, test and peer of that build. Debian's Qt is not built with the
// sanitizer: its wait conditions, semaphores and thread waits hand over through
// futexes the sanitizer cannot see, so every access after such a hand-over
// would be reported as a race, and a mutex that QWaitCondition::wait gives up
// and takes back inside Qt as locked twice. These definitions take the place
// of Qt's for the calls our code makes: each calls Qt's own and tells the
// sanitizer what it did. What the calls do is unchanged. (Qt binds its own
// internal calls at link time, so they are not affected.)
#include <QByteArray>
#include <QDeadlineTimer>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

template <typename Function>
Function qtOwn(const char *symbol)
{
    void *address = dlsym(RTLD_NEXT, symbol);
    if (!address) {
        std::fprintf(stderr, "qtsyncannotations: %s not found in Qt\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Function>(address);
}

// QWaitCondition::wait unlocks the mutex while it sleeps and locks it again.
void mutexGivenUp(QMutex *mutex)
{
    __tsan_mutex_pre_unlock(mutex, 0);
    __tsan_mutex_post_unlock(mutex, 0);
}

void mutexTakenBack(QMutex *mutex)
{
    __tsan_mutex_pre_lock(mutex, 0);
    __tsan_mutex_post_lock(mutex, 0, 0);
}

} // namespace

bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline)
{
    using Wait = bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer);
    static const Wait qtWait = qtOwn<Wait>("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    mutexGivenUp(lockedMutex);
    const bool woken = qtWait(this, lockedMutex, deadline);
    mutexTakenBack(lockedMutex);
    __tsan_acquire(this);
    return woken;
}

bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    using Wait = bool (*)(QWaitCondition *, QMutex *, unsigned long);
    static const Wait qtWait = qtOwn<Wait>("_ZN14QWaitCondition4waitEP6QMutexm");
    mutexGivenUp(lockedMutex);
    const bool woken = qtWait(this, lockedMutex, time);
    mutexTakenBack(lockedMutex);
    __tsan_acquire(this);
    return woken;
}

void QWaitCondition::wakeOne()
{
    using Wake = void (*)(QWaitCondition *);
    static const Wake qtWake = qtOwn<Wake>("_ZN14QWaitCondition7wakeOneEv");
    __tsan_release(this);
    qtWake(this);
}

void QWaitCondition::wakeAll()
{
    using Wake = void (*)(QWaitCondition *);
    static const Wake qtWake = qtOwn<Wake>("_ZN14QWaitCondition7wakeAllEv");
    __tsan_release(this);
    qtWake(this);
}

void QSemaphore::acquire(int n)
{
    using Acquire = void (*)(QSemaphore *, int);
    static const Acquire qtAcquire = qtOwn<Acquire>("_ZN10QSemaphore7acquireEi");
    qtAcquire(this, n);
    __tsan_acquire(this);
}

bool QSemaphore::tryAcquire(int n)
{
    using TryAcquire = bool (*)(QSemaphore *, int);
    static const TryAcquire qtTry = qtOwn<TryAcquire>("_ZN10QSemaphore10tryAcquireEi");
    const bool got = qtTry(this, n);
    if (got)
        __tsan_acquire(this);
    return got;
}

bool QSemaphore::tryAcquire(int n, int timeout)
{
    using TryAcquire = bool (*)(QSemaphore *, int, int);
    static const TryAcquire qtTry = qtOwn<TryAcquire>("_ZN10QSemaphore10tryAcquireEii");
    const bool got = qtTry(this, n, timeout);
    if (got)
        __tsan_acquire(this);
    return got;
}

void QSemaphore::release(int n)
{
    using Release = void (*)(QSemaphore *, int);
    static const Release qtRelease = qtOwn<Release>("_ZN10QSemaphore7releaseEi");
    __tsan_release(this);
    qtRelease(this, n);
}

// A finished thread hands everything it did to whoever waited for it: Qt's
// thread ends with "finished" in that thread and wait() returns after it.
void QThread::start(Priority priority)
{
    using Start = void (*)(QThread *, Priority);
    static const Start qtStart = qtOwn<Start>("_ZN7QThread5startENS_8PriorityE");
    QObject::connect(this, &QThread::finished, this, [this] { __tsan_release(this); }, Qt::DirectConnection);
    qtStart(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    using Wait = bool (*)(QThread *, QDeadlineTimer);
    static const Wait qtWait = qtOwn<Wait>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool done = qtWait(this, deadline);
    if (done)
        __tsan_acquire(this);
    return done;
}

// Not hand-overs, but the last drop of a shared block's reference count
// inside Qt is invisible as well: these are Qt's own bodies, built here so
// that the sanitizer sees the drop that frees the block.
void QByteArray::clear()
{
    d.clear();
}

QByteArray &QByteArray::operator=(const QByteArray &other) noexcept
{
    d = other.d;
    return *this;
}

QString &QString::operator=(const QString &other) noexcept
{
    d = other.d;
    return *this;
}
