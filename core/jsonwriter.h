#pragma once

#include <QByteArray>
#include <QVariant>

// The one writer of every JSON text the clock sends or stores: compact, object
// members in ascending key order, strings escaping only backslash, quote,
// backspace, form feed, line feed, carriage return and tab (every other
// character as UTF-8), integers in decimal. Authentication codes are computed
// over exactly these bytes, so the output must never change shape.
// Stateless; any thread.
class JsonWriter
{
public:
    // Maps and hashes become objects, lists arrays, strings strings, bools
    // true/false, integer types decimal numbers, a null or invalid value null;
    // QJsonValue, QJsonObject and QJsonArray are taken as they are.
    static QByteArray write(const QVariant &value);
    static QByteArray quote(const QString &text);

private:
    static void append(QByteArray &out, const QVariant &value);
};
