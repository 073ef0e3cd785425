#pragma once

#include <QString>

// The database of a busy loft at the scale the benchmarks measure: 5,000
// ringed pigeons, all basketed for one race of 200 stored races and most of
// them home with every arrival field filled, and an event log grown to 20,000
// entries that the next start trims. Written through a connection of its
// own into the database file that Storage::init created in the working
// directory, in one transaction.
class LoftDatabase
{
public:
    static constexpr int kPigeons = 5000;
    static constexpr int kArrived = 4500;
    static constexpr int kRaces = 200;
    static constexpr int kLogRows = 20000;
    static constexpr char kRace[] = "R0001"; // the race every pigeon is basketed for

    // False (with the driver's text on stderr) when a statement failed.
    // pigeons: the loft's size (nine in ten of them home).
    static bool fill(int pigeons = kPigeons);

    static QString assocNum(int i);
    static QString ringNum(int i);
    static QString raceCode(int i); // 1 .. kRaces
};
