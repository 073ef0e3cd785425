#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

// The device clock and the time value of the system: milliseconds since
// 1970-01-01 00:00 UTC. The device clock is the system clock (read through the
// platform layer) plus a process-wide offset that each synchronisation moves;
// the system clock itself is never set. Any thread may read the clock and the
// zone without a lock; setTime serialises its writers under one mutex.
class UTC
{
public:
    // The ring-reader service's side of a synchronisation: its module type,
    // and a request to write the device clock into a module that keeps a
    // clock of its own. Empty functions mean no service is running.
    struct RfHook {
        std::function<int()> getRfDevType;
        std::function<void()> requestVerifyDevTime;
    };

    explicit UTC(qint64 ms = 0);
    // From UTC calendar fields; 0 when the fields form no date or time.
    UTC(int year, int month, int day, int hour, int minute, int second, int msec);

    static void init();
    static UTC now();
    static UTC clubTime();
    static void setTimeZone(int seconds);
    // Synchronises the device clock to ms; a persistent change is recorded in
    // the clock-offset file.
    static void setTime(qint64 ms, bool persist);
    static QString format(qint64 ms, const QString &fmt);
    // 0 when the text does not parse with the format.
    static UTC parseUTC(const QString &text, const QString &fmt);
    static UTC parseLocal(const QString &text, const QString &fmt);
    // The UTC time of the current local day's midnight.
    static UTC today();

    // Set by the service thread while the ring-reader service exists; setting
    // or clearing waits for a synchronisation in progress, so the service may
    // die once the hook is cleared.
    static void setRfHook(const RfHook &hook);
    static void clearRfHook();
    static bool hasRfHook();

    // Local calendar fields, taken unchecked: out-of-range fields roll over.
    void loadFromLocal(int year, int month, int day, int hour, int minute, int second, int msec);
    qint64 value() const { return ms; }
    QString format(const QString &fmt) const;

    int year() const;
    int month() const;
    int day() const;
    int hour() const;
    int minute() const;
    int second() const;
    int millsecond() const;
    int utcYear() const;
    int utcMonth() const;
    int utcDay() const;
    int utcHour() const;
    int utcMinute() const;
    int utcSecond() const;

    // Device clock minus system clock, ms.
    static std::atomic<qint64> _timeBase;
    // Persistent synchronisations since start.
    static std::atomic<quint32> _syncId;
    // Seconds east of UTC, applied to every local-time conversion.
    static std::atomic<int> _timezone;
    // Club time minus device time, ms; written by the race engine.
    static std::atomic<qint64> _clubTimeDiff;

private:
    qint64 localMs() const;

    qint64 ms = 0;
};
