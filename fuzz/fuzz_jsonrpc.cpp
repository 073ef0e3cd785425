// The cloud service's replies to the clock's JSON-RPC calls: whatever the
// body of an HTTP reply holds, the check of the reply either gives the
// result or fails with VexException. "@ID@" in the input stands for the id of
// the request it answers, so that the check can be passed. The first input
// byte picks the call.
#include "core/vexexception.h"
#include "fuzzsupport.h"
#include "gsm/jsonservice.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

class FuzzService : public JsonService
{
public:
    FuzzService()
        : JsonService(nullptr)
    {
    }
    QByteArray postHttp(QByteArray body) override
    {
        const QJsonObject request = QJsonDocument::fromJson(body).object();
        FUZZ_CHECK(request.contains(QStringLiteral("id")));
        const QByteArray id = QByteArray::number(request.value(QStringLiteral("id")).toInteger());
        return QByteArray(reply).replace("@ID@", id);
    }
    QByteArray reply;
};

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
    FuzzService service;
    service.reply = Fuzz::bytes(data + 1, size - 1);
    const QByteArray loft("NL-1234");
    const QByteArray password("s3cret");
    const QByteArray params("{\"a\":1}");
    try {
        switch (data[0] % 6) {
        case 0: service.sendState(loft, password, params); break;
        case 1: service.sendMarkRecord(loft, password, params); break;
        case 2: service.sendRecordList(loft, password, params, QStringLiteral("O'Brien")); break;
        case 3: service.sendRecord(loft, password, params); break;
        case 4: service.doMethodMac("sendState4", loft, password, params, QString()); break;
        default: service.doMethod("getTime", loft, {QVariant(1), QVariant(QStringLiteral("x"))}); break;
        }
    } catch (const VexException &) {
        // A refused reply: the upload is tried again later.
    }
    return 0;
}
