#include "clubstation.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "print/racemarkreport.h"
#include "print/reportprinter.h"
#include "race/pigeonbo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QList>
#include <QTest>

namespace {

constexpr int kAuthoriseMs = 10000;
constexpr int kAuthorisePollMs = 10;
constexpr int kAnswerMs = 5000;
constexpr unsigned long kStopMs = 5000;
// The basketing screen asks again after an empty read; a test lets the
// reader be empty this many times before it gives up.
constexpr int kReadAttempts = 20;
constexpr int kRaceClosed = 3;
constexpr int kRaceStopped = 4;
constexpr int kRaceUploaded = 12;

bool isClosed(int state)
{
    return state == kRaceClosed || state == kRaceStopped || state == kRaceUploaded;
}

QSharedPointer<RaceInfo> raceOf(const QString &raceCode)
{
    QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(raceCode);
    if (!race)
        throw VexException(0, QStringLiteral("No race ") + raceCode, QString());
    return race;
}

// The link's answers, taken over in the caller's thread: the link emits in
// its own thread, so they are queued to a receiver that lives here.
template <typename Answer>
class Answers
{
public:
    template <typename Signal, typename Take>
    Answers(MorlanProtocolProcess *process, Signal signal, Take take)
    {
        QObject::connect(
            process, signal, &receiver, [this, take](auto... args) { got.append(take(args...)); },
            Qt::QueuedConnection);
    }
    // The next answer, waiting up to ms for it; false when none came.
    bool next(int ms, Answer *answer)
    {
        if (got.isEmpty() && !QTest::qWaitFor([this] { return !got.isEmpty(); }, ms))
            return false;
        *answer = got.takeFirst();
        return true;
    }

private:
    QObject receiver;
    QList<Answer> got;
};

} // namespace

ClubStation::ClubStation()
    : process(std::make_unique<MorlanProtocolProcess>(_serialPort_miniDin)),
      engine(std::make_unique<PigeonBo>())
{
}

ClubStation::~ClubStation()
{
    close();
}

bool ClubStation::open()
{
    engine->reflushCache();
    ServiceFactory::getInstance()->protocolProcess = process.get();
    if (!process->isRunning())
        process->start(QThread::InheritPriority);
    process->switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
    for (int waited = 0; waited < kAuthoriseMs && !process->isAuthed(); waited += kAuthorisePollMs)
        HardwareControl::wait(kAuthorisePollMs);
    return process->isAuthed();
}

void ClubStation::close()
{
    if (ServiceFactory::getInstance()->protocolProcess == process.get())
        ServiceFactory::getInstance()->protocolProcess = nullptr;
    if (process->isRunning()) {
        process->requestExit();
        process->wait(kStopMs);
    }
}

QString ClubStation::readRing()
{
    Answers<QString> answers(process.get(), &MorlanProtocolProcess::readTagEnd,
                             [](const QString &eRing, quint8, const QString &) { return eRing; });
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        process->startReadTag();
        QString ring;
        if (!answers.next(kAnswerMs, &ring))
            return QString();
        if (!ring.isEmpty())
            return ring;
    }
    return QString();
}

QString ClubStation::assignRing(const QString &assocNum)
{
    const QString ring = readRing();
    if (ring.isEmpty() || !Storage::instance()->findPigeonIdByEringNum(ring).isEmpty())
        return QString();
    const QSharedPointer<PigeonInfo> pigeon = Storage::instance()->assignPigeon(assocNum, ring, QString());
    Storage::instance()->logAssignmnet(pigeon.data());
    return ring;
}

void ClubStation::startRaceMark(const QString &raceCode)
{
    const qint64 clubTime = process->getTimeSync();
    QSharedPointer<RaceInfo> race = raceOf(raceCode);
    if (isClosed(race->valid))
        return;
    race->markReaderId = process->getRouterId();
    race->markAuthKey = process->getAuthKey();
    Storage::instance()->saveRace(race.data());
    if (!engine->hasActiveRace())
        engine->verifyClubTime(clubTime, race->markReaderId);
}

QString ClubStation::markPigeon(const QString &raceCode)
{
    const QString ring = readRing();
    if (ring.isEmpty())
        return QString();
    QSharedPointer<PigeonRecord> record = Storage::instance()->findRecordByEring(ring);
    if (record && record->markTime != 0)
        return QString(); // marked already
    using Written = QPair<QString, quint8>;
    Answers<Written> written(process.get(), &MorlanProtocolProcess::setRandomEnd,
                             [](const QString &eRing, quint8 rand) { return Written(eRing, rand); });
    QString eRing;
    quint8 randNum = 0;
    for (int attempt = 0; attempt < kReadAttempts && eRing.isEmpty(); ++attempt) {
        process->startSetRandom(QSharedPointer<SemaphoreEx>());
        Written answer;
        if (!written.next(kAnswerMs, &answer))
            return QString();
        eRing = answer.first;
        randNum = answer.second;
    }
    record = Storage::instance()->findRecordByEring(eRing);
    if (!record)
        return QString(); // no pigeon wears it
    const QSharedPointer<RaceInfo> race = raceOf(raceCode);
    record->markFor(*race, UTC::clubTime().value() + race->markReaderTime - race->markDeviceTime, randNum);
    if (!Storage::instance()->saveMark(record.data()))
        return QString();
    return eRing;
}

void ClubStation::closeBasketing(const QString &raceCode)
{
    const qint64 clubTime = process->getTimeSync();
    if (clubTime < 1)
        throw VexException(0x1201, QStringLiteral("Morlan unknown exception!"), QString());
    QSharedPointer<RaceInfo> race = raceOf(raceCode);
    if (!isClosed(race->valid)) {
        race->markReaderId = process->getRouterId();
        race->markAuthKey = process->getAuthKey();
        if (engine->hasActiveRace()) {
            if (race->markReaderTime == 0) {
                race->markDeviceTime = UTC::clubTime().value();
                race->markReaderTime = clubTime;
            }
        } else {
            engine->verifyClubTime(clubTime, race->markReaderId);
            race->markDeviceTime = clubTime;
            race->markReaderTime = clubTime;
        }
    }
    race->markPrintFlag = true;
    race->valid = kRaceClosed;
    Storage::instance()->saveRace(race.data());

    QList<QSharedPointer<PigeonRecord>> records =
        Storage::instance()->findRecordsByRaceCode(raceCode, QStringLiteral("markTime"));
    PigeonRecord::fillMarkOrder(records);
    PigeonRecord::sortByMarkOrder(records);
    RaceMarkReport report;
    report.loadReport(engine->getSystemId(), engine->getLoftInfo(), *race, records);
    for (int copy = 0; copy < race->printCount; ++copy)
        report.printAll();
}
