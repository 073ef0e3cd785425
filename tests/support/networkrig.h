#pragma once

#include "gsm/gsmservice.h"
#include "gsm/gsmservicecallback.h"
#include "race/pigeonbo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"

#include "cloudendpoint.h"
#include "gsmtestclock.h"
#include "messagecapture.h"
#include "modempeer.h"
#include "storagefixture.h"

#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <functional>

// Stands between the modem thread and the real race engine: forwards the
// settings and, while the test allows it, the SMS and data turns, recording
// each forwarded turn's result. A closed gate answers "nothing to do" without
// asking the engine. Times from the modem are not forwarded: the device
// clock stays the test's.
class TurnGate final : public GSMServiceCallback
{
public:
    enum Kind { Sms, Gprs };
    static constexpr int kThrew = 99; // recorded when the engine's turn threw

    explicit TurnGate(PigeonBo *engine);

    void onTime(GSMService *service, qint64 utcMs, int source) override;
    int doGprsEvent(GSMService *service) override;
    int doSmsEvent(GSMService *service) override;
    QString getHostIP() override;
    QString getSmdPath() override;
    QString getApn() override;
    QString getNet() override;

    // Lets turns more turns of a kind through (-1: every one from now on).
    void allow(Kind kind, int turns);
    QList<int> results(Kind kind) const;
    bool waitResults(Kind kind, int count, int timeoutMs) const;

private:
    struct Gate
    {
        int allowed = 0;
        QList<int> results;
    };
    int pass(Gate &gate, const std::function<int()> &turn);

    PigeonBo *engine = nullptr;
    mutable QMutex mutex;
    mutable QWaitCondition changed;
    Gate sms;
    Gate gprs;
};

// The network road of the race engine on a simulated device: the modem peer
// (u-blox unless another family is named, the modem type set to match) on
// its node following the modem's power pin and bridging its
// sockets to the cloud endpoint peer, the real modem thread with its loop
// scaled to a hundredth, the real engine behind a TurnGate, and a fresh
// database with loft L100 (password "secret", host "cloud.test:9080",
// path "/rpc", SMS host "+4900"). Members die in reverse order: the modem
// thread stops first.
struct NetworkRig
{
    static constexpr int kWaitMs = 20000;
    static constexpr int kScale = 100;
    static constexpr int kModemScale = 20;

    explicit NetworkRig(unsigned int featureFlags = 0, const QString &family = QStringLiteral("ublox"));
    ~NetworkRig();

    bool isReady() const { return ready; }
    // Changes the loft settings (stored and cached by the engine).
    void setLoft(const std::function<void(LoftInfo &)> &change);
    // Lets one turn of a kind through and waits for its result (kThrew, or
    // -100 when none came within the bound).
    int runTurn(TurnGate::Kind kind);
    void start();

    static constexpr qint64 kMarkTime = 1699990000000;
    static constexpr qint64 kBackTime = 1700003600000;

    static void addPigeon(const QString &assocNum, bool test = false);
    // A registered pigeon basketed for raceCode at kMarkTime + offsetMs (not stored).
    static PigeonRecord basketed(const QString &assocNum, qint64 offsetMs,
                                 const QString &raceCode = QStringLiteral("R1"));
    // The same, home at kBackTime + offsetMs with its ring time unsent; a
    // training arrival is not basketed.
    static PigeonRecord arrived(const QString &assocNum, qint64 offsetMs, bool training = false);
    // A member of a call's payload object, as text.
    static QString payloadField(const CloudCall &call, const QString &key);
    static void addRace(const QString &raceCode, int valid, const QVariantMap &otherData = {});
    static void saveRecord(const PigeonRecord &record);
    static QSharedPointer<PigeonRecord> record(const QString &assocNum);
    static QSharedPointer<RaceInfo> race(const QString &raceCode);
    int logRows(int type) const;

    MessageCapture capture;
    StorageFixture db;
    ModemPeer peer;
    CloudEndpoint endpoint;
    ScaledClock modemClock;
    PigeonBo engine;
    TurnGate gate{&engine};
    GSMService service{&gate};

private:
    bool ready = false;
    bool started = false;
};
