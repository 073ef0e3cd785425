#pragma once

#include "peerline.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

// The PC program at the far end of the clock's club line in comm mode: the
// master of the slave commands 0xC0 to 0xC6, written from the frame tables
// and the digest rules alone. It encodes its own requests, parses the clock's
// response frames (up to 254 data bytes), computes its own MD5 digests and
// tags, and derives the session key from its challenge, the clock's random
// and digest, the system id and the password it believes in force. JSON
// requests are literal texts; replies are kept as exact text and parsed.
// Used by one thread; the transport decides whether bytes cross a
// pseudo-terminal or go straight into a handler in memory.

// How the peer's bytes reach the clock.
class PcTransport
{
public:
    virtual ~PcTransport() = default;
    // Writes bytes to the clock; with baud > 0 each byte in its own slot at
    // that speed. False when not every byte went out.
    virtual bool send(const QByteArray &bytes, int baud) = 0;
    // What the clock sent, waiting up to timeoutMs for the first byte.
    virtual QByteArray receive(int timeoutMs) = 0;
    // Drops whatever the clock sent and nobody read.
    virtual void drain() = 0;
    // As send, after a silence of delayMs and with a pause of gapMs after
    // each byte: a late or trickled request. A transport without a line
    // (bytes served at once) has no time to spread them over.
    virtual bool sendTimed(const QByteArray &bytes, int baud, int delayMs, int gapMs)
    {
        Q_UNUSED(delayMs);
        Q_UNUSED(gapMs);
        return send(bytes, baud);
    }
};

// The transport of a real line: the master side of a pseudo-terminal whose
// slave the clock opens as its club port. The cable can be pulled (the
// master closes: the clock's end sees a hang-up) and plugged in again (a new
// pseudo-terminal behind the same link path, as a new USB adapter would be).
class PcLineTransport : public PcTransport
{
public:
    PcLineTransport();
    ~PcLineTransport() override;

    bool isValid() const { return line && line->isValid(); }
    QString slavePath() const { return line ? line->slavePath() : QString(); }
    bool linkAt(const QString &linkPath);
    // Only while plugged in.
    PeerLine &peerLine() { return *line; }

    void unplug();
    // A fresh line linked where the last one was; false when that failed.
    bool plugIn();
    bool pluggedIn() const { return line != nullptr; }
    // Waits up to timeoutMs until the clock has its end of the line open;
    // bytes written before that are lost, as on a real line.
    bool waitForClock(int timeoutMs);

    bool send(const QByteArray &bytes, int baud) override;
    QByteArray receive(int timeoutMs) override;
    void drain() override;
    bool sendTimed(const QByteArray &bytes, int baud, int delayMs, int gapMs) override;

private:
    std::unique_ptr<PeerLine> line;
    QString linkedAt;
    QByteArray pending; // came while a late request waited to go out
};

class PcPeer
{
public:
    static constexpr quint8 kAddress = 0x55;
    static constexpr quint8 kRequestStart = 0x6C;
    static constexpr quint8 kResponseStart = 0x33;
    static constexpr int kLineBaud = 9600;

    // One response frame as it came off the line.
    struct Answer
    {
        bool received = false; // a whole frame came in time
        bool sumOk = false;
        quint8 address = 0;
        quint8 command = 0;
        quint8 status = 0;
        QByteArray data;
        QByteArray raw;        // every byte read for this answer
    };

    // The reply to one JSON call.
    struct JsonReply
    {
        Answer answer;
        QByteArray text;       // the JSON text, tag removed
        bool tagOk = false;    // tag = MD5(text, session key) bytes 0..3
        QVariantMap object;    // the parsed reply object
        bool parsed = false;
        bool ok() const { return answer.received && answer.sumOk && answer.status == 0 && tagOk && parsed; }
        QVariant result() const { return object.value(QStringLiteral("result")); }
        int error() const { return object.value(QStringLiteral("error")).toInt(); }
    };

    // A request spoiled on its way, as a bad line or a faulty PC program
    // sends it. The frame is built right and then damaged.
    struct Fault
    {
        enum class Kind {
            None,
            StopMidFrame,     // the first half only, then silence
            LengthClaimsMore, // the length byte counts bytes that never come
            LengthClaimsLess, // the length byte counts fewer bytes than sent
            Garbled,          // every third byte after the start inverted
            BadSum,           // the check byte off by one
            NoiseBefore,      // line noise (no start byte in it) ahead of the frame
        };
        Kind kind = Kind::None;
        int delayMs = 0; // late: silence before the first byte
        int gapMs = 0;   // trickled: a pause after each byte
    };

    explicit PcPeer(PcTransport *transport);

    // Line behaviour.
    void setPacing(int baud) { pacingBaud = baud; }   // 0: bytes at once
    void setAnswerTimeoutMs(int ms) { answerTimeoutMs = ms; }
    void setSilenceMs(int ms) { silenceMs = ms; }

    // What the PC believes of the clock, for the authentication digest.
    void setSystemId(const QString &hex) { believedSystemId = hex; }
    void setPassword(const QString &password) { believedPassword = password; }

    // Frames.
    // The low 8 bits of the sum of the bytes: the check byte of a frame.
    static quint8 sum(const QByteArray &bytes);
    static QByteArray requestFrame(quint8 address, quint8 command, const QByteArray &data);
    Answer exchange(quint8 command, const QByteArray &data, quint8 address = kAddress);
    // Sends bytes as they are and reads one answer.
    Answer exchangeRaw(const QByteArray &bytes);
    // Sends bytes as they are and returns what came back within the silence time.
    QByteArray sendExpectingSilence(const QByteArray &bytes);
    // The frame damaged as the fault says.
    static QByteArray spoil(const QByteArray &frame, Fault::Kind kind);
    // One request sent with the fault (spoilt, late, trickled) and one answer read.
    Answer exchangeFaulty(quint8 command, const QByteArray &data, const Fault &fault);
    JsonReply callFaulty(const QByteArray &jsonText, const Fault &fault);

    // Slave commands.
    Answer authenticate(const QByteArray &challenge);
    bool digestMatched() const { return lastDigestMatched; }
    Answer deviceInfo();
    QByteArray learnedSystemId() const { return systemIdBytes; }
    // A PC that tags an initialisation with an id it did not ask for in this stay.
    void setLearnedSystemId(const QByteArray &id) { systemIdBytes = id; }
    QString learnedLoftNum() const { return loftNum; }
    // The body "loft,password" with its tag (over the body, challenge, random,
    // the system id learnt by deviceInfo in this stay, and the fixed key).
    QByteArray initTag(const QByteArray &body) const;
    JsonReply initialise(const QByteArray &body);
    JsonReply initialise(const QString &loft, const QString &password);
    QByteArray showTip(const QByteArray &text);
    Answer firmware();
    Answer moduleMode(const QByteArray &data);

    // The JSON service: the text as written, tagged with the session key.
    QByteArray jsonTag(const QByteArray &text) const;
    JsonReply call(const QByteArray &jsonText);
    JsonReply callTagged(const QByteArray &jsonText, const QByteArray &tag);
    JsonReply readJson(const Answer &answer) const;

    // The session as the PC holds it. A new stay of the clock in comm mode
    // starts without a key; forgetSession() does the same on this side.
    QByteArray sessionKey() const { return key; }
    void setSessionKey(const QByteArray &sessionKey) { key = sessionKey; }
    void forgetSession();

private:
    Answer readAnswer();

    PcTransport *transport;
    int pacingBaud = 0;
    int answerTimeoutMs = 2000;
    int silenceMs = 300;
    QString believedSystemId = QStringLiteral("00000000");
    QString believedPassword;
    QByteArray challenge;
    QByteArray clockRandom;
    QByteArray key;
    QByteArray systemIdBytes;
    QString loftNum;
    bool lastDigestMatched = false;
};
