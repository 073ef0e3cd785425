#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The loft a simulated device starts with: loft number and password, owner,
// upload host, notification phone and a few pigeons wearing rings, all set up
// through the clock's own storage operations (the way the PC's device
// initialisation and the ring-assignment screen store them), so that no SQL is
// written outside Storage. Also the read-outs a console shows. Works on the
// database in the current working directory, on the calling thread.
class SimLoft
{
public:
    struct Pigeon
    {
        QString assocNum;
        QString ring; // 8 upper-case hex digits
    };

    static const QString kLoftNum;
    static const QString kPassword;
    static const QString kOwnerPhone;
    static const QString kUploadHost;
    static const QString kUploadPath;

    // The pigeons of a new loft.
    static QList<Pigeon> defaultPigeons();

    // Creates or repairs the database; on a clock without a loft number,
    // initialises it with the loft above and registers the default pigeons.
    // False when a loft was there already (it is kept as it is).
    static bool setUp();
    // Registers a pigeon and assigns it the ring; throws VexException when
    // the ring is worn by another pigeon or the values are not acceptable.
    static void registerPigeon(const QString &assocNum, const QString &ring);
    // The ring of a pigeon, or a null text.
    static QString ringOf(const QString &assocNum);
    // Text tables for a person: the pigeons with their rings, and the latest
    // arrivals (newest first, at most `limit` rows).
    static QStringList pigeonTable();
    static QStringList arrivalTable(int limit);

    // A ring number as the readers give it: 8 hex digits, upper case; a null
    // text when the input is not one.
    static QString normalRing(const QString &text);
};
