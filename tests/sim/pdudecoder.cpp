#include "pdudecoder.h"

namespace {

class Reader
{
public:
    explicit Reader(const QByteArray &bytes) : data(bytes) {}
    bool has(int n) const { return pos + n <= data.size(); }
    int octet() { return has(1) ? uchar(data.at(pos++)) : -1; }
    QByteArray take(int n)
    {
        const QByteArray part = data.mid(pos, n);
        pos += n;
        return part;
    }
    int position() const { return pos; }

private:
    QByteArray data;
    int pos = 0;
};

} // namespace

DecodedPdu PduDecoder::decode(const QByteArray &hex)
{
    DecodedPdu pdu;
    for (char c : hex) {
        if (!QByteArray("0123456789ABCDEFabcdef").contains(c))
            return pdu;
    }
    if (hex.size() % 2 != 0)
        return pdu;
    const QByteArray bytes = QByteArray::fromHex(hex);
    Reader r(bytes);
    const int smscLength = r.octet();
    if (smscLength < 0 || !r.has(smscLength))
        return pdu;
    r.take(smscLength);
    const int tpduStart = r.position();
    const int firstOctet = r.octet();
    r.octet(); // message reference
    const int digits = r.octet();
    pdu.addressType = r.octet();
    if (firstOctet < 0 || digits < 0 || pdu.addressType < 0 || !r.has((digits + 1) / 2))
        return pdu;
    const QByteArray address = r.take((digits + 1) / 2);
    for (char octet : address) {
        const int low = uchar(octet) & 0x0F;
        const int high = uchar(octet) >> 4;
        pdu.number += char('0' + low);
        if (high != 0x0F)
            pdu.number += char('0' + high);
    }
    pdu.number.truncate(digits);
    r.octet(); // protocol identifier
    pdu.dataCoding = r.octet();
    const int validityFormat = (firstOctet >> 3) & 0x03;
    if (validityFormat == 2)
        r.octet();
    else if (validityFormat != 0)
        r.take(7);
    const int userLength = r.octet();
    if (userLength < 0 || !r.has(userLength))
        return pdu;
    const QByteArray user = r.take(userLength);
    if (pdu.dataCoding == 0x08) {
        for (int i = 0; i + 1 < user.size(); i += 2)
            pdu.text += QChar(ushort((uchar(user.at(i)) << 8) | uchar(user.at(i + 1))));
    } else {
        pdu.text = QString::fromLatin1(user);
    }
    pdu.tpduLength = int(bytes.size()) - tpduStart;
    pdu.ok = r.position() == bytes.size();
    return pdu;
}
