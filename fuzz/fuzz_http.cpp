// The reply parser of the cloud uploads, fed as the modem delivers: in pieces
// of any size. The first input byte sets the piece size; the reply must come
// out the same (body, state, refusal) as when it is fed in one piece.
#include "core/vexexception.h"
#include "fuzzsupport.h"
#include "gsm/gsmhttp.h"

namespace {

struct Outcome
{
    bool refused = false;
    int state = 0;
    int contentLength = 0;
    QByteArray body;
};

Outcome parse(const QByteArray &reply, int pieceBytes)
{
    GsmHttpResponse response;
    Outcome out;
    try {
        for (qsizetype at = 0; at < reply.size() && !response.isFinished(); at += pieceBytes) {
            QByteArray piece = reply.mid(at, pieceBytes);
            response.push(piece);
        }
    } catch (const VexException &) {
        out.refused = true;
    }
    out.state = response.getParseState();
    out.contentLength = response.getContentLength();
    out.body = response.getBody();
    FUZZ_CHECK(out.body.size() <= GsmHttpResponse::kMaxBodyBytes);
    if (response.isFinished() && !out.refused)
        FUZZ_CHECK(out.contentLength == out.body.size());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray reply = Fuzz::bytes(data + 1, size - 1);
    const Outcome whole = parse(reply, int(reply.size()) + 1);
    const Outcome pieces = parse(reply, 1 + data[0] % 64);
    FUZZ_CHECK(whole.refused == pieces.refused);
    if (!whole.refused) {
        FUZZ_CHECK(whole.state == pieces.state);
        FUZZ_CHECK(whole.body == pieces.body);
    }
    return 0;
}
