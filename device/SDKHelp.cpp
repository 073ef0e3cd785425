#include "device/SDKHelp.h"

#include <array>

namespace {

using Table16 = std::array<unsigned short, 256>;
using Table8 = std::array<unsigned char, 256>;

// Tables are built once from the polynomial rather than pasted in, so a typo
// in a 256-entry literal cannot corrupt a checksum.
Table16 makeReflectedTable16(unsigned short reflectedPoly)
{
    Table16 t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned short r = static_cast<unsigned short>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? static_cast<unsigned short>((r >> 1) ^ reflectedPoly) : static_cast<unsigned short>(r >> 1);
        t[i] = r;
    }
    return t;
}

Table16 makeTable16(unsigned short poly)
{
    Table16 t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned short r = static_cast<unsigned short>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x8000) ? static_cast<unsigned short>((r << 1) ^ poly) : static_cast<unsigned short>(r << 1);
        t[i] = r;
    }
    return t;
}

Table8 makeTable8(unsigned char poly)
{
    Table8 t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned char r = static_cast<unsigned char>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80) ? static_cast<unsigned char>((r << 1) ^ poly) : static_cast<unsigned char>(r << 1);
        t[i] = r;
    }
    return t;
}

const Table16 &arcTable()
{
    static const Table16 t = makeReflectedTable16(0xA001);
    return t;
}

const Table16 &xmodemTable()
{
    static const Table16 t = makeTable16(0x1021);
    return t;
}

const Table8 &crc8Table()
{
    static const Table8 t = makeTable8(0x1D);
    return t;
}

unsigned short xmodemUpdate(unsigned short crc, unsigned char b)
{
    return static_cast<unsigned short>((crc << 8) ^ xmodemTable()[((crc >> 8) ^ b) & 0xFF]);
}

// -1 for anything that is not a hex digit, the NUL terminator included.
int hexNibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

template <typename T>
T readLittleEndian(const unsigned char *p)
{
    unsigned long long v = 0;
    for (unsigned i = 0; i < sizeof(T); ++i)
        v |= static_cast<unsigned long long>(p[i]) << (8 * i);
    return static_cast<T>(v);
}

template <typename T>
void writeLittleEndian(T value, unsigned char *out)
{
    const auto v = static_cast<unsigned long long>(value);
    for (unsigned i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<unsigned char>(v >> (8 * i));
}

} // namespace

unsigned short SDKHelp::CRC16(const unsigned char *data, int n)
{
    unsigned short crc = 0;
    for (int i = 0; i < n; ++i)
        crc = static_cast<unsigned short>((crc >> 8) ^ arcTable()[(crc ^ data[i]) & 0xFF]);
    return crc;
}

unsigned short SDKHelp::crc16_ibm(const unsigned char *data, int n)
{
    unsigned short crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<unsigned short>((crc >> 1) ^ 0xA001) : static_cast<unsigned short>(crc >> 1);
    }
    return crc;
}

unsigned short SDKHelp::crc16_ccitt(const void *data, unsigned int n)
{
    const auto *p = static_cast<const unsigned char *>(data);
    unsigned short crc = 0;
    for (unsigned int i = 0; i < n; ++i)
        crc = xmodemUpdate(crc, p[i]);
    return crc;
}

unsigned short SDKHelp::crc16_typea(const unsigned char *data, unsigned int n)
{
    unsigned short crc = 0x6363;
    for (unsigned int i = 0; i < n; ++i) {
        unsigned char ch = static_cast<unsigned char>(data[i] ^ (crc & 0xFF));
        ch = static_cast<unsigned char>(ch ^ (ch << 4));
        crc = static_cast<unsigned short>((crc >> 8) ^ (ch << 8) ^ (ch << 3) ^ (ch >> 4));
    }
    return crc;
}

unsigned short SDKHelp::crc16_ccitt_l(const unsigned char *data, unsigned int n)
{
    unsigned short crc = 0;
    for (unsigned int i = 0; i < n; ++i)
        crc = xmodemUpdate(crc, ReverseBits(data[i]));
    return static_cast<unsigned short>((ReverseBits(static_cast<unsigned char>(crc & 0xFF)) << 8)
                                       | ReverseBits(static_cast<unsigned char>(crc >> 8)));
}

unsigned char SDKHelp::crc8_ccitt(unsigned char init, const void *data, unsigned int n)
{
    const auto *p = static_cast<const unsigned char *>(data);
    unsigned char crc = init;
    for (unsigned int i = 0; i < n; ++i)
        crc = crc8Table()[crc ^ p[i]];
    return crc;
}

unsigned char SDKHelp::ReverseBits(unsigned char b)
{
    b = static_cast<unsigned char>(((b & 0xF0) >> 4) | ((b & 0x0F) << 4));
    b = static_cast<unsigned char>(((b & 0xCC) >> 2) | ((b & 0x33) << 2));
    b = static_cast<unsigned char>(((b & 0xAA) >> 1) | ((b & 0x55) << 1));
    return b;
}

void SDKHelp::BinToHex(const unsigned char *in, unsigned int n, char *out)
{
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < n; ++i) {
        out[2 * i] = digits[in[i] >> 4];
        out[2 * i + 1] = digits[in[i] & 0x0F];
    }
    out[2 * n] = '\0';
}

unsigned char SDKHelp::HexToByte(const char *hex)
{
    const int high = hexNibble(hex[0]);
    // A text that ends at its first character is never read past its NUL.
    const int low = hex[0] == '\0' ? 0 : hexNibble(hex[1]);
    return static_cast<unsigned char>(((high < 0 ? 0 : high) << 4) | (low < 0 ? 0 : low));
}

unsigned int SDKHelp::HexToBin(const char *in, unsigned char *out, unsigned int n)
{
    for (unsigned int i = 0; i < n; ++i) {
        // Each character is tested before the next is read: a text that ends
        // inside a pair stops at its NUL.
        const int high = hexNibble(in[2 * i]);
        if (high < 0)
            return i;
        const int low = hexNibble(in[2 * i + 1]);
        if (low < 0)
            return i;
        out[i] = static_cast<unsigned char>((high << 4) | low);
    }
    return n;
}

int SDKHelp::toInt32(const unsigned char *p) { return readLittleEndian<int>(p); }
unsigned short SDKHelp::toUInt16(const unsigned char *p) { return readLittleEndian<unsigned short>(p); }
unsigned int SDKHelp::toUInt32(const unsigned char *p) { return readLittleEndian<unsigned int>(p); }
long long SDKHelp::toInt64(const unsigned char *p) { return readLittleEndian<long long>(p); }
unsigned long long SDKHelp::toUInt64(const unsigned char *p) { return readLittleEndian<unsigned long long>(p); }

void SDKHelp::toBytes(unsigned int value, unsigned char *out) { writeLittleEndian(value, out); }
void SDKHelp::toBytes(int value, unsigned char *out) { writeLittleEndian(value, out); }
void SDKHelp::toBytes(long long value, unsigned char *out) { writeLittleEndian(value, out); }
void SDKHelp::toBytes(unsigned long long value, unsigned char *out) { writeLittleEndian(value, out); }
