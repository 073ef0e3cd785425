#include "ui/marking/formmarking.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/VexPlayer.h"
#include "race/pigeonbo.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/screenkit.h"

#include "ui_formmarking.h"

#include <QCoreApplication>
#include <QTimer>

// FormMarking: opening, the reading loop and the marking of one pigeon. The
// close with its print, the upload switch and the pigeon list are in
// formmarking_close.cpp.

namespace {

constexpr int kStateClosed = 3;
constexpr int kStateStopped = 4;
constexpr int kStateUploaded = 12;
// Empty reads in a row after which the last ring is forgotten.
constexpr int kEmptyReadsKept = 10;
// Voice mode that spells the last two characters of the association number.
constexpr int kVoiceSpelled = 356;
constexpr int kPromptMarked = 0;
constexpr int kPromptRepeat = 2;
} // namespace

bool FormMarking::isBasketingClosed(int state)
{
    return state == kStateClosed || state == kStateStopped || state == kStateUploaded;
}

FormMarking::FormMarking(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormMarking>())
    , lostTimer(new QTimer(this))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    lostTimer->setSingleShot(true);
    connect(lostTimer, &QTimer::timeout, this, &FormMarking::onAnswerLost);
}

FormMarking::~FormMarking() = default;

void FormMarking::startRaceMark(const QString &raceCode, qint64 clubTime)
{
    race = Storage::instance()->findRaceById(raceCode);
    if (!race)
        return;
    if (!isBasketingClosed(race->valid)) {
        stopped = false;
        MorlanProtocolProcess *club = ServiceFactory::getInstance()->protocolProcess;
        race->markReaderId = club ? club->getRouterId() : QString();
        race->markAuthKey = club ? club->getAuthKey() : QString();
        Storage::instance()->saveRace(race.data());
        PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
        if (!engine)
            ServiceFactory::debug(QStringLiteral("FormMarking::startRaceMark: no race engine, club time not locked"));
        else if (!engine->hasActiveRace())
            engine->verifyClubTime(clubTime, race->markReaderId);
    } else {
        stopped = true;
    }
    MainWindow::instance()->pushSubForm(this);
}

bool FormMarking::canClose()
{
    return true;
}

void FormMarking::onTimeTick(int)
{
}

void FormMarking::onFocus(bool focused)
{
    if (!focused || !race)
        return;
    // Back from the race's pigeon list, where pigeons can be unmarked.
    guardedCall("FormMarking::onFocus", this, [this] {
        ui->txtPigeonTotal->setText(QString::number(Storage::instance()->getMarkedPigeonCount(race->raceCode)));
    });
}

void FormMarking::onActive()
{
    if (!race)
        return;
    ++activation;
    emptyReadCount = 0;
    lastRing.clear();
    reflushRaceGUI();
    reflushMarking(true, QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"));
    showWarning(tr("Waiting..."));
    ui->btnPrintMarkingList->setEnabled(false);
    connectLink();
    applyWork();
    setUploadSwitch(!race->getField(QStringLiteral("markUploadFlag")).toBool());
    uploadedCount = 0;
}

void FormMarking::onDeactive(SubWindow::_DeactiveMode)
{
    // Every change of the race is stored when it is made, so nothing is left
    // to store here; storing the copy held would undo what the race engine
    // or another screen wrote meanwhile. A command still in the link keeps
    // its await: its answer settles it at the next opening.
    stopped = true;
    lostTimer->stop();
}

void FormMarking::applyWork()
{
    if (stopped) {
        ui->btnStop->setText(tr("Start"));
        showWarning(tr("Press <Start> to mark!"));
        ui->btnPrintMarkingList->setEnabled(true);
    } else {
        ui->btnStop->setText(tr("Stop"));
        askRead();
        ui->btnPrintMarkingList->setEnabled(false);
    }
    ui->btnPigeons->setEnabled(stopped);
}

bool FormMarking::isReading() const
{
    return isActive() && !stopped;
}

// The club link, in one place: which link answers, how a read or a write is
// asked and how answers come back. Both answers stay connected from the
// first opening on; which of them counts is decided by the await.
void FormMarking::connectLink()
{
    MorlanProtocolProcess *current = ServiceFactory::getInstance()->protocolProcess;
    if (current == link && readConnection)
        return;
    QObject::disconnect(readConnection);
    QObject::disconnect(writeConnection);
    link = current;
    awaited = Awaited::None;
    lostTimer->stop();
    if (!current) {
        ServiceFactory::debug(QStringLiteral("FormMarking: no club link published"));
        return;
    }
    readConnection = connect(current, &MorlanProtocolProcess::readTagEnd, this, &FormMarking::onReadTagEnd);
    writeConnection = connect(current, &MorlanProtocolProcess::setRandomEnd, this, &FormMarking::onSetRandomEnd);
}

void FormMarking::askRead()
{
    if (awaited != Awaited::None) {
        // One command at a time: the one outstanding is awaited again, with
        // its bound running anew after a reopening.
        if (!lostTimer->isActive())
            lostTimer->start(MainWindow::scaledMs(ScreenKit::kClubReadLostMs));
        return;
    }
    if (!link)
        return;
    awaited = Awaited::Read;
    link->startReadTag();
    lostTimer->start(MainWindow::scaledMs(ScreenKit::kClubReadLostMs));
}

void FormMarking::askWrite()
{
    if (awaited != Awaited::None || !link)
        return;
    awaited = Awaited::Write;
    writeActivation = activation;
    link->startSetRandom(QSharedPointer<SemaphoreEx>());
    lostTimer->start(MainWindow::scaledMs(ScreenKit::kClubReadLostMs));
}

void FormMarking::settleAnswer()
{
    awaited = Awaited::None;
    lostTimer->stop();
}

void FormMarking::keepReading()
{
    if (isReading() && awaited == Awaited::None)
        askRead();
}

void FormMarking::onAnswerLost()
{
    if (awaited == Awaited::None)
        return;
    // Dropped by the link (router silent, authorisation lost): ask again.
    ServiceFactory::debug(QStringLiteral("FormMarking: club answer lost"));
    settleAnswer();
    if (isReading())
        showWarning(tr("Waiting..."));
    keepReading();
}

void FormMarking::onReadTagEnd(QString eRing, quint8, QString)
{
    if (awaited != Awaited::Read) {
        ServiceFactory::debug(QStringLiteral("FormMarking: read answer not awaited, ignored"));
        return;
    }
    settleAnswer();
    if (isReading())
        guardedCall("FormMarking::onReadTagEnd", this, [this, &eRing] { handleRead(eRing); });
    keepReading();
}

void FormMarking::onSetRandomEnd(QString eRing, quint8 randNum)
{
    if (awaited != Awaited::Write) {
        ServiceFactory::debug(QStringLiteral("FormMarking: write answer not awaited, ignored"));
        return;
    }
    settleAnswer();
    // A write asked before the screen was left and opened again belongs to
    // another opening, perhaps another race: it marks nothing.
    if (isReading() && writeActivation == activation && !eRing.isEmpty()) {
        guardedCall("FormMarking::onSetRandomEnd", this, [this, &eRing, randNum] {
            emptyReadCount = 0;
            doMarkPigeon(eRing, randNum);
            lastRing = eRing;
        });
    }
    // A failed write is not repeated: the next ring on the reader could
    // receive the number unchecked. The ring is read again instead.
    keepReading();
}

void FormMarking::handleRead(const QString &eRing)
{
    if (eRing.isEmpty()) {
        ++emptyReadCount;
        if (emptyReadCount > kEmptyReadsKept) {
            lastRing.clear();
            showWarning(tr("Waiting..."));
        }
        return;
    }
    if (eRing == lastRing) {
        // The pigeon just marked is still at the reader.
        emptyReadCount = 0;
        return;
    }
    const QSharedPointer<PigeonRecord> record = Storage::instance()->findRecordByEring(eRing);
    if (record && record->markTime != 0) {
        VexPlayer::playPigeonBack(kPromptRepeat);
        showWarning(tr("Pigeon already marked!"));
        showPigeon(eRing, record->assocNum);
        emptyReadCount = 0;
        return;
    }
    emptyReadCount = 0;
    lastRing.clear();
    reflushMarking(false, eRing, QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"));
    showWarning(tr("Pigeon is marking..."));
    askWrite();
}

void FormMarking::doMarkPigeon(const QString &eRing, quint8 randNum)
{
    const QSharedPointer<PigeonRecord> record = Storage::instance()->findRecordByEring(eRing);
    if (!record) {
        reflushMarking(false, eRing, QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"));
        showWarning(tr("Pigeon number is invalid!"));
        return;
    }
    // The ring may have been swapped between the read and the write: a
    // pigeon basketed for another race is refused as at the read.
    if (record->markTime != 0 && record->raceCode != race->raceCode) {
        VexPlayer::playPigeonBack(kPromptRepeat);
        showWarning(tr("Pigeon already marked!"));
        showPigeon(eRing, record->assocNum);
        return;
    }
    record->markFor(*race, UTC::clubTime().value() + race->markReaderTime - race->markDeviceTime, randNum);
    if (!Storage::instance()->saveMark(record.data())) {
        // Changed meanwhile (unringed, or basketed for another race).
        VexPlayer::playPigeonBack(kPromptRepeat);
        showWarning(tr("Pigeon already marked!"));
        return;
    }
    // Announced once stored, so that no prompt reports a mark that failed.
    PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
    if (engine && engine->getVoiceMode() == kVoiceSpelled)
        VexPlayer::readWords(record->assocNum.right(2));
    else
        VexPlayer::playPigeonBack(kPromptMarked);
    const QSharedPointer<PigeonInfo> pigeon = Storage::instance()->findPigeonById(record->assocNum);
    if (pigeon)
        reflushMarking(true, eRing, record->assocNum, ScreenKit::sexText(pigeon->sex), pigeon->color);
    else
        reflushMarking(true, eRing, record->assocNum, QStringLiteral("-"), QStringLiteral("-"));
    showWarning(tr("Pigeon mark is OK!"));
}

void FormMarking::showPigeon(const QString &eRing, const QString &assocNum)
{
    const QSharedPointer<PigeonInfo> pigeon = Storage::instance()->findPigeonById(assocNum);
    if (pigeon)
        reflushMarking(false, eRing, assocNum, ScreenKit::sexText(pigeon->sex), pigeon->color);
}

void FormMarking::reflushRaceGUI()
{
    ui->txtRaceCode->setText(race->raceCode);
    ui->txtLibName->setText(race->liberName);
    ui->txtLibDate->setText(
        UTC::format(race->liberTime, QCoreApplication::translate("CommonResource", "dd/MM/yyyy hh:mm:ss")));
    ui->btnPrintMarkingList->setText(tr("Print") + QString::asprintf("(%d)", race->printCount));
}

void FormMarking::reflushMarking(bool refreshTotal, const QString &eRing, const QString &assocNum,
                                 const QString &sex, const QString &color)
{
    if (refreshTotal)
        ui->txtPigeonTotal->setText(QString::number(Storage::instance()->getMarkedPigeonCount(race->raceCode)));
    ui->txtPigeonERing->setText(eRing);
    ui->txtPigeonAssoc->setText(assocNum);
    ui->txtPigeonSex->setText(sex);
    ui->txtPigeonColor->setText(color);
}

void FormMarking::showWarning(const QString &text)
{
    ui->labelWarning->setText(text);
}

void FormMarking::showBox(const QString &title, const QString &text)
{
    FormMessage::information(this, title, text, QMessageBox::Ok, nullptr);
}
