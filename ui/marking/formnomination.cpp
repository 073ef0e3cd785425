#include "ui/marking/formnomination.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/VexPlayer.h"
#include "storage/nomination.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"

#include "ui_formnomination.h"

#include <QHeaderView>
#include <QTableWidgetItem>

#include <algorithm>

namespace {
constexpr int kColumnNo = 0;
constexpr int kColumnAssocNum = 1;
constexpr int kColumnRace = 2;
constexpr int kColumnNom = 3;
constexpr int kStateNew = 1;
const char kNominated[] = "\u221a";
} // namespace

bool compareNom(const QSharedPointer<Nomination> &a, const QSharedPointer<Nomination> &b)
{
    if (a->nom != 0 && b->nom == 0)
        return true;
    if (a->nom != 0 && b->nom != 0)
        return a->nom < b->nom;
    if (a->nom == 0 && b->nom != 0)
        return false;
    return a->assocNum < b->assocNum;
}

FormNomination::FormNomination(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormNomination>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    QTableWidget *table = ui->tablePigeons;
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels({tr("No."), tr("AssocNum"), tr("Race"), tr("Nom")});
    table->setColumnWidth(kColumnNo, 50);
    table->setColumnWidth(kColumnAssocNum, 200);
    table->setColumnWidth(kColumnRace, 95);
    table->setColumnWidth(kColumnNom, 25);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setStyleSheet(QStringLiteral(
        "QHeaderView::section{background:transparent;border:none;color:white;font-weight:bold;}"));
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    refreshButton();
}

FormNomination::~FormNomination() = default;

void FormNomination::onActive()
{
    loadNoms("FormNomination::onActive");
    refreshForm();
    refreshButton();
}

void FormNomination::loadNoms(const char *where)
{
    if (!guardedCall(where, this, [this] { noms = Storage::instance()->queryNoms(); })) {
        noms.clear();
        // The table must not keep rows of a list that is no longer held.
        ui->tablePigeons->setRowCount(0);
    }
}

void FormNomination::refreshForm()
{
    try {
        refreshCmbRace();
    } catch (const VexException &) {
        // The combo keeps the races added before the failure.
        ServiceFactory::debug(QStringLiteral("FormNomination::refreshForm VexException!"));
    }
}

void FormNomination::refreshCmbRace()
{
    // Clearing a filled combo shows every entry; the first race added then
    // becomes current and shows its own list.
    ui->cmbRace->clear();
    for (const auto &race : Storage::instance()->queryRaces(QString())) {
        if (race->getField(QStringLiteral("nomination")).toInt() == 1 && race->valid == kStateNew)
            ui->cmbRace->addItem(race->raceCode, race->raceCode);
    }
}

QString FormNomination::currentRace() const
{
    return ui->cmbRace->currentText();
}

QString FormNomination::cellText(int row, int column) const
{
    const QTableWidgetItem *item = ui->tablePigeons->item(row, column);
    return item ? item->text() : QString();
}

void FormNomination::on_cmbRace_currentTextChanged(const QString &)
{
    refreshPigeonList(0);
}

void FormNomination::refreshPigeonList(int selectRow)
{
    const QString race = currentRace();
    QTableWidget *table = ui->tablePigeons;
    table->setRowCount(0);
    QList<QSharedPointer<Nomination>> shown;
    for (const auto &entry : noms) {
        if (race.isEmpty() || entry->raceCode.isEmpty() || entry->raceCode == race)
            shown.append(entry);
    }
    std::stable_sort(shown.begin(), shown.end(), compareNom);
    table->setRowCount(shown.size());
    for (int row = 0; row < shown.size(); ++row) {
        const Nomination &entry = *shown.at(row);
        const bool nominated = !entry.raceCode.isEmpty();
        const QStringList cells = {QStringLiteral("%1").arg(row + 1), entry.assocNum, entry.raceCode,
                                   nominated ? QString::fromUtf8(kNominated) : QString()};
        for (int column = 0; column < cells.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    if (selectRow >= 0 && selectRow < table->rowCount())
        table->selectRow(selectRow);
    refreshButton();
}

void FormNomination::on_tablePigeons_currentCellChanged(int, int, int, int)
{
    refreshButton();
}

void FormNomination::refreshButton()
{
    const int row = ui->tablePigeons->currentRow();
    // With no race offered every button would store entries under an empty
    // race code: the table only shows what is there.
    const bool usable = ui->cmbRace->count() > 0 && row >= 0 && row < ui->tablePigeons->rowCount();
    const bool nominated = usable && !cellText(row, kColumnRace).isEmpty();
    ui->btnNom->setEnabled(usable && !nominated);
    ui->btnDeleteNom->setEnabled(nominated);
    ui->btnUp->setEnabled(nominated);
    ui->btnDown->setEnabled(nominated);
}

int FormNomination::maxNom(const QString &raceCode) const
{
    int highest = 0;
    for (const auto &entry : noms) {
        if (entry->raceCode == raceCode)
            highest = std::max(highest, entry->nom);
    }
    return highest + 1;
}

int FormNomination::findNom(const QString &assocNum, const QString &raceCode) const
{
    for (int i = 0; i < noms.size(); ++i) {
        if (noms.at(i)->assocNum == assocNum && noms.at(i)->raceCode == raceCode)
            return i;
    }
    return -1;
}

int FormNomination::findUnNom(const QString &assocNum) const
{
    for (int i = 0; i < noms.size(); ++i) {
        if (noms.at(i)->assocNum == assocNum && noms.at(i)->raceCode.isEmpty())
            return i;
    }
    return -1;
}

void FormNomination::exchangeNom(const QString &assocNum1, const QString &assocNum2, const QString &raceCode)
{
    const int i1 = findNom(assocNum1, raceCode);
    const int i2 = findNom(assocNum2, raceCode);
    if (i1 < 0 || i2 < 0)
        return;
    std::swap(noms[i1]->nom, noms[i2]->nom);
}

void FormNomination::nomPigeon(int index, const QString &raceCode)
{
    Nomination &entry = *noms[index];
    entry.raceCode = raceCode;
    entry.nom = maxNom(raceCode);
}

void FormNomination::unnomPigeon(int index, const QString &raceCode)
{
    Nomination &entry = *noms[index];
    if (entry.raceCode == raceCode) {
        entry.raceCode.clear();
        entry.nom = 0;
    }
}

void FormNomination::updateNomsToDB(const QString &raceCode)
{
    if (raceCode.isEmpty())
        return; // never store free entries as nominations of no race
    QList<QSharedPointer<Nomination>> order;
    for (const auto &entry : noms) {
        if (entry->raceCode == raceCode)
            order.append(entry);
    }
    std::stable_sort(order.begin(), order.end(), compareNom);
    for (int i = 0; i < order.size(); ++i)
        order[i]->nom = i + 1;
    Storage::instance()->saveRaceNoms(raceCode, order);
}

void FormNomination::saveAndShow(const char *where, const QString &raceCode, int selectRow)
{
    if (guardedCall(where, this, [&] { updateNomsToDB(raceCode); })) {
        refreshPigeonList(selectRow);
        return;
    }
    loadNoms(where);
    refreshPigeonList(selectRow);
}

void FormNomination::warnNoSelection()
{
    VexPlayer::playError();
    FormMessage::information(this, tr("Warining"), tr("Please select pingeon!"), QMessageBox::Ok, nullptr);
}

void FormNomination::on_btnNom_clicked()
{
    const int row = ui->tablePigeons->currentRow();
    if (row < 0) {
        warnNoSelection();
        return;
    }
    VexPlayer::playDong();
    const QString race = currentRace();
    if (!cellText(row, kColumnRace).isEmpty() || race.isEmpty())
        return;
    const int index = findUnNom(cellText(row, kColumnAssocNum));
    if (index < 0)
        return;
    nomPigeon(index, race);
    saveAndShow("FormNomination::on_btnNom_clicked", race, row + 1);
}

void FormNomination::on_btnDeleteNom_clicked()
{
    const int row = ui->tablePigeons->currentRow();
    if (row < 0) {
        warnNoSelection();
        return;
    }
    VexPlayer::playDong();
    const QString race = currentRace();
    const int index = findNom(cellText(row, kColumnAssocNum), race);
    if (index < 0 || race.isEmpty())
        return;
    unnomPigeon(index, race);
    saveAndShow("FormNomination::on_btnDeleteNom_clicked", race, row);
}

void FormNomination::on_btnUp_clicked()
{
    const int row = ui->tablePigeons->currentRow();
    if (row <= 0) {
        VexPlayer::playError();
        return;
    }
    swapWith(row, row - 1, "FormNomination::on_btnUp_clicked");
}

void FormNomination::on_btnDown_clicked()
{
    const int row = ui->tablePigeons->currentRow();
    if (row < 0 || row + 1 >= ui->tablePigeons->rowCount()) {
        VexPlayer::playError();
        return;
    }
    swapWith(row, row + 1, "FormNomination::on_btnDown_clicked");
}

void FormNomination::swapWith(int row, int neighbour, const char *where)
{
    // Only between two nominated rows; beside a free row nothing happens.
    const QString race = currentRace();
    if (cellText(row, kColumnRace).isEmpty() || cellText(neighbour, kColumnRace).isEmpty() || race.isEmpty())
        return;
    exchangeNom(cellText(row, kColumnAssocNum), cellText(neighbour, kColumnAssocNum), race);
    saveAndShow(where, race, neighbour);
}
