// The two settings screens on the database of a busy loft (200 races, a full
// event log). A communication Save that changes every field, as statements
// per Save and its time against one bare durable commit in the same run; and
// entering the system screen (both tables filled) to its first paint, against
// a bare count of the races plus a bare select of the 20 newest log rows.
// Runs offscreen on a simulated root in a temporary directory.
// Usage: bench_settings [repeats]   (default 9)

#include "barecommit.h"
#include "benchrow.h"
#include "calltiming.h"
#include "loftdatabase.h"

#include "core/myapp.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "storage/storage.h"
#include "testroot.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/formcommunication.h"
#include "ui/settings/formsystem.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDefaultRepeats = 9;
const char kRawConnection[] = "bench-settings-raw";

// Every control of the communication screen set to one of two full sets, so
// that each Save changes every field.
void chooseSet(FormCommunication *screen, int set)
{
    const char *combos[] = {"cmbSMSNotify", "cmbSMSNotifyNum", "cmbDataTransfer", "cmbChannelMode",
                            "cmbPrintPageSize", "cmbPrintSpeed"};
    for (const char *name : combos) {
        auto *combo = screen->findChild<QComboBox *>(QLatin1String(name));
        combo->setCurrentIndex(set == 0 ? 0 : std::min(2, combo->count() - 1));
    }
    screen->findChild<QLineEdit *>(QStringLiteral("editApn"))->setText(set == 0 ? QStringLiteral("apn.one")
                                                                                : QStringLiteral("apn.two"));
    for (int row = 1; row <= 5; ++row)
        screen->findChild<QLineEdit *>(QStringLiteral("editPhone%1").arg(row))
            ->setText(QStringLiteral("04%1%2").arg(set).arg(row));
    auto *voice = screen->findChild<QPushButton *>(QStringLiteral("btnVoiceMode"));
    voice->setChecked(set != 0);
}

// What the system screen reads at the least: the race count and the log page.
int rawEntryReads()
{
    QSqlQuery q(QSqlDatabase::database(QLatin1String(kRawConnection)));
    q.setForwardOnly(true);
    int rows = 0;
    if (!q.exec(QStringLiteral("select count(*) from Race")) || !q.next()) {
        std::fprintf(stderr, "raw: %s\n", qPrintable(q.lastError().text()));
        return 0;
    }
    q.finish();
    if (!q.exec(QStringLiteral("select * from Log where LogId>0 order by LogId desc limit 20"))) {
        std::fprintf(stderr, "raw: %s\n", qPrintable(q.lastError().text()));
        return 0;
    }
    while (q.next())
        ++rows;
    return rows;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MyApp::registerMetaTypes();
    const int repeats = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultRepeats;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    TestRoot root;
    if (!root.isValid())
        return 1;
    root.activate();
    root.writeFile(QStringLiteral("/app/brellium/version"), "8.9.30");
    try {
        Storage::init();
        if (!LoftDatabase::fill())
            return 1;
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kRawConnection));
            raw.setDatabaseName(QLatin1String(Storage::kDatabaseFile));
            raw.open();
        }
        HardwareControl::init(0x0020);
        MainWindow *window = MainWindow::instance();
        window->findChild<QTimer *>()->stop();
        window->show();
        window->resetSubForms();

        FormCommunication *communication = window->formCommunication;
        window->pushSubForm(communication);
        auto *save = communication->findChild<QPushButton *>(QStringLiteral("btnButtonSave"));
        quint64 statements = 0;
        int set = 0;
        const double saveMs = CallTiming::of(
                                  [&] {
                                      set = 1 - set;
                                      chooseSet(communication, set);
                                      const quint64 before = Storage::statementCount();
                                      save->click();
                                      statements = Storage::statementCount() - before;
                                  },
                                  repeats)
                                  .medianMs;
        window->resetSubForms();
        const double commitMs = median(bareCommitsMs(root.root(), repeats));
        std::printf("communication Save, every field changed: median %.2f ms, %llu statements; bare commit median "
                    "%.2f ms\n",
                    saveMs, static_cast<unsigned long long>(statements), commitMs);
        BenchRow saveRow;
        saveRow.figure = QStringLiteral("communication: Save changing every field");
        saveRow.value = BenchRow::ms(saveMs);
        saveRow.reference = BenchRow::ms(commitMs) + QStringLiteral(" bare durable commit");
        saveRow.ratio = commitMs > 0 ? saveMs / commitMs : -1;
        saveRow.print();
        BenchRow saveCount;
        saveCount.figure = QStringLiteral("communication: statements per Save");
        saveCount.value = QString::number(statements);
        saveCount.print();

        FormSystem *system = window->formSystem;
        const double entryMs = CallTiming::of(
                                   [&] {
                                       window->resetSubForms();
                                       const quint64 before = Storage::statementCount();
                                       window->pushSubForm(system);
                                       system->repaint();
                                       statements = Storage::statementCount() - before;
                                   },
                                   repeats)
                                   .medianMs;
        int rows = 0;
        const double rawMs = CallTiming::of([&] { rows = rawEntryReads(); }, repeats).medianMs;
        std::printf("system screen entry: %d log rows; to first paint median %.2f ms, %llu statements; bare reads "
                    "median %.2f ms\n",
                    rows, entryMs, static_cast<unsigned long long>(statements), rawMs);
        BenchRow entryRow;
        entryRow.figure = QStringLiteral("system screen: entry to first paint (200 races, full log)");
        entryRow.value = BenchRow::ms(entryMs);
        entryRow.reference = BenchRow::ms(rawMs) + QStringLiteral(" bare race count + 20 log rows");
        entryRow.ratio = rawMs > 0 ? entryMs / rawMs : -1;
        entryRow.print();
        window->resetSubForms();
        MainWindow::destroyInstance();
        FormMessage::destroyInstance();
    } catch (const VexException &e) {
        std::fprintf(stderr, "bench_settings: %s\n", qPrintable(e.getErrorMessage()));
        return 1;
    }
    Storage::destroy();
    QSqlDatabase::removeDatabase(QLatin1String(kRawConnection));
    return 0;
}
