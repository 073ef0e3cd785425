#include "ui/mainwindow.h"

#include "club/morlanprotolprocess.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/version.h"
#include "core/vexexception.h"
#include "device/SoundThread.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "gsm/gsmservice.h"
#include "print/reportprinter.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"
#include "ui/formhome.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/marking/formmarking.h"
#include "ui/marking/formmarkingselectrace.h"
#include "ui/marking/formnomination.h"
#include "ui/marking/formtrain.h"
#include "ui/marking/formtrainstart.h"
#include "ui/menu.h"
#include "ui/pigeon/formaddpigeon.h"
#include "ui/pigeon/formassigment.h"
#include "ui/pigeon/formlistassignment.h"
#include "ui/pigeon/formmember.h"
#include "ui/pigeon/formmorlanconnect.h"
#include "ui/pigeon/formpcconnect.h"
#include "ui/pigeon/formpigeonlist.h"
#include "ui/pigeon/formpigeonsassignment.h"
#include "ui/race/formaddrace.h"
#include "ui/race/formhomeracedetail.h"
#include "ui/race/formrace.h"
#include "ui/race/formracedetail.h"
#include "ui/settings/formcommunication.h"
#include "ui/settings/formconfig.h"
#include "ui/settings/formlcdtest.h"
#include "ui/settings/formlogs.h"
#include "ui/settings/formringtest.h"
#include "ui/settings/formsmstest.h"
#include "ui/settings/formsystem.h"
#include "ui/settings/formtest.h"
#include "ui/settings/formtime.h"
#include "ui/statusbar.h"

#include "ui_mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

#include <unistd.h>

namespace {
constexpr int kTickMs = 300;
constexpr quint16 kClosePort = 4445;
constexpr int kWindowWidth = 480;
constexpr int kWindowHeight = 800;
constexpr int kBoardErrorMs = 20000;
constexpr qint64 kWatchdogPeriodMs = 5000;
constexpr int kStepFirstWaitMs = 300;
constexpr int kStepPollMs = 100;
// A service stops within a poll period or two. Past this bound the shutdown
// logs the step and goes on; six steps stay inside the 60 s that the GUI
// promises its watchdog ("gui:60000").
constexpr int kStepLimitMs = 8000;
// Datagrams handled per readyRead; a flood cannot hold the GUI thread, and
// the rest wait for the next pass of the event loop.
constexpr int kMaxDatagramsPerPass = 256;
constexpr unsigned int kNoSmsFlag = 0x100;
constexpr int kUploadModeSms = 6;
const char *const kVersion = ProgramVersion::kText;
const char kVersionFile[] = "/app/brellium/version";
const char kCloseCommand[] = "brellium:close";
const char kWatchdogTag[] = "gui:60000";

void setSheet(QWidget *w, const QString &sheet)
{
    // Re-polishing costs more than the compare; an unchanged picture stays.
    if (w->styleSheet() != sheet)
        w->setStyleSheet(sheet);
}
}

std::atomic<bool> MainWindow::exitRequested{false};
MainWindow *MainWindow::_instance = nullptr;
bool MainWindow::_built = false;

MainWindow *MainWindow::instance()
{
    if (!_instance)
        new MainWindow(); // sets _instance first thing, so screens built inside reach it
    return _instance;
}

MainWindow *MainWindow::builtInstance()
{
    return _built ? _instance : nullptr;
}

void MainWindow::destroyInstance()
{
    _built = false;
    delete _instance;
    _instance = nullptr;
}

MainWindow::MainWindow(QWidget *parent)
    : BaseWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
{
    _instance = this;
    ui->setupUi(this);
    menu = new FormMenu(this);
    setWindowFlags(Qt::FramelessWindowHint);
    move(0, 0);
    resize(kWindowWidth, kWindowHeight);
    ui->labelPowerOff->hide();
    ui->labTipInfo->hide();
    ui->labelTime->setText(StatusBar::timeText(StatusBar::clubTimeMs()));

    if (HardwareControl::OSTYPE == 0) {
        // No services run on an unknown board: say so and end before any
        // screen exists.
        FormMessage::information(this, tr("Error"), tr("OS version mispatch!"), QMessageBox::Ok, nullptr);
        ServiceFactory::debug(QStringLiteral("MainWindow: unknown board, no screen built"));
        HardwareControl::wait(scaledMs(kBoardErrorMs));
        endProcess();
    }

    buildScreens();

    udpSocket = new QUdpSocket(this);
    // Any local IPv4 address, as the device's tools send to it.
    if (!udpSocket->bind(QHostAddress::AnyIPv4, closePort()))
        ServiceFactory::debug(QStringLiteral("MainWindow: udp bind failed: ") + udpSocket->errorString());
    connect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::onReceiveUdp);

    showUpgradeNotice();
    guardedCall("MainWindow::MainWindow", this, [this] { firstSetUp(); });
    ServiceFactory::debug(QStringLiteral("MainWindow: screens built"));
    _built = true;
}

MainWindow::~MainWindow()
{
    if (_instance == this) {
        _instance = nullptr;
        _built = false;
    }
}

void MainWindow::buildScreens()
{
    formAddPigeon = new FormAddPigeon(this);
    formAssigment = new FormAssigment(this);
    formListAssignment = new FormListAssignment(this);
    formCommunication = new FormCommunication(this);
    formHome = new FormHome(this);
    formLcdTest = new FormLcdTest(this);
    formMarking = new FormMarking(this);
    formMarkingSelectRace = new FormMarkingSelectRace(this);
    formMember = new FormMember(this);
    formPcConnect = new FormPcConnect(this);
    formRace = new FormRace(this);
    formRaceDetail = new FormRaceDetail(this);
    formHomeRaceDetail = new FormHomeRaceDetail(this);
    formAddRace = new FormAddRace(this);
    formRingTest = new FormRingTest(this);
    formSmsTest = new FormSmsTest(this);
    formSystem = new FormSystem(this);
    formTest = new FormTest(this);
    formTime = new FormTime(this);
    formTrain = new FormTrain(this);
    formTrainStart = new FormTrainStart(this);
    formMorlanConnect = new FormMorlanConnect(this);
    formPigeonList = new FormPigeonList(this);
    formPigeonsAssignment = new FormPigeonsAssignment(this);
    formLogs = new FormLogs(this);
    formConfig = new FormConfig(this);

    timer = new QTimer(this);
    timer->setInterval(kTickMs);
    connect(timer, &QTimer::timeout, this, &MainWindow::onTickTimeOut);
    timer->start();

    formNomination = new FormNomination(this);
}

void MainWindow::showUpgradeNotice()
{
    if (!isUpgrade())
        return;
    const QString version =
        versionText(HardwareControl::OSTYPE, HardwareControl::gsmType(), HardwareControl::APP_SETTING);
    FormMessage::information(this, tr("Success"), tr("Upgrade to ") + version, QMessageBox::Ok, nullptr);
}

void MainWindow::firstSetUp()
{
    PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo;
    const QString loftNum = bo ? bo->getLoftNum() : storedLoft().loftNum;
    if (loftNum.isEmpty())
        pushSubForm(formPcConnect);

    if (HardwareControl::hasFlag(kNoSmsFlag)) {
        LoftInfo loft = storedLoft();
        if (!applyNoSmsRule(&loft.uploadMode, &loft.notifyMode))
            return;
        // Through the race engine, so that its cached copy follows; without
        // one the row is written directly.
        if (bo)
            bo->saveLoftInfo(&loft);
        else
            Storage::instance()->saveLoftInfo(&loft);
    }
}

LoftInfo MainWindow::storedLoft()
{
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    return loft;
}

bool MainWindow::applyNoSmsRule(int *uploadMode, int *notifyMode)
{
    if (*uploadMode == kUploadModeSms) {
        *uploadMode = 0;
        *notifyMode = 0;
        return true;
    }
    if (*notifyMode != 0) {
        *notifyMode = 0;
        return true;
    }
    return false;
}

QString MainWindow::versionText(int osType, unsigned int gsmType, unsigned int settings)
{
    const char *pattern = "v%s(%04X)";
    if (osType == 1) {
        pattern = "v%s(%04X)-ti";
    } else if (osType == 2 || osType == 3) {
        if (gsmType == 0)
            pattern = "v%s(%04X)-ublox";
        else if (gsmType == 0x800)
            pattern = "v%s(%04X)-ec25";
    }
    return QString::asprintf(pattern, kVersion, settings);
}

bool MainWindow::isUpgrade()
{
    const QString path = Platform::path(QLatin1String(kVersionFile));
    QByteArray content;
    QFile file(path);
    if (QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly))
        content = file.readAll();
    file.close();
    if (content == QByteArray(kVersion))
        return false;

    // Any difference (missing, unreadable, a newline, another version) is a
    // new installation: the file is written anew and the notice shown once.
    QFile::remove(path);
    QFile out(path);
    const QByteArray version(kVersion);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(version) != version.size() || !out.flush()) {
        ServiceFactory::debug(QStringLiteral("MainWindow: version file not written: ") + out.errorString());
        return true;
    }
    out.close();
    HardwareControl::syncAll();
    return true;
}

int MainWindow::scaledMs(int ms)
{
    if (!Platform::isSimulated())
        return ms;
    bool ok = false;
    const double factor = qEnvironmentVariable("BRELLIUM_TIME_SCALE").toDouble(&ok);
    if (!ok || factor <= 0.0 || factor >= 1.0)
        return ms;
    return qMax(1, qRound(ms * factor));
}

quint16 MainWindow::closePort()
{
    // A simulated device may move the port so that several clocks (and the
    // tests) run side by side on one host; the device always uses 4445.
    if (Platform::isSimulated()) {
        bool ok = false;
        const uint port = qEnvironmentVariable("BRELLIUM_CLOSE_PORT").toUInt(&ok);
        if (ok && port <= 0xFFFF)
            return quint16(port);
    }
    return kClosePort;
}

void MainWindow::requestExit()
{
    exitRequested = true;
}

bool MainWindow::isExitRequested()
{
    return exitRequested;
}

void MainWindow::resetExitRequest()
{
    exitRequested = false;
}

qint64 MainWindow::lastWatchdogMs() const
{
    return lastWatchdog;
}

FormMenu *MainWindow::mainMenu() const
{
    return menu;
}

void MainWindow::setSnapshotSource(std::function<StatusSnapshot()> source)
{
    snapshotSource = std::move(source);
}

bool MainWindow::isWatchdogDue(qint64 nowMs, qint64 lastMs)
{
    // One unsigned compare covers both ways: more than 5 s ahead, or the
    // clock set back by more than 5 s.
    return quint64(nowMs - lastMs + kWatchdogPeriodMs) > quint64(2 * kWatchdogPeriodMs);
}

void MainWindow::flushWatchdog()
{
    const qint64 now = UTC::now().value();
    if (!isWatchdogDue(now, lastWatchdog))
        return;
    lastWatchdog = now;
    HardwareControl::flushWatchdog(QLatin1String(kWatchdogTag));
}

bool MainWindow::isBoxLocked() const
{
    FormMessage *box = FormMessage::instance();
    return box->isActived() && box->isLocked();
}

bool MainWindow::isNavigationHeld() const
{
    return isBoxLocked() || isStackBusy();
}

QWidget *MainWindow::errorParent()
{
    if (SubWindow *top = topSubForm())
        return top;
    return this;
}

void MainWindow::onTickTimeOut()
{
    guardedCall("MainWindow::onTickTimeOut", errorParent(), [this] { tick(); });
}

void MainWindow::tick()
{
    flushWatchdog();
    // Shown before an exit is acted on, so that a mains cut explains the
    // shutdown that follows.
    // One reading serves the warning and the status bar below.
    const bool mainsPresent = HardwareControl::IsPowerAcSupply();
    ui->labelPowerOff->setVisible(!mainsPresent);
    // A report pumps events between its lines, so this tick can run inside
    // printAll; the shutdown waits until the print ends (a failing link ends
    // it within the synchronous-call bound).
    if (exitRequested && !ReportPrinter::isPrinting())
        doDestroy();
    if (SubWindow *top = topSubForm())
        guardedCall("MainWindow::onTickTimeOut", top, [top] { top->onTimeTick(kTickMs); });
    showServiceErrors();
    const StatusSnapshot snapshot = snapshotSource ? snapshotSource() : StatusBar::gather(mainsPresent);
    applyStatus(StatusBar::look(snapshot));
}

void MainWindow::showServiceErrors()
{
    // Shown when the window comes up, and again at each return to the menu.
    const bool atMenu = topSubForm() == nullptr;
    if (atMenu && !wasAtMenu)
        startErrorShown = false;
    wasAtMenu = atMenu;
    PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo;
    const int heldCount = bo ? bo->heldArrivals() : 0;
    if (heldCount == 0)
        heldShown = false;
    FormMessage *box = FormMessage::instance();
    // Another box (a question, a progress box) is not ours to change: the
    // error waits for the next tick after it closes. Our own error box takes
    // the newer error.
    const bool ownBox = box->isActived() && !serviceErrorText.isEmpty() && box->text() == serviceErrorText;
    if (box->isActived() && !ownBox)
        return;
    QString text;
    const QString startError = ServiceFactory::startError();
    if (!startErrorShown && !startError.isEmpty()) {
        startErrorShown = true;
        // The box does not wrap: the lines are broken here.
        text = tr("The services did not start:\n%1").arg(startError);
    } else if (heldCount > 0 && !heldShown) {
        heldShown = true;
        text = tr("Arrivals cannot be stored: %1 held.\nThey are kept with their times and\nstored once the "
                  "database can be written.")
                   .arg(heldCount);
    } else {
        text = ServiceFactory::takeNotice();
        if (text.isEmpty())
            return;
    }
    ServiceFactory::debug(QStringLiteral("MainWindow: ") + text);
    serviceErrorText = text;
    if (ownBox)
        box->setText(text);
    else
        FormMessage::information(errorParent(), tr("Error"), text, QMessageBox::Ok, nullptr);
}

void MainWindow::applyStatus(const StatusLook &look)
{
    setSheet(ui->labelGsm, look.gsmStyle);
    if (!look.gprsKept)
        setSheet(ui->labelGPRS, look.gprsStyle);
    setSheet(ui->labelGps, look.gpsStyle);
    if (!look.gpsText.isEmpty())
        ui->labelGpsText->setText(look.gpsText);
    ui->labelTime->setText(look.timeText);
    setSheet(ui->labelRF, look.rfStyle);
    ui->labelPowerOff->setVisible(look.powerWarning);
}

bool MainWindow::doKeyPress(QKeyEvent *e)
{
    return guardedKey("MainWindow::doKeyPress", errorParent(), [this, e] { return handleKey(e); });
}

bool MainWindow::handleKey(QKeyEvent *e)
{
    // A modal dialog (the calibration) takes its own keys; nothing beneath
    // it may move.
    if (QApplication::activeModalWidget())
        return false;
    const int key = e->key();
    switch (key) {
    case Qt::Key_Escape:
    case Qt::Key_Home:
        // A busy screen, or one under a locked progress box, is inside a
        // long action that pumps events: closing it now would pull the
        // screen from under its running call.
        if (isNavigationHeld()) {
            VexPlayer::playKeyPress();
            return true;
        }
        if (key == Qt::Key_Escape)
            popSubForm(SubWindow::DeactiveHide);
        else
            resetSubForms();
        return true;
    default:
        break;
    }
    FormMessage *box = FormMessage::instance();
    if (box->isActived()) {
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && isStackBusy())
            return true;
        return box->doKeyPress(e);
    }
    SubWindow *top = topSubForm();
    if (!top)
        return menu->doKeyPress(e);
    return top->doKeyPress(e);
}

void MainWindow::on_pushButtonBack_clicked()
{
    guardedCall("MainWindow::on_pushButtonBack_clicked", errorParent(), [this] {
        VexPlayer::playDong();
        if (!isNavigationHeld())
            popSubForm(SubWindow::DeactiveHide);
    });
}

void MainWindow::on_pushButtonHome_clicked()
{
    guardedCall("MainWindow::on_pushButtonHome_clicked", errorParent(), [this] {
        VexPlayer::playDong();
        if (!isNavigationHeld())
            resetSubForms();
    });
}

bool MainWindow::isCloseCommand(const QString &cmd)
{
    // No trimming: the tools send the bare command, and a newline makes it
    // another text.
    return cmd.compare(QLatin1String(kCloseCommand), Qt::CaseInsensitive) == 0;
}

QString MainWindow::commandText(const QByteArray &datagram)
{
    const int zero = datagram.indexOf('\0');
    return QString::fromLatin1(zero >= 0 ? datagram.left(zero) : datagram);
}

void MainWindow::onReceiveUdp()
{
    guardedCall("MainWindow::onReceiveUdp", errorParent(), [this] {
        for (int n = 0; n < kMaxDatagramsPerPass && udpSocket->hasPendingDatagrams(); ++n) {
            const qint64 size = udpSocket->pendingDatagramSize();
            if (size < 0) {
                char discard = 0;
                udpSocket->readDatagram(&discard, 0);
                continue;
            }
            QByteArray datagram(int(size), '\0');
            if (udpSocket->readDatagram(datagram.data(), size) < 0)
                continue;
            doUdpCmd(commandText(datagram));
        }
    });
}

void MainWindow::doUdpCmd(const QString &cmd)
{
    if (!isCloseCommand(cmd))
        return;
    // The close goes ahead when the entry cannot be written (a full disk):
    // the program must still stop in order.
    try {
        Storage::instance()->logPowerOff(QStringLiteral("Watchdog"));
    } catch (const VexException &) {
        ServiceFactory::debug(QStringLiteral("MainWindow::doUdpCmd VexException!"));
    }
    ServiceFactory::requestExit();
}

bool MainWindow::stopStep(const QString &text, const std::function<bool()> &stopped,
                          const std::function<void()> &begin)
{
    ui->labTipInfo->setText(text);
    ServiceFactory::debug(text);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // Started only once the step is shown and logged, so that whatever the
    // stopping thread logs comes after the step's line.
    if (begin)
        begin();
    HardwareControl::wait(scaledMs(kStepFirstWaitMs));
    const int limitMs = scaledMs(kStepLimitMs);
    const int pollMs = scaledMs(kStepPollMs);
    QElapsedTimer waited;
    waited.start();
    while (!stopped()) {
        if (waited.elapsed() >= limitMs) {
            ServiceFactory::debug(QStringLiteral("MainWindow: ") + text + QStringLiteral(" timeout!"));
            return false;
        }
        HardwareControl::wait(pollMs);
    }
    return true;
}

void MainWindow::doDestroy()
{
    disconnect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::onReceiveUdp);
    disconnect(timer, &QTimer::timeout, this, &MainWindow::onTickTimeOut);
    timer->stop();
    resetSubForms();
    // The shutdown line lies where a box would stand: take the box away.
    FormMessage::instance()->deactive();
    setEnabled(false);
    menu->close();
    ui->labTipInfo->setText(tr("Close GUI"));
    ui->labTipInfo->show();
    ServiceFactory::debug(ui->labTipInfo->text());
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    const QList<SubWindow *> screens = findChildren<SubWindow *>(QString(), Qt::FindDirectChildrenOnly);
    for (SubWindow *screen : screens)
        screen->close();
    ServiceFactory::debug(QStringLiteral("MainWindow:0"));

    ServiceFactory *factory = ServiceFactory::getInstance();
    stopStep(tr("Stop RF Service..."), [factory] {
        return !factory->rfidService || !factory->rfidService->isRunning();
    });
    // The modem thread ends on the exit request at its next step or answer
    // poll; the step waits for that, within its bound.
    stopStep(tr("Stop GSM Service..."), [factory] {
        return !factory->gsmService || !factory->gsmService->isRunning();
    });
    stopStep(tr("Stop Pigeon Service..."), [factory] {
        return !factory->pigeonBo || factory->pigeonBo->isFinished();
    });
    stopStep(tr("Stop Sound Service..."), [factory] {
        return !factory->soundThread || !factory->soundThread->isRunning();
    });
    stopStep(
        tr("Stop Communication Service..."),
        [factory] { return !factory->protocolProcess || !factory->protocolProcess->isRunning(); },
        [factory] {
            if (MorlanProtocolProcess *link = factory->protocolProcess)
                link->requestExit();
        });
    if (!stopStep(
            tr("Shutting down..."), [factory] { return !factory->isRunning(); }, [factory] { factory->quit(); })) {
        // The service thread would have powered off after its loop; it is
        // stuck, so the window does it, and the device still goes down.
        HardwareControl::syncAll();
        HardwareControl::powerOff();
    }
    close();
    endProcess();
}

void MainWindow::endProcess()
{
    // The process ends here, also from inside a nested event pass: no
    // object is destroyed, so no thread object that may still run goes away.
    Storage::destroy();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
}
