#pragma once

#include <QString>

class PcPeer;


// The text control channel of the PC peer when it runs as a process of its
// own: one command a line (authenticate, device information, initialise,
// tip, one JSON call, ...), one answer a line, so that a person can set up
// the simulated clock from a terminal. "help" lists the commands.
class PcPeerConsole
{
public:
    explicit PcPeerConsole(PcPeer *peer);

    // Carries out one command line and returns its answer ("error: ..." on
    // a bad command or a lost answer). Sets *quit for "quit".
    QString execute(const QString &line, bool *quit);

    static QString help();

private:
    QString authenticate(const QStringList &words);
    QString json(const QString &text);
    QString faulty(const QString &kind, const QString &text);

    PcPeer *peer;
};
