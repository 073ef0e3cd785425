#include "gsm/attext.h"

#include "core/servicefactory.h"

#include <QString>
#include <QStringList>

namespace {

constexpr int kMaxPort = 65535;
constexpr int kMaxPortDigits = 5;
// An access point name has at most 63 characters on every modem family;
// user and password are kept to what the u-blox profile takes.
constexpr int kMaxApnChars = 63;
constexpr int kMaxApnUserChars = 64;
constexpr int kApnParts = 3;
constexpr int kMinOperatorDigits = 5;
constexpr int kMaxOperatorDigits = 6;

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

bool AtText::apnSetting(const QString &value)
{
    for (const QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || c == QLatin1Char('"'))
            return refuse("APN", "not printable ASCII or a quote");
    }
    // Split as the modem service splits it: three parts or more are name,
    // user and password (the rest unused); fewer are the name alone.
    const QStringList parts = value.split(QLatin1Char(','));
    const bool withUser = parts.size() >= kApnParts;
    if ((withUser ? parts.at(0) : value).size() > kMaxApnChars)
        return refuse("APN", "name too long");
    if (withUser && (parts.at(1).size() > kMaxApnUserChars || parts.at(2).size() > kMaxApnUserChars))
        return refuse("APN", "user or password too long");
    return true;
}

bool AtText::operatorCode(const QString &value)
{
    if (value.isEmpty())
        return true;
    if (value.size() < kMinOperatorDigits || value.size() > kMaxOperatorDigits)
        return refuse("operator code", "not 5 or 6 digits");
    for (const QChar c : value) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return refuse("operator code", "not 5 or 6 digits");
    }
    return true;
}
