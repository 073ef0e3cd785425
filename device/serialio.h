#pragma once

#include <QtGlobal>

class QSerialPort;

// Blocking helpers for a QSerialPort driven by its owner thread, where no
// event loop runs: Qt then moves bytes only inside its waitFor... calls.
// Shared by the club link's byte port and the ring-reader link.
class SerialIo
{
public:
    // Bytes waiting to be read, counting what the driver holds and Qt has not
    // fetched yet; never blocks.
    static qint64 waitingBytes(QSerialPort *port);
    // Reads and drops everything waiting, Qt's buffer included, in pieces of
    // at most 100 bytes.
    static void discardInput(QSerialPort *port);
    // Writes the bytes and pushes them to the driver, bounded by their line
    // time at the port's baud rate plus 500 ms. True when the driver took
    // every byte; otherwise the unsent rest is dropped so that it cannot trail
    // into a later frame. aheadBytes are bytes written earlier that the driver
    // may still hold: they leave first, so the bound also covers their line
    // time, with a quarter more for a far end that reads a little late. A
    // driver may hold kilobytes and make room only as the far end takes them
    // (a pseudo-terminal does), so a writer that streams passes what it
    // queued. Waits in slices of 100 ms, ending early when the line fails.
    static bool writeAll(QSerialPort *port, const char *data, qint64 size, qint64 aheadBytes = 0);
    // True when the line itself has failed: it reports a hang-up or an error
    // (the far end of a pseudo-terminal closed, an adapter unplugged, Qt
    // reported the device lost), so
    // every read and write on it fails until the port is opened afresh. A
    // UART's line never does. Never blocks.
    static bool lineLost(QSerialPort *port);
    // Blocks up to ms for input. Returns early when input came; when the line
    // fails (hang-up, error) the rest is slept, so a dead line never spins.
    static void waitForInput(QSerialPort *port, int ms);
};
