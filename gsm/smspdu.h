#pragma once

#include <QByteArray>
#include <QString>

// The SMS-SUBMIT PDU of a UCS-2 text message, as the modem takes it after
// "AT+CMGS=<length>" in PDU mode: modem's SMS centre, national number, 24 h
// validity. Stateless.
class SmsPdu
{
public:
    // Up to 70 UTF-16 units (the user-data length must fit two hex digits)
    // and a number of decimal digits only; anything else is refused and logged.
    static bool accepts(const QByteArray &number, const QString &text);
    // The TPDU length announced in AT+CMGS: the PDU without its SMSC octet.
    static int tpduLength(const QByteArray &number, const QString &text);
    // The PDU as upper-case hexadecimal text.
    static QByteArray build(const QByteArray &number, const QString &text);

    static constexpr int kMaxUnits = 70;
};
