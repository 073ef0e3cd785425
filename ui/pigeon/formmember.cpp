#include "ui/pigeon/formmember.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "device/pcport.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/pigeoninfo.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "ui/busyhold.h"
#include "ui/formkeyboard.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/pigeon/pcexport.h"
#include "ui/screenkit.h"

#include "ui_formmember.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidgetItem>

namespace {
constexpr int kFirstRefreshMs = 60000;
constexpr int kRefreshPeriodMs = 30000;
constexpr int kAskReupload = 1;
constexpr unsigned int kFlagOutput = 0x2;
// Race states: 3 basketing closed; 4 stopped and 12 (4 with the upload bit
// 0x8) both count as stopped.
constexpr int kStateMarkClosed = 3;
constexpr int kStateStopped = 4;
constexpr int kStateUploadBit = 0x8;
const char kHeaderStyle[] = "QHeaderView::section{background:transparent;border:none;color:white;font-weight:bold;}";
const char *const kDatePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy");

QString uploadWord(const PigeonRecord &record)
{
    return record.eringUploadState ? QStringLiteral("UpLd") : QStringLiteral("Back");
}
} // namespace

FormMember::FormMember(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormMember>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    // Loft texts and pigeon data come from the PC: never read as markup.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);

    keyboard = new FormKeyBoard(this);
    keyboard->hide();
    connect(keyboard, &FormKeyBoard::keyPress, this, &FormMember::onKeyPress);

    QTableWidget *table = ui->tablePigeons;
    table->clear();
    table->setRowCount(0);
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels({tr("No."), tr("AssocNum"), tr("E-ring"), tr("Status")});
    table->horizontalHeader()->setStyleSheet(QLatin1String(kHeaderStyle));
    table->setColumnWidth(0, 50);
    table->setColumnWidth(1, 220);
    table->setColumnWidth(2, 100);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);

    ui->txtEring->installEventFilter(this);
    table->installEventFilter(this);
}

FormMember::~FormMember() = default;

LoftInfo FormMember::loftInfo()
{
    PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
    if (engine)
        return engine->getLoftInfo();
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    return loft;
}

void FormMember::onActive()
{
    // A failure here goes on to the stack, which drops the screen and shows it.
    refreshCountdownMs = kFirstRefreshMs;
    pendingAction = 0;
    ui->txtEring->clear();
    refreshUserInfo();
    refreshPigeonList();
    ui->btnOutput->setVisible(HardwareControl::hasFlag(kFlagOutput));
    PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
    if (engine && !backConnection)
        backConnection = connect(engine, &PigeonBo::pigeonBack, this, &FormMember::onPigeonBack, Qt::QueuedConnection);
}

void FormMember::onFocus(bool focus)
{
    if (focus)
        ui->tablePigeons->setFocus();
}

void FormMember::onDeactive(_DeactiveMode)
{
    disconnect(backConnection);
    backConnection = {};
    keyboard->hide();
}

void FormMember::onTimeTick(int ms)
{
    if (refreshCountdownMs >= ms) {
        refreshCountdownMs -= ms;
        return;
    }
    refreshCountdownMs = kRefreshPeriodMs;
    quietly("FormMember::onTimeTick", [this] { refreshAllItems(); });
}

bool FormMember::hasSubWidget()
{
    return keyboard->isVisible();
}

void FormMember::deactiveSub()
{
    keyboard->hide();
}

bool FormMember::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == ui->txtEring) {
            keyboard->move(0, height() - keyboard->height());
            keyboard->show();
            keyboard->raise();
        } else if (watched == ui->tablePigeons) {
            keyboard->hide();
        }
    }
    return SubWindow::eventFilter(watched, event);
}

void FormMember::onKeyPress(int keyVal)
{
    if (keyVal == Qt::Key_Backspace)
        ui->txtEring->backspace();
    else
        ui->txtEring->insert(QString(QChar(keyVal)));
}

void FormMember::on_btnSearch_clicked()
{
    VexPlayer::playKeyPress();
    keyboard->hide();
    guardedCall("FormMember::on_btnSearch_clicked", this, [this] { refreshPigeonList(); });
}

void FormMember::on_btnUpload_clicked()
{
    pendingAction = kAskReupload;
    FormMessage::information(this, tr("Warning"), tr(" Please confirm you want to Re-upload!"),
                             QMessageBox::Ok | QMessageBox::Cancel, this);
}

void FormMember::onFormMessage(QMessageBox::StandardButton button, void *)
{
    const int action = pendingAction;
    pendingAction = 0;
    if (button != QMessageBox::Ok || action != kAskReupload)
        return;
    guardedCall("FormMember::onFormMessage", this, [this] {
        Storage::instance()->modifyRecords(QStringLiteral("eringUploadState=0,UidUploadState=0"), QString());
        refreshPigeonList();
    });
}

void FormMember::on_tablePigeons_currentCellChanged(int currentRow, int, int, int)
{
    if (currentRow < 0)
        return;
    guardedCall("FormMember::on_tablePigeons_currentCellChanged", this, [this, currentRow] { showDetails(currentRow); });
}

void FormMember::onPigeonBack(PigeonRecord record)
{
    for (int row = 0; row < pigeons.size(); ++row) {
        if (pigeons.at(row) && pigeons.at(row)->assocNum == record.assocNum) {
            quietly("FormMember::onPigeonBack", [this, row] { refreshPigeonItem(row); });
            return;
        }
    }
}

void FormMember::quietly(const char *where, const std::function<void()> &action)
{
    // Not the "Error" box: the engine may hold the database for a while, and
    // a box every 30 s would bury the screen. The next turn tries again.
    try {
        action();
    } catch (const VexException &) {
        ServiceFactory::debug(QLatin1String(where) + QStringLiteral(" VexException!"));
    } catch (...) {
        ServiceFactory::debug(QLatin1String(where) + QStringLiteral(" UnknowException!"));
    }
}

void FormMember::refreshUserInfo()
{
    const LoftInfo loft = loftInfo();
    ui->labelOwnerName->setText(loft.ownerName);
    ui->labelCity->setText(loft.city);
    ui->labelPhone->setText(loft.phoneNo);
    ui->labelLoftAssoc->setText(loft.assocCode);
    ui->labClubCode->setText(loft.clubCode);
    ui->labelLoftNumber->setText(loft.loftNum);
    ui->labelLoftCordination->setText(loft.loftLat + QLatin1Char(' ') + loft.loftLon);
}

void FormMember::refreshPigeonList()
{
    const QString search = ui->txtEring->text().trimmed();
    QString where = QStringLiteral("(eringNum<>'') ");
    if (!search.isEmpty())
        where += QStringLiteral(" AND (AssocNum like ") + Storage::quoted(QLatin1Char('%') + search + QLatin1Char('%'))
                 + QLatin1Char(')');
    // Read before anything is cleared: a failed read leaves the table as it was.
    const auto found = Storage::instance()->queryPigeons(where);
    const QStringList statuses = statusesOf(found);
    pigeons = found;
    ui->tablePigeons->setRowCount(0);
    ui->labelWarning->setVisible(pigeons.isEmpty());
    if (pigeons.isEmpty())
        return;
    ui->tablePigeons->setRowCount(pigeons.size());
    for (int row = 0; row < pigeons.size(); ++row) {
        if (pigeons.at(row))
            showRow(row, statuses.at(row));
    }
    ui->tablePigeons->selectRow(0);
}

void FormMember::refreshPigeonItem(int row)
{
    if (row < 0 || row >= pigeons.size() || !pigeons.at(row))
        return;
    // The status is worked out first, so a failing read changes no cell.
    const auto record = Storage::instance()->findRecordById(pigeons.at(row)->assocNum);
    const QString status = record ? statusOf(*pigeons.at(row), *record, [](const QString &code) {
        return Storage::instance()->findRaceById(code);
    }) : QString();
    showRow(row, status);
}

void FormMember::refreshAllItems()
{
    const QStringList statuses = statusesOf(pigeons);
    for (int row = 0; row < pigeons.size(); ++row) {
        if (pigeons.at(row))
            showRow(row, statuses.at(row));
    }
}

QStringList FormMember::statusesOf(const QList<QSharedPointer<PigeonInfo>> &list)
{
    // Two reads for the whole list instead of two per row: on a loft of
    // thousands of pigeons the GUI thread would otherwise stall for seconds.
    QHash<QString, QSharedPointer<PigeonRecord>> records;
    for (const auto &record : Storage::instance()->queryRecords(QString(), QString()))
        records.insert(record->assocNum, record);
    QHash<QString, QSharedPointer<RaceInfo>> races;
    for (const auto &race : Storage::instance()->queryRaces(QString()))
        races.insert(race->raceCode, race);
    const auto raceOf = [&races](const QString &code) { return races.value(code); };
    QStringList out;
    for (const auto &pigeon : list) {
        const auto record = pigeon ? records.value(pigeon->assocNum) : QSharedPointer<PigeonRecord>();
        out << (record ? statusOf(*pigeon, *record, raceOf) : QString());
    }
    return out;
}

void FormMember::showRow(int row, const QString &status)
{
    const PigeonInfo &pigeon = *pigeons.at(row);
    const QStringList cells = {QString::number(row + 1), pigeon.assocNum, pigeon.eringNum, status};
    for (int column = 0; column < cells.size(); ++column) {
        QTableWidgetItem *item = ui->tablePigeons->item(row, column);
        if (!item) {
            item = new QTableWidgetItem();
            ui->tablePigeons->setItem(row, column, item);
        }
        item->setText(cells.at(column));
    }
}

QString FormMember::statusOf(const PigeonInfo &pigeon, const PigeonRecord &record, const RaceLookup &raceOf)
{
    QString text = record.smsSendState ? QStringLiteral("*") : QString();
    if (record.markTime == 0) {
        if (pigeon.eringNum.isEmpty())
            return text;
        if (record.backTimeEring == 0)
            return QStringLiteral("Train");
        return text + uploadWord(record);
    }
    if (record.backTimeEring != 0)
        return text + uploadWord(record);
    const auto race = raceOf(record.raceCode);
    if (!race)
        return QString();
    if ((race->valid & ~kStateUploadBit) == kStateStopped)
        return text + QStringLiteral("Stop");
    if (race->valid == kStateMarkClosed)
        return QStringLiteral("Race");
    return QStringLiteral("Mark");
}

void FormMember::showDetails(int row)
{
    if (row >= pigeons.size() || !pigeons.at(row))
        return;
    const PigeonInfo &pigeon = *pigeons.at(row);
    const auto record = Storage::instance()->findRecordById(pigeon.assocNum);
    QSharedPointer<RaceInfo> race;
    if (record && record->markTime != 0)
        race = Storage::instance()->findRaceById(record->raceCode);
    ui->labColor->setText(pigeon.color);
    ui->labSex->setText(ScreenKit::sexText(pigeon.sex));
    ui->labYear->setText(QString::number(pigeon.year));
    const QString none = QStringLiteral("--");
    ui->labRaceCode->setText(race ? race->liberCode : none);
    ui->labLiberTime->setText(
        race ? UTC::format(race->liberTime, QCoreApplication::translate("CommonResource", kDatePattern)) : none);
    ui->labRaceSite->setText(race ? race->liberName : none);
}

bool FormMember::initPcCommPort()
{
    return PcPort::open();
}

void FormMember::on_btnOutput_clicked()
{
    // The GUI waits on the line for each line's wire time: navigation is held.
    BusyHold busy(this);
    if (!initPcCommPort())
        return;
    guardedCall("FormMember::on_btnOutput_clicked", this, [this] { runExport(); });
    PcPort::close();
}

void FormMember::runExport()
{
    // The port closes before a failure's box shows, on every path.
    struct Closer {
        ~Closer() { PcPort::close(); }
    } closer;
    const bool sent = PcExport::run(loftInfo(), Storage::instance(),
                                    [](const QByteArray &line) { return PcPort::write(line); });
    if (!sent)
        ServiceFactory::debug(QStringLiteral("FormMember::on_btnOutput_clicked write failed"));
}
