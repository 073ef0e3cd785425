#include "club/clubreads.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <atomic>
#include <utility>

namespace {

const char kReadTag[] = "ring read";
const char kSetRandom[] = "random-number write";

// Ids are unique across askers for the life of the program, so an answer can
// never be mistaken for a later request of the same asker.
std::atomic<quint64> nextId{1};

void logDropped(const char *what, quint64 id)
{
    ServiceFactory::debug(QStringLiteral("ClubReads: %1 %2 answered after its asker left, dropped")
                              .arg(QString::fromLatin1(what))
                              .arg(id));
}

} // namespace

ClubReads::ClubReads(MorlanProtocolProcess *clubLink, QObject *parent)
    : QObject(parent)
    , link(clubLink)
{
}

ClubReads::~ClubReads()
{
    // An answer already posted to this object dies with it, unseen: say so.
    for (auto it = tickets.cbegin(); it != tickets.cend(); ++it) {
        if (const char *what = it.value()->disown())
            logDropped(what, it.key());
    }
}

void ClubReads::readTag()
{
    link->askReadTag(ticket());
}

void ClubReads::setRandom()
{
    link->askSetRandom(ticket());
}

void ClubReads::cancel()
{
    // Answers already posted still arrive here, and are dropped then.
    for (const auto &ticket : std::as_const(tickets))
        ticket->disown();
    tickets.clear();
}

QSharedPointer<ClubReadTicket> ClubReads::ticket()
{
    const quint64 id = nextId++;
    auto ticket = QSharedPointer<ClubReadTicket>::create(this, id);
    tickets.insert(id, ticket);
    return ticket;
}

bool ClubReads::owns(quint64 id, const char *what)
{
    // Posted before a cancel() that came first in this thread: not wanted.
    if (tickets.remove(id) == 0) {
        logDropped(what, id);
        return false;
    }
    return true;
}

void ClubReads::takeReadTag(quint64 id, const QString &eRingNum, quint8 rand, const QString &uid)
{
    if (owns(id, kReadTag))
        emit readTagEnd(eRingNum, rand, uid);
}

void ClubReads::takeSetRandom(quint64 id, const QString &eRingNum, quint8 rand)
{
    if (owns(id, kSetRandom))
        emit setRandomEnd(eRingNum, rand);
}

ClubReadTicket::ClubReadTicket(ClubReads *readsAsker, quint64 ticketId)
    : asker(readsAsker)
    , id(ticketId)
{
}

bool ClubReadTicket::wanted(const char *what)
{
    if (asker)
        return true;
    logDropped(what, id);
    return false;
}

void ClubReadTicket::answerReadTag(const QString &eRingNum, quint8 rand, const QString &uid)
{
    QMutexLocker lock(&mutex);
    if (!wanted(kReadTag))
        return;
    posted = kReadTag;
    ClubReads *target = asker;
    const quint64 ticketId = id;
    // Posted under the lock, so the asker is alive; a posted call dies with
    // its receiver, should the asker go before it runs.
    QMetaObject::invokeMethod(
        target, [target, ticketId, eRingNum, rand, uid] { target->takeReadTag(ticketId, eRingNum, rand, uid); },
        Qt::QueuedConnection);
}

void ClubReadTicket::answerSetRandom(const QString &eRingNum, quint8 rand)
{
    QMutexLocker lock(&mutex);
    if (!wanted(kSetRandom))
        return;
    posted = kSetRandom;
    ClubReads *target = asker;
    const quint64 ticketId = id;
    QMetaObject::invokeMethod(
        target, [target, ticketId, eRingNum, rand] { target->takeSetRandom(ticketId, eRingNum, rand); },
        Qt::QueuedConnection);
}

const char *ClubReadTicket::disown()
{
    QMutexLocker lock(&mutex);
    asker = nullptr;
    return posted;
}
