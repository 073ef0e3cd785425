#include "gsm/gsmmodule.h"

#include "gsm/attext.h"
#include "gsm/gsmservicecallback.h"

namespace {

constexpr int kRmcRestMs = 1000;
constexpr int kClockRestMs = 2000;
constexpr qint64 k2020Ms = Q_INT64_C(1577836800000); // 2020-01-01 00:00:00 UTC

} // namespace

void GsmModule::requireQuotableApn(const QByteArray &apn, const QByteArray &user, const QByteArray &password)
{
    if (!AtText::quotable("APN", apn) || !AtText::quotable("APN user", user)
        || !AtText::quotable("APN password", password))
        fail(769, "GSM response ERROR!");
}

bool GsmModule::switchGpsOff(const QByteArray &command, int timeoutMs)
{
    sendCommand(command);
    const bool ok = waitOKLine(timeoutMs, false);
    clearFlags(0x100 | 0x200);
    return ok;
}

QString GsmModule::readRmcSentence(const QByteArray &command, const QByteArray &prefix, const QByteArray &head,
                                   int answerMs)
{
    sendCommand(command);
    const QByteArray answer = waitResponseLine(prefix, answerMs, false);
    if (answer.startsWith(head + "$GPRMC"))
        return QString::fromLatin1(answer.mid(head.size()));
    waitOKLine(kRmcRestMs, false);
    return QString();
}

bool GsmModule::takeRmcFix(const QString &sentence, int *lon, int *lat, qint64 *utcMs, TimeCallback *cb)
{
    qint64 fixMs = 0;
    if (sentence.isEmpty() || !parseGRMC(sentence, lon, lat, &fixMs))
        return false;
    if (utcMs)
        *utcMs = fixMs;
    if (cb && fixMs != 0)
        cb->onTime(fixMs, 2);
    return true;
}

bool GsmModule::sendAfterPrompt(const QByteArray &command, const QByteArray &data, int promptTries,
                                const QByteArray &doneMarker, int doneMs)
{
    sendCommand(command);
    if (!waitCharOrCancel('>', promptTries))
        return false;
    if (!data.isEmpty())
        sendBytes(data);
    return waitUntil(doneMarker, doneMs, false);
}

qint64 GsmModule::finishNetTime(qint64 utcMs, TimeCallback *cb)
{
    if (utcMs <= k2020Ms) {
        waitOKLine(kClockRestMs, false);
        return 0;
    }
    if (cb)
        cb->onTime(utcMs, 1);
    waitOKLine(kClockRestMs, false);
    return utcMs;
}
