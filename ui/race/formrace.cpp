#include "ui/race/formrace.h"

#include "core/utc.h"
#include "device/VexPlayer.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/nofocusdelegate.h"
#include "ui/racetable.h"
#include "ui/race/formaddrace.h"
#include "ui/race/formracedetail.h"

#include "ui_formrace.h"

#include <QCoreApplication>
#include <QTableWidgetItem>

namespace {

// Whose answer onFormMessage is waiting for.
enum ActionMode { NoAction = 0, AddAction = 1, DetailAction = 2 };

constexpr int kColumnCount = 4;
constexpr int kRowHeight = 52;
// The header lies on the blue strip above the table.
constexpr int kHeaderHeight = 23;
const char kTimeContext[] = "CommonResource";
const char *const kTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");

} // namespace

FormRace::FormRace(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormRace>())
{
    ui->setupUi(this);
    setUpRaceTable(ui->tableRaces, {tr("Race Code"), tr("Lib Site"), tr("Lib Time"), tr("Total")}, kRowHeight,
                   kHeaderHeight);
    ui->tableRaces->setItemDelegate(new NoFocusDelegate(ui->tableRaces));
}

FormRace::~FormRace() = default;

void FormRace::doRaceActions()
{
    showAddButton = true;
    MainWindow::instance()->pushSubForm(this);
}

void FormRace::showRaceList()
{
    showAddButton = false;
    MainWindow::instance()->pushSubForm(this);
}

void FormRace::onTimeTick(int)
{
}

void FormRace::onFocus(bool focused)
{
    if (focused)
        ui->tableRaces->setFocus(Qt::OtherFocusReason);
}

void FormRace::onActive()
{
    ui->btnAdd->setVisible(showAddButton);
    // A failure leaves by exception: the push is undone and the opener's
    // guard shows it.
    refreshRaceList();
}

void FormRace::refreshRaceList()
{
    // Everything is read before anything shown changes: a failed read leaves
    // the rows, the page and the label as they were.
    const int keptPage = curPage;
    const int keptPageCount = pageCount;
    const int keptCount = raceCount;
    const QList<QSharedPointer<RaceInfo>> keptRaces = pageRaces;
    try {
        getPageData();
        refreshRaceTable(0);
    } catch (...) {
        curPage = keptPage;
        pageCount = keptPageCount;
        raceCount = keptCount;
        pageRaces = keptRaces;
        throw;
    }
    setRacesText();
}

void FormRace::getPageData()
{
    Storage *storage = Storage::instance();
    raceCount = storage->getRacesCount(QString());
    if (raceCount == 0) {
        curPage = 1;
        pageCount = 1;
    } else {
        pageCount = (raceCount + pageSize - 1) / pageSize;
        if (curPage > pageCount)
            curPage = pageCount;
    }
    pageRaces = storage->getPageRaces(QString(), (curPage - 1) * pageSize, pageSize);
}

void FormRace::refreshRaceTable(int selectRow)
{
    // The counts of every row first, so that a failed read leaves the table.
    QList<QStringList> rows;
    for (const QSharedPointer<RaceInfo> &race : std::as_const(pageRaces))
        rows << rowTexts(*race);
    QTableWidget *table = ui->tableRaces;
    table->setRowCount(0);
    for (int row = 0; row < rows.size(); ++row) {
        table->insertRow(row);
        fillRow(row, rows.at(row));
    }
    if (selectRow >= 0 && selectRow < table->rowCount())
        table->selectRow(selectRow);
}

void FormRace::refreshRaceItem(int row)
{
    fillRow(row, rowTexts(*pageRaces.at(row)));
}

QStringList FormRace::rowTexts(const RaceInfo &race) const
{
    Storage *storage = Storage::instance();
    const int marked = storage->getMarkedPigeonCount(race.raceCode);
    const int backed = storage->getBackedPigeonCount(race.raceCode);
    return {race.raceCode, race.liberName,
            UTC::format(race.liberTime, QCoreApplication::translate(kTimeContext, kTimePattern)),
            QStringLiteral("%1/%2").arg(marked).arg(backed)};
}

void FormRace::fillRow(int row, const QStringList &texts)
{
    for (int column = 0; column < kColumnCount; ++column)
        ui->tableRaces->setItem(row, column, new QTableWidgetItem(texts.at(column)));
}

void FormRace::setRacesText()
{
    ui->racesText->setText(QStringLiteral("%1/%2").arg((curPage - 1) * pageSize + 1).arg(raceCount));
}

void FormRace::on_btnPrePage_clicked()
{
    guardedCall("FormRace::on_btnPrePage_clicked", this, [this] {
        if (curPage >= 2)
            turnPage(-1);
    });
}

void FormRace::on_btnNextPage_clicked()
{
    guardedCall("FormRace::on_btnNextPage_clicked", this, [this] {
        if (curPage < pageCount)
            turnPage(1);
    });
}

void FormRace::turnPage(int step)
{
    // A page that could not be read is not the page shown.
    const int shownPage = curPage;
    curPage += step;
    try {
        refreshRaceList();
    } catch (...) {
        curPage = shownPage;
        throw;
    }
}

void FormRace::on_btnAdd_clicked()
{
    guardedCall("FormRace::on_btnAdd_clicked", this, [this] {
        VexPlayer::playDong();
        actionMode = AddAction;
        MainWindow::instance()->formAddRace->showForm(this);
    });
}

void FormRace::on_tableRaces_clicked(const QModelIndex &index)
{
    guardedCall("FormRace::on_tableRaces_clicked", this, [this, index] {
        const int row = index.row();
        if (ui->tableRaces->rowCount() == 0 || row < 0 || row >= pageRaces.size())
            return;
        actionMode = DetailAction;
        MainWindow::instance()->formRaceDetail->doRaceActions(pageRaces.at(row), this);
    });
}

void FormRace::onFormMessage(QMessageBox::StandardButton button, void *context)
{
    if (button != QMessageBox::Ok)
        return;
    guardedCall("FormRace::onFormMessage", this, [this, context] {
        if (actionMode == AddAction)
            raceAdded(context);
        else if (actionMode == DetailAction)
            raceDetailAnswered(context);
    });
}

void FormRace::raceAdded(void *context)
{
    // The new race screen's pointer lives only during its call.
    const auto *answered = static_cast<const QSharedPointer<RaceInfo> *>(context);
    if (!answered || !*answered)
        return;
    const QSharedPointer<RaceInfo> race = *answered;
    // Appended to the page as it stands; the next refresh puts it in its
    // place by liberation time.
    pageRaces.append(race);
    try {
        refreshRaceTable(pageRaces.size() - 1);
    } catch (...) {
        pageRaces.removeLast();
        throw;
    }
    ++raceCount;
    ui->tableRaces->scrollToBottom();
    setRacesText();
}

void FormRace::raceDetailAnswered(void *context)
{
    const int row = ui->tableRaces->currentRow();
    const bool onPage = row >= 0 && row < pageRaces.size();
    if (context) {
        // The race changed in the detail, which shares the record with
        // this page: only its counts are read again.
        if (onPage)
            refreshRaceItem(row);
        return;
    }
    // Deleted: the page and the page count stay until the next refresh.
    const QList<QSharedPointer<RaceInfo>> keptRaces = pageRaces;
    if (onPage)
        pageRaces.removeAt(row);
    try {
        refreshRaceTable(row);
    } catch (...) {
        pageRaces = keptRaces;
        throw;
    }
    --raceCount;
    setRacesText();
}
