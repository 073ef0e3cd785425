#include "powercutclock.h"

#include "childprocess.h"
#include "clubstation.h"
#include "testroot.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "race/pigeonbo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

const char kRoleVar[] = "BRELLIUM_POWERCUT_CLOCK";
const char kRaceVar[] = "BRELLIUM_POWERCUT_RACE";
constexpr unsigned long kStopMs = 5000;
constexpr int kNotReadyExit = 2;

void say(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int runAtTheClub(const QString &raceCode)
{
    ClubStation station;
    if (!station.open()) {
        say(QStringLiteral("error: the router did not authorise the clock"));
        return kNotReadyExit;
    }
    try {
        station.startRaceMark(raceCode);
    } catch (const VexException &e) {
        say(QStringLiteral("error: ") + e.getErrorMessage());
        return kNotReadyExit;
    }
    say(QStringLiteral("ready"));
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line != "mark")
            continue;
        QString ring;
        try {
            ring = station.markPigeon(raceCode);
        } catch (const VexException &e) {
            say(QStringLiteral("error: ") + e.getErrorMessage());
            continue;
        }
        const QSharedPointer<PigeonRecord> record =
            ring.isEmpty() ? QSharedPointer<PigeonRecord>() : Storage::instance()->findRecordByEring(ring);
        if (!record) {
            say(QStringLiteral("none"));
            continue;
        }
        say(QStringLiteral("marked %1 %2 %3 %4")
                .arg(ring, record->assocNum)
                .arg(record->markTime)
                .arg(record->randNumMarked));
    }
    station.close();
    return 0;
}

int runInCommMode()
{
    PigeonBo bo;
    ServiceFactory::getInstance()->pigeonBo = &bo;
    int code = 0;
    {
        MorlanProtocolProcess process(_serialPort_miniDin);
        process.start();
        process.switchWorkMode(MorlanProtocolProcess::CommSlave, true);
        if (process.isRunning()) {
            say(QStringLiteral("ready"));
            std::string line;
            while (std::getline(std::cin, line)) {
            }
        } else {
            say(QStringLiteral("error: comm mode not entered"));
            code = kNotReadyExit;
        }
        process.requestExit();
        process.wait(kStopMs);
    }
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    return code;
}

} // namespace

bool PowerCutClock::asked()
{
    return qEnvironmentVariableIsSet(kRoleVar);
}

int PowerCutClock::run(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int code = kNotReadyExit;
    try {
        Storage::init();
        if (qEnvironmentVariable(kRoleVar) == QLatin1String("club"))
            code = runAtTheClub(qEnvironmentVariable(kRaceVar));
        else
            code = runInCommMode();
    } catch (const VexException &e) {
        say(QStringLiteral("error: ") + e.getErrorMessage());
    }
    Storage::destroy();
    return code;
}

bool PowerCutClock::start(ChildProcess *child, const TestRoot &root, Role role, const QString &raceCode, int limitMs)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CLOCK_ROOT"), root.root());
    env.insert(QLatin1String(kRoleVar), role == Role::Club ? QStringLiteral("club") : QStringLiteral("pc"));
    env.insert(QLatin1String(kRaceVar), raceCode);
    if (!child->start(QCoreApplication::applicationFilePath(), {}, env, root.workDir()))
        return false;
    return child->readLineStarting({QStringLiteral("ready"), QStringLiteral("error")}, limitMs)
        == QLatin1String("ready");
}
