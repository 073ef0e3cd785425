#include "gsm/smspdu.h"

#include "core/servicefactory.h"

namespace {

QByteArray hex2(int value)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(2, '0');
}

} // namespace

bool SmsPdu::accepts(const QByteArray &number, const QString &text)
{
    bool digits = !number.isEmpty();
    for (char c : number)
        digits = digits && c >= '0' && c <= '9';
    if (!digits) {
        ServiceFactory::debug(QStringLiteral("Refused SMS number: not decimal digits"));
        return false;
    }
    if (text.size() > kMaxUnits) {
        ServiceFactory::debug(QStringLiteral("Refused SMS text: more than %1 characters").arg(kMaxUnits));
        return false;
    }
    return true;
}

int SmsPdu::tpduLength(const QByteArray &number, const QString &text)
{
    return int((number.size() + 1) / 2 + 8 + 2 * text.size());
}

QByteArray SmsPdu::build(const QByteArray &number, const QString &text)
{
    QByteArray pdu = "001100";            // SMSC from the modem, SMS-SUBMIT with validity, reference by modem
    pdu += hex2(int(number.size()));      // address length in digits
    pdu += "A1";                          // national number, telephone numbering plan
    for (int i = 0; i < number.size(); i += 2) {
        pdu += i + 1 < number.size() ? number.at(i + 1) : 'F';
        pdu += number.at(i);
    }
    pdu += "0008A7";                      // plain SMS, UCS-2, 24 hours
    pdu += hex2(int(2 * text.size()));
    for (QChar unit : text)
        pdu += QString::asprintf("%04X", unit.unicode()).toLatin1();
    return pdu;
}
