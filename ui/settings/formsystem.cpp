#include "ui/settings/formsystem.h"

#include "core/log.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "core/version.h"
#include "device/VexPlayer.h"
#include "device/hardware_control.h"
#include "device/pcport.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/guardedcall.h"
#include "ui/settings/loftaccess.h"
#include "ui/waitcursor.h"

#include "ui_formsystem.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QTableWidgetItem>

namespace {

// Set on clocks that print the barcode label on the PC port.
constexpr unsigned int kLabelFlag = 0x0002;
// Set on clocks whose fancier may choose the time zone.
constexpr unsigned int kZoneFlag = 0x0020;
constexpr quint8 kChannelErrorBit = 0x80;
constexpr int kLogRows = 20;
const char *const kTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");

struct Locale
{
    const char *code;
    const char *name;
};

// Language codes and their own names, shown untranslated.
const Locale s_localeList[] = {
    {"EN", "English"},
    {"CZ", u8"český"},
    {"DE", "Deutsch"},
    {"ES", u8"español"},
    {"FR", u8"français"},
    {"NL", "Nederlands"},
    {"PL", "polski"},
    {"PT", u8"português"},
    {"RO", u8"România"},
    // Its first four letters are Latin, as the clock has always shown it.
    {"RU", u8"pycc\u043a\u0438\u0439"},
    {"SK", "Slovensko"},
    {"IT", "italiano"},
    {"UA", u8"Україна"},
    {"HU", "magyar"},
    {"JP", u8"日本の"},
    {"TH", u8"ไทย"},
    {"TW", u8"繁体"},
    {"CN", u8"简体"},
    {"AZ", u8"أرابيا"},
    {nullptr, nullptr},
};

struct Zone
{
    const char *text;
    int seconds;
};

const Zone kZones[] = {
    {"UTC-12:00", -43200}, {"UTC-11:00", -39600}, {"UTC-10:00", -36000}, {"UTC-09:00", -32400},
    {"UTC-08:00", -28800}, {"UTC-07:00", -25200}, {"UTC-06:00", -21600}, {"UTC-05:00", -18000},
    {"UTC-04:30", -16200}, {"UTC-04:00", -14400}, {"UTC-03:30", -12600}, {"UTC-03:00", -10800},
    {"UTC-02:00", -7200},  {"UTC-01:00", -3600},  {"UTC", 0},            {"UTC+01:00", 3600},
    {"UTC+02:00", 7200},   {"UTC+03:00", 10800},  {"UTC+03:30", 12600},  {"UTC+04:00", 14400},
    {"UTC+04:30", 16200},  {"UTC+05:00", 18000},  {"UTC+05:30", 19800},  {"UTC+05:45", 20700},
    {"UTC+06:00", 21600},  {"UTC+06:30", 23400},  {"UTC+07:00", 25200},  {"UTC+08:00", 28800},
    {"UTC+09:00", 32400},  {"UTC+09:30", 34200},  {"UTC+10:00", 36000},  {"UTC+11:00", 39600},
    {"UTC+12:00", 43200},  {"UTC+13:00", 46800},
};

// The first item whose stored value equals value; none leaves the combo blank.
void selectData(QComboBox *combo, int value)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i).toInt() == value) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    combo->setCurrentIndex(-1);
}

// The first item whose stored text equals value; none shows the first item.
void selectData(QComboBox *combo, const QString &value)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i).toString() == value) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    combo->setCurrentIndex(combo->count() > 0 ? 0 : -1);
}

void setUpTable(QTableWidget *table)
{
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->show();
    table->horizontalHeader()->setStretchLastSection(true);
}

QTableWidgetItem *cell(const QString &text, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(alignment);
    return item;
}

QString typeText(const LFCHANNEL_INFO &channel)
{
    switch (channel.type) {
    case 0x1011:
        return QStringLiteral("UID-V") + channel.version;
    case 0x1010:
        return QStringLiteral("TTF-V") + channel.version;
    case 0x1040:
        return QStringLiteral("TTF4-V") + channel.version;
    default:
        return QStringLiteral("UNKNOW");
    }
}

} // namespace

FormSystem::FormSystem(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormSystem>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    resize(480, 700);

    for (const Locale *locale = s_localeList; locale->code; ++locale)
        ui->cmbLanguage->addItem(QString::fromUtf8(locale->name), QString::fromLatin1(locale->code));

    setUpTable(ui->tableCan);
    setUpTable(ui->tableLog);
    ui->tableLog->setColumnCount(3);
    ui->tableLog->setHorizontalHeaderLabels({tr("No."), tr("Time"), tr("Type")});
    ui->tableLog->setColumnWidth(0, 70);
    ui->tableLog->setColumnWidth(1, 220);

    ui->labelSn->setText(LoftAccess::systemId());
    for (const Zone &zone : kZones)
        ui->cmbTimeZone->addItem(QString::fromLatin1(zone.text), zone.seconds);
}

FormSystem::~FormSystem() = default;

QString FormSystem::versionText(int osType, unsigned int gsmType, unsigned int flags)
{
    const char *pattern = "v%s(%04X)";
    if (osType == 1) {
        pattern = "v%s(%04X)-ti";
    } else if (osType == 2 || osType == 3) {
        if (gsmType == 0)
            pattern = "v%s(%04X)-ublox";
        else if (gsmType == 0x1000)
            pattern = "v%s(%04X)-telit";
        else if (gsmType == 0x0800)
            pattern = "v%s(%04X)-ec25";
    }
    return QString::asprintf(pattern, ProgramVersion::kText, flags);
}

void FormSystem::onActive()
{
    // A failure here goes on to the stack, which drops the screen and shows it.
    const bool zoneOpen = HardwareControl::hasFlag(kZoneFlag) && Storage::instance()->getRacesCount(QString()) == 0;
    ui->cmbTimeZone->setEnabled(zoneOpen);
    const LoftInfo loft = LoftAccess::loft();
    reflushChannels();
    refreshLogs();
    selectData(ui->cmbTimeZone, loft.timeZone);
    selectData(ui->cmbLanguage, loft.language);
    ui->cmbLanguage_2->setCurrentIndex(ServiceFactory::getParamInt32(QStringLiteral("standard"), 0) != 0 ? 1 : 0);
    PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo;
    if (engine && !channelsConnection)
        channelsConnection = connect(engine, &PigeonBo::channelsChanged, this, &FormSystem::onChannelsChanged);
    ui->labelVersion->setText(versionText(HardwareControl::OSTYPE, HardwareControl::gsmType(), HardwareControl::APP_SETTING));
    // The module may have reported its id since the screen was built.
    ui->labelSn->setText(LoftAccess::systemId());
    if (HardwareControl::hasFlag(kLabelFlag))
        printBar();
}

void FormSystem::onDeactive(_DeactiveMode)
{
    disconnect(channelsConnection);
    channelsConnection = {};
}

void FormSystem::on_cmbLanguage_currentIndexChanged(int)
{
    // A new language applies at the next start only.
}

void FormSystem::onChannelsChanged()
{
    // A rebuild may have been queued just before the screen was left.
    if (!isActive())
        return;
    guardedCall("FormSystem::onChannelsChanged", this, [this] { reflushChannels(); });
}

void FormSystem::reflushChannels()
{
    QTableWidget *table = ui->tableCan;
    table->setRowCount(0);
    const QList<LFCHANNEL_INFO> channels = LoftAccess::channels();
    table->clear();
    table->setColumnCount(3);
    table->setHorizontalHeaderLabels({tr("State"), tr("Type"), tr("Serial No.")});
    table->verticalHeader()->hide();
    table->horizontalHeader()->show();
    table->setColumnWidth(0, 80);
    table->setColumnWidth(1, 160);
    table->setColumnWidth(2, 160);
    setUpTable(table);
    // Each channel goes on top: the last one reported shows first.
    for (const LFCHANNEL_INFO &channel : channels) {
        table->insertRow(0);
        table->setItem(0, 0, cell((channel.status & kChannelErrorBit) ? tr("ERROR") : tr("OK")));
        table->setItem(0, 1, cell(typeText(channel)));
        table->setItem(0, 2, cell(channel.id));
    }
}

void FormSystem::refreshLogs()
{
    QTableWidget *table = ui->tableLog;
    table->setRowCount(0);
    const auto logs = Storage::instance()->queryLogs(0, kLogRows, logPage);
    const QString pattern = QCoreApplication::translate("CommonResource", kTimePattern);
    // Newest first from storage, each put on top: the newest ends at the bottom.
    for (const auto &log : logs) {
        if (!log)
            continue;
        table->insertRow(0);
        table->setItem(0, 0, cell(QString::number(log->logId), Qt::AlignCenter));
        table->setItem(0, 1, cell(UTC::format(log->logTime, pattern)));
        table->setItem(0, 2, cell(log->getTypeString()));
    }
}

void FormSystem::on_btnSave_clicked()
{
    guardedCall("FormSystem::on_btnSave_clicked", this, [this] { save(); });
}

void FormSystem::save()
{
    VexPlayer::playOK();
    WaitCursor wait;
    // Lets the cursor show; a second tap must not start a Save inside this one.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    LoftInfo loft = LoftAccess::loft();
    // A disabled or blank zone combo keeps the stored zone: taking "UTC" for
    // it would move every local time by hours.
    if (ui->cmbTimeZone->isEnabled() && ui->cmbTimeZone->currentIndex() >= 0)
        loft.timeZone = ui->cmbTimeZone->currentData().toInt();
    loft.language = ui->cmbLanguage->currentData().toString();
    LoftAccess::saveLoft(loft);
    ServiceFactory::setParamInt32(QStringLiteral("standard"), ui->cmbLanguage_2->currentIndex());
    FormMessage::information(this, tr("System"), tr("Save OK!"), QMessageBox::Ok, nullptr);
}

void FormSystem::printBar()
{
    if (!PcPort::open())
        return; // no printer line: no label, nothing shown
    const QByteArray code = LoftAccess::systemId().toLatin1();
    const UTC now = UTC::now();
    const QByteArray suffix = QString::asprintf("-%02d%02d", now.year() % 100, now.month()).toLatin1();
    const QByteArray pieces[] = {QByteArrayLiteral("^XA^MNA^FO240,50,^BC,40,N,N,N,N^FD"), code + suffix,
                                 QByteArrayLiteral("^FS^FO350,105^ADN,^AD,26^FD"), code + suffix,
                                 QByteArrayLiteral("^FS^XZ")};
    for (const QByteArray &piece : pieces) {
        if (!PcPort::write(piece)) {
            ServiceFactory::debug(QStringLiteral("FormSystem::printBar label not fully written"));
            break;
        }
    }
    PcPort::close();
}
