#include "cloudcall.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

namespace {

const QSet<QString> &knownMethods()
{
    static const QSet<QString> methods{
        QStringLiteral("sendState4"),       QStringLiteral("sendRecords"),
        QStringLiteral("uploadMarkRecord"), QStringLiteral("uploadMarkRecordList"),
        QStringLiteral("uploadArriveData"), QStringLiteral("sendRecord4"),
    };
    return methods;
}

// A walk over the JSON text's tokens, checking only what the parser does
// not: blanks between tokens and the order of keys.
class Walker
{
public:
    explicit Walker(const QByteArray &t)
        : text(t)
    {
    }

    bool run()
    {
        if (!value(0))
            return false;
        return pos == text.size();
    }

    bool compact = true;
    bool ordered = true;
    QList<QByteArray> topKeys;

private:
    bool blank(char c) const { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    void skipBlanks()
    {
        while (pos < text.size() && blank(text.at(pos))) {
            compact = false;
            ++pos;
        }
    }

    bool value(int depth)
    {
        skipBlanks();
        if (pos >= text.size())
            return false;
        const char c = text.at(pos);
        if (c == '{')
            return object(depth);
        if (c == '[')
            return array(depth);
        if (c == '"') {
            QByteArray ignored;
            return string(&ignored);
        }
        // A number or a literal: everything up to the next delimiter.
        const int start = pos;
        while (pos < text.size() && !QByteArray(",]}").contains(text.at(pos)) && !blank(text.at(pos)))
            ++pos;
        return pos > start;
    }

    bool string(QByteArray *out)
    {
        ++pos; // the opening quote
        while (pos < text.size()) {
            const char c = text.at(pos++);
            if (c == '"')
                return true;
            if (c == '\\' && pos < text.size())
                out->append(text.at(pos++));
            else
                out->append(c);
        }
        return false;
    }

    bool object(int depth)
    {
        ++pos;
        QByteArray previous;
        bool first = true;
        for (;;) {
            skipBlanks();
            if (pos >= text.size())
                return false;
            if (text.at(pos) == '}') {
                ++pos;
                return true;
            }
            if (!first) {
                if (text.at(pos) != ',')
                    return false;
                ++pos;
                skipBlanks();
            }
            if (pos >= text.size() || text.at(pos) != '"')
                return false;
            QByteArray key;
            if (!string(&key))
                return false;
            if (!first && !(previous < key))
                ordered = false;
            if (depth == 0)
                topKeys << key;
            previous = key;
            first = false;
            skipBlanks();
            if (pos >= text.size() || text.at(pos) != ':')
                return false;
            ++pos;
            if (!value(depth + 1))
                return false;
        }
    }

    bool array(int depth)
    {
        ++pos;
        bool first = true;
        for (;;) {
            skipBlanks();
            if (pos >= text.size())
                return false;
            if (text.at(pos) == ']') {
                ++pos;
                return true;
            }
            if (!first) {
                if (text.at(pos) != ',')
                    return false;
                ++pos;
            }
            first = false;
            if (!value(depth + 1))
                return false;
        }
    }

    const QByteArray &text;
    int pos = 0;
};

} // namespace

bool CloudCall::compactAndOrdered(const QByteArray &text, QList<QByteArray> *topKeys, bool *ordered)
{
    Walker walker(text);
    const bool ok = walker.run();
    if (topKeys)
        *topKeys = walker.topKeys;
    if (ordered)
        *ordered = walker.ordered;
    return ok && walker.compact;
}

QString CloudCall::expectedCode(const QString &loftNum, const QString &password, const QString &payload)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(loftNum.toLatin1());
    md5.addData(password.toLatin1());
    md5.addData(payload.toUtf8());
    return QString::fromLatin1(md5.result().left(4).toHex().toUpper());
}

CloudCall CloudCall::inspect(const QByteArray &contentType, const QByteArray &body,
                             const QMap<QString, QString> &lofts)
{
    CloudCall call;
    call.rawBody = body;
    call.contentType = contentType;
    if (contentType.split(';').value(0).trimmed().toLower() != "application/json-rpc")
        call.problems << QStringLiteral("content type");

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        call.problems << QStringLiteral("not a JSON object");
        return call;
    }
    QList<QByteArray> keys;
    bool ordered = true;
    if (!compactAndOrdered(body, &keys, &ordered))
        call.problems << QStringLiteral("not compact");
    if (keys != QList<QByteArray>{"id", "method", "params"})
        call.problems << QStringLiteral("top level not id, method, params");
    if (!ordered)
        call.problems << QStringLiteral("keys out of order");

    const QJsonObject object = document.object();
    const QJsonValue id = object.value(QStringLiteral("id"));
    if (id.isDouble()) {
        call.id = id.toInteger();
        call.idText = QByteArray::number(call.id);
    } else {
        call.problems << QStringLiteral("id not a number");
    }
    call.method = object.value(QStringLiteral("method")).toString();
    if (!knownMethods().contains(call.method))
        call.problems << QStringLiteral("unknown method");

    const QJsonArray params = object.value(QStringLiteral("params")).toArray();
    call.paramCount = int(params.size());
    call.loftNum = params.at(0).toString();
    call.payload = params.at(1).toString();
    call.code = params.at(2).toString();
    call.ownerName = params.size() > 3 ? params.at(3).toString() : QString();
    for (const QJsonValue &p : params) {
        if (!p.isString())
            call.problems << QStringLiteral("parameter not a string");
    }
    // The payload is itself a JSON text, written the same way.
    bool payloadOrdered = true;
    if (!compactAndOrdered(call.payload.toUtf8(), nullptr, &payloadOrdered) || !payloadOrdered)
        call.problems << QStringLiteral("payload not compact ordered JSON");
    const bool owner = call.method == QLatin1String("sendRecords") && params.size() == 4;
    if (params.size() != 3 && !owner)
        call.problems << QStringLiteral("parameter count");

    const auto loft = lofts.constFind(call.loftNum);
    if (loft == lofts.constEnd()) {
        call.problems << QStringLiteral("unknown loft");
        return call;
    }
    call.codeValid = call.code == expectedCode(call.loftNum, loft.value(), call.payload);
    if (!call.codeValid)
        call.problems << QStringLiteral("bad code");
    if (!loft.value().isEmpty() && body.contains(loft.value().toUtf8()))
        call.problems << QStringLiteral("password in body");
    return call;
}
