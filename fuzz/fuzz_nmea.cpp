// Position texts from outside: NMEA $GPRMC sentences (the stand-alone GPS
// receiver and the modems' GPS), the Telit GPS answer and the cell-location
// answers of the EC25 and Telit modems, and the figures read out of modem
// answers. A position that is accepted lies on the globe; a fix time is never
// before 1970. The first input byte picks the parser.
#include "core/vexexception.h"
#include "fuzzsupport.h"
#include "gsm/ec25gsmmodule.h"
#include "gsm/gps.h"
#include "gsm/gsmmodule.h"
#include "gsm/modemanswer.h"
#include "gsm/nmearmc.h"
#include "gsm/telitgsmmodule.h"

namespace {

constexpr qint64 kArcMsPerDegree = 3600000;

void checkPosition(int lon, int lat)
{
    FUZZ_CHECK(qAbs(qint64(lon)) <= 180 * kArcMsPerDegree);
    FUZZ_CHECK(qAbs(qint64(lat)) <= 90 * kArcMsPerDegree);
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
    const QByteArray bytes = Fuzz::bytes(data + 1, size - 1);
    const QString text = QString::fromLatin1(bytes);
    int lon = 0;
    int lat = 0;
    qint64 utcMs = 0;
    try {
        switch (data[0] % 8) {
        case 0: {
            NmeaRmc rmc;
            if (NmeaRmc::parse(text, &rmc)) {
                checkPosition(rmc.lon, rmc.lat);
                FUZZ_CHECK(rmc.timeMs >= 0);
            }
            break;
        }
        case 1: {
            GpsInfo info;
            if (GpsModule::parseGpsString(text, &info)) {
                checkPosition(info.lon, info.lat);
                FUZZ_CHECK(info.time >= 0);
            }
            break;
        }
        case 2:
            if (GsmModule::parseGRMC(text, &lon, &lat, &utcMs)) {
                checkPosition(lon, lat);
                FUZZ_CHECK(utcMs >= 0);
            }
            break;
        case 3:
            if (TelitGsmModule::parseGPS(text, &lon, &lat))
                checkPosition(lon, lat);
            break;
        case 4:
            if (TelitGsmModule::parseGsmLocation(bytes, &lon, &lat))
                checkPosition(lon, lat);
            break;
        case 5:
            if (Ec25GsmModule::parseGsmLocation(bytes, &lon, &lat))
                checkPosition(lon, lat);
            break;
        case 6: {
            int arcMs = 0;
            if (ModemAnswer::degrees(bytes, ModemAnswer::kMaxLongitude, &arcMs))
                FUZZ_CHECK(qAbs(qint64(arcMs)) <= 180 * kArcMsPerDegree);
            break;
        }
        default: {
            const int count = ModemAnswer::byteCount(bytes, data[0] & 0x80, 1500);
            FUZZ_CHECK(count >= 0 && count <= 1500);
            break;
        }
        }
    } catch (const VexException &) {
        // GsmException 769: a count that is no count.
    }
    return 0;
}
