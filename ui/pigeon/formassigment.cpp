#include "ui/pigeon/formassigment.h"

#include "club/clubreads.h"
#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "race/pigeonbo.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/screenkit.h"

#include "ui_formassigment.h"

#include <QTimer>

FormAssigment::FormAssigment(QWidget *parent)
    : RingAssignmentScreen(parent)
    , ui(std::make_unique<Ui::FormAssigment>())
    , lostTimer(new QTimer(this))
{
    ui->setupUi(this);
    useWidgets({ui->labAssocNum, ui->labEringNum, ui->labTipInfo, ui->btnAssign, ui->btnRestart});
    lostTimer->setSingleShot(true);
    connect(lostTimer, &QTimer::timeout, this, &FormAssigment::onReadLost);
}

FormAssigment::~FormAssigment() = default;

ClubReads *FormAssigment::linkReads()
{
    MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess;
    if (link == readsLink)
        return reads;
    // Reads asked of a link no longer published are never answered.
    delete reads;
    reads = nullptr;
    readsLink = link;
    if (link) {
        reads = new ClubReads(link, this);
        connect(reads, &ClubReads::readTagEnd, this, &FormAssigment::onReadTagEnd);
    }
    return reads;
}

void FormAssigment::startScanTag()
{
    showScanning();
    scanning = true;
    askRead();
}

void FormAssigment::stopScanTag()
{
    ui->btnRestart->setEnabled(true);
    // A request still in the link stays this screen's: its answer, should
    // it come after a reopening, is the reading of that opening, and no
    // second request joins it.
    scanning = false;
    lostTimer->stop();
}

void FormAssigment::askRead()
{
    ClubReads *clubReads = linkReads();
    if (!clubReads) {
        ServiceFactory::debug(QStringLiteral("FormAssigment::askRead no club link"));
        return;
    }
    if (clubReads->pending() == 0)
        clubReads->readTag();
    // The link runs a read within one answer time-out, behind at most one
    // other command, and drops what it cannot run; past this bound the
    // request will never be answered.
    lostTimer->start(MainWindow::scaledMs(ScreenKit::kClubReadLostMs));
}

void FormAssigment::onReadLost()
{
    if (!scanning || !reads)
        return;
    ServiceFactory::debug(QStringLiteral("FormAssigment: club read lost, asked again"));
    reads->cancel();
    askRead();
}

void FormAssigment::onReadTagEnd(QString eRing, quint8, QString readUid)
{
    lostTimer->stop();
    if (!scanning) {
        ServiceFactory::debug(QStringLiteral("FormAssigment: reading while not scanning, ignored"));
        return;
    }
    bool goOn = true;
    // A failed look-up has emptied the held ring: the same ring is checked
    // again at the next reading.
    guardedCallWithErrorPrompt("FormAssigment::onReadTagEnd", this,
                               [&] { goOn = takeReading(eRing, readUid); });
    if (goOn && scanning)
        askRead();
}

bool FormAssigment::takeReading(const QString &eRing, const QString &readUid)
{
    // The link hex-encodes what the reader gives; anything but 8 digits
    // is a failed read, and a pigeon given such a ring could never arrive.
    if (eRing.isEmpty() || !PigeonBo::isRingNumber(eRing)) {
        dropHeldRing();
        return true;
    }
    // A rejected ring lying on the reader is shown and prompted once.
    if (eRing == heldRing())
        return true;
    // The club reader gives no uid; the pigeon's row stores an empty text.
    if (!takeRing(eRing, readUid.isNull() ? QStringLiteral("") : readUid))
        return true;
    stopScanTag();
    return false;
}
