#pragma once

#include "gsm/gsmmodule.h"

// The modem driver of the Telit family ("AT#" and "AT$" commands): packet-data
// context, TCP socket (connection 1) in command mode or online (transparent)
// mode, socket data announced by "SRING:", the module's GPS, the cell
// location and the network clock kept in UTC. Made, used and destroyed by the
// modem thread for one modem cycle.
class TelitGsmModule : public GsmModule
{
public:
    TelitGsmModule();
    ~TelitGsmModule() override;

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

    // One socket read into out: the byte count, 0 when nothing was there.
    int readTcpData(QByteArray &out);
    void _exitOnlineMode();
    // "$GPSACP:" answer to milliseconds of arc; false (outputs 0) without a 2D or 3D fix.
    static bool parseGPS(QString answer, int *lon, int *lat);
    // "#GTP:" answer "latitude,longitude,..." (decimal degrees) to milliseconds of arc.
    static bool parseGsmLocation(QByteArray answer, int *lon, int *lat);

    bool isOnline() const { return inOnlineMode; }
    const QByteArray &getApnUser() const { return apnUser; }
    const QByteArray &getApnPassword() const { return apnPassword; }

    // The modem needs this long after power-up before it takes the clock mode.
    static constexpr int kStartupMs = 10000;
    static constexpr int kReadChunkBytes = 1500;

private:
    QByteArray receiveChunk();

    // Kept for the record: no command of this family sends them.
    QByteArray apnUser;
    QByteArray apnPassword;
};
