// The PC program's side of the club line: request frames of the seven slave
// commands as raw bytes (the frame parser, the binary commands, refused tags),
// and JSON-RPC calls to the data service, tagged with the session key so that
// they reach every method, on a temporary database with a loft, pigeons and
// races. The first input byte picks raw bytes (odd) or one JSON call (even).
// The service answers every call it parses, never crashes, and leaves the
// database sound (checked every kIntegrityEvery inputs).
#include "core/vexexception.h"
#include "fuzzsupport.h"
#include "slaverfixture.h"

#include <QDir>
#include <QJsonDocument>
#include <QStringList>
#include <QVariantMap>

namespace {

// A request frame holds 255 data bytes, the tag takes 4 of them.
constexpr int kMaxJsonBytes = 251;
// The whole file's check costs far more than a call: not at every input.
constexpr int kIntegrityEvery = 256;
int inputsSinceCheck = 0;

SlaverFixture *fixture = nullptr;

// The line fell silent: no byte will come.
struct Silence
{
};

// Raw request bytes, read once; nothing waits for more.
class RawPort : public MemoryCommPort
{
public:
    bool receiveByte(unsigned char *b) override
    {
        if (!MemoryCommPort::receiveByte(b))
            throw Silence();
        return true;
    }
    int receiveBytes(QByteArray *buffer, int n) override
    {
        const int got = MemoryCommPort::receiveBytes(buffer, n);
        if (n > 0 && got == 0)
            throw Silence();
        return got;
    }
};

void raw(const QByteArray &bytes)
{
    RawPort port;
    port.queueInput(bytes);
    MorlanSlaverHandler handler(&port);
    handler.setHooks({[] { return QStringLiteral("1A2B3C4D"); }, [] {}, [](quint8) {}});
    for (int poll = 0; poll < 64 && port.inputWaiting() > 0; ++poll) {
        try {
            handler.parseRequest();
        } catch (const VexException &) {
            // The link thread drops a failed poll and polls again.
        } catch (const Silence &) {
            return;
        }
    }
}

bool knownMethod(const QByteArray &text)
{
    static const QStringList methods = {
        "getLoftInfo", "setLoftInfo", "setParams", "getParams", "savePigeon", "deletePigeon",
        "queryPigeon", "getPigeonInfo", "saveRace", "deleteRace", "queryRace", "getRaceInfo",
        "queryRaceRecord", "queryRaceCode", "queryLog", "getLogInfo", "clearLog", "adjustGpsUtc"};
    const QVariant method = QJsonDocument::fromJson(text).toVariant().toMap().value(QStringLiteral("method"));
    return method.isNull() || methods.contains(method.toString(), Qt::CaseInsensitive);
}

void json(const QByteArray &text)
{
    const QByteArray call = text.left(kMaxJsonBytes);
    const PcPeer::JsonReply reply = fixture->peer.call(call);
    // Every call is answered (an error included), except an unknown method,
    // which PC programs probe with.
    if (knownMethod(call))
        FUZZ_CHECK(reply.answer.received);
    FUZZ_CHECK(fixture->link.exceptionsOut == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Every write of the service is flushed to its file; in memory that costs nothing.
    if (QDir(QStringLiteral("/dev/shm")).exists())
        qputenv("TMPDIR", "/dev/shm");
    Fuzz::init(argc, argv);
    fixture = new SlaverFixture;
    fixture->seedLoft(QLatin1String(SlaverFixture::kLoftNum), QLatin1String(SlaverFixture::kPassword));
    fixture->addPigeon(QStringLiteral("AB"), QStringLiteral("0A1B2C3D"));
    fixture->addPigeon(QStringLiteral("CD"));
    fixture->addRace(QStringLiteral("R1"), QStringLiteral("marked"));
    fixture->addRace(QStringLiteral("R2"), QStringLiteral("printed"));
    fixture->basket(QStringLiteral("AB"), QStringLiteral("R1"), SlaverFixture::kClubTimeMs - 1000);
    fixture->addLogs(3);
    fixture->openSession();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest = Fuzz::bytes(data + 1, size - 1);
    if (data[0] & 1)
        raw(rest);
    else
        json(rest);
    if (++inputsSinceCheck >= kIntegrityEvery) {
        inputsSinceCheck = 0;
        FUZZ_CHECK(fixture->db.value(QStringLiteral("PRAGMA integrity_check")).toString() == QLatin1String("ok"));
    }
    return 0;
}
