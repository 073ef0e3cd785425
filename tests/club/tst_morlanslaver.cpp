#include "club/morlanslaver.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "storage/loftinfo.h"
#include "storage/storage.h"

#include "messagecapture.h"
#include "slaverfixture.h"

#include <QCryptographicHash>
#include <QTest>

// The slave commands and the JSON envelope, with the loft, parameter, log and
// GPS methods, driven by the PC peer's own frames through a handler in memory.
class TestMorlanSlaver : public QObject
{
    Q_OBJECT
private slots:
    void firmwareAndModuleMode_data();
    void firmwareAndModuleMode();
    void showTip_textBeforeZeroByte_noReply();
    void deviceInfo_data();
    void deviceInfo();
    void authenticate_data();
    void authenticate();
    void authenticate_shortChallenge_keepsTheKey();
    void initialise_data();
    void initialise();
    void initialise_refused_data();
    void initialise_refused();
    void initialise_lengthByte5_0x50WithoutSync();
    void foreignFrames_data();
    void foreignFrames();
    void noiseWithoutStartByte_onePollSkipsABoundedRun();
    void replyLimit_data();
    void replyLimit();

    void envelope_data();
    void envelope();
    void requestId_keptUntilTheNextParsedRequest();
    void replyText_sevenEscapesAndUtf8();

    void getLoftInfo_data();
    void getLoftInfo();
    void setLoftInfo_cacheThenStore();
    void setLoftInfo_emptyLoftNumber_cachedChangesLost();
    void setLoftInfo_apnAndLanguageChecked_data();
    void setLoftInfo_apnAndLanguageChecked();
    void params_data();
    void params();
    void queryLog_limit_data();
    void queryLog_limit();
    void getLogInfo_indexDefaultsAndPieces();
    void clearLog_data();
    void clearLog();
    void adjustGpsUtc_storesAndSets();
};

namespace {

constexpr quint8 kFirmware = 0xC5;
constexpr quint8 kModule = 0xC6;
constexpr quint8 kInit = 0xC2;
constexpr quint8 kJson = 0xC0;
constexpr quint8 kAuth = 0xC1;

QByteArray sysId()
{
    return QByteArray::fromHex("1A2B3C4D");
}

// The tables the device initialisation erases, in one text.
QString dataTables(SlaverFixture &f)
{
    return f.scalar(QStringLiteral("select * from LOFTINFO")) + QLatin1Char('#')
        + f.scalar(QStringLiteral("select * from pigeon order by AssocNum")) + QLatin1Char('#')
        + f.scalar(QStringLiteral("select * from record order by AssocNum")) + QLatin1Char('#')
        + f.scalar(QStringLiteral("select * from race order by RaceCode"));
}

void seedClock(SlaverFixture &f)
{
    f.seedLoft(QLatin1String(SlaverFixture::kLoftNum), QLatin1String(SlaverFixture::kPassword));
    f.addPigeon(QStringLiteral("P-1"), QStringLiteral("0A0B0C0D"));
    f.addPigeon(QStringLiteral("P-2"));
    f.addRace(QStringLiteral("R-1"), QStringLiteral("printed"));
    f.basket(QStringLiteral("P-1"), QStringLiteral("R-1"), SlaverFixture::kClubTimeMs - 1000);
}

} // namespace

void TestMorlanSlaver::firmwareAndModuleMode_data()
{
    QTest::addColumn<quint8>("command");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QList<int>>("modes");
    QTest::newRow("firmware") << kFirmware << QByteArray() << QByteArray::fromHex("46300009") << QList<int>{};
    QTest::newRow("module mode 1") << kModule << QByteArray::fromHex("01") << QByteArray() << QList<int>{1};
    // Passed on as it came: the reader discards what it cannot use.
    QTest::newRow("module mode 3") << kModule << QByteArray::fromHex("03") << QByteArray() << QList<int>{3};
    QTest::newRow("module mode missing") << kModule << QByteArray() << QByteArray() << QList<int>{0};
}

void TestMorlanSlaver::firmwareAndModuleMode()
{
    QFETCH(quint8, command);
    QFETCH(QByteArray, data);
    SlaverFixture f;
    const PcPeer::Answer answer = f.peer.exchange(command, data);
    QVERIFY(answer.received && answer.sumOk);
    QCOMPARE(answer.command, command);
    QCOMPARE(answer.address, PcPeer::kAddress);
    QCOMPARE(answer.status, quint8(0));
    QTEST(answer.data, "answer");
    QTEST(f.link.moduleModes, "modes");
}

void TestMorlanSlaver::showTip_textBeforeZeroByte_noReply()
{
    SlaverFixture f;
    MessageCapture capture;
    const QByteArray text = QStringLiteral("Dach für Tauben").toUtf8() + '\0' + "hidden";
    QVERIFY(f.peer.showTip(text).isEmpty());
    QCOMPARE(f.link.tips, QStringList{QStringLiteral("Dach für Tauben")});
    // The debug line shows the text in double quotes (which Qt escapes).
    QVERIFY(capture.contains(QStringLiteral("\\\"Dach für Tauben\\\"")));
}

void TestMorlanSlaver::deviceInfo_data()
{
    QTest::addColumn<QString>("loftNum");
    QTest::newRow("clock set up") << QStringLiteral("NL-1234");
    QTest::newRow("empty loft number") << QString();
}

void TestMorlanSlaver::deviceInfo()
{
    QFETCH(QString, loftNum);
    SlaverFixture f;
    f.seedLoft(loftNum, QStringLiteral("pw"));
    PcPeer::Answer answer = f.peer.deviceInfo();
    QCOMPARE(answer.status, quint8(0));
    QCOMPARE(answer.data, sysId() + loftNum.toUtf8());

    // Changed behind the service's back: a read copy stays, an unread one
    // (empty loft number) is read again.
    Storage::instance()->formatDevice(QStringLiteral("LATE-7"), QStringLiteral("pw"));
    answer = f.peer.deviceInfo();
    QCOMPARE(answer.data, sysId() + (loftNum.isEmpty() ? QByteArray("LATE-7") : loftNum.toUtf8()));
}

void TestMorlanSlaver::authenticate_data()
{
    QTest::addColumn<QByteArray>("challenge");
    QTest::addColumn<bool>("infoFirst");
    QTest::addColumn<QString>("believedPassword");
    QTest::addColumn<bool>("matches");
    QTest::newRow("first in the stay: empty password")
        << QByteArray::fromHex("01020304") << false << QString() << true;
    QTest::newRow("first in the stay: the loft's password does not count")
        << QByteArray::fromHex("01020304") << false << QStringLiteral("s3cret") << false;
    QTest::newRow("six bytes: the first four are the challenge")
        << QByteArray::fromHex("A1A2A3A4A5A6") << false << QString() << true;
    QTest::newRow("after device information: the loft's password")
        << QByteArray::fromHex("FFFEFDFC") << true << QStringLiteral("s3cret") << true;
}

void TestMorlanSlaver::authenticate()
{
    QFETCH(QByteArray, challenge);
    QFETCH(bool, infoFirst);
    QFETCH(QString, believedPassword);
    QFETCH(bool, matches);
    SlaverFixture f;
    seedClock(f);
    if (infoFirst)
        f.peer.deviceInfo();
    f.peer.setPassword(believedPassword);
    const PcPeer::Answer answer = f.peer.authenticate(challenge);
    QCOMPARE(answer.status, quint8(0));
    QCOMPARE(answer.data.size(), 8);
    QCOMPARE(f.peer.digestMatched(), matches);
    if (matches) // both ends hold the same session key
        if (!f.replies(R"({"method":"getParams"})", R"({"result":{"userMode":2}})"))
        return;
}

void TestMorlanSlaver::authenticate_shortChallenge_keepsTheKey()
{
    SlaverFixture f;
    f.openSession(false);
    QCOMPARE(f.peer.exchange(kAuth, QByteArray::fromHex("010203")).status, quint8(0x50));
    if (!f.replies(R"({"method":"getParams"})", R"({"result":{"userMode":2}})"))
        return;
}

void TestMorlanSlaver::initialise_data()
{
    QTest::addColumn<bool>("info");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("loftNum");
    QTest::addColumn<QString>("password");
    QTest::newRow("after 0xC1 and 0xC3") << true << QByteArray("NEW-9,pw2") << "NEW-9" << "pw2";
    QTest::newRow("0xC1 only: tag without system id") << false << QByteArray("NEW-9,pw2") << "NEW-9" << "pw2";
    QTest::newRow("empty password") << true << QByteArray("NEW-9,") << "NEW-9" << "";
    QTest::newRow("fields end at a zero byte, more fields ignored")
        << true << QByteArray("NEW-9\0x,pw2\0y,extra", 19) << "NEW-9" << "pw2";
    QTest::newRow("quote in the loft number") << true << QByteArray("O'NEIL,p'w") << "O'NEIL" << "p'w";
}

void TestMorlanSlaver::initialise()
{
    QFETCH(bool, info);
    QFETCH(QByteArray, body);
    QFETCH(QString, loftNum);
    QFETCH(QString, password);
    SlaverFixture f;
    seedClock(f);
    if (!f.replies(R"({"method":"getParams","id":42})", R"({"id":42,"result":{"userMode":2}})"))
        return;
    f.openSession(info);
    f.db.root().clearBoardCommands(); // the start-up's own flushes
    const PcPeer::JsonReply reply = f.peer.initialise(body);
    QVERIFY(reply.tagOk);
    const QByteArray nullWithId = R"({"id":42,"result":null})";
    QCOMPARE(reply.text, nullWithId);
    QCOMPARE(f.scalar(QStringLiteral("select Id,LoftNum,Password from LOFTINFO")),
             QStringLiteral("1|%1|%2").arg(loftNum, password));
    QCOMPARE(f.scalar(QStringLiteral("select (select count(*) from pigeon)+(select count(*) from record)"
                                     "+(select count(*) from race)")),
             QStringLiteral("0"));
    QCOMPARE(f.link.reflushCount, 1);
    QCOMPARE(f.syncCount(), 1);
    // The loft copy was reset: the next use reads the new row.
    QCOMPARE(f.peer.deviceInfo().data, sysId() + loftNum.toUtf8());
}

void TestMorlanSlaver::initialise_refused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("wrong tag") << QByteArray("NEW-9,pw") << "wrong"
                               << QByteArray(R"({"error":1285,"result":"MD5 Error!"})");
    QTest::newRow("system id in the tag without 0xC3 in the stay")
        << QByteArray("NEW-9,pw") << "with id" << QByteArray(R"({"error":1285,"result":"MD5 Error!"})");
    QTest::newRow("no comma") << QByteArray("NEW-9") << "good"
                              << QByteArray(R"({"error":1287,"result":"Unknown exception!"})");
    QTest::newRow("empty loft number") << QByteArray(",pw") << "good"
                                       << QByteArray(R"({"error":285212672,"result":"Loft Number is empty!"})");
}

void TestMorlanSlaver::initialise_refused()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, tag);
    SlaverFixture f;
    seedClock(f);
    const QString before = dataTables(f);
    f.openSession(tag != QLatin1String("with id"));
    if (tag == QLatin1String("with id"))
        f.peer.setLearnedSystemId(sysId());
    f.db.root().clearBoardCommands();
    QByteArray frameData = body + f.peer.initTag(body);
    if (tag == QLatin1String("wrong"))
        frameData[frameData.size() - 1] = char(frameData.back() ^ 0x01);
    const PcPeer::JsonReply reply = f.peer.readJson(f.peer.exchange(kInit, frameData));
    QVERIFY(reply.tagOk);
    QTEST(reply.text, "reply");
    QCOMPARE(dataTables(f), before);
    QCOMPARE(f.link.reflushCount, 0);
    QCOMPARE(f.syncCount(), 1);
}

void TestMorlanSlaver::initialise_lengthByte5_0x50WithoutSync()
{
    SlaverFixture f;
    seedClock(f);
    f.openSession();
    f.db.root().clearBoardCommands();
    QCOMPARE(f.peer.exchange(kInit, QByteArray("A,xyz")).status, quint8(0x50));
    QCOMPARE(f.syncCount(), 0);
    QCOMPARE(f.scalar(QStringLiteral("select LoftNum from LOFTINFO")), QStringLiteral("NL-1234"));
}

void TestMorlanSlaver::foreignFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("answered");
    const QByteArray good = PcPeer::requestFrame(PcPeer::kAddress, kFirmware, QByteArray());
    QByteArray badSum = good;
    badSum[badSum.size() - 1] = char(badSum.back() + 1);
    QTest::newRow("address 0x56") << PcPeer::requestFrame(0x56, kFirmware, QByteArray()) << false;
    QTest::newRow("command 0xC7") << PcPeer::requestFrame(PcPeer::kAddress, 0xC7, QByteArray()) << false;
    QTest::newRow("bad sum") << badSum << false;
    QTest::newRow("cut short") << good.chopped(1) << false;
    QTest::newRow("address 0x21 is the clock too") << PcPeer::requestFrame(0x21, kFirmware, QByteArray()) << true;
    QTest::newRow("garbage before the start byte") << QByteArray("\x00\x33\xFF zz", 6) + good << true;
}

void TestMorlanSlaver::foreignFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, answered);
    SlaverFixture f;
    const QByteArray heard = f.peer.sendExpectingSilence(bytes);
    if (!answered) {
        QCOMPARE(heard, QByteArray());
        return;
    }
    QCOMPARE(heard.size(), 10);
    QCOMPARE(heard.mid(5, 4), QByteArray::fromHex("46300009"));
}

void TestMorlanSlaver::noiseWithoutStartByte_onePollSkipsABoundedRun()
{
    // A line that always has bytes waiting, none of them a start byte: each
    // poll gives the line back after a bounded run, so the link thread sees
    // a mode change between polls.
    SlaverFixture f;
    constexpr int kNoiseBytes = 100000;
    f.link.port.queueInput(QByteArray(kNoiseBytes, char(0x55)));
    f.link.handler().parseRequest();
    const int skipped = kNoiseBytes - f.link.port.inputWaiting();
    QVERIFY2(skipped > 0 && skipped <= 1000, qPrintable(QString::number(skipped)));
    QVERIFY(f.link.port.written().isEmpty());
}

void TestMorlanSlaver::replyLimit_data()
{
    QTest::addColumn<int>("extra");
    QTest::addColumn<quint8>("status");
    QTest::newRow("254 data bytes") << 0 << quint8(0);
    QTest::newRow("255 data bytes") << 1 << quint8(0x50);
}

void TestMorlanSlaver::replyLimit()
{
    QFETCH(int, extra);
    SlaverFixture f;
    f.seedLoft(QStringLiteral("NL-1"), QString());
    // The owner's name sized so that text and tag fill the frame exactly.
    const int frame = int(QByteArray(R"({"result":{"ownerName":""}})").size()) + 4;
    LoftInfo loft;
    Storage::instance()->readLoftInfo(&loft);
    loft.ownerName = QString(254 - frame + extra, QLatin1Char('x'));
    Storage::instance()->saveLoftInfo(&loft);
    const PcPeer::JsonReply reply = f.peer.call(R"({"method":"getLoftInfo","fields":["ownerName"]})");
    QVERIFY(reply.answer.received && reply.answer.sumOk);
    QTEST(reply.answer.status, "status");
    if (extra == 0) {
        QCOMPARE(reply.answer.data.size(), 254);
        QVERIFY(reply.ok());
    } else {
        QVERIFY(reply.answer.data.isEmpty());
    }
}

void TestMorlanSlaver::envelope_data()
{
    QTest::addColumn<bool>("session");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray userMode = R"({"result":{"userMode":2}})";
    const QByteArray getParams = R"({"method":"getParams"})";
    QTest::newRow("3 data bytes") << false << "raw" << QByteArray("abc") << QByteArray("status 50");
    QTest::newRow("wrong last tag byte") << true << "wrong" << getParams << QByteArray("status 51");
    QTest::newRow("before 0xC1: tags over the text alone") << false << "keyed" << getParams << userMode;
    QTest::newRow("after 0xC1: tags keyed") << true << "keyed" << getParams << userMode;
    QTest::newRow("after 0xC1: a tag over the text alone") << true << "alone" << getParams
                                                           << QByteArray("status 51");
    QTest::newRow("method in capitals")
        << true << "keyed" << QByteArray(R"({"method":"GETLOFTINFO","params":{"fields":["loftNum"]},"id":1})")
        << QByteArray(R"({"id":1,"result":{"loftNum":"NL-1234"}})");
    QTest::newRow("parameters beside the method")
        << true << "keyed" << QByteArray(R"({"method":"getLoftInfo","fields":["loftNum"],"id":5})")
        << QByteArray(R"({"id":5,"result":{"loftNum":"NL-1234"}})");
    QTest::newRow("params not an object") << true << "keyed"
                                          << QByteArray(R"({"method":"getParams","params":7,"fields":["gsmNet"]})")
                                          << userMode;
    QTest::newRow("array") << true << "keyed" << QByteArray(R"([{"method":"getParams"}])")
                           << QByteArray(R"({"error":1284,"result":"Method is null"})");
    QTest::newRow("number") << true << "keyed" << QByteArray("5")
                            << QByteArray(R"({"error":1284,"result":"Json parse falied!"})");
    QTest::newRow("string") << true << "keyed" << QByteArray(R"("getParams")")
                            << QByteArray(R"({"error":1284,"result":"Json parse falied!"})");
    QTest::newRow("cut JSON") << true << "keyed" << QByteArray(R"({"method":"getPar)")
                              << QByteArray(R"({"error":1284,"result":"Json parse falied!"})");
    QTest::newRow("no method") << true << "keyed" << QByteArray(R"({"id":3})")
                               << QByteArray(R"({"error":1284,"result":"Method is null"})");
    QTest::newRow("null method") << true << "keyed" << QByteArray(R"({"method":null,"id":3})")
                                 << QByteArray(R"({"error":1284,"result":"Method is null"})");
    QTest::newRow("unknown method: silence") << true << "keyed" << QByteArray(R"({"method":"formatDisk","id":4})")
                                             << QByteArray();
    QTest::newRow("duplicate keys: the last wins")
        << true << "keyed" << QByteArray(R"({"method":"getLoftInfo","method":"getParams"})") << userMode;
    QTest::newRow("error with id") << true << "keyed" << QByteArray(R"({"method":"savePigeon","id":7})")
                                   << QByteArray(R"({"error":1280,"id":7,"result":"AssocNum is null!"})");
    QTest::newRow("null result, no id") << true << "keyed" << QByteArray(R"({"method":"clearLog","count":-1})")
                                        << QByteArray(R"({"result":null})");
    QTest::newRow("null id") << true << "keyed" << QByteArray(R"({"method":"clearLog","count":-1,"id":null})")
                             << QByteArray(R"({"result":null})");
    QTest::newRow("structured id, keys ascending")
        << true << "keyed" << QByteArray(R"({"method":"clearLog","count":-1,"id":{"b":[1,"x"],"a":true}})")
        << QByteArray(R"({"id":{"a":true,"b":[1,"x"]},"result":null})");
    QTest::newRow("wrong value type: \"abc\" as an index is 0")
        << true << "keyed" << QByteArray(R"({"method":"getLogInfo","index":"abc"})")
        << QByteArray(R"({"error":1287,"result":"Index overflow!"})");
}

void TestMorlanSlaver::envelope()
{
    QFETCH(bool, session);
    QFETCH(QString, tag);
    QFETCH(QByteArray, text);
    SlaverFixture f;
    f.seedLoft(QLatin1String(SlaverFixture::kLoftNum), QString());
    if (session)
        f.openSession(false);
    QByteArray reply;
    if (tag == QLatin1String("raw")) {
        reply = "status " + QByteArray::number(f.peer.exchange(kJson, text).status, 16);
    } else if (tag == QLatin1String("keyed")) {
        reply = f.json(text);
    } else {
        QByteArray bytes = tag == QLatin1String("alone")
            ? QCryptographicHash::hash(text, QCryptographicHash::Md5).left(4)
            : f.peer.jsonTag(text);
        if (tag == QLatin1String("wrong"))
            bytes[3] = char(bytes[3] ^ 0x80);
        const PcPeer::JsonReply answer = f.peer.callTagged(text, bytes);
        reply = "status " + QByteArray::number(answer.answer.status, 16);
    }
    QTEST(reply, "reply");
}

void TestMorlanSlaver::requestId_keptUntilTheNextParsedRequest()
{
    SlaverFixture f;
    f.openSession(false);
    if (!f.replies(R"({"method":"getParams","id":9})", R"({"id":9,"result":{"userMode":2}})"))
        return;
    const QByteArray broken = R"({"method":)";
    const QByteArray failedWithId9 = R"({"error":1284,"id":9,"result":"Json parse falied!"})";
    QCOMPARE(f.json(broken), failedWithId9);
    // A request whose tag fails changes nothing, not even the id.
    const QByteArray other = R"({"method":"getParams","id":10})";
    QByteArray wrongTag = f.peer.jsonTag(other);
    wrongTag[0] = char(wrongTag[0] ^ 0x01);
    QCOMPARE(f.peer.callTagged(other, wrongTag).answer.status, quint8(0x51));
    QCOMPARE(f.json(broken), failedWithId9);
    // An unknown method is not answered, but its id is taken.
    if (!f.replies(R"({"method":"noSuch","id":"eleven"})", QByteArray()))
        return;
    f.replies(R"({"method":null})", R"({"error":1284,"id":"eleven","result":"Method is null"})");
}

void TestMorlanSlaver::replyText_sevenEscapesAndUtf8()
{
    SlaverFixture f;
    f.seedLoft(QLatin1String(SlaverFixture::kLoftNum), QString());
    f.openSession(false);
    if (!f.replies(R"({"method":"setLoftInfo","ownerName":"q\"b\\t\t\u0001é\n","id":3})", R"({"id":3,"result":null})"))
        return;
    const QByteArray expected = QByteArray(R"({"result":{"ownerName":"q\"b\\t\t)") + '\x01'
        + QStringLiteral("é").toUtf8() + QByteArray(R"(\n"}})");
    if (!f.replies(R"({"method":"getLoftInfo","fields":["ownerName"]})", expected))
        return;
    QCOMPARE(f.scalar(QStringLiteral("select OwnerName from LOFTINFO")),
             QStringLiteral("q\"b\\t\t\x01é\n"));
}

void TestMorlanSlaver::getLoftInfo_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("listed fields") << QByteArray(R"({"method":"getLoftInfo","fields":["loftNum","initFlag","password","ownerName","clubCode"]})")
                                   << QByteArray(R"({"result":{"clubCode":"C7","initFlag":true,"loftNum":"NL-1234","ownerName":"Jan","password":""}})");
    QTest::newRow("names in any case, kept as written")
        << QByteArray(R"({"method":"getLoftInfo","fields":["LOFTNUM"]})")
        << QByteArray(R"({"result":{"LOFTNUM":"NL-1234"}})");
    QTest::newRow("unknown field") << QByteArray(R"({"method":"getLoftInfo","fields":["nosuch"]})")
                                   << QByteArray(R"({"result":{"nosuch":null}})");
    QTest::newRow("no fields") << QByteArray(R"({"method":"getLoftInfo"})") << QByteArray(R"({"result":{}})");
    QTest::newRow("empty fields") << QByteArray(R"({"method":"getLoftInfo","fields":[]})")
                                  << QByteArray(R"({"result":{}})");
}

void TestMorlanSlaver::getLoftInfo()
{
    QFETCH(QByteArray, request);
    SlaverFixture f;
    f.seedLoft(QLatin1String(SlaverFixture::kLoftNum), QLatin1String(SlaverFixture::kPassword));
    f.openSession();
    QTEST(f.json(request), "reply");
}

void TestMorlanSlaver::setLoftInfo_cacheThenStore()
{
    SlaverFixture f;
    f.seedLoft(QLatin1String(SlaverFixture::kLoftNum), QLatin1String(SlaverFixture::kPassword));
    const QString row = QStringLiteral("select LoftNum,Password,OwnerName,City,TimeZone from LOFTINFO");
    const QString before = f.scalar(row);
    f.openSession();
    if (!f.replies(R"({"method":"setLoftInfo","cache":true,"timeZone":3600,"ownerName":"Piet"})", R"({"result":null})"))
        return;
    QCOMPARE(int(UTC::_timezone), 3600);
    QCOMPARE(f.scalar(row), before);
    if (!f.replies(R"({"method":"getLoftInfo","fields":["ownerName","timeZone"]})", R"({"result":{"ownerName":"Piet","timeZone":3600}})"))
        return;

    if (!f.replies(R"({"method":"setLoftInfo","city":"Gent","loftNum":"HIJACK","password":"x"})", R"({"result":null})"))
        return;
    QCOMPARE(f.scalar(row), QStringLiteral("NL-1234|s3cret|Piet|Gent|3600"));
}

void TestMorlanSlaver::setLoftInfo_emptyLoftNumber_cachedChangesLost()
{
    SlaverFixture f;
    f.seedLoft(QString(), QString());
    f.openSession();
    if (!f.replies(R"({"method":"setLoftInfo","cache":true,"ownerName":"Piet"})", R"({"result":null})"))
        return;
    if (!f.replies(R"({"method":"getLoftInfo","fields":["ownerName","initFlag"]})", R"({"result":{"initFlag":false,"ownerName":""}})"))
        return;
}

void TestMorlanSlaver::setLoftInfo_apnAndLanguageChecked_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("stored"); // Apn|Language|OwnerName afterwards
    const QByteArray apnRefused = R"({"error":1280,"result":"Invalid APN!"})";
    const QByteArray langRefused = R"({"error":1280,"result":"Invalid language!"})";
    const QString seeded = QStringLiteral("web|EN|");
    QTest::newRow("apn with quotes") << QByteArray(R"({"method":"setLoftInfo","apn":"in\"ter'net","ownerName":"X"})")
                                     << apnRefused << seeded;
    QTest::newRow("apn with a comma-split quote")
        << QByteArray(R"({"method":"setLoftInfo","apn":"internet,us\"er,pw"})") << apnRefused << seeded;
    QTest::newRow("apn with a control character")
        << QByteArray(R"({"method":"setLoftInfo","apn":"inter\rnet"})") << apnRefused << seeded;
    QTest::newRow("apn of 200 characters")
        << QByteArray(R"({"method":"setLoftInfo","apn":")") + QByteArray(200, 'a') + QByteArray(R"("})")
        << apnRefused << seeded;
    QTest::newRow("language out of its folder")
        << QByteArray(R"({"method":"setLoftInfo","language":"../../etc/x","ownerName":"X"})") << langRefused << seeded;
    QTest::newRow("language with a blank") << QByteArray(R"({"method":"setLoftInfo","Language":"E N"})")
                                           << langRefused << seeded;
    QTest::newRow("apn, user and password; a language")
        << QByteArray(R"({"method":"setLoftInfo","apn":"internet,user,pw","language":"DE","ownerName":"X"})")
        << QByteArray(R"({"result":null})") << QStringLiteral("internet,user,pw|DE|X");
}

// Settings that end up in an AT command or a file path are checked before
// any field is taken: a refused request changes nothing, not even the
// working copy.
void TestMorlanSlaver::setLoftInfo_apnAndLanguageChecked()
{
    QFETCH(QByteArray, request);
    SlaverFixture f;
    f.seedLoft(QLatin1String(SlaverFixture::kLoftNum), QLatin1String(SlaverFixture::kPassword));
    QVERIFY(f.db.exec(QStringLiteral("update LOFTINFO set Apn='web',Language='EN',OwnerName=''")));
    f.openSession();
    QTEST(f.json(request), "reply");
    QTEST(f.scalar(QStringLiteral("select Apn,Language,OwnerName from LOFTINFO")), "stored");
    if (!f.replies(R"({"method":"getLoftInfo","fields":["language"]})", R"({"result":{"language":")"
                   + f.scalar(QStringLiteral("select Language from LOFTINFO")).toUtf8() + R"("}})"))
        return;
}

void TestMorlanSlaver::params_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("stored");
    const QString seeded = QStringLiteral("gsmNet|net'1;userMode|5");
    QTest::newRow("getParams, fields []") << QByteArray(R"({"method":"getParams","fields":[]})")
                                          << QByteArray(R"({"result":{"userMode":5}})") << seeded;
    QTest::newRow("getParams, fields missing") << QByteArray(R"({"method":"getParams"})")
                                               << QByteArray(R"({"result":{"userMode":5}})") << seeded;
    QTest::newRow("getParams gsmNet") << QByteArray(R"({"method":"getParams","fields":["gsmNet"]})")
                                      << QByteArray(R"({"result":{"gsmNet":"net'1"}})") << seeded;
    QTest::newRow("getParams, exact names")
        << QByteArray(R"({"method":"getParams","fields":["GSMNET","userMode"]})")
        << QByteArray(R"({"result":{"userMode":5}})") << seeded;
    QTest::newRow("setParams {}") << QByteArray(R"({"method":"setParams","params":{}})")
                                  << QByteArray(R"({"result":null})") << QStringLiteral("gsmNet|net'1;userMode|2");
    // The operator code reaches an AT command: only a numeric code is taken,
    // and a refused request changes nothing.
    QTest::newRow("setParams, a quote in gsmNet, refused")
        << QByteArray(R"({"method":"setParams","userMode":4,"gsmNet":"x' OR '1'='1"})")
        << QByteArray(R"({"error":1280,"result":"Invalid operator code!"})") << seeded;
    QTest::newRow("setParams, control character in gsmNet, refused")
        << QByteArray(R"({"method":"setParams","gsmNet":"26201\r"})")
        << QByteArray(R"({"error":1280,"result":"Invalid operator code!"})") << seeded;
    QTest::newRow("setParams, an operator code")
        << QByteArray(R"({"method":"setParams","userMode":4,"gsmNet":"26201"})")
        << QByteArray(R"({"result":null})") << QStringLiteral("gsmNet|26201;userMode|4");
    QTest::newRow("setParams, exact names") << QByteArray(R"({"method":"setParams","UserMode":4})")
                                            << QByteArray(R"({"result":null})") << seeded;
}

void TestMorlanSlaver::params()
{
    QFETCH(QByteArray, request);
    SlaverFixture f;
    Storage::instance()->setParam(QStringLiteral("userMode"), QStringLiteral("5"));
    Storage::instance()->setParam(QStringLiteral("gsmNet"), QStringLiteral("net'1"));
    f.openSession();
    QTEST(f.json(request), "reply");
    QTEST(f.scalar(QStringLiteral("select id,val from APPPARAMS where id in ('userMode','gsmNet') order by id")),
          "stored");
}

void TestMorlanSlaver::queryLog_limit_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("count");
    QTest::newRow("limit 0") << QByteArray(R"({"method":"queryLog","limit":0})") << 100;
    QTest::newRow("limit -5") << QByteArray(R"({"method":"queryLog","limit":-5})") << 100;
    QTest::newRow("limit 500") << QByteArray(R"({"method":"queryLog","limit":500})") << 100;
    QTest::newRow("limit 3") << QByteArray(R"({"method":"queryLog","limit":3})") << 3;
    QTest::newRow("after log id 140") << QByteArray(R"({"method":"queryLog","logId":140})") << 10;
}

void TestMorlanSlaver::queryLog_limit()
{
    QFETCH(QByteArray, request);
    QFETCH(int, count);
    SlaverFixture f;
    f.addLogs(150);
    QCOMPARE(f.scalar(QStringLiteral("select min(logId),max(logId) from log")), QStringLiteral("1|150"));
    const QByteArray counted = QByteArray(R"({"result":)") + QByteArray::number(count) + '}';
    QCOMPARE(f.json(request), counted);
    // Newest first.
    if (!f.replies(R"({"method":"getLogInfo","index":0,"fields":["logId"]})", R"({"result":{"logId":150}})"))
        return;
}

void TestMorlanSlaver::getLogInfo_indexDefaultsAndPieces()
{
    SlaverFixture f;
    f.addLogs(2);
    QString details;
    for (int piece = 0; piece < 5; ++piece)
        details += QString(piece < 4 ? 150 : 100, QLatin1Char('a' + piece));
    Storage::instance()->insertLog(3, details);
    if (!f.replies(R"({"method":"queryLog"})", R"({"result":3})"))
        return;
    for (const char *index : {"3", "-1"}) {
        if (!f.replies(QByteArray(R"({"method":"getLogInfo","index":)") + index + "}",
                       R"({"error":1287,"result":"Index overflow!"})"))
            return;
    }
    const PcPeer::JsonReply reply = f.peer.call(R"({"method":"getLogInfo","index":0})");
    QVERIFY(reply.ok());
    const QVariantMap fields = reply.result().toMap();
    QCOMPARE(fields.keys(), (QStringList{"logId", "logInfo0", "logTime", "logType"}));
    QCOMPARE(fields.value("logId").toInt(), 3);
    QCOMPARE(fields.value("logType").toInt(), 3);
    QCOMPARE(fields.value("logInfo0").toString(), details.left(150));
    for (int piece = 1; piece < 5; ++piece) {
        const QByteArray name = "logInfo" + QByteArray::number(piece);
        const PcPeer::JsonReply more =
            f.peer.call(R"({"method":"getLogInfo","index":0,"fields":["infoLen",")" + name + R"("]})");
        QVERIFY(more.ok());
        QCOMPARE(more.result().toMap().value("infoLen").toInt(), 700);
        QCOMPARE(more.result().toMap().value(name).toString(), details.mid(150 * piece, piece < 4 ? 150 : -1));
    }
}

void TestMorlanSlaver::clearLog_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("left");
    QTest::newRow("0: the whole log") << 0 << QString();
    QTest::newRow("2: the two oldest") << 2 << QStringLiteral("3;4;5");
    QTest::newRow("-1: nothing") << -1 << QStringLiteral("1;2;3;4;5");
}

void TestMorlanSlaver::clearLog()
{
    QFETCH(int, count);
    SlaverFixture f;
    f.addLogs(5);
    if (!f.replies(R"({"method":"clearLog","count":)" + QByteArray::number(count) + "}", R"({"result":null})"))
        return;
    QTEST(f.scalar(QStringLiteral("select logId from log order by logId")), "left");
}

void TestMorlanSlaver::adjustGpsUtc_storesAndSets()
{
    SlaverFixture f;
    if (!f.replies(R"({"method":"adjustGpsUtc","offset":-18})", R"({"result":null})"))
        return;
    QCOMPARE(int(ServiceFactory::GPS_UTC_ADJUST), -18);
    QCOMPARE(f.scalar(QStringLiteral("select val from APPPARAMS where id='GPS_UTC_ADJUST'")), QStringLiteral("-18"));
}

QTEST_GUILESS_MAIN(TestMorlanSlaver)
#include "tst_morlanslaver.moc"
