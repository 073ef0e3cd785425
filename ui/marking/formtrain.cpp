#include "ui/marking/formtrain.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/VexPlayer.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/guardedcall.h"
#include "ui/mainwindow.h"
#include "ui/marking/formtrainstart.h"

#include "ui_formtrain.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>

namespace {
constexpr int kDistanceUnitScale = 2000; // whole units x 2000 + remainder
constexpr int kMetresPerKm = 1000;
constexpr int kYardsPerMile = 1760;
constexpr int kDefaultDistance = 200000; // 100 km or 100 miles
constexpr int kColumnWidths[] = {50, 245, 160, 180};
const char *const kLiberPattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");
const char *const kBackPattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM hh:mm:ss");
const char kArrivedFilter[] = "markTime=0 AND backTimeEring<>0 AND eringNum<>''";
const char kNotArrivedFilter[] = "markTime=0 AND backTimeEring=0 AND eringNum<>''";
const char kHeaderStyle[] = "QHeaderView::section{background:rgb(20,80, 178);color:white;font-weight:bold;}";
const char kTabSelected[] =
    "border:none;color:white; border-image: url(:/image/button/image/Total-Of-Marking.png) no-repeat;";
const char kTabUnselected[] =
    "border:none;color:grey;border-image:url(:/image/button/image/Total-Of-Arrived.png) no-repeat;";
const char kNoValue[] = "--";

// The speed of one arrival in metres (or yards) per minute. The seconds are
// whole and 32-bit and the division is single precision, so that the figures
// are the ones fanciers compare between clocks.
QString speedText(qint64 backTime, qint64 liberTime, int distance, bool metric)
{
    const qint32 elapsed = static_cast<qint32>((backTime - liberTime) / 1000);
    if (elapsed < 1)
        return QLatin1String(kNoValue);
    const qint64 whole = distance / kDistanceUnitScale;
    const qint64 remainder = distance - whole * kDistanceUnitScale;
    const qint64 length = whole * (metric ? kMetresPerKm : kYardsPerMile) + remainder;
    const float value = float(length) / float(elapsed) * 60.0f;
    return QString::asprintf(metric ? "%.2f m/m" : "%.2f Y/M", double(value));
}

QString commonText(const char *text)
{
    return QCoreApplication::translate("CommonResource", text);
}
} // namespace

FormTrain::FormTrain(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormTrain>())
{
    ui->setupUi(this);
    setUpTable();
}

FormTrain::~FormTrain() = default;

void FormTrain::setUpTable()
{
    QTableWidget *table = ui->tablePigeonList;
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels({tr("No."), tr("AssocNum"), tr("Back Time"), tr("Speed")});
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setVisible(true);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->horizontalHeader()->setStyleSheet(QLatin1String(kHeaderStyle));
    for (int column = 0; column < 4; ++column)
        table->setColumnWidth(column, kColumnWidths[column]);
}

void FormTrain::onActive()
{
    guardedCall("FormTrain::onActive", this, [this] { reloadShownList(); });
    PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
    if (!engine) {
        ServiceFactory::debug(QStringLiteral("FormTrain: no race engine, arrivals are not followed"));
        return;
    }
    // Queued: the engine emits in its own thread, after the arrival's commit.
    backConnection = connect(engine, &PigeonBo::pigeonBack, this, &FormTrain::onPigeonBack);
}

void FormTrain::onDeactive(_DeactiveMode)
{
    disconnect(backConnection);
    backConnection = {};
}

void FormTrain::onPigeonBack(PigeonRecord)
{
    if (!isActive() || reloadQueued)
        return;
    // A burst of arrivals costs one reload: the first schedules it for the
    // next pass of the event loop, the others find it pending.
    reloadQueued = true;
    QTimer::singleShot(0, this, &FormTrain::reloadIfStillActive);
}

void FormTrain::reloadIfStillActive()
{
    reloadQueued = false;
    if (isActive())
        guardedCall("FormTrain::onPigeonBack", this, [this] { reloadShownList(); });
}

void FormTrain::reloadShownList()
{
    if (showArrived)
        refreshArrivedList();
    else
        refreshNotArrivedList();
}

void FormTrain::showTabs(bool arrivedSelected)
{
    ui->btnArrived->setStyleSheet(QLatin1String(arrivedSelected ? kTabSelected : kTabUnselected));
    ui->btnNotArrived->setStyleSheet(QLatin1String(arrivedSelected ? kTabUnselected : kTabSelected));
}

void FormTrain::showLiberTime(qint64 liberTime)
{
    ui->labLiberTime->setText(UTC::format(liberTime, commonText(kLiberPattern)));
}

void FormTrain::refreshArrivedList()
{
    const qint64 liberTime = ServiceFactory::getParamInt64(QStringLiteral("train_libertime"), 0);
    showLiberTime(liberTime);
    showTabs(true);
    const auto records =
        Storage::instance()->queryRecords(QLatin1String(kArrivedFilter), QStringLiteral("backTimeEring"));
    ui->labelTotalPigeon->setText(QStringLiteral("%1").arg(records.size()));
    const int distance = ServiceFactory::getParamInt32(QStringLiteral("train_distance"), kDefaultDistance);
    // Read once for the whole list: a reload is one list, in one unit.
    const bool metric = ServiceFactory::getParamInt32(QStringLiteral("standard"), 0) == 0;
    const QString backPattern = commonText(kBackPattern);

    QTableWidget *table = ui->tablePigeonList;
    table->setRowCount(0);
    table->setRowCount(records.size());
    for (int i = 0; i < records.size(); ++i) {
        const PigeonRecord &r = *records.at(i);
        table->setItem(i, 0, new QTableWidgetItem(QStringLiteral("%1").arg(i + 1)));
        table->setItem(i, 1, new QTableWidgetItem(r.assocNum));
        table->setItem(i, 2, new QTableWidgetItem(UTC::format(r.backTimeEring, backPattern)));
        table->setItem(i, 3, new QTableWidgetItem(speedText(r.backTimeEring, liberTime, distance, metric)));
    }
}

void FormTrain::refreshNotArrivedList()
{
    showLiberTime(ServiceFactory::getParamInt64(QStringLiteral("train_libertime"), 0));
    showTabs(false);
    const auto records =
        Storage::instance()->queryRecords(QLatin1String(kNotArrivedFilter), QStringLiteral("AssocNum"));
    ui->labelTotalPigeon->setText(QStringLiteral("%1").arg(records.size()));

    QTableWidget *table = ui->tablePigeonList;
    table->setRowCount(0);
    table->setRowCount(records.size());
    for (int i = 0; i < records.size(); ++i) {
        table->setItem(i, 0, new QTableWidgetItem(QStringLiteral("%1").arg(i + 1)));
        table->setItem(i, 1, new QTableWidgetItem(records.at(i)->assocNum));
        table->setItem(i, 2, new QTableWidgetItem(QLatin1String(kNoValue)));
        table->setItem(i, 3, new QTableWidgetItem(QLatin1String(kNoValue)));
    }
}

void FormTrain::on_btnArrived_clicked()
{
    guardedCall("FormTrain::on_btnArrived_clicked", this, [this] { switchList(true); });
}

void FormTrain::on_btnNotArrived_clicked()
{
    guardedCall("FormTrain::on_btnNotArrived_clicked", this, [this] { switchList(false); });
}

void FormTrain::switchList(bool arrived)
{
    // The tab of the list already shown does nothing, not even a click.
    if (showArrived == arrived)
        return;
    VexPlayer::playKeyPress();
    showArrived = arrived;
    reloadShownList();
}

void FormTrain::on_btnReset_clicked()
{
    guardedCall("FormTrain::on_btnReset_clicked", this, [this] {
        VexPlayer::playDong();
        pendingAction = 1;
        MainWindow::instance()->formTrainStart->showForm(this);
    });
}

void FormTrain::onFormMessage(QMessageBox::StandardButton button, void *)
{
    if (button != QMessageBox::Ok)
        return;
    const int action = pendingAction;
    if (action == 1) {
        showArrived = true;
        // One transaction: a failure leaves every record as it was, and
        // pendingAction stays set for the caller's report.
        Storage::instance()->resetTrainRecords();
        refreshArrivedList();
    }
    pendingAction = 0;
}
