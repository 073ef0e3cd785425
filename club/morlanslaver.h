#pragma once

#include "club/morlanprotocol.h"
#include "storage/loftinfo.h"

#include <QByteArray>
#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>

class CommPort;
class Log;
class PigeonInfo;
class PigeonRecord;
class RaceInfo;

// How the slave service of the club link reaches the thread that runs it: the
// PC program sent a text to show. Called from the club-link thread.
class MorlanSlaverCallback
{
public:
    virtual ~MorlanSlaverCallback() = default;
    virtual void onShowTip(QString tip) = 0;
};

// The clock as slave of a PC program on the club line: reads one request
// frame per poll, serves the seven binary commands (0xC0 JSON-RPC data
// service, 0xC1 authentication, 0xC2 device initialisation, 0xC3 device
// information, 0xC4 tip, 0xC5 firmware, 0xC6 reader module mode) and answers
// with one response frame. Built by the club-link thread when it enters comm
// mode and destroyed when it leaves, so the session key, the working copies
// and the query lists last one stay. Used by that thread only; the database is
// reached through the thread's own Storage.
class MorlanSlaverHandler
{
public:
    // What the service needs of the race engine and the ring-reader service.
    // The defaults reach them through the service factory; tests replace them.
    struct Hooks {
        std::function<QString()> systemId;           // 8 hexadecimal digits
        std::function<void()> reflushCache;          // reload the engine's loft cache
        std::function<void(quint8)> setModuleMode;   // pending reader module mode
    };
    static Hooks engineHooks();

    // The port carries requests and replies; it is not owned.
    explicit MorlanSlaverHandler(CommPort *port);
    ~MorlanSlaverHandler();
    MorlanSlaverHandler(const MorlanSlaverHandler &) = delete;
    MorlanSlaverHandler &operator=(const MorlanSlaverHandler &) = delete;

    void setCallback(MorlanSlaverCallback *callback);
    void setHooks(const Hooks &hooks);

    // One poll: serves at most one request frame. May throw; the link thread
    // drops whatever it throws and polls again.
    void parseRequest();

    // Every reply goes through these two. A reply of more than 254 data bytes
    // cannot be framed and goes out as status 0x50 instead.
    void responseOK(const MorlanRequestPacket &request, const QByteArray &data);
    void responseError(const MorlanRequestPacket &request, quint8 status);

private:
    using Handler = void (MorlanSlaverHandler::*)(const MorlanRequestPacket &, QVariantMap &);

    // Binary commands.
    void cmdJsonMethod(const MorlanRequestPacket &request);
    void cmdAuth(const MorlanRequestPacket &request);
    void cmdInit(const MorlanRequestPacket &request);
    void deviceInit(const MorlanRequestPacket &request);
    void cmdGetDeviceInfo(const MorlanRequestPacket &request);
    void cmdShowTip(const MorlanRequestPacket &request);
    void cmdGetFirmware(const MorlanRequestPacket &request);
    void cmdSetRFmodule(const MorlanRequestPacket &request);

    // The JSON envelope.
    void jsonResponseOK(const MorlanRequestPacket &request, const QVariant &result);
    void jsonResponseError(const MorlanRequestPacket &request, int code, const QString &message);
    QByteArray tagOf(const QByteArray &text) const;
    static QVariantMap fetchParams(const QVariantMap &request);
    static QVariant fetchParam(const QVariantMap &params, const QString &name);
    static bool takeCacheFlag(QVariantMap &params);
    void dispatch(const MorlanRequestPacket &request, const QString &method, QVariantMap &params);

    // Loft, parameter, log and GPS methods.
    void readLoftIfUnread();
    void getLoftInfo(const MorlanRequestPacket &request, QVariantMap &params);
    void setLoftInfo(const MorlanRequestPacket &request, QVariantMap &params);
    void setParams(const MorlanRequestPacket &request, QVariantMap &params);
    void getParams(const MorlanRequestPacket &request, QVariantMap &params);
    void queryLog(const MorlanRequestPacket &request, QVariantMap &params);
    void getLogInfo(const MorlanRequestPacket &request, QVariantMap &params);
    void clearLog(const MorlanRequestPacket &request, QVariantMap &params);
    void adjustGpsUtc(const MorlanRequestPacket &request, QVariantMap &params);

    // Pigeon, race and record methods, on the working copies and lists.
    void savePigeon(const MorlanRequestPacket &request, QVariantMap &params);
    void deletePigeon(const MorlanRequestPacket &request, QVariantMap &params);
    void queryPigeon(const MorlanRequestPacket &request, QVariantMap &params);
    void getPigeonInfo(const MorlanRequestPacket &request, QVariantMap &params);
    void saveRace(const MorlanRequestPacket &request, QVariantMap &params);
    void deleteRace(const MorlanRequestPacket &request, QVariantMap &params);
    void queryRaces(const MorlanRequestPacket &request, QVariantMap &params);
    void getRaceInfo(const MorlanRequestPacket &request, QVariantMap &params);
    void queryRaceRecord(const MorlanRequestPacket &request, QVariantMap &params);
    void queryRaceCode(const MorlanRequestPacket &request, QVariantMap &params);
    void flushCurrentPigeon(const QString &assocNum);
    void flushCurrentRace(const QString &raceCode);
    // True when the record was read from the database by this call.
    bool readRecord(const QString &assocNum);
    bool racePrinted(const QString &raceCode);
    void clearCache();

    MorlanRequestParser requestParser;
    CommPort *port = nullptr;
    MorlanSlaverCallback *callback = nullptr;
    Hooks hooks;
    QByteArray sessionKey;
    QByteArray challenge;
    QByteArray ownRandom;
    QByteArray systemId;
    // Counts as unread while its loft number is empty.
    LoftInfo loftInfo;
    QSharedPointer<PigeonInfo> currentPigeon;
    QList<QSharedPointer<PigeonInfo>> pigeons;
    QSharedPointer<RaceInfo> currentRace;
    QList<QSharedPointer<RaceInfo>> races;
    QSharedPointer<PigeonRecord> currentRecord;
    QList<QSharedPointer<Log>> logs;
    QVariant requestId;
};
