#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QSerialPort;

// One position read from a $GPRMC sentence.
struct GpsInfo
{
    int lon = 0;      // milliseconds of arc, east positive
    int lat = 0;      // milliseconds of arc, north positive
    int fixState = 0; // 3 for a valid fix (status "A"), else 0
    qint64 time = 0;  // UTC ms of the fix; 0 when the sentence has no date
};

// Reads a stand-alone GPS receiver streaming NMEA 0183 over a serial port
// (read-only, 9600 8N1, no flow control): collects sentences from the byte
// stream and turns $GPRMC into a position and a time. It owns its port, which
// it makes in the constructor; build, open and poll it in one thread. The
// polling never waits. formatToInt is the NMEA coordinate conversion of every
// parser in the modem code.
class GpsModule
{
public:
    explicit GpsModule(const QString &portName);
    ~GpsModule();
    GpsModule(const GpsModule &) = delete;
    GpsModule &operator=(const GpsModule &) = delete;

    bool openPort();
    // The next complete sentence from the bytes available now, or a null text.
    QString readGpsString();
    bool parse(GpsInfo *info);

    static bool parseGpsString(const QString &sentence, GpsInfo *info);
    // NMEA ddmm.mmmm (or dddmm.mmmm), signed, to milliseconds of arc.
    static int formatToInt(double value);

private:
    void logNoise();

    static constexpr int kLineBufferBytes = 512;

    std::unique_ptr<QSerialPort> port;
    int lineLength = 0;
    char lineBuffer[kLineBufferBytes] = {};
};
