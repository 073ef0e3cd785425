#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// A test's own connection to the program's database file, for reading what
// a program running as a process stored (and for setting up rows the
// program's screens would). Each reader has a connection name of its own.
// Close it before the program is cut or started: the program must never wait
// for the test.
class DbReader
{
public:
    explicit DbReader(const QString &file);
    ~DbReader();
    DbReader(const DbReader &) = delete;
    DbReader &operator=(const DbReader &) = delete;

    // Every row of a query; one row holding "failed" when it fails.
    QList<QVariantList> rows(const QString &sql) const;
    // The first column of the first row; invalid when there is none.
    QVariant value(const QString &sql) const;
    bool exec(const QString &sql) const;
    void close() const;

private:
    QString name;
};
