#include "ui/mainwindow.h"

#include "club/morlanprotolprocess.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "device/SoundThread.h"
#include "device/hardware_control.h"
#include "device/rfidservice.h"
#include "gsm/gsmservice.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <QVBoxLayout>

namespace {
constexpr int kTickMs = 300;
constexpr quint16 kClosePort = 4445;
constexpr int kStepFirstWaitMs = 300;
constexpr int kStepPollMs = 100;
// Each service stops within a poll period or two; past this the shutdown goes
// on without it rather than leaving a frozen screen.
constexpr int kStepLimitMs = 15000;
}

std::atomic<bool> MainWindow::exitRequested{false};

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

MainWindow *MainWindow::instance()
{
    static MainWindow *window = new MainWindow();
    return window;
}

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("MainWindow"));
    setFixedSize(480, 800);
    setStyleSheet(QStringLiteral("QWidget{\noutline:0px;\n}\nMainWindow{background:#1e2630;}"));

    labTipInfo = new QLabel(QStringLiteral("--"), this);
    labTipInfo->setGeometry(10, 270, 460, 71);
    labTipInfo->setAlignment(Qt::AlignCenter);
    labTipInfo->setStyleSheet(QStringLiteral("color:white;font-size:23px;"));
    labTipInfo->hide();

    udpSocket = new QUdpSocket(this);
    if (!udpSocket->bind(QHostAddress::AnyIPv4, closePort()))
        ServiceFactory::debug(QStringLiteral("MainWindow: udp bind failed: ") + udpSocket->errorString());
    connect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::onReceiveUdp);

    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &MainWindow::onTickTimeOut);
    timer->start(kTickMs);
}

MainWindow::~MainWindow() = default;

void MainWindow::requestExit()
{
    exitRequested = true;
}

bool MainWindow::isExitRequested()
{
    return exitRequested;
}

bool MainWindow::doKeyPress(QKeyEvent *)
{
    return false;
}

void MainWindow::onTickTimeOut()
{
    HardwareControl::flushWatchdog(QStringLiteral("gui:60000"));
    if (exitRequested)
        doDestroy();
}

void MainWindow::onReceiveUdp()
{
    do {
        const QNetworkDatagram datagram = udpSocket->receiveDatagram();
        QByteArray text = datagram.data();
        const int zero = text.indexOf('\0');
        if (zero >= 0)
            text.truncate(zero);
        doUdpCmd(QString::fromLatin1(text));
    } while (udpSocket->hasPendingDatagrams());
}

void MainWindow::doUdpCmd(const QString &cmd)
{
    if (cmd.compare(QStringLiteral("brellium:close"), Qt::CaseInsensitive) != 0)
        return;
    Storage::instance()->logPowerOff(QStringLiteral("Watchdog"));
    ServiceFactory::requestExit();
}

void MainWindow::stopStep(const QString &text, const std::function<bool()> &stopped)
{
    labTipInfo->setText(text);
    QCoreApplication::processEvents();
    HardwareControl::wait(kStepFirstWaitMs);
    for (int waited = 0; !stopped(); waited += kStepPollMs) {
        if (waited >= kStepLimitMs) {
            ServiceFactory::debug(QStringLiteral("MainWindow: ") + text + QStringLiteral(" timeout!"));
            return;
        }
        HardwareControl::wait(kStepPollMs);
    }
}

void MainWindow::doDestroy()
{
    disconnect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::onReceiveUdp);
    disconnect(timer, &QTimer::timeout, this, &MainWindow::onTickTimeOut);
    timer->stop();
    setEnabled(false);
    labTipInfo->setText(tr("Close GUI"));
    labTipInfo->show();
    QCoreApplication::processEvents();
    ServiceFactory::debug(QStringLiteral("MainWindow:0"));

    ServiceFactory *factory = ServiceFactory::getInstance();
    stopStep(tr("Stop RF Service..."), [factory] {
        return !factory->rfidService || !factory->rfidService->isRunning();
    });
    stopStep(tr("Stop GSM Service..."), [factory] {
        return !factory->gsmService || !factory->gsmService->isRunning();
    });
    stopStep(tr("Stop Pigeon Service..."), [factory] {
        return !factory->pigeonBo || factory->pigeonBo->isFinished();
    });
    stopStep(tr("Stop Sound Service..."), [factory] {
        return !factory->soundThread || !factory->soundThread->isRunning();
    });
    if (factory->protocolProcess)
        factory->protocolProcess->requestExit();
    stopStep(tr("Stop Communication Service..."), [factory] {
        return !factory->protocolProcess || !factory->protocolProcess->isRunning();
    });
    factory->quit();
    stopStep(tr("Shutting down..."), [factory] { return !factory->isRunning(); });

    close();
    QCoreApplication::exit(0);
}
