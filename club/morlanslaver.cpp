#include "club/morlanslaver.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/commport.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "race/pigeonbo.h"
#include "core/log.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

// The poll, the two reply builders and the binary commands 0xC1 to 0xC6; the
// JSON service of 0xC0 is in morlanslaver_json.cpp and morlanslaver_data.cpp.

namespace {

// The PC addresses the clock as 'U' or '!'; frames for anyone else are not ours.
constexpr quint8 kAddressClock = 0x55;
constexpr quint8 kAddressClockAlt = 0x21;
constexpr quint8 kResponseStart = 0x33;

enum Command : quint8 {
    JsonMethod = 0xC0,
    Auth = 0xC1,
    Init = 0xC2,
    DeviceInfo = 0xC3,
    ShowTip = 0xC4,
    Firmware = 0xC5,
    SetRfModule = 0xC6,
};

constexpr quint8 kStatusOk = 0x00;
constexpr quint8 kStatusBadLength = 0x50;

constexpr int kMaxReplyDataBytes = 254;
constexpr int kChallengeBytes = 4;
constexpr int kRandomBytes = 4;
constexpr int kTagBytes = 4;
constexpr int kSessionKeyOffset = 4;
constexpr int kSessionKeyBytes = 8;
// Loft number, comma, password and the tag: below this nothing can be in it.
constexpr int kMinInitLength = 6;
// The fixed key of the initialisation tag; PC programs compute it so.
const char kInitKey[] = "KVM4738";
const char kNoSystemId[] = "00000000";

constexpr int kCodeMd5Error = 0x505;
constexpr int kCodeUnknown = 0x507;

const char kFirmwareId[] = {0x46, 0x30, 0x00, 0x09};

QByteArray md5(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

// The text before the first zero byte, as UTF-8.
QString textUpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
}

} // namespace

MorlanSlaverHandler::Hooks MorlanSlaverHandler::engineHooks()
{
    Hooks engine;
    engine.systemId = [] {
        if (PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo)
            return bo->getSystemId();
        return QString::fromLatin1(kNoSystemId);
    };
    engine.reflushCache = [] {
        if (PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo)
            bo->reflushCache();
    };
    engine.setModuleMode = [](quint8 mode) {
        if (RFIDService *rfid = ServiceFactory::getInstance()->rfidService)
            rfid->setPendingModuleMode(mode);
    };
    return engine;
}

MorlanSlaverHandler::MorlanSlaverHandler(CommPort *commPort)
    : requestParser(commPort)
    , port(commPort)
    , hooks(engineHooks())
{
}

MorlanSlaverHandler::~MorlanSlaverHandler() = default;

void MorlanSlaverHandler::setCallback(MorlanSlaverCallback *slaverCallback)
{
    callback = slaverCallback;
}

void MorlanSlaverHandler::setHooks(const Hooks &replacement)
{
    hooks = replacement;
}

void MorlanSlaverHandler::parseRequest()
{
    MorlanRequestPacket request;
    if (!requestParser.fetchPacket(&request))
        return;
    if (request.address != kAddressClock && request.address != kAddressClockAlt)
        return;
    switch (request.command) {
    case JsonMethod: cmdJsonMethod(request); break;
    case Auth: cmdAuth(request); break;
    case Init: cmdInit(request); break;
    case DeviceInfo: cmdGetDeviceInfo(request); break;
    case ShowTip: cmdShowTip(request); break;
    case Firmware: cmdGetFirmware(request); break;
    case SetRfModule: cmdSetRFmodule(request); break;
    default: break; // not a command of the slave: no reply
    }
}

void MorlanSlaverHandler::responseOK(const MorlanRequestPacket &request, const QByteArray &data)
{
    if (data.size() > kMaxReplyDataBytes) {
        responseError(request, kStatusBadLength);
        return;
    }
    MorlanResponsePacket response;
    response.start = kResponseStart;
    response.address = request.address;
    response.command = request.command;
    response.status = kStatusOk;
    response.data = data;
    MorlanResponseParser(port).sendPacket(response);
}

void MorlanSlaverHandler::responseError(const MorlanRequestPacket &request, quint8 status)
{
    MorlanResponsePacket response;
    response.start = kResponseStart;
    response.address = request.address;
    response.command = request.command;
    response.status = status;
    MorlanResponseParser(port).sendPacket(response);
}

void MorlanSlaverHandler::cmdAuth(const MorlanRequestPacket &request)
{
    if (request.data.size() < kChallengeBytes) {
        responseError(request, kStatusBadLength);
        return;
    }
    challenge = request.data.left(kChallengeBytes);
    // The system generator: the digest keys the session, and rand() would be
    // a guessable sequence shared with every other thread.
    ownRandom = QByteArray(kRandomBytes, '\0');
    for (char &byte : ownRandom)
        byte = char(QRandomGenerator::system()->generate() & 0xFF);
    // The password of the working copy as it stands: empty while the copy is
    // unread, which PC programs expect of a first authentication.
    const QByteArray digest = md5(challenge + ownRandom + QByteArray::fromHex(hooks.systemId().toLatin1())
                                  + loftInfo.password.toLatin1());
    sessionKey = digest.mid(kSessionKeyOffset, kSessionKeyBytes);
    responseOK(request, ownRandom + digest.left(kTagBytes));
}

void MorlanSlaverHandler::cmdInit(const MorlanRequestPacket &request)
{
    if (request.length < kMinInitLength) {
        responseError(request, kStatusBadLength);
        return;
    }
    // The file systems are flushed whatever the outcome, even when the reply
    // could not be sent.
    try {
        deviceInit(request);
    } catch (...) {
        HardwareControl::syncAll();
        throw;
    }
    HardwareControl::syncAll();
}

void MorlanSlaverHandler::deviceInit(const MorlanRequestPacket &request)
{
    const QByteArray body = request.data.left(request.data.size() - kTagBytes);
    const QByteArray tag = request.data.right(kTagBytes);
    const QByteArray expected =
        md5(body + challenge + ownRandom + systemId + QByteArray(kInitKey)).left(kTagBytes);
    if (tag != expected) {
        jsonResponseError(request, kCodeMd5Error, QStringLiteral("MD5 Error!"));
        return;
    }
    const QList<QByteArray> fields = body.split(',');
    if (fields.size() < 2) {
        // Without a password field there is nothing to set up: refused before
        // anything is erased.
        jsonResponseError(request, kCodeUnknown, QStringLiteral("Unknown exception!"));
        return;
    }
    try {
        Storage::instance()->formatDevice(textUpToZero(fields.at(0)), textUpToZero(fields.at(1)));
        loftInfo.init();
        hooks.reflushCache();
    } catch (const VexException &e) {
        jsonResponseError(request, e.getErrorCode(), e.getErrorMessage());
        return;
    } catch (...) {
        jsonResponseError(request, kCodeUnknown, QStringLiteral("Unknown exception!"));
        return;
    }
    jsonResponseOK(request, QVariant());
}

void MorlanSlaverHandler::cmdGetDeviceInfo(const MorlanRequestPacket &request)
{
    systemId = QByteArray::fromHex(hooks.systemId().toLatin1());
    readLoftIfUnread();
    responseOK(request, systemId + loftInfo.loftNum.toUtf8());
}

void MorlanSlaverHandler::cmdShowTip(const MorlanRequestPacket &request)
{
    const QString tip = textUpToZero(request.data);
    ServiceFactory::debug(QLatin1Char('"') + tip + QLatin1Char('"'));
    if (callback)
        callback->onShowTip(tip);
}

void MorlanSlaverHandler::cmdGetFirmware(const MorlanRequestPacket &request)
{
    responseOK(request, QByteArray(kFirmwareId, sizeof kFirmwareId));
}

void MorlanSlaverHandler::cmdSetRFmodule(const MorlanRequestPacket &request)
{
    const quint8 mode = request.data.isEmpty() ? 0 : quint8(request.data.at(0));
    hooks.setModuleMode(mode);
    responseOK(request, QByteArray());
}

void MorlanSlaverHandler::readLoftIfUnread()
{
    if (loftInfo.loftNum.isEmpty())
        Storage::instance()->readLoftInfo(&loftInfo);
}

void MorlanSlaverHandler::clearCache()
{
    currentPigeon.reset();
    pigeons.clear();
    currentRace.reset();
    races.clear();
    currentRecord.reset();
    loftInfo.init();
    logs.clear();
}
