#include "gsm/attext.h"

#include "core/servicefactory.h"

namespace {

constexpr int kMaxPort = 65535;
constexpr int kMaxPortDigits = 5;

bool isControl(uchar c)
{
    return c < 0x20 || c == 0x7F;
}

bool refuse(const char *field, const char *why)
{
    ServiceFactory::debug(QStringLiteral("Refused %1: %2").arg(QLatin1String(field), QLatin1String(why)));
    return false;
}

} // namespace

bool AtText::quotable(const char *field, const QByteArray &value)
{
    for (char c : value) {
        if (c == '"' || isControl(uchar(c)))
            return refuse(field, "quote or control character");
    }
    return true;
}

bool AtText::validPort(const char *field, const QByteArray &value)
{
    bool digits = !value.isEmpty() && value.size() <= kMaxPortDigits;
    for (char c : value)
        digits = digits && c >= '0' && c <= '9';
    const int number = digits ? value.toInt() : 0;
    if (number < 1 || number > kMaxPort)
        return refuse(field, "not a port number");
    return true;
}

bool AtText::httpToken(const char *field, const QByteArray &value)
{
    for (char c : value) {
        if (c == ' ' || isControl(uchar(c)))
            return refuse(field, "blank or control character");
    }
    return true;
}

QByteArray AtText::withoutControls(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (char c : text) {
        if (!isControl(uchar(c)))
            out.append(c);
    }
    if (out.size() != text.size())
        ServiceFactory::debug(QStringLiteral("SMS text: %1 control characters removed").arg(text.size() - out.size()));
    return out;
}
