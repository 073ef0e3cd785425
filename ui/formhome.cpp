#include "ui/formhome.h"

#include "club/morlanprotolprocess.h"
#include "core/locationinfo.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/marking/formnomination.h"
#include "ui/marking/formtrain.h"
#include "ui/race/formhomeracedetail.h"

#include "ui_formhome.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QTableWidgetItem>
#include <QTimer>

#include <iterator>
#include <utility>

namespace {
constexpr unsigned int kNominationFlag = 0x0400;
constexpr int kTrainAloneX = 120;    // Go Training alone stands nearer the middle
constexpr int kRaceMarked = 3;
constexpr int kRaceStopped = 4;
constexpr int kRaceUploaded = 12;
constexpr quint8 kChannelAbnormal = 0x80;
constexpr int kRaceCodeColumn = 0;
const int kColumnWidths[] = {120, 178, 79};
const char kNone[] = "---";

PigeonBo *engine()
{
    return ServiceFactory::getInstance()->pigeonBo;
}

QString markedText(const RaceInfo &race, int marked)
{
    if (race.valid == kRaceMarked)
        return QStringLiteral("%1").arg(marked);
    if (race.valid == kRaceStopped || race.valid == kRaceUploaded)
        return QStringLiteral("--");
    // A race still open for basketing: the count may grow.
    return QStringLiteral("*%1").arg(marked);
}
} // namespace

FormHome::FormHome(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormHome>())
{
    ui->setupUi(this);
    // The layout's place of Go Training; onFocus moves it when it stands alone.
    ui->btnGoToTrain->setProperty("layoutX", ui->btnGoToTrain->x());

    QTableWidget *table = ui->tableRaceInfo;
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setHorizontalHeaderLabels({tr("Lib Code"), tr("Lib Site"), tr("Marked"), tr("Arrived")});
    table->horizontalHeader()->setVisible(true);
    // The head bar's picture lies under the header: the header itself is
    // see-through, and its texts start where the cells' texts do.
    table->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView{background:transparent;border:none;}"
                       "QHeaderView::section{background:transparent;border:none;color:white;font-weight:bold;"
                       "padding-left:3px;}"));
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setVisible(false);
    for (int column = 0; column < int(std::size(kColumnWidths)); ++column)
        table->setColumnWidth(column, kColumnWidths[column]);
}

FormHome::~FormHome() = default;

void FormHome::onActive()
{
    // A failure leaves by exception: the stack takes the screen off again
    // and the opener shows the error; nothing is connected then.
    refreshInfo();
    refreshRace();
    refreshGPS();
    refreshChannels();
    if (PigeonBo *bo = engine())
        backConnection = connect(bo, &PigeonBo::pigeonBack, this, &FormHome::onPigeonBack);
    else
        ServiceFactory::debug(QStringLiteral("FormHome: no race engine, arrivals not followed"));
}

void FormHome::onDeactive(_DeactiveMode)
{
    disconnect(backConnection);
}

void FormHome::onFocus(bool focus)
{
    ui->btnGoToTrain->setVisible(focus);
    if (focus) {
        ui->tableRaceInfo->setFocus(Qt::OtherFocusReason);
        guardedCall("FormHome::onFocus", this, [this] { refreshRace(); });
    }
    const bool nomination = HardwareControl::hasFlag(kNominationFlag);
    ui->btnNomination->setVisible(nomination);
    const int trainX = nomination ? ui->btnGoToTrain->property("layoutX").toInt() : kTrainAloneX;
    ui->btnGoToTrain->move(trainX, ui->btnGoToTrain->y());
}

void FormHome::onTimeTick(int)
{
    if (!isActive())
        return;
    refreshGPS();
    refreshChannels();
    MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess;
    const bool authed = link && link->isAuthed();
    // Training is not started while the clock is signed in at the club.
    ui->btnGoToTrain->setVisible(!authed);
}

void FormHome::onPigeonBack(PigeonRecord record)
{
    // Calls queued before the disconnect still arrive after the closing.
    if (!isActive())
        return;
    arrivals << record;
    // Posted behind the arrivals already queued, so that they share it.
    if (arrivals.size() == 1)
        QTimer::singleShot(0, this, &FormHome::applyArrivals);
}

void FormHome::applyArrivals()
{
    const QList<PigeonRecord> received = std::exchange(arrivals, {});
    if (!isActive() || received.isEmpty())
        return;
    guardedCall("FormHome::onPigeonBack", this, [this, &received] {
        refreshRace();
        // Each in turn: a return whose race is gone keeps the place before it.
        for (const PigeonRecord &record : received)
            showReturn(record);
    });
}

void FormHome::showReturn(const PigeonRecord &record)
{
    ui->txtAssocNum->setText(record.assocNum);
    ui->txtArrivalTime->setText(UTC::format(
        record.backTimeEring, QCoreApplication::translate("CommonResource", "dd/MM/yyyy hh:mm:ss")));
    if (record.markTime == 0) {
        ui->txtRaceCode->setText(QLatin1String(kNone));
        ui->txtLibSite->setText(QLatin1String(kNone));
        ui->txtRaceType->setText(tr("Training"));
        return;
    }
    ui->txtRaceType->setText(tr("Race"));
    ui->txtRaceCode->setText(record.raceCode);
    // A race deleted meanwhile leaves the previous place standing.
    if (const QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(record.raceCode))
        ui->txtLibSite->setText(race->liberName);
}

void FormHome::on_btnGoToTrain_clicked()
{
    VexPlayer::playDong();
    MainWindow *w = MainWindow::instance();
    guardedCall("FormHome::on_btnGoToTrain_clicked", this, [w] { w->pushSubForm(w->formTrain); });
}

void FormHome::on_btnNomination_clicked()
{
    VexPlayer::playDong();
    MainWindow *w = MainWindow::instance();
    guardedCall("FormHome::on_btnNomination_clicked", this, [w] { w->pushSubForm(w->formNomination); });
}

void FormHome::on_tableRaceInfo_clicked(const QModelIndex &index)
{
    if (ui->tableRaceInfo->rowCount() == 0)
        return;
    VexPlayer::playKeyPress();
    const QTableWidgetItem *cell = ui->tableRaceInfo->item(index.row(), kRaceCodeColumn);
    if (!cell)
        return;
    const QString raceCode = cell->text();
    guardedCall("FormHome::on_tableRaceInfo_clicked", this, [raceCode] {
        // A race deleted meanwhile gives a null race, which opens nothing.
        MainWindow::instance()->formHomeRaceDetail->showRaceDetail(Storage::instance()->findRaceById(raceCode),
                                                                   nullptr);
    });
}

void FormHome::refreshInfo()
{
    LoftInfo loft;
    if (PigeonBo *bo = engine())
        loft = bo->getLoftInfo();
    else
        Storage::instance()->readLoftInfo(&loft);
    ui->txtLoftNum->setText(loft.loftNum);
    ui->txtOwner->setText(loft.ownerName);
    ui->txtTotalPigeon->setText(QString::asprintf("%d", int(Storage::instance()->queryPigeons(QString()).size())));
}

void FormHome::refreshRace()
{
    QTableWidget *table = ui->tableRaceInfo;
    table->setRowCount(0);
    Storage *db = Storage::instance();
    const QList<QSharedPointer<RaceInfo>> races = db->queryRaces(QString());
    for (const QSharedPointer<RaceInfo> &race : races) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(race->raceCode));
        table->setItem(row, 1, new QTableWidgetItem(race->liberName));
        table->setItem(row, 2, new QTableWidgetItem(markedText(*race, db->getMarkedPigeonCount(race->raceCode))));
        table->setItem(row, 3,
                       new QTableWidgetItem(QStringLiteral("%1").arg(db->getBackedPigeonCount(race->raceCode))));
    }
}

void FormHome::refreshGPS()
{
    LocationInfo location;
    if (PigeonBo *bo = engine())
        bo->getGpsInfo(&location);
    if (!location.isOnline() && !location.isValid()) {
        ui->txtGpsCordination->setText(QString());
        return;
    }
    ui->txtGpsCordination->setText(LocationInfo::toString(location.getLo(), location.getLa()));
}

void FormHome::refreshChannels()
{
    PigeonBo *bo = engine();
    // A copy taken under the engine's mutex: other threads replace the list.
    const QList<LFCHANNEL_INFO> channels = bo ? bo->getChannels() : QList<LFCHANNEL_INFO>();
    int abnormal = 0;
    for (const LFCHANNEL_INFO &channel : channels) {
        if (channel.status & kChannelAbnormal)
            ++abnormal;
    }
    ui->txtCanErr->setText(tr("Abnormal") + QStringLiteral(" %1").arg(abnormal));
    ui->txtCanOk->setText(tr("Normal") + QStringLiteral(" %1").arg(channels.size() - abnormal));
}
