#pragma once

// Every duration of the modem thread's loop, in one record: the program runs
// with the production values; a test hands the service a scaled copy so that
// a 10 s power-off pause or a 60 s offline limit costs a fraction of that.
// The 10 ms step of every pause is not part of the record and never scales.
// A plain value, copied into the service before it starts.
struct GsmTiming
{
    int usbWaitMs = 2000;            // after loading the USB host driver (board type 1)
    int nodeWaitMs = 30000;          // for the modem's USB serial node to appear
    int settleMs = 7000;             // after the port opens, before the first step
    int cyclePauseMs = 10000;        // powered off between two modem cycles
    int regIntervalMs = 15000;       // between registration checks while registered
    int offlineLimitMs = 60000;      // without registration before the modem restarts
    int netTimeIntervalMs = 600000;  // after network (or cell-location) time was taken
    int cellTimeRetryMs = 15000;     // after the cell-location time failed too
    int netTimeRetryMs = 3000;       // after network time failed
    int gpsIntervalMs = 60000;       // between position reads and GPS set-up attempts
    int smsIdleMs = 5000;            // SMS turn: nothing to send
    int smsRetryMs = 30000;          // SMS turn: a send failed, or an error
    int gprsIdleMs = 1000;           // upload turn: nothing to send
    int gprsRetryMs = 5000;          // upload turn: a send failed, or an error
    int activationRetryMs = 5000;    // after the data connection was refused
    int watchdogMs = 5000;           // between two watchdog reports
    int backoffCapMs = 600000;       // longest pause after failed starts in a row

    // Every duration divided by divisor (at least 1 ms each).
    GsmTiming scaled(int divisor) const;
};
