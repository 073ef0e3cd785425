// JSON texts the program stores and reads back: a race's further data (read
// through the storage layer from a temporary database, whatever the column
// holds) and the details of a log entry shown on the screen. Whatever is
// stored, reading never fails, and what the JSON writer makes of the data it
// read reads back to the same text. The first input byte picks the text.
#include "core/jsonwriter.h"
#include "core/log.h"
#include "fuzzsupport.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"
#include "storagefixture.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace {

const QString kRaceCode = QStringLiteral("R1");
const QStringList kRaceKeys = {
    QStringLiteral("raceCode"), QStringLiteral("raceName"), QStringLiteral("liberTime"), QStringLiteral("valid"),
    QStringLiteral("backFlag"), QStringLiteral("printCount"), QStringLiteral("markUploadFlag"),
    QStringLiteral("markUploadedCount"), QStringLiteral("nomination"), QStringLiteral("NOMINATION")};

StorageFixture *fixture = nullptr;

// The writer's text of data read back from JSON is stable: written again
// after one more reading it is the same. A raw control character the writer
// leaves unescaped makes its text no JSON at all; that is checked apart.
void checkWriterStable(const QVariant &value)
{
    const QByteArray first = JsonWriter::write(value);
    QJsonParseError error;
    const QJsonDocument again = QJsonDocument::fromJson(first, &error);
    if (error.error != QJsonParseError::NoError) {
        bool control = false;
        for (char c : first)
            control = control || (uchar(c) < 0x20);
        FUZZ_CHECK(control);
        return;
    }
    FUZZ_CHECK(JsonWriter::write(again.toVariant()) == first);
}

void storedRace(const QByteArray &text, bool asBlob)
{
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("fuzz"));
        QSqlQuery query(db);
        query.prepare(QStringLiteral("update race set OtherData=:text where RaceCode=:code"));
        // The column may hold anything a damaged or foreign file carries.
        query.bindValue(QStringLiteral(":text"), asBlob ? QVariant(text) : QVariant(QString::fromUtf8(text)));
        query.bindValue(QStringLiteral(":code"), kRaceCode);
        if (!query.exec())
            Fuzz::fail("cannot store the race's further data");
    }
    const QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(kRaceCode);
    FUZZ_CHECK(race);
    for (const QString &key : kRaceKeys)
        race->getField(key);
    checkWriterStable(race->otherData);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Storage flushes every write to its file; in memory that costs nothing.
    if (QDir(QStringLiteral("/dev/shm")).exists())
        qputenv("TMPDIR", "/dev/shm");
    Fuzz::init(argc, argv);
    fixture = new StorageFixture;
    RaceInfo race;
    race.raceCode = kRaceCode;
    race.raceName = QStringLiteral("fuzz");
    Storage::instance()->saveRace(&race);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fuzz"));
    db.setDatabaseName(fixture->databasePath());
    if (!db.open())
        Fuzz::fail("cannot open the temporary database");
    // The file is thrown away: no flush per input.
    QSqlQuery(db).exec(QStringLiteral("pragma synchronous=off"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray text = Fuzz::bytes(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
    case 1: {
        Log log;
        // 5 is a time correction and 11 a deleted race: their details name times.
        log.logType = data[0] % 2 == 0 ? 5 : 11;
        log.logInfo = QString::fromUtf8(text);
        log.toDisplayText();
        break;
    }
    case 2: storedRace(text, data[0] & 0x80); break;
    default: {
        const QJsonDocument document = QJsonDocument::fromJson(text);
        if (document.isObject())
            checkWriterStable(document.object().toVariantMap());
        break;
    }
    }
    return 0;
}
