#include "dbreader.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>

namespace {
// Long enough for a burst of the program's writes to end.
const QString kConnectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000");
std::atomic<int> readers{0};
} // namespace

DbReader::DbReader(const QString &file)
    : name(QStringLiteral("dbreader-%1").arg(++readers))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    db.setConnectOptions(kConnectOptions);
}

DbReader::~DbReader()
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QList<QVariantList> DbReader::rows(const QString &sql) const
{
    QList<QVariantList> out;
    QSqlDatabase db = QSqlDatabase::database(name, true);
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        qWarning() << sql << "failed:" << q.lastError().text();
        return {{QStringLiteral("failed")}};
    }
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        out << row;
    }
    return out;
}

QVariant DbReader::value(const QString &sql) const
{
    const QList<QVariantList> all = rows(sql);
    return all.isEmpty() || all.first().isEmpty() ? QVariant() : all.first().first();
}

bool DbReader::exec(const QString &sql) const
{
    QSqlDatabase db = QSqlDatabase::database(name, true);
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    qWarning() << sql << "failed:" << q.lastError().text();
    return false;
}

void DbReader::close() const
{
    QSqlDatabase::database(name, false).close();
}
