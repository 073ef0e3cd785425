// Network turns benchmark: the race engine's idle data turn (run every
// second) and idle SMS turn (every 5 s) for the device's whole life, on a
// loft of 5,000 pigeons and 200 races, one of them running with all its
// basketing records sent and half its pigeons home, uploaded and notified.
// Reports the SQL statements and the time of one turn, as a ratio to one
// bare single-row select timed in the same run, and what filling the marking
// order of every basketed record each second would cost instead.
// Runs on a simulated root in a temporary directory; nothing is sent.

#include "core/servicefactory.h"
#include "device/hardware_control.h"
#include "gsm/gsmservice.h"
#include "race/pigeonbo.h"
#include "storage/loftinfo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include "storagefixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kPigeons = 5000;
constexpr int kRaces = 200;
constexpr int kBasketed = 1000;
constexpr int kHome = 500;
constexpr int kBaselineRuns = 200;
constexpr int kTurnRuns = 50;

struct Measure
{
    qint64 p50Ns = 0;
    double statements = 0;
    int result = 0;
};

Measure measure(int runs, const std::function<int()> &call)
{
    std::vector<qint64> times;
    const quint64 before = Storage::statementCount();
    Measure m;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        m.result = call();
        times.push_back(timer.nsecsElapsed());
    }
    m.statements = double(Storage::statementCount() - before) / runs;
    std::sort(times.begin(), times.end());
    m.p50Ns = times[times.size() / 2];
    return m;
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

bool buildFixture(const StorageFixture &db)
{
    // Generated rows, one statement per table: the numbers name the pigeons.
    const QString numbers = QStringLiteral("with recursive n(i) as (select 0 union all select i+1 from n where i<%1) ")
                                .arg(kPigeons - 1);
    return db.exec(numbers
                   + QStringLiteral("insert into Pigeon(AssocNum,EringNum,Uid,Valid,Test,AssocCode,Color,Year,Sex,RegNum,"
                                    "UpdateTime) select printf('NL-%06d',i),printf('E%07d',i),printf('%08x',i),1,0,'NL',"
                                    "'blue',2023,1,'R',0 from n"))
        && db.exec(numbers
                   + QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime,UidMarked,MarkReaderId,"
                                    "BackTimeEring,BackOrder,EringUploadState,NeedSms,SmsSendState) "
                                    "select printf('NL-%06d',i),printf('E%07d',i),case when i<%1 then 'R0001' else '' end,"
                                    "case when i<%1 then 1700000000000+i else 0 end,'U','READER',"
                                    "case when i<%2 then 1700100000000+i else 0 end,case when i<%2 then i+1 else 0 end,"
                                    "case when i<%2 then 1 else 0 end,case when i<%2 then 1 else 0 end,"
                                    "case when i<%2 then 1 else 0 end from n")
                         .arg(kBasketed)
                         .arg(kHome))
        && db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<%1) "
                                  "insert into Race(RaceCode,RaceName,LiberTime,Valid,OtherData) "
                                  "select printf('R%04d',i),'Race '||i,1700000000000+i*86400000,"
                                  "case when i=1 then 3 else 4 end,"
                                  "case when i=1 then '{\"markUploadedCount\":%2}' else '{}' end from n")
                       .arg(kRaces)
                       .arg(kBasketed));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    StorageFixture db;
    HardwareControl::init(0);
    if (!buildFixture(db)) {
        std::printf("fixture failed\n");
        return 1;
    }
    PigeonBo engine;
    LoftInfo loft;
    loft.loftNum = QStringLiteral("L100");
    loft.password = QStringLiteral("secret");
    loft.hostIp = QStringLiteral("cloud.test:9080");
    loft.hostPath = QStringLiteral("/rpc");
    loft.hostSmsCode = QStringLiteral("+4900");
    loft.uploadMode = 0x20 | 0x40;
    engine.saveLoftInfo(&loft);
    engine.saveNotifyPhones({QStringLiteral("+4911")});
    ServiceFactory::setParamInt32(QStringLiteral("cmbSMSNotifyNum"), 255);
    GSMService service(&engine); // never started: an idle turn sends nothing

    Storage *storage = Storage::instance();
    const Measure baseline = measure(kBaselineRuns, [&] {
        return storage->findRecordById(QStringLiteral("NL-004321")) ? 0 : 1;
    });
    std::printf("baseline: one single-row select p50 %.3f ms\n", ms(baseline.p50Ns));

    const Measure data = measure(kTurnRuns, [&] { return engine.doGprsEvent(&service); });
    std::printf("idle data turn (upload mode 0x60): result %d, %.1f statements, p50 %.3f ms (%.1f x baseline)\n",
                data.result, data.statements, ms(data.p50Ns), double(data.p50Ns) / double(baseline.p50Ns));

    const Measure smsUpload = measure(kTurnRuns, [&] { return engine.doSmsEvent(&service); });
    std::printf("idle SMS turn (upload mode 0x60): result %d, %.1f statements, p50 %.3f ms (%.1f x baseline)\n",
                smsUpload.result, smsUpload.statements, ms(smsUpload.p50Ns),
                double(smsUpload.p50Ns) / double(baseline.p50Ns));

    loft.uploadMode = 0x02 | 0x04;
    engine.saveLoftInfo(&loft);
    const Measure smsRecords = measure(kTurnRuns, [&] { return engine.doSmsEvent(&service); });
    std::printf("idle SMS turn (upload mode 0x06): result %d, %.1f statements, p50 %.3f ms (%.1f x baseline)\n",
                smsRecords.result, smsRecords.statements, ms(smsRecords.p50Ns),
                double(smsRecords.p50Ns) / double(baseline.p50Ns));

    // What the data turn would add each second if it filled the marking
    // order of every basketed record of the running race, sent or not.
    const auto records = storage->findRecordsByRaceCode(QStringLiteral("R0001"), QStringLiteral("markTime,assocNum"));
    const Measure fillAll = measure(1, [&] {
        PigeonRecord::fillMarkOrder(records);
        return 0;
    });
    std::printf("marking order of all %d basketed records: %.0f statements, %.3f ms (%.1f x baseline)\n",
                int(records.size()), fillAll.statements, ms(fillAll.p50Ns),
                double(fillAll.p50Ns) / double(baseline.p50Ns));
    Storage::destroy();
    return data.result == 1 && smsRecords.result == 1 ? 0 : 1;
}
