#include "slaverfixture.h"

#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QTest>

namespace {

// Enough polls for every frame a test queues at once; each poll that finds
// no start byte returns at once.
constexpr int kMaxPollsPerSend = 64;
constexpr qint64 kHourMs = 3600000;

int savedTimeZone = 0;
int savedGpsAdjust = 0;

} // namespace

HandlerTransport::HandlerTransport()
{
    newStay();
}

void HandlerTransport::newStay()
{
    slaver = std::make_unique<MorlanSlaverHandler>(&port);
    slaver->setCallback(this);
    MorlanSlaverHandler::Hooks hooks;
    hooks.systemId = [this] { return systemIdHex; };
    hooks.reflushCache = [this] { ++reflushCount; };
    hooks.setModuleMode = [this](quint8 mode) { moduleModes.append(mode); };
    slaver->setHooks(hooks);
}

bool HandlerTransport::send(const QByteArray &bytes, int baud)
{
    Q_UNUSED(baud);
    port.queueInput(bytes);
    for (int poll = 0; poll < kMaxPollsPerSend && port.inputWaiting() > 0; ++poll) {
        // What the link thread does with a failed poll: drop it and go on.
        try {
            slaver->parseRequest();
        } catch (...) {
            ++exceptionsOut;
        }
    }
    return true;
}

QByteArray HandlerTransport::receive(int timeoutMs)
{
    Q_UNUSED(timeoutMs); // everything the handler will say is said already
    return port.takeWritten();
}

void HandlerTransport::drain()
{
    port.takeWritten();
}

SlaverFixture::SlaverFixture()
{
    savedTimeZone = UTC::_timezone;
    savedGpsAdjust = ServiceFactory::GPS_UTC_ADJUST;
    Platform::setSystemClock([] { return kClubTimeMs; });
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = 0;
    peer.setSystemId(link.systemIdHex);
    peer.setAnswerTimeoutMs(50);
    peer.setSilenceMs(20);
}

SlaverFixture::~SlaverFixture()
{
    Platform::setSystemClock({});
    UTC::setTimeZone(savedTimeZone);
    ServiceFactory::GPS_UTC_ADJUST = savedGpsAdjust;
}

void SlaverFixture::seedLoft(const QString &loftNum, const QString &password)
{
    Storage *storage = Storage::instance();
    if (loftNum.isEmpty()) {
        LoftInfo loft;
        storage->readLoftInfo(&loft); // makes row 1 with no loft number
        return;
    }
    storage->formatDevice(loftNum, password);
    LoftInfo loft;
    storage->readLoftInfo(&loft);
    loft.ownerName = QStringLiteral("Jan");
    loft.clubCode = QStringLiteral("C7");
    storage->saveLoftInfo(&loft);
}

void SlaverFixture::addPigeon(const QString &assocNum, const QString &eringNum)
{
    PigeonInfo pigeon;
    pigeon.assocNum = assocNum;
    pigeon.eringNum = eringNum;
    pigeon.color = QStringLiteral("blue");
    pigeon.year = 2023;
    pigeon.sex = 1;
    pigeon.updateTime = kClubTimeMs - kHourMs;
    Storage::instance()->savePigeon(&pigeon);
}

void SlaverFixture::addRace(const QString &raceCode, const QString &state, qint64 liberTime)
{
    RaceInfo race;
    race.raceCode = raceCode;
    race.raceName = QStringLiteral("Race ") + raceCode;
    race.liberTime = liberTime ? liberTime : kClubTimeMs + kHourMs;
    Storage *storage = Storage::instance();
    storage->saveRace(&race);
    if (state == QLatin1String("new"))
        return;
    race.valid = 3;
    race.markDeviceTime = kClubTimeMs - 2 * kHourMs;
    race.markReaderTime = kClubTimeMs - 2 * kHourMs;
    race.markPrintFlag = state != QLatin1String("marked");
    if (state == QLatin1String("stopped")) {
        race.valid = 4;
        race.raceStopDeviceTime = kClubTimeMs;
        race.raceStopReaderTime = kClubTimeMs;
    }
    storage->saveRace(&race);
}

void SlaverFixture::basket(const QString &assocNum, const QString &raceCode, qint64 markTime, qint64 backTimeEring,
                           qint64 backTimeUid)
{
    Storage *storage = Storage::instance();
    QSharedPointer<PigeonRecord> record = storage->findRecordById(assocNum);
    record->raceCode = raceCode;
    record->markTime = markTime;
    record->randNumMarked = 7;
    record->uidMarked = QStringLiteral("0000AA01");
    record->markReaderId = QStringLiteral("R0000001");
    record->backTimeEring = backTimeEring;
    record->randNumberBack = backTimeEring ? 7 : 0;
    record->backOrder = backTimeEring ? 1 : 0;
    record->backTimeUid = backTimeUid;
    record->uidBack = backTimeUid ? QStringLiteral("0000AA01") : QString();
    storage->saveRecord(record.data());
}

void SlaverFixture::addLogs(int count, int infoChars)
{
    // One statement for the lot: a commit per entry costs a disk flush each.
    db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<%1) "
                           "insert into Log(LogType,LogTime,LogInfo) "
                           "select '1', %2, replace(hex(zeroblob(%3)), '00', char(97 + (i-1)%26)) from n")
                .arg(count)
                .arg(kClubTimeMs)
                .arg(infoChars));
}

QByteArray SlaverFixture::json(const QByteArray &text)
{
    const PcPeer::JsonReply reply = peer.call(text);
    if (!reply.answer.received)
        return QByteArray();
    if (reply.answer.status != 0)
        return QByteArray("status ") + QByteArray::number(reply.answer.status, 16);
    if (!reply.tagOk)
        return QByteArray("bad tag: ") + reply.text;
    return reply.text;
}

bool SlaverFixture::replies(const QByteArray &request, const QByteArray &expected)
{
    const QByteArray reply = json(request);
    if (reply != expected)
        qWarning("request %s", request.constData());
    return QTest::qCompare(reply, expected, "reply", "expected", __FILE__, __LINE__);
}

void SlaverFixture::openSession(bool info)
{
    peer.authenticate(QByteArray::fromHex("01020304"));
    if (info)
        peer.deviceInfo();
}

int SlaverFixture::syncCount()
{
    return db.root().boardCommands().count(QStringLiteral("sync"));
}

QString SlaverFixture::scalar(const QString &sql) const
{
    QStringList out;
    for (const QVariantList &row : db.rows(sql)) {
        QStringList columns;
        for (const QVariant &value : row)
            columns.append(value.toString());
        out.append(columns.join(QLatin1Char('|')));
    }
    return out.join(QLatin1Char(';'));
}
