#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include "storagefixture.h"

#include <QTest>

namespace {
// 10:00:00 UTC on a race day; basketing times are seconds after it.
constexpr qint64 kTenOClockMs = 1714557600000LL;
constexpr int kNoNomination = -1;

struct Basketed
{
    QString assocNum;
    QString raceCode;
    qint64 markTime = 0; // 0: not basketed
    int nomination = kNoNomination;
};

QString sq(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

qint64 at(int second)
{
    return kTenOClockMs + second * 1000LL;
}
} // namespace

Q_DECLARE_METATYPE(Basketed)
Q_DECLARE_METATYPE(QList<Basketed>)

// The marking order: the basketing sequence in a race, or the nomination
// number in a race with nominations, and the sort of printed lists by it.
class TestMarkOrder : public QObject
{
    Q_OBJECT
private slots:
    void fillAndSort_data();
    void fillAndSort();
    void emptyList_looksNothingUp();
    void fullRace_readsEachRaceOnce();
};

void TestMarkOrder::fillAndSort_data()
{
    QTest::addColumn<QStringList>("nominatedRaces");
    QTest::addColumn<QList<Basketed>>("records"); // the list, in its given order
    QTest::addColumn<QList<Basketed>>("others");  // further rows of the database
    QTest::addColumn<QList<int>>("orders");
    QTest::addColumn<QStringList>("sorted");

    QTest::newRow("not basketed") << QStringList{"N"}
                                  << QList<Basketed>{{"A", "R1", 0}, {"B", "N", 0, 4}} << QList<Basketed>{}
                                  << QList<int>{0, 0} << QStringList{"A", "B"};
    // Earlier pigeons of another race and unbasketed ones of this race do
    // not count; the same millisecond shares an order.
    QTest::newRow("basketed 10:00:01, :02, :02")
        << QStringList{} << QList<Basketed>{{"A", "R1", at(1)}, {"B", "R1", at(2)}, {"C", "R1", at(2)}}
        << QList<Basketed>{{"X", "R2", at(0)}, {"Y", "R1", 0}} << QList<int>{1, 2, 2}
        << QStringList{"A", "B", "C"};
    QTest::newRow("nominated: none gives 0 and sorts last")
        << QStringList{"N"} << QList<Basketed>{{"A", "N", at(1), 2}, {"B", "N", at(2)}, {"C", "N", at(3), 1}}
        << QList<Basketed>{} << QList<int>{2, 0, 1} << QStringList{"C", "A", "B"};
    QTest::newRow("orders 3, 0, 1, 0, 2")
        << QStringList{"N"}
        << QList<Basketed>{{"A", "N", at(1), 3}, {"B", "N", at(2)}, {"C", "N", at(3), 1}, {"D", "N", at(4)},
                           {"E", "N", at(5), 2}}
        << QList<Basketed>{} << QList<int>{3, 0, 1, 0, 2} << QStringList{"C", "E", "A", "B", "D"};
    QTest::newRow("equal nominations keep their order")
        << QStringList{"N"} << QList<Basketed>{{"A", "N", at(1), 2}, {"B", "N", at(2), 1}, {"C", "N", at(3), 2}}
        << QList<Basketed>{} << QList<int>{2, 1, 2} << QStringList{"B", "A", "C"};
    QTest::newRow("first record's race has no nominations")
        << QStringList{"N"} << QList<Basketed>{{"A", "R1", at(1)}, {"B", "N", at(2), 2}, {"C", "N", at(3), 1}}
        << QList<Basketed>{} << QList<int>{1, 2, 1} << QStringList{"A", "B", "C"};
    QTest::newRow("nomination in another race only")
        << QStringList{"N", "M"} << QList<Basketed>{{"A", "N", at(1)}, {"B", "N", at(2), 1}}
        << QList<Basketed>{{"A", "M", 0, 1}} << QList<int>{0, 1} << QStringList{"B", "A"};
    QTest::newRow("quotes in race code and association number")
        << QStringList{"N'Q"}
        << QList<Basketed>{{"NL'2", "O'R", at(2)}, {"NL'1", "O'R", at(1)}, {"NL'3", "N'Q", at(1), 5}}
        << QList<Basketed>{{"Z", "O", at(0)}} << QList<int>{2, 1, 5} << QStringList{"NL'2", "NL'1", "NL'3"};
    QTest::newRow("race code that looks like a placeholder")
        << QStringList{} << QList<Basketed>{{"A", "%2'%1", at(1)}, {"B", "%2'%1", at(7)}}
        << QList<Basketed>{{"C", "%2", at(0)}} << QList<int>{1, 2} << QStringList{"A", "B"};
}

void TestMarkOrder::fillAndSort()
{
    QFETCH(QStringList, nominatedRaces);
    QFETCH(QList<Basketed>, records);
    QFETCH(QList<Basketed>, others);
    QFETCH(QList<int>, orders);
    QFETCH(QStringList, sorted);
    StorageFixture db;

    QStringList races;
    for (const Basketed &b : records + others) {
        if (!races.contains(b.raceCode))
            races << b.raceCode;
    }
    for (const QString &race : std::as_const(races)) {
        const QString other = nominatedRaces.contains(race) ? QStringLiteral("{\"nomination\":1}") : QStringLiteral("{}");
        QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,Valid,OtherData) values(") + sq(race)
                        + QStringLiteral(",3,") + sq(other) + QLatin1Char(')')));
    }
    int id = 0;
    for (const Basketed &b : records + others) {
        const QString ring = QStringLiteral("%1").arg(++id, 8, 16, QLatin1Char('0'));
        // One record per pigeon: a further row of a listed pigeon only adds
        // its nomination in another race.
        // Joined, not formatted: the race codes hold "%1" and "%2".
        const QString values = QStringList{sq(b.assocNum), sq(ring), sq(b.raceCode)}.join(QLatin1Char(','));
        QVERIFY(db.exec(QStringLiteral("insert or ignore into Record(AssocNum,EringNum,RaceCode,MarkTime) values(")
                        + values + QLatin1Char(',') + QString::number(b.markTime) + QLatin1Char(')')));
        if (b.nomination != kNoNomination)
            QVERIFY(db.exec(QStringLiteral("insert into Nomination(Id,AssocNum,EringNum,RaceCode,Nom) values(")
                            + QString::number(id) + QLatin1Char(',') + values + QLatin1Char(',')
                            + QString::number(b.nomination) + QLatin1Char(')')));
    }

    QList<QSharedPointer<PigeonRecord>> list;
    for (const Basketed &b : std::as_const(records)) {
        QSharedPointer<PigeonRecord> record = Storage::instance()->findRecordById(b.assocNum);
        QVERIFY2(record, qPrintable(b.assocNum));
        record->markOrder = 99; // whatever it held before
        list << record;
    }
    const QList<QSharedPointer<PigeonRecord>> sharer = list; // shares the records
    PigeonRecord::fillMarkOrder(list);
    QList<int> filled;
    for (const auto &record : sharer)
        filled << record->markOrder;
    QCOMPARE(filled, orders);
    // The list is filled from one read per race: each record alone must
    // come to the same order.
    for (const auto &record : sharer) {
        PigeonRecord alone = *record;
        alone.markOrder = 99;
        alone.fillMarkOrder();
        QCOMPARE(alone.markOrder, record->markOrder);
    }

    PigeonRecord::sortByMarkOrder(list);
    QStringList names;
    for (const auto &record : std::as_const(list))
        names << record->assocNum;
    QCOMPARE(names, sorted);
}

void TestMarkOrder::emptyList_looksNothingUp()
{
    StorageFixture db;
    QList<QSharedPointer<PigeonRecord>> list;
    const quint64 statements = Storage::statementCount();
    PigeonRecord::fillMarkOrder(list);
    PigeonRecord::sortByMarkOrder(list);
    QVERIFY(list.isEmpty());
    QCOMPARE(Storage::statementCount(), statements);
}

// The printed list of a full race: a fixed number of reads per race, not one
// per pigeon (each of which scans the race), whatever the race's size.
void TestMarkOrder::fullRace_readsEachRaceOnce()
{
    constexpr int kPigeons = 300;
    StorageFixture db;
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,Valid,OtherData) values('R1',3,'{}')")));
    QVERIFY(db.exec(QStringLiteral("insert into Race(RaceCode,Valid,OtherData) values('N',3,'{\"nomination\":1}')")));
    QVERIFY(db.exec(QStringLiteral("BEGIN")));
    for (int i = 0; i < kPigeons; ++i) {
        const QString race = i % 2 ? QStringLiteral("N") : QStringLiteral("R1");
        QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values('P%1','%1','%2',%3)")
                            .arg(i)
                            .arg(race)
                            .arg(at(kPigeons - i / 2))));
        if (i % 2)
            QVERIFY(db.exec(QStringLiteral("insert into Nomination(AssocNum,RaceCode,Nom) values('P%1','N',%2)")
                                .arg(i)
                                .arg(i / 2 + 1)));
    }
    QVERIFY(db.exec(QStringLiteral("COMMIT")));
    const QList<QSharedPointer<PigeonRecord>> list = Storage::instance()->queryRecords(QString(), QStringLiteral("AssocNum"));
    QCOMPARE(list.size(), kPigeons);

    const quint64 statements = Storage::statementCount();
    PigeonRecord::fillMarkOrder(list);
    QVERIFY2(Storage::statementCount() - statements <= 4, "a race read once for its nomination flag and its orders");
    for (const auto &record : list) {
        const int i = record->assocNum.mid(1).toInt();
        // Later pigeons were basketed earlier; the nominated ones carry their number.
        QCOMPARE(record->markOrder, i % 2 ? i / 2 + 1 : kPigeons / 2 - i / 2);
    }
}

QTEST_GUILESS_MAIN(TestMarkOrder)
#include "tst_markorder.moc"
