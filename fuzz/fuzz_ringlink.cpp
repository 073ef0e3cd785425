// The ring-reader link's receiving side over a real serial port: the frame
// receiver, the packet and response checks and the decoders of every command
// that reads a module's, a connector reader's or a standalone reader's answer.
// A peer thread on the master end of a pseudo-terminal answers each request
// frame with the next piece of the input (pieces split at "\n--\n"; the first
// byte of the input picks the operation). Two end bytes follow every answer,
// so a frame cut short ends at once instead of waiting out the time-out.
#include "core/vexexception.h"
#include "device/DeviceComm.h"
#include "device/LFReaderHandler.h"
#include "device/lfmodule.h"
#include "device/rfconnector.h"
#include "fuzzsupport.h"
#include "ptypair.h"
#include "testroot.h"

#include <QSerialPort>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr char kEndByte = 0x17;
constexpr int kPeerPollMs = 50;
// A body holds at most 128 bytes, twice that escaped: longer answers only
// fill the line.
constexpr int kMaxAnswerBytes = 600;

struct Line
{
    PtyPair pty;
    QSerialPort port;
    std::mutex mutex;
    std::deque<QByteArray> answers; // guarded by mutex
    QByteArray request;             // peer thread only
};

Line *line = nullptr;

void peerLoop()
{
    for (;;) {
        if (!line->pty.waitReadable(kPeerPollMs))
            continue;
        line->request += line->pty.readAvailable();
        if (!line->request.contains(kEndByte))
            continue;
        line->request.clear();
        QByteArray answer;
        {
            std::lock_guard<std::mutex> lock(line->mutex);
            if (!line->answers.empty()) {
                answer = line->answers.front().left(kMaxAnswerBytes);
                line->answers.pop_front();
            }
        }
        line->pty.write(answer + QByteArray(2, kEndByte));
    }
}

void checkHexId(const QString &id)
{
    FUZZ_CHECK(id.size() == 8);
}

void run(int operation)
{
    DeviceHandler handler(&line->port);
    LFInnerModule module(&line->port);
    LFReaderHandler reader(&line->port);
    switch (operation) {
    case 0: checkHexId(handler.getDevNo()); break;
    case 1: handler.getDevType(); break;
    case 2: {
        unsigned char params[16];
        handler.getInitParams(params);
        break;
    }
    case 3: handler.getTime(); break;
    case 4: handler.rebootDev(); break;
    case 5: {
        PIGEONHOST_INFO host;
        RFMODULE_INFO info;
        module.exchangeInfo(&host, &info);
        checkHexId(info.id);
        break;
    }
    case 6: {
        LFCHANNEL_INFO channel;
        module.getChannel(1, &channel);
        checkHexId(channel.id);
        break;
    }
    case 7: {
        LFTAG_INFO tag;
        module.getTag(1, &tag);
        checkHexId(tag.eRing);
        break;
    }
    case 8: module.syncMode(1); break;
    case 9: {
        // Two synchronisations: the second one starts from what the first held.
        RFConnector connector(&line->port);
        QList<LFCHANNEL_INFO> channels;
        QList<LFTAG_INFO> tags;
        connector.connect();
        for (int i = 0; i < 2; ++i) {
            connector.syncStatus(channels, tags);
            FUZZ_CHECK(channels.size() <= 0xFFFF && tags.size() <= 0xFFFF);
        }
        break;
    }
    case 10: {
        LFCHANNEL_INFO channel;
        RFConnector::getReader(&handler, 2, &channel);
        checkHexId(channel.id);
        break;
    }
    case 11: reader.readFDX(); break;
    case 12: reader.readID64(); break;
    case 13: FUZZ_CHECK(reader.activeHts().size() >= 16); break;
    case 14: FUZZ_CHECK(reader.readHtsPage(4).size() >= 8); break;
    default: {
        unsigned char id[5] = {1, 2, 3, 4, 5};
        reader.changeHtsID64(id);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::init(argc, argv);
    static TestRoot root;
    root.activate();
    line = new Line;
    if (!line->pty.isOpen())
        Fuzz::fail("no pseudo-terminal");
    line->port.setPortName(line->pty.slavePath());
    line->port.setBaudRate(115200);
    if (!line->port.open(QIODevice::ReadWrite))
        Fuzz::fail("cannot open the pseudo-terminal");
    // Runs until the process ends; it only ever touches the line.
    std::thread(peerLoop).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QList<QByteArray> answers = Fuzz::pieces(Fuzz::bytes(data + 1, size - 1));
    {
        std::lock_guard<std::mutex> lock(line->mutex);
        line->answers.assign(answers.begin(), answers.end());
    }
    try {
        run(data[0] % 16);
    } catch (const VexException &) {
        // A refused answer is the link's normal failure.
    }
    std::lock_guard<std::mutex> lock(line->mutex);
    line->answers.clear();
    return 0;
}
