#pragma once

#include <QList>
#include <QString>
#include <QVariant>

struct sqlite3_stmt;

// One row of a statement that Storage reads straight from SQLite: the reads
// of whole lists (the loft's pigeons, a race's records) would otherwise spend
// most of their time making a QVariant of every cell. Each value converts as
// the value Qt's SQLite driver gives would convert. Valid only inside the
// reader it is handed to, on the thread of Storage's connection.
class StorageRow
{
public:
    explicit StorageRow(sqlite3_stmt *statement);

    // The value as Qt's driver gives it: an integer, a real, a text, bytes,
    // or a null text for NULL.
    QVariant value(int column) const;
    // The text; NULL reads as an empty text. A text equal to the one the
    // column held in the row before is that one shared, not a new copy: a
    // race's rows repeat its code, reader and key in every row.
    QString text(int column) const;
    qint64 int64(int column) const;
    int int32(int column) const;
    // Any non-zero number.
    bool flag(int column) const;

private:
    sqlite3_stmt *stmt;
    mutable QList<QString> lastText; // by column
};
