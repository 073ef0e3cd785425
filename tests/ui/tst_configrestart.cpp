#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/menu.h"
#include "ui/settings/formconfig.h"
#include "ui/settings/formtest.h"

#include "dbreader.h"
#include "programprocess.h"
#include "testroot.h"

#include <QCheckBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

#include <unistd.h>

namespace {
const char kDriveVariable[] = "BRELLIUM_DRIVE";
const char kConfig[] = "/app/main_program.config";
const char kPointerCal[] = "/etc/pointercal";
const QString kTimeScale = QStringLiteral("0.02");
constexpr int kGpioBattery = 54;
constexpr int kRunLimitMs = 60000;
constexpr int kStepMs = 100;
// 0x0002 was in force and stays ticked; two boxes ticked, EC25 chosen.
constexpr unsigned int kNewWord = 0x0002 | 0x0001 | 0x0400 | 0x0800;

void say(const char *text)
{
    std::printf("drive: %s\n", text);
    std::fflush(stdout);
}

QPushButton *buttonOf(QWidget *parent, const char *name)
{
    return parent->findChild<QPushButton *>(QLatin1String(name));
}

// The steps a service engineer takes, one per pass of the driver's timer;
// a box on the screen is answered with Ok first.
QList<std::function<void()>> stepsFor(const QString &drive)
{
    MainWindow *w = MainWindow::instance();
    QList<std::function<void()>> steps;
    steps << [w] { QTest::keyClick(w, Qt::Key_Home); };
    steps << [w] { QTest::mouseClick(buttonOf(w->mainMenu(), "pushButtonTest"), Qt::LeftButton); };
    if (drive == QLatin1String("calibrate")) {
        steps << [w] { QTest::mouseClick(buttonOf(w->formTest, "btnCalibrate"), Qt::LeftButton); };
        return steps; // the question's Ok ends the program
    }
    for (const char *key : {"btnKeyRed", "btnKeyBlue", "btnKeyGrey", "btnKeyGreen"})
        steps << [w, key] { QTest::mouseClick(buttonOf(w->formTest, key), Qt::LeftButton); };
    steps << [w] { QTest::mouseClick(buttonOf(w->formTest, "btnInit"), Qt::LeftButton); };
    for (const char *box : {"chkConfig0001", "chkConfig0400"}) {
        steps << [w, box] {
            QTest::mouseClick(w->formConfig->findChild<QCheckBox *>(QLatin1String(box)), Qt::LeftButton, {},
                              QPoint(12, 19));
        };
    }
    steps << [w] { w->formConfig->findChild<QWidget *>(QStringLiteral("cmbConfig1800"))->setProperty("currentIndex", 1); };
    steps << [w] { QTest::mouseClick(buttonOf(w->formConfig, "btnButtonReset"), Qt::LeftButton); };
    return steps;
}

// The program as core/main.cpp starts it, driven by a timer.
int runDriven(int argc, char **argv)
{
    QString startupError;
    try {
        MyApp::init();
    } catch (const VexException &e) {
        startupError = e.getErrorMessage();
    }
    MyApp app(argc, argv);
    if (!startupError.isEmpty())
        return 1;
    MyApp::registerMetaTypes();
    ServiceFactory::startService();
    ServiceFactory::loadLang();
    MainWindow::instance()->setVisible(true);

    const QList<std::function<void()>> steps = stepsFor(qEnvironmentVariable(kDriveVariable));
    int next = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, &app, [&] {
        FormMessage *box = FormMessage::instance();
        if (box->isActived()) {
            if (QPushButton *ok = buttonOf(box, "btnOK"); ok && ok->isVisible())
                QTest::mouseClick(ok, Qt::LeftButton);
            return;
        }
        if (next < steps.size())
            steps.at(next++)();
        else
            say("all steps taken");
    });
    driver.start(kStepMs);
    const int status = app.exec();
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    std::fflush(stdout);
    ::_exit(status);
}

QJsonObject configOf(const TestRoot &root)
{
    return QJsonDocument::fromJson(root.readFile(QLatin1String(kConfig))).object();
}
} // namespace

// The whole program: the hidden entry and Save restart the clock with the
// new flags; Calibrate with Ok restarts it without the calibration file.
class TestConfigRestart : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void saveRestartsWithNewFlags();
    void calibrateRestartsWithoutCalibration();

private:
    void runDrive(const QString &drive);
    int logEntries(const QString &reason) const;

    std::unique_ptr<TestRoot> root;
    QByteArray output;
};

void TestConfigRestart::init()
{
    root = std::make_unique<TestRoot>();
    root->writeFile(QStringLiteral("/app/brellium/version"), "8.9.30");
    root->setConfig("{\"apn\":\"cmnet\",\"userSettings\":2}");
    root->setGpio(kGpioBattery, 1);
}

void TestConfigRestart::cleanup()
{
    root.reset();
}

void TestConfigRestart::runDrive(const QString &drive)
{
    quint16 port = 0;
    QProcessEnvironment env = ProgramProcess::environment(*root, kTimeScale, &port);
    env.insert(QLatin1String(kDriveVariable), drive);
    ChildProcess child;
    QVERIFY(child.start(QCoreApplication::applicationFilePath(), {}, env, root->workDir()));
    const bool ended = child.waitForEnd(kRunLimitMs);
    output = child.output();
    if (!ended)
        child.cut();
    QVERIFY2(ended, output.right(4000).constData());
    QVERIFY2(child.endedNormally(), output.right(4000).constData());
    // The power-off after the last flush: on this board the battery line
    // goes off; the host only sees it recorded.
    QCOMPARE(root->boardCommands().last(), QStringLiteral("sync"));
    QCOMPARE(root->gpio(kGpioBattery), 0);
}

int TestConfigRestart::logEntries(const QString &reason) const
{
    DbReader db(root->workDir() + QStringLiteral("/data_20200505.db3"));
    return db.value(QStringLiteral("select count(*) from Log where LogType=15 and LogInfo like '%\"%1\"%'").arg(reason))
        .toInt();
}

void TestConfigRestart::saveRestartsWithNewFlags()
{
    runDrive(QStringLiteral("config"));
    if (QTest::currentTestFailed())
        return;
    const QJsonObject config = configOf(*root);
    QCOMPARE(config.value(QStringLiteral("userSettings")).toInteger(), qint64(kNewWord));
    QCOMPARE(config.value(QStringLiteral("apn")).toString(), QStringLiteral("cmnet"));
    QCOMPARE(logEntries(QStringLiteral("Manual restart")), 1);
    QVERIFY(root->boardCommands().contains(QStringLiteral("sync")));

    // The next start runs with the word.
    ProgramProcess program(*root);
    program.setTimeScale(kTimeScale);
    QVERIFY(program.start());
    // The start-up reader's line quotes the file's text.
    const QByteArray expected = "main app config: \"{\\\"apn\\\":\\\"cmnet\\\",\\\"userSettings\\\":"
        + QByteArray::number(kNewWord) + "}\"";
    QVERIFY2(program.waitForOutput(expected, kRunLimitMs), program.output().right(4000).constData());
    QVERIFY(program.close(kRunLimitMs));
}

void TestConfigRestart::calibrateRestartsWithoutCalibration()
{
    root->writeFile(QLatin1String(kPointerCal), "1 0 0 0 1 0 1\n");
    runDrive(QStringLiteral("calibrate"));
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!QFile::exists(root->path(QLatin1String(kPointerCal))));
    QCOMPARE(logEntries(QStringLiteral("Calibrate")), 1);
    QCOMPARE(configOf(*root).value(QStringLiteral("userSettings")).toInteger(), qint64(2));
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kDriveVariable))
        return runDriven(argc, argv);
    QCoreApplication app(argc, argv);
    TestConfigRestart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_configrestart.moc"
