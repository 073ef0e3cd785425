#pragma once

#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"

#include <QString>

// Rows for screen tests, written through Storage as the program writes
// them, on the calling thread's connection.
namespace LoftSeed {

// Race state codes as the race engine keeps them.
constexpr int kRaceNew = 1;
constexpr int kRaceRunning = 3;
constexpr int kRaceStopped = 4;
constexpr int kRaceClosed = 12;

// The loft row as the device's initialisation makes it (number and
// password; everything else stored is cleared), then the owner and the
// club's codes. Call it first.
void loft(const QString &loftNum = QStringLiteral("L100"), const QString &password = QStringLiteral("secret"));
// A pigeon (with its record row); an empty ring leaves it without one.
PigeonInfo pigeon(const QString &assocNum, const QString &ering = QString(), int sex = 0,
                  const QString &color = QStringLiteral("Blue"), int year = 2025);
// A race; liberTime 0 means one day after the club time.
RaceInfo race(const QString &raceCode, int valid, qint64 liberTime = 0, const QString &name = QString());
// Marks the pigeon's record for the race at markTime.
PigeonRecord basket(const QString &assocNum, const QString &raceCode, qint64 markTime);
// Stores an arrival on the pigeon's record: for the race it is basketed for,
// or a training arrival (race "train", mark time 0) when raceCode is empty.
PigeonRecord arrive(const QString &assocNum, const QString &raceCode, qint64 backTime, int backOrder);

} // namespace LoftSeed
