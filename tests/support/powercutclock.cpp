#include "powercutclock.h"

#include "childprocess.h"
#include "clubstation.h"
#include "testroot.h"

#include "club/morlanprotolprocess.h"
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formmarking.h"

#include <QCoreApplication>
#include <QLabel>
#include <QSocketNotifier>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

const char kRoleVar[] = "BRELLIUM_POWERCUT_CLOCK";
const char kRaceVar[] = "BRELLIUM_POWERCUT_RACE";
constexpr unsigned long kStopMs = 5000;
constexpr int kNotReadyExit = 2;
constexpr int kInputBufferBytes = 256;
// The basketing screen's text once a mark is stored.
const char kMarkedText[] = "Pigeon mark is OK!";

void say(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// What the basketing screen shows once a write answer is handled: when it
// reports the ring's pigeon as marked, the mark as stored.
void reportMark(const FormMarking *screen, const QString &eRing)
{
    const auto shown = [screen](const char *name) {
        const auto *label = screen->findChild<QLabel *>(QLatin1String(name));
        return label ? label->text() : QString();
    };
    if (shown("labelWarning") != QLatin1String(kMarkedText) || shown("txtPigeonERing") != eRing)
        return;
    const QSharedPointer<PigeonRecord> record = Storage::instance()->findRecordById(shown("txtPigeonAssoc"));
    if (!record || record->markTime == 0)
        return;
    say(QStringLiteral("marked %1 %2 %3 %4")
            .arg(eRing, record->assocNum)
            .arg(record->markTime)
            .arg(record->randNumMarked));
}

// The basketing screen on the main window, opened for the race the way the
// race selection opens it (club link authorised, the club time just read);
// from then on the screen's own reading loop marks each ring presented at
// the router's reader. Runs the event loop until the input ends.
int runAtTheClub(const QString &raceCode)
{
    ClubStation station;
    if (!station.open()) {
        say(QStringLiteral("error: the router did not authorise the clock"));
        return kNotReadyExit;
    }
    ServiceFactory::getInstance()->pigeonBo = &station.raceEngine();
    HardwareControl::init(0);
    int code = kNotReadyExit;
    MainWindow *window = MainWindow::instance();
    window->show();
    window->resetSubForms();
    FormMarking *screen = window->formMarking;
    const qint64 clubTime = station.link().getTimeSync();
    if (clubTime >= 1)
        screen->startRaceMark(raceCode, clubTime);
    if (clubTime < 1 || window->topSubForm() != screen) {
        say(QStringLiteral("error: basketing did not open"));
    } else {
        // Connected after the screen's own connection, so it runs once the
        // screen has handled the answer.
        QObject::connect(&station.link(), &MorlanProtocolProcess::setRandomEnd, screen,
                         [screen](const QString &eRing, quint8) { reportMark(screen, eRing); });
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, [&input] {
            char buffer[kInputBufferBytes];
            if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
                input.setEnabled(false);
                QCoreApplication::quit();
            }
        });
        say(QStringLiteral("ready"));
        code = QCoreApplication::exec();
    }
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
    station.close();
    return code;
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
    const bool atTheClub = qEnvironmentVariable(kRoleVar) == QLatin1String("club");
    // The basketing screen needs the program's own application object.
    std::unique_ptr<QCoreApplication> app;
    if (atTheClub) {
        app = std::make_unique<MyApp>(argc, argv);
        MyApp::registerMetaTypes();
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    int code = kNotReadyExit;
    try {
        Storage::init();
        code = atTheClub ? runAtTheClub(qEnvironmentVariable(kRaceVar)) : runInCommMode();
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
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!child->start(QCoreApplication::applicationFilePath(), {}, env, root.workDir()))
        return false;
    return child->readLineStarting({QStringLiteral("ready"), QStringLiteral("error")}, limitMs)
        == QLatin1String("ready");
}
