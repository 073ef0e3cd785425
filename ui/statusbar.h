#pragma once

#include <QString>

// What the status bar shows, read once per tick from the services. A
// service that is not published reads as neutral: modem flags 0, no fix,
// reader invalid, loft time from the device clock.
struct StatusSnapshot
{
    quint32 gsmFlags = 0;
    bool modemFailed = false; // failed starts in a row: the modem waits between them
    int csq = 0;
    bool gpsError = false;
    bool gpsOnline = false;
    bool gpsValid = false;
    qint64 loftTimeMs = 0;
    bool mainsPresent = true;
    int channelMode = 0;
    bool connectorReady = false;
    bool readerValid = false;
};

// The status bar's pictures and texts for one snapshot. An empty text means
// "leave as it is".
struct StatusLook
{
    QString gsmStyle;
    bool gprsKept = false; // the data-link picture is left unchanged
    QString gprsStyle;
    QString gpsStyle;
    QString gpsText;
    QString timeText;
    QString rfStyle;
    bool powerWarning = false;
};

// Gathers the snapshot and maps it to the look; the main window applies the
// look to its widgets. GUI thread; the services' accessors are thread-safe.
class StatusBar
{
public:
    enum GsmFlag : quint32 {
        DataContext = 0x8,
        ModemReady = 0x10,
        SocketOpen = 0x400,
    };

    // What the bar shows now; the mains reading is the caller's, made once
    // per tick for the bar and the power warning alike.
    static StatusSnapshot gather(bool mainsPresent);
    static StatusLook look(const StatusSnapshot &snapshot);
    static QString gsmSignalPicture(int csq);
    // A time in the status bar's pattern, as local time of the clock.
    static QString timeText(qint64 utcMs);
    // The club time, shown once when the window is built.
    static qint64 clubTimeMs();
};
