#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/version.h"
#include "device/hardware_control.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formmember.h"

#include "dbreader.h"
#include "screenshot.h"
#include "testroot.h"

#include <QScopeGuard>
#include <QTest>
#include <QTimer>

namespace {
constexpr int kGpioMains = 51;
constexpr int kGpioBattery = 54;
// The power watch asks for the exit after 5 s without mains.
constexpr int kPowerLostMs = 15000;
constexpr int kStopMs = 10000;
} // namespace

// A service thread that fails while it builds the services: the window still
// comes up, says why at every return to the menu, the failure is in the
// event log, and mains power is still watched. One start per process (the
// factory is a process-wide singleton), so one case.
class TestServiceFailure : public QObject
{
    Q_OBJECT
private slots:
    void earlyFailure_shownLoggedAndPowerStillWatched();
};

void TestServiceFailure::earlyFailure_shownLoggedAndPowerStillWatched()
{
    TestRoot root(2);
    root.activate();
    root.writeFile(QStringLiteral("/app/brellium/version"), QByteArray(ProgramVersion::kText));
    root.setGpio(kGpioMains, 1);
    root.setGpio(kGpioBattery, 1);
    MyApp::init();
    // The service thread's first statement (its first parameter read) fails.
    Storage::setFault(Storage::Fault::FailStatement, 1);
    ServiceFactory *factory = ServiceFactory::getInstance();
    ServiceFactory::startService();
    const auto stopFactory = qScopeGuard([factory] {
        factory->quit();
        factory->wait(kStopMs);
    });
    QVERIFY(factory->started);
    QVERIFY(!factory->pigeonBo && !factory->rfidService && !factory->gsmService);
    QCOMPARE(ServiceFactory::startError(), QStringLiteral("injected statement failure"));
    {
        DbReader db(root.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile));
        QCOMPARE(db.value(QStringLiteral("select LogInfo from Log where LogType=4")).toString(),
                 QStringLiteral("{\"error\":\"injected statement failure\",\"version\":\"8.9.30\"}"));
        db.close();
    }

    MainWindow *w = MainWindow::instance();
    w->findChild<QTimer *>()->stop(); // ticked by hand
    w->show();
    const auto tick = [w] { QVERIFY(QMetaObject::invokeMethod(w, "onTickTimeOut", Qt::DirectConnection)); };
    FormMessage *box = FormMessage::instance();
    const QString shown = QStringLiteral("The services did not start:\ninjected statement failure");
    tick();
    QVERIFY(box->isActived());
    QCOMPARE(box->title(), QStringLiteral("Error"));
    QCOMPARE(box->text(), shown);
    QVERIFY(!Screenshot::save(QStringLiteral("services-did-not-start")).isEmpty());
    box->deactive();
    tick();
    QVERIFY(!box->isActived()); // once per visit of the menu
    w->pushSubForm(w->formMember);
    tick();
    QVERIFY(!box->isActived());
    w->resetSubForms(); // back at the menu
    tick();
    QVERIFY(box->isActived());
    QCOMPARE(box->text(), shown);
    box->deactive();

    // Mains gone: the exit is requested and logged as without the failure.
    const int requests = ServiceFactory::exitRequestCount();
    root.setGpio(kGpioMains, 0);
    QTRY_VERIFY_WITH_TIMEOUT(ServiceFactory::exitRequestCount() > requests, kPowerLostMs);
    {
        DbReader db(root.workDir() + QLatin1Char('/') + QLatin1String(Storage::kDatabaseFile));
        QCOMPARE(db.value(QStringLiteral("select count(*) from Log where LogType=15 and "
                                         "LogInfo='{\"reason\":\"Power Lost\"}'"))
                     .toInt(),
                 1);
        db.close();
    }
    factory->quit();
    QVERIFY(factory->wait(kStopMs));
    // Flushed and powered off (battery cut on this board) as after a normal run.
    QCOMPARE(root.boardCommands().count(QStringLiteral("sync")), 2);
    QCOMPARE(root.gpio(kGpioBattery), 0);
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    MainWindow::resetExitRequest();
}

QTEST_MAIN(TestServiceFailure)
#include "tst_servicefailure.moc"
