#pragma once

#include <QHash>
#include <QString>

#include <initializer_list>
#include <utility>

// The field names of a record, looked up without regard to case: the PC
// link's peers may write a key in any letter case. Built once per record
// class (a function-local static), read-only afterwards, so any thread may
// look up.
template <typename Key>
class RecordKeys
{
public:
    RecordKeys(std::initializer_list<std::pair<const char *, Key>> entries)
    {
        for (const auto &entry : entries) {
            const QString name = QString::fromLatin1(entry.first);
            byFolded.insert(name.toCaseFolded(), entry.second);
            names.insert(static_cast<int>(entry.second), name);
        }
    }

    bool find(const QString &key, Key *found) const
    {
        const auto it = byFolded.constFind(key.toCaseFolded());
        if (it == byFolded.constEnd())
            return false;
        *found = it.value();
        return true;
    }

    // The canonical spelling of a key.
    QString name(Key key) const { return names.value(static_cast<int>(key)); }

private:
    QHash<QString, Key> byFolded;
    QHash<int, QString> names;
};

// A non-null text of length 0. The records' "empty" defaults use it: a null
// text is stored as SQL NULL, which some columns refuse.
inline QString emptyText()
{
    return QString(QLatin1String(""));
}
