#include "storage/storage.h"

#include "core/vexexception.h"
#include "storage/pigeoninfo.h"
#include "storage/raceinfo.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <cstring>

#include <sqlite3.h>

// The PC's filters. A PC program sends a condition in SQL that goes into the
// where-clause as it stands; SQLite's authorizer, armed for the length of
// that one statement, keeps it to reading the table it filters: another
// table (the loft row with its password), a write, a PRAGMA, an ATTACH or a
// function off the short list below stops the statement before it runs.

namespace {

// Far longer than any condition a PC program writes on these tables.
constexpr int kMaxFilterChars = 1000;

// Plain functions a condition may use; anything else (load_extension,
// randomblob, the date functions' clock) is refused.
const char *const kAllowedFunctions[] = {
    "abs",  "coalesce", "glob", "ifnull", "instr", "length", "like",   "lower",     "ltrim", "max",
    "min",  "nullif",   "replace", "round", "rtrim", "substr", "substring", "trim", "upper",
};

bool sameName(const char *a, const char *b)
{
    return a && b && sqlite3_stricmp(a, b) == 0;
}

int authorize(void *table, int action, const char *first, const char *second, const char *, const char *)
{
    switch (action) {
    case SQLITE_SELECT:
        return SQLITE_OK;
    case SQLITE_READ:
        // first: the table; a subquery on the same table is still that table.
        return sameName(first, static_cast<const char *>(table)) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_FUNCTION:
        for (const char *name : kAllowedFunctions) {
            if (sameName(second, name))
                return SQLITE_OK;
        }
        return SQLITE_DENY;
    default:
        return SQLITE_DENY; // every write, PRAGMA, ATTACH, transaction and schema change
    }
}

// What SQLite reports when the authorizer refuses a statement.
[[noreturn]] void refuse()
{
    throw DBException(SQLITE_AUTH, QStringLiteral("not authorized"), QString());
}

// Restores the caller's state however the statement ends.
struct FilterScope {
    const char *&slot;
    FilterScope(const char *&target, const char *table)
        : slot(target)
    {
        slot = table;
    }
    ~FilterScope() { slot = nullptr; }
};

} // namespace

sqlite3 *Storage::nativeHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

void Storage::setFilterGuard(const QSqlDatabase &db, const char *table)
{
    sqlite3 *handle = nativeHandle(db);
    // Without the driver's handle no filter may run unguarded.
    if (!handle)
        refuse();
    if (table)
        sqlite3_set_authorizer(handle, authorize, const_cast<char *>(table));
    else
        sqlite3_set_authorizer(handle, nullptr, nullptr);
}

void Storage::checkFilter(const QString &filter)
{
    if (filter.size() > kMaxFilterChars)
        refuse();
}

QList<QSharedPointer<PigeonInfo>> Storage::queryPigeonsFiltered(const QString &filter)
{
    checkFilter(filter);
    static const char kTable[] = "Pigeon";
    FilterScope scope(filterTable, kTable);
    return selectPigeons(filter, {});
}

QList<QSharedPointer<RaceInfo>> Storage::queryRacesFiltered(const QString &filter)
{
    checkFilter(filter);
    static const char kTable[] = "Race";
    FilterScope scope(filterTable, kTable);
    return selectRaces(filter, {}, QStringLiteral(" "));
}
