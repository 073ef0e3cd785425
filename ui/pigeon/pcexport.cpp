#include "ui/pigeon/pcexport.h"

#include "core/jsonwriter.h"
#include "core/utc.h"
#include "storage/loftinfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include <QCoreApplication>
#include <QVariantMap>

namespace {
const char *const kTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");
const char kLineEnd[] = "\r\n";

QByteArray line(const QVariantMap &object)
{
    return JsonWriter::write(object) + kLineEnd;
}
} // namespace

QByteArray PcExport::startLine(const LoftInfo &loft)
{
    return line({{QStringLiteral("LoftNum"), loft.loftNum},
                 {QStringLiteral("OwnerName"), loft.ownerName},
                 {QStringLiteral("TimeZone"), loft.timeZone},
                 {QStringLiteral("Type"), QStringLiteral("start")}});
}

QByteArray PcExport::recordLine(const PigeonRecord &record, bool training)
{
    const QString pattern = QCoreApplication::translate("CommonResource", kTimePattern);
    return line({{QStringLiteral("AssocNum"), record.assocNum},
                 {QStringLiteral("BackOrder"), record.backOrder},
                 {QStringLiteral("BackTimeEring"), UTC::format(record.backTimeEring, pattern)},
                 {QStringLiteral("Racecode"), training ? QStringLiteral("0") : record.raceCode},
                 {QStringLiteral("Type"), training ? QStringLiteral("t-record") : QStringLiteral("record")}});
}

QByteArray PcExport::endLine()
{
    return line({{QStringLiteral("Type"), QStringLiteral("end")}});
}

bool PcExport::run(const LoftInfo &loft, Storage *storage, const LineSink &sink)
{
    if (!sink(startLine(loft)))
        return false;
    const int raceCount = storage->getRacesCount(QString());
    const auto races = storage->getPageRaces(QString(), 0, raceCount);
    for (const auto &race : races) {
        const QString where = QStringLiteral("markTime<>0 AND backTimeEring<>0 AND raceCode=")
                              + Storage::quoted(race->raceCode);
        for (const auto &record : storage->queryRecords(where, QStringLiteral("backTimeEring"))) {
            if (!sink(recordLine(*record, false)))
                return false;
        }
    }
    const auto training = storage->queryRecords(
        QStringLiteral("markTime=0 AND backTimeEring<>0 AND eringNum<>''"), QStringLiteral("backTimeEring"));
    for (const auto &record : training) {
        if (!sink(recordLine(*record, true)))
            return false;
    }
    return sink(endLine());
}
