// The club link's frames from outside: the response parser and the master's
// decoding of every router, clock and printer answer, and the request parser
// the clock uses as a slave. The first input byte picks the operation; the
// rest, split at "\n--\n", are the answers to the frames the clock sends in
// turn (or, for the slave, the bytes the master sends). When the input runs
// out the line is silent: the port then ends the operation at once, as the
// real one would after its time-out.
#include "club/morlanmaster.h"
#include "club/morlanprotocol.h"
#include "core/vexexception.h"
#include "device/commport.h"
#include "fuzzsupport.h"
#include "testroot.h"

#include <deque>

namespace {

// The line fell silent: no byte will come.
struct Silence
{
};

class FuzzPort : public CommPort
{
public:
    explicit FuzzPort(const QList<QByteArray> &pieces)
        : answers(pieces.begin(), pieces.end())
    {
    }
    // The slave reads the first piece without sending anything first.
    void releaseNext()
    {
        input.clear();
        at = 0;
        if (!answers.empty()) {
            input = answers.front();
            answers.pop_front();
        }
    }

    bool open() override { return true; }
    bool isOpen() override { return true; }
    void close() override {}
    void clear() override
    {
        input.clear();
        at = 0;
    }
    bool sendBytes(QByteArray bytes) override
    {
        written += bytes;
        releaseNext();
        return true;
    }
    bool sendByte(unsigned char b) override { return sendBytes(QByteArray(1, char(b))); }
    bool receiveByte(unsigned char *b) override
    {
        if (at >= input.size())
            throw Silence();
        *b = uchar(input.at(at++));
        return true;
    }
    int receiveBytes(QByteArray *buffer, int n) override
    {
        if (n <= 0)
            return n;
        if (at >= input.size())
            throw Silence();
        const QByteArray piece = input.mid(at, n);
        at += piece.size();
        buffer->append(piece);
        return int(piece.size());
    }

    QByteArray written;

private:
    std::deque<QByteArray> answers;
    QByteArray input;
    qsizetype at = 0;
};

void checkResponse(const MorlanResponsePacket &packet)
{
    FUZZ_CHECK(packet.data.size() == packet.length);
    FUZZ_CHECK(packet.data.size() <= 254);
}

void master(int operation, FuzzPort &port)
{
    MorlanMasterHandler handler(&port);
    // Every status the router may give is a result, never a crash.
    switch (operation) {
    case 1: {
        quint8 code = 0;
        QByteArray key;
        handler.sendAuthorizeReq();
        handler.getAuthorizeResp(&code, &key);
        break;
    }
    case 2:
        handler.sendInitReq();
        handler.getInitResp();
        break;
    case 3: {
        QString eRing;
        QString uid;
        quint8 rand = 0;
        if (handler.readTransponder(&eRing, &rand, &uid) == 0)
            FUZZ_CHECK(eRing.size() <= 8);
        break;
    }
    case 4: {
        QByteArray block;
        quint8 b0 = 0;
        quint8 b1 = 0;
        handler.readTransponder(&block, &b0, &b1, 0, 5);
        break;
    }
    case 5: {
        QByteArray block;
        handler.setRandom(&block);
        break;
    }
    case 6: {
        QByteArray params;
        handler.sendReadParamReq(0, 1);
        handler.getReadParamResp(&params);
        break;
    }
    case 7: {
        quint8 b0 = 0;
        handler.sendSetDigoutReq(1);
        handler.getSetDigoutResp(&b0);
        break;
    }
    case 8: {
        qint64 utcMs = 0;
        quint8 status = 0;
        if (handler.readTimeEx(&utcMs, &status) == 0)
            FUZZ_CHECK(utcMs > 0);
        break;
    }
    case 9: handler.testTime(); break;
    case 10: handler.setTime(1700000000000LL); break;
    case 11:
        // Three frames' worth: each piece answers one of them.
        handler.print(QString(600, QLatin1Char('x')), MorlanMasterHandler::kPrinterAddress);
        break;
    default:
        handler.writeTransponder(QByteArray(8, '\x5A'), 0, 5);
        break;
    }
    checkResponse(handler.lastResponse());
}

void slave(FuzzPort &port)
{
    port.releaseNext();
    MorlanRequestParser parser(&port);
    MorlanRequestPacket packet;
    // Requests one after the other until the line falls silent.
    for (int i = 0; i < 64; ++i) {
        try {
            if (!parser.fetchPacket(&packet))
                continue;
        } catch (const VexException &) {
            continue;
        }
        FUZZ_CHECK(packet.data.size() == packet.length);
        // A request read whole goes out again as the same frame.
        const QByteArray frame = packet.toByteArray();
        FUZZ_CHECK(frame.size() == 5 + packet.length);
        FUZZ_CHECK(quint8(frame.at(frame.size() - 1)) == morlanSum(frame, int(frame.size()) - 1));
        // Answering it: a data size the frame cannot carry is refused, not sent.
        MorlanResponsePacket answer;
        answer.start = 0x33;
        answer.command = packet.command;
        answer.data = packet.data;
        MorlanResponseParser(&port).sendPacket(answer);
    }
}

void frames(const QByteArray &bytes)
{
    // Loading any bytes as a frame, whatever their length.
    const MorlanResponsePacket response(bytes);
    FUZZ_CHECK(response.data.size() <= response.length);
    const MorlanRequestPacket request(bytes);
    FUZZ_CHECK(request.data.size() <= request.length);
    MorlanResponseParser parser(nullptr);
    for (char c : bytes)
        parser.push(quint8(c));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::init(argc, argv);
    static TestRoot root;
    root.activate();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest = Fuzz::bytes(data + 1, size - 1);
    FuzzPort port(Fuzz::pieces(rest));
    const int operation = data[0] % 14;
    try {
        if (operation == 0)
            frames(rest);
        else if (operation == 13)
            slave(port);
        else
            master(operation, port);
    } catch (const VexException &) {
    } catch (const Silence &) {
    }
    return 0;
}
