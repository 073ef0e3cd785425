#include "storage/storage.h"

#include "core/vexexception.h"
#include "storage/nomination.h"

#include <QSqlQuery>

// Nominations (the order in which the owner baskets a race's pigeons) and the
// owner's notification phones. Written from the GUI thread; read by the
// marking order, the club link and the race engine's phone cache.

namespace {

const char kQueryNoms[] =
    "select Pigeon.AssocNum,Nomination.RaceCode,Nomination.Nom from Pigeon left join Nomination "
    "ON Pigeon.AssocNum=Nomination.AssocNum order by Pigeon.AssocNum";
// Id is declared INTERGER, so it is no row-id alias and stays NULL: rows are
// found by association number and race code only.
const char kInsertNom[] =
    "insert into nomination(Id,AssocNum,EringNum,RaceCode,Nom) values(null,:AssocNum,:EringNum,:RaceCode,:Nom)";
} // namespace

void Storage::_fetch(const QSqlQuery &q, Nomination *nomination)
{
    nomination->assocNum = textAt(q, 0);
    if (q.value(1).isNull()) {
        nomination->raceCode = QStringLiteral("");
        nomination->nom = 0;
        return;
    }
    nomination->raceCode = textAt(q, 1);
    nomination->nom = q.value(2).toInt();
}

QList<QSharedPointer<Nomination>> Storage::queryNoms()
{
    QList<QSharedPointer<Nomination>> noms;
    run(QLatin1String(kQueryNoms), {}, [&noms](const QSqlQuery &q) {
        auto nomination = QSharedPointer<Nomination>::create();
        _fetch(q, nomination.data());
        noms.append(nomination);
    });
    return noms;
}

QHash<QString, int> Storage::queryRaceNoms(const QString &raceCode)
{
    QHash<QString, int> noms;
    run(QStringLiteral("select AssocNum,Nom from nomination where RaceCode=:raceCode"),
        {{QStringLiteral(":raceCode"), raceCode}}, [&noms](const QSqlQuery &q) {
            const QString assocNum = textAt(q, 0);
            if (!noms.contains(assocNum))
                noms.insert(assocNum, q.value(1).toInt());
        });
    return noms;
}

int Storage::getRacePigeonNom(const QString &assocNum, const QString &raceCode)
{
    // Both bound: a value holding a quote, or "%2", must find its own row.
    int nom = 0;
    bool found = false;
    run(QStringLiteral("select Nom from nomination where AssocNum=:assocNum and RaceCode=:raceCode"),
        {{QStringLiteral(":assocNum"), assocNum}, {QStringLiteral(":raceCode"), raceCode}},
        [&nom, &found](const QSqlQuery &q) {
            if (found)
                return;
            found = true;
            nom = q.value(0).toInt();
        });
    return nom;
}

void Storage::_insertNom(const QString &assocNum, const QString &eringNum, const QString &raceCode, int nom)
{
    // EringNum is NOT NULL, and a null text would bind as NULL.
    run(QLatin1String(kInsertNom), {{QStringLiteral(":AssocNum"), assocNum},
                                    {QStringLiteral(":EringNum"), eringNum.isNull() ? QStringLiteral("") : eringNum},
                                    {QStringLiteral(":RaceCode"), raceCode},
                                    {QStringLiteral(":Nom"), nom}});
}

void Storage::_delNomByRaceCode(const QString &raceCode)
{
    run(QStringLiteral("delete from nomination where RaceCode=:raceCode"), {{QStringLiteral(":raceCode"), raceCode}});
}

void Storage::saveRaceNoms(const QString &raceCode, const QList<QSharedPointer<Nomination>> &noms)
{
    _beginTransaction();
    try {
        _delNomByRaceCode(raceCode);
        // The list belongs to raceCode whatever race the entries name.
        for (const auto &entry : noms)
            _insertNom(entry->assocNum, QStringLiteral(""), raceCode, entry->nom);
        _commit();
    } catch (...) {
        _rollback();
        throw;
    }
}

QList<QString> Storage::queryPhoneCode()
{
    // Positions in the list are not ids: empty rows are passed over.
    QList<QString> codes;
    run(QStringLiteral("select id,phonecode from Phone order by id"), {}, [&codes](const QSqlQuery &q) {
        if (q.value(1).isNull())
            return;
        const QString code = q.value(1).toString().trimmed();
        if (!code.isEmpty())
            codes.append(code);
    });
    return codes;
}

void Storage::updatePhoneCode(int id, const QString &code)
{
    bool exists = false;
    run(QStringLiteral("select id,phonecode from Phone where id=:id"), {{QStringLiteral(":id"), id}},
        [&exists](const QSqlQuery &) { exists = true; });
    run(exists ? QStringLiteral("update Phone set phonecode=:phonecode where id=:id")
               : QStringLiteral("insert into Phone(id,phonecode) values(:id,:phonecode)"),
        {{QStringLiteral(":phonecode"), code}, {QStringLiteral(":id"), id}});
}

void Storage::removePhoneCode(int id)
{
    run(QStringLiteral("delete from Phone where id=:id"), {{QStringLiteral(":id"), id}});
}

void Storage::savePhoneCodes(const QList<QString> &codes)
{
    // One transaction: a failure or a power cut midway must not leave old
    // and new numbers mixed, or arrival SMS would reach a number the owner
    // removed.
    _beginTransaction();
    try {
        for (int id = 0; id < codes.size(); ++id)
            updatePhoneCode(id, codes.at(id));
        // Every row past the list goes, also those of a longer list the PC
        // program stored: the screen shows five and saves what it shows, so
        // numbers it never showed must not come back at the next start.
        run(QStringLiteral("delete from Phone where id>=:id"), {{QStringLiteral(":id"), int(codes.size())}});
        _commit();
    } catch (...) {
        _rollback();
        throw;
    }
}
