#include "club/morlanprotolprocess.h"
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/rfidservice.h"
#include "gsm/gsmservice.h"
#include "race/pigeonbo.h"

#include "testroot.h"

#include <QTest>

// The service thread in this process: one start and one stop, since the
// factory is a process-wide singleton whose `started` never resets.
class TestServiceFactory : public QObject
{
    Q_OBJECT
private slots:
    void startStop_inOrder();
    void languageCode_onlyLettersDigitsUnderscore_data();
    void languageCode_onlyLettersDigitsUnderscore();
};

void TestServiceFactory::startStop_inOrder()
{
    TestRoot root(1);
    root.activate();
    MyApp::init();
    root.clearBoardCommands();
    // The service thread reads its settings from the database made at start-up.
    ServiceFactory::setParamInt32(QStringLiteral("GPS_UTC_ADJUST"), -18);

    ServiceFactory *factory = ServiceFactory::getInstance();
    QVERIFY(!factory->started);
    ServiceFactory::startService();
    QCOMPARE(ServiceFactory::GPS_UTC_ADJUST.load(), -18);
    // startService returns only once the services run and are published.
    QVERIFY(factory->started);
    QVERIFY(factory->pigeonBo && factory->protocolProcess && factory->rfidService && factory->gsmService
            && factory->soundThread);
    QCOMPARE(factory->rfidService->getRaceMode(), 0x311);
    // The device clock reaches the ring-reader service only while it exists.
    QVERIFY(UTC::hasRfHook());
    QCOMPARE(root.boardCommands().value(0), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 1"));

    // switchToRace(true) waits for Idle and forgets the connector's channels.
    factory->pigeonBo->cacheChannels({LFCHANNEL_INFO{}});
    ServiceFactory::switchToRace(true);
    QVERIFY(factory->pigeonBo->getChannels().isEmpty());
    QTRY_COMPARE(factory->protocolProcess->getWorkMode(), int(MorlanProtocolProcess::Normal));
    ServiceFactory::switchToClub();
    QTRY_COMPARE(factory->protocolProcess->getWorkMode(), int(MorlanProtocolProcess::ClubMaster));

    // Stop as the main window does, then let the service thread end.
    ServiceFactory::requestExit();
    QTRY_VERIFY(!factory->rfidService->isRunning());
    // The modem thread reports its real state; its end switches the modem off.
    QTRY_VERIFY(!factory->gsmService->isRunning());
    QTRY_VERIFY(factory->pigeonBo->isFinished());
    factory->protocolProcess->requestExit();
    QTRY_VERIFY(!factory->protocolProcess->isRunning());
    factory->quit();
    QVERIFY(factory->wait(10000));
    QVERIFY(!factory->pigeonBo);
    QVERIFY(!UTC::hasRfHook());

    const QStringList commands = root.boardCommands();
    const QStringList tail{QStringLiteral("sync"), QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044714 0"),
                           QStringLiteral("ioctl /dev/vexlor_hw_ctl 0x40044704 0"), QStringLiteral("poweroff")};
    QCOMPARE(commands.mid(commands.size() - tail.size()), tail);
    // The workers powered their hardware down before the file systems were flushed.
    const int sync = commands.indexOf(QStringLiteral("sync"));
    QVERIFY(commands.indexOf(QStringLiteral("ioctl /dev/vexlor_hw_ctl 0x40044703 0")) < sync); // RfOff
    const int gsmOff = commands.indexOf(QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044712 0"));
    QVERIFY(gsmOff >= 0 && gsmOff < sync);
    QVERIFY(commands.indexOf(QStringLiteral("rmmod ehci_hcd")) < sync);
    QVERIFY(commands.indexOf(QStringLiteral("ioctl /dev/vexlor_hw_ctl 0xc0044711 1")) < sync); // SoundOff
}

void TestServiceFactory::languageCode_onlyLettersDigitsUnderscore_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("taken");
    QTest::newRow("DE") << QStringLiteral("DE") << true;
    QTest::newRow("zh_CN") << QStringLiteral("zh_CN") << true;
    QTest::newRow("16 characters") << QString(16, QLatin1Char('x')) << true;
    QTest::newRow("out of the folder") << QStringLiteral("../../etc/x") << false;
    QTest::newRow("a slash") << QStringLiteral("EN/x") << false;
    QTest::newRow("a blank") << QStringLiteral("E N") << false;
    QTest::newRow("a NUL") << QStringLiteral("EN") + QChar(0) + QStringLiteral("x") << false;
    QTest::newRow("non-ASCII letter") << QStringLiteral("ÉN") << false;
    QTest::newRow("17 characters") << QString(17, QLatin1Char('x')) << false;
}

// The code names the translation folder and file: one that could name
// anything else is refused and the language in use stays.
void TestServiceFactory::languageCode_onlyLettersDigitsUnderscore()
{
    QFETCH(QString, code);
    QFETCH(bool, taken);
    ServiceFactory::setLang(QStringLiteral("EN"));
    ServiceFactory::loadLang(code);
    QCOMPARE(ServiceFactory::lang(), taken ? code : QStringLiteral("EN"));
    QCOMPARE(ServiceFactory::isLanguageCode(code), taken);
    ServiceFactory::setLang(QStringLiteral("EN"));
}

QTEST_GUILESS_MAIN(TestServiceFactory)
#include "tst_servicefactory.moc"
