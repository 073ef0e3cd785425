// The simulated device's database helper: sets up the loft a new simulated
// root starts with and shows what the clock stored, through the clock's own
// storage operations (no SQL of its own). Runs in the root's working
// directory with CLOCK_ROOT naming the root, like the clock itself:
//   brellium-simdb setup | pigeon RING ASSOCNUM | ring-of ASSOCNUM |
//                  credentials | pigeons | arrivals [N] | race [CODE]

#include "simloft.h"

#include "core/platform.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int kDefaultArrivalRows = 10;

void print(const QStringList &lines)
{
    for (const QString &line : lines)
        std::printf("%s\n", line.toUtf8().constData());
}

// The storage layer's debug lines are for the clock's log, not this console.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

void useLoftZone()
{
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    UTC::setTimeZone(loft.timeZone);
}

// A race flying now: basketing closed (state 3) with its basketing sync, and
// every pigeon of the loft basketed for it, so that a ring presented at the
// landing antenna arrives in it.
int basketRace(const QString &raceCode)
{
    Storage *db = Storage::instance();
    const qint64 nowMs = UTC::now().value();
    RaceInfo race;
    race.raceCode = raceCode;
    race.raceName = QStringLiteral("Race ") + raceCode;
    race.liberCode = raceCode;
    race.liberName = QStringLiteral("Simulated site");
    race.liberTime = nowMs;
    race.valid = 3;
    race.markDeviceTime = nowMs;
    race.markReaderTime = nowMs;
    db->saveRace(&race); // a new race is inserted without its basketing fields
    db->saveRace(&race);
    int basketed = 0;
    for (const QSharedPointer<PigeonInfo> &pigeon : db->queryPigeons(QString())) {
        QSharedPointer<PigeonRecord> record = db->findRecordById(pigeon->assocNum);
        if (!record)
            continue;
        record->raceCode = raceCode;
        record->markTime = nowMs + basketed++;
        db->saveRecord(record.data());
    }
    std::printf("ok race %s in state 3, %d pigeons basketed\n", raceCode.toUtf8().constData(), basketed);
    return 0;
}

int run(const QStringList &args)
{
    const QString command = args.value(0);
    if (command == QLatin1String("setup")) {
        const bool made = SimLoft::setUp();
        std::printf("%s loft %s\n", made ? "new" : "kept", SimLoft::kLoftNum.toUtf8().constData());
        print(SimLoft::pigeonTable());
        return 0;
    }
    if (command == QLatin1String("pigeon") && args.size() == 3) {
        SimLoft::registerPigeon(args.at(2), args.at(1));
        std::printf("ok pigeon %s wears %s\n", args.at(2).toUtf8().constData(),
                    SimLoft::normalRing(args.at(1)).toUtf8().constData());
        return 0;
    }
    if (command == QLatin1String("ring-of") && args.size() == 2) {
        const QString ring = SimLoft::ringOf(args.at(1));
        if (ring.isEmpty()) {
            std::fprintf(stderr, "no ringed pigeon %s\n", args.at(1).toUtf8().constData());
            return 1;
        }
        std::printf("%s\n", ring.toUtf8().constData());
        return 0;
    }
    if (command == QLatin1String("credentials") && args.size() == 1) {
        LoftInfo loft;
        Storage::instance()->readLoftInfo(&loft);
        std::printf("%s:%s\n", loft.loftNum.toUtf8().constData(), loft.password.toUtf8().constData());
        return loft.loftNum.isEmpty() ? 1 : 0;
    }
    if (command == QLatin1String("pigeons") && args.size() == 1) {
        print(SimLoft::pigeonTable());
        return 0;
    }
    if (command == QLatin1String("arrivals") && args.size() <= 2) {
        useLoftZone();
        print(SimLoft::arrivalTable(args.size() == 2 ? args.at(1).toInt() : kDefaultArrivalRows));
        return 0;
    }
    if (command == QLatin1String("race") && args.size() <= 2)
        return basketRace(args.size() == 2 ? args.at(1) : QStringLiteral("R0001"));
    std::fprintf(stderr, "unknown command; see --help\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The simulated device's database, through the clock's own storage.\n"
        "Run in <root>/app/work with CLOCK_ROOT=<root>.\n\n"
        "  setup                 initialise a clock without a loft: loft, owner, upload host, pigeons\n"
        "  pigeon RING ASSOCNUM  register a pigeon wearing RING (8 hex digits)\n"
        "  ring-of ASSOCNUM      the ring a pigeon wears\n"
        "  credentials           the loft number and password, as NUMBER:PASSWORD\n"
        "  pigeons               the pigeons and their rings\n"
        "  arrivals [N]          the latest N arrivals, newest first\n"
        "  race [CODE]           a race flying now (state 3), every pigeon basketed for it"));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do."));
    parser.process(app);

    // A board command (the sync after creating the file) must only ever be
    // recorded: refuse to run on the device itself.
    if (!Platform::isSimulated()) {
        std::fprintf(stderr, "CLOCK_ROOT must name a simulated root\n");
        return 2;
    }
    qInstallMessageHandler(quietHandler);
    int status = 2;
    try {
        status = run(parser.positionalArguments());
    } catch (const VexException &e) {
        std::fprintf(stderr, "error: %s\n", e.getErrorMessage().toUtf8().constData());
        status = 1;
    }
    Storage::destroy();
    return status;
}
