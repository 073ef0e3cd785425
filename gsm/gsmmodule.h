#pragma once

#include "gsm/gsmstate.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <atomic>
#include <memory>

class CommPort;
class GsmClock;
class GsmHttpRequest;
class GsmHttpResponse;
class QSerialPort;
class TimeCallback;

// The abstract modem driver: owns the modem's AT port and speaks the AT
// command language over it (line reading and waits with time-outs, the OK /
// ERROR / +CME ERROR rules, signal, registration, SMS, operator selection,
// packet data, HTTP, RMC parsing, the cached cell position); the families
// supply their own commands. Built and used by the modem thread only; other
// threads call requestExit() and getState(). Errors throw GsmException.
class GsmModule
{
public:
    GsmModule();
    virtual ~GsmModule();
    GsmModule(const GsmModule &) = delete;
    GsmModule &operator=(const GsmModule &) = delete;

    virtual bool testAT();
    virtual bool echoOff();
    virtual bool echoOn();
    virtual bool setSmsMode(int mode);
    virtual int getCsq();
    virtual bool sendPDUSms(QByteArray number, QString text);
    virtual bool selectNet(QByteArray operatorCode);
    virtual bool sendTXTSms(QByteArray number, QByteArray text);
    virtual bool openSocket(QByteArray address);
    virtual int readGPS(int *lon, int *lat, qint64 *utcMs, TimeCallback *cb);
    virtual int readGsmLoc(int *lon, int *lat);
    virtual void checkNetReg();
    virtual QByteArray readBytes();
    virtual void readBytes(int count, QByteArray &out, int timeoutMs);
    virtual bool requestHttp(const GsmHttpRequest &request, GsmHttpResponse &response);
    virtual qint64 getGsmLocTime(TimeCallback *cb);
    virtual void setAPN(QByteArray apn, QByteArray user, QByteArray password) = 0;
    virtual bool closeGps() = 0;
    virtual void deactiveNet() = 0;
    virtual bool activeNet() = 0;
    virtual void configGps() = 0;
    virtual bool closeSocket() = 0;
    virtual bool sendTcpData(QByteArray data) = 0;
    virtual bool receiveHttpResponse(GsmHttpResponse &response, int timeoutMs) = 0;
    virtual bool _init() = 0;
    virtual bool _openSocket(QByteArray address, bool onlineMode) = 0;
    virtual bool _readGPS(int *lon, int *lat, qint64 *utcMs, TimeCallback *cb) = 0;
    virtual bool _getGsmLocGps(int *lon, int *lat) = 0;
    virtual qint64 _getNetUtcTime(TimeCallback *cb) = 0;
    virtual bool _activeNet(QString command, int timeoutMs);
    virtual void _deactiveNet(QString command, int timeoutMs);
    virtual bool _closeSocket(QString command, int timeoutMs);

    // Makes the serial port on the device node (mapped under the platform
    // root) in the calling thread: 115200 8N1, RTS/CTS. Throws 257.
    void open(const QString &device);
    void close();
    bool isOpen() const;
    void clear();
    void init();
    // From any thread: the wait in progress ends with "GSM exit!".
    void requestExit();

    void sendBytes(const QByteArray &bytes);
    void sendCommand(const QByteArray &command);
    QByteArray readLine(int timeoutMs, int mode);
    bool waitOKLine(int timeoutMs, bool throwOnError);
    bool readUntil(QByteArray marker, int timeoutMs, QByteArray &before, bool throwOnTimeout);
    bool waitUntil(const QByteArray &marker, int timeoutMs, bool throwOnTimeout);
    QByteArray waitResponseLine(const QByteArray &prefix, int timeoutMs, bool throwOnError);
    void waitChar(char c, int tries);
    bool getNetUtcTime(TimeCallback *cb);

    static int gsmLocToInt(double degrees);
    static bool parseGRMC(const QString &sentence, int *lon, int *lat, qint64 *utcMs);

    // A consistent copy of the state record, for the modem thread's readers.
    GsmState getState() const;
    qint8 getSocketId() const { return socketId; }

    // Seams: a port other than the serial one (taken over), and the clock of
    // every pause and elapsed count (not owned; the program's by default).
    void attachPort(std::unique_ptr<CommPort> port);
    void setClock(GsmClock *clock);

    // readLine modes.
    static constexpr int kUpperCase = 0x2;
    static constexpr int kPrintableOnly = 0x4;
    // The longest line, and the longest text readUntil collects, that a wait keeps.
    static constexpr int kMaxCollectBytes = 4096;

protected:
    // State record changes, under the lock that getState() takes.
    quint32 flags() const;
    void setFlags(quint32 bits);
    void clearFlags(quint32 bits);
    void setCsq(int csq);
    void setCell(const QByteArray &lac, const QByteArray &cellId);

    bool waitCharOrCancel(char c, int tries);
    void pause(int ms);

    // Steps that several families share (the text SMS in gsmmodule.cpp, the
    // others in gsmmodule_family.cpp).
    // The text SMS up to its body sent; false when the number cannot stand
    // in quotes or the prompt does not come. The answer is the caller's.
    bool sendTextSmsBody(const QByteArray &number, const QByteArray &text);
    // Fails with 769 unless the APN, user and password can stand in quotes.
    static void requireQuotableApn(const QByteArray &apn, const QByteArray &user, const QByteArray &password);
    // Switches the GPS off with the family's command; its flags go either way.
    bool switchGpsOff(const QByteArray &command, int timeoutMs);
    // Asks for the RMC sentence, which follows `head` in the `prefix` answer;
    // empty, after the rest of the answer, when none came.
    QString readRmcSentence(const QByteArray &command, const QByteArray &prefix, const QByteArray &head,
                            int answerMs);
    // The position and time of an RMC sentence with a fix; the time goes to
    // cb as a GPS time. False, outputs untouched, without one.
    bool takeRmcFix(const QString &sentence, int *lon, int *lat, qint64 *utcMs, TimeCallback *cb);
    // Data sent after the '>' prompt, then the wait for doneMarker; false
    // when either does not come.
    bool sendAfterPrompt(const QByteArray &command, const QByteArray &data, int promptTries,
                         const QByteArray &doneMarker, int doneMs);
    // Ends a network clock reading: the rest of the answer is read, and a
    // time after 2020 is given (and reported to cb); 0 otherwise.
    qint64 finishNetTime(qint64 utcMs, TimeCallback *cb);
    // The monotonic tick of the module's clock, for budgets that count the
    // time an exchange really took.
    qint64 tickMs() const;
    [[noreturn]] static void fail(int code, const char *message);

    qint8 socketId = -1;
    std::atomic<bool> exitRequested{false};
    bool inOnlineMode = false;
    qint64 locCacheUntil = 0;
    int locLon = 0;
    int locLat = 0;

private:
    enum class Read { Done, TimedOut, Exit };
    Read nextLine(int timeoutMs, int mode, QByteArray &line);
    Read nextLineForWait(int timeoutMs, QByteArray &line);
    bool portFailed() const;
    void dropPort();

    std::unique_ptr<QSerialPort> serial;
    std::unique_ptr<CommPort> port;
    GsmClock *clock = nullptr;
    mutable QMutex stateMutex;
    GsmState state;
};
