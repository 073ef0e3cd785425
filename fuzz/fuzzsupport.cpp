#include "fuzzsupport.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

void dropMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    // Warnings of Qt itself stay visible when asked for: they may explain a crash.
    static const bool verbose = qEnvironmentVariableIsSet("BRELLIUM_FUZZ_VERBOSE");
    if (verbose || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

namespace Fuzz {

void init(int *argc, char ***argv)
{
    qInstallMessageHandler(dropMessage);
    // Lives for the whole run, as the program's own application object does.
    static QCoreApplication app(*argc, *argv);
}

QList<QByteArray> pieces(const QByteArray &input)
{
    static const QByteArray separator("\n--\n");
    QList<QByteArray> out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = input.indexOf(separator, from);
        if (at < 0) {
            out.append(input.mid(from));
            return out;
        }
        out.append(input.mid(from, at - from));
        from = at + separator.size();
    }
}

void fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace Fuzz
