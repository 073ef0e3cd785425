#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "device/lfmodule.h"
#include "race/pigeonbo.h"

#include "guiheartbeat.h"
#include "messagecapture.h"
#include "pcpeer.h"
#include "promptqueue.h"
#include "runningengine.h"
#include "storagefixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

// The PC link under a misbehaving PC program and hostile texts, end to end:
// the link thread in comm mode on the club node of a simulated root, the PC
// peer on the other end of the pseudo-terminal, the race engine recording
// arrivals in its own thread meanwhile, and this thread standing in for the
// GUI thread with a heartbeat timer making the status reads the main window
// makes. The peer always works from another thread, so the reads run beside
// every exchange (how long this thread is held up is a figure of the
// benchmarks).
class TestPcFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void faultyPeer_answersAsDefinedAndRecovers_data();
    void faultyPeer_answersAsDefinedAndRecovers();
    void hostileText_storedLiterallyOrRefused_data();
    void hostileText_storedLiterallyOrRefused();
};

namespace {

const QString kClubNode = QStringLiteral("/dev/ttyS2");
constexpr int kStopMs = 5000;
constexpr int kHeartbeatMs = 10;
// One peer action (a request and its answer, or the wait for none) ends
// within the peer's own answer time-out; this only bounds a broken run.
constexpr int kPeerActionBoundMs = 15000;
constexpr int kAnswerTimeoutMs = 3000;
// A PC that hears nothing gives up after this. It is longer than the 300
// empty polls after which the clock abandons a frame that stopped, so the
// next request starts on a clean line.
constexpr int kNoAnswerWaitMs = 600;
// How long the cable stays out: the clock notices and retries its open.
constexpr int kUnpluggedMs = 200;
// The clock tries its open every 100 ms while the cable is out.
constexpr int kReopenBoundMs = 2000;
constexpr int kArrivalWaitMs = 10000;
constexpr int kGpioMains = 51;
constexpr int kRacePigeons = 6;
// The request frame's length byte leaves 251 bytes for the JSON text.
constexpr int kMaxJsonBytes = 251;

QString ringOf(int n)
{
    return QStringLiteral("A%1").arg(n, 7, 10, QLatin1Char('0'));
}

QString assocOf(int n)
{
    return QStringLiteral("NL-%1").arg(n, 2, 10, QLatin1Char('0'));
}

// The clock's side: database, race engine (when arrivals are wanted) and the
// link thread in comm mode. The destructor stops the link thread and the
// engine before the database goes.
struct PcRig
{
    explicit PcRig(bool withEngine)
    {
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        HardwareControl::init(0);
        db.root().setGpio(kGpioMains, 1);
        seed();
        QDir().mkpath(db.root().path(QStringLiteral("/dev")));
        line.linkAt(db.root().path(kClubNode));
        if (withEngine)
            ready = engine.startEngine();
        else
            ServiceFactory::getInstance()->pigeonBo = &bo;
        process.start();
        process.switchWorkMode(MorlanProtocolProcess::CommSlave, true);
        peer.setAnswerTimeoutMs(kAnswerTimeoutMs);
    }
    ~PcRig()
    {
        process.requestExit();
        process.wait(kStopMs);
        if (engine.isRunning()) {
            engine.quit();
            engine.wait(kStopMs);
        } else {
            ServiceFactory::getInstance()->pigeonBo = nullptr;
        }
    }

    // A loft, a marked race with its pigeons basketed and one pigeon at home.
    void seed() const
    {
        const qint64 markMs = UTC::now().value() - 3600000;
        db.exec(QStringLiteral("BEGIN"));
        db.exec(QStringLiteral("update LOFTINFO set LoftNum='NL-LOFT',OwnerName='Owner',NotifyMode=3,VoiceMode=100 "
                               "where id=1"));
        db.exec(QStringLiteral("insert into Race(RaceCode,RaceName,Valid,MarkDeviceTime,MarkReaderTime) "
                               "values('R1','race',3,%1,%1)")
                    .arg(markMs - 60000));
        for (int n = 1; n <= kRacePigeons; ++n) {
            db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum,Color) values('%1','%2','blue')")
                        .arg(assocOf(n), ringOf(n)));
            db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime) values('%1','%2','R1',%3)")
                        .arg(assocOf(n), ringOf(n))
                        .arg(markMs + n));
        }
        db.exec(QStringLiteral("insert into Pigeon(AssocNum,Color) values('HOME','grey')"));
        db.exec(QStringLiteral("insert into Record(AssocNum) values('HOME')"));
        db.exec(QStringLiteral("COMMIT"));
    }

    // The landing antenna reads pigeon n's ring.
    void arrive(int n)
    {
        LFTAG_INFO tag;
        tag.eRing = ringOf(n);
        tag.time = UTC::clubTime().value();
        engine.engine()->notifyTagScaned(&tag);
    }

    StorageFixture db;
    PromptQueue queue;
    PcLineTransport line;
    PcPeer peer{&line};
    PigeonBo bo;
    RunningEngine engine;
    MorlanProtocolProcess process{kClubNode};
    bool ready = true;
};

// Runs a peer action in a thread of its own while this thread keeps its
// event loop turning; `meanwhile` runs here once the action has started.
template <typename Result>
Result offThisThread(const std::function<Result()> &action, const std::function<void()> &meanwhile = {})
{
    Result result{};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = action();
        done = true;
    });
    if (meanwhile)
        meanwhile();
    QElapsedTimer waited;
    waited.start();
    while (!done && waited.elapsed() < kPeerActionBoundMs)
        QTest::qWait(kHeartbeatMs);
    worker.join();
    return result;
}

// Every row of every table, those of `table` whose first column reads `key`
// left out (the row a request may rightly change, with a pigeon's record),
// and with `skipArrivals` what the race engine writes meanwhile (the records
// of the pigeons a row lets arrive, the log).
QString rowsBesides(const StorageFixture &db, const QString &table = QString(), const QString &key = QString(),
                    bool skipArrivals = false)
{
    const QStringList arriving{assocOf(1), assocOf(2), assocOf(3)};
    QStringList out;
    for (const char *name : {"APPPARAMS", "LOFTINFO", "Pigeon", "Race", "Record", "Phone", "Nomination", "Log"}) {
        const QString current = QLatin1String(name);
        if (skipArrivals && current == QLatin1String("Log"))
            continue;
        for (const QVariantList &row : db.rows(QStringLiteral("select * from %1 order by 1").arg(current))) {
            // A pigeon's record goes with the pigeon.
            const bool keyed = current.compare(table, Qt::CaseInsensitive) == 0
                || (table == QLatin1String("Pigeon") && current == QLatin1String("Record"));
            if (keyed && row.value(0).toString() == key)
                continue;
            if (skipArrivals && current == QLatin1String("Record") && arriving.contains(row.value(0).toString()))
                continue;
            QStringList columns;
            for (const QVariant &value : row)
                columns.append(value.toString());
            out.append(columns.join(QLatin1Char('|')));
        }
        out.append(QStringLiteral("#"));
    }
    return out.join(QLatin1Char('\n'));
}

QByteArray textOf(const PcPeer::JsonReply &reply)
{
    if (!reply.answer.received)
        return "no answer";
    return reply.ok() ? reply.text : QByteArray("status ") + QByteArray::number(reply.answer.status);
}

// What the PC does in one row, and what it must hear back.
enum class Action { Json, RawJsonTag, ShortChallenge, UnknownCommand, WrongInitTag, Unplugged };
enum class Expect { Stored, NoAnswer, Status, JsonError };

const QByteArray kSaveF1 = R"({"method":"savePigeon","assocNum":"F-1","color":"red","id":9})";
const QByteArray kStoredF1 = R"({"id":9,"result":null})";

} // namespace

Q_DECLARE_METATYPE(PcPeer::Fault)
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Expect)

void TestPcFaults::initTestCase()
{
    qRegisterMetaType<LFTAG_INFO>("LFTAG_INFO");
    qRegisterMetaType<PigeonRecord>("PigeonRecord");
}

void TestPcFaults::faultyPeer_answersAsDefinedAndRecovers_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<PcPeer::Fault>("fault");
    QTest::addColumn<Expect>("expect");
    QTest::addColumn<int>("code"); // status byte or JSON error code

    using Kind = PcPeer::Fault::Kind;
    auto fault = [](Kind kind, int delayMs = 0, int gapMs = 0) { return PcPeer::Fault{kind, delayMs, gapMs}; };
    QTest::newRow("silence mid-request")
        << Action::Json << kSaveF1 << fault(Kind::StopMidFrame) << Expect::NoAnswer << 0;
    QTest::newRow("short frame: length counts bytes that never come")
        << Action::Json << kSaveF1 << fault(Kind::LengthClaimsMore) << Expect::NoAnswer << 0;
    QTest::newRow("length counts fewer bytes than sent")
        << Action::Json << kSaveF1 << fault(Kind::LengthClaimsLess) << Expect::NoAnswer << 0;
    QTest::newRow("garbled bytes") << Action::Json << kSaveF1 << fault(Kind::Garbled) << Expect::NoAnswer << 0;
    QTest::newRow("bad checksum") << Action::Json << kSaveF1 << fault(Kind::BadSum) << Expect::NoAnswer << 0;
    QTest::newRow("line noise ahead of a request")
        << Action::Json << kSaveF1 << fault(Kind::NoiseBefore) << Expect::Stored << 0;
    QTest::newRow("late request") << Action::Json << kSaveF1 << fault(Kind::None, 200) << Expect::Stored << 0;
    QTest::newRow("trickled request")
        << Action::Json << kSaveF1 << fault(Kind::None, 0, 2) << Expect::Stored << 0;
    QTest::newRow("refused: tag under another key")
        << Action::RawJsonTag << kSaveF1 << fault(Kind::None) << Expect::Status << 0x51;
    QTest::newRow("refused: challenge of 3 bytes, the old key stays")
        << Action::ShortChallenge << QByteArray() << fault(Kind::None) << Expect::Status << 0x50;
    QTest::newRow("refused: unknown command")
        << Action::UnknownCommand << QByteArray() << fault(Kind::None) << Expect::NoAnswer << 0;
    QTest::newRow("refused: initialisation with a wrong tag")
        << Action::WrongInitTag << QByteArray("NL-NEW,pw") << fault(Kind::None) << Expect::JsonError << 0x505;
    QTest::newRow("refused: saveRace on a marked race")
        << Action::Json << QByteArray(R"({"method":"saveRace","raceCode":"R1","raceName":"changed","liberTime":5})")
        << fault(Kind::None) << Expect::JsonError << 0x500;
    QTest::newRow("refused: duplicate ring")
        << Action::Json << QByteArray(R"({"method":"savePigeon","assocNum":"F-1","eringNum":"A0000002"})")
        << fault(Kind::None) << Expect::JsonError << -1; // the database's own code
    QTest::newRow("refused: method name with a zero byte")
        << Action::Json << QByteArray(R"({"method":"savePigeon\u0000x","assocNum":"F-1","color":"red"})")
        << fault(Kind::None) << Expect::NoAnswer << 0;
    QTest::newRow("refused: JSON that does not parse")
        << Action::Json << QByteArray(R"({"method":"savePigeon","assocNum":"F-1",)") << fault(Kind::None)
        << Expect::JsonError << 0x504;
    const QByteArray longJson = R"({"method":"savePigeon","assocNum":"F-1","color":")" + QByteArray(300, 'x') + "\"}";
    QTest::newRow("very long request") << Action::Json << longJson << fault(Kind::None) << Expect::NoAnswer << 0;
    QTest::newRow("cable unplugged and plugged in again")
        << Action::Unplugged << kSaveF1 << fault(Kind::None) << Expect::NoAnswer << 0;
}

void TestPcFaults::faultyPeer_answersAsDefinedAndRecovers()
{
    QFETCH(Action, action);
    QFETCH(QByteArray, request);
    QFETCH(PcPeer::Fault, fault);
    QFETCH(Expect, expect);
    QFETCH(int, code);

    PcRig rig(true);
    QVERIFY(rig.ready);
    PcPeer &peer = rig.peer;
    QCOMPARE(peer.authenticate(QByteArray::fromHex("C0FFEE01")).status, quint8(0));
    QCOMPARE(peer.deviceInfo().status, quint8(0));
    const QString before = rowsBesides(rig.db, QString(), QString(), true);
    // Each beat also does what the main window's status tick does with the link.
    GuiHeartbeat heartbeat(
        [&rig] {
            rig.process.isConnectorReady();
            rig.process.isValid();
        },
        kHeartbeatMs);
    if (expect == Expect::NoAnswer)
        peer.setAnswerTimeoutMs(kNoAnswerWaitMs);

    rig.arrive(1);
    const PcPeer::JsonReply reply = offThisThread<PcPeer::JsonReply>(
        [&]() -> PcPeer::JsonReply {
            switch (action) {
            case Action::Json:
                return peer.callFaulty(request, fault);
            case Action::RawJsonTag:
                return peer.callTagged(request, QByteArray::fromHex("00000000"));
            case Action::ShortChallenge:
                return peer.readJson(peer.exchange(0xC1, QByteArray::fromHex("010203")));
            case Action::UnknownCommand:
                return peer.readJson(peer.exchange(0xC7, QByteArray("x")));
            case Action::WrongInitTag:
                return peer.readJson(peer.exchange(0xC2, request + QByteArray::fromHex("DEADBEEF")));
            case Action::Unplugged: {
                rig.line.unplug();
                const PcPeer::JsonReply none = peer.call(request);
                QThread::msleep(kUnpluggedMs); // the cable stays out; the clock keeps trying
                rig.line.plugIn();
                // The clock opens the new line by itself, or the PC talks to nobody.
                if (!rig.line.waitForClock(kReopenBoundMs))
                    return PcPeer::JsonReply();
                return none;
            }
            }
            return PcPeer::JsonReply();
        },
        [&] { rig.arrive(2); });

    switch (expect) {
    case Expect::Stored:
        QCOMPARE(textOf(reply), kStoredF1);
        QCOMPARE(rig.db.value(QStringLiteral("select Color from Pigeon where AssocNum='F-1'")).toString(),
                 QStringLiteral("red"));
        QCOMPARE(rowsBesides(rig.db, QStringLiteral("Pigeon"), QStringLiteral("F-1"), true),
                 before);
        break;
    case Expect::NoAnswer:
        QVERIFY2(!reply.answer.received, reply.answer.raw.toHex().constData());
        QCOMPARE(rowsBesides(rig.db, QString(), QString(), true), before);
        break;
    case Expect::Status:
        QVERIFY(reply.answer.received);
        QCOMPARE(int(reply.answer.status), code);
        QVERIFY(reply.answer.data.isEmpty());
        QCOMPARE(rowsBesides(rig.db, QString(), QString(), true), before);
        break;
    case Expect::JsonError:
        QVERIFY2(reply.ok(), textOf(reply).constData());
        if (code >= 0)
            QCOMPARE(reply.error(), code);
        else
            QCOMPARE(reply.error() & 0xFFFFFF00, 0x11000000);
        QVERIFY(!reply.result().toString().isEmpty());
        QCOMPARE(rowsBesides(rig.db, QString(), QString(), true), before);
        break;
    }

    // The PC behaves again: its next request is served at once, in the same
    // session, while the engine goes on recording.
    peer.setAnswerTimeoutMs(kAnswerTimeoutMs);
    const QByteArray next = R"({"method":"savePigeon","assocNum":"OK-1","color":"green","id":10})";
    const PcPeer::JsonReply recovered =
        offThisThread<PcPeer::JsonReply>([&] { return peer.call(next); }, [&] { rig.arrive(3); });
    QCOMPARE(textOf(recovered), QByteArray(R"({"id":10,"result":null})"));
    QCOMPARE(rig.db.value(QStringLiteral("select Color from Pigeon where AssocNum='OK-1'")).toString(),
             QStringLiteral("green"));

    // Every arrival is there, once, in its order.
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine.arrivalCount(), 3, kArrivalWaitMs);
    const QList<QVariantList> arrived = rig.db.rows(
        QStringLiteral("select AssocNum from Record where BackTimeEring<>0 order by BackOrder"));
    QCOMPARE(arrived.size(), 3);
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(arrived.at(n - 1).value(0).toString(), assocOf(n));
    QCOMPARE(rig.db.pigeonsWithoutOneRecord(), 0);

    // Leaving the PC screen switches the link back to race work: the link
    // thread takes the new mode before the waited switch's own bound.
    MessageCapture capture;
    rig.process.switchWorkMode(MorlanProtocolProcess::Normal, true);
    QVERIFY(!capture.contains(QStringLiteral("switchWorkMode timeout!")));
    QCOMPARE(rig.process.getWorkMode(), int(MorlanProtocolProcess::Normal));
    // The status reads ran beside the whole exchange.
    QVERIFY(heartbeat.beats() > 0);
}

namespace {

// Where a field lands: its table, the column, and the row's key.
struct Target
{
    enum class Check {
        Text,      // stored as sent, or refused with nothing written
        Number,    // a numeric field: the text converts to 0, or is refused
        Untouched, // a key the clock does not hold: nothing changes at all
    };
    QString method;   // the JSON method, or "init" for the device initialisation
    QString field;    // the parameter name
    QString table;
    QString column;
    QString keyColumn;
    QString key;      // the row's key; null when the field is the key
    Check check = Check::Text;
};

// A text with each kind of trouble: quotes of both kinds, format
// placeholders, a zero byte and characters outside ASCII.
const QString kMixed = QString::fromUtf8("O'N\xc3\xa9 \"%1 %2\" ") + QChar(0) + QString::fromUtf8(" \xe2\x82\xac;--");

QByteArray jsonString(const QString &text)
{
    QByteArray out = "\"";
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += '\\' + QString(c).toUtf8();
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toLatin1();
        else
            out += QString(c).toUtf8();
    }
    return out + '"';
}

// The request setting `field` to `value`, and the key the row gets.
QByteArray requestFor(const Target &target, const QString &value)
{
    QByteArray head = "{\"method\":\"" + target.method.toUtf8() + "\"";
    if (target.method == QLatin1String("savePigeon") && target.field != QLatin1String("assocNum"))
        head += ",\"assocNum\":\"H-1\"";
    if (target.method == QLatin1String("saveRace") && target.field != QLatin1String("raceCode"))
        head += ",\"raceCode\":\"H-R\"";
    return head + ",\"" + target.field.toUtf8() + "\":" + jsonString(value) + "}";
}

// A long text of the same kinds of trouble, as long as one request frame
// allows for this field.
QString longValueFor(const Target &target)
{
    const QString unit = QString::fromUtf8("\xc3\xbc'%1\"");
    QString value;
    while (requestFor(target, value + unit).size() <= kMaxJsonBytes)
        value += unit;
    return value;
}

// The read of one field of the target's row; for lists, the query that puts
// the row first is sent ahead.
QByteArray readBackRequest(PcPeer &peer, const Target &target)
{
    const QByteArray fields = ",\"fields\":[\"" + target.field.toUtf8() + "\"]}";
    if (target.method == QLatin1String("savePigeon")) {
        peer.call(R"({"method":"queryPigeon","filter":"AssocNum='H-1'"})");
        return R"({"method":"getPigeonInfo","index":0)" + fields;
    }
    if (target.method == QLatin1String("saveRace")) {
        peer.call(R"({"method":"queryRace","filter":"RaceCode='H-R'"})");
        return R"({"method":"getRaceInfo","index":0)" + fields;
    }
    if (target.method == QLatin1String("setParams"))
        return R"({"method":"getParams")" + fields;
    return R"({"method":"getLoftInfo")" + fields;
}

} // namespace

Q_DECLARE_METATYPE(Target)

void TestPcFaults::hostileText_storedLiterallyOrRefused_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<QString>("value");

    using Check = Target::Check;
    QList<Target> targets;
    const auto add = [&targets](const char *method, const QString &table, const QString &keyColumn,
                                const QString &key, Check check, std::initializer_list<const char *> fields) {
        for (const char *field : fields) {
            const QString name = QLatin1String(field);
            QString column = name;
            column[0] = column.at(0).toUpper();
            const bool isKey = name.compare(keyColumn, Qt::CaseInsensitive) == 0;
            targets.append({QLatin1String(method), name, table, column, keyColumn, isKey ? QString() : key, check});
        }
    };
    const QString pigeon = QStringLiteral("Pigeon");
    const QString race = QStringLiteral("Race");
    const QString loft = QStringLiteral("LOFTINFO");
    const QString params = QStringLiteral("APPPARAMS");
    const QString assoc = QStringLiteral("AssocNum");
    const QString code = QStringLiteral("RaceCode");
    const QString id = QStringLiteral("id");
    const QString one = QStringLiteral("1");
    add("savePigeon", pigeon, assoc, QStringLiteral("H-1"), Check::Text,
        {"assocNum", "uid", "eringNum", "assocCode", "color", "regNum"});
    add("savePigeon", pigeon, assoc, QStringLiteral("H-1"), Check::Number, {"year", "sex"});
    add("saveRace", race, code, QStringLiteral("H-R"), Check::Text,
        {"raceCode", "raceName", "liberCode", "liberName", "liberLon", "liberLat", "clubCode", "assocCode"});
    add("saveRace", race, code, QStringLiteral("H-R"), Check::Number, {"liberTime", "printCount"});
    add("setLoftInfo", loft, id, one, Check::Text,
        {"ownerName", "street", "city", "postCode", "phoneNo", "email", "loftLon", "loftLat", "clubCode", "clubName",
         "clubStreet", "clubCity", "clubPostCode", "assocCode", "hostIp", "hostPath", "apn", "language",
         "hostSmsCode"});
    add("setLoftInfo", loft, id, one, Check::Number,
        {"notifyMode", "uploadMode", "uploadInterval", "validate", "voiceMode"});
    targets.append({QStringLiteral("setParams"), QStringLiteral("gsmNet"), params, QStringLiteral("val"), id,
                    QStringLiteral("gsmNet")});
    targets.append({QStringLiteral("setParams"), QStringLiteral("userMode"), params, QStringLiteral("val"), id,
                    QStringLiteral("userMode"), Check::Number});
    targets.append({QStringLiteral("adjustGpsUtc"), QStringLiteral("offset"), params, QStringLiteral("val"), id,
                    QStringLiteral("GPS_UTC_ADJUST"), Check::Number});
    add("init", loft, id, one, Check::Text, {"loftNum", "password"});
    // Keys that start like a held key and go on after a zero byte: a key cut
    // at the zero would reach the pigeon or race that is there.
    targets.append({QStringLiteral("deletePigeon"), QStringLiteral("assocNum"), QString(), QString(), QString(),
                    QString(), Check::Untouched});
    targets.append({QStringLiteral("deleteRace"), QStringLiteral("raceCode"), QString(), QString(), QString(),
                    QString(), Check::Untouched});

    for (const Target &target : targets) {
        const QString where = target.method + QLatin1Char('.') + target.field;
        if (target.check == Check::Untouched) {
            const QString held = target.method == QLatin1String("deletePigeon") ? QStringLiteral("HOME")
                                                                                : QStringLiteral("R1");
            QTest::newRow(qPrintable(where + QStringLiteral(": a held key, NUL, more"))) << target << held + kMixed.mid(kMixed.indexOf(QChar(0)));
            continue;
        }
        QTest::newRow(qPrintable(where + QStringLiteral(": quotes, %1, NUL, non-ASCII"))) << target << kMixed;
        if (target.check == Check::Number)
            continue; // the text converts as a whole; a longer one says nothing more
        // The initialisation body shares one frame with the other field and the tag.
        const QString longValue = target.method == QLatin1String("init")
            ? QString(110, QChar(0xFC)) + QStringLiteral("'%1\"")
            : longValueFor(target);
        QTest::newRow(qPrintable(where + QStringLiteral(": long"))) << target << longValue;
    }
    // A held key with more after a zero byte names another row.
    Target heldPigeon{QStringLiteral("savePigeon"), QStringLiteral("assocNum"), pigeon, assoc, assoc, QString()};
    QTest::newRow("savePigeon.assocNum: a held key, NUL, more")
        << heldPigeon << QStringLiteral("HOME") + kMixed.mid(kMixed.indexOf(QChar(0)));
    Target heldRace{QStringLiteral("saveRace"), QStringLiteral("raceCode"), race, code, code, QString()};
    QTest::newRow("saveRace.raceCode: a marked race's code, NUL, more")
        << heldRace << QStringLiteral("R1") + kMixed.mid(kMixed.indexOf(QChar(0)));
}

void TestPcFaults::hostileText_storedLiterallyOrRefused()
{
    QFETCH(Target, target);
    QFETCH(QString, value);

    PcRig rig(false);
    PcPeer &peer = rig.peer;
    QCOMPARE(peer.authenticate(QByteArray::fromHex("0BADF00D")).status, quint8(0));
    QCOMPARE(peer.deviceInfo().status, quint8(0));
    const bool isInit = target.method == QLatin1String("init");
    const QString key = target.key.isNull() ? value : target.key;
    const QString all = rowsBesides(rig.db);
    const QString others = rowsBesides(rig.db, target.table, key);

    PcPeer::JsonReply reply;
    if (isInit) {
        // The body "loft,password": each field is a text up to its first zero
        // byte, as the PC writes it in C.
        const QString loftNum = target.field == QLatin1String("loftNum") ? value : QStringLiteral("NL-2");
        const QString password = target.field == QLatin1String("password") ? value : QStringLiteral("pw");
        reply = peer.initialise(loftNum.toUtf8() + ',' + password.toUtf8());
    } else {
        const QByteArray request = requestFor(target, value);
        QVERIFY2(request.size() <= kMaxJsonBytes, request.constData());
        reply = peer.call(request);
    }
    QVERIFY2(reply.ok(), textOf(reply).constData());
    if (reply.object.contains(QStringLiteral("error")) || target.check == Target::Check::Untouched) {
        // Refused, or about a row the clock does not hold: nothing written.
        QCOMPARE(rowsBesides(rig.db), all);
        return;
    }
    QCOMPARE(reply.text, QByteArray(R"({"result":null})"));

    // Stored as sent: every character, the zero byte and what follows it
    // included (the initialisation's fields end at the zero byte, as the PC
    // writes them in C).
    QString expected = value;
    if (isInit && expected.contains(QChar(0)))
        expected.truncate(expected.indexOf(QChar(0)));
    const QString hex = QString::fromLatin1(expected.toUtf8().toHex().toUpper());
    const QString keyHex = QString::fromLatin1(key.toUtf8().toHex().toUpper());
    const QString read = QStringLiteral("select %1 from %2 where hex(%3)='%4'")
                             .arg(target.check == Target::Check::Number ? target.column
                                                                       : QStringLiteral("hex(%1)").arg(target.column),
                                  target.table, target.keyColumn, target.key.isNull() ? hex : keyHex);
    const QList<QVariantList> rows = rig.db.rows(read);
    QCOMPARE(rows.size(), 1);
    if (target.check == Target::Check::Number)
        QCOMPARE(rows.at(0).value(0).toLongLong(), 0);
    else
        QCOMPARE(rows.at(0).value(0).toString(), hex);
    if (isInit)
        return;
    QCOMPARE(rowsBesides(rig.db, target.table, key), others);

    // And the PC reads back what it wrote, as it wrote it (where the reply
    // fits in one frame).
    if (target.check == Target::Check::Text && !target.key.isNull() && value == kMixed) {
        const PcPeer::JsonReply back = peer.call(readBackRequest(peer, target));
        QVERIFY2(back.ok(), textOf(back).toHex().constData());
        QCOMPARE(back.result().toMap().value(target.field).toString(), value);
    }
}

QTEST_GUILESS_MAIN(TestPcFaults)
#include "tst_pcfaults.moc"
