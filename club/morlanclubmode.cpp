#include "club/morlanprotolprocess.h"

#include "club/clubreads.h"
#include "club/morlanmaster.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/SDKHelp.h"
#include "device/serialcommport.h"
#include "device/serialio.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSerialPort>

#include <algorithm>

// MorlanProtocolProcess, continued: club mode, the clock as master of the
// club router. It builds the router link (initialise, parameter read,
// authorisation), runs the queued commands one per tick and hands each
// outcome to its waiter or announces it by signal. All on the link thread.

namespace {

// One club tick; with the router watch on, an idle link tests the router
// every routerWatchMs (5 s); without a router, initialise is tried again after a pause.
constexpr int kTickMs = 10;
constexpr int kRouterRetryMs = 1000;
// An idle club mode sleeps until a command is queued, another mode is asked
// for or the router test falls due; with the watch off and its countdown run
// out, it looks at the watch this often (setKeepAlive rings at once).
constexpr int kWatchOffRecheckMs = 1000;
constexpr qint64 kHalfSecondMs = 500;
constexpr int kUnauthorizedCode = 0x505;
const char kUnauthorizedMessage[] = "Club clock unauthorized!";
constexpr int kUnknownCode = 0x1201;
const char kUnknownMessage[] = "Morlan unknown exception!";
const char kPrintFailedMessage[] = "Print failed!error=";

} // namespace

void MorlanProtocolProcess::runInClubMode(QSerialPort *port)
{
    SerialCommPort commPort(port);
    MorlanMasterHandler handler(&commPort);
    handler.setTimeoutDivisor(answerTimeoutDivisor);
    {
        QMutexLocker lock(&stateMutex);
        masterHandler = &handler;
        connected = false;
        authed = false;
        authCode = 0;
        authKey.clear();
        // The router id of the previous club mode stays until a new one is read.
    }
    routerWatch = false;
    routerWatchCountdown = routerWatchMs;
    // Commands queued while club mode did not run are stale: dropped without
    // an outcome (their waiters time out).
    cmdQueue.clear();

    while (stayInMode(ClubMaster, kTickMs)) {
        if (SerialIo::lineLost(port)) {
            // Unplugged: nothing on this line can recover. Club mode is left
            // (the queue and the link dropped as on any exit) and the thread
            // opens the port afresh, every pass until the router is back.
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess: club line lost"));
            break;
        }
        if (!connected) {
            try {
                initRouter();
            } catch (...) {
                // No router yet: try again after the pause.
            }
            if (!connected) {
                stayInMode(ClubMaster, kRouterRetryMs);
                continue;
            }
        }
        try {
            doTickInClubMode();
        } catch (const VexException &) {
            dropRouter();
        } catch (...) {
            ServiceFactory::debug(QStringLiteral("MorlanProtocolProcess::runInClubMode UnknowException!"));
            dropRouter();
        }
        idleInClubMode();
    }
    leaveClubMode();
}

void MorlanProtocolProcess::idleInClubMode()
{
    if (!connected || !authed || cmdQueue.size() > 0)
        return;
    // The countdown runs on while asleep, as it does tick by tick.
    const int boundMs = routerWatchCountdown > 0 ? routerWatchCountdown : (routerWatch ? 0 : kWatchOffRecheckMs);
    if (boundMs <= 0)
        return;
    QElapsedTimer slept;
    slept.start();
    const QDeadlineTimer end(boundMs);
    while (requestedMode == ClubMaster && cmdQueue.size() == 0 && !end.hasExpired()) {
        feedWatchdog();
        wakeUp.sleepFor(std::clamp<qint64>(qMin(end.remainingTime(), msUntilWatchdogFeed()), 1, boundMs));
    }
    routerWatchCountdown = int(qMax<qint64>(0, routerWatchCountdown - slept.elapsed()));
}

void MorlanProtocolProcess::dropRouter()
{
    emit routerDisconnected();
    QMutexLocker lock(&stateMutex);
    connected = false;
    authed = false;
}

void MorlanProtocolProcess::leaveClubMode()
{
    cmdQueue.clear();
    bool wasConnected = false;
    {
        QMutexLocker lock(&stateMutex);
        wasConnected = connected;
        connected = false;
        authed = false;
        // The handler dies with the caller's frame: withdraw it first.
        masterHandler = nullptr;
    }
    if (wasConnected)
        emit routerDisconnected();
}

void MorlanProtocolProcess::clearLink()
{
    QMutexLocker lock(&stateMutex);
    connected = false;
    routerParams.clear();
    authed = false;
    authCode = 0;
    authKey.clear();
}

void MorlanProtocolProcess::initRouter()
{
    masterHandler->sendInitReq(MorlanMasterHandler::kRouterAddress);
    if (masterHandler->getInitResp() == 0)
        testRouter();
    else if (connected)
        clearLink();
}

void MorlanProtocolProcess::testRouter()
{
    QByteArray params;
    masterHandler->sendReadParamReq(0x00, 0x07, MorlanMasterHandler::kRouterAddress);
    const int status = masterHandler->getReadParamResp(&params);
    if (status != 0) {
        if (connected)
            clearLink();
        return;
    }
    {
        QMutexLocker lock(&stateMutex);
        // A router already known keeps the block read when it connected.
        if (connected)
            return;
        routerParams = params;
        connected = true;
    }
    // Emitted outside the lock, so that a receiver in this thread may ask
    // for the router id.
    emit routerConnected();
}

void MorlanProtocolProcess::doAuth()
{
    quint8 code = 0;
    QByteArray key;
    masterHandler->sendAuthorizeReq(MorlanMasterHandler::kRouterAddress);
    if (masterHandler->getAuthorizeResp(&code, &key) != 0)
        return; // the next tick asks again
    {
        QMutexLocker lock(&stateMutex);
        authCode = code;
        authKey = key;
        authed = true;
    }
    emit routerAuthed();
}

void MorlanProtocolProcess::clearCmds()
{
    const QList<MorlanCmdItem> items = cmdQueue.takeAll();
    for (const MorlanCmdItem &item : items) {
        if (!item.sem)
            continue;
        item.sem->setError(kUnauthorizedCode, QString::fromLatin1(kUnauthorizedMessage), QString());
        item.sem->release();
    }
}

void MorlanProtocolProcess::doTickInClubMode()
{
    if (!authed) {
        // Nothing runs before the router accepts the clock: waiters learn it
        // now rather than after their whole time-out.
        clearCmds();
        doAuth();
        if (!authed)
            return;
    }
    MorlanCmdItem item;
    if (cmdQueue.take(&item)) {
        routerWatchCountdown = routerWatchMs;
    } else {
        routerWatchCountdown = routerWatchCountdown <= kTickMs ? 0 : routerWatchCountdown - kTickMs;
        if (routerWatch)
            item.type = TestRouter;
    }

    try {
        runCommand(item);
    } catch (const VexException &e) {
        clearCmds();
        if (!item.sem)
            throw; // no waiter to tell: the link is dropped
        item.sem->setError(e.getErrorCode(), e.getErrorMessage(), e.getErrorDesc());
        item.sem->release();
        return;
    } catch (...) {
        clearCmds();
        if (!item.sem)
            throw VexException(kUnknownCode, QString::fromLatin1(kUnknownMessage), QString());
        item.sem->setError(kUnknownCode, QString::fromLatin1(kUnknownMessage), QString());
        item.sem->release();
        return;
    }
    if (item.sem)
        item.sem->release();
}

void MorlanProtocolProcess::runCommand(MorlanCmdItem &item)
{
    switch (item.type) {
    case TestRouter:
        if (routerWatchCountdown == 0) {
            routerWatchCountdown = routerWatchMs;
            testRouter();
        }
        break;
    case ReadTag:
        doReadTag(item);
        break;
    case SetRandom:
        doSetRandom(item);
        break;
    case Print:
        doPrint(item);
        break;
    case GetTime:
        doReadTime(item);
        break;
    case SetTime:
        doSetTime(item);
        break;
    case GetTimeStatus:
        doReadTimeStatus(item);
        break;
    default:
        break;
    }
}

void MorlanProtocolProcess::doReadTag(MorlanCmdItem &item)
{
    QString eRing;
    quint8 rand = 0;
    QString uid;
    if (masterHandler->readTransponder(&eRing, &rand, &uid) != 0) {
        eRing.clear();
        rand = 0;
        uid.clear();
    }
    if (item.ticket)
        item.ticket->answerReadTag(eRing, rand, uid);
    else
        emit readTagEnd(eRing, rand, uid);
}

void MorlanProtocolProcess::announceSetRandom(MorlanCmdItem &item, const QString &eRing, quint8 rand)
{
    if (item.ticket)
        item.ticket->answerSetRandom(eRing, rand);
    else
        emit setRandomEnd(eRing, rand);
}

void MorlanProtocolProcess::doSetRandom(MorlanCmdItem &item)
{
    QByteArray block;
    const int status = masterHandler->setRandom(&block);
    if (status == 0) {
        if (!item.sem)
            announceSetRandom(item, QString::fromLatin1(block.left(4).toHex().toUpper()),
                              block.size() > 4 ? quint8(block.at(4)) : quint8(0));
        return;
    }
    if (!item.sem)
        announceSetRandom(item, QString(), 0);
    else
        item.sem->setError(0x500, QStringLiteral("Set random failed!"), QString());
}

void MorlanProtocolProcess::doPrint(MorlanCmdItem &item)
{
    // The queued text up to its first zero byte (Qt would keep the zero and
    // what follows); characters outside ISO 8859-1 become '?', and the bytes
    // are read as UTF-8 once more, so that only ASCII reaches the printer as
    // it was given.
    const int end = item.data.indexOf('\0');
    const QByteArray queued = end < 0 ? item.data : item.data.left(end);
    const QString text = QString::fromUtf8(QString::fromUtf8(queued).toLatin1());

    int status = masterHandler->print(text, printAddress);
    if (status != 0) {
        // The other printer takes over, for this text and the ones after it.
        printAddress = printAddress == MorlanMasterHandler::kPrinterAddress
            ? MorlanMasterHandler::kSecondPrinterAddress
            : MorlanMasterHandler::kPrinterAddress;
        status = masterHandler->print(text, printAddress);
    }
    if (status == 0) {
        if (!item.sem)
            emit printEnd(true);
        return;
    }
    if (!item.sem) {
        emit printEnd(false);
        return;
    }
    const QString number = QString::number(status);
    item.sem->setError(0x500, QString::fromLatin1(kPrintFailedMessage) + number,
                       QCoreApplication::translate("ExceptionResource", kPrintFailedMessage) + number);
}

void MorlanProtocolProcess::doReadTime(MorlanCmdItem &item)
{
    qint64 utcMs = 0;
    const int status = masterHandler->readTimeEx(&utcMs, nullptr);
    // The router's time is read half a second late on average: it gives whole
    // seconds. A refusal gives 0, not an error.
    if (item.sem)
        item.sem->setResult(QVariant(status == 0 ? qint64(utcMs + kHalfSecondMs) : qint64(0)));
}

void MorlanProtocolProcess::doReadTimeStatus(MorlanCmdItem &item)
{
    quint8 timeStatus = 0;
    const int status = masterHandler->readTimeEx(nullptr, &timeStatus);
    if (item.sem)
        item.sem->setResult(QVariant(status == 0 ? int(timeStatus) : 0));
}

void MorlanProtocolProcess::doSetTime(MorlanCmdItem &item)
{
    // Missing high bytes count as zero.
    QByteArray bytes = item.data.left(8);
    bytes.append(QByteArray(8 - bytes.size(), '\0'));
    const qint64 utcMs = SDKHelp::toInt64(reinterpret_cast<const unsigned char *>(bytes.constData()));
    const int status = masterHandler->setTime(utcMs);
    if (status == 0) {
        if (!item.sem)
            emit setTimeEnd(true);
        return;
    }
    if (!item.sem)
        emit setTimeEnd(false);
    else
        item.sem->setError(0x500, QStringLiteral("Set time failed!"), QString());
}

