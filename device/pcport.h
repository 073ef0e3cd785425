#pragma once

#include <QByteArray>

class QSerialPort;

// The PC serial port (the "_serialPort_PC" node, /dev/ttyS1): one QSerialPort
// of the GUI thread, made on first use, shared by the users that write to the
// PC (the export to the PC program, the barcode label) one after another.
// Each user opens it, writes, and closes it. GUI thread only; destroy() runs
// in main before the application object goes.
class PcPort
{
public:
    // Closes the port when open, sets 9600 baud, 8N1, no flow control and
    // opens it for reading and writing. False (logged) when it cannot open.
    static bool open();
    static bool isOpen();
    // Sends the bytes and waits until the driver took them, bounded by the
    // line time of these bytes and of those written before that the line
    // cannot have sent yet, plus a margin: a driver may hold kilobytes of
    // earlier lines and take new bytes only once they left. False when the
    // port is closed, the line failed or the bound passed; what was not sent
    // is dropped, and so is what the driver still held.
    static bool write(const QByteArray &bytes);
    // Closes the port if open; bytes already written have left by then.
    static void close();
    // Deletes the port object (closing it first).
    static void destroy();

    static constexpr int kBaud = 9600;

private:
    static QSerialPort *port();
    static QSerialPort *_port;
};
