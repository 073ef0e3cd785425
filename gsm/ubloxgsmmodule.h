#pragma once

#include "gsm/gsmmodule.h"

// The modem driver of the u-blox family ("AT+U" commands): packet-data
// profile, TCP socket by number, socket data, the module's GPS with
// assistance, the cell-location service (which also gives the time) and the
// network clock. Made, used and destroyed by the modem thread for one modem cycle.
class UbloxGsmModule : public GsmModule
{
public:
    UbloxGsmModule();
    ~UbloxGsmModule() override;

    bool sendTXTSms(QByteArray number, QByteArray text) override;
    qint64 getGsmLocTime(TimeCallback *cb) override;
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

    int readTcpData(QByteArray &out);
    bool configUGPRF();
    void _configAGps();
    bool _configGps();
    QString _readGRMC();

    // The endpoint an empty address connects to.
    static const char *const kDefaultTestHost;
    static constexpr int kDefaultTestPort = 1200;

private:
    struct CellLocation
    {
        qint64 utcMs = 0;
        int lon = 0;
        int lat = 0;
    };
    bool queryLocation(CellLocation *where);
};
