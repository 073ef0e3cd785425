#include "core/myapp.h"

#include "core/configfile.h"
#include "core/locationinfo.h"
#include "core/log.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/lfmodule.h"
#include "gsm/gsmstate.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/mainwindow.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>

#include <cmath>

namespace {
// Bit (key - Qt::Key_Escape) of this mask marks Escape, Return, Enter, Home,
// Up and Down among the first 22 special keys.
constexpr unsigned kNavigationMask = 0x290031;
constexpr int kNavigationKeys = 21;
}

MyApp::MyApp(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

MyApp::~MyApp() = default;

unsigned int MyApp::parseUserSettings(const QByteArray &configText)
{
    const QJsonDocument doc = QJsonDocument::fromJson(configText);
    if (!doc.isObject())
        return 0;
    const QJsonValue value = doc.object().value(QStringLiteral("userSettings"));
    if (!value.isDouble())
        return 0;
    // Only a whole number in the flags word's range: a negative or fractional
    // value must not switch features on by accident.
    const double number = value.toDouble();
    if (number < 0 || number > 4294967295.0 || std::floor(number) != number)
        return 0;
    return static_cast<unsigned int>(number);
}

void MyApp::init()
{
    QByteArray text;
    ConfigFile::read(&text); // unreadable: no flags, as for a missing file
    qDebug() << "main app config:" << QString::fromUtf8(text);
    const unsigned int flags = parseUserSettings(text);

    UTC::init();
    HardwareControl::init(flags);
    Storage::init();
    Storage::instance()->clearSomeLogs();
}

bool MyApp::isNavigationKey(int key)
{
    const int offset = key - Qt::Key_Escape;
    if (offset < 0 || offset > kNavigationKeys)
        return false;
    return (kNavigationMask >> offset) & 1u;
}

bool MyApp::notify(QObject *receiver, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        // Keys reach the window only once it is built: a key delivered by an
        // event pass inside its construction must not build it again.
        MainWindow *window = MainWindow::builtInstance();
        if (window && isNavigationKey(key->key()) && window->doKeyPress(key))
            return true;
    }
    return QApplication::notify(receiver, event);
}

void MyApp::registerMetaTypes()
{
    // In the order the queued signals were first registered on the device.
    qRegisterMetaType<GsmState>("GsmState");
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
    qRegisterMetaType<LoftInfo>("LoftInfo");
    qRegisterMetaType<PigeonInfo>("PigeonInfo");
    qRegisterMetaType<QList<QSharedPointer<PigeonInfo>>>("QList<QSharedPointer<PigeonInfo> >");
    qRegisterMetaType<PigeonRecord>("PigeonRecord");
    qRegisterMetaType<QList<QSharedPointer<PigeonRecord>>>("QList<QSharedPointer<PigeonRecord> >");
    qRegisterMetaType<LocationInfo>("LocationInfo");
    qRegisterMetaType<Log>("Log");
    qRegisterMetaType<QList<QSharedPointer<Log>>>("QList<QSharedPointer<Log> >");
    qRegisterMetaType<RaceInfo>("RaceInfo");
    qRegisterMetaType<QList<QSharedPointer<RaceInfo>>>("QList<QSharedPointer<RaceInfo> >");
}
