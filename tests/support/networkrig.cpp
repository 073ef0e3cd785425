#include "networkrig.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "gsm/gsmtiming.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

namespace {
constexpr int kGpioModem = 41;
constexpr int kBootDelayMs = 20;
const char kPowerPin[] = "/sys/class/gpio/gpio41/value";
constexpr int kNoResult = -100;

// The modem type bits of the user settings and the AT node of a family.
unsigned int modemTypeBits(const QString &family)
{
    if (family == QLatin1String("ec25"))
        return 0x0800;
    if (family == QLatin1String("telit"))
        return 0x1000;
    return 0;
}

QString modemNode(const QString &family)
{
    if (family == QLatin1String("ec25"))
        return QStringLiteral("/dev/ttyUSB2");
    if (family == QLatin1String("telit"))
        return QStringLiteral("/dev/ttyUSB4");
    return QStringLiteral("/dev/ttyUSB1");
}
} // namespace

TurnGate::TurnGate(PigeonBo *e)
    : engine(e)
{
}

void TurnGate::onTime(GSMService *, qint64, int)
{
}

int TurnGate::doGprsEvent(GSMService *service)
{
    return pass(gprs, [&] { return engine->doGprsEvent(service); });
}

int TurnGate::doSmsEvent(GSMService *service)
{
    return pass(sms, [&] { return engine->doSmsEvent(service); });
}

QString TurnGate::getHostIP() { return engine->getHostIP(); }
QString TurnGate::getSmdPath() { return engine->getSmdPath(); }
QString TurnGate::getApn() { return engine->getApn(); }
QString TurnGate::getNet() { return engine->getNet(); }

void TurnGate::allow(Kind kind, int turns)
{
    QMutexLocker lock(&mutex);
    Gate &g = kind == Sms ? sms : gprs;
    g.allowed = turns < 0 || g.allowed < 0 ? -1 : g.allowed + turns;
}

QList<int> TurnGate::results(Kind kind) const
{
    QMutexLocker lock(&mutex);
    return kind == Sms ? sms.results : gprs.results;
}

bool TurnGate::waitResults(Kind kind, int count, int timeoutMs) const
{
    QMutexLocker lock(&mutex);
    QDeadlineTimer deadline(timeoutMs);
    while ((kind == Sms ? sms : gprs).results.size() < count) {
        if (!changed.wait(&mutex, deadline))
            return false;
    }
    return true;
}

int TurnGate::pass(Gate &gate, const std::function<int()> &turn)
{
    {
        QMutexLocker lock(&mutex);
        if (gate.allowed == 0)
            return 1;
        if (gate.allowed > 0)
            --gate.allowed;
    }
    int result = kThrew;
    try {
        result = turn();
    } catch (...) {
        QMutexLocker lock(&mutex);
        gate.results << kThrew;
        changed.wakeAll();
        throw;
    }
    QMutexLocker lock(&mutex);
    gate.results << result;
    changed.wakeAll();
    return result;
}

NetworkRig::NetworkRig(unsigned int featureFlags, const QString &family)
    : peer(family)
    , modemClock(kModemScale)
{
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = 0;
    HardwareControl::init((featureFlags & ~0x1800u) | modemTypeBits(family));
    db.root().setGpio(kGpioModem, 0);
    const bool linked = peer.linkAt(db.root().path(modemNode(family)));
    peer.followPower(db.root().path(QLatin1String(kPowerPin)), kBootDelayMs);
    peer.start();
    const bool listening = endpoint.begin();
    endpoint.setLoft(QStringLiteral("L100"), QStringLiteral("secret"));
    peer.setEndpoint(endpoint.port());

    LoftInfo loft;
    loft.loftNum = QStringLiteral("L100");
    loft.password = QStringLiteral("secret");
    loft.ownerName = QStringLiteral("Ann");
    loft.clubCode = QStringLiteral("C1");
    loft.assocCode = QStringLiteral("A1");
    loft.hostIp = QStringLiteral("cloud.test:9080");
    loft.hostPath = QStringLiteral("/rpc");
    loft.apn = QStringLiteral("internet");
    loft.hostSmsCode = QStringLiteral("+4900");
    loft.timeZone = 28800;
    engine.saveLoftInfo(&loft);

    service.setTiming(GsmTiming().scaled(kScale));
    service.setModemClock(&modemClock);
    ServiceFactory::getInstance()->gsmService = &service;
    ready = linked && listening;
}

NetworkRig::~NetworkRig()
{
    // The modem thread reads the published service (the engine's position
    // for a state upload): it ends before the pointer is withdrawn.
    service.requestExit();
    service.wait(kWaitMs);
    ServiceFactory::getInstance()->gsmService = nullptr;
    UTC::setTimeZone(28800);
}

void NetworkRig::start()
{
    if (!started)
        service.start();
    started = true;
}

void NetworkRig::setLoft(const std::function<void(LoftInfo &)> &change)
{
    LoftInfo loft = engine.getLoftInfo();
    change(loft);
    engine.saveLoftInfo(&loft);
}

int NetworkRig::runTurn(TurnGate::Kind kind)
{
    start();
    const int before = int(gate.results(kind).size());
    gate.allow(kind, 1);
    if (!gate.waitResults(kind, before + 1, kWaitMs))
        return kNoResult;
    return gate.results(kind).at(before);
}

void NetworkRig::addPigeon(const QString &assocNum, bool test)
{
    PigeonInfo pigeon;
    pigeon.assocNum = assocNum;
    pigeon.eringNum = QStringLiteral("E") + assocNum;
    pigeon.color = QStringLiteral("blue");
    pigeon.sex = 1;
    pigeon.test = test;
    Storage::instance()->savePigeon(&pigeon);
}

void NetworkRig::addRace(const QString &raceCode, int valid, const QVariantMap &otherData)
{
    RaceInfo race;
    race.raceCode = raceCode;
    race.raceName = QStringLiteral("Race ") + raceCode;
    race.clubCode = QStringLiteral("RC");
    race.assocCode = QStringLiteral("RA");
    race.liberCode = QStringLiteral("LC");
    race.liberName = QStringLiteral("Paris");
    race.liberTime = 1700000000000;
    race.otherData = otherData;
    race.valid = valid;
    Storage::instance()->saveRace(&race);
}

PigeonRecord NetworkRig::basketed(const QString &assocNum, qint64 offsetMs, const QString &raceCode)
{
    addPigeon(assocNum);
    PigeonRecord r;
    r.assocNum = assocNum;
    r.eringNum = QStringLiteral("E") + assocNum;
    r.raceCode = raceCode;
    r.markTime = kMarkTime + offsetMs;
    r.randNumMarked = 9;
    r.uidMarked = QStringLiteral("UM");
    r.markReaderId = QStringLiteral("MR");
    return r;
}

PigeonRecord NetworkRig::arrived(const QString &assocNum, qint64 offsetMs, bool training)
{
    PigeonRecord r = basketed(assocNum, offsetMs);
    if (training) {
        r.markTime = 0;
        r.raceCode = QStringLiteral("train");
    }
    r.backTimeEring = kBackTime + offsetMs;
    r.backOrder = int(offsetMs) + 1;
    r.uidBack = QStringLiteral("U") + assocNum;
    return r;
}

QString NetworkRig::payloadField(const CloudCall &call, const QString &key)
{
    return QJsonDocument::fromJson(call.payload.toUtf8()).object().value(key).toVariant().toString();
}

void NetworkRig::saveRecord(const PigeonRecord &record)
{
    Storage::instance()->saveRecord(&record);
}

QSharedPointer<PigeonRecord> NetworkRig::record(const QString &assocNum)
{
    return Storage::instance()->findRecordById(assocNum);
}

QSharedPointer<RaceInfo> NetworkRig::race(const QString &raceCode)
{
    return Storage::instance()->findRaceById(raceCode);
}

int NetworkRig::logRows(int type) const
{
    return db.value(QStringLiteral("select count(*) from Log where LogType=%1").arg(type)).toInt();
}
