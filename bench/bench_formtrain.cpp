// The training list: one reload with 500 and 2,000 arrived training pigeons
// (time and statements per reload, against a plain select of the same rows),
// and a burst of 50 arrivals within 2 s (reloads run and the longest time the
// GUI thread was held).
// Usage: bench_formtrain
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "device/hardware_control.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/marking/formtrain.h"

#include "benchrow.h"
#include "guiheartbeat.h"
#include "storagefixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {
constexpr int kReloads = 20;
constexpr int kBurst = 50;
constexpr int kBurstSpanMs = 2000;
constexpr int kSettleMs = 500;
constexpr qint64 kLiber = 1782900000000LL;
const char kSelect[] = "select AssocNum,RaceCode,UidMarked,EringNum,RandNumMarked,UidBack,RandNumberBack,GpsValid,"
                       "GpsOnLine,NeedSms,SmsSendState,UidUploadState,EringUploadState,BackOrder,BackTimeEring,"
                       "BackTimeUid,BackHomeLat,BackHomeLon,MarkReaderId,MarkAuthKey,MarkTime from record where "
                       "markTime=0 AND backTimeEring<>0 AND eringNum<>'' order by backTimeEring";

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// pigeons arrived training pigeons, written in one transaction.
void fill(const StorageFixture &db, int pigeons)
{
    db.exec(QStringLiteral("delete from Record"));
    db.exec(QStringLiteral("delete from Pigeon"));
    db.exec(QStringLiteral("BEGIN"));
    for (int i = 0; i < pigeons; ++i) {
        const QString assoc = QStringLiteral("NL-26-%1").arg(i, 5, 10, QLatin1Char('0'));
        const QString ring = QStringLiteral("D%1").arg(i, 7, 16, QLatin1Char('0')).toUpper();
        db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','%2')").arg(assoc, ring));
        db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,BackTimeEring) values('%1','%2','train',%3)")
                    .arg(assoc, ring)
                    .arg(kLiber + 60000 + i * 1000LL));
    }
    db.exec(QStringLiteral("COMMIT"));
    db.exec(QStringLiteral("insert or replace into APPPARAMS(id,val) values('train_libertime','%1')").arg(kLiber));
}

void reloadRow(const StorageFixture &db, FormTrain *screen, int pigeons)
{
    fill(db, pigeons);
    screen->refreshArrivedList(); // warm the caches once
    QElapsedTimer timer;
    const quint64 statements = Storage::statementCount();
    timer.start();
    for (int i = 0; i < kReloads; ++i)
        screen->refreshArrivedList();
    const double reloadMs = timer.nsecsElapsed() / 1e6 / kReloads;
    const double perReload = double(Storage::statementCount() - statements) / kReloads;

    double selectMs = 0;
    {
        // The same rows on a plain connection of the bench's own, each
        // column read once: what the list costs beyond fetching them.
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_raw"));
        raw.setDatabaseName(db.databasePath());
        raw.open();
        timer.restart();
        for (int i = 0; i < kReloads; ++i) {
            QSqlQuery query(raw);
            query.setForwardOnly(true);
            query.exec(QLatin1String(kSelect));
            while (query.next()) {
                for (int c = 0; c < 21; ++c)
                    query.value(c);
            }
        }
        selectMs = timer.nsecsElapsed() / 1e6 / kReloads;
        raw.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_raw"));

    BenchRow row;
    row.figure = QStringLiteral("training list reload, %1 arrived pigeons (%2 statements each)")
                     .arg(pigeons)
                     .arg(perReload, 0, 'f', 0);
    row.value = BenchRow::ms(reloadMs);
    row.reference = BenchRow::ms(selectMs) + QStringLiteral(" plain select of the same rows");
    row.ratio = selectMs > 0 ? reloadMs / selectMs : -1.0;
    row.print();
}

void burstRow(const StorageFixture &db, FormTrain *screen, int pigeons)
{
    fill(db, pigeons);
    PigeonBo engine;
    ServiceFactory::getInstance()->pigeonBo = &engine;
    MainWindow::instance()->pushSubForm(screen);
    const quint64 oneStart = Storage::statementCount();
    screen->refreshArrivedList();
    const quint64 perReload = Storage::statementCount() - oneStart;

    GuiHeartbeat heartbeat([] {});
    const quint64 statements = Storage::statementCount();
    std::unique_ptr<QThread> emitter(QThread::create([&engine] {
        for (int i = 0; i < kBurst; ++i) {
            emit engine.pigeonBack(PigeonRecord());
            QThread::msleep(kBurstSpanMs / kBurst);
        }
    }));
    QEventLoop loop;
    // The GUI thread runs its loop through the burst and a little after it.
    QObject::connect(emitter.get(), &QThread::finished, &loop,
                     [&loop] { QTimer::singleShot(kSettleMs, &loop, &QEventLoop::quit); }, Qt::QueuedConnection);
    emitter->start();
    loop.exec();
    emitter->wait();
    const quint64 reloads = perReload ? (Storage::statementCount() - statements) / perReload : 0;

    MainWindow::instance()->resetSubForms();
    ServiceFactory::getInstance()->pigeonBo = nullptr;

    BenchRow row;
    row.figure = QStringLiteral("training list: %1 arrivals within %2 s at %3 pigeons, %4 reloads")
                     .arg(kBurst)
                     .arg(kBurstSpanMs / 1000)
                     .arg(pigeons)
                     .arg(reloads);
    row.value = BenchRow::ms(heartbeat.longestGapMs());
    row.reference = QStringLiteral("longest GUI gap; %1 arrivals").arg(kBurst);
    row.target = QStringLiteral("at most one reload per arrival");
    row.met = BenchRow::meets(reloads <= quint64(kBurst));
    row.print();
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    StorageFixture db;
    db.root().writeFile(QStringLiteral("/app/brellium/version"), "8.9.30");
    HardwareControl::init(0);
    MyApp app(argc, argv);
    MyApp::registerMetaTypes();
    qInstallMessageHandler(quiet);
    MainWindow *window = MainWindow::instance();
    if (auto *tick = window->findChild<QTimer *>())
        tick->stop();
    window->resetSubForms();
    FormTrain *screen = window->formTrain;

    reloadRow(db, screen, 500);
    reloadRow(db, screen, 2000);
    burstRow(db, screen, 2000);

    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    return 0;
}
