#pragma once

#include <QByteArray>

// Checks on settings that travel inside AT commands and the HTTP head. The
// APN, user, password, host, port, operator code, phone number and path can
// be set over the PC link; a quote, CR or Ctrl-Z in one would end a command
// early or inject another. A refused value is logged with its field name.
// Stateless.
class AtText
{
public:
    // Fit to stand between double quotes: no '"' and no control character.
    static bool quotable(const char *field, const QByteArray &value);
    // A decimal port number from 1 to 65535.
    static bool validPort(const char *field, const QByteArray &value);
    // Fit for the HTTP request line or Host header: no blank, no control character.
    static bool httpToken(const char *field, const QByteArray &value);
    // Text of a text-mode SMS without control characters, whose Ctrl-Z or ESC
    // would send or cancel the message early; logs when it removed any.
    static QByteArray withoutControls(const QByteArray &text);
    // The stored APN setting, "apn" or "apn,user,password": printable ASCII
    // without double quotes, name, user and password within what the modems'
    // APN commands take. Empty means the modem's own.
    static bool apnSetting(const QString &value);
    // An operator for manual selection: empty (automatic) or the numeric
    // code of the network, 5 or 6 digits.
    static bool operatorCode(const QString &value);
};
