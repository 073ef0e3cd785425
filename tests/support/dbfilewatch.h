#pragma once

#include <QString>

// Changes of a database's files as the kernel reports them (inotify on the
// folder): the main file, its rollback journal and its write-ahead log, so a
// writer's transaction is seen whichever journal mode it uses. A power-cut
// test waits on it to cut at the instant a write begins, or to look again for
// a commit only when a file changed. The shared-memory index of a
// write-ahead log is left out: readers touch it too. Test thread only.
class DbFileWatch
{
public:
    explicit DbFileWatch(const QString &databaseFile);
    ~DbFileWatch();
    DbFileWatch(const DbFileWatch &) = delete;
    DbFileWatch &operator=(const DbFileWatch &) = delete;

    bool isValid() const { return fd >= 0; }
    // Forgets the changes reported so far.
    void clear();
    // Waits up to limitMs for a change of one of the files; true when one came.
    bool waitForChange(int limitMs);

private:
    // Reads what the kernel queued; true when a database file changed.
    bool takeEvents();

    QString name;
    int fd = -1;
};
