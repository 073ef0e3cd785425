#pragma once

#include <QString>

#include <memory>

class MorlanProtocolProcess;
class PigeonBo;

// The clock at the club, for tests that need pigeons registered and basketed
// before a race day: the club link in club mode against the club router, and
// the storage steps of the ring-assignment and basketing screens (assign a
// ring read at the club reader; open basketing, mark a pigeon, close
// basketing with its printed list). It stands in for those screens' reading
// loops with the clock's own link, engine and storage code, on the simulated
// root that is active. Everything runs in the test's thread, which must run
// an event loop while it waits (the link's answers come as queued signals).
class ClubStation
{
public:
    ClubStation();
    ~ClubStation();
    ClubStation(const ClubStation &) = delete;
    ClubStation &operator=(const ClubStation &) = delete;

    // Starts the link, enters club mode and waits for the router's
    // authorisation; false when it did not come in time.
    bool open();
    // Leaves club mode and stops the link.
    void close();
    // The club link itself, for a test's time seams and synchronous calls.
    MorlanProtocolProcess &link() { return *process; }
    // The race engine the station's steps use, for a screen run beside it.
    PigeonBo &raceEngine() { return *engine; }

    // The ring lying at the club reader (a null text when there is none, or
    // the link gave no answer in time).
    QString readRing();
    // Ring assignment by the club reader: the ring read is given to the
    // pigeon when no pigeon wears it yet. Returns the ring, or a null text.
    QString assignRing(const QString &assocNum);

    // Basketing: opening a new race stamps the router's identity and locks
    // the device's club time to the club system's; marking reads the ring at
    // the reader, has the router write a random number and stores the mark;
    // closing stamps the time pair, closes the race (state 3) and prints the
    // basketing list. Each throws VexException as the screens would show it.
    void startRaceMark(const QString &raceCode);
    // The ring of the pigeon marked, or a null text when none was.
    QString markPigeon(const QString &raceCode);
    void closeBasketing(const QString &raceCode);

private:
    std::unique_ptr<MorlanProtocolProcess> process;
    std::unique_ptr<PigeonBo> engine;
};
