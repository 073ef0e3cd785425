#include "race/pigeonbo.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "gsm/gsmservice.h"

#include <QMutexLocker>

// The one-slot command mailbox: a screen that must upload at once posts its
// call here and polls, bounded, until the modem thread's next data turn has
// run it. The slot: 0x8000 idle, 1 posted, 2 taken, 0x8004 done, 0x8003
// failed; bit 0x8000 marks every state in which the modem thread is done.

namespace {

// The modem thread's next data turn comes at once.
constexpr unsigned int kRunNowMs = 1;

constexpr int kBusyCode = 0x1201;
constexpr int kTimeoutCode = 0x1003;
constexpr int kNetErrorCode = 0x1002;

} // namespace

void PigeonBo::uploadMarkRecord(const PigeonRecord *record, const RaceInfo *race)
{
    postCommand(QStringLiteral("uploadMarkRecord"), toJsonMarkRecord(record, race));
}

void PigeonBo::uploadMarkRecordList(QList<QSharedPointer<PigeonRecord>> records, const RaceInfo *race)
{
    postCommand(QStringLiteral("uploadMarkRecordList"), toJsonMarkRecordList(records, race));
}

void PigeonBo::uploadArriveData(const RaceInfo *race)
{
    postCommand(QStringLiteral("uploadArriveData"), toJsonArriveData(race));
}

void PigeonBo::startTestSMS(QString phone)
{
    QByteArray bytes = phone.toLatin1();
    const int zero = int(bytes.indexOf('\0'));
    if (zero >= 0)
        bytes.truncate(zero);
    QMutexLocker lock(&mutex);
    testSmsPhone = QString::fromLatin1(bytes);
}

void PigeonBo::setMailboxWait(const MailboxWait &wait)
{
    mailboxPolls = wait.polls;
    mailboxPollMs = wait.pollMs;
}

void PigeonBo::postCommand(const QString &method, const QString &params)
{
    {
        QMutexLocker lock(&mutex);
        if (!(mailboxState & kMailboxIdle)) {
            // A command still in the slot: it is given up, and this one refused.
            mailboxState = kMailboxIdle;
            lock.unlock();
            throw VexException(kBusyCode, QStringLiteral("Last command is running!"), QString());
        }
        mailboxMethod = method;
        mailboxParams = params;
        mailboxState = kMailboxPosted;
    }
    if (GSMService *gsm = ServiceFactory::getInstance()->gsmService)
        gsm->setGprsInterval(kRunNowMs);

    const int polls = mailboxPolls;
    const int pollMs = mailboxPollMs;
    for (int i = 0; i < polls; ++i) {
        HardwareControl::wait(pollMs);
        QMutexLocker lock(&mutex);
        if (mailboxState & kMailboxIdle)
            break;
    }
    int state = 0;
    {
        QMutexLocker lock(&mutex);
        state = mailboxState;
        mailboxState = kMailboxIdle;
    }
    if (!(state & kMailboxIdle))
        throw VexException(kTimeoutCode, QStringLiteral("timeout!"), QString());
    if (state != kMailboxDone)
        throw VexException(kNetErrorCode, QStringLiteral("Net error!"), QString());
}
