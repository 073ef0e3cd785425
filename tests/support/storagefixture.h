#pragma once

#include "testroot.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <functional>

// A throw-away database for one test: activates a fresh TestRoot (so the
// file lies in its working directory), runs Storage::init when asked, and
// gives the test plain SQL on a connection of its own to build fixtures
// (rows, triggers, broken files) and to read back what Storage wrote. The
// destructor closes this thread's Storage and the fixture's connection.
class StorageFixture
{
public:
    explicit StorageFixture(bool initialise = true);
    ~StorageFixture();
    StorageFixture(const StorageFixture &) = delete;
    StorageFixture &operator=(const StorageFixture &) = delete;

    TestRoot &root() { return testRoot; }
    QString databasePath() const;

    // Plain SQL, one statement each; a failure is logged with the driver's text.
    bool exec(const QString &sql) const;
    QVariant value(const QString &sql) const;         // first column of the first row
    QList<QVariantList> rows(const QString &sql) const; // every column of every row
    // Every table's definition and rows in a stable order, for comparing the
    // whole file before and after an operation.
    QString dump() const;
    // Pigeons that do not have exactly one Record row.
    int pigeonsWithoutOneRecord() const;
    // A trigger that makes every statement of kind ("INSERT", "UPDATE",
    // "DELETE") on table fail with the driver's constraint error.
    bool failOn(const QString &kind, const QString &table) const;

    // Holds the database from the fixture's connection, as the engine may
    // while it stores an arrival, past a short busy time (50 ms) with which
    // this thread's Storage is reopened: its writes fail, and with forReads
    // its reads too (the file goes back to the rollback journal of earlier
    // versions; the write-ahead log lets readers pass any writer).
    // releaseHold() ends the hold and the short busy time of later opens.
    bool hold(bool forReads) const;
    bool releaseHold() const;

    // Closes the fixture's connection (before the file is replaced); the
    // next call opens it again.
    void closeConnection() const;
    // Copies the database file aside and back (no transaction may be open).
    bool saveCopy(const QString &copyPath) const;
    bool restoreCopy(const QString &copyPath) const;

    // Cuts the power after each statement of the named operation in turn
    // (run by PowerCut in a child process on this database as it stands,
    // with this thread's Storage closed first) until one run completes. At
    // every next start the file holds the whole change or none of it;
    // afterRestart checks more with Storage open. *cuts: the runs cut before
    // the change completed. The caller checks QTest::currentTestFailed().
    void checkPowerCuts(const QString &operation, int *cuts, const std::function<void()> &afterRestart = {});

private:
    QString connection() const;

    TestRoot testRoot;
    QString name;
};
