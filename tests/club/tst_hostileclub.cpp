// Hostile bytes from the club router: quotes, percent signs, NUL bytes,
// non-ASCII and the longest key a frame carries, in every field of its
// answers that the clock hands on towards the database (router id,
// authorisation key, ring number). The link hands each on only as upper-case
// hex of exactly the bytes received, or refuses an answer longer than a frame
// holds; stored on a race, the values are kept literally and the rows of the
// other pigeons and races stay as they were.
#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "storage/raceinfo.h"
#include "storage/storage.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "storagefixture.h"

#include <QDir>
#include <QTest>

#include <memory>

namespace {

constexpr int kStopMs = 5000;
constexpr int kSetUpMs = 3000;
constexpr quint8 kAuthorise = 0x5F;

const char *const kOtherRows[] = {
    "insert into Pigeon(AssocNum,EringNum,Uid,Color) values('A','RA','UA','blue'),('B','RB','UB','red')",
    "insert into Record(AssocNum,EringNum,RaceCode,MarkTime,MarkAuthKey,MarkReaderId) values"
    "('A','RA','R0',100,'K0','00000001'),('B','RB','',0,NULL,NULL)",
    "insert into Race(RaceCode,RaceName,MarkAuthKey,MarkReaderId) values('R0','other','K0','00000001'),"
    "('R1','target','','')",
};

QString upperHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

// Everything but the row the test writes.
QList<QVariantList> otherRows(const StorageFixture &db)
{
    QList<QVariantList> all;
    for (const char *sql : {"select * from Pigeon order by rowid", "select * from Record order by rowid",
                            "select * from Race where RaceCode<>'R1' order by rowid"})
        all += db.rows(QLatin1String(sql));
    return all;
}

} // namespace

class TestHostileClub : public QObject
{
    Q_OBJECT
private slots:
    void routerValues_handedOnAsHexAndStoredLiterally_data();
    void routerValues_handedOnAsHexAndStoredLiterally();
};

void TestHostileClub::routerValues_handedOnAsHexAndStoredLiterally_data()
{
    QTest::addColumn<QByteArray>("routerId"); // 4 bytes
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("ring");     // 4 bytes
    QTest::addColumn<bool>("accepted");

    QTest::newRow("quotes") << QByteArray("'\"';") << QByteArray("' OR '1'='1'; drop table Race; --")
                            << QByteArray("'\"--") << true;
    QTest::newRow("percent signs") << QByteArray("%s%n") << QByteArray("%s%d%n%%%x%'") << QByteArray("%%%%") << true;
    QTest::newRow("NUL bytes") << QByteArray("\0\0\0\0", 4) << QByteArray("\0'\0x\0", 5)
                               << QByteArray("a\0b\0", 4) << true;
    QTest::newRow("non-ASCII") << QByteArray("\xc3\xa9\xe2\x82") << QByteArray("\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xff\xfe")
                               << QByteArray("\xff\x80\xc0\xfe") << true;
    // A long key; then one longer than any frame the clock takes (255 bytes).
    QTest::newRow("long key") << QByteArray("\x7f\x7f\x7f\x7f") << QByteArray(64, '\'') << QByteArray(4, '\x27')
                              << true;
    QTest::newRow("key longer than a frame holds") << QByteArray("\x7f\x7f\x7f\x7f") << QByteArray(253, '\'')
                                                   << QByteArray(4, '\x27') << false;
}

void TestHostileClub::routerValues_handedOnAsHexAndStoredLiterally()
{
    QFETCH(QByteArray, routerId);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, ring);
    QFETCH(bool, accepted);

    StorageFixture db;
    for (const char *sql : kOtherRows)
        QVERIFY(db.exec(QLatin1String(sql)));
    const QList<QVariantList> before = otherRows(db);

    QDir().mkpath(db.root().path(QStringLiteral("/dev")));
    ClubPortPeer peer;
    QVERIFY(peer.linkAt(db.root().path(QStringLiteral("/dev/ttyS2"))));
    QVERIFY(peer.start());
    peer.router().setRouterId(routerId);
    // The router's own answer: the code byte, then the key.
    peer.setAnswer(kAuthorise, 0, QByteArray(1, '\x05') + key);
    peer.router().presentRing(ring, 0x27);

    MorlanProtocolProcess process(_serialPort_miniDin);
    process.setParamReader([](const QString &, int value) { return value; });
    // Taken in this thread: the link thread emits.
    QList<QPair<QString, quint8>> tags;
    QObject receiver;
    connect(&process, &MorlanProtocolProcess::readTagEnd, &receiver,
            [&tags](QString eRing, quint8 rand, QString) { tags.append({eRing, rand}); }, Qt::QueuedConnection);
    process.start();
    process.switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
    if (!accepted) {
        // Refused and asked again, never taken in part.
        QTRY_VERIFY_WITH_TIMEOUT(peer.framesOf(kAuthorise).size() >= 2, kSetUpMs);
        QVERIFY(!process.isAuthed());
        QCOMPARE(process.getAuthKey(), QString());
        process.requestExit();
        QVERIFY(process.wait(kStopMs));
        QCOMPARE(otherRows(db), before);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(process.isAuthed(), kSetUpMs);
    process.startReadTag();
    QTRY_VERIFY_WITH_TIMEOUT(!tags.isEmpty(), kSetUpMs);

    const QString authKey = process.getAuthKey();
    const QString readerId = process.getRouterId();
    QCOMPARE(authKey, upperHex(key));
    QCOMPARE(readerId, upperHex(routerId));
    QCOMPARE(tags.at(0).first, upperHex(ring));
    QCOMPARE(tags.at(0).second, quint8(0x27));
    process.requestExit();
    QVERIFY(process.wait(kStopMs));

    // Basketing keeps the router's values on the race it marks.
    QSharedPointer<RaceInfo> race = Storage::instance()->findRaceById(QStringLiteral("R1"));
    QVERIFY(race);
    race->markAuthKey = authKey;
    race->markReaderId = readerId;
    race->markReaderTime = 1;
    Storage::instance()->saveRace(race.data());

    const QSharedPointer<RaceInfo> stored = Storage::instance()->findRaceById(QStringLiteral("R1"));
    QVERIFY(stored);
    QCOMPARE(stored->markAuthKey, authKey);
    QCOMPARE(stored->markReaderId, readerId);
    QCOMPARE(stored->raceName, QStringLiteral("target"));
    QCOMPARE(otherRows(db), before);
}

QTEST_GUILESS_MAIN(TestHostileClub)
#include "tst_hostileclub.moc"
