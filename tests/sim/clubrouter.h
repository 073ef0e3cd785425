#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <mutex>

// The club router as the clock meets it at 9600 baud, written from the
// router command table alone: a parameter block carrying the router id, an
// authorisation code and key, a reader at which a ring can be presented, a
// running clock, and two printers. It turns one decoded request into the
// status and data of its answer; the peer that hosts it owns the line and
// spoils answers on demand. Its state and records may be used from any thread.
class ClubRouter
{
public:
    enum Command : quint8 {
        Print = 0x50,
        GetTime = 0x52,
        Authorise = 0x5F,
        Initialise = 0xA0,
        SetDigout = 0xAF,
        ReadTransponder = 0xB7,
        WriteTransponder = 0xB8,
        SetRandom = 0xBA,
        ReadParameters = 0xBD,
        SetTime = 0xC2,
    };

    static constexpr quint8 kRouterAddress = 0x00;
    static constexpr quint8 kClockAddress = 0x56;
    static constexpr quint8 kPrinter = 0x54;
    static constexpr quint8 kSecondPrinter = 0x22;

    // Refusals the router gives on its own.
    static constexpr quint8 kNoRing = 0x10;       // read or set random with no ring presented
    static constexpr quint8 kBadTime = 0x11;      // set time with fields that form no time
    static constexpr quint8 kNoSuchPrinter = 0x12; // print to an address with no printer

    // A form feed in the printed text shows as this line.
    static const QString kPageBreak;

    struct Reply
    {
        quint8 status = 0;
        QByteArray data;
    };

    struct Printed
    {
        quint8 address = 0;
        QByteArray bytes;
    };

    ClubRouter();

    // The whole parameter block; bytes 4..7 are the router id.
    QByteArray parameters() const;
    // The router's own block as it answers it (up to what one answer frame
    // holds); bytes 4..7 are its id.
    void setParameters(const QByteArray &block);
    void setRouterId(const QByteArray &id);
    void setAuthorisation(quint8 code, const QByteArray &key);

    // The ring lying at the router's reader: a 4-byte number and its random number.
    void presentRing(const QByteArray &number, quint8 rand);
    void takeRingAway();
    bool ring(QByteArray *number, quint8 *rand) const;
    // The random number the next set random gives (by default the old one plus 1).
    void setNextRandom(quint8 rand);

    // The router's clock in UTC ms; it runs on from the value set.
    void setClock(qint64 utcMs);
    qint64 clock() const;
    // The answer's one-hour flag: the time text then shows the clock one
    // hour ahead, as a router on summer time does.
    void setOneHourFlag(bool on);
    void setTimeStatus(quint8 status);

    // A printer (0x54 or 0x22) that answers this status; 0 accepts again.
    void setPrinterRefusal(quint8 address, quint8 status);

    // Records, in order of arrival.
    QList<Printed> printed() const;
    QByteArray printedBytes() const;
    // The printed bytes as a person would read the paper: CR LF (or LF) ends
    // a line, a lone CR is dropped, a form feed ends the page (kPageBreak).
    QStringList printedLines() const;
    QList<QByteArray> writtenBlocks() const;
    QList<quint8> digitalOutputs() const;
    void clearRecords();

    // The answer to one request; a refusal changes nothing.
    Reply answer(quint8 address, quint8 command, const QByteArray &data);

    // The get-time text of a UTC time: hhmmss, a space, DDMMYY (13 bytes).
    static QByteArray timeText(qint64 utcMs);

private:
    Reply ringAnswer(const QByteArray &request, bool newRandom);
    Reply getTime();
    Reply setTime(const QByteArray &data);
    Reply print(quint8 address, const QByteArray &data);
    qint64 clockLocked() const;

    mutable std::mutex mutex; // guards everything below
    QByteArray params;
    quint8 authCode = 0x01;
    QByteArray authKey;
    bool hasRing = false;
    QByteArray ringNumber;
    quint8 ringRand = 0;
    int nextRandom = -1;
    qint64 clockBaseMs = 0;
    std::chrono::steady_clock::time_point clockSetAt;
    bool oneHourFlag = false;
    quint8 timeStatus = 0;
    quint8 refusalAt54 = 0;
    quint8 refusalAt22 = 0;
    QList<Printed> printRecords;
    QList<QByteArray> blocks;
    QList<quint8> outputs;
};
