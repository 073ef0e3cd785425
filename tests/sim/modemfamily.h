#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class ModemSession;

// One AT command a modem family answers: its name in upper case up to and
// including "=", "?" or the end of the word ("AT+USOCR=", "AT+CCLK?"), and the
// handler, given the text after the name as the program wrote it.
struct ModemCommand
{
    QByteArray name;
    std::function<void(ModemSession &, const QByteArray &args)> handle;
};

// A family's command table and how it tells the program of socket events.
// The commands every family shares live in the core table, so a new family
// adds a table of its own and touches nothing else.
struct ModemFamily
{
    QString name;
    QList<ModemCommand> commands;
    // Endpoint data waiting on a socket that the program was not yet told of.
    std::function<void(ModemSession &, int socket, int pending)> announceData;
    // The endpoint closed the socket and every byte was read.
    std::function<void(ModemSession &, int socket)> announceClosed;
};

// AT, ATE, +CMGF, +CMGS, +CSQ, +CREG, +COPS, +CCLK.
ModemFamily modemCoreCommands();
// Handlers that several families' tables share: "OK" alone; the GPS on
// with "1" and off otherwise; the socket of the first field closed (there
// or not).
void modemJustOk(ModemSession &s, const QByteArray &args);
void modemGpsSwitch(ModemSession &s, const QByteArray &args);
void modemCloseSocket(ModemSession &s, const QByteArray &args);
// The u-blox family: "AT+U" commands.
ModemFamily ubloxModemFamily();
// The Quectel EC25 family: "AT+Q" commands.
ModemFamily ec25ModemFamily();
// The Telit family: "AT#" and "AT$" commands, with online mode.
ModemFamily telitModemFamily();
// The family of that name ("ublox", "ec25", "telit"); an unknown name gives an empty name.
ModemFamily modemFamily(const QString &name);
