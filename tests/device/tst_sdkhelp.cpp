#include "device/SDKHelp.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <functional>
#include <memory>

namespace {

// A bit-by-bit CRC in the catalogue's parameter form, written independently of
// the product's tables, so that a wrong table entry cannot hide.
struct CrcModel
{
    int width;
    unsigned poly;
    unsigned init;
    bool reflected;
};

unsigned reflect(unsigned v, int bits)
{
    unsigned r = 0;
    for (int i = 0; i < bits; ++i)
        if (v & (1u << i))
            r |= 1u << (bits - 1 - i);
    return r;
}

unsigned referenceCrc(const CrcModel &m, const QByteArray &data)
{
    const unsigned top = 1u << (m.width - 1);
    const unsigned mask = (m.width == 32) ? 0xFFFFFFFFu : ((1u << m.width) - 1);
    unsigned reg = m.init;
    for (char c : data) {
        unsigned b = static_cast<unsigned char>(c);
        if (m.reflected)
            b = reflect(b, 8);
        reg ^= b << (m.width - 8);
        for (int i = 0; i < 8; ++i)
            reg = (reg & top) ? ((reg << 1) ^ m.poly) & mask : (reg << 1) & mask;
    }
    return m.reflected ? reflect(reg, m.width) : reg;
}

using CrcFn = std::function<unsigned(const QByteArray &)>;

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

} // namespace

Q_DECLARE_METATYPE(CrcFn)

// The checksums decide whether a frame, a clock record or a club packet is
// believed, so each one is held against its catalogue check value and against
// an independent bit-by-bit model over many random inputs.
class TestSDKHelp : public QObject
{
    Q_OBJECT
private slots:
    void crc_matchesCatalogue_data();
    void crc_matchesCatalogue();
    void crc_negativeCount_isEmpty();
    void reverseBits_allValues();
    void hex_roundTrips_data();
    void hex_roundTrips();
    void hexToBin_stops_data();
    void hexToBin_stops();
    void hexToByte_readsPair();
    void littleEndian_unalignedAndNegative();
};

void TestSDKHelp::crc_matchesCatalogue_data()
{
    QTest::addColumn<CrcFn>("fn");
    QTest::addColumn<uint>("check");
    QTest::addColumn<uint>("empty");
    QTest::addColumn<int>("width");
    QTest::addColumn<uint>("poly");
    QTest::addColumn<uint>("init");
    QTest::addColumn<bool>("reflected");

    QTest::newRow("CRC16 is CRC-16/ARC")
        << CrcFn([](const QByteArray &a) { return unsigned(SDKHelp::CRC16(bytes(a), int(a.size()))); })
        << 0xBB3Du << 0u << 16 << 0x8005u << 0u << true;
    QTest::newRow("crc16_ibm is CRC-16/MODBUS")
        << CrcFn([](const QByteArray &a) { return unsigned(SDKHelp::crc16_ibm(bytes(a), int(a.size()))); })
        << 0x4B37u << 0xFFFFu << 16 << 0x8005u << 0xFFFFu << true;
    QTest::newRow("crc16_ccitt is CRC-16/XMODEM")
        << CrcFn([](const QByteArray &a) { return unsigned(SDKHelp::crc16_ccitt(a.constData(), uint(a.size()))); })
        << 0x31C3u << 0u << 16 << 0x1021u << 0u << false;
    // The catalogue gives this one's initial value in reflected form (0xC6C6):
    // the register of the reflected algorithm starts at 0x6363.
    QTest::newRow("crc16_typea is CRC-16/ISO-IEC-14443-3-A")
        << CrcFn([](const QByteArray &a) { return unsigned(SDKHelp::crc16_typea(bytes(a), uint(a.size()))); })
        << 0xBF05u << 0x6363u << 16 << 0x1021u << 0xC6C6u << true;
    QTest::newRow("crc16_ccitt_l is CRC-16/KERMIT")
        << CrcFn([](const QByteArray &a) { return unsigned(SDKHelp::crc16_ccitt_l(bytes(a), uint(a.size()))); })
        << 0x2189u << 0u << 16 << 0x1021u << 0u << true;
    QTest::newRow("crc8_ccitt from 0xFF is CRC-8/HITAG")
        << CrcFn([](const QByteArray &a) { return unsigned(SDKHelp::crc8_ccitt(0xFF, a.constData(), uint(a.size()))); })
        << 0xB4u << 0xFFu << 8 << 0x1Du << 0xFFu << false;
    QTest::newRow("crc8_ccitt from 0x00")
        << CrcFn([](const QByteArray &a) { return unsigned(SDKHelp::crc8_ccitt(0x00, a.constData(), uint(a.size()))); })
        << 0x37u << 0u << 8 << 0x1Du << 0u << false;
}

void TestSDKHelp::crc_matchesCatalogue()
{
    QFETCH(CrcFn, fn);
    QFETCH(uint, check);
    QFETCH(uint, empty);
    QFETCH(int, width);
    QFETCH(uint, poly);
    QFETCH(uint, init);
    QFETCH(bool, reflected);

    QCOMPARE(fn(QByteArrayLiteral("123456789")), check);
    QCOMPARE(fn(QByteArray()), empty);

    const CrcModel model{width, poly, init, reflected};
    QRandomGenerator rng(20240611);
    for (int len = 1; len <= 300; len += 7) {
        QByteArray data(len, Qt::Uninitialized);
        for (char &c : data)
            c = char(rng.bounded(256));
        QCOMPARE(fn(data), referenceCrc(model, data));
    }
}

void TestSDKHelp::crc_negativeCount_isEmpty()
{
    const QByteArray data = QByteArrayLiteral("12");
    QCOMPARE(unsigned(SDKHelp::CRC16(bytes(data), -1)), 0u);
    QCOMPARE(unsigned(SDKHelp::crc16_ibm(bytes(data), -5)), 0xFFFFu);
}

void TestSDKHelp::reverseBits_allValues()
{
    for (unsigned v = 0; v < 256; ++v)
        QCOMPARE(unsigned(SDKHelp::ReverseBits(static_cast<unsigned char>(v))), reflect(v, 8));
}

void TestSDKHelp::hex_roundTrips_data()
{
    QTest::addColumn<QByteArray>("bin");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray::fromHex("0a");
    QTest::newRow("all nibbles") << QByteArray::fromHex("0123456789abcdeffedcba9876543210");
    QTest::newRow("high bytes") << QByteArray::fromHex("ff80a1");
}

void TestSDKHelp::hex_roundTrips()
{
    QFETCH(QByteArray, bin);
    QByteArray text(2 * bin.size() + 1, 'x');
    SDKHelp::BinToHex(bytes(bin), uint(bin.size()), text.data());
    QCOMPARE(text.at(text.size() - 1), '\0');
    const QByteArray digits = text.left(text.size() - 1);
    QCOMPARE(digits, bin.toHex().toUpper());

    for (const QByteArray &form : {digits, digits.toLower()}) {
        QByteArray back(bin.size(), '\0');
        QCOMPARE(SDKHelp::HexToBin(form.constData(), reinterpret_cast<unsigned char *>(back.data()), uint(bin.size())),
                 uint(bin.size()));
        QCOMPARE(back, bin);
    }
}

void TestSDKHelp::hexToBin_stops_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<uint>("asked");
    QTest::addColumn<uint>("decoded");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty text") << QByteArray("") << 4u << 0u << QByteArray();
    QTest::newRow("odd length ends inside a pair") << QByteArray("A1B") << 4u << 1u << QByteArray::fromHex("a1");
    QTest::newRow("short text") << QByteArray("A1B2") << 4u << 2u << QByteArray::fromHex("a1b2");
    QTest::newRow("non-hex first digit") << QByteArray("A1G2C3") << 3u << 1u << QByteArray::fromHex("a1");
    QTest::newRow("non-hex second digit") << QByteArray("A1 2C3") << 3u << 1u << QByteArray::fromHex("a1");
    QTest::newRow("asks fewer than given") << QByteArray("A1B2C3") << 2u << 2u << QByteArray::fromHex("a1b2");
    QTest::newRow("nothing asked") << QByteArray("A1") << 0u << 0u << QByteArray();
}

void TestSDKHelp::hexToBin_stops()
{
    QFETCH(QByteArray, text);
    QFETCH(uint, asked);
    QFETCH(uint, decoded);
    QFETCH(QByteArray, bytes);
    // The text sits at the very end of its own allocation, so a read past the
    // NUL shows under the address sanitizer.
    std::unique_ptr<char[]> exact(new char[size_t(text.size()) + 1]);
    std::memcpy(exact.get(), text.constData(), size_t(text.size()) + 1);
    QByteArray out(int(asked), '\x55');
    QCOMPARE(SDKHelp::HexToBin(exact.get(), reinterpret_cast<unsigned char *>(out.data()), asked), decoded);
    QCOMPARE(out.left(int(decoded)), bytes);
    // Nothing beyond the decoded bytes is written.
    QCOMPARE(out.mid(int(decoded)), QByteArray(int(asked - decoded), '\x55'));
}

void TestSDKHelp::hexToByte_readsPair()
{
    QCOMPARE(int(SDKHelp::HexToByte("7f")), 0x7F);
    QCOMPARE(int(SDKHelp::HexToByte("A0")), 0xA0);
    QCOMPARE(int(SDKHelp::HexToByte("")), 0);
}

void TestSDKHelp::littleEndian_unalignedAndNegative()
{
    unsigned char buf[17] = {};
    unsigned char *odd = buf + 1; // deliberately misaligned for every width

    SDKHelp::toBytes(-2, odd);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(odd), 4), QByteArray::fromHex("feffffff"));
    QCOMPARE(SDKHelp::toInt32(odd), -2);
    QCOMPARE(SDKHelp::toUInt32(odd), 0xFFFFFFFEu);
    QCOMPARE(int(SDKHelp::toUInt16(odd)), 0xFFFE);

    SDKHelp::toBytes(0x12345678u, odd);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(odd), 4), QByteArray::fromHex("78563412"));
    QCOMPARE(SDKHelp::toUInt32(odd), 0x12345678u);
    QCOMPARE(int(SDKHelp::toUInt16(odd)), 0x5678);

    SDKHelp::toBytes(-1700000000123LL, odd);
    QCOMPARE(SDKHelp::toInt64(odd), -1700000000123LL);
    SDKHelp::toBytes(1718000000123LL, odd + 2);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(odd + 2), 8), QByteArray::fromHex("7b9cc70090010000"));
    QCOMPARE(SDKHelp::toInt64(odd + 2), 1718000000123LL);

    SDKHelp::toBytes(0xF0E0D0C0B0A09080ULL, odd);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(odd), 8), QByteArray::fromHex("8090a0b0c0d0e0f0"));
    QCOMPARE(SDKHelp::toUInt64(odd), 0xF0E0D0C0B0A09080ULL);
}

QTEST_GUILESS_MAIN(TestSDKHelp)
#include "tst_sdkhelp.moc"
