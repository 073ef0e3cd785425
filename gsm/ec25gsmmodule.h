#pragma once

#include "gsm/gsmmodule.h"

// The modem driver of the Quectel EC25 ("AT+Q" commands): packet-data
// context, one TCP socket (connection 0), socket data read inside the HTTP
// receive, the module's GPS, its cell-location service and network clock. No
// online mode. Made, used and destroyed by the modem thread for one modem cycle.
class Ec25GsmModule : public GsmModule
{
public:
    Ec25GsmModule();
    ~Ec25GsmModule() override;

    void setAPN(QByteArray apn, QByteArray user, QByteArray password) override;
    bool closeGps() override;
    void deactiveNet() override;
    bool activeNet() override;
    void configGps() override;
    bool closeSocket() override;
    bool sendTcpData(QByteArray data) override;
    bool receiveHttpResponse(GsmHttpResponse &response, int timeoutMs) override;
    bool _init() override;
    bool _openSocket(QByteArray address, bool onlineMode) override;
    bool _readGPS(int *lon, int *lat, qint64 *utcMs, TimeCallback *cb) override;
    bool _getGsmLocGps(int *lon, int *lat) override;
    qint64 _getNetUtcTime(TimeCallback *cb) override;

    QString _readGRMC();
    // Reads nothing: the socket data are read inside receiveHttpResponse.
    int readTcpData(QByteArray &out);
    // "+QLBS:" answer "result,longitude,latitude" (decimal degrees) to
    // milliseconds of arc; false, with both outputs 0, unless the result is 0.
    static bool parseGsmLocation(QByteArray answer, int *lon, int *lat);

    // The location service's access token, fixed in the program.
    static constexpr const char *kLocationToken = "7Qm2Xv9Lk4Rt8Hs1";
    // Passes of one HTTP receive, and the bytes one socket read asks for.
    static constexpr int kReceivePasses = 100;
    static constexpr int kReadChunkBytes = 1500;
};
