// Modem answers: the AT engine's line reading and waits and every parser of
// the three modem families (u-blox, Quectel EC25, Telit), on an in-memory
// modem with a virtual clock, so a silent modem costs no real time. The
// first input byte picks the family and the operation; the pieces of the
// rest (split at "\n--\n") answer the command lines in the order they are sent.
#include "core/vexexception.h"
#include "fuzzsupport.h"
#include "gsm/ec25gsmmodule.h"
#include "gsm/gsmhttp.h"
#include "gsm/telitgsmmodule.h"
#include "gsm/ubloxgsmmodule.h"
#include "modemfixture.h"
#include "scriptedmodem.h"
#include "testroot.h"

namespace {

constexpr int kOperations = 24;

GsmHttpRequest rpcRequest()
{
    GsmHttpRequest r;
    r.path = "/rpc";
    r.host = "cloud.test:9080";
    r.contentType = "application/json-rpc";
    r.charset = "UTF-8";
    r.body = "{\"method\":\"sendState4\",\"params\":[]}";
    return r;
}

// Coordinates in milliseconds of arc stay on the globe.
void checkPosition(int lon, int lat)
{
    FUZZ_CHECK(lon >= -180 * 3600000 && lon <= 180 * 3600000);
    FUZZ_CHECK(lat >= -90 * 3600000 && lat <= 90 * 3600000);
}

template <typename Driver>
void run(int operation, const QList<QByteArray> &answers)
{
    ScriptedModem<Driver> m;
    for (const QByteArray &a : answers)
        m.port->answer(a);
    GsmModule &modem = m.modem;
    TimeRecorder times;
    int lon = 0;
    int lat = 0;
    qint64 utcMs = 0;
    switch (operation) {
    case 0: modem.testAT(); break;
    case 1: modem.echoOff(); break;
    case 2: modem.setSmsMode(0); break;
    case 3: {
        modem.getCsq();
        break;
    }
    case 4: modem.sendPDUSms("0123456789", QStringLiteral("arrival 12:00:01")); break;
    case 5: modem.sendTXTSms("0123456789", "arrival 12:00:01"); break;
    case 6: modem.selectNet("26201"); break;
    case 7: modem.openSocket("cloud.test:9080"); break;
    case 8:
        if (modem.readGPS(&lon, &lat, &utcMs, &times) != 0)
            checkPosition(lon, lat);
        break;
    case 9:
        if (modem.readGsmLoc(&lon, &lat))
            checkPosition(lon, lat);
        break;
    case 10: modem.checkNetReg(); break;
    case 11: modem.readBytes(); break;
    case 12: {
        QByteArray out;
        modem.readBytes(64, out, 2000);
        FUZZ_CHECK(out.size() <= 64);
        break;
    }
    case 13: {
        GsmHttpResponse response;
        if (modem.requestHttp(rpcRequest(), response))
            FUZZ_CHECK(response.getBody().size() <= GsmHttpResponse::kMaxBodyBytes);
        break;
    }
    case 14: {
        GsmHttpResponse response;
        modem.receiveHttpResponse(response, 15000);
        break;
    }
    case 15: modem.getGsmLocTime(&times); break;
    case 16: modem.getNetUtcTime(&times); break;
    case 17: modem.activeNet(); break;
    case 18: modem.deactiveNet(); break;
    case 19: modem.closeSocket(); break;
    case 20: modem.sendTcpData("{\"id\":1}"); break;
    case 21: modem._init(); break;
    case 22:
        modem.configGps();
        modem.closeGps();
        break;
    default:
        modem.init();
        modem.waitResponseLine("+CSQ:", 2000, true);
        break;
    }
    for (const auto &t : times.times)
        FUZZ_CHECK(t.first >= 0);
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
    const QList<QByteArray> answers = Fuzz::pieces(Fuzz::bytes(data + 1, size - 1));
    const int operation = data[0] % kOperations;
    try {
        switch (data[0] / kOperations % 3) {
        case 0: run<UbloxGsmModule>(operation, answers); break;
        case 1: run<Ec25GsmModule>(operation, answers); break;
        default: run<TelitGsmModule>(operation, answers); break;
        }
    } catch (const VexException &) {
        // GsmException: the modem's normal failure.
    }
    return 0;
}
