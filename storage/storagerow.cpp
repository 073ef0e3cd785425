#include "storage/storagerow.h"

#include <QByteArray>

#include <sqlite3.h>

namespace {

// As the driver makes it: SQLite's own UTF-16 form of the text.
QString textOf(sqlite3_stmt *stmt, int column)
{
    const void *chars = sqlite3_column_text16(stmt, column);
    const int bytes = sqlite3_column_bytes16(stmt, column);
    return QString(static_cast<const QChar *>(chars), bytes / int(sizeof(QChar)));
}

} // namespace

StorageRow::StorageRow(sqlite3_stmt *statement)
    : stmt(statement)
    , lastText(sqlite3_column_count(statement))
{
}

QVariant StorageRow::value(int column) const
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, column));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, column)),
                                   sqlite3_column_bytes(stmt, column)));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    default:
        return QVariant(textOf(stmt, column));
    }
}

QString StorageRow::text(int column) const
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_TEXT: {
        const void *chars = sqlite3_column_text16(stmt, column);
        const int length = sqlite3_column_bytes16(stmt, column) / int(sizeof(QChar));
        QString &last = lastText[column];
        if (last.isNull() || last.size() != length
            || QStringView(last) != QStringView(static_cast<const QChar *>(chars), length))
            last = QString(static_cast<const QChar *>(chars), length);
        return last;
    }
    case SQLITE_NULL:
        return QStringLiteral("");
    default:
        return value(column).toString();
    }
}

qint64 StorageRow::int64(int column) const
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(stmt, column);
    case SQLITE_NULL:
        return 0;
    default:
        return value(column).toLongLong();
    }
}

int StorageRow::int32(int column) const
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        // Cut to its low 32 bits, as the variant's conversion cuts it.
        return int(sqlite3_column_int64(stmt, column));
    case SQLITE_NULL:
        return 0;
    default:
        return value(column).toInt();
    }
}

bool StorageRow::flag(int column) const
{
    return int64(column) != 0;
}
