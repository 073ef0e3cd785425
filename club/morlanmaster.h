#pragma once

#include "club/morlanprotocol.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class CommPort;

// The clock as master of the club router: each command fills a request frame,
// sends it, reads the router's answer within the command's time-out, checks
// that the answer echoes the command and decodes its data. A refusal (status
// other than 0) is returned, never thrown, and leaves the outputs as they
// were; a failed exchange throws VexException. No link state of its own: the
// club-link thread builds one for the duration of club mode and calls it from
// that thread only. Output pointers may be null.
class MorlanMasterHandler
{
public:
    static constexpr quint8 kRouterAddress = 0x00;
    static constexpr quint8 kClockAddress = 0x56;   // 'V'
    static constexpr quint8 kPrinterAddress = 0x54; // 'T'
    static constexpr quint8 kSecondPrinterAddress = 0x22; // '"'
    // The router's answer time-outs, in empty 1 ms polls for the first byte:
    // the router answers its own parameters and its clock at once, while ring
    // and printer work takes it longer.
    static constexpr int kLongAnswerMs = 5000;
    static constexpr int kShortAnswerMs = 2000;

    explicit MorlanMasterHandler(CommPort *port);

    // Test seam: every answer time-out divided by this (1 in production), so
    // that tests of a silent router do not wait whole seconds.
    void setTimeoutDivisor(int divisor);

    void sendAuthorizeReq(quint8 address = kRouterAddress);
    int getAuthorizeResp(quint8 *code, QByteArray *key);
    void sendInitReq(quint8 address = kRouterAddress);
    int getInitResp();
    void sendReadTransponderReq(quint8 p1, quint8 p2, quint8 address = kRouterAddress);
    int getReadTransponderResp(QByteArray *block, quint8 *b0, quint8 *b1);
    void sendWriteTransponderReq(const QByteArray &block, quint8 p1, quint8 p2, quint8 address = kRouterAddress);
    int getWriteTransponderResp();
    void sendSetRandomReq(quint8 address = kRouterAddress);
    int getSetRandomResp(quint8 *b1, QByteArray *block);
    void sendReadParamReq(quint8 p1, quint8 p2, quint8 address = kRouterAddress);
    int getReadParamResp(QByteArray *params);
    void sendSetDigoutReq(quint8 value, quint8 address = kRouterAddress);
    int getSetDigoutResp(quint8 *b0);
    void sendGetTimeReq(quint8 address = kClockAddress);
    // Throws 0x500 when the time is asked for and the answer's time text is
    // short, holds a non-digit, or names no valid date and time.
    int getTimeResp(qint64 *utcMs, quint8 *timeStatus);
    void sendSetTimeReq(qint64 utcMs);
    int getSetTimeResp();
    void sendPrintDataReq(const QByteArray &text, quint8 address);
    int getPrintDataResp();

    // eRing: the ring number in upper-case hex; uid is always empty (the
    // router reports none).
    int readTransponder(QString *eRing, quint8 *rand, QString *uid);
    int readTransponder(QByteArray *block, quint8 *b0, quint8 *b1, quint8 p1, quint8 p2);
    int setRandom(QByteArray *block);
    // The text in ISO 8859-1 (other characters as '?'); a text longer than
    // one frame goes as consecutive requests to the same address, stopping at
    // the first refusal, whose status is returned.
    int print(const QString &text, quint8 address);
    int readTime(qint64 *utcMs);
    int readTimeEx(qint64 *utcMs, quint8 *timeStatus);
    int setTime(qint64 utcMs);
    int writeTransponder(const QByteArray &block, quint8 p1, quint8 p2);
    int setDigout(quint8 value);
    // Diagnostic: "STATUS:<n>" for a refusal, else "PARAMS:" and the answer's
    // data in upper-case hex.
    QString testTime();

    const MorlanResponsePacket &lastResponse() const { return response; }

private:
    void sendRequest(quint8 address, quint8 command, const QByteArray &data);
    // Reads the answer to the last request and checks its echo; returns its status.
    int fetchResponse(int timeoutMs, const char *wrongEchoMessage);
    int fetchResponse(int timeoutMs);
    quint8 dataByte(int index) const;

    CommPort *port = nullptr;
    MorlanRequestPacket request;
    MorlanResponsePacket response;
    int timeoutDivisor = 1;
};
