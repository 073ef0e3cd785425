#include "gsm/jsonservice.h"

#include "core/jsonwriter.h"
#include "core/vexexception.h"
#include "gsm/gsmservice.h"
#include "race/pigeonbo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVariantMap>

namespace {

constexpr int kReplyError = 0x1002;

[[noreturn]] void fail(const QString &message, const QString &desc = QString())
{
    throw VexException(kReplyError, message, desc);
}

// A reply body as a JSON value, or false when it is no JSON text. A bare
// scalar is JSON too, though QJsonDocument refuses it at the top level:
// wrapped into an array of exactly one element it parses.
bool parseReply(const QByteArray &body, QJsonValue *value)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error == QJsonParseError::NoError) {
        *value = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
        return true;
    }
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + body + ']', &error);
    if (error.error != QJsonParseError::NoError || wrapped.array().size() != 1)
        return false;
    *value = wrapped.array().at(0);
    return true;
}

// The text of an "error" member: a string's characters, a number's decimal
// text, true or false; an object or an array has none.
QString errorText(const QJsonValue &error)
{
    switch (error.type()) {
    case QJsonValue::String:
        return error.toString();
    case QJsonValue::Bool:
        return error.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return error.toVariant().toString();
    default:
        return QString();
    }
}

// Whether a reply's "id" names request number expected: a number equal to it
// (exactly: 4294967297 is not 1, and 1.5 is not 2), or its decimal text.
bool sameId(const QJsonValue &id, int expected)
{
    if (id.isDouble())
        return id.toDouble() == double(expected);
    if (id.isString()) {
        bool ok = false;
        const int n = id.toVariant().toInt(&ok);
        return ok && n == expected;
    }
    return false;
}

} // namespace

std::atomic<int> JsonService::_id{0};

JsonService::JsonService(GSMService *s)
    : service(s)
{
}

JsonService::~JsonService() = default;

QByteArray JsonService::postHttp(QByteArray body)
{
    if (!service)
        throw VexException(0x1001, QStringLiteral("requestHTTP error!"), QString());
    return service->postHttp(body);
}

QVariant JsonService::doMethodMac(QByteArray method, QByteArray loftNum, QByteArray password, QByteArray params,
                                  QString ownerName)
{
    const QByteArray code = PigeonBo::getMacW5(params, loftNum, password).toHex().toUpper();
    // The payload travels as the very bytes that were signed.
    QVariantList list{QString::fromLatin1(loftNum), QString::fromUtf8(params), QString::fromLatin1(code)};
    if (!ownerName.isEmpty())
        list << ownerName;
    return exchange(method, list, true);
}

QVariant JsonService::sendState(QByteArray loftNum, QByteArray password, QByteArray params)
{
    return doMethodMac("sendState4", loftNum, password, params, QString());
}

QVariant JsonService::sendMarkRecord(QByteArray loftNum, QByteArray password, QByteArray params)
{
    return doMethodMac("uploadMarkRecord", loftNum, password, params, QString());
}

void JsonService::sendRecordList(QByteArray loftNum, QByteArray password, QByteArray params, QString ownerName)
{
    doMethodMac("sendRecords", loftNum, password, params, ownerName);
}

void JsonService::sendRecord(QByteArray loftNum, QByteArray password, QByteArray params)
{
    doMethodMac("sendRecord4", loftNum, password, params, QString());
}

QVariant JsonService::doMethod(QByteArray method, QByteArray first, QList<QVariant> rest)
{
    QVariantList list{QString::fromUtf8(first)};
    list += rest;
    return exchange(method, list, false);
}

QVariant JsonService::exchange(const QByteArray &method, const QVariantList &params, bool signedCall)
{
    // Each request keeps its own number: the reply is compared with it, not
    // with the counter, which another request may have moved meanwhile.
    const int id = ++_id;
    const QVariantMap request{
        {QStringLiteral("id"), id},
        {QStringLiteral("method"), QString::fromLatin1(method)},
        {QStringLiteral("params"), params},
    };
    const QByteArray reply = postHttp(JsonWriter::write(request));

    QJsonValue parsed;
    if (!parseReply(reply, &parsed) && signedCall)
        fail(QStringLiteral("Response format error!"));
    const QJsonObject object = parsed.toObject(); // anything else: no members
    const QJsonValue error = object.value(QStringLiteral("error"));
    if (!error.isUndefined() && !error.isNull()) {
        if (!signedCall)
            fail(QStringLiteral("Send record failed!"));
        const QString text = errorText(error);
        fail(text, text);
    }
    const QJsonValue replyId = object.value(QStringLiteral("id"));
    if (replyId.isUndefined() || replyId.isNull())
        fail(QStringLiteral("Response id is null!"));
    if (!sameId(replyId, id))
        fail(QStringLiteral("Response id error!"));
    return object.value(QStringLiteral("result")).toVariant();
}
