#pragma once

#include <QString>

class ClubPortPeer;

// The text control channel of the club-port peer when it runs as a process
// of its own (the simulated device's console drives it): one command a line,
// one answer a line. "help" lists the commands.
class ClubPeerConsole
{
public:
    explicit ClubPeerConsole(ClubPortPeer *peer);

    // Carries out one command line; returns the answer ("ok", a value, or
    // "error: ..."). Sets *quit for "quit".
    QString execute(const QString &line, bool *quit);

    static QString help();

private:
    QString connectorFault(const QStringList &words);
    QString routerFault(const QStringList &words);
    // The router's own state: ring, clock, id, authorisation, printers.
    QString routerState(const QString &verb, const QStringList &words, bool *handled);

    ClubPortPeer *peer;
};
