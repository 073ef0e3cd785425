#pragma once

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>

// What the fuzz targets share: the application object some Qt parts need
// (plugins, SQL drivers), silence for the program's debug output (a target
// runs millions of inputs), and the splitting of one input into the pieces
// a peer sends in turn. Each target calls init() from LLVMFuzzerInitialize.
namespace Fuzz {

void init(int *argc, char ***argv);

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// The pieces between separators "\n--\n": one answer per command sent, in order.
QList<QByteArray> pieces(const QByteArray &input);

// A broken promise of the code under test: reports and aborts, which libFuzzer
// records as a crash with the input that caused it.
[[noreturn]] void fail(const char *what);

} // namespace Fuzz

#define FUZZ_CHECK(condition) \
    do { \
        if (!(condition)) \
            Fuzz::fail(#condition); \
    } while (false)
