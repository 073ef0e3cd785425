#pragma once

#include <cstdint>

// Checksums, hex text and little-endian helpers shared by the serial links and
// the device clock's offset record. Stateless: callable from any thread.
class SDKHelp
{
public:
    // CRC-16/ARC (0x8005 reflected, initial 0); 0 for n below 1.
    static unsigned short CRC16(const unsigned char *data, int n);
    // CRC-16/MODBUS (0x8005 reflected, initial 0xFFFF); 0xFFFF for n below 1.
    static unsigned short crc16_ibm(const unsigned char *data, int n);
    // CRC-16/XMODEM (0x1021, initial 0, not reflected); 0 for n = 0.
    static unsigned short crc16_ccitt(const void *data, unsigned int n);
    // CRC-16/ISO-IEC-14443-3-A (register starts at 0x6363, reflected).
    static unsigned short crc16_typea(const unsigned char *data, unsigned int n);
    // CRC-16/KERMIT, from the XMODEM table on bit-reversed bytes.
    static unsigned short crc16_ccitt_l(const unsigned char *data, unsigned int n);
    // CRC-8 with polynomial 0x1D from init (the ring-reader link uses 0xFF,
    // which is CRC-8/HITAG); the name is the one the links have always used.
    static unsigned char crc8_ccitt(unsigned char init, const void *data, unsigned int n);

    static unsigned char ReverseBits(unsigned char b);

    // 2n upper-case hex digits, high nibble first, then a NUL: out holds 2n + 1.
    static void BinToHex(const unsigned char *in, unsigned int n, char *out);
    // The byte of two hex digits; a non-hex digit counts as 0.
    static unsigned char HexToByte(const char *hex);
    // Decodes up to n bytes from digit pairs, stopping at the first pair with a
    // non-hex character (a NUL included); returns how many bytes were decoded.
    static unsigned int HexToBin(const char *in, unsigned char *out, unsigned int n);

    // Little-endian integers read byte by byte: no alignment is required.
    static int toInt32(const unsigned char *p);
    static unsigned short toUInt16(const unsigned char *p);
    static unsigned int toUInt32(const unsigned char *p);
    static long long toInt64(const unsigned char *p);
    static unsigned long long toUInt64(const unsigned char *p);

    // Stores the value little-endian, 4 or 8 bytes.
    static void toBytes(unsigned int value, unsigned char *out);
    static void toBytes(int value, unsigned char *out);
    static void toBytes(long long value, unsigned char *out);
    static void toBytes(unsigned long long value, unsigned char *out);
};
