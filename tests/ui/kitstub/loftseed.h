#pragma once
// TEMPORARY stand-in for the screen kit's seeding; removed when the kit lands.
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
namespace LoftSeed {
void loft(const QString &loftNum = "L100", const QString &password = "secret");
PigeonInfo pigeon(const QString &assocNum, const QString &ering = QString(), int sex = 0, const QString &color = "Blue", int year = 2025);
RaceInfo race(const QString &raceCode, int valid, qint64 liberTime = 0, const QString &name = QString());
PigeonRecord basket(const QString &assocNum, const QString &raceCode, qint64 markTime);
PigeonRecord arrive(const QString &assocNum, const QString &raceCode, qint64 backTime, int backOrder);
}
