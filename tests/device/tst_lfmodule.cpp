#include "core/platform.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "device/lfmodule.h"

#include "innermodulepeer.h"
#include "testroot.h"

#include <QSerialPort>
#include <QTest>

#include <functional>

Q_DECLARE_METATYPE(RingFault)

namespace {
constexpr qint64 kClockMs = 1700000000123LL;
const QString kModuleId = QStringLiteral("5A0C1B17");

struct Outcome
{
    int code = 0; // 0: no exception
    QString message;
};

Outcome attempt(const std::function<void()> &call)
{
    try {
        call();
    } catch (const VexException &e) {
        return {e.getErrorCode(), e.getErrorMessage()};
    }
    return {};
}

QByteArray le32(quint32 v)
{
    QByteArray out;
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
    return out;
}

// The polling thread's side as it has it: a QSerialPort made in this thread
// on the simulated device's node and the module driver on it; the peer
// answers from its own thread on the other end of the line.
struct ModuleLink
{
    ModuleLink()
    {
        root.activate();
        Platform::setSystemClock([] { return kClockMs; });
        UTC::_timeBase = 0;
        UTC::_clubTimeDiff = 0;
        peer.linkUnder(root.root(), QStringLiteral("/dev/ttyS3"));
        peer.start();
        serial.setPortName(Platform::path(QStringLiteral("/dev/ttyS3")));
    }
    ~ModuleLink() { Platform::setSystemClock({}); }

    QList<RingWire::Frame> race(quint8 command) const
    {
        return peer.commands(InnerModulePeer::kGroupRace, command);
    }

    TestRoot root;
    InnerModulePeer peer;
    QSerialPort serial;
    LFInnerModule module{&serial};
};
} // namespace

// The module driver against the module peer: what each command puts on the
// wire, how answers are decoded, and every way a 'J' answer can fail.
class TestLFInnerModule : public QObject
{
    Q_OBJECT
private slots:
    void connect_readsIdAndType();
    void exchangeInfo_sendsHostInfoAndDecodesAnswer();
    void startRace_raceIdBytes_data();
    void startRace_raceIdBytes();
    void getChannel_decodesFields();
    void getTag_decodesFieldsAndStampsClubTime();
    void syncMode_data();
    void syncMode();
    void failures_data();
    void failures();
    void disconnect_thenConnect_setsPortUpAgain();
};

void TestLFInnerModule::connect_readsIdAndType()
{
    ModuleLink link;
    link.peer.setDevType(InnerModulePeer::kTypeClock);
    QVERIFY(!link.module.isConnected());
    QCOMPARE(link.module.getRfDevType(), quint16(0x4A31)); // assumed until read
    QCOMPARE(link.module.connect(), quint16(0x4B31));
    QVERIFY(link.module.isConnected());
    QCOMPARE(link.module.getModuleId(), kModuleId);
    QCOMPARE(link.module.getRfDevType(), quint16(0x4B31));
    QCOMPARE(link.serial.baudRate(), 9600);
    QCOMPARE(link.serial.dataBits(), QSerialPort::Data8);
    QCOMPARE(link.serial.parity(), QSerialPort::NoParity);
    QCOMPARE(link.serial.stopBits(), QSerialPort::OneStop);
    QCOMPARE(link.serial.flowControl(), QSerialPort::NoFlowControl);
}

void TestLFInnerModule::exchangeInfo_sendsHostInfoAndDecodesAnswer()
{
    ModuleLink link;
    link.module.connect();
    link.peer.presentTag(QStringLiteral("11223344"));
    link.peer.presentTag(QStringLiteral("55667788"));

    PIGEONHOST_INFO host;
    host.flags = 0x311;
    host.channelVer = 7;
    host.tagVer = 2; // one reading newer than this
    host.time = 0x00000123456789ABLL;
    RFMODULE_INFO answer;
    link.module.exchangeInfo(&host, &answer);

    const QList<RingWire::Frame> sent = link.race(InnerModulePeer::ExchangeInfo);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().data.size(), 18);
    QCOMPARE(sent.first().data.left(12), le32(0x311) + le32(7) + le32(2));
    QCOMPARE(sent.first().data.mid(12), QByteArray::fromHex("AB8967452301"));

    QCOMPARE(answer.id, kModuleId);
    QCOMPARE(answer.channelVer, 1u);
    QCOMPARE(answer.channelCount, 1u);
    QCOMPARE(answer.tagVer, 3u);
    QCOMPARE(answer.tagCount, 1u);

    // Without host info the request carries no data.
    link.module.exchangeInfo(nullptr, &answer);
    QCOMPARE(link.race(InnerModulePeer::ExchangeInfo).last().data, QByteArray());
}

void TestLFInnerModule::startRace_raceIdBytes_data()
{
    QTest::addColumn<QString>("raceId");
    QTest::addColumn<QByteArray>("idBytes");
    QTest::newRow("no race") << QStringLiteral("00000000") << QByteArray::fromHex("00000000");
    QTest::newRow("short id") << QStringLiteral("12AB") << QByteArray::fromHex("12AB0000");
    QTest::newRow("lower case") << QStringLiteral("a1b2c3d4") << QByteArray::fromHex("A1B2C3D4");
    QTest::newRow("stops at non-hex") << QStringLiteral("12G4") << QByteArray::fromHex("12000000");
    QTest::newRow("empty") << QString() << QByteArray::fromHex("00000000");
}

void TestLFInnerModule::startRace_raceIdBytes()
{
    QFETCH(QString, raceId);
    QFETCH(QByteArray, idBytes);
    ModuleLink link;
    UTC::_clubTimeDiff = 5000; // the club's clock, not the device's
    link.module.connect();
    link.module.startRace(raceId, 0x311);
    UTC::_clubTimeDiff = 0;
    const QList<RingWire::Frame> sent = link.race(InnerModulePeer::StartRace);
    QCOMPARE(sent.size(), 1);
    QByteArray club;
    for (int i = 0; i < 8; ++i)
        club.append(char(quint64(kClockMs + 5000) >> (8 * i)));
    QCOMPARE(sent.first().data, idBytes + le32(0x311) + club);
}

void TestLFInnerModule::getChannel_decodesFields()
{
    ModuleLink link;
    InnerModulePeer::Channel c;
    c.id = QByteArray::fromHex("00A1B2C3");
    c.type = 0x1040;
    c.minor = 0x05;
    c.major = 0x1;
    c.attr = 0x3C;
    c.status = 0x80;
    InnerModulePeer::Channel d;
    d.minor = 0x10;
    d.major = 0x2A;
    link.peer.setChannels({c, d});
    link.module.connect();
    RFMODULE_INFO answer;
    link.module.exchangeInfo(nullptr, &answer);

    LFCHANNEL_INFO first;
    link.module.getChannel(0, &first);
    QCOMPARE(first.id, QStringLiteral("00A1B2C3"));
    QCOMPARE(first.type, quint16(0x1040));
    QCOMPARE(first.version, QStringLiteral("1.05"));
    QCOMPARE(first.attr, quint8(0x3C));
    QCOMPARE(first.status, quint8(0x80));
    LFCHANNEL_INFO second;
    link.module.getChannel(1, &second);
    QCOMPARE(second.version, QStringLiteral("2A.10"));
    QCOMPARE(link.race(InnerModulePeer::GetChannel).last().data, le32(1));
}

void TestLFInnerModule::getTag_decodesFieldsAndStampsClubTime()
{
    ModuleLink link;
    link.peer.presentTag(QStringLiteral("0A1B2C3D"), QString(), 0xBEEF, QStringLiteral("17171717"));
    link.peer.presentTag(QStringLiteral("DEADBEEF"), QStringLiteral("01020304"), 7);
    link.module.connect();
    RFMODULE_INFO answer;
    link.module.exchangeInfo(nullptr, &answer);
    QCOMPARE(answer.tagCount, 2u);

    UTC::_clubTimeDiff = -250;
    LFTAG_INFO tag;
    tag.stored = 1;
    link.module.getTag(0, &tag);
    UTC::_clubTimeDiff = 0;
    QCOMPARE(tag.uid, QStringLiteral("00000000"));
    QCOMPARE(tag.eRing, QStringLiteral("0A1B2C3D"));
    QCOMPARE(tag.randNum, 0xBEEF);
    QCOMPARE(tag.extId, QStringLiteral("17171717"));
    QCOMPARE(tag.stored, 0);
    QCOMPARE(tag.time, kClockMs - 250);

    link.module.getTag(1, &tag);
    QCOMPARE(tag.uid, QStringLiteral("01020304"));
    QCOMPARE(tag.eRing, QStringLiteral("DEADBEEF"));
}

void TestLFInnerModule::syncMode_data()
{
    QTest::addColumn<int>("moduleMode");
    QTest::addColumn<int>("wanted");
    QTest::addColumn<bool>("initialises");
    QTest::newRow("already 1") << 1 << 1 << false;
    QTest::newRow("2 to 1") << 2 << 1 << true;
    QTest::newRow("1 to 2") << 1 << 2 << true;
}

void TestLFInnerModule::syncMode()
{
    QFETCH(int, moduleMode);
    QFETCH(int, wanted);
    QFETCH(bool, initialises);
    ModuleLink link;
    QByteArray params(16, '\x5C');
    params[0] = char(moduleMode);
    link.peer.setInitParams(params);
    link.module.connect();
    link.peer.clearRecords();

    link.module.syncMode(quint8(wanted));
    const QList<RingWire::Frame> frames = link.peer.frames();
    QCOMPARE(frames.size(), initialises ? 2 : 1);
    QCOMPARE(frames.at(0).group, quint8(0));
    QCOMPARE(frames.at(0).command, quint8(0));
    QCOMPARE(frames.at(0).data, QByteArray(1, '\x06'));
    if (initialises) {
        QCOMPARE(frames.at(1).command, quint8(2));
        QCOMPARE(frames.at(1).data, QByteArray("KORVAND0") + char(wanted) + QByteArray(7, '\0'));
    }
    // The module now holds the wanted mode: a second call only reads.
    link.peer.clearRecords();
    link.module.syncMode(quint8(wanted));
    QCOMPARE(link.peer.frames().size(), 1);
}

void TestLFInnerModule::failures_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<RingFault>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    RingFault status5;
    status5.status = 5;
    QTest::newRow("exchangeInfo status 5") << int(InnerModulePeer::ExchangeInfo) << status5 << 5
                                           << QStringLiteral("Do command error!");
    QTest::newRow("startRace status 5") << int(InnerModulePeer::StartRace) << status5 << 5
                                        << QStringLiteral("Do command error!");
    QTest::newRow("stopRace status 5") << int(InnerModulePeer::StopRace) << status5 << 5
                                       << QStringLiteral("Do command error!");
    QTest::newRow("getChannel status 5") << int(InnerModulePeer::GetChannel) << status5 << 5
                                         << QStringLiteral("Do command error!");
    QTest::newRow("getTag status 5") << int(InnerModulePeer::GetTag) << status5 << 5
                                     << QStringLiteral("Do command error!");

    RingFault cut;
    cut.dataBytes = 31;
    QTest::newRow("exchangeInfo 31 bytes") << int(InnerModulePeer::ExchangeInfo) << cut << 1025
                                           << QStringLiteral("Response length error!");
    cut.dataBytes = 11;
    QTest::newRow("getChannel 11 bytes") << int(InnerModulePeer::GetChannel) << cut << 263
                                         << QStringLiteral("Response format error!");
    cut.dataBytes = 27;
    QTest::newRow("getTag 27 bytes") << int(InnerModulePeer::GetTag) << cut << 263
                                     << QStringLiteral("Response format error!");

    // The length field claims a full answer the packet does not carry.
    RingFault lying;
    lying.dataBytes = 20;
    lying.dataLengthField = 32;
    QTest::newRow("exchangeInfo claims 32, carries 20") << int(InnerModulePeer::ExchangeInfo) << lying << 1025
                                                        << QStringLiteral("Response length error!");
    lying.dataBytes = 10;
    lying.dataLengthField = 28;
    QTest::newRow("getTag claims 28, carries 10") << int(InnerModulePeer::GetTag) << lying << 263
                                                  << QStringLiteral("Response format error!");

    // No status and length at all: never a success.
    RingFault bare;
    bare.payloadBytes = 2;
    QTest::newRow("exchangeInfo without status") << int(InnerModulePeer::ExchangeInfo) << bare << 1025
                                                 << QStringLiteral("Response length error!");
    QTest::newRow("startRace without status") << int(InnerModulePeer::StartRace) << bare << 263
                                              << QStringLiteral("Response length error!");
    QTest::newRow("getTag without status") << int(InnerModulePeer::GetTag) << bare << 263
                                           << QStringLiteral("Response format error!");

    // Link faults pass through as the link reports them.
    RingFault crc;
    crc.wrongCrc = true;
    QTest::newRow("bad CRC") << int(InnerModulePeer::GetTag) << crc << 266 << QStringLiteral("Packet format error!");
    RingFault type;
    type.type = 0x21;
    QTest::newRow("wrong packet type") << int(InnerModulePeer::ExchangeInfo) << type << 263
                                       << QStringLiteral("Response packet format error!");
    RingFault silent;
    silent.silent = true;
    QTest::newRow("silence") << int(InnerModulePeer::StopRace) << silent << 259 << QStringLiteral("Nothing received!");
    RingFault garbage;
    garbage.garbageBefore = QByteArray::fromHex("55AA");
    QTest::newRow("garbage before start") << int(InnerModulePeer::StopRace) << garbage << 263
                                          << QStringLiteral("STB error!");
}

void TestLFInnerModule::failures()
{
    QFETCH(int, command);
    QFETCH(RingFault, fault);
    QFETCH(int, code);
    QFETCH(QString, message);
    ModuleLink link;
    link.peer.presentTag(QStringLiteral("CAFEF00D"));
    link.module.connect();
    RFMODULE_INFO answer;
    link.module.exchangeInfo(nullptr, &answer);

    const std::function<void()> calls[] = {
        [&] { link.module.exchangeInfo(nullptr, &answer); },
        [&] { link.module.startRace(QStringLiteral("00000000"), 0x311); },
        [&] { link.module.stopRace(); },
        [&] { LFCHANNEL_INFO c; link.module.getChannel(0, &c); },
        [&] { LFTAG_INFO t; link.module.getTag(0, &t); },
    };
    link.peer.pushFault(fault);
    const Outcome outcome = attempt(calls[command]);
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.message, message);

    // The module stays usable: the next command goes through.
    const Outcome next = attempt(calls[command]);
    QCOMPARE(next.code, 0);
}

void TestLFInnerModule::disconnect_thenConnect_setsPortUpAgain()
{
    ModuleLink link;
    link.module.connect();
    link.module.disconnect();
    QVERIFY(!link.module.isConnected());
    QCOMPARE(link.module.getModuleId(), QString());
    QVERIFY(link.serial.isOpen()); // disconnect leaves the port alone

    link.serial.setBaudRate(19200);
    link.peer.clearRecords();
    link.module.connect();
    QCOMPARE(link.serial.baudRate(), 9600);
    QVERIFY(link.module.isConnected());
    QCOMPARE(link.module.getModuleId(), kModuleId);
    // The id and the type were read again.
    QCOMPARE(link.peer.commands(0, 0).size(), 2);

    // A module that stops answering leaves the driver not connected.
    RingFault silent;
    silent.silent = true;
    link.peer.setFault(silent);
    QCOMPARE(attempt([&] { link.module.connect(); }).code, 259);
    QVERIFY(!link.module.isConnected());
}

QTEST_GUILESS_MAIN(TestLFInnerModule)
#include "tst_lfmodule.moc"
