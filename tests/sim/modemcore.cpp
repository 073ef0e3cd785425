#include "modemfamily.h"
#include "modemsession.h"
#include "pdudecoder.h"

#include <QDateTime>

// The commands every modem family answers alike.

namespace {

void answerSms(ModemSession &s, const PeerSms &sms)
{
    s.record.sms << sms;
    if (s.state.refusedSmsNumbers.contains(sms.number)) {
        s.cmsError(500);
        return;
    }
    s.line("+CMGS: " + QByteArray::number(s.record.sms.size()));
    s.ok();
}

void sendSms(ModemSession &s, const QByteArray &args)
{
    if (s.state.smsMode == 1) {
        const QByteArray number = ModemSession::fields(args).value(0);
        s.prompt("\r\n> ", -1, [number](ModemSession &m, const QByteArray &text, bool sent) {
            if (!sent)
                return;
            PeerSms sms;
            sms.number = number;
            sms.raw = text;
            sms.text = QString::fromLatin1(text);
            sms.mode = "text";
            answerSms(m, sms);
        });
        return;
    }
    const int announced = args.trimmed().toInt();
    s.prompt("\r\n> ", -1, [announced](ModemSession &m, const QByteArray &hex, bool sent) {
        if (!sent)
            return;
        const DecodedPdu pdu = PduDecoder::decode(hex.trimmed());
        PeerSms sms;
        sms.number = pdu.number;
        sms.text = pdu.text;
        sms.raw = hex;
        sms.mode = "pdu";
        sms.announcedLength = announced;
        sms.tpduLength = pdu.tpduLength;
        sms.pduOk = pdu.ok && announced == pdu.tpduLength;
        answerSms(m, sms);
    });
}

QByteArray registration(const ModemState &state)
{
    if (!state.cregAnswer.isEmpty())
        return state.cregAnswer;
    const QByteArray status = QByteArray::number(state.registration);
    if (state.lac.isEmpty())
        return "0," + status;
    return "2," + status + ",\"" + state.lac + "\",\"" + state.cellId + '"';
}

QByteArray networkClock(const ModemState &state)
{
    if (!state.clock.isEmpty())
        return state.clock;
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yy/MM/dd,hh:mm:ss")).toLatin1() + "+00";
}

} // namespace

void modemJustOk(ModemSession &s, const QByteArray &)
{
    s.ok();
}

void modemGpsSwitch(ModemSession &s, const QByteArray &args)
{
    s.state.gpsOn = args.trimmed() == "1";
    s.ok();
}

void modemCloseSocket(ModemSession &s, const QByteArray &args)
{
    s.closeSocket(ModemSession::fields(args).value(0).toInt());
    s.ok();
}

ModemFamily modemCoreCommands()
{
    ModemFamily core;
    core.name = QStringLiteral("core");
    core.commands = {
        {"AT", [](ModemSession &s, const QByteArray &args) { args.isEmpty() ? s.ok() : s.error(); }},
        {"ATE0", [](ModemSession &s, const QByteArray &) { s.state.echo = false; s.ok(); }},
        {"ATE1", [](ModemSession &s, const QByteArray &) { s.state.echo = true; s.ok(); }},
        {"AT+CMGF=", [](ModemSession &s, const QByteArray &args) {
             s.state.smsMode = args.trimmed().toInt();
             s.ok();
         }},
        {"AT+CMGS=", sendSms},
        {"AT+CSQ", [](ModemSession &s, const QByteArray &) {
             s.line("+CSQ: " + QByteArray::number(s.state.csq) + ",99");
             s.ok();
         }},
        {"AT+CREG?", [](ModemSession &s, const QByteArray &) {
             s.line("+CREG: " + registration(s.state));
             s.ok();
         }},
        {"AT+COPS=", [](ModemSession &s, const QByteArray &args) {
             const QList<QByteArray> f = ModemSession::fields(args);
             s.state.operatorCode = f.value(0) == "0" ? QByteArray() : f.value(2);
             s.ok();
         }},
        {"AT+CCLK?", [](ModemSession &s, const QByteArray &) {
             s.line("+CCLK: \"" + networkClock(s.state) + '"');
             s.ok();
         }},
    };
    return core;
}
