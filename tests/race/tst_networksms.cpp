// The race engine's SMS turn on the whole road: the real modem thread (its
// loop scaled) on the u-blox modem peer, which records every SMS and refuses
// those to chosen numbers; the engine behind a gate that lets single turns
// through. Covers the test SMS, the authenticated record SMS by upload mode,
// the owner notifications and the faults mended in them.
#include "core/servicefactory.h"
#include "storage/storage.h"

#include "networkrig.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTest>

namespace {

constexpr qint64 kMarkTime = 1699990000000;
constexpr qint64 kBackTime = 1700003600000;
const char kSmsHost[] = "+4900";
const char kTestText[] = "Quarvelo W5 SMS Test OK!";

// An arrival of a race R1 pigeon (or a training one), SMS wanted, not sent.
PigeonRecord arrival(const QString &assocNum, int order, bool training = false)
{
    NetworkRig::addPigeon(assocNum);
    PigeonRecord r;
    r.assocNum = assocNum;
    r.eringNum = QStringLiteral("E") + QString::number(order);
    r.raceCode = training ? QStringLiteral("train") : QStringLiteral("R1");
    r.markTime = training ? 0 : kMarkTime + order;
    r.backTimeEring = kBackTime + order * 1000;
    r.backOrder = order;
    r.uidBack = QStringLiteral("U") + QString::number(order);
    r.needSms = true;
    return r;
}

QList<PeerSms> smsTo(const NetworkRig &rig, const QByteArray &number)
{
    QList<PeerSms> out;
    for (const PeerSms &sms : rig.peer.sms()) {
        if (sms.number == number)
            out << sms;
    }
    return out;
}

// The record SMS's code, as the SMS host computes it.
QString recordCode(const QString &text)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(QByteArray("00000000"));
    md5.addData(QByteArray("secret"));
    md5.addData(text.toLatin1());
    return QString::fromLatin1(md5.result().left(4).toHex().toUpper());
}

// Checks one record SMS: "FV5R:", 18 fields, the code over them.
void checkRecordSms(const PeerSms &sms, const QString &assocNum)
{
    QVERIFY(sms.text.startsWith(QStringLiteral("FV5R:")));
    const QString body = sms.text.mid(5);
    const int lastComma = int(body.lastIndexOf(QLatin1Char(',')));
    const QString text = body.left(lastComma);
    QCOMPARE(body.mid(lastComma + 1), recordCode(text));
    QCOMPARE(text.split(QLatin1Char(',')).size(), 18);
    QCOMPARE(text.split(QLatin1Char(',')).value(6), assocNum);
    QVERIFY(!sms.text.contains(QStringLiteral("secret")));
}

} // namespace

class TestNetworkSms : public QObject
{
    Q_OBJECT
private slots:
    void testSms_sentAloneThenTheRest();
    void recordSms_byUploadMode_data();
    void recordSms_byUploadMode();
    void notifications_highestOrder_data();
    void notifications_highestOrder();
    void notifications_refusedPhone_stopsTheTurn();
    void recordSms_refused_recordUnchanged();
    void overlongSkipped_laterStillGo_quotedNumberMarked();
    void recordSms_controlCharactersInAField_signedAsSent_data();
    void recordSms_controlCharactersInAField_signedAsSent();
};

void TestNetworkSms::testSms_sentAloneThenTheRest()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x02; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    NetworkRig::saveRecord(arrival(QStringLiteral("P1"), 1));
    rig.engine.saveNotifyPhones({QStringLiteral("+4911")});
    // A text past a zero byte is not part of the number.
    rig.engine.startTestSMS(QStringLiteral("+4922") + QChar(0) + QStringLiteral("99"));

    QCOMPARE(rig.runTurn(TurnGate::Sms), 0);
    QCOMPARE(rig.peer.sms().size(), 1);
    QCOMPARE(rig.peer.sms().first().number, QByteArray("+4922"));
    QCOMPARE(rig.peer.sms().first().text, QLatin1String(kTestText));
    QVERIFY(!NetworkRig::record(QStringLiteral("P1"))->eringUploadState);

    // The next turn: the record SMS, then the notification; the test SMS once.
    QCOMPARE(rig.runTurn(TurnGate::Sms), 0);
    QCOMPARE(smsTo(rig, kSmsHost).size(), 1);
    QCOMPARE(smsTo(rig, "+4911").size(), 1);
    QCOMPARE(smsTo(rig, "+4922").size(), 1);
    QCOMPARE(rig.runTurn(TurnGate::Sms), 1);
}

void TestNetworkSms::recordSms_byUploadMode_data()
{
    QTest::addColumn<int>("uploadMode");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("0x02: race") << 0x02 << QStringList{"PR"};
    QTest::newRow("0x04: training") << 0x04 << QStringList{"PT"};
    QTest::newRow("0x06: both, race first") << 0x06 << QStringList{"PR", "PT"};
    QTest::newRow("0x02 with 0x20: by data upload") << 0x22 << QStringList{};
    QTest::newRow("0x04 with 0x40: by data upload") << 0x44 << QStringList{};
}

void TestNetworkSms::recordSms_byUploadMode()
{
    QFETCH(int, uploadMode);
    QFETCH(QStringList, sent);
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([uploadMode](LoftInfo &l) { l.uploadMode = uploadMode; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    PigeonRecord race = arrival(QStringLiteral("PR"), 1);
    race.backTimeUid = kBackTime + 1500;
    NetworkRig::saveRecord(race);
    NetworkRig::saveRecord(arrival(QStringLiteral("PT"), 2, true));
    // Nothing new to send: ring sent and no uid.
    PigeonRecord done = arrival(QStringLiteral("PD"), 3);
    done.eringUploadState = true;
    NetworkRig::saveRecord(done);

    QCOMPARE(rig.runTurn(TurnGate::Sms), sent.isEmpty() ? 1 : 0);
    const QList<PeerSms> records = smsTo(rig, kSmsHost);
    QCOMPARE(records.size(), sent.size());
    for (int i = 0; i < sent.size(); ++i) {
        checkRecordSms(records.at(i), sent.at(i));
        const auto stored = NetworkRig::record(sent.at(i));
        QVERIFY(stored->eringUploadState);
        QCOMPARE(stored->uidUploadState, stored->backTimeUid != 0);
    }
    QCOMPARE(rig.logRows(3), int(sent.size()));
    if (sent.contains(QStringLiteral("PT")))
        QVERIFY(smsTo(rig, kSmsHost).last().text.contains(QStringLiteral(",PT,E2,")));
    QCOMPARE(rig.runTurn(TurnGate::Sms), 1);
    QCOMPARE(smsTo(rig, kSmsHost).size(), sent.size());
}

void TestNetworkSms::notifications_highestOrder_data()
{
    QTest::addColumn<int>("highest");
    QTest::addColumn<int>("notified");
    QTest::newRow("up to order 3") << 3 << 3;
    QTest::newRow("255: every arrival") << 255 << 5;
    QTest::newRow("default: the winner only") << -1000 << 1;
}

void TestNetworkSms::notifications_highestOrder()
{
    QFETCH(int, highest);
    QFETCH(int, notified);
    NetworkRig rig;
    QVERIFY(rig.isReady());
    if (highest != -1000)
        ServiceFactory::setParamInt32(QStringLiteral("cmbSMSNotifyNum"), highest);
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    for (int order = 5; order >= 1; --order)
        NetworkRig::saveRecord(arrival(QStringLiteral("P%1").arg(order), order));
    rig.engine.saveNotifyPhones({QString(), QStringLiteral("+4911")});

    QCOMPARE(rig.runTurn(TurnGate::Sms), 0);
    const QList<PeerSms> sms = smsTo(rig, "+4911");
    QCOMPARE(sms.size(), notified);
    QCOMPARE(rig.peer.sms().size(), notified); // the empty phone is skipped
    for (int order = 1; order <= 5; ++order) {
        QCOMPARE(NetworkRig::record(QStringLiteral("P%1").arg(order))->smsSendState, order <= notified);
        if (order <= notified)
            QVERIFY(sms.at(order - 1).text.startsWith(QStringLiteral("Order:%1,Club:RC,").arg(order)));
    }
    QCOMPARE(rig.logRows(14), notified);
    QCOMPARE(rig.runTurn(TurnGate::Sms), 1);
}

void TestNetworkSms::notifications_refusedPhone_stopsTheTurn()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    NetworkRig::saveRecord(arrival(QStringLiteral("P1"), 1));
    rig.engine.saveNotifyPhones({QStringLiteral("+4911"), QStringLiteral("+4912"), QStringLiteral("+4913")});
    rig.peer.update([](ModemState &s) { s.refusedSmsNumbers << "+4912"; });

    QCOMPARE(rig.runTurn(TurnGate::Sms), 2);
    QCOMPARE(smsTo(rig, "+4911").size(), 1);
    QCOMPARE(smsTo(rig, "+4912").size(), 1); // tried and refused
    QCOMPARE(smsTo(rig, "+4913").size(), 0); // not tried this turn
    QVERIFY(NetworkRig::record(QStringLiteral("P1"))->smsSendState); // marked after the first phone
    QCOMPARE(rig.logRows(14), 1);
}

void TestNetworkSms::recordSms_refused_recordUnchanged()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x02; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    NetworkRig::saveRecord(arrival(QStringLiteral("P1"), 1));
    NetworkRig::saveRecord(arrival(QStringLiteral("P2"), 2));
    rig.peer.update([](ModemState &s) { s.refusedSmsNumbers << kSmsHost; });
    const QString before = rig.db.dump();

    QCOMPARE(rig.runTurn(TurnGate::Sms), 2);
    QCOMPARE(smsTo(rig, kSmsHost).size(), 1); // the turn ends at the refused one
    QCOMPARE(rig.db.dump(), before);
}

void TestNetworkSms::overlongSkipped_laterStillGo_quotedNumberMarked()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x02; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    NetworkRig::addRace(QStringLiteral("R2"), 4);
    NetworkRig::addRace(QStringLiteral("R3"), 4);
    {
        // A liberation name long enough to push the record SMS past 160
        // characters, and a liberation code that does so to the notification.
        QSharedPointer<RaceInfo> r2 = NetworkRig::race(QStringLiteral("R2"));
        r2->liberName = QString(120, QLatin1Char('L'));
        Storage::instance()->saveRace(r2.data());
        QSharedPointer<RaceInfo> r3 = NetworkRig::race(QStringLiteral("R3"));
        r3->liberCode = QString(120, QLatin1Char('C'));
        Storage::instance()->saveRace(r3.data());
    }
    PigeonRecord longOne = arrival(QStringLiteral("P1"), 1);
    longOne.raceCode = QStringLiteral("R2");
    NetworkRig::saveRecord(longOne);
    NetworkRig::saveRecord(arrival(QStringLiteral("P'2"), 2));
    PigeonRecord longNotice = arrival(QStringLiteral("P3"), 3);
    longNotice.raceCode = QStringLiteral("R3");
    NetworkRig::saveRecord(longNotice);
    rig.engine.saveNotifyPhones({QStringLiteral("+4911")});
    ServiceFactory::setParamInt32(QStringLiteral("cmbSMSNotifyNum"), 255);

    QCOMPARE(rig.runTurn(TurnGate::Sms), 0);
    const QList<PeerSms> records = smsTo(rig, kSmsHost);
    QCOMPARE(records.size(), 2);
    checkRecordSms(records.first(), QStringLiteral("P'2"));
    checkRecordSms(records.last(), QStringLiteral("P3"));
    QVERIFY(rig.capture.contains(QStringLiteral("Record SMS too long, not sent: P1")));
    QVERIFY(!NetworkRig::record(QStringLiteral("P1"))->eringUploadState);
    QVERIFY(NetworkRig::record(QStringLiteral("P'2"))->eringUploadState);
    // The notifications that fit went, the quoted number's mark included.
    QCOMPARE(smsTo(rig, "+4911").size(), 2);
    QVERIFY(rig.capture.contains(QStringLiteral("Notification SMS too long, not sent: P3")));
    QVERIFY(NetworkRig::record(QStringLiteral("P1"))->smsSendState);
    QVERIFY(NetworkRig::record(QStringLiteral("P'2"))->smsSendState);
    QVERIFY(!NetworkRig::record(QStringLiteral("P3"))->smsSendState);
    for (const PeerSms &sms : rig.peer.sms())
        QVERIFY(sms.text.size() <= 160);
    // What was skipped does not come back as work each turn.
    QCOMPARE(rig.runTurn(TurnGate::Sms), 1);
    QCOMPARE(rig.peer.sms().size(), 4);
}

void TestNetworkSms::recordSms_controlCharactersInAField_signedAsSent_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    const QString tab = QStringLiteral("NL\t1");
    const QString ctrlZ = QStringLiteral("NL\x1A" "2");
    const QString mixed = QStringLiteral("\r\nNL\x1B" "3\x7F");
    QTest::newRow("loft number, tab") << "loftNum" << tab;
    QTest::newRow("club code, Ctrl-Z") << "clubCode" << ctrlZ;
    QTest::newRow("race code, CR LF ESC DEL") << "raceCode" << mixed;
    QTest::newRow("liberation name, tab") << "liberName" << tab;
    QTest::newRow("association code, Ctrl-Z") << "assocCode" << ctrlZ;
    QTest::newRow("association number, tab") << "assocNum" << tab;
    QTest::newRow("ring number, CR LF ESC DEL") << "eringNum" << mixed;
    QTest::newRow("uid, tab") << "uidBack" << tab;
}

// A control character the PC put into a field never reaches the air, and
// the code is computed over what does: the SMS host can verify the text it
// receives, and the record is marked sent for exactly that text.
void TestNetworkSms::recordSms_controlCharactersInAField_signedAsSent()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([&](LoftInfo &l) {
        l.uploadMode = 0x02;
        if (field == QLatin1String("loftNum"))
            l.loftNum = value;
    });
    const QString raceCode = field == QLatin1String("raceCode") ? value : QStringLiteral("R1");
    NetworkRig::addRace(raceCode, 4);
    {
        QSharedPointer<RaceInfo> race = NetworkRig::race(raceCode);
        if (field == QLatin1String("clubCode"))
            race->clubCode = value;
        if (field == QLatin1String("liberName"))
            race->liberName = value;
        if (field == QLatin1String("assocCode"))
            race->assocCode = value;
        Storage::instance()->saveRace(race.data());
    }
    const QString assocNum = field == QLatin1String("assocNum") ? value : QStringLiteral("P1");
    PigeonRecord record = arrival(assocNum, 1);
    record.raceCode = raceCode;
    if (field == QLatin1String("eringNum"))
        record.eringNum = value;
    if (field == QLatin1String("uidBack"))
        record.uidBack = value;
    NetworkRig::saveRecord(record);

    QCOMPARE(rig.runTurn(TurnGate::Sms), 0);
    const QList<PeerSms> records = smsTo(rig, kSmsHost);
    QCOMPARE(records.size(), 1);
    for (const QChar c : records.first().text)
        QVERIFY2(c.unicode() >= 0x20 && c.unicode() != 0x7F, qPrintable(records.first().text));
    QString sent = value;
    sent.remove(QRegularExpression(QStringLiteral("[\\x00-\\x1F\\x7F]")));
    checkRecordSms(records.first(), field == QLatin1String("assocNum") ? sent : QStringLiteral("P1"));
    QVERIFY(records.first().text.contains(sent));
    QVERIFY(NetworkRig::record(assocNum)->eringUploadState);
    QCOMPARE(rig.runTurn(TurnGate::Sms), 1); // marked sent: not sent again
}

QTEST_GUILESS_MAIN(TestNetworkSms)
#include "tst_networksms.moc"
