#include "club/morlanslaver.h"

#include "core/jsonwriter.h"
#include "core/log.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "gsm/attext.h"
#include "storage/storage.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonParseError>

// The JSON-RPC service of command 0xC0: the tagged envelope, the two reply
// forms, parameters, dispatch, and the loft, parameter, log and GPS methods.
// The pigeon, race and record methods are in morlanslaver_data.cpp.

namespace {

constexpr quint8 kStatusBadLength = 0x50;
constexpr quint8 kStatusBadTag = 0x51;
constexpr int kTagBytes = 4;

constexpr int kCodeJson = 0x504;
constexpr int kCodeRefused = 0x500;
constexpr int kCodeIndex = 0x507;

constexpr int kDefaultUserMode = 2;
constexpr int kMaxLogs = 100;

const QString kParams = QStringLiteral("params");
const QString kMethod = QStringLiteral("method");
const QString kId = QStringLiteral("id");
const QString kCache = QStringLiteral("cache");
const QString kFields = QStringLiteral("fields");
const QString kUserMode = QStringLiteral("userMode");
const QString kGsmNet = QStringLiteral("gsmNet");
const QString kApn = QStringLiteral("apn");
const QString kLanguage = QStringLiteral("language");

// Settings that leave the database for an AT command or a file path are
// checked before anything is taken: the refusal text names the first bad one.
QString refusedLoftField(const QVariantMap &params)
{
    for (auto it = params.cbegin(); it != params.cend(); ++it) {
        if (it.key().compare(kApn, Qt::CaseInsensitive) == 0 && !AtText::apnSetting(it.value().toString()))
            return QStringLiteral("Invalid APN!");
        if (it.key().compare(kLanguage, Qt::CaseInsensitive) == 0
            && !ServiceFactory::isLanguageCode(it.value().toString()))
            return QStringLiteral("Invalid language!");
    }
    return QString();
}

} // namespace

QByteArray MorlanSlaverHandler::tagOf(const QByteArray &text) const
{
    return QCryptographicHash::hash(text + sessionKey, QCryptographicHash::Md5).left(kTagBytes);
}

void MorlanSlaverHandler::jsonResponseOK(const MorlanRequestPacket &request, const QVariant &result)
{
    QVariantMap reply;
    if (!requestId.isNull())
        reply.insert(kId, requestId);
    reply.insert(QStringLiteral("result"), result); // an invalid value is written as null
    // The tag covers exactly the bytes that go out.
    const QByteArray text = JsonWriter::write(reply);
    responseOK(request, text + tagOf(text));
}

void MorlanSlaverHandler::jsonResponseError(const MorlanRequestPacket &request, int code, const QString &message)
{
    QVariantMap reply;
    reply.insert(QStringLiteral("error"), code);
    if (!requestId.isNull())
        reply.insert(kId, requestId);
    reply.insert(QStringLiteral("result"), message);
    const QByteArray text = JsonWriter::write(reply);
    responseOK(request, text + tagOf(text));
}

QVariantMap MorlanSlaverHandler::fetchParams(const QVariantMap &request)
{
    const auto params = request.constFind(kParams);
    if (params != request.constEnd())
        return params.value().typeId() == QMetaType::QVariantMap ? params.value().toMap() : QVariantMap();
    // Parameters may also stand beside the method.
    QVariantMap beside = request;
    beside.remove(kId);
    beside.remove(kMethod);
    return beside;
}

QVariant MorlanSlaverHandler::fetchParam(const QVariantMap &params, const QString &name)
{
    for (auto it = params.cbegin(); it != params.cend(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    }
    return QVariant();
}

bool MorlanSlaverHandler::takeCacheFlag(QVariantMap &params)
{
    const bool cache = fetchParam(params, kCache).toBool();
    // Only the exact spelling is taken out; PC programs rely on it.
    params.remove(kCache);
    return cache;
}

void MorlanSlaverHandler::cmdJsonMethod(const MorlanRequestPacket &request)
{
    if (request.data.size() < kTagBytes) {
        responseError(request, kStatusBadLength);
        return;
    }
    const QByteArray text = request.data.left(request.data.size() - kTagBytes);
    if (tagOf(text) != request.data.right(kTagBytes)) {
        responseError(request, kStatusBadTag);
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !(document.isObject() || document.isArray())) {
        jsonResponseError(request, kCodeJson, QStringLiteral("Json parse falied!"));
        return;
    }
    // An array is no request object: it reads as one without a method.
    const QVariantMap call = document.toVariant().toMap();
    const QVariant method = call.value(kMethod);
    if (method.isNull()) {
        jsonResponseError(request, kCodeJson, QStringLiteral("Method is null"));
        return;
    }
    const QVariant id = call.value(kId);
    requestId = id.isNull() ? QVariant() : id;
    QVariantMap params = fetchParams(call);
    try {
        dispatch(request, method.toString(), params);
    } catch (const VexException &e) {
        jsonResponseError(request, e.getErrorCode(), e.getErrorMessage());
    }
}

void MorlanSlaverHandler::dispatch(const MorlanRequestPacket &request, const QString &method, QVariantMap &params)
{
    static const QList<QPair<QString, Handler>> methods = {
        {QStringLiteral("getLoftInfo"), &MorlanSlaverHandler::getLoftInfo},
        {QStringLiteral("setLoftInfo"), &MorlanSlaverHandler::setLoftInfo},
        {QStringLiteral("setParams"), &MorlanSlaverHandler::setParams},
        {QStringLiteral("getParams"), &MorlanSlaverHandler::getParams},
        {QStringLiteral("savePigeon"), &MorlanSlaverHandler::savePigeon},
        {QStringLiteral("deletePigeon"), &MorlanSlaverHandler::deletePigeon},
        {QStringLiteral("queryPigeon"), &MorlanSlaverHandler::queryPigeon},
        {QStringLiteral("getPigeonInfo"), &MorlanSlaverHandler::getPigeonInfo},
        {QStringLiteral("saveRace"), &MorlanSlaverHandler::saveRace},
        {QStringLiteral("deleteRace"), &MorlanSlaverHandler::deleteRace},
        {QStringLiteral("queryRace"), &MorlanSlaverHandler::queryRaces},
        {QStringLiteral("getRaceInfo"), &MorlanSlaverHandler::getRaceInfo},
        {QStringLiteral("queryRaceRecord"), &MorlanSlaverHandler::queryRaceRecord},
        {QStringLiteral("queryRaceCode"), &MorlanSlaverHandler::queryRaceCode},
        {QStringLiteral("queryLog"), &MorlanSlaverHandler::queryLog},
        {QStringLiteral("getLogInfo"), &MorlanSlaverHandler::getLogInfo},
        {QStringLiteral("clearLog"), &MorlanSlaverHandler::clearLog},
        {QStringLiteral("adjustGpsUtc"), &MorlanSlaverHandler::adjustGpsUtc},
    };
    for (const auto &entry : methods) {
        if (entry.first.compare(method, Qt::CaseInsensitive) == 0) {
            (this->*entry.second)(request, params);
            return;
        }
    }
    // An unknown method gets no reply at all: PC programs probe with it.
}

void MorlanSlaverHandler::getLoftInfo(const MorlanRequestPacket &request, QVariantMap &params)
{
    readLoftIfUnread();
    QVariantMap result;
    for (const QString &name : fetchParam(params, kFields).toStringList())
        result.insert(name, loftInfo.getField(name));
    jsonResponseOK(request, result);
}

void MorlanSlaverHandler::setLoftInfo(const MorlanRequestPacket &request, QVariantMap &params)
{
    const QString refused = refusedLoftField(params);
    if (!refused.isNull()) {
        jsonResponseError(request, kCodeRefused, refused);
        return;
    }
    readLoftIfUnread();
    const bool save = !takeCacheFlag(params);
    // QVariantMap iterates in ascending key order, as the fields are applied.
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        loftInfo.setField(it.key(), it.value());
    if (save)
        Storage::instance()->saveLoftInfo(&loftInfo);
    jsonResponseOK(request, QVariant());
}

void MorlanSlaverHandler::setParams(const MorlanRequestPacket &request, QVariantMap &params)
{
    if (params.contains(kGsmNet) && !AtText::operatorCode(params.value(kGsmNet).toString())) {
        jsonResponseError(request, kCodeRefused, QStringLiteral("Invalid operator code!"));
        return;
    }
    if (params.isEmpty())
        ServiceFactory::setParamInt32(kUserMode, kDefaultUserMode);
    if (params.contains(kUserMode))
        ServiceFactory::setParamInt32(kUserMode, params.value(kUserMode).toInt());
    if (params.contains(kGsmNet))
        Storage::instance()->setParam(kGsmNet, params.value(kGsmNet).toString());
    jsonResponseOK(request, QVariant());
}

void MorlanSlaverHandler::getParams(const MorlanRequestPacket &request, QVariantMap &params)
{
    const QStringList fields = fetchParam(params, kFields).toStringList();
    QVariantMap result;
    if (fields.isEmpty() || fields.contains(kUserMode))
        result.insert(kUserMode, ServiceFactory::getParamInt32(kUserMode, kDefaultUserMode));
    if (fields.contains(kGsmNet))
        result.insert(kGsmNet, Storage::instance()->getParam(kGsmNet));
    jsonResponseOK(request, result);
}

void MorlanSlaverHandler::queryLog(const MorlanRequestPacket &request, QVariantMap &params)
{
    int limit = fetchParam(params, QStringLiteral("limit")).toInt();
    if (limit <= 0 || limit > kMaxLogs)
        limit = kMaxLogs;
    const int logId = fetchParam(params, QStringLiteral("logId")).toInt();
    logs = Storage::instance()->queryLogs(logId, limit, 0);
    jsonResponseOK(request, int(logs.size()));
}

void MorlanSlaverHandler::getLogInfo(const MorlanRequestPacket &request, QVariantMap &params)
{
    const int index = fetchParam(params, QStringLiteral("index")).toInt();
    if (index < 0 || index >= logs.size()) {
        jsonResponseError(request, kCodeIndex, QStringLiteral("Index overflow!"));
        return;
    }
    QStringList fields = fetchParam(params, kFields).toStringList();
    if (fields.isEmpty())
        fields = QStringList{QStringLiteral("logId"), QStringLiteral("logType"), QStringLiteral("logTime"),
                             QStringLiteral("logInfo0")};
    jsonResponseOK(request, QVariantMap(logs.at(index)->getFields(fields)));
}

void MorlanSlaverHandler::clearLog(const MorlanRequestPacket &request, QVariantMap &params)
{
    Storage::instance()->clearLogs(fetchParam(params, QStringLiteral("count")).toInt());
    jsonResponseOK(request, QVariant());
}

void MorlanSlaverHandler::adjustGpsUtc(const MorlanRequestPacket &request, QVariantMap &params)
{
    const int offset = fetchParam(params, QStringLiteral("offset")).toInt();
    // Stored first: a failed store is answered as an error and leaves the
    // modem's adjustment as it was.
    ServiceFactory::setParamInt32(QStringLiteral("GPS_UTC_ADJUST"), offset);
    ServiceFactory::GPS_UTC_ADJUST = offset;
    jsonResponseOK(request, QVariant());
}
