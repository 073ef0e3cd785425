#include "ui/marking/formmarkingselectrace.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/VexPlayer.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/busyhold.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/marking/formmarking.h"
#include "ui/racetable.h"

#include "ui_formmarkingselectrace.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QTableWidgetItem>

namespace {

// The races that can still be basketed (1) or whose list can still be
// printed (3); the blanks are part of the clause the storage receives.
const char kRaceFilter[] = " valid=1 OR valid=3 ";
constexpr int kRaceStateClosed = 4; // stopped (4) or arrivals uploaded (12) once bit 0x8 is cleared
constexpr int kRaceStateBit = 0x8;
constexpr int kColumnCode = 0;
constexpr int kColumnMarked = 3;
constexpr int kRowHeight = 46;

QString timeText(qint64 ms)
{
    return UTC::format(ms, QCoreApplication::translate("CommonResource", "dd/MM/yyyy hh:mm:ss"));
}

} // namespace

FormMarkingSelectRace::FormMarkingSelectRace(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormMarkingSelectRace>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setUpRaceTable(ui->tableRaces, {tr("Race Code"), tr("Lib Site"), tr("Lib Time"), tr("Marked")}, kRowHeight,
                   kRowHeight);
}

FormMarkingSelectRace::~FormMarkingSelectRace() = default;

void FormMarkingSelectRace::onActive()
{
    // A failure leaves by exception: the push is undone and the opener's
    // guard shows it.
    refreshRaceList();
}

void FormMarkingSelectRace::onFocus(bool focused)
{
    if (!focused)
        return;
    guardedCall("FormMarkingSelectRace::onFocus", this, [this] {
        // Back from basketing: only the clicked race's count can have changed.
        if (currentRow < 0 || currentRow >= ui->tableRaces->rowCount() || currentRow >= races.size()
            || !currentRace || races.at(currentRow)->raceCode != currentRace->raceCode)
            return;
        if (QTableWidgetItem *item = ui->tableRaces->item(currentRow, kColumnMarked))
            item->setText(QString::number(Storage::instance()->getMarkedPigeonCount(currentRace->raceCode)));
        ui->tableRaces->setFocus();
    });
}

void FormMarkingSelectRace::onFormMessage(QMessageBox::StandardButton, void *)
{
}

void FormMarkingSelectRace::refreshRaceList()
{
    getPageData();
    refreshRaceTable();
    setRacesText();
}

void FormMarkingSelectRace::getPageData()
{
    Storage *storage = Storage::instance();
    const QString filter = QLatin1String(kRaceFilter);
    totalCount = storage->getRacesCount(filter);
    if (totalCount == 0) {
        pageCount = 1;
        currentPage = 1;
    } else {
        pageCount = (totalCount + pageSize - 1) / pageSize;
        if (currentPage > pageCount)
            currentPage = pageCount;
    }
    races = storage->getPageRaces(filter, (currentPage - 1) * pageSize, pageSize);
    currentRow = -1;
}

void FormMarkingSelectRace::refreshRaceTable()
{
    ui->tableRaces->setRowCount(0);
    for (int row = 0; row < races.size(); ++row) {
        ui->tableRaces->insertRow(row);
        refreshRaceItem(row);
    }
}

void FormMarkingSelectRace::refreshRaceItem(int row)
{
    const RaceInfo &race = *races.at(row);
    const QString texts[] = {race.raceCode, race.liberName, timeText(race.liberTime),
                             QString::number(Storage::instance()->getMarkedPigeonCount(race.raceCode))};
    for (int column = kColumnCode; column <= kColumnMarked; ++column) {
        auto *item = new QTableWidgetItem(texts[column]);
        if (column == kColumnMarked)
            item->setTextAlignment(Qt::AlignCenter);
        ui->tableRaces->setItem(row, column, item);
    }
}

void FormMarkingSelectRace::setRacesText()
{
    ui->racesText->setText(QStringLiteral("%1/%2").arg((currentPage - 1) * pageSize + 1).arg(totalCount));
}

void FormMarkingSelectRace::on_btnPrePage_clicked()
{
    guardedCall("FormMarkingSelectRace::on_btnPrePage_clicked", this, [this] {
        if (currentPage < 2)
            return;
        --currentPage;
        refreshRaceList();
    });
}

void FormMarkingSelectRace::on_btnNextPage_clicked()
{
    guardedCall("FormMarkingSelectRace::on_btnNextPage_clicked", this, [this] {
        if (currentPage >= pageCount)
            return;
        ++currentPage;
        refreshRaceList();
    });
}

void FormMarkingSelectRace::on_tableRaces_clicked(const QModelIndex &index)
{
    guardedCall("FormMarkingSelectRace::on_tableRaces_clicked", this, [this, index] { openRace(index.row()); });
}

void FormMarkingSelectRace::openRace(int row)
{
    if (ui->tableRaces->rowCount() == 0 || row < 0 || row >= races.size())
        return;
    currentRow = row;
    currentRace = races.at(row);
    // The row was listed earlier: the race may have been stopped or deleted
    // since, so its state is read again.
    const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(currentRace->raceCode);
    if (!stored || (stored->valid & ~kRaceStateBit) == kRaceStateClosed) {
        showError(tr("Race is close!"));
        return;
    }
    MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess;
    if (!link || !link->isAuthed()) {
        showError(tr("Club system is not authed!"));
        return;
    }
    // Navigation waits while the club time is read (up to the link's bound).
    BusyHold hold(this);
    const qint64 clubTime = link->getTimeSync();
    if (clubTime < 1) {
        showError(QCoreApplication::translate("ExceptionResource", "Morlan unknown exception!"));
        return;
    }
    VexPlayer::playDong();
    MainWindow::instance()->formMarking->startRaceMark(currentRace->raceCode, clubTime);
}

void FormMarkingSelectRace::showError(const QString &text)
{
    FormMessage::information(this, tr("Error"), text, QMessageBox::Ok, nullptr);
}
