#include "core/jsonwriter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>

#include <cmath>

namespace {

void appendString(QByteArray &out, const QString &text)
{
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c; break;
        }
    }
    out += '"';
}

void appendDouble(QByteArray &out, double d)
{
    if (!std::isfinite(d)) {
        out += "null";
        return;
    }
    // Whole numbers (times, codes parsed back from JSON) keep their decimal
    // integer form; anything else uses the shortest exact representation.
    if (std::floor(d) == d && std::fabs(d) < 9007199254740992.0) {
        out += QByteArray::number(static_cast<qint64>(d));
        return;
    }
    out += QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QByteArray JsonWriter::write(const QVariant &value)
{
    QByteArray out;
    append(out, value);
    return out;
}

QByteArray JsonWriter::quote(const QString &text)
{
    QByteArray out;
    appendString(out, text);
    return out;
}

void JsonWriter::append(QByteArray &out, const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        // A null QString is still a string: an empty one.
        if (value.typeId() == QMetaType::QString) {
            out += "\"\"";
            return;
        }
        out += "null";
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        out += value.toBool() ? "true" : "false";
        return;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        out += QByteArray::number(value.toLongLong());
        return;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        out += QByteArray::number(value.toULongLong());
        return;
    case QMetaType::Double:
    case QMetaType::Float:
        appendDouble(out, value.toDouble());
        return;
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QChar:
        appendString(out, value.toString());
        return;
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
    case QMetaType::QJsonObject: {
        // QMap orders its keys ascending, which fixes the member order.
        QVariantMap map;
        if (value.typeId() == QMetaType::QVariantHash) {
            const QVariantHash hash = value.toHash();
            for (auto it = hash.cbegin(); it != hash.cend(); ++it)
                map.insert(it.key(), it.value());
        } else if (value.typeId() == QMetaType::QJsonObject) {
            const QJsonObject object = value.toJsonObject();
            for (auto it = object.begin(); it != object.end(); ++it)
                map.insert(it.key(), it.value().toVariant());
        } else {
            map = value.toMap();
        }
        out += '{';
        bool first = true;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!first)
                out += ',';
            first = false;
            appendString(out, it.key());
            out += ':';
            append(out, it.value());
        }
        out += '}';
        return;
    }
    case QMetaType::QJsonValue:
        append(out, value.toJsonValue().toVariant());
        return;
    case QMetaType::QJsonArray:
        append(out, value.toJsonArray().toVariantList());
        return;
    default:
        break;
    }
    if (value.canConvert<QVariantList>()) {
        const QVariantList list = value.toList();
        out += '[';
        for (int i = 0; i < list.size(); ++i) {
            if (i > 0)
                out += ',';
            append(out, list.at(i));
        }
        out += ']';
        return;
    }
    appendString(out, value.toString());
}
