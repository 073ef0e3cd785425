#pragma once

#include "device/DeviceComm.h"

#include <QString>

// A standalone low-frequency ring reader on the ring-reader link: reads FDX
// and 64-bit ID transponders, activates, reads and writes Hitag S ones, and
// turns a Hitag S tag into a 64-bit ID tag by writing an ID frame into its
// pages 4 and 5. Used by the one thread that owns its port; results are
// upper-case hex text, two digits per byte, in the reader's order.
class LFReaderHandler : public DeviceHandler
{
public:
    explicit LFReaderHandler(QSerialPort *port);
    ~LFReaderHandler() override;

    QString readFDX();
    QString readID64();
    QString activeHts();
    QString readHtsPage(unsigned char page);
    void writeHtsPage(unsigned char page, unsigned char *data4);
    void changeHtsID64(unsigned char *id5);

    // The 64-bit EM4100 ID frame of a 5-byte id, most significant bit first.
    static void ID64_CreateTrailer(unsigned char *id5, unsigned char *out8);
    // Reverses 4 bytes in place: the reader sends a uid last byte first.
    static void parsUid(unsigned char *uid4);

private:
    // One transponder command: returns the data bytes the answer carried,
    // after the length test (513 below minDataBytes) and the status test (514).
    QByteArray transponder(const QByteArray &request, int minDataBytes, const char *errorText);
};
