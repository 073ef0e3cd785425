#pragma once

#include <QString>

class ChildProcess;
class TestRoot;

// The clock's own services in a child process of a power-cut test, for the
// two activities the program offers no way into without a person: club mode
// and comm mode are entered from the basketing and PC-connection screens.
// The child is the test's own executable started again on the simulated
// root; it runs the real storage, race engine and club link on the root's
// club port, and is cut (SIGKILL) like the program.
//
// As the clock at the club ("club"), it enters club mode, waits for the
// router's authorisation, opens the basketing screen for a race on the main
// window (offscreen) and answers "ready"; the screen's own reading loop then
// marks each ring presented at the router's reader, and the child writes
// "marked RING ASSOCNUM MARKTIME RANDOM" when the screen shows a mark done.
// As the clock in comm mode ("pc"), it serves the PC program on the line and
// answers "ready". Either runs until its input ends.
class PowerCutClock
{
public:
    enum class Role { Club, Pc };

    // In main(), before anything else: true in a child.
    static bool asked();
    // Runs the child's clock; returns its exit status.
    static int run(int argc, char **argv);

    // Parent: starts the clock on the root and waits for "ready"; false when
    // it did not come within limitMs.
    static bool start(ChildProcess *child, const TestRoot &root, Role role, const QString &raceCode, int limitMs);
};
