#pragma once

#include <QByteArray>
#include <QString>

// Decodes the SMS-SUBMIT PDU a program hands the modem after AT+CMGS in PDU
// mode (hex text, SMSC octet first), written from the PDU layout alone.
struct DecodedPdu
{
    bool ok = false;
    QByteArray number;  // digits of the destination address
    int addressType = 0;
    int dataCoding = 0;
    QString text;
    int tpduLength = 0; // octets after the SMSC part: what AT+CMGS must announce
};

class PduDecoder
{
public:
    static DecodedPdu decode(const QByteArray &hex);
};
