// The byte-at-a-time receiver of the ring-reader framing: whatever the line
// carries, it holds at most its buffer and completes only on a frame whose
// CRC byte it really received and whose CRC checks.
#include "device/DeviceComm.h"
#include "device/SDKHelp.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr int kLengthOffset = 7; // addresses, type, version, reserved
    constexpr int kHeaderBytes = 8;  // ... and the length byte
    UartParser parser;
    for (size_t i = 0; i < size; ++i) {
        const int complete = parser.push(data[i]);
        FUZZ_CHECK(parser.count <= sizeof parser.buf);
        if (!complete)
            continue;
        FUZZ_CHECK(parser.state == UartParser::Complete);
        const int n = parser.buf[kLengthOffset];
        FUZZ_CHECK(kHeaderBytes + n < parser.count);
        FUZZ_CHECK(parser.buf[kHeaderBytes + n] == SDKHelp::crc8_ccitt(0xFF, parser.buf + 4, unsigned(n + 4)));
        parser.state = UartParser::Idle;
    }
    return 0;
}
